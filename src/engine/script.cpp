#include "engine/script.hpp"

#include <algorithm>

#include "dialogue/texts.hpp"
#include "engine/encoder.hpp"
#include "engine/values.hpp"
#include "io/lines.hpp"
#include "io/sliding_window.hpp"

namespace glyphound {
namespace {

namespace text = texts::script;

// "@0x1234 56": the offset in hexadecimal or decimal, then the room.
bool parseHeader(std::string_view line, ScriptString& string) {
    const std::size_t space = line.find(' ');
    if (line.size() < 4 || line.front() != '@' || space == std::string_view::npos) return false;
    const std::string offset(line.substr(1, space - 1)), room(line.substr(space + 1));
    const bool hex = offset.compare(0, 2, "0x") == 0 || offset.compare(0, 2, "0X") == 0;
    const std::string digits = hex ? offset.substr(2) : offset;
    if (digits.empty() || digits.size() > 15 || room.empty() || room.size() > 15 ||
        digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos ||
        room.find_first_not_of("0123456789") != std::string::npos)
        return false;
    string.offset = std::stoull(digits, nullptr, hex ? 16 : 10);
    string.room = std::stoull(room);
    return *string.room > 0 && *string.room <= kMaxStringBytes;
}

// Where the string that stands at `bytes` ends: after its end token, before
// a byte where no entry stands, or at `available`; whether an end token ends it.
std::pair<std::size_t, const TableEntry*> stringAt(const Table& table, const std::uint8_t* bytes, std::size_t available) {
    std::size_t length = 0;
    while (length < available) {
        const TableEntry* entry = table.longestAt(bytes + length, available - length);
        if (!entry) break;
        length += entry->span();
        if (entry->kind == TableEntry::Kind::End) return {length, entry};
    }
    return {length, nullptr};
}

// The end token that ends `bytes` as the table reads them, or null.
const TableEntry* endingOf(const Table& table, const std::string& bytes) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const TableEntry* last = nullptr;
    for (std::size_t at = 0; at < bytes.size(); at += last ? last->span() : 1)
        last = table.longestAt(data + at, bytes.size() - at);
    return last && last->kind == TableEntry::Kind::End ? last : nullptr;
}

class Inserter {
public:
    Inserter(ByteSource& in, OutputStream& out, const Table& table, const Insertion& insertion)
        : window_(in, 0, kMaxStringBytes + table.longestSpan()), out_(out), table_(table), insertion_(insertion) {}

    void run(std::vector<std::pair<ScriptString, std::string>>& strings) {
        std::sort(strings.begin(), strings.end(),
                  [](const auto& a, const auto& b) { return a.first.offset < b.first.offset; });
        std::size_t next = 0;
        while (window_.fill()) {
            // The room of the string before covers it.
            for (; next < strings.size() && strings[next].first.offset < window_.offset(); ++next)
                problems.push_back(strings[next].first.where + text::kOverlaps);
            if (next < strings.size() && window_.offset() == strings[next].first.offset) {
                const auto& [string, bytes] = strings[next++];
                put(string, bytes);
                continue;
            }
            const std::uint64_t until = next < strings.size() ? strings[next].first.offset : UINT64_MAX;
            const auto copy = static_cast<std::size_t>(std::min<std::uint64_t>(window_.ahead(), until - window_.offset()));
            out_.write(window_.position(), copy);
            window_.advance(copy);
        }
        for (; next < strings.size(); ++next) problems.push_back(strings[next].first.where + text::kPastTheEnd);
    }

    bool readFailed() const { return window_.failed(); }
    std::vector<std::string> problems;

private:
    // Writes the string in its room, and moves past the room.
    void put(const ScriptString& string, const std::string& encoded) {
        const auto [found, foundEnd] = stringAt(table_, window_.position(), window_.ahead());
        const std::size_t room = string.room ? static_cast<std::size_t>(*string.room) : found;
        if (room == 0 || room > window_.ahead()) {
            problems.push_back(string.where + (room == 0 ? text::kNoString : text::kRoomPastTheEnd));
            return;
        }
        const auto [length, roomEnd] = stringAt(table_, window_.position(), room);
        const bool terminated = length == room && roomEnd;
        const TableEntry* end = terminated ? roomEnd : insertion_.endToken;
        std::string bytes = encoded;
        // A string that had its end token keeps one, and padding starts with one.
        if (end && !endingOf(table_, bytes) && (terminated || bytes.size() < room)) bytes += end->key;
        if (bytes.size() > room) {
            const std::size_t over = bytes.size() - room;
            problems.push_back(string.where + text::kOverflow + std::to_string(room) + text::kOverflowBy +
                               std::to_string(over) + (over == 1 ? text::kByte : text::kBytes));
        } else if (bytes.size() < room && !insertion_.fill && !end) {
            problems.push_back(string.where + text::kNoFill);
        } else {
            const std::uint8_t fill = insertion_.fill ? *insertion_.fill : static_cast<std::uint8_t>(end ? end->key[0] : 0);
            bytes.resize(room, static_cast<char>(fill));
            out_.write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        }
        window_.advance(room);
    }

    SlidingWindow window_;
    OutputStream& out_;
    const Table& table_;
    const Insertion& insertion_;
};

}  // namespace

std::string scriptLines(const TableString& string) {
    return "@" + offsetText(string.offset) + " " + std::to_string(string.length) + "\n" + escaped(string.text) + "\n";
}

std::optional<std::vector<ScriptString>> parseScript(std::string_view bytes, const std::string& name,
                                                     std::string& failure) {
    std::vector<ScriptString> strings;
    bool header = true;
    int number = 0;
    for (const std::string_view line : linesOf(bytes)) {
        const std::string where = name + ":" + std::to_string(++number);
        if (header) {
            if (line.empty()) continue;
            strings.emplace_back();
            if (!parseHeader(line, strings.back())) return failure = where + text::kBadHeader, std::nullopt;
        } else {
            const auto characters = unescaped(line, failure);
            if (!characters) return failure = where + ": " + failure, std::nullopt;
            strings.back().text = *characters;
            strings.back().where = where;
        }
        header = !header;
    }
    if (!header) return failure = name + text::kNoText, std::nullopt;
    return strings;
}

std::vector<std::string> insertStrings(ByteSource& in, OutputStream& out, const Table& table,
                                       const std::vector<ScriptString>& strings, const Insertion& insertion,
                                       bool& readFailed) {
    Inserter inserter(in, out, table, insertion);
    std::vector<std::pair<ScriptString, std::string>> encoded;
    for (const ScriptString& string : strings) {
        std::string failure;
        if (auto bytes = encode(table, string.text, nullptr, failure))
            encoded.emplace_back(string, *bytes);
        else
            inserter.problems.push_back(string.where + ": " + failure);
    }
    if (inserter.problems.empty()) inserter.run(encoded);
    readFailed = inserter.readFailed();
    return inserter.problems;
}

}  // namespace glyphound
