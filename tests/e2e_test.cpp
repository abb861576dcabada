// Runs the built program in a temporary directory with scripted input and
// checks the exact bytes it writes, its exit status and the files it leaves.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "expected_text.hpp"
#include "process.hpp"

namespace glyphound::testing {
namespace {

using namespace std::string_literals;

// Two HELLOs 63 above ASCII, as in the bundled sample.
const std::string kRom = "\x01\x02" + encode("HELLO", 63) + "\x00\x10"s + encode("HELLO", 63) + "\xff";

class EndToEnd : public ::testing::Test {
protected:
    Finished run(const std::vector<std::string>& arguments, const std::string& input) {
        return runProgram(arguments, dir.path(), input);
    }
    TempDir dir;
};

TEST_F(EndToEnd, UsageAndOpenErrorsWithTheirExactBytes) {
    const std::string name = invocationName();
    const std::string file = programPath().substr(programPath().find_last_of('/') + 1);
    EXPECT_EQ(name.substr(name.size() - file.size()), file);
    const Finished usage = run({"a", "b"}, "");
    EXPECT_EQ(usage.status, 1);
    EXPECT_EQ(usage.err, crLf("Usage: " + name + " [file]\n"));
    EXPECT_EQ(usage.out, "");

    ::mkdir(dir.file("folder").c_str(), 0755);
    for (const char* rom : {"missing.rom", "folder"}) {
        const Finished missing = run({rom}, "HELLO\n");
        EXPECT_EQ(missing.status, 1) << rom;
        EXPECT_EQ(missing.err, crLf(name + ": Can't open input file\n")) << rom;
        EXPECT_EQ(missing.out, "") << rom;
    }
}

TEST_F(EndToEnd, FullDialogueForAFile) {
    writeFile(dir.file("game.rom"), kRom);
    const Finished finished = run({"game.rom"}, "ab\r\nHELLO\r\nn\r\n");
    EXPECT_EQ(finished.status, 0);
    EXPECT_EQ(finished.err, "");
    EXPECT_EQ(finished.out, crLf(kBanner + kPrompt + kPrompt + "\n" + matchLine(2, 63) +
                                 matchLine(9, 63) + kClosing + kShiftQuestion));
}

TEST_F(EndToEnd, StandardStreamModeScansTheTranslatedInput) {
    // The space that ends the word is offset 0; CR LF in the data reads as LF.
    const Finished finished = run({}, "HELLO \r\n" + encode("HELLO", 63) + "\r\n");
    EXPECT_EQ(finished.status, 0);
    EXPECT_EQ(finished.out,
              crLf(kBanner + kPrompt + "\n" + matchLine(2, 63) + kClosing + kShiftQuestion));
}

TEST_F(EndToEnd, ControlZInStandardInputIsData) {
    // 0x1A ends text input in some C runtimes; here it is a byte like any other.
    const std::string data = "\x1a" + encode("HELLO", 63) + "\x1a" + encode("HELLO", 63);
    const Finished finished = run({}, "HELLO " + data);
    EXPECT_EQ(finished.out, crLf(kBanner + kPrompt + "\n" + matchLine(2, 63) + matchLine(8, 63) +
                                 kClosing + kShiftQuestion));
}

TEST_F(EndToEnd, EndOfInputBeforeASearchStringIsAnError) {
    writeFile(dir.file("game.rom"), kRom);
    for (const std::string& input : {std::string(""), std::string("ab"), std::string("\0", 1)}) {
        const Finished finished = run({"game.rom"}, input);
        EXPECT_EQ(finished.status, 1);
        EXPECT_EQ(finished.err, crLf(invocationName() + ": No search string entered\n"));
    }
}

TEST_F(EndToEnd, ReadErrorWhileScanningIsReported) {
    // Reading a process's own memory at offset 0 fails with an I/O error.
    const Finished finished = run({"/proc/self/mem"}, "HELLO\n");
    EXPECT_EQ(finished.status, 1);
    EXPECT_EQ(finished.err, crLf(invocationName() + ": Can't read input file\n"));
}

TEST_F(EndToEnd, ClosedOutputPipeDoesNotEndTheRun) {
    writeFile(dir.file("game.rom"), kRom);
    Child child(programCommand({"game.rom"}), dir.path(), {true});
    child.send("HELLO\nn\n");
    EXPECT_EQ(child.finish().status, 0);
}

TEST_F(EndToEnd, EmptyArgumentVectorUsesTheProgramName) {
    if (std::getenv("GLYPHOUND_EMULATOR")) GTEST_SKIP() << "needs a direct exec";
    int err[2];
    ASSERT_EQ(::pipe(err), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(err[1], 2);
        const int devnull = ::open("/dev/null", O_RDWR);
        ::dup2(devnull, 0);
        ::dup2(devnull, 1);
        char* const noArguments[] = {nullptr};
        ::execv(programPath().c_str(), noArguments);
        ::_exit(127);
    }
    ::close(err[1]);
    std::string errors;
    char buffer[256];
    for (ssize_t got; (got = ::read(err[0], buffer, sizeof buffer)) > 0;) errors.append(buffer, got);
    ::close(err[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(errors, crLf("glyphound: No search string entered\n"));
}

// The console pause, on a pseudo-terminal that plays the user's console.
class ConsolePause : public EndToEnd {
protected:
    void SetUp() override {
        if (std::getenv("GLYPHOUND_EMULATOR")) GTEST_SKIP() << "the emulator's console host rewrites the terminal";
    }
    // Starts the program on a new terminal; returns the terminal's master side.
    int start(const std::vector<std::string>& arguments) {
        const std::vector<std::string> command = programCommand(arguments);
        pid_ = ::forkpty(&master_, nullptr, nullptr, nullptr);
        if (pid_ == 0) {
            std::vector<char*> argv;
            for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
            argv.push_back(nullptr);
            if (::chdir(dir.path().c_str()) == 0) ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
        return master_;
    }
    // Reads the terminal until `text` shows; time-based, since a closed
    // terminal answers every poll at once.
    bool waitForScreen(const std::string& text, double seconds = 10) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (screen_.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
            pollfd fd{master_, POLLIN, 0};
            char buffer[4096];
            const ssize_t got = ::poll(&fd, 1, 10) > 0 ? ::read(master_, buffer, sizeof buffer) : 0;
            if (got > 0)
                screen_.append(buffer, static_cast<std::size_t>(got));
            else
                ::usleep(10000);
        }
        return screen_.find(text) != std::string::npos;
    }
    bool exited(int& status, double seconds) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        do {
            waitForScreen("\x01", 0.01);  // keeps the terminal drained
            int raw = 0;
            if (::waitpid(pid_, &raw, WNOHANG) == pid_) {
                status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
                return true;
            }
        } while (std::chrono::steady_clock::now() < deadline);
        return false;
    }
    void TearDown() override {
        if (pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (master_ >= 0) ::close(master_);
    }
    void type(const std::string& text) { ASSERT_EQ(::write(master_, text.data(), text.size()), static_cast<ssize_t>(text.size())); }

    int master_ = -1;
    pid_t pid_ = -1;
    std::string screen_;
};

TEST_F(ConsolePause, WaitsForEnterAfterTheLastAnswer) {
    writeFile(dir.file("game.rom"), kRom);
    start({"game.rom"});
    ASSERT_TRUE(waitForScreen("3-16: "));
    type("HELLO\n");
    ASSERT_TRUE(waitForScreen("(Y/N) "));
    type("n and the rest of the line\n");
    ASSERT_TRUE(waitForScreen("Press Enter to continue"));
    int status = -1;
    EXPECT_FALSE(exited(status, 0.3)) << "ended without waiting for Enter";
    type("\n");
    ASSERT_TRUE(exited(status, 10));
    EXPECT_EQ(status, 0);
}

TEST_F(ConsolePause, WaitsEvenAfterTheConsoleInputEnded) {
    writeFile(dir.file("game.rom"), kRom);
    start({"game.rom"});
    ASSERT_TRUE(waitForScreen("3-16: "));
    type("\x04");  // end of input at the prompt: no search string
    ASSERT_TRUE(waitForScreen("Press Enter to continue"));
    int status = -1;
    EXPECT_FALSE(exited(status, 0.3));
    type("\n");
    ASSERT_TRUE(exited(status, 10)) << screen_;
    EXPECT_EQ(status, 1);
}

}  // namespace
}  // namespace glyphound::testing
