// What no input, answer or interruption may do: crash, hang, grow without
// bound, or damage a file the program should not touch.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <random>

#include "expected_text.hpp"
#include "process.hpp"

namespace glyphound::testing {
namespace {

using namespace std::string_literals;

std::string randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

std::string shiftAll(std::string bytes, int amount) {
    for (char& c : bytes) c = static_cast<char>(static_cast<unsigned char>(c) + amount);
    return bytes;
}

bool isPrefix(const std::string& part, const std::string& whole) {
    return part.size() <= whole.size() && whole.compare(0, part.size(), part) == 0;
}

// Random bytes with one HELLO 63 above ASCII: one match, amount -63.
std::string romWithOneMatch(std::size_t size, unsigned seed) {
    std::string rom = randomBytes(size, seed);
    rom.replace(1000, 5, encode("HELLO", 63));
    return rom;
}

off_t sizeOf(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_size : -1;
}

class Interrupted : public ::testing::Test {
protected:
    static constexpr std::size_t kRomSize = 32 << 20;

    void clearOutputs() {
        ::unlink(dir.file("Shifted.BIN").c_str());
        ::unlink(dir.file("Output.ROM").c_str());
    }
    // Kills the child once `output` holds at least `bytes` bytes (or it ended).
    static void killWhenWritten(Child& child, const std::string& output, off_t bytes) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (child.running() && sizeOf(output) < bytes && std::chrono::steady_clock::now() < deadline) {
        }
        child.kill();
    }
    // Runs one dialogue and kills it during the shift pass (stage 0), while
    // it waits for the shift-back answer (1) or during the shift-back pass (2).
    void killDuring(int stage, const std::string& romName, std::mt19937& random) {
        const auto somewhere = static_cast<off_t>(random() % kRomSize);
        Child child(programCommand({romName}), dir.path());
        child.send(stage == 2 ? "HELLO\ny\ny\n" : "HELLO\ny\n");
        if (stage == 0) return killWhenWritten(child, dir.file("Shifted.BIN"), somewhere);
        if (stage == 2) return killWhenWritten(child, dir.file("Output.ROM"), somewhere);
        ASSERT_TRUE(child.waitForOutput(kShiftBackQuestion));
        child.kill();
    }
    TempDir dir;
};

TEST_F(Interrupted, KilledAnywhereTheRomStaysIntactAndOutputsArePrefixes) {
    const std::string rom = romWithOneMatch(kRomSize, 1);
    const std::string shifted = shiftAll(rom, -63);
    writeFile(dir.file("game.rom"), rom);
    std::mt19937 random(2026);
    int shiftedCut = 0, outputCut = 0;
    for (int trial = 0; trial < 30; ++trial) {
        clearOutputs();
        killDuring(trial % 3, "game.rom", random);
        ASSERT_EQ(readFile(dir.file("game.rom")), rom) << "trial " << trial;
        if (fileExists(dir.file("Shifted.BIN"))) {
            const std::string partial = readFile(dir.file("Shifted.BIN"));
            ASSERT_TRUE(isPrefix(partial, shifted)) << "trial " << trial;
            shiftedCut += partial.size() < shifted.size();
        }
        if (fileExists(dir.file("Output.ROM"))) {
            const std::string partial = readFile(dir.file("Output.ROM"));
            ASSERT_TRUE(isPrefix(partial, rom)) << "trial " << trial;
            outputCut += partial.size() < rom.size();
        }
    }
    // The kills did land inside the passes.
    EXPECT_GT(shiftedCut, 0);
    EXPECT_GT(outputCut, 0);
    RecordProperty("ShiftedCutShort", shiftedCut);
    RecordProperty("OutputCutShort", outputCut);
}

// A ROM named Output.ROM is replaced by the shift-back pass, as the name
// promises; killed during that pass it holds a prefix of its own bytes.
TEST_F(Interrupted, RomNamedOutputRomHoldsAPrefixOfItself) {
    const std::string rom = romWithOneMatch(kRomSize, 2);
    std::mt19937 random(7);
    for (int trial = 0; trial < 10; ++trial) {
        writeFile(dir.file("Output.ROM"), rom);
        ::unlink(dir.file("Shifted.BIN").c_str());
        killDuring(2, "Output.ROM", random);
        ASSERT_TRUE(isPrefix(readFile(dir.file("Output.ROM")), rom)) << "trial " << trial;
    }
}

class DiskFull : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0 || ::mount("glyphound", disk.path().c_str(), "tmpfs", 0, "size=256k") != 0)
            GTEST_SKIP() << "can't mount a small tmpfs here";
        mounted = true;
    }
    void TearDown() override {
        if (mounted) ::umount(disk.path().c_str());
    }
    TempDir disk;
    TempDir home;
    bool mounted = false;
};

