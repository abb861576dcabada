#include "engine/values.hpp"

#include <algorithm>

namespace glyphound {

std::string hexDigits(std::uint32_t unit, Width width) {
    const char* digits = "0123456789ABCDEF";
    const auto byte = [&](std::uint32_t value) { return std::string{digits[(value >> 4) & 15], digits[value & 15]}; };
    if (width == Width::Byte) return byte(unit);
    const std::string high = byte(unit >> 8), low = byte(unit);
    return width == Width::Little16 ? low + high : high + low;
}

std::string offsetText(std::uint64_t offset) {
    std::string digits;
    for (int shift = 60; shift >= 0; shift -= 4)
        if (shift < 32 || offset >> shift != 0) digits += "0123456789ABCDEF"[(offset >> shift) & 15];
    return "0x" + digits;
}

std::string valueText(std::int32_t value, Width width) {
    return "0x" + hexDigits(static_cast<std::uint32_t>(value), width == Width::Byte ? Width::Byte : Width::Big16);
}

void Tally::add(const ClassValues& values) {
    counts_.resize(std::max(counts_.size(), values.size()));
    for (std::size_t order = 0; order < values.size(); ++order)
        if (values[order] >= 0) ++counts_[order][values[order]];
}

std::vector<std::pair<std::int32_t, std::uint64_t>> Tally::ranked(std::size_t order) const {
    if (order >= counts_.size()) return {};
    std::vector<std::pair<std::int32_t, std::uint64_t>> result(counts_[order].begin(), counts_[order].end());
    std::stable_sort(result.begin(), result.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    return result;
}

}  // namespace glyphound
