// Whole runs of the dialogue on memory streams, one table row per rule:
// what is typed, the ROM, and everything the run prints, returns and writes.
#include <gtest/gtest.h>

#include <optional>

#include "dialogue/texts.hpp"
#include "driver/driver.hpp"
#include "io/environment.hpp"
#include "memory_system.hpp"
#include "case_names.hpp"

namespace glyphound::testing {
namespace {

using namespace std::string_literals;
using std::string;

string moved(const string& bytes, long long amount) {
    string out;
    for (char c : bytes) out += static_cast<char>(static_cast<unsigned char>(c) + amount);
    return out;
}

string crLf(const string& text) {
    string out;
    for (char c : text) out += c == '\n' ? "\r\n" : string(1, c);
    return out;
}

const string kBanner{texts::kBanner}, kPrompt = "\nEnter search string of length 3-16: ";
const string kAsk{texts::kShiftQuestion}, kWhereIsA{texts::kLetterAQuestion};
const string kBackQuestion{texts::kShiftBackQuestion}, kShiftedBack{texts::kShiftedBack};

string match(long long offset, int shift) {
    return string(texts::kMatchAt) + std::to_string(offset) + string(texts::kMatchShift) +
           std::to_string(shift) + string(texts::kMatchLetterA) + std::to_string(shift + 65) + "\n";
}
string searched(const string& matches) {
    return kBanner + kPrompt + "\n" + matches + string(texts::kNoFurtherMatches);
}
string shiftedBy(long long amount) {
    return string(texts::kShiftedBy) + std::to_string(amount) + string(texts::kShiftedInto);
}

const std::vector<const char*> kFile{"glyphound", "game.rom"};
const string kTwoHellos = "x" + moved("HELLO", 63) + "xx" + moved("HELLO", 63) + "x";
const string kOneMatch = "\x10\x00\xff"s + moved("HELLO", 63) + "\x05";
const string kOneMatchFound = searched(match(3, 63)) + kAsk + shiftedBy(-63) + kBackQuestion;
const string kTwoShifts = moved("HELLO", 63) + "\x01\x01"s + moved("HELLO", 10);
const string kTwoShiftsAsked = searched(match(0, 63) + match(7, 10)) + kAsk + kWhereIsA;
const string kCats55 = moved("CAT", 5) + "\0\0"s + moved("CAT", 5);
const string kCats577 = kCats55 + "\0\0"s + moved("CAT", 7) + "\0\0"s + moved("CAT", 7);

struct Transcript {
    const char* what;
    std::vector<const char*> argv;
    string typed, rom, out;
    int status = 0;
    string err = "";
    std::optional<string> shifted = std::nullopt, output = std::nullopt;
    std::size_t chunk = SIZE_MAX;
    std::optional<std::size_t> pausesAt = std::nullopt;  // where typing ends once and goes on
};

const Transcript kTranscripts[] = {
    {"usage", {"./gh", "a", "b"}, "", kTwoHellos, "", 1, "Usage: ./gh [file]\n"},
    {"missing ROM", {"./gh", "missing.rom"}, "HELLO\n", "", "", 1, "./gh: Can't open input file\n"},
    {"lengths word by word", kFile, "ab\tabcdefghijklmnopq\r\n\v\fab cdef\r\n", kTwoHellos,
     kBanner + kPrompt + kPrompt + kPrompt + kPrompt + "\n" + string(texts::kNoFurtherMatches), 0, "", {}, {}, 1},
    {"sixteen characters", kFile, "abcdefghijklmnop HELLO\n", kTwoHellos, searched("")},
    {"backspace is no blank", kFile, "\b\bHELLO n\n", kTwoHellos, searched("")},
    {"leftovers answer", kFile, "HELLO no\n", kTwoHellos, searched(match(1, 63) + match(8, 63)) + kAsk},
    {"plain ASCII asks nothing", kFile, "HELLO y\n", "HELLO", searched(match(0, 0))},
    {"no input", kFile, "", kTwoHellos, kBanner + kPrompt, 1, "glyphound: No search string entered\n"},
    {"input ends", kFile, "ab\n", kTwoHellos, kBanner + kPrompt + kPrompt, 1, "glyphound: No search string entered\n"},
    {"NUL", kFile, "\0abc"s, kTwoHellos, kBanner + kPrompt, 1, "glyphound: No search string entered\n"},
    {"no arguments at all", {}, "", "", kBanner + kPrompt, 1, "glyphound: No search string entered\n"},
    {"standard-stream mode", {"glyphound"}, "HELLO " + kTwoHellos + "\r\n", "",
     searched(match(2, 63) + match(9, 63)) + kAsk},
    // The scan.
    {"empty file", kFile, "ABC\n", "", searched("")},
    {"short file", kFile, "ABC\n", "AB", searched("")},
    {"shift and position", kFile, "ABC\n", "\x80\x81\x82", searched(match(0, 63)) + kAsk},
    {"match at the end", kFile, "HELLO\n", "xy" + moved("HELLO", 10), searched(match(2, 10)) + kAsk},
    {"back to back", kFile, "ABC\n", moved("ABCABC", 1), searched(match(0, 1)) + kAsk},
    {"one byte apart", kFile, "ABC\n", moved("ABC", 1) + "\0"s + moved("ABC", 1),
     searched(match(0, 1) + match(4, 1)) + kAsk},
    {"no retry inside a run", kFile, "AAB\n", moved("AAAB", 7), searched("")},
    {"run after a mismatch", kFile, "AAB\n", moved("xAAB", 7), searched(match(1, 7)) + kAsk},
    {"no wrap", kFile, "WXYZ\n", moved("WXYZ", 168), searched("")},
    {"high characters", kFile, "\xe0\xe1\xe2\n", "\xe0\xe1\xe2", searched(match(0, 256)) + kAsk},
    {"mixed high", kFile, "\x41\xe9\x42\n", "\x41\xe9\x42", searched("")},
    {"mixed high, 256 lower", kFile, "\x41\xe9\x42\n", "\xa5\x4d\xa6", searched(match(0, 100)) + kAsk},
    // The shift.
    {"agreeing shifts", kFile, "CAT y n\n", kCats55,
     searched(match(0, 5) + match(5, 5)) + kAsk + shiftedBy(-5) + kBackQuestion, 0, "", moved(kCats55, -5)},
    {"disagreement stays", kFile, "CAT y 70 n\n", kCats577,
     searched(match(0, 5) + match(5, 5) + match(10, 7) + match(15, 7)) + kAsk + kWhereIsA + shiftedBy(-5) +
         kBackQuestion, 0, "", moved(kCats577, -5)},
    {"shift and back", kFile, "HELLO\ny\ny\n", kOneMatch, kOneMatchFound + kShiftedBack, 0, "",
     "\xd1\xc1\xc0HELLO\xc6"s, kOneMatch},
    {"yes answers with e", kFile, "HELLO\nyes\n", kOneMatch, kOneMatchFound, 0, "", moved(kOneMatch, -63)},
    {"NUL answers no", kFile, "HELLO\ny\n\0"s, kOneMatch, kOneMatchFound, 0, "", moved(kOneMatch, -63)},
    {"a word the input ends in", kFile, "HELLO", kOneMatch, searched(match(3, 63)) + kAsk},
    {"nothing read after the input ends", kFile, "HELLOy\ny\n", kOneMatch, searched(match(3, 63)) + kAsk, 0, "", {}, {},
     SIZE_MAX, 5},
    {"end of input is yes", kFile, "HELLO\ny", kOneMatch, kOneMatchFound + kShiftedBack, 0, "",
     moved(kOneMatch, -63), kOneMatch},
    {"position 128", kFile, "HELLO y 128 n\n", kTwoShifts, kTwoShiftsAsked + shiftedBy(-63) + kBackQuestion, 0,
     "", moved(kTwoShifts, -63)},
    {"position 65", kFile, "HELLO y 65 y\n", kTwoShifts, kTwoShiftsAsked + string(texts::kNothingToShift), 0, "",
     ""},
    {"garbage position", kFile, "HELLO y xyz\n", kTwoShifts,
     kTwoShiftsAsked + shiftedBy(55) + kBackQuestion + kShiftedBack, 0, "", moved(kTwoShifts, 55), kTwoShifts},
    {"hexadecimal", kFile, "HELLO y 0x80\n", kTwoShifts, kTwoShiftsAsked + shiftedBy(65) + kBackQuestion, 0, "",
     moved(kTwoShifts, 65)},
    {"plus sign", kFile, "HELLO y +9 n\n", kTwoShifts, kTwoShiftsAsked + shiftedBy(56) + kBackQuestion, 0, "",
     moved(kTwoShifts, 56)},
    {"lowest position", kFile, "HELLO y -2147483648 y\n", kTwoShifts,
     kTwoShiftsAsked + shiftedBy(2147483713) + kBackQuestion + kShiftedBack, 0, "", moved(kTwoShifts, 65), kTwoShifts},
    {"highest position", kFile, "HELLO y 2147483647 n\n", kTwoShifts,
     kTwoShiftsAsked + shiftedBy(-2147483582) + kBackQuestion, 0, "", moved(kTwoShifts, 66)},
    {"past 32 bits", kFile, "HELLO y 2147483648\n", kTwoShifts,
     kTwoShiftsAsked + shiftedBy(55) + kBackQuestion + kShiftedBack, 0, "", moved(kTwoShifts, 55), kTwoShifts},
    {"below 32 bits", kFile, "HELLO y -99999999999999999999\n", kTwoShifts,
     kTwoShiftsAsked + shiftedBy(55) + kBackQuestion + kShiftedBack, 0, "", moved(kTwoShifts, 55), kTwoShifts},
    {"shift of 256", kFile, "\xe0\xe1\xe2\ny\nn\n", "\x01\xe0\xe1\xe2\x02",
     searched(match(1, 256)) + kAsk + shiftedBy(-256) + kBackQuestion, 0, "", "\x01\xe0\xe1\xe2\x02"},
};

void PrintTo(const Transcript& transcript, std::ostream* out) { *out << transcript.what; }

class Dialogue : public ::testing::TestWithParam<Transcript> {};

TEST_P(Dialogue, PrintsReturnsAndWritesExactly) {
    const Transcript& t = GetParam();
    MemorySystem system(t.typed, t.chunk);
    system.typedPausesAt = t.pausesAt;
    system.files["game.rom"] = std::make_shared<string>(t.rom);
    int status;
    {
        status = runGlyphound(static_cast<int>(t.argv.size()), t.argv.data(), system);
    }
    EXPECT_EQ(*system.out, crLf(t.out));
    EXPECT_EQ(*system.err, crLf(t.err));
    EXPECT_EQ(status, t.status);
    EXPECT_EQ(*system.files["game.rom"], t.rom);
    for (const auto& [name, expected] : {std::pair{"Shifted.BIN", t.shifted}, std::pair{"Output.ROM", t.output}}) {
        const auto file = system.files.find(name);
        EXPECT_EQ(file == system.files.end() ? std::nullopt : std::optional(*file->second), expected) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Transcripts, Dialogue, ::testing::ValuesIn(kTranscripts),
                         [](const auto& info) { return caseNameOf(info.param.what); });

TEST(DialogueEnd, ReadErrorIsReportedAfterTheScan) {
    MemorySystem system("HELLO\n");
    system.files["game.rom"] = std::make_shared<string>(kTwoHellos);
    system.unreadable["game.rom"] = SIZE_MAX;
    EXPECT_EQ(runGlyphound(2, kFile.data(), system), 1);
    EXPECT_EQ(*system.err, crLf("glyphound: Can't read input file\n"));
}

TEST(DialogueEnd, AConsolePausesAfterEveryRun) {
    for (const auto& argv : {kFile, std::vector<const char*>{"glyphound", "a", "b"}}) {
        MemorySystem system("HELLO n\n");
        system.console = true;
        system.files["game.rom"] = std::make_shared<string>(kTwoHellos);
        {
            runGlyphound(static_cast<int>(argv.size()), argv.data(), system);
        }
        EXPECT_EQ(system.waits, 1);
        const string pause = crLf(string(texts::kPause));
        EXPECT_EQ(system.out->substr(system.out->size() - std::min(pause.size(), system.out->size())), pause);
    }
}

}  // namespace
}  // namespace glyphound::testing
