#pragma once

// A table file: which bytes of a game stand for which text. Lines `HEX=text`,
// end tokens `/HEX` and `/HEX=text`, line breaks `*HEX`, control codes
// `$HEX=label,N`; UTF-8, with or without a byte order mark, LF or CR LF.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "search/byte_set.hpp"

namespace glyphound {

// Text as a table reads it: characters, a line break as '\n', and each byte
// that reads as no character as kRawByte plus its value, written "<$hh>".
using Text = std::u32string;
constexpr char32_t kRawByte = 0x110000;
constexpr char32_t kLineBreak = U'\n';
inline bool isRawByte(char32_t character) { return character >= kRawByte; }

struct TableEntry {
    enum class Kind { Text, End, Control };
    std::string key;  // the bytes, in file order
    Kind kind = Kind::Text;
    Text text;  // what the bytes read as; a control code's label
    std::size_t parameters = 0;  // bytes after a control code, read raw
    int line = 0;
    std::size_t span() const { return key.size() + parameters; }
};

class Table {
public:
    static constexpr std::size_t kMaxKey = 8;
    static constexpr std::size_t kMaxParameters = 255;
    static constexpr std::size_t kMaxFile = 1 << 20;

    // Empty, with `failure` naming the file and line, when `bytes` is no table.
    static std::optional<Table> parse(std::string_view bytes, const std::string& name, std::string& failure);

    // In the order the file lists them, each key once.
    const std::vector<TableEntry>& entries() const { return entries_; }
    // The entry with the longest key at `bytes` that fits, parameters and
    // all, in the `available` bytes there; null when none does.
    const TableEntry* longestAt(const std::uint8_t* bytes, std::size_t available) const;
    // The entry with exactly this key; null when none has it.
    const TableEntry* withKey(std::string_view key) const;
    // Whether `bytes` begin a key longer than themselves.
    bool beginsLongerKey(std::string_view bytes) const { return keyBeginnings_.count(std::string(bytes)) > 0; }
    // The entries whose text starts with `character`, by index, in the
    // file's order; those that read as nothing are under no character.
    const std::vector<std::uint32_t>& textStartingWith(char32_t character) const;
    const std::vector<std::uint32_t>& readingAsNothing() const { return readingAsNothing_; }
    // The most bytes one entry reads, parameters included.
    std::size_t longestSpan() const { return longestSpan_; }
    // Every byte that an entry's key or parameters may hold; any other byte
    // reads as raw wherever it stands.
    const ByteSet& bytesInEntries() const { return inEntries_; }
    std::vector<const TableEntry*> endTokens() const;

private:
    bool add(TableEntry entry, const std::string& where, std::string& failure);
    void index();

    // The entry at a place in longestAt: tried one by one, longest key
    // first, where few keys share a first byte; looked up by key, for each
    // length that keys with that first byte have, where many do.
    const TableEntry* longestByLength(const std::uint8_t* bytes, std::size_t available) const;

    std::vector<TableEntry> entries_;
    std::unordered_map<std::string, std::uint32_t> byKey_;
    std::unordered_set<std::string> keyBeginnings_;  // every key's proper prefixes
    std::unordered_map<char32_t, std::vector<std::uint32_t>> byFirstCharacter_;
    std::vector<std::uint32_t> readingAsNothing_;
    std::array<std::vector<std::uint32_t>, 256> byFirstByte_;  // entries by index, longest key first
    std::array<std::vector<std::uint8_t>, 256> keyLengths_;    // of the keys by first byte, longest first
    // Where a byte is the whole key of the only entry that starts with it,
    // that entry's index, else 0: most tables are mostly such, and dumps
    // read them by the million. An index, as a table is copied.
    std::array<std::uint32_t, 256> alonePlusOne_{};
    std::size_t longestSpan_ = 0;
    ByteSet inEntries_;
};

// What `entry` reads as where it stands at `bytes`: its text, then its
// parameters raw.
void appendReading(const TableEntry& entry, const std::uint8_t* bytes, Text& text);

// The text forms: `\n` for a line break, `\\` for a backslash (`\/` reads as
// a slash, for a script's text that starts as a comment does), `<$hh>` for a
// raw byte; `escaped` writes them, `unescaped` reads them back (empty, with
// `failure` set, for what is not UTF-8).
std::string escaped(const Text& text);
void appendEscaped(std::string& out, const Text& text);
std::optional<Text> unescaped(std::string_view text, std::string& failure);
// UTF-8 with real line breaks and raw bytes as `<$hh>`, as JSON carries it.
std::string plain(const Text& text);

}  // namespace glyphound
