#include "dialogue/answers.hpp"

#include <algorithm>
#include <limits>

namespace glyphound {
namespace {

bool isWhitespace(int c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }
bool isDigit(int c) { return c >= '0' && c <= '9'; }

}  // namespace

// Skips to the next item; false (and failed for good) at the end of input.
bool AnswerReader::skipWhitespace() {
    if (failed_) return false;
    for (int c = input_.peek(); c >= 0; c = input_.peek()) {
        if (!isWhitespace(c)) return true;
        input_.consume(1);
    }
    failed_ = true;
    return false;
}

bool AnswerReader::readWord(Word& word, std::size_t storeLimit) {
    if (!skipWhitespace()) return false;
    word = Word{};
    while (input_.fill()) {
        const std::uint8_t* bytes = input_.data();
        const std::size_t available = input_.available();
        std::size_t length = 0;
        while (length < available && bytes[length] != 0 && !isWhitespace(bytes[length])) ++length;
        const std::size_t room = storeLimit - word.text.size();
        word.text.append(reinterpret_cast<const char*>(bytes), std::min(length, room));
        word.length += length;
        input_.consume(length);
        if (length < available) return true;  // the terminator is in sight
    }
    failed_ = true;  // the word is kept, but nothing after it can be read
    return true;
}

void AnswerReader::readAnswer(char& answer) {
    if (!skipWhitespace()) return;
    answer = static_cast<char>(input_.peek());
    input_.consume(1);
}

bool AnswerReader::readNumber(std::int32_t& number) {
    if (!skipWhitespace()) return false;
    bool negative = false;
    int c = input_.peek();
    if (c == '+' || c == '-') {
        negative = c == '-';
        input_.consume(1);
        c = input_.peek();
    }
    if (!isDigit(c)) {
        failed_ = true;
        return false;
    }
    // Magnitude capped just past the 32-bit range, so long digit strings can't overflow.
    constexpr std::int64_t cap = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 2;
    std::int64_t magnitude = 0;
    for (; isDigit(c); c = input_.peek()) {
        magnitude = std::min(cap, magnitude * 10 + (c - '0'));
        input_.consume(1);
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max()) {
        failed_ = true;
        return false;
    }
    number = static_cast<std::int32_t>(value);
    if (c < 0) failed_ = true;
    return true;
}

}  // namespace glyphound
