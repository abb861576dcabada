#include "engine/script.hpp"

#include <algorithm>

#include "dialogue/texts.hpp"
#include "engine/encoder.hpp"
#include "engine/refusal.hpp"
#include "engine/table_search.hpp"
#include "engine/values.hpp"
#include "io/lines.hpp"
#include "io/sliding_window.hpp"

namespace glyphound {
namespace {

namespace text = texts::script;

// An offset in hexadecimal after 0x, or in decimal.
std::optional<std::uint64_t> offsetIn(std::string_view given) {
    const bool hex = given.substr(0, 2) == "0x" || given.substr(0, 2) == "0X";
    const std::string digits(hex ? given.substr(2) : given);
    if (digits.empty() || digits.size() > 15 ||
        digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos)
        return std::nullopt;
    return std::stoull(digits, nullptr, hex ? 16 : 10);
}

// "@0x1234 56": the offset in hexadecimal or decimal, then the room.
bool parseHeader(std::string_view line, ScriptString& string) {
    const std::size_t space = line.find(' ');
    if (line.size() < 4 || line.front() != '@' || space == std::string_view::npos) return false;
    const std::string_view room = line.substr(space + 1);
    const auto offset = offsetIn(line.substr(1, space - 1));
    if (!offset || room.empty() || room.size() > 15 || room.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    string.offset = *offset;
    string.room = std::stoull(std::string(room));
    return *string.room > 0 && *string.room <= kMaxStringBytes;
}

std::vector<std::string_view> wordsOf(std::string_view line) {
    std::vector<std::string_view> words;
    for (std::size_t at = 0; at < line.size();) {
        const std::size_t end = std::min(line.find(' ', at), line.size());
        if (end > at) words.push_back(line.substr(at, end - at));
        at = end + 1;
    }
    return words;
}

// "#pointers MAP BITS ENDIAN [split]": how the script's pointers are read.
std::optional<ScriptPointers> pointersOf(std::string_view line) {
    const std::vector<std::string_view> words = wordsOf(line);
    if (words.size() < 4 || words.size() > 5 || words[0] != kPointersDirective || (words.size() == 5 && words[4] != "split"))
        return std::nullopt;
    ScriptPointers pointers{std::string(words[1]), {}};
    try {
        pointers.format = pointerFormatOf(std::string(words[2]), std::string(words[3]), std::nullopt);
    } catch (const Refusal&) {
        return std::nullopt;
    }
    if (words.size() == 5) pointers.format.split = PointerFormat::Split{};
    return pointers;
}

// "#ptr 0x1234 0x1300:0x1400": where each pointer to the string is stored.
bool parsePlaces(std::string_view line, ScriptString& string) {
    const std::vector<std::string_view> words = wordsOf(line);
    if (words.size() < 2 || words[0] != kPlacesDirective) return false;
    for (std::size_t k = 1; k < words.size(); ++k) {
        std::vector<std::uint64_t> offsets;
        for (std::string_view rest = words[k]; !rest.empty();) {
            const std::size_t colon = std::min(rest.find(':'), rest.size());
            const auto offset = offsetIn(rest.substr(0, colon));
            if (!offset || offsets.size() == 3) return false;
            offsets.push_back(*offset);
            rest.remove_prefix(std::min(colon + 1, rest.size()));
        }
        if (offsets.empty()) return false;
        PointerPlace place{offsets[0], std::nullopt, std::nullopt};
        if (offsets.size() > 1) place.high = offsets[1];
        if (offsets.size() > 2) place.bank = offsets[2];
        string.pointers.push_back(place);
    }
    return true;
}

// The end token that ends `bytes` as the table reads them, or null.
const TableEntry* endingOf(const Table& table, const std::string& bytes) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const TableEntry* last = nullptr;
    for (std::size_t at = 0; at < bytes.size(); at += last ? last->span() : 1)
        last = table.longestAt(data + at, bytes.size() - at);
    return last && last->kind == TableEntry::Kind::End ? last : nullptr;
}

std::string byteCount(std::uint64_t count) { return std::to_string(count) + (count == 1 ? text::kByte : text::kBytes); }

std::string overflow(std::uint64_t room, std::uint64_t over) {
    return text::kOverflow + byteCount(room) + text::kOverflowBy + byteCount(over);
}

}  // namespace

Placement placeInRoom(const Table& table, const Insertion& insertion, const ScriptInsertion::Prepared& prepared,
                      const std::uint8_t* room, std::size_t size) {
    // A string left as it was keeps its bytes, however else they could be
    // spelt.
    if (prepared.string.text == readAll(table, room, size))
        return {Placement::Kind::Kept, std::string(reinterpret_cast<const char*>(room), size), ""};
    if (!prepared.encoded) return {Placement::Kind::Failed, "", ": " + prepared.encodingFailure};
    const auto [length, roomEnd] = stringAt(table, room, size);
    const bool terminated = length == size && roomEnd;
    const TableEntry* end = terminated ? roomEnd : insertion.endToken;
    std::string bytes = *prepared.encoded;
    // A string that had its end token keeps one, and padding starts with one.
    if (end && !endingOf(table, bytes) && (terminated || bytes.size() < size)) bytes += end->key;
    if (bytes.size() > size) return {Placement::Kind::TooLong, bytes, overflow(size, bytes.size() - size)};
    if (bytes.size() < size && !insertion.fill && !end) return {Placement::Kind::Failed, "", text::kNoFill};
    const std::uint8_t fill = insertion.fill ? *insertion.fill : static_cast<std::uint8_t>(end ? end->key[0] : 0);
    bytes.resize(size, static_cast<char>(fill));
    return {Placement::Kind::InPlace, bytes, ""};
}

namespace {

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
        const Placement placement = placeInRoom(table_, insertion_, prepared, window_.position(), room);
        if (placement.kind == Placement::Kind::Kept || placement.kind == Placement::Kind::InPlace)
            write(reinterpret_cast<const std::uint8_t*>(placement.bytes.data()), room);
        else
            problem(index, placement.problem);
        window_.advance(room);
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

std::string scriptHead(const ScriptPointers& pointers) {
    return std::string(kPointersDirective) + " " + pointers.map + " " + std::to_string(pointers.format.bits) +
           (pointers.format.bigEndian ? " be" : " le") + (pointers.format.split ? " split" : "") + "\n";
}

std::string scriptLines(const TableString& string, const std::vector<PointerPlace>& pointers) {
    return scriptLines(string.offset, string.length, string.text, string.text, pointers);
}

std::string scriptLines(std::uint64_t offset, std::uint64_t room, const Text& was, const Text& text,
                        const std::vector<PointerPlace>& pointers) {
    // A text line that starts as a comment does would be taken for one.
    const auto line = [](const Text& characters) {
        std::string written = escaped(characters);
        if (isComment(written)) written.replace(0, 1, "\\/");
        return written;
    };
    std::string places;
    for (const PointerPlace& place : pointers) places += std::string(" ") + place.text();
    return "@" + offsetText(offset) + " " + std::to_string(room) + "\n" +
           (places.empty() ? "" : kPlacesDirective + places + "\n") + "// " + line(was) + "\n" + line(text) + "\n";
}

std::optional<Script> parseScript(std::string_view bytes, const std::string& name, std::string& failure) {
    Script script;
    const std::vector<std::string_view> lines = linesOf(bytes);
    for (std::size_t number = 0; number < lines.size();) {
        const std::string_view line = withoutTrailingBlanks(lines[number++]);
        const std::string where = name + ":" + std::to_string(number);
        if (line.empty() || isComment(line)) continue;
        if (line.front() == '#') {
            if (!script.strings.empty() || script.pointers || !(script.pointers = pointersOf(line)))
                return failure = where + text::kDirective, std::nullopt;
            continue;
        }
        script.strings.emplace_back();
        ScriptString& string = script.strings.back();
        if (!parseHeader(line, string)) return failure = where + text::kBadHeader, std::nullopt;
        for (; number < lines.size() && lines[number].substr(0, 1) == "#"; ++number)
            if (!script.pointers || !parsePlaces(withoutTrailingBlanks(lines[number]), string))
                return failure = name + ":" + std::to_string(number + 1) + text::kBadPlaces, std::nullopt;
        while (number < lines.size() && isComment(lines[number])) ++number;
        if (number == lines.size()) return failure = name + text::kNoText, std::nullopt;
        string.where = name + ":" + std::to_string(number + 1) + ": " + offsetText(string.offset);
        std::string joined(lines[number++]);
        while (goesOn(joined) && number < lines.size()) joined += lines[number++];
        const auto characters = unescaped(joined, failure);
        if (!characters) return failure = string.where + ": " + failure, std::nullopt;
        string.text = *characters;
    }
    return script;
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
