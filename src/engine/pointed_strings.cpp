#include "engine/pointed_strings.hpp"

#include <algorithm>
#include <map>
#include <set>

#include "dialogue/texts.hpp"
#include "engine/refusal.hpp"
#include "engine/script.hpp"
#include "engine/table_search.hpp"
#include "engine/values.hpp"

namespace glyphound {
namespace {

namespace text = texts::pointers;

// The string from `start`: each entry where the longest key stands, a byte
// where none does as raw, to the end token, or to `limit`.
TableString stringFrom(const std::string& file, const Table& table, std::uint64_t start, std::uint64_t limit) {
    TableString string;
    string.offset = start;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(file.data());
    std::uint64_t at = start;
    while (at < limit) {
        const TableEntry* entry = table.longestAt(bytes + at, static_cast<std::size_t>(limit - at));
        if (entry)
            appendReading(*entry, bytes + at, string.text);
        else
            string.text += kRawByte + bytes[at];
        at += entry ? entry->span() : 1;
        if (entry && entry->kind == TableEntry::Kind::End) break;
    }
    string.length = at - start;
    return string;
}

}  // namespace

std::vector<std::uint64_t> PointerPlace::byteOffsets(const PointerFormat& format) const {
    if (high) {
        std::vector<std::uint64_t> offsets = {at, *high};
        if (bank) offsets.push_back(*bank);
        return offsets;
    }
    std::vector<std::uint64_t> offsets;
    for (std::uint64_t k = 0; k < format.bytes(); ++k) offsets.push_back(at + k);
    return offsets;
}

std::string PointerPlace::text() const {
    std::string place = offsetText(at);
    // Each other array's byte after a colon.
    for (const auto& array : {high, bank})
        if (array) place += std::string(":") + offsetText(*array);
    return place;
}

PointerPlace placeOf(const PointerTable& table, std::uint64_t index) {
    const std::vector<std::uint64_t> offsets = table.byteOffsets(index);
    PointerPlace place{offsets[0], std::nullopt, std::nullopt};
    if (table.format.split) place.high = offsets[1];
    if (table.format.split && offsets.size() > 2) place.bank = offsets[2];
    return place;
}

std::optional<std::uint64_t> valueAt(const std::string& file, const PointerPlace& place, const PointerFormat& format) {
    std::uint8_t bytes[4] = {};
    const std::vector<std::uint64_t> offsets = place.byteOffsets(format);
    for (std::size_t k = 0; k < offsets.size(); ++k) {
        if (offsets[k] >= file.size()) return std::nullopt;
        bytes[k] = static_cast<std::uint8_t>(file[offsets[k]]);
    }
    return valueOfBytes(bytes, format);
}

Text textAt(std::string_view file, const Table& table, std::uint64_t start) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(file.data());
    const std::uint64_t end = std::min<std::uint64_t>(file.size(), start + kMaxStringBytes);
    return stringAt(table, bytes + start, static_cast<std::size_t>(end - start)).first == 0
               ? Text()
               : readAll(table, bytes + start, stringAt(table, bytes + start, static_cast<std::size_t>(end - start)).first);
}

PointerTable pointerTableOf(const std::string& given, const AddressMap& map, const PointerFormat& format,
                            std::optional<std::uint64_t> stride) {
    const std::size_t colon = given.find(':');
    if (colon == std::string::npos) throw Refusal(text::kBadTableGiven + given);
    const std::int64_t offset = parseNumber(given.substr(0, colon), "--pointers OFFSET");
    const std::int64_t count = parseNumber(given.substr(colon + 1), "--pointers COUNT");
    if (offset < 0 || count < 1) throw Refusal(text::kBadTableGiven + given);
    PointerTable table;
    table.offset = static_cast<std::uint64_t>(offset);
    table.count = static_cast<std::uint64_t>(count);
    table.stride = stride.value_or(format.split ? 1 : format.bytes());
    table.map = map;
    table.format = format;
    return table;
}

std::vector<PointedString> pointedStrings(const std::string& file, const Table& table,
                                          const std::vector<PointerTable>& tables, bool untilNext) {
    std::vector<PointedString> strings;
    std::map<std::uint64_t, std::size_t> byTarget;
    for (const PointerTable& pointers : tables) {
        const auto read = readTable(file, pointers, nullptr);
        if (!read) throw Refusal(offsetText(pointers.offset) + text::kTablePastTheEnd);
        for (std::uint64_t index = 0; index < pointers.count; ++index) {
            const FoundPointer& pointer = (*read)[index];
            if (!pointer.target)
                throw Refusal(offsetText(pointer.offset) + text::kLeadsOutside + offsetText(pointer.value));
            const auto [known, added] = byTarget.emplace(*pointer.target, strings.size());
            if (added) strings.push_back({{*pointer.target, 0, {}}, {}});
            strings[known->second].pointers.push_back(placeOf(pointers, index));
        }
    }
    // A string ends where the next one a pointer leads to starts, so that no
    // two strings share a byte.
    for (auto target = byTarget.begin(); target != byTarget.end(); ++target) {
        const auto next = std::next(target);
        std::uint64_t limit = next == byTarget.end() ? file.size() : next->first;
        if (!untilNext) limit = std::min<std::uint64_t>(limit, target->first + kMaxStringBytes);
        strings[target->second].string = stringFrom(file, table, target->first, limit);
    }
    return strings;
}

}  // namespace glyphound