TEST_F(DiskFull, EitherPassFailsCleanlyAndTheRomIsUntouched) {
    const std::string message = crLf(invocationName() + ": Can't write output file\n");
    for (const std::size_t size : {std::size_t{600} << 10, std::size_t{180} << 10}) {
        const std::string rom = romWithOneMatch(size, 3);
        writeFile(home.file("game.rom"), rom);
        ::unlink(disk.file("Shifted.BIN").c_str());
        ::unlink(disk.file("Output.ROM").c_str());
        const Finished finished = runProgram({home.file("game.rom")}, disk.path(), "HELLO\ny\ny\n");
        EXPECT_EQ(finished.status, 1) << size;
        EXPECT_EQ(finished.err, message) << size;
        EXPECT_EQ(readFile(home.file("game.rom")), rom);
        EXPECT_TRUE(isPrefix(readFile(disk.file("Shifted.BIN")), shiftAll(rom, -63)));
        EXPECT_TRUE(isPrefix(readFile(disk.file("Output.ROM")), rom));
        // 600 KiB can't be shifted at all; 180 KiB can, but not shifted back too.
        EXPECT_EQ(finished.out.find("Bytes shifted back") == std::string::npos, true);
    }
}

// Between the scan and the shift pass the ROM is deleted, or replaced by
// something that can't be read as a file.
TEST_F(Interrupted, RomThatGoesAwayBeforeTheShiftPassIsAnOpenError) {
    const std::string rom = dir.file("game.rom");
    const std::vector<std::function<void()>> replacements{
        [&] {},
        [&] { ASSERT_EQ(::mkfifo(rom.c_str(), 0644), 0); },
        [&] { ASSERT_EQ(::mkdir(rom.c_str(), 0755), 0); },
    };
    for (const auto& replace : replacements) {
        writeFile(rom, romWithOneMatch(4096, 4));
        Child child(programCommand({"game.rom"}), dir.path());
        child.send("HELLO\n");
        ASSERT_TRUE(child.waitForOutput(kShiftQuestion));
        std::filesystem::remove(rom);
        replace();
        child.send("y\ny\n");
        const Finished finished = child.finish(20);
        EXPECT_EQ(finished.status, 1);
        EXPECT_EQ(finished.err, crLf(invocationName() + ": Can't open input file\n"));
        EXPECT_FALSE(fileExists(dir.file("Shifted.BIN")));
        std::filesystem::remove(rom);
    }
}

struct Hostile {
    const char* what;
    std::vector<std::string> arguments;
    std::string input;
    std::vector<int> statuses;  // the acceptable ends
};

TEST(HostileInput, NeverCrashesHangsOrGrows) {
    TempDir dir;
    const std::string twoShifts = encode("HELLO", 63) + "\x01\x01"s + encode("HELLO", 10);
    writeFile(dir.file("two.rom"), twoShifts);
    writeFile(dir.file("empty.rom"), "");
    writeFile(dir.file("one.rom"), "\x41");
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0644), 0);
    ::mkdir(dir.file("folder").c_str(), 0755);
    const std::string garbage = randomBytes(1 << 20, 5);

    const Hostile cases[] = {
        {"a word of 200000 bytes", {"two.rom"}, std::string(200000, 'x'), {1}},
        {"thousands of short words", {"two.rom"}, [] { std::string s; for (int i = 0; i < 5000; ++i) s += "ab "; return s; }(), {1}},
        {"NUL at the search prompt", {"two.rom"}, "\0"s, {1}},
        {"NUL at the shift question", {"two.rom"}, "HELLO\n\0"s, {0}},
        {"NUL at the question for A", {"two.rom"}, "HELLO\ny\n\0"s, {0}},
        {"NUL at the shift-back question", {"two.rom"}, "HELLO\ny\n128\n\0"s, {0}},
        {"a line of 4 MiB of blanks", {"two.rom"}, std::string(4 << 20, ' ') + "HELLO\nn\n", {0}},
        {"binary garbage", {"two.rom"}, garbage, {0, 1}},
        {"binary garbage after a yes", {"two.rom"}, "HELLO y "s + garbage, {0, 1}},
        {"largest position of A", {"two.rom"}, "HELLO y 2147483647 y\n", {0}},
        {"position of A past 32 bits", {"two.rom"}, "HELLO y 2147483648 y\n", {0}},
        {"position of A below 32 bits", {"two.rom"}, "HELLO y -2147483649 y\n", {0}},
        {"a position of 30 digits", {"two.rom"}, "HELLO y 999999999999999999999999999999\n", {0}},
        {"an empty file", {"empty.rom"}, "HELLO\ny\n", {0}},
        {"a file of one byte", {"one.rom"}, "HELLO\ny\n", {0}},
        {"a FIFO as the ROM", {"fifo"}, "HELLO\n", {1}},
        {"a directory as the ROM", {"folder"}, "HELLO\n", {1}},
        {"a device without end as the ROM", {"/dev/zero"}, "HELLO\n", {1}},
        {"garbage scanned from standard input", {}, "HELLO "s + garbage, {0}},
    };
    // Memory is judged against a run that holds nothing, so that a
    // sanitizer's fixed overhead doesn't count as growth.
    const long baselineKiB = runProgram({"one.rom"}, dir.path(), "HELLO\n").peakKiB;
    for (const Hostile& c : cases) {
        const Finished finished = runProgram(c.arguments, dir.path(), c.input);
        EXPECT_NE(std::find(c.statuses.begin(), c.statuses.end(), finished.status), c.statuses.end())
            << c.what << ": status " << finished.status;
        EXPECT_LE(std::count(finished.err.begin(), finished.err.end(), '\n'), 1) << c.what;
        EXPECT_LT(finished.peakKiB, baselineKiB + 16 * 1024) << c.what;
        EXPECT_EQ(readFile(dir.file("two.rom")), twoShifts) << c.what;
    }
}

}  // namespace
}  // namespace glyphound::testing
