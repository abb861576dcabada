#include <gtest/gtest.h>

#include "driver/driver.hpp"
#include "expected_text.hpp"
#include "memory_environment.hpp"

namespace glyphound {
namespace {

using namespace testing;

int run(MemoryEnvironment& environment, std::vector<const char*> arguments) {
    return runGlyphound(static_cast<int>(arguments.size()), arguments.data(), environment);
}

// "xHELLOxxHELLOx" with the letters 63 above ASCII: two matches that agree.
std::shared_ptr<Bytes> romWithHello(int secondShift = 63) {
    auto rom = std::make_shared<Bytes>();
    auto put = [&](const std::string& text, int shift) {
        for (char c : text) rom->push_back(static_cast<std::uint8_t>(c + shift));
    };
    put("x", 0);
    put("HELLO", 63);
    put("xx", 0);
    put("HELLO", secondShift);
    put("x", 0);
    return rom;
}

TEST(Dialogue, SearchStringLengthsAreCheckedWordByWord) {
    MemoryEnvironment environment("ab\nabcdefghijklmnopq\nab cdef\n");
    environment.files["rom"] = romWithHello();
    EXPECT_EQ(run(environment, {"glyphound", "rom"}), 0);
    EXPECT_EQ(environment.output(),
              crLf(kBanner + kPrompt + kPrompt + kPrompt + kPrompt + "\n" + kClosing));
}

TEST(Dialogue, SixteenCharactersAreAcceptedAndTheSearchRuns) {
    MemoryEnvironment environment("abcdefghijklmnop HELLO n\n");
    environment.files["rom"] = romWithHello();
    EXPECT_EQ(run(environment, {"glyphound", "rom"}), 0);
    EXPECT_EQ(environment.output(), crLf(kBanner + kPrompt + "\n" + kClosing));
}

TEST(Dialogue, ItemsLeftOnTheLineAnswerTheShiftQuestion) {
    MemoryEnvironment environment("HELLO no\n");
    environment.files["rom"] = romWithHello();
    EXPECT_EQ(run(environment, {"glyphound", "rom"}), 0);
    EXPECT_EQ(environment.output(), crLf(kBanner + kPrompt + "\n" + matchLine(1, 63) +
                                         matchLine(8, 63) + kClosing + kShiftQuestion));
}

TEST(Dialogue, PlainAsciiEndsWithoutAQuestion) {
    MemoryEnvironment environment("HELLO y\n");
    environment.files["rom"] = std::make_shared<Bytes>(Bytes{'H', 'E', 'L', 'L', 'O'});
    EXPECT_EQ(run(environment, {"glyphound", "rom"}), 0);
    EXPECT_EQ(environment.output(), crLf(kBanner + kPrompt + "\n" + matchLine(0, 0) + kClosing));
}

TEST(Dialogue, NoSearchStringAtEndOfInputOrNul) {
    for (const std::string& typed : {std::string(""), std::string("ab\n"), std::string("\0abc", 4)}) {
        MemoryEnvironment environment(typed);
        environment.files["rom"] = romWithHello();
        EXPECT_EQ(run(environment, {"glyphound", "rom"}), 1);
        EXPECT_EQ(environment.errors(), crLf("glyphound: No search string entered\n"));
    }
}

TEST(Dialogue, StandardStreamModeScansTheRestOfTheInput) {
    const auto rom = romWithHello();
    const std::string typed = "HELLO " + std::string(rom->begin(), rom->end());
    MemoryEnvironment environment(typed + "\r\n");
    EXPECT_EQ(run(environment, {"glyphound"}), 0);
    // The character that ended the word is the first byte scanned.
    EXPECT_EQ(environment.output(), crLf(kBanner + kPrompt + "\n" + matchLine(2, 63) +
                                         matchLine(9, 63) + kClosing + kShiftQuestion));
}

TEST(CommandLine, ErrorsNameTheInvocationAndComeBeforeTheBanner) {
    MemoryEnvironment usage("");
    EXPECT_EQ(run(usage, {"./gh", "a", "b"}), 1);
    EXPECT_EQ(usage.errors(), crLf("Usage: ./gh [file]\n"));
    EXPECT_EQ(usage.output(), "");

    MemoryEnvironment missing("");
    EXPECT_EQ(run(missing, {"./gh", "missing.rom"}), 1);
    EXPECT_EQ(missing.errors(), crLf("./gh: Can't open input file\n"));
    EXPECT_EQ(missing.output(), "");
}

TEST(CommandLine, EmptyArgumentVectorUsesTheProgramName) {
    MemoryEnvironment environment("");
    EXPECT_EQ(runGlyphound(0, nullptr, environment), 1);
    EXPECT_EQ(environment.errors(), crLf("glyphound: No search string entered\n"));
}

TEST(ExitSequence, PausesOnlyOnAConsole) {
    MemoryEnvironment console("HELLO n\n");
    console.console = true;
    console.files["rom"] = romWithHello();
    EXPECT_EQ(run(console, {"glyphound", "rom"}), 0);
    EXPECT_EQ(console.waits, 1);
    const std::string pause = crLf("\n \n Press Enter to continue \n");
    EXPECT_EQ(console.output().substr(console.output().size() - pause.size()), pause);

    MemoryEnvironment failing("");
    failing.console = true;
    EXPECT_EQ(run(failing, {"glyphound", "x", "y"}), 1);
    EXPECT_EQ(failing.waits, 1);
}

}  // namespace
}  // namespace glyphound
