#include "engine/table.hpp"

#include <algorithm>
#include <map>

#include "dialogue/texts.hpp"
#include "engine/values.hpp"
#include "io/lines.hpp"
#include "search/alphabet.hpp"

namespace glyphound {
namespace {

namespace text = texts::table;

int hexValue(char digit) {
    if (digit >= '0' && digit <= '9') return digit - '0';
    if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
    if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
    return -1;
}

// Whole bytes in hexadecimal, at most kMaxKey of them.
std::optional<std::string> keyOf(std::string_view digits, std::string& failure) {
    if (digits.empty() || std::any_of(digits.begin(), digits.end(), [](char c) { return hexValue(c) < 0; }))
        return failure = text::kNotAnEntry, std::nullopt;
    if (digits.size() % 2 != 0) return failure = text::kOddKey, std::nullopt;
    if (digits.size() > 2 * Table::kMaxKey) return failure = text::kLongKey, std::nullopt;
    std::string key;
    for (std::size_t at = 0; at < digits.size(); at += 2)
        key += static_cast<char>(hexValue(digits[at]) << 4 | hexValue(digits[at + 1]));
    return key;
}

// An entry's text, where `\n` stands for a line break.
Text textOf(std::string_view utf8) {
    bool valid = true;
    Text characters = decodeUtf8(utf8, valid);
    for (std::size_t at = 0; (at = characters.find(U"\\n", at)) != Text::npos; ++at)
        characters.replace(at, 2, 1, kLineBreak);
    return characters;
}

std::optional<TableEntry> entryOf(std::string_view line, std::string& failure) {
    TableEntry entry;
    const char kind = line.front();
    if (kind == '/' || kind == '*' || kind == '$') line.remove_prefix(1);
    const std::size_t equals = line.find('=');
    if (kind != '/' && kind != '*' && equals == std::string_view::npos) return failure = text::kNotAnEntry, std::nullopt;
    const auto key = keyOf(line.substr(0, equals), failure);
    if (!key) return std::nullopt;
    entry.key = *key;
    const std::string_view rest = equals == std::string_view::npos ? "" : line.substr(equals + 1);
    if (kind == '*') {
        if (equals != std::string_view::npos) return failure = text::kNotAnEntry, std::nullopt;
        entry.text = Text(1, kLineBreak);
    } else if (kind == '$') {
        const std::size_t comma = rest.rfind(',');
        const std::string_view count = comma == std::string_view::npos ? "" : rest.substr(comma + 1);
        if (equals == std::string_view::npos || count.empty() || count.size() > 3 ||
            count.find_first_not_of("0123456789") != std::string_view::npos ||
            std::stoul(std::string(count)) > Table::kMaxParameters)
            return failure = text::kBadControl, std::nullopt;
        entry.kind = TableEntry::Kind::Control;
        entry.text = textOf(rest.substr(0, comma));
        entry.parameters = std::stoul(std::string(count));
    } else {
        entry.kind = kind == '/' ? TableEntry::Kind::End : TableEntry::Kind::Text;
        entry.text = textOf(rest);
    }
    return entry;
}

bool sameMeaning(const TableEntry& a, const TableEntry& b) {
    return a.kind == b.kind && a.text == b.text && a.parameters == b.parameters;
}

std::string quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

}  // namespace

std::optional<Table> Table::parse(std::string_view bytes, const std::string& name, std::string& failure) {
    if (bytes.size() > kMaxFile) return failure = name + text::kTooLarge, std::nullopt;
    bytes = withoutByteOrderMark(bytes);
    Table table;
    int number = 0;
    for (const std::string_view line : linesOf(bytes)) {
        ++number;
        const std::string where = name + ":" + std::to_string(number) + ": ";
        bool valid = true;
        decodeUtf8(line, valid);
        if (!valid) return failure = where + text::kNotUtf8, std::nullopt;
        if (line.empty() || line.front() == '#' || line.substr(0, 2) == "//") continue;
        std::string problem;
        std::optional<TableEntry> entry = entryOf(line, problem);
        if (!entry) return failure = where + problem + ": " + quoted(line), std::nullopt;
        entry->line = number;
        if (!table.add(std::move(*entry), where, failure)) return std::nullopt;
    }
    if (std::all_of(table.entries_.begin(), table.entries_.end(),
                    [](const TableEntry& e) { return e.kind == TableEntry::Kind::End; }))
        return failure = name + text::kNoEntries, std::nullopt;
    table.index();
    return table;
}

bool Table::add(TableEntry entry, const std::string& where, std::string& failure) {
    const auto [known, added] = byKey_.emplace(entry.key, static_cast<std::uint32_t>(entries_.size()));
    if (added) {
        entries_.push_back(std::move(entry));
        return true;
    }
    const TableEntry* same = &entries_[known->second];
    if (sameMeaning(*same, entry)) return true;
    std::string digits;
    for (unsigned char byte : entry.key) digits += hexDigits(byte);
    failure = where + text::kKeyTwice + digits + text::kKeyTwiceLine + std::to_string(same->line);
    return false;
}

void Table::index() {
    for (std::uint32_t index = 0; index < entries_.size(); ++index) {
        const TableEntry& entry = entries_[index];
        byFirstByte_[static_cast<std::uint8_t>(entry.key.front())].push_back(index);
        for (std::size_t length = 1; length < entry.key.size(); ++length) keyBeginnings_.insert(entry.key.substr(0, length));
        if (entry.text.empty())
            readingAsNothing_.push_back(index);
        else
            byFirstCharacter_[entry.text.front()].push_back(index);
        longestSpan_ = std::max(longestSpan_, entry.span());
        for (unsigned char byte : entry.key) inEntries_.add(byte);
        if (entry.parameters > 0) inEntries_.addAll();
    }
    for (auto& candidates : byFirstByte_)
        std::stable_sort(candidates.begin(), candidates.end(), [&](std::uint32_t a, std::uint32_t b) {
            return entries_[a].key.size() > entries_[b].key.size();
        });
    for (int byte = 0; byte < 256; ++byte) {
        const std::vector<std::uint32_t>& candidates = byFirstByte_[byte];
        if (candidates.size() == 1 && entries_[candidates.front()].span() == 1) alonePlusOne_[byte] = candidates.front() + 1;
        for (std::uint32_t index : candidates) {
            const auto length = static_cast<std::uint8_t>(entries_[index].key.size());
            if (keyLengths_[byte].empty() || keyLengths_[byte].back() != length) keyLengths_[byte].push_back(length);
        }
    }
}

namespace {

// Past this many keys with one first byte, a look-up by key beats trying each.
constexpr std::size_t kTriedOneByOne = 16;

}  // namespace

const TableEntry* Table::longestAt(const std::uint8_t* bytes, std::size_t available) const {
    if (const std::uint32_t alone = alonePlusOne_[bytes[0]]) return &entries_[alone - 1];
    const std::vector<std::uint32_t>& candidates = byFirstByte_[bytes[0]];
    if (candidates.size() > kTriedOneByOne) return longestByLength(bytes, available);
    for (std::uint32_t index : candidates) {
        const TableEntry& entry = entries_[index];
        // The first byte matches already; most keys have no other.
        if (entry.span() <= available &&
            std::equal(entry.key.begin() + 1, entry.key.end(), reinterpret_cast<const char*>(bytes) + 1))
            return &entry;
    }
    return nullptr;
}

const TableEntry* Table::longestByLength(const std::uint8_t* bytes, std::size_t available) const {
    for (const std::uint8_t length : keyLengths_[bytes[0]]) {
        if (length > available) continue;
        const TableEntry* entry = withKey({reinterpret_cast<const char*>(bytes), length});
        if (entry && entry->span() <= available) return entry;
    }
    return nullptr;
}

const TableEntry* Table::withKey(std::string_view key) const {
    const auto found = byKey_.find(std::string(key));
    return found == byKey_.end() ? nullptr : &entries_[found->second];
}

const std::vector<std::uint32_t>& Table::textStartingWith(char32_t character) const {
    static const std::vector<std::uint32_t> none;
    const auto found = byFirstCharacter_.find(character);
    return found == byFirstCharacter_.end() ? none : found->second;
}

std::vector<const TableEntry*> Table::endTokens() const {
    std::vector<const TableEntry*> ends;
    for (const TableEntry& entry : entries_)
        if (entry.kind == TableEntry::Kind::End) ends.push_back(&entry);
    return ends;
}

void appendReading(const TableEntry& entry, const std::uint8_t* bytes, Text& text) {
    text += entry.text;
    for (std::size_t k = 0; k < entry.parameters; ++k) text += kRawByte + bytes[entry.key.size() + k];
}

namespace {

std::string rawByteText(char32_t character) {
    const unsigned byte = static_cast<unsigned>(character - kRawByte);
    return std::string("<$") + "0123456789abcdef"[byte >> 4] + "0123456789abcdef"[byte & 15] + ">";
}

}  // namespace

namespace {

// Most text is ASCII, which goes straight in.
void appendCharacter(std::string& out, char32_t c) {
    if (c < 0x80)
        out += static_cast<char>(c);
    else if (isRawByte(c))
        out += rawByteText(c);
    else
        out += encodeUtf8(c);
}

}  // namespace

std::string escaped(const Text& text) {
    std::string out;
    appendEscaped(out, text);
    return out;
}

void appendEscaped(std::string& out, const Text& text) {
    for (char32_t c : text) {
        if (c > U'\\') {
            appendCharacter(out, c);
            continue;
        }
        if (c == kLineBreak || c == U'\\') out.push_back('\\');
        out.push_back(static_cast<char>(c == kLineBreak ? U'n' : c));
    }
}

std::string plain(const Text& text) {
    std::string out;
    for (char32_t c : text) appendCharacter(out, c);
    return out;
}

std::optional<Text> unescaped(std::string_view utf8, std::string& failure) {
    bool valid = true;
    const Text characters = decodeUtf8(utf8, valid);
    if (!valid) return failure = text::kTextNotUtf8, std::nullopt;
    Text text;
    for (std::size_t at = 0; at < characters.size(); ++at) {
        const Text rest = characters.substr(at, 5);
        if (rest.size() == 5 && rest.compare(0, 2, U"<$") == 0 && rest[4] == U'>' && rest[2] < 0x80 &&
            rest[3] < 0x80 && hexValue(static_cast<char>(rest[2])) >= 0 && hexValue(static_cast<char>(rest[3])) >= 0) {
            text += kRawByte + static_cast<char32_t>(hexValue(static_cast<char>(rest[2])) << 4 |
                                                     hexValue(static_cast<char>(rest[3])));
            at += 4;
        } else if (characters[at] == U'\\' && at + 1 < characters.size() &&
                   (characters[at + 1] == U'n' || characters[at + 1] == U'\\' || characters[at + 1] == U'/')) {
            text += characters[++at] == U'n' ? kLineBreak : characters[at];
        } else {
            text += characters[at];
        }
    }
    return text;
}

}  // namespace glyphound
