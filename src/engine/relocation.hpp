#pragma once

// Putting a script back where its strings may move: a string that grew goes
// to free space that its pointers reach, and its pointers are rewritten.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/address_map.hpp"
#include "engine/script.hpp"

namespace glyphound {

struct FreeRange {
    std::uint64_t start = 0, end = 0;  // end just past the last free byte
};

struct Relocation {
    AddressMap map;
    PointerFormat format;
    std::vector<FreeRange> free;
    std::uint8_t freeFill = 0xFF;  // what free space holds, checked before it is used
};

// "START-END", in hexadecimal after 0x or in decimal; throws Refusal.
FreeRange freeRangeOf(const std::string& given);

struct Relocated {
    std::vector<std::string> problems;  // each in one line; none: `file` holds the result
    std::vector<std::string> report;    // strings kept and moved, and the space used
};

// Puts the strings in `file`, in memory: each within its room where it fits,
// the others in the free space and the rooms that strings moving away leave,
// largest first, each at the first place where all its pointers reach it
// and it fits; strings whose new bytes are the same are stored once. All or
// nothing: `file` is left as it was when anything is wrong.
Relocated relocate(std::string& file, const ScriptInsertion& strings, const Table& table, const Insertion& insertion,
                   const Relocation& relocation);

}  // namespace glyphound
