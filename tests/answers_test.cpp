#include <gtest/gtest.h>

#include "driver/answers.hpp"
#include "memory_environment.hpp"

namespace glyphound {
namespace {

using testing::bytesOf;
using namespace std::string_literals;

// Standard input as typed, through the console's text rules, delivered in
// chunks of `chunk` bytes to exercise the block edges.
struct Typed {
    explicit Typed(const std::string& text, std::size_t chunk = SIZE_MAX)
        : input(std::make_unique<MemorySource>(bytesOf(text), chunk), {true, nullptr, 4}),
          reader(input) {}
    Word word() {
        Word w;
        EXPECT_TRUE(reader.readWord(w, 16));
        return w;
    }
    InputStream input;
    AnswerReader reader;
};

TEST(ReadWord, SkipsWhitespaceAndLeavesTheRestForTheNextRead) {
    Typed typed(" \t\r\n\v\fab cdef\nxyz\n");
    EXPECT_EQ(typed.word().text, "ab");
    EXPECT_EQ(typed.word().text, "cdef");
    EXPECT_EQ(typed.word().text, "xyz");
    EXPECT_EQ(typed.input.peek(), '\n');
}

TEST(ReadWord, LongWordIsConsumedWholeButStoredOnlyToTheLimit) {
    Typed typed("abcdefghijklmnopqrstuvwxyz next", 3);
    const Word word = typed.word();
    EXPECT_EQ(word.length, 26u);
    EXPECT_EQ(word.text, "abcdefghijklmnop");
    EXPECT_EQ(typed.word().text, "next");
}

TEST(ReadWord, HighBytesAreOrdinaryAndNulEndsTheWord) {
    Typed typed("\x80\xff\xe9x\0rest"s, 2);
    EXPECT_EQ(typed.word().text, "\x80\xff\xe9x");
    const Word empty = typed.word();
    EXPECT_EQ(empty.length, 0u);
    EXPECT_EQ(typed.input.peek(), 0);
}

TEST(ReadWord, EndOfInputKeepsTheWordButFailsEveryLaterRead) {
    Typed typed("last");
    EXPECT_EQ(typed.word().text, "last");
    EXPECT_TRUE(typed.reader.failed());
    Word untouched{"keep", 4};
    EXPECT_FALSE(typed.reader.readWord(untouched, 16));
    EXPECT_EQ(untouched.text, "keep");
}

TEST(ReadWord, CrLfAcrossABlockEdgeIsWhitespace) {
    Typed typed("abc\r\ndef", 4);
    EXPECT_EQ(typed.word().text, "abc");
    EXPECT_EQ(typed.word().text, "def");
}

TEST(ReadAnswer, TakesOneCharacterAsTyped) {
    Typed typed("  yes\n");
    char answer = 'N';
    EXPECT_TRUE(typed.reader.readAnswer(answer));
    EXPECT_EQ(answer, 'y');
    EXPECT_TRUE(typed.reader.readAnswer(answer));
    EXPECT_EQ(answer, 'e');
}

TEST(ReadAnswer, EndOfInputLeavesTheAnswerAlone) {
    Typed typed(" \n ");
    char answer = 'Y';
    EXPECT_FALSE(typed.reader.readAnswer(answer));
    EXPECT_EQ(answer, 'Y');
    EXPECT_TRUE(typed.reader.failed());
}

TEST(ReadNumber, SignedDecimalEndingAtTheFirstNonDigit) {
    Typed typed("128 -5 +7 0x80 007");
    std::int32_t n = 0;
    const std::int32_t expected[] = {128, -5, 7, 0};
    for (std::int32_t value : expected) {
        EXPECT_TRUE(typed.reader.readNumber(n));
        EXPECT_EQ(n, value);
    }
    char answer = 0;
    EXPECT_TRUE(typed.reader.readAnswer(answer));
    EXPECT_EQ(answer, 'x');
}

TEST(ReadNumber, LimitsOf32Bits) {
    const std::pair<const char*, bool> cases[] = {
        {"2147483647", true},  {"-2147483648", true},           {"2147483648", false},
        {"-2147483649", false}, {"99999999999999999999999", false}, {"-0", true},
    };
    for (const auto& [text, good] : cases) {
        Typed typed(std::string(text) + "\n");
        std::int32_t n = 42;
        EXPECT_EQ(typed.reader.readNumber(n), good) << text;
        if (good)
            EXPECT_EQ(std::to_string(n), std::string(text) == "-0" ? "0" : text);
        else
            EXPECT_EQ(n, 42) << text;
    }
}

TEST(ReadNumber, GarbageFailsForGood) {
    for (const char* text : {"xyz 5", "- 5", "+x", "--1"}) {
        Typed typed(text);
        std::int32_t n = 42;
        EXPECT_FALSE(typed.reader.readNumber(n)) << text;
        EXPECT_EQ(n, 42);
        char answer = 'Y';
        EXPECT_FALSE(typed.reader.readAnswer(answer));
        EXPECT_EQ(answer, 'Y');
    }
}

TEST(ReadNumber, EndOfInputRightAfterTheDigitsKeepsTheNumber) {
    Typed typed("65");
    std::int32_t n = 0;
    EXPECT_TRUE(typed.reader.readNumber(n));
    EXPECT_EQ(n, 65);
    EXPECT_TRUE(typed.reader.failed());
}

}  // namespace
}  // namespace glyphound
