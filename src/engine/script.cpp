#include "engine/script.hpp"

#include <algorithm>

#include "dialogue/texts.hpp"
#include "engine/encoder.hpp"
#include "engine/table_search.hpp"
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

std::string overflow(std::uint64_t room, std::uint64_t over) {
    return text::kOverflow + std::to_string(room) + text::kOverflowBy + std::to_string(over) +
           (over == 1 ? text::kByte : text::kBytes);
}

// One pass over the file: each string's room, and the bytes between them.
class Inserter {
public:
    using Prepared = ScriptInsertion::Prepared;

    Inserter(ByteSource& in, OutputStream* out, const Table& table, const Insertion& insertion,
             std::vector<std::string>& problems)
        : window_(in, 0, kMaxStringBytes + table.longestSpan()),
          out_(out),
          table_(table),
          insertion_(insertion),
          problems_(problems) {}

    void run(const std::vector<Prepared>& strings) {
        std::size_t next = 0;
        while (window_.fill()) {
            // The room of the string before covers it.
            for (; next < strings.size() && strings[next].string.offset < window_.offset(); ++next)
                problem(next, text::kOverlaps);
            if (next < strings.size() && window_.offset() == strings[next].string.offset) {
                put(next, strings[next]);
                ++next;
                continue;
            }
            const std::uint64_t until = next < strings.size() ? strings[next].string.offset : UINT64_MAX;
            const auto copy = static_cast<std::size_t>(std::min<std::uint64_t>(window_.ahead(), until - window_.offset()));
            write(window_.position(), copy);
            window_.advance(copy);
        }
        for (; next < strings.size(); ++next) problem(next, text::kPastTheEnd);
    }

    bool readFailed() const { return window_.failed(); }

private:
    void problem(std::size_t index, const std::string& what) {
        if (problems_[index].empty()) problems_[index] = what;
    }
    void write(const std::uint8_t* bytes, std::size_t size) {
        if (out_) out_->write(bytes, size);
    }

    // Writes the string in its room, and moves past the room.
    void put(std::size_t index, const Prepared& prepared) {
        const ScriptString& string = prepared.string;
        const auto [found, foundEnd] = stringAt(table_, window_.position(), window_.ahead());
        const std::size_t room = string.room ? static_cast<std::size_t>(*string.room) : found;
        if (room == 0 || room > window_.ahead()) {
            problem(index, room == 0 ? text::kNoString : text::kRoomPastTheEnd);
            return;
        }
        // A string left as it was keeps its bytes, however else they could
        // be spelt.
        if (string.text == readAll(table_, window_.position(), room)) {
            write(window_.position(), room);
            window_.advance(room);
            return;
        }
        if (!prepared.encoded) {
            problem(index, ": " + prepared.encodingFailure);
        } else {
            const auto [length, roomEnd] = stringAt(table_, window_.position(), room);
            const bool terminated = length == room && roomEnd;
            std::string bytes = padded(*prepared.encoded, room, terminated ? roomEnd : insertion_.endToken, terminated);
            if (bytes.size() > room)
                problem(index, overflow(room, bytes.size() - room));
            else if (bytes.size() < room && !insertion_.fill && !(terminated ? roomEnd : insertion_.endToken))
                problem(index, text::kNoFill);
            else
                write(reinterpret_cast<const std::uint8_t*>(bytes.data()), room);
        }
        window_.advance(room);
    }

    // A string that had its end token keeps one, and padding starts with one.
    std::string padded(std::string bytes, std::size_t room, const TableEntry* end, bool terminated) const {
        if (end && !endingOf(table_, bytes) && (terminated || bytes.size() < room)) bytes += end->key;
        if (bytes.size() >= room) return bytes;
        const std::uint8_t fill = insertion_.fill ? *insertion_.fill : static_cast<std::uint8_t>(end ? end->key[0] : 0);
        bytes.resize(room, static_cast<char>(fill));
        return bytes;
    }

    SlidingWindow window_;
    OutputStream* out_;
    const Table& table_;
    const Insertion& insertion_;
    std::vector<std::string>& problems_;
};

