// The shift and shift-back passes through the built program: the files it
// writes, the questions it asks, and the files it must never damage.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "expected_text.hpp"
#include "process.hpp"

namespace glyphound::testing {
namespace {

using namespace std::string_literals;

const std::string kSearched = kBanner + kPrompt + "\n";

std::string shiftAll(const std::string& bytes, int amount) {
    std::string out;
    for (char c : bytes) out += static_cast<char>(static_cast<unsigned char>(c) + amount);
    return out;
}

class Shifter : public ::testing::Test {
protected:
    Finished run(const std::string& rom, const std::string& input, const std::string& name = "game.rom") {
        writeFile(dir.file(name), rom);
        return runProgram({name}, dir.path(), input);
    }
    std::string file(const std::string& name) { return readFile(dir.file(name)); }
    bool exists(const std::string& name) { return fileExists(dir.file(name)); }
    TempDir dir;
};

// One HELLO 63 above ASCII, with bytes that wrap when shifted.
const std::string kOneMatch = "\x10\x00\xff"s + encode("HELLO", 63) + "\x05";
// Shifts 63, then 10: the matches disagree and the last shift is 10.
const std::string kTwoShifts = encode("HELLO", 63) + "\x01\x01"s + encode("HELLO", 10);
const std::string kTwoShiftsFound = kSearched + matchLine(0, 63) + matchLine(7, 10) + kClosing;

TEST_F(Shifter, SingleMatchShiftsAndShiftsBackWithoutAskingForA) {
    const Finished finished = run(kOneMatch, "HELLO\ny\ny\n");
    EXPECT_EQ(finished.status, 0);
    EXPECT_EQ(finished.err, "");
    EXPECT_EQ(finished.out, crLf(kSearched + matchLine(3, 63) + kClosing + kShiftQuestion +
                                 shiftedBy(-63) + kShiftBackQuestion + kShiftedBack));
    EXPECT_EQ(file("Shifted.BIN"), "\xd1\xc1\xc0HELLO\xc6"s);
    EXPECT_EQ(file("Output.ROM"), kOneMatch);
}

TEST_F(Shifter, DisagreeingMatchesAskWhereAIs) {
    const Finished at128 = run(kTwoShifts, "HELLO y 128 n\n");
    EXPECT_EQ(at128.out, crLf(kTwoShiftsFound + kShiftQuestion + kLetterAQuestion +
                              shiftedBy(-63) + kShiftBackQuestion));
    EXPECT_EQ(file("Shifted.BIN"), shiftAll(kTwoShifts, -63));
    EXPECT_FALSE(exists("Output.ROM"));
}

TEST_F(Shifter, AmountZeroIsRefusedAndLeavesShiftedEmpty) {
    const Finished at65 = run(kTwoShifts, "HELLO y 65\n");
    EXPECT_EQ(at65.status, 0);
    EXPECT_EQ(at65.out, crLf(kTwoShiftsFound + kShiftQuestion + kLetterAQuestion +
                             "\n\tIt doesn't get shifted anywhere!\n"));
    EXPECT_TRUE(exists("Shifted.BIN"));
    EXPECT_EQ(file("Shifted.BIN"), "");
}

TEST_F(Shifter, GarbageForAUsesTheLastShiftAndShiftsBackAtOnce) {
    const Finished garbage = run(kTwoShifts, "HELLO y xyz\n");
    EXPECT_EQ(garbage.status, 0);
    EXPECT_EQ(garbage.out, crLf(kTwoShiftsFound + kShiftQuestion + kLetterAQuestion +
                                shiftedBy(55) + kShiftBackQuestion + kShiftedBack));
    EXPECT_EQ(file("Shifted.BIN"), shiftAll(kTwoShifts, 55));
    EXPECT_EQ(file("Output.ROM"), kTwoShifts);
}

TEST_F(Shifter, NumberEndsAtTheFirstNonDigit) {
    // 0x80 reads as 0 (amount 65); the x left over answers the next question.
    const Finished hex = run(kTwoShifts, "HELLO y 0x80\n");
    EXPECT_EQ(hex.out, crLf(kTwoShiftsFound + kShiftQuestion + kLetterAQuestion +
                            shiftedBy(65) + kShiftBackQuestion));
    EXPECT_FALSE(exists("Output.ROM"));
}

TEST_F(Shifter, LowestPositionGivesAnExactAmount) {
    const Finished lowest = run(kTwoShifts, "HELLO y -2147483648 y\n");
    EXPECT_EQ(lowest.status, 0);
    EXPECT_NE(lowest.out.find(crLf(shiftedBy(2147483713))), std::string::npos);
    EXPECT_EQ(file("Shifted.BIN"), shiftAll(kTwoShifts, 2147483713 % 256));
    EXPECT_EQ(file("Output.ROM"), kTwoShifts);
}

TEST_F(Shifter, AnswersLeftOnTheLineAndEndOfInput) {
    // "yes": the e answers the shift-back question with no.
    EXPECT_EQ(run(kOneMatch, "HELLO\nyes\n").out,
              crLf(kSearched + matchLine(3, 63) + kClosing + kShiftQuestion + shiftedBy(-63) +
                   kShiftBackQuestion));
    EXPECT_FALSE(exists("Output.ROM"));
    // End of input at the shift-back question keeps the earlier yes.
    EXPECT_EQ(run(kOneMatch, "HELLO\ny").status, 0);
    EXPECT_EQ(file("Output.ROM"), kOneMatch);
}

TEST_F(Shifter, HighCharacterShiftOf256WritesAnUnchangedCopy) {
    const std::string rom = "\x01\xe0\xe1\xe2\x02"s;
    const Finished finished = run(rom, "\xe0\xe1\xe2\ny\nn\n");
    EXPECT_NE(finished.out.find(crLf(shiftedBy(-256))), std::string::npos);
    EXPECT_EQ(file("Shifted.BIN"), rom);
}

TEST_F(Shifter, UserEditsComeBackMovedByTheOppositeAmount) {
    writeFile(dir.file("game.rom"), kOneMatch);
    Child child(programCommand({"game.rom"}), dir.path());
    child.send("HELLO\ny\n");
    ASSERT_TRUE(child.waitForOutput(kShiftBackQuestion));
    std::string shifted = file("Shifted.BIN");
    ASSERT_EQ(shifted, "\xd1\xc1\xc0HELLO\xc6"s);  // complete while the program waits
    shifted.replace(3, 5, "WORLD");
    writeFile(dir.file("Shifted.BIN"), shifted);
    child.send("y\n");
    const Finished finished = child.finish();
    EXPECT_EQ(finished.status, 0);
    EXPECT_EQ(file("Output.ROM"), "\x10\x00\xff"s + encode("WORLD", 63) + "\x05");
}

TEST_F(Shifter, RomNamedShiftedBinIsNeverEmptied) {
    const std::string message = crLf(invocationName() + ": Can't open output file\n");
    for (const char* how : {"plain", "symlink", "hardlink"}) {
        TempDir place;
        const std::string rom = place.file(std::string(how) == "plain" ? "Shifted.BIN" : "game.rom");
        writeFile(rom, kOneMatch);
        const std::string link = place.file("Shifted.BIN");
        if (std::string(how) == "symlink") {
            ASSERT_EQ(::symlink(rom.c_str(), link.c_str()), 0);
        } else if (std::string(how) == "hardlink") {
            ASSERT_EQ(::link(rom.c_str(), link.c_str()), 0);
        }
        const Finished finished = runProgram({rom}, place.path(), "HELLO\ny\ny\n");
        EXPECT_EQ(finished.status, 1) << how;
        EXPECT_EQ(finished.err, message) << how;
        EXPECT_EQ(readFile(rom), kOneMatch) << how;
    }
}

TEST_F(Shifter, RomNamedOutputRomIsReplacedByTheShiftBack) {
    const Finished finished = run(kOneMatch, "HELLO\ny\ny\n", "Output.ROM");
    EXPECT_EQ(finished.status, 0);
    EXPECT_EQ(file("Output.ROM"), kOneMatch);
}

TEST_F(Shifter, FailedWritesAreReportedAndStopTheDialogue) {
    const std::string message = crLf(invocationName() + ": Can't write output file\n");
    ASSERT_EQ(::symlink("/dev/full", dir.file("Shifted.BIN").c_str()), 0);
    const Finished shiftFailed = run(kOneMatch, "HELLO\ny\ny\n");
    EXPECT_EQ(shiftFailed.status, 1);
    EXPECT_EQ(shiftFailed.err, message);
    EXPECT_EQ(shiftFailed.out, crLf(kSearched + matchLine(3, 63) + kClosing + kShiftQuestion));

    ::unlink(dir.file("Shifted.BIN").c_str());
    ASSERT_EQ(::symlink("/dev/full", dir.file("Output.ROM").c_str()), 0);
    const Finished backFailed = run(kOneMatch, "HELLO\ny\ny\n");
    EXPECT_EQ(backFailed.status, 1);
    EXPECT_EQ(backFailed.err, message);
    EXPECT_EQ(backFailed.out, crLf(kSearched + matchLine(3, 63) + kClosing + kShiftQuestion +
                                   shiftedBy(-63) + kShiftBackQuestion));
}

TEST_F(Shifter, DirectoriesInTheWayAreOpenErrors) {
    const std::string message = crLf(invocationName() + ": Can't open output file\n");
    ASSERT_EQ(::mkdir(dir.file("Shifted.BIN").c_str(), 0755), 0);
    const Finished shifted = run(kOneMatch, "HELLO\ny\ny\n");
    EXPECT_EQ(shifted.status, 1);
    EXPECT_EQ(shifted.err, message);

    ASSERT_EQ(::rmdir(dir.file("Shifted.BIN").c_str()), 0);
    ASSERT_EQ(::mkdir(dir.file("Output.ROM").c_str(), 0755), 0);
    const Finished output = run(kOneMatch, "HELLO\ny\ny\n");
    EXPECT_EQ(output.status, 1);
    EXPECT_EQ(output.err, message);
    EXPECT_EQ(file("Shifted.BIN"), shiftAll(kOneMatch, -63));
}

}  // namespace
}  // namespace glyphound::testing
