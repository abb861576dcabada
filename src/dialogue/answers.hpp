#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "io/streams.hpp"

namespace glyphound {

struct Word {
    std::string text;          // the first characters, up to the storage limit
    std::uint64_t length = 0;  // of the whole word as typed
};

// Reads the user's answers as whitespace-separated items (bytes 0x09-0x0D and
// 0x20). What ends an item stays unread for the next reader. A failed read
// leaves its target alone and is permanent: every later read does nothing.
class AnswerReader {
public:
    explicit AnswerReader(InputStream& input) : input_(input) {}

    // A word runs to whitespace, a NUL byte or the end of input; however long
    // it is, it is consumed whole and only `storeLimit` characters are kept.
    // A NUL where the word would begin gives an empty word.
    bool readWord(Word& word, std::size_t storeLimit);
    // The next answer's first character; `answer` keeps what it held when
    // none can be read.
    void readAnswer(char& answer);
    // Optional sign directly followed by decimal digits, ending at the first
    // non-digit; no digits or a value outside 32 bits fails.
    bool readNumber(std::int32_t& number);

    bool failed() const { return failed_; }

private:
    bool skipWhitespace();

    InputStream& input_;
    bool failed_ = false;
};

}  // namespace glyphound
