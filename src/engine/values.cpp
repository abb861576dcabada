#include "engine/values.hpp"

#include <algorithm>
#include <cctype>

#include "dialogue/texts.hpp"
#include "engine/refusal.hpp"
#include "search/relative_search.hpp"

namespace glyphound {
namespace {

constexpr const char* kHexDigits = "0123456789ABCDEF";

}  // namespace

std::string hexDigits(std::uint32_t unit, Width width) {
    const auto byte = [&](std::uint32_t value) { return std::string{kHexDigits[(value >> 4) & 15], kHexDigits[value & 15]}; };
    if (width == Width::Byte) return byte(unit);
    const std::string high = byte(unit >> 8), low = byte(unit);
    return width == Width::Little16 ? low + high : high + low;
}

std::string offsetText(std::uint64_t offset) {
    std::string text;
    appendOffsetText(text, offset);
    return text;
}

void appendOffsetText(std::string& out, std::uint64_t offset) {
    // Dumps print millions of these, so no string is built per digit.
    char digits[18] = {'0', 'x'};
    std::size_t length = 2;
    for (int shift = 60; shift >= 0; shift -= 4)
        if (shift < 32 || offset >> shift != 0) digits[length++] = kHexDigits[offset >> shift & 15];
    out.append(digits, length);
}

std::string valueText(std::int32_t value, Width width) {
    return "0x" + hexDigits(static_cast<std::uint32_t>(value), width == Width::Byte ? Width::Byte : Width::Big16);
}

std::int64_t parseNumber(const std::string& text, const std::string& what) {
    std::size_t at = text.size() > 1 && text[0] == '-' ? 1 : 0;
    const bool hex = text.compare(at, 2, "0x") == 0 || text.compare(at, 2, "0X") == 0;
    at += hex ? 2 : 0;
    const int base = hex ? 16 : 10;
    if (at == text.size() || text.size() - at > 15) throw Refusal(what + texts::command::kBadNumber);
    std::int64_t value = 0;
    for (; at < text.size(); ++at) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[at])));
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : 99;
        if (digit >= base) throw Refusal(what + texts::command::kBadNumber);
        value = value * base + digit;
    }
    return text[0] == '-' ? -value : value;
}

std::uint64_t numberIn(const std::optional<std::string>& given, const char* name, std::uint64_t otherwise,
                       std::int64_t lowest, std::int64_t highest, const char* range) {
    if (!given) return otherwise;
    const std::int64_t value = parseNumber(*given, name);
    if (value < lowest || value > highest) throw Refusal(name + std::string(range));
    return static_cast<std::uint64_t>(value);
}

std::uint8_t fillByte(const std::string& given, const char* option) {
    const std::string digits = given.compare(0, 2, "0x") == 0 || given.compare(0, 2, "0X") == 0 ? given : "0x" + given;
    return static_cast<std::uint8_t>(numberIn(digits, option, 0, 0, 255, texts::command::kBadValue));
}

std::int64_t shiftAmount(const std::optional<std::string>& letterA, const std::optional<std::string>& by, bool back) {
    namespace text = texts::command;
    if (!letterA && !by) throw Refusal(text::kAmountMissing);
    if (letterA && by) throw Refusal(text::kAmountTwice);
    std::int64_t amount = 0;
    if (by) {
        amount = parseNumber(*by, "--by");
    } else {
        const std::int64_t a = parseNumber(*letterA, "--A");
        if (a < 0 || a > 255) throw Refusal(std::string("--A") + text::kBadValue);
        amount = kAsciiA - a;
    }
    if (amount % 256 == 0) throw Refusal(text::kNoMove);
    return back ? -amount : amount;
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
