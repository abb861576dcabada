#pragma once

// A script: the strings of a file as `dump --script` writes them, for a
// translator to edit and `insert --script` to put back. Each string is a line
// `@0xOFFSET ROOM` (ROOM: its bytes, an end token included), then its text
// on the next line in the escaped form.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/dump.hpp"
#include "engine/table.hpp"
#include "io/streams.hpp"

namespace glyphound {

std::string scriptLines(const TableString& string);

struct ScriptString {
    std::uint64_t offset = 0;
    std::optional<std::uint64_t> room;  // none: the string that stands at the offset
    Text text;
    std::string where;  // "NAME:LINE" of its text, for messages
};

// Empty, with `failure` naming the line, when the text is no script.
std::optional<std::vector<ScriptString>> parseScript(std::string_view bytes, const std::string& name,
                                                     std::string& failure);

struct Insertion {
    // The table's end token that pads a string and ends one that had an end
    // token; null for none. The bytes of the rest of the room.
    const TableEntry* endToken = nullptr;
    std::optional<std::uint8_t> fill;
};

// Copies `in` to `out` with each string's encoded text in its room, padded,
// checking every string first: nothing is written while anything is wrong.
// Returns what is wrong, each in one line; `readFailed` after a read error.
std::vector<std::string> insertStrings(ByteSource& in, OutputStream& out, const Table& table,
                                       const std::vector<ScriptString>& strings, const Insertion& insertion,
                                       bool& readFailed);

}  // namespace glyphound
