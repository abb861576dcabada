#pragma once

// Words found through a table: wherever the text that the table reads in the
// whole file, as a dump of it from the first byte to the last reads it,
// holds the word within one string.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/dump.hpp"
#include "engine/table.hpp"
#include "platform/system.hpp"

namespace glyphound {

struct TableHit {
    std::uint64_t offset = 0;  // of the entry that the word's first character is read from
    std::size_t word = 0;      // index into the words searched for
    std::uint64_t length = 0;  // up to the end of the entry that its last character is read from
    Text before, match, after;  // what the table reads there, up to kTableContext bytes on each side
};
using TableHitHandler = std::function<void(const TableHit&)>;

constexpr std::size_t kTableContext = 16;

// Reads `source` once, each entry where the longest key stands, a byte where
// none does as raw, an end token ending its string. A word may start or end
// inside an entry's text, and holds raw bytes, end tokens' texts and control
// codes' labels and parameters as they read. Hits come in offset order, then
// word order, each (offset, word) once. False after a read error.
//
// Of a `part`, as `findStrings` reads one, the hits between the first bytes
// that no key holds at or after its start and its end; only where
// `readableInParts`, as no hit crosses such a byte there. `source` is
// positioned at the source's start.
bool findTableWords(ByteSource& source, const Table& table, const std::vector<Text>& words,
                    const TableHitHandler& onHit, VectorWidth width = VectorWidth::Best, const Part& part = {});
// Whether no word holds a raw byte, and some byte holds no key.
bool readableInParts(const Table& table, const std::vector<Text>& words);

// What the table reads in `bytes`, entry by entry from the first byte.
Text readAll(const Table& table, const std::uint8_t* bytes, std::size_t size);

}  // namespace glyphound
