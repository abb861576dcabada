#pragma once

// Words found through a table: every offset where a sequence of its entries
// spells the word exactly, whichever entries do it.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/table.hpp"
#include "platform/system.hpp"

namespace glyphound {

struct TableHit {
    std::uint64_t offset = 0;
    std::size_t word = 0;  // index into the words searched for
    std::uint64_t length = 0;  // bytes of the spelling found, longer keys first
    Text before, match, after;  // what the table reads there, up to kTableContext bytes on each side
};
using TableHitHandler = std::function<void(const TableHit&)>;

constexpr std::size_t kTableContext = 16;

// Entries that read as text spell a word; one that reads as nothing, an end
// token and a control code spell nothing. A raw byte in a word stands for
// itself. Reads `source` once; hits come in offset order, then word order.
// False after a read error.
bool findTableWords(ByteSource& source, const Table& table, const std::vector<Text>& words,
                    const TableHitHandler& onHit, VectorWidth width = VectorWidth::Best);

// The bytes that spell `word` at `bytes`, of which `available` follow; 0 when
// none do.
std::size_t spellingAt(const Table& table, const Text& word, const std::uint8_t* bytes, std::size_t available);

// What the table reads in `bytes`, entry by entry from the first byte.
Text readAll(const Table& table, const std::uint8_t* bytes, std::size_t size);

}  // namespace glyphound