// Translators keep notes in a script, and the text as it was.
bool isComment(std::string_view line) { return line.substr(0, 2) == "//"; }

// An editor may leave spaces and tabs at a header's end.
std::string_view withoutTrailingBlanks(std::string_view line) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    return line;
}

// A text line goes on over the next when it ends in the escape `\n`, not
// in an escaped backslash followed by n.
bool goesOn(std::string_view line) {
    if (line.size() < 2 || line.substr(line.size() - 2) != "\\n") return false;
    std::size_t backslashes = 0;
    for (std::size_t at = line.size() - 1; at-- > 0 && line[at] == '\\';) ++backslashes;
    return backslashes % 2 == 1;
}

}  // namespace

std::string scriptLines(const TableString& string) {
    std::string text = escaped(string.text);
    // A text line that starts as a comment does would be taken for one.
    if (isComment(text)) text.replace(0, 1, "\\/");
    return "@" + offsetText(string.offset) + " " + std::to_string(string.length) + "\n// " + text + "\n" + text + "\n";
}

std::optional<std::vector<ScriptString>> parseScript(std::string_view bytes, const std::string& name,
                                                     std::string& failure) {
    std::vector<ScriptString> strings;
    const std::vector<std::string_view> lines = linesOf(bytes);
    for (std::size_t number = 0; number < lines.size();) {
        const std::string_view line = lines[number++];
        const std::string where = name + ":" + std::to_string(number);
        if (line.empty() || isComment(line)) continue;
        if (line.front() == '#') return failure = where + text::kDirective, std::nullopt;
        strings.emplace_back();
        ScriptString& string = strings.back();
        if (!parseHeader(withoutTrailingBlanks(line), string)) return failure = where + text::kBadHeader, std::nullopt;
        while (number < lines.size() && isComment(lines[number])) ++number;
        if (number == lines.size()) return failure = name + text::kNoText, std::nullopt;
        string.where = name + ":" + std::to_string(number + 1) + ": " + offsetText(string.offset);
        std::string joined(lines[number++]);
        while (goesOn(joined) && number < lines.size()) joined += lines[number++];
        const auto characters = unescaped(joined, failure);
        if (!characters) return failure = string.where + ": " + failure, std::nullopt;
        string.text = *characters;
    }
    return strings;
}

ScriptInsertion::ScriptInsertion(const Table& table, std::vector<ScriptString> strings, const Insertion& insertion)
    : table_(table), insertion_(insertion) {
    std::stable_sort(strings.begin(), strings.end(),
                     [](const ScriptString& a, const ScriptString& b) { return a.offset < b.offset; });
    for (ScriptString& string : strings) {
        Prepared prepared{std::move(string), std::nullopt, ""};
        prepared.encoded = encode(table, prepared.string.text, nullptr, prepared.encodingFailure);
        strings_.push_back(std::move(prepared));
    }
}

std::vector<std::string> ScriptInsertion::problemsBeforeReading() const {
    std::vector<std::string> problems;
    for (std::size_t index = 0; index < strings_.size(); ++index) {
        const Prepared& prepared = strings_[index];
        const std::optional<std::uint64_t>& room = prepared.string.room;
        // The shortest bytes of a text are no longer than bytes that read as
        // it: a text longer than its room encoded was edited.
        if (room && prepared.encoded && prepared.encoded->size() > *room)
            problems.push_back(prepared.string.where + overflow(*room, prepared.encoded->size() - *room));
        else if (room && index + 1 < strings_.size() && prepared.string.offset + *room > strings_[index + 1].string.offset)
            problems.push_back(strings_[index + 1].string.where + text::kOverlaps);
    }
    return problems;
}

std::vector<std::string> ScriptInsertion::run(ByteSource& in, OutputStream* out, bool& readFailed) const {
    std::vector<std::string> problems(strings_.size());
    Inserter inserter(in, out, table_, insertion_, problems);
    inserter.run(strings_);
    readFailed = inserter.readFailed();
    std::vector<std::string> said;
    for (std::size_t index = 0; index < strings_.size(); ++index)
        if (!problems[index].empty()) said.push_back(strings_[index].string.where + problems[index]);
    return said;
}

}  // namespace glyphound
