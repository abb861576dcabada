#pragma once

// A script: the strings of a file as `dump --script` writes them, for a
// translator to edit and `insert --script` to put back. Each string is a line
// `@0xOFFSET ROOM` (ROOM: its bytes, an end token included), a comment line
// `// ` with its text as it was, then its text on the next line in the
// escaped form, which may go on over further lines that end in `\n`.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/dump.hpp"
#include "engine/pointed_strings.hpp"
#include "engine/table.hpp"
#include "io/streams.hpp"

namespace glyphound {

// A script of strings that pointers lead to starts with a line
// `#pointers MAP BITS ENDIAN [split]`, and names after each `@` line where
// every pointer to the string is stored: `#ptr 0xOFFSET...`, each a split
// table's `0xLOW:0xHIGH[:0xBANK]`.
constexpr const char* kPointersDirective = "#pointers";
constexpr const char* kPlacesDirective = "#ptr";

struct ScriptPointers {
    std::string map;  // as --map takes it
    PointerFormat format;  // its split, if any, without the arrays: each place names them
};
std::string scriptHead(const ScriptPointers& pointers);
std::string scriptLines(const TableString& string, const std::vector<PointerPlace>& pointers = {});
// A string whose text was `was` and is now `text`, as a translator's edit
// leaves it.
std::string scriptLines(std::uint64_t offset, std::uint64_t room, const Text& was, const Text& text,
                        const std::vector<PointerPlace>& pointers = {});

struct ScriptString {
    std::uint64_t offset = 0;
    std::optional<std::uint64_t> room;  // none: the string that stands at the offset
    Text text;
    std::string where;  // "NAME:LINE: 0xOFFSET" of its text, for messages
    std::vector<PointerPlace> pointers;
};

struct Script {
    std::optional<ScriptPointers> pointers;
    std::vector<ScriptString> strings;
};

// Empty, with `failure` naming the line, when the text is no script.
std::optional<Script> parseScript(std::string_view bytes, const std::string& name, std::string& failure);

struct Insertion {
    // The table's end token that pads a string and ends one that had an end
    // token; null for none. The bytes of the rest of the room.
    const TableEntry* endToken = nullptr;
    std::optional<std::uint8_t> fill;
};

// Strings to put in a file, encoded once. A string whose text is what its
// room reads as keeps its bytes; any other is encoded, padded and checked
// against its room.
class ScriptInsertion {
public:
    ScriptInsertion(const Table& table, std::vector<ScriptString> strings, const Insertion& insertion);

    // What is wrong that the file's bytes can't change: an encoded text
    // longer than its room, rooms that overlap. Each in one line.
    std::vector<std::string> problemsBeforeReading() const;
    // Copies `in` to `out`, or only reads it when `out` is null, with each
    // string in its room. Returns every problem, each in one line, in the
    // script's order; `readFailed` after a read error. Nothing should be
    // kept of `out` when there are any.
    std::vector<std::string> run(ByteSource& in, OutputStream* out, bool& readFailed) const;

    struct Prepared {
        ScriptString string;
        std::optional<std::string> encoded;
        std::string encodingFailure;
    };

    const std::vector<Prepared>& strings() const { return strings_; }

private:
    const Table& table_;
    std::vector<Prepared> strings_;  // by offset
    const Insertion& insertion_;
};

// What goes in a string's room, from the room's bytes: the bytes as they
// were for a text left as it was, or its new text padded to the room; for a
// text too long, its bytes, its end token included, and the overflow; or why
// it can't be.
struct Placement {
    enum class Kind { Kept, InPlace, TooLong, Failed };
    Kind kind;
    std::string bytes;
    std::string problem;  // after where the string stands
};
Placement placeInRoom(const Table& table, const Insertion& insertion, const ScriptInsertion::Prepared& prepared,
                      const std::uint8_t* room, std::size_t size);

// Where the string that stands at `bytes` ends: after its end token, before
// a byte where no entry stands, or at `available`; whether an end token ends it.
std::pair<std::size_t, const TableEntry*> stringAt(const Table& table, const std::uint8_t* bytes, std::size_t available);

}  // namespace glyphound
