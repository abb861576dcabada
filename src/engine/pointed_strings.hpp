#pragma once

// The strings that tables of pointers lead to, in the tables' order: what
// `dump --pointers` prints, and what a relocating insert puts back.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/dump.hpp"
#include "engine/pointer_table.hpp"
#include "engine/table.hpp"

namespace glyphound {

// Where a pointer is stored: its first byte, or a split table's low, high
// and bank bytes.
struct PointerPlace {
    std::uint64_t at = 0;
    std::optional<std::uint64_t> high, bank;
    bool operator==(const PointerPlace& other) const {
        return at == other.at && high == other.high && bank == other.bank;
    }
    // Its bytes' offsets, in the order `valueOfBytes` takes them.
    std::vector<std::uint64_t> byteOffsets(const PointerFormat& format) const;
    // "0x00001234", or "0x00001234:0x00001300[:0x00001400]" for a split table.
    std::string text() const;
};
PointerPlace placeOf(const PointerTable& table, std::uint64_t index);

struct PointedString {
    TableString string;  // from where the pointers lead, to its end token
    std::vector<PointerPlace> pointers;
};

// Each string once, where its first pointer lists it; up to its end token,
// or with `untilNext` up to the next string a pointer leads to, and never
// into it. Throws Refusal for a table past the end of the file or a pointer
// that leads outside it.
std::vector<PointedString> pointedStrings(const std::string& file, const Table& table,
                                          const std::vector<PointerTable>& tables, bool untilNext);

// The text at `start` as a dump prints a string there: up to an end token,
// before a byte where no key stands, at most a string's length.
Text textAt(std::string_view file, const Table& table, std::uint64_t start);

// A table as `dump --pointers` gives it: OFFSET:COUNT.
PointerTable pointerTableOf(const std::string& given, const AddressMap& map, const PointerFormat& format,
                            std::optional<std::uint64_t> stride);

// The value a place holds in `file`; none past its end.
std::optional<std::uint64_t> valueAt(const std::string& file, const PointerPlace& place, const PointerFormat& format);

}  // namespace glyphound
