#pragma once

// What hits say about where each class of characters sits, and how a unit or
// a value is written: the same for every face of the program.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "search/word_matcher.hpp"

namespace glyphound {

// A unit's bytes in file order, each as two upper-case hexadecimal digits.
std::string hexDigits(std::uint32_t unit, Width width = Width::Byte);
// An offset as the commands print it: "0x0000ABCD", more digits past 4 GiB.
std::string offsetText(std::uint64_t offset);
void appendOffsetText(std::string& out, std::uint64_t offset);
// A value as a number: "0x41", or "0x8260" for a 16-bit unit.
std::string valueText(std::int32_t value, Width width);

// Decimal, or hexadecimal after 0x, with an optional minus sign; throws
// Refusal naming `what` otherwise.
std::int64_t parseNumber(const std::string& text, const std::string& what);

// An option's number from `lowest` to `highest`, or `otherwise` when it is
// not given; throws Refusal naming the option, with `range` after it, out of
// range.
std::uint64_t numberIn(const std::optional<std::string>& given, const char* name, std::uint64_t otherwise,
                       std::int64_t lowest, std::int64_t highest, const char* range);
// A byte as two hexadecimal digits, or with 0x.
std::uint8_t fillByte(const std::string& given, const char* option);

// The amount a shift adds to every byte: `by` itself, or what moves 'A' from
// `letterA` to its ASCII code; `back` reverses it. Throws Refusal for
// neither, both, a value out of range or an amount that moves nothing.
std::int64_t shiftAmount(const std::optional<std::string>& letterA, const std::optional<std::string>& by, bool back);

// How many hits gave each value, for each order.
class Tally {
public:
    void add(const ClassValues& values);
    // (value, hits) of one order, most hits first, then the lowest value.
    std::vector<std::pair<std::int32_t, std::uint64_t>> ranked(std::size_t order) const;
    std::size_t orders() const { return counts_.size(); }

private:
    std::vector<std::map<std::int32_t, std::uint64_t>> counts_;
};

}  // namespace glyphound
