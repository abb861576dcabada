// What only a real process shows: the text rules on real descriptors, the
// console pause, the sharing rules with real links and standard streams,
// kills, a full disk, memory and offsets past 4 GiB. The dialogue's own rules
// are tested in-process. The program is GLYPHOUND_EXE, run through
// GLYPHOUND_EMULATOR when that is set (Wine for the Windows build, qemu-user
// for the ARM one).
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <random>
#include <sstream>
#include <thread>

namespace glyphound::testing {
namespace {

using namespace std::string_literals;
using std::string;

struct Finished {
    int status = -1;   // exit status, or 128 + signal
    long peakKiB = 0;  // maximum resident set
    string out, err;
};

struct Launch {
    std::vector<string> arguments;
    string directory = ".";
    bool terminal = false;  // all three streams on a new pseudo-terminal
    string stdinFrom = "", stdoutTo = "";
    bool stdinClosed = false, stdoutReaderGone = false, stdoutAppends = false, stdoutClosed = false;
    bool unprivileged = false;  // run as nobody when started as root
    int ignoredSignal = 0;      // ignored from the start, then sent once an output is being written
    string setting = "";        // NAME=VALUE in the program's environment
};

string environmentOr(const char* name, const string& fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

// Wine, which runs the Windows build, rewrites a terminal through its console
// host and takes signals itself, and Windows lacks some POSIX notions; qemu-user
// passes terminals and signals through to the program.
bool windowsBuild() {
    const string program = environmentOr("GLYPHOUND_EXE", ""), suffix = ".exe";
    return program.size() > suffix.size() && program.compare(program.size() - suffix.size(), suffix.size(), suffix) == 0;
}

double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

[[noreturn]] void execProgram(const Launch& launch) {
    std::vector<string> command;
    std::istringstream emulator(environmentOr("GLYPHOUND_EMULATOR", ""));
    for (string word; emulator >> word;) command.push_back(word);
    command.push_back(environmentOr("GLYPHOUND_EXE", "glyphound"));
    command.insert(command.end(), launch.arguments.begin(), launch.arguments.end());
    std::vector<char*> argv;
    for (string& word : command) argv.push_back(word.data());
    argv.push_back(nullptr);
    if (::chdir(launch.directory.c_str()) != 0) ::_exit(127);
    if (!launch.stdinFrom.empty()) ::dup2(::open(launch.stdinFrom.c_str(), O_RDONLY), 0);
    const int append = launch.stdoutAppends ? O_APPEND : O_TRUNC;
    if (!launch.stdoutTo.empty()) ::dup2(::open(launch.stdoutTo.c_str(), O_WRONLY | O_CREAT | append, 0644), 1);
    if (launch.stdinClosed) ::close(0);
    if (launch.stdoutClosed) ::close(1);
    if (launch.ignoredSignal) ::signal(launch.ignoredSignal, SIG_IGN);
    if (!launch.setting.empty()) ::putenv(const_cast<char*>(launch.setting.c_str()));
    // nobody, with root's group as a second one: a file of that group is
    // one whose group nobody may keep but not whose owner.
    const gid_t rootGroup = 0;
    if (launch.unprivileged && ::geteuid() == 0 &&
        (::setgroups(1, &rootGroup) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
        ::_exit(127);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
}

// A running program, driven step by step through pipes or a terminal.
class Child {
public:
    explicit Child(const Launch& launch) {
        ::signal(SIGPIPE, SIG_IGN);
        int in[2], out[2], err[2];
        if (launch.terminal) {
            if ((pid_ = ::forkpty(&in_, nullptr, nullptr, nullptr)) == 0) execProgram(launch);
            out_ = ::dup(in_);
            return;
        }
        if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC)) std::abort();
        if ((pid_ = ::fork()) == 0) {
            ::dup2(in[0], 0), ::dup2(out[1], 1), ::dup2(err[1], 2);
            execProgram(launch);
        }
        ::close(in[0]), ::close(out[1]), ::close(err[1]);
        in_ = in[1], out_ = out[0], err_ = err[0];
        if (launch.stdoutReaderGone) ::close(std::exchange(out_, -1));
    }
    ~Child() {
        kill();
        for (int fd : {in_, out_, err_})
            if (fd >= 0) ::close(fd);
    }
    void send(const string& input) {
        pending_ += input;
        pump(0);
    }
    bool waitForOutput(const string& text, double seconds = 10) {
        for (const double end = now() + seconds; result_.out.find(text) == string::npos && out_ >= 0 && now() < end;) pump(20);
        return result_.out.find(text) != string::npos;
    }
    bool running() {
        int status = 0;
        struct rusage usage {};
        if (reaped_ || ::wait4(pid_, &status, WNOHANG, &usage) != pid_) return !reaped_;
        result_.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result_.peakKiB = usage.ru_maxrss;
        return !(reaped_ = true);
    }
    int pid() const { return pid_; }
    void kill() {
        if (running()) ::kill(pid_, SIGKILL);
        while (running()) ::usleep(1000);
    }
    // Sends what is left, ends standard input and collects everything; a
    // program still running after `seconds` is killed, so a hang fails a test.
    Finished finish(double seconds = 60) {
        const double end = now() + seconds;
        while (!pending_.empty() && in_ >= 0 && now() < end) pump(20);
        ::close(std::exchange(in_, -1));
        while ((out_ >= 0 || err_ >= 0) && now() < end) pump(20);
        kill();
        return result_;
    }

private:
    void pump(int timeoutMs) {
        pollfd fds[3];
        int count = 0;
        for (int fd : {out_, err_})
            if (fd >= 0) fds[count++] = {fd, POLLIN, 0};
        if (in_ >= 0 && !pending_.empty()) fds[count++] = {in_, POLLOUT, 0};
        if (count == 0 || ::poll(fds, count, timeoutMs) <= 0) return;
        for (int i = 0; i < count; ++i) {
            if (!fds[i].revents) continue;
            if (fds[i].events == POLLOUT) {
                const ssize_t put = ::write(in_, pending_.data(), pending_.size());
                pending_.erase(0, put < 0 ? pending_.size() : static_cast<std::size_t>(put));
                continue;
            }
            int& fd = fds[i].fd == out_ ? out_ : err_;
            char buffer[65536];
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got <= 0) ::close(std::exchange(fd, -1));
            else (&fd == &out_ ? result_.out : result_.err).append(buffer, static_cast<std::size_t>(got));
        }
    }

    int pid_ = -1, in_ = -1, out_ = -1, err_ = -1;
    string pending_;
    Finished result_;
    bool reaped_ = false;
};

bool writingAnOutput(const string& directory) {
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        if (entry.path().filename().string()[0] == '.') return true;
    return false;
}

Finished run(const Launch& launch, const string& input = "") {
    Child child(launch);
    child.send(input);
    for (const double end = now() + 10; launch.ignoredSignal && !writingAnOutput(launch.directory) && now() < end;)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (launch.ignoredSignal) ::kill(child.pid(), launch.ignoredSignal);
    return child.finish();
}

// The name the program calls itself in its messages; an emulator may hand it
// another (Wine gives a Windows path), so it is read from the usage line.
string invocationName() {
    static const string name = [] {
        const string usage = run({{"a", "b"}}).err, prefix = "Usage: ", suffix = " [file]\r\n";
        return usage.substr(prefix.size(), usage.size() - prefix.size() - suffix.size());
    }();
    return name;
}

struct TempDir {
    TempDir() {
        path = (std::filesystem::temp_directory_path() / "glyphound-XXXXXX").string();
        if (!::mkdtemp(path.data())) std::abort();
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    string file(const string& name) const { return path + "/" + name; }
    string path;
};

void writeFile(const string& path, const string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
string readFile(const string& path) {
    std::stringstream all;
    all << std::ifstream(path, std::ios::binary).rdbuf();
    return all.str();
}
bool fileExists(const string& path) { return std::filesystem::exists(std::filesystem::symlink_status(path)); }

string moved(string bytes, int amount) {
    for (char& c : bytes) c = static_cast<char>(static_cast<unsigned char>(c) + amount);
    return bytes;
}

bool isPrefix(const string& part, const string& whole) { return whole.compare(0, part.size(), part) == 0; }

const string kOneMatch = "\x10\x00\xff"s + moved("HELLO", 63) + "\x05";
const string kBackQuestion = "Would you now like to shift it back? (Y/N) ";

TEST(TextRules, StandardStreamsTranslateLineEndsAndKeepControlZ) {
    const Finished finished = run({{}}, "HELLO \r\n\x1a" + moved("HELLO", 63) + "\r\n");
    EXPECT_EQ(finished.status, 0);
    EXPECT_EQ(finished.err, "");
    EXPECT_EQ(finished.out,
              "\r\n\tGlyphound v1.0\r\n\t  Searches for text hidden in game ROMs and other files.\r\n"
              "\r\nEnter search string of length 3-16: \r\n"
              "Match found at offset 3, shifted by 63\tLetter 'A' in CHR Bank should be at position 128\r\n"
              "\r\nNo Further Matches Found.\r\n\r\nWould you like to Shift the bytes in the file? (Y/N) ");
}

struct Started {
    const char* what;
    std::function<void(TempDir&, Launch&)> prepare;
    string typed;
    int status;
    string error;  // after the invocation name
    std::function<void(TempDir&, const Finished&)> check;
};

const Started kStarts[] = {
    {"ROM named Shifted.BIN", [](TempDir& d, Launch& l) { writeFile(d.file("Shifted.BIN"), kOneMatch); l.arguments = {"Shifted.BIN"}; },
     "HELLO\ny\ny\n", 1, "Can't open output file", [](TempDir& d, auto&) { EXPECT_EQ(readFile(d.file("Shifted.BIN")), kOneMatch); }},
    {"Shifted.BIN a symlink to the ROM", [](TempDir& d, Launch&) { ASSERT_EQ(::symlink("game.rom", d.file("Shifted.BIN").c_str()), 0); },
     "HELLO\ny\ny\n", 1, "Can't open output file", [](TempDir& d, auto&) { EXPECT_EQ(readFile(d.file("game.rom")), kOneMatch); }},
    {"Shifted.BIN a hard link to the ROM", [](TempDir& d, Launch&) { ASSERT_EQ(::link(d.file("game.rom").c_str(), d.file("Shifted.BIN").c_str()), 0); },
     "HELLO\ny\ny\n", 1, "Can't open output file", [](TempDir& d, auto&) { EXPECT_EQ(readFile(d.file("game.rom")), kOneMatch); }},
    {"answers read from Shifted.BIN", [](TempDir& d, Launch& l) { writeFile(d.file("Shifted.BIN"), "HELLO\ny\ny\n"); l.stdinFrom = "Shifted.BIN"; },
     "", 1, "Can't open output file", [](TempDir& d, auto&) { EXPECT_EQ(readFile(d.file("Shifted.BIN")), "HELLO\ny\ny\n"); }},
    {"console text written to Output.ROM", [](TempDir&, Launch& l) { l.stdoutTo = "Output.ROM"; },
     "HELLO\ny\ny\n", 1, "Can't open output file", [](TempDir& d, auto&) {
         const string printed = readFile(d.file("Output.ROM"));
         EXPECT_EQ(printed.substr(0, 7), "\r\n\tGlyp");
         EXPECT_EQ(printed.substr(printed.size() - kBackQuestion.size()), kBackQuestion);
     }},
    {"closed standard input", [](TempDir& d, Launch& l) { writeFile(d.file("game.rom"), "ABC y y " + kOneMatch); l.stdinClosed = true; },
     "", 1, "No search string entered", [](TempDir& d, auto&) { EXPECT_FALSE(fileExists(d.file("Shifted.BIN"))); }},
    {"Shifted.BIN a link to the null device", [](TempDir& d, Launch&) { ASSERT_EQ(::symlink("/dev/null", d.file("Shifted.BIN").c_str()), 0); },
     "HELLO\ny\ny\n", 0, "", [](TempDir& d, const Finished& f) {
         EXPECT_TRUE(fileExists(d.file("Output.ROM")));
         EXPECT_EQ(readFile(d.file("Output.ROM")), "");
         EXPECT_NE(f.out.find("Bytes shifted back"), string::npos);
     }},
    {"ROM named Output.ROM", [](TempDir& d, Launch& l) { writeFile(d.file("Output.ROM"), kOneMatch); l.arguments = {"Output.ROM"}; },
     "HELLO\ny\ny\n", 0, "", [](TempDir& d, auto&) { EXPECT_EQ(readFile(d.file("Output.ROM")), kOneMatch); }},
    {"a directory in the way", [](TempDir& d, Launch&) { ::mkdir(d.file("Output.ROM").c_str(), 0755); },
     "HELLO\ny\ny\n", 1, "Can't open output file", [](TempDir& d, auto&) { EXPECT_EQ(readFile(d.file("Shifted.BIN")), moved(kOneMatch, -63)); }},
    {"ROM a FIFO", [](TempDir& d, Launch& l) { ::mkfifo(d.file("fifo").c_str(), 0644); l.arguments = {"fifo"}; },
     "HELLO\n", 1, "Can't open input file", [](TempDir&, auto&) {}},
    {"ROM a directory", [](TempDir&, Launch& l) { l.arguments = {"."}; }, "HELLO\n", 1, "Can't open input file", [](TempDir&, auto&) {}},
    {"ROM a device without end", [](TempDir&, Launch& l) { l.arguments = {"/dev/zero"}; }, "HELLO\n", 1, "Can't open input file",
     [](TempDir&, auto&) {}},
    {"nobody reads the output", [](TempDir&, Launch& l) { l.stdoutReaderGone = true; }, "HELLO\ny\nn\n", 0, "",
     [](TempDir& d, auto&) { EXPECT_TRUE(fileExists(d.file("Shifted.BIN"))); }},
};

TEST(Started, FilesAndStandardStreamsFollowTheSharingRules) {
    for (const Started& s : kStarts) {
        SCOPED_TRACE(s.what);
        TempDir dir;
        writeFile(dir.file("game.rom"), kOneMatch);
        Launch launch{{"game.rom"}, dir.path};
        s.prepare(dir, launch);
        const Finished finished = run(launch, s.typed);
        EXPECT_EQ(finished.status, s.status);
        EXPECT_EQ(finished.err, s.error.empty() ? "" : invocationName() + ": " + s.error + "\r\n");
        s.check(dir, finished);
    }
}

// The commands' files: replaced whole or not at all, never one being read.
struct CommandLine {
    const char* what;
    std::vector<string> arguments;
    std::function<void(TempDir&, Launch&)> prepare;
    string typed;
    int status;
    std::optional<string> out;  // left to `check` when absent
    string errorStart;          // a reason must follow when it ends in ": "
    std::function<void(TempDir&, const Finished&)> check;
    bool posixOnly = false;  // Windows has no such notion, or Wine no such means
};

const string kGameBytes = "\r\n\x1a\x00"s + moved("HELLO", 63) + "\n";
const string kGameHit = "0x00000004: HELLO  A=0x80  \"....HELLO.\"\n", kOneHit = "\nValues found:\n  A=0x80  1 hit\n";
const auto kNothing = [](TempDir&, Launch&) {};
const auto kGameUntouched = [](TempDir& d, const Finished&) { EXPECT_EQ(readFile(d.file("game.rom")), kGameBytes); };
const string kLongName(250, 'n');

void makeFifo(const string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0); }

// A game of 32 KiB of PRG: HELLO and WORLD in a font at 0x80 and ended by
// 0xFF, at 0x8100 and 0x8106 in the CPU's view, a table of pointers to them
// at 0x8040, and 64 free bytes of 0xFF at 0x8200; with its table, and a
// script `s.txt` of its strings as dump --pointers writes it, edited.
std::function<void(TempDir&, Launch&)> pointedGame(const string& second, const string& places = "0x00000052") {
    return [=](TempDir& d, Launch&) {
        string rom = "NES\x1a\x02\x01"s + string(10, '\0') + string(0x8000, '\0');
        rom.replace(16 + 0x100, 12, moved("HELLO", 0x3F) + "\xff" + moved("WORLD", 0x3F) + "\xff");
        rom.replace(16 + 0x40, 4, "\x00\x81\x06\x81"s);
        rom.replace(16 + 0x200, 64, string(64, '\xff'));
        writeFile(d.file("game.nes"), rom);
        writeFile(d.file("game.tbl"), "/FF=<END>\n5F= \n87=H\n84=E\n8B=L\n8E=O\n96=W\n91=R\n83=D\n80=A\n");
        writeFile(d.file("s.txt"), "#pointers nes 16 le\n@0x00000110 6\n#ptr 0x00000050\nHELLO<END>\n@0x00000116 6\n#ptr " +
                                       places + "\n" + second + "\n");
    };
}
const auto kNoOutput = [](TempDir& d, const Finished&) { EXPECT_FALSE(fileExists(d.file("out.nes"))); };
// Writes `bytes` into a FIFO from another process after a while, as a writer
// that comes late; or holds it open without writing for that while.
void feedFifoLater(const string& path, const string& bytes, int milliseconds) {
    if (::fork() != 0) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(bytes.empty() ? 0 : milliseconds));
    const int fd = ::open(path.c_str(), O_RDWR);
    if (::write(fd, bytes.data(), bytes.size()) < 0 || bytes.empty())
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    ::_exit(0);
}

// By hand: the BPS patch of the game with WORLD in place of HELLO.
const string kWorldBytes = "\r\n\x1a\x00"s + moved("WORLD", 63) + "\n";
const string kWorldPatch = "BPS1\x8a\x8a\x80\x8c\x91\x96\x8e\x91\x8b\x83\x80\x09\xef\x1f\xbb\x20\xef\x2f\xb3\x73\xe2\x3e\xb9"s;

const CommandLine kCommandLines[] = {
    {"a patch made from files mapped", {"patch", "create", "game.rom", "world.rom", "-o", "p.ips"},
     [](TempDir& d, Launch&) { writeFile(d.file("world.rom"), kWorldBytes); }, "", 0, "", "",
     [](TempDir& d, const Finished&) { EXPECT_EQ(readFile(d.file("p.ips")), "PATCH\x00\x00\x04\x00\x05"s + kWorldBytes.substr(4, 5) + "EOF"); }},
    {"a patch applied to a file mapped", {"patch", "apply", "p.bps", "game.rom", "-o", "out.rom"},
     [](TempDir& d, Launch&) { writeFile(d.file("p.bps"), kWorldPatch); }, "", 0, "", "",
     [](TempDir& d, const Finished&) { EXPECT_EQ(readFile(d.file("out.rom")), kWorldBytes); }},
    {"a patch's result over its original", {"patch", "apply", "p.bps", "game.rom", "-o", "game.rom"},
     [](TempDir& d, Launch&) { writeFile(d.file("p.bps"), kWorldPatch); }, "", 2, "", "glyphound: game.rom: ", kGameUntouched},
    {"output replaced whole", {"shift", "--by", "-63", "game.rom", "out.bin"},
     [](TempDir& d, Launch&) { writeFile(d.file("out.bin"), "old"); }, "", 0, "", "",
     [](TempDir& d, const Finished&) {
         EXPECT_EQ(readFile(d.file("out.bin")), moved(kGameBytes, -63));
         EXPECT_EQ(std::distance(std::filesystem::directory_iterator(d.path), {}), 2);
     }},
    {"output a hard link to the input", {"shift", "--by", "1", "game.rom", "link.rom"},
     [](TempDir& d, Launch&) { ASSERT_EQ(::link(d.file("game.rom").c_str(), d.file("link.rom").c_str()), 0); }, "", 2,
     "", "glyphound: link.rom: ", kGameUntouched},
    {"output read as standard input", {"shift", "--by", "1", "-", "game.rom"},
     [](TempDir&, Launch& l) { l.stdinFrom = "game.rom"; }, "", 2, "", "glyphound: game.rom: ", kGameUntouched},
    {"standard input and output one file", {"shift", "--A", "128", "-", "-"},
     [](TempDir&, Launch& l) { l.stdinFrom = l.stdoutTo = "game.rom", l.stdoutAppends = true; }, "", 2, "",
     "glyphound: -: Input and output are the same file\n", kGameUntouched},
    {"table onto a full device", {"table", "-o", "/dev/full", "HELLO", "game.rom"}, kNothing, "", 2, "",
     "glyphound: /dev/full: No space left on device\n", kGameUntouched, true},
    {"table over a file it searches", {"table", "-o", "game.rom", "HELLO", "game.rom"}, kNothing, "", 2, "",
     "glyphound: game.rom: ", kGameUntouched},
    {"table in the tree it walks", {"table", "-o", "out.tbl", "-r", "HELLO", "."},
     [](TempDir& d, Launch&) { writeFile(d.file("out.tbl"), "old"); }, "", 0, "", "",
     [](TempDir& d, const Finished&) { EXPECT_EQ(readFile(d.file("out.tbl")).substr(0, 6), "80=A\r\n"); }},
    {"standard streams are raw bytes", {"shift", "--by", "1", "-", "-"}, kNothing, kGameBytes, 0, moved(kGameBytes, 1),
     "", kGameUntouched},
    {"closed standard output", {"shift", "--A", "128", "game.rom", "-"},
     [](TempDir&, Launch& l) { l.stdoutClosed = true; }, "", 2, std::nullopt, "glyphound: -: ", kGameUntouched},
    // Windows finds the closed handle only when help is written, and names it so.
    {"help to a closed standard output", {"help"}, [](TempDir&, Launch& l) { l.stdoutClosed = true; }, "", 2, std::nullopt,
     "glyphound: ", kGameUntouched},
    {"closed standard input", {"shift", "--A", "128", "-", "out.bin"}, [](TempDir&, Launch& l) { l.stdinClosed = true; },
     "", 2, "", "glyphound: -: ", [](TempDir& d, const Finished&) { EXPECT_FALSE(fileExists(d.file("out.bin"))); }},
    {"nobody reads the hits", {"find", "HELLO", "game.rom"}, [](TempDir&, Launch& l) { l.stdoutReaderGone = true; },
     "", 2, std::nullopt, "", kGameUntouched},
    {"a signal ignored at start", {"shift", "--A", "128", "-", "out.bin"},
     [](TempDir&, Launch& l) { l.ignoredSignal = SIGHUP; }, kGameBytes, 0, "", "",
     [](TempDir& d, const Finished&) { EXPECT_EQ(readFile(d.file("out.bin")), moved(kGameBytes, -63)); }, true},
    {"a byte order mark in a word file", {"find", "-f", "words.txt", "game.rom"},
     [](TempDir& d, Launch&) { writeFile(d.file("words.txt"), "\xef\xbb\xbfHELLO\r\n"); }, "", 0, kGameHit + kOneHit, "",
     kGameUntouched},
    {"an output name of 250 bytes", {"shift", "--A", "128", "game.rom", kLongName}, kNothing, "", 0, "", "",
     [](TempDir& d, const Finished&) { EXPECT_EQ(readFile(d.file(kLongName)), moved(kGameBytes, -63)); }},
    {"an output the user may not write", {"shift", "--A", "128", "game.rom", "prot.rom"},
     [](TempDir& d, Launch& l) {
         writeFile(d.file("prot.rom"), "old");
         ::chmod(d.file("prot.rom").c_str(), 0444);
         ::chmod(d.path.c_str(), 0777);
         l.unprivileged = true;
     },
     "", 2, "", "glyphound: prot.rom: ", [](TempDir& d, const Finished&) { EXPECT_EQ(readFile(d.file("prot.rom")), "old"); },
     true},
    {"an output keeps its owner", {"shift", "--A", "128", "game.rom", "theirs.rom"},
     [](TempDir& d, Launch&) {
         writeFile(d.file("theirs.rom"), "old");
         if (::chown(d.file("theirs.rom").c_str(), 65534, 65534) != 0) GTEST_SKIP();
     },
     "", 0, "", "",
     [](TempDir& d, const Finished&) {
         struct stat status {};
         ASSERT_EQ(::stat(d.file("theirs.rom").c_str(), &status), 0);
         EXPECT_EQ(std::pair(status.st_uid, status.st_gid), std::pair(uid_t{65534}, gid_t{65534}));
     }, true},
    {"an output keeps the group its new owner is in", {"shift", "--A", "128", "game.rom", "ours.rom"},
     [](TempDir& d, Launch& l) {
         writeFile(d.file("ours.rom"), "old");
         ::chmod(d.file("ours.rom").c_str(), 0666);
         ::chmod(d.path.c_str(), 0777);
         l.unprivileged = true;
     },
     "", 0, "", "",
     [](TempDir& d, const Finished&) {
         struct stat status {};
         ASSERT_EQ(::stat(d.file("ours.rom").c_str(), &status), 0);
         EXPECT_EQ(status.st_gid, ::getegid());
     }, true},
    {"an output through a link", {"shift", "--A", "128", "game.rom", "link.rom"},
     [](TempDir& d, Launch&) { ASSERT_EQ(::symlink("real.rom", d.file("link.rom").c_str()), 0); }, "", 0, "", "",
     [](TempDir& d, const Finished&) {
         EXPECT_EQ(readFile(d.file("real.rom")), moved(kGameBytes, -63));
         EXPECT_TRUE(std::filesystem::is_symlink(d.file("link.rom")));
     }, true},
    {"help alone", {"help"}, kNothing, "", 0, std::nullopt, "",
     [](TempDir&, const Finished& f) { EXPECT_TRUE(isPrefix("Commands:\n  find ", f.out)) << f.out; }},
    {"help with an extra operand", {"help", "find", "table"}, kNothing, "", 2, "",
     "glyphound help: unexpected operand: table\n", kGameUntouched},
    {"a walk in name order", {"find", "-r", "HELLO", "."},
     [](TempDir& d, Launch&) {
         ::mkdir(d.file("sub").c_str(), 0755);
         writeFile(d.file("sub/b.rom"), kGameBytes);
     },
     "", 0, "./game.rom:" + kGameHit + "./sub/b.rom:" + kGameHit + "\nValues found:\n  A=0x80  2 hits\n", "",
     kGameUntouched},
    {"a walk of the current folder", {"find", "-r", "HELLO"}, kNothing, "", 0, "game.rom:" + kGameHit + kOneHit, "",
     kGameUntouched},
    {"a folder named twice is walked once", {"find", "-r", "HELLO", ".", "."}, kNothing, "", 0,
     "./game.rom:" + kGameHit + kOneHit, "", kGameUntouched},
    {"a walk follows no link", {"find", "-r", "HELLO", "t"},
     [](TempDir& d, Launch&) {
         ::mkdir(d.file("t").c_str(), 0755);
         writeFile(d.file("t/b.rom"), kGameBytes);
         for (const char* link : {"t/l1", "t/l2"}) ASSERT_EQ(::symlink(".", d.file(link).c_str()), 0);
         ASSERT_EQ(::symlink("..", d.file("t/up").c_str()), 0);
     },
     "", 0, "t/b.rom:" + kGameHit + kOneHit, "", kGameUntouched, true},
    {"a walk passes FIFOs, sockets and devices by", {"find", "-r", "HELLO", "."},
     [](TempDir& d, Launch&) {
         makeFifo(d.file("fifo"));
         feedFifoLater(d.file("fifo"), "", 3000);
         ASSERT_EQ(::symlink("/dev/zero", d.file("zero").c_str()), 0);
         sockaddr_un address{AF_UNIX, {}};
         d.file("socket").copy(address.sun_path, sizeof address.sun_path - 1);
         ASSERT_EQ(::bind(::socket(AF_UNIX, SOCK_STREAM, 0), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
     },
     "", 0, "./game.rom:" + kGameHit + kOneHit, "", kGameUntouched, true},
    {"a FIFO waits for its writer", {"find", "HELLO", "fifo"},
     [](TempDir& d, Launch&) {
         makeFifo(d.file("fifo"));
         feedFifoLater(d.file("fifo"), kGameBytes, 300);
     },
     "", 0, kGameHit + kOneHit, "", kGameUntouched, true},
    {"hits kept while an earlier file is read", {"find", "AAA", "fifo", "zeros.bin"},
     [](TempDir& d, Launch& l) {
         makeFifo(d.file("fifo"));
         feedFifoLater(d.file("fifo"), "", 1500);
         writeFile(d.file("zeros.bin"), string(1 << 20, '\0'));
         l.stdoutTo = "/dev/null";
         l.setting = "ASAN_OPTIONS=quarantine_size_mb=1";  // freed memory counts only while it is in use
     },
     "", 0, "", "", [](TempDir&, const Finished& f) { EXPECT_LT(f.peakKiB, 96 << 10); }, true},
    {"a kana word and name", {"find", "--json", "--width", "16be", "--order", "hiragana", "さくら", "ゲーム.bin"},
     [](TempDir& d, Launch&) { writeFile(d.file("ゲーム.bin"), "\x00\x81\x54\x81\x4E\x81\x88"s); }, "", 0,
     "{\"file\":\"ゲーム.bin\",\"offset\":1,\"word\":\"さくら\",\"values\":{\"ぁ\":33088},\"preview\":\"さくら\"}\n", "",
     kGameUntouched},
    {"guess with no word, from standard input", {"guess", "--json", "-"},
     [](TempDir& d, Launch& l) {
         writeFile(d.file("text.bin"), moved("WELCOME TO THE CASTLE. THE KING IS WAITING FOR YOU IN THE GREAT HALL.", 63));
         l.stdinFrom = "text.bin";
     },
     "", 0,
     "{\"file\":\"-\",\"values\":{\"A\":128},\"score\":75.0,\"text_bytes\":68,\"runs\":[{\"offset\":0,\"length\":68,"
     "\"preview\":\"WELCOME TO THE CASTLE. THE KING IS WAITING FOR Y\"}]}\n",
     "", kGameUntouched},
    {"a kana table", {"dump", "-t", "かな.tbl", "--start", "1", "ゲーム.bin"},
     [](TempDir& d, Launch&) {
         writeFile(d.file("ゲーム.bin"), "\x00\x81\x54\x81\x4E\x81\x88"s);
         writeFile(d.file("かな.tbl"), "\xef\xbb\xbf" "8154=さ\r\n814E=く\r\n8188=ら\r\n");
     },
     "", 0, "0x00000001: さくら\n", "", kGameUntouched},
    {"a big file, read in parts that seek", {"dump", "-t", "t.tbl", "big.rom"},
     [](TempDir& d, Launch&) {
         string big(40 << 20, '\0');
         for (std::size_t at : {5u, (16u << 20) - 2, 20u << 20, (40u << 20) - 5}) big.replace(at, 5, moved("HELLO", 63));
         writeFile(d.file("big.rom"), big);
         writeFile(d.file("t.tbl"), "87=H\n84=E\n8B=L\n8E=O\n");
     },
     "", 0, "0x00000005: HELLO\n0x00FFFFFE: HELLO\n0x01400000: HELLO\n0x027FFFFB: HELLO\n", "", kGameUntouched},
    {"encode over the table it reads", {"encode", "-t", "t.tbl", "-o", "t.tbl", "HELLO"},
     [](TempDir& d, Launch&) { writeFile(d.file("t.tbl"), "87=H\n84=E\n8B=L\n8E=O\n"); }, "", 2, "",
     "glyphound: t.tbl: Input and output are the same file\n",
     [](TempDir& d, const Finished&) { EXPECT_EQ(readFile(d.file("t.tbl")), "87=H\n84=E\n8B=L\n8E=O\n"); }},
    {"insert to standard output, a file past the read-ahead", {"insert", "-t", "t.tbl", "--script", "s.txt", "big.rom", "-"},
     [](TempDir& d, Launch&) {
         writeFile(d.file("big.rom"), moved("HELLO", 63) + "\xff" + string(4 << 20, '\0'));
         writeFile(d.file("t.tbl"), "87=H\n84=E\n8B=L\n8E=O\n/FF\n");
         writeFile(d.file("s.txt"), "@0 6\nHELLOHELLO\n");
     },
     "", 2, "", "glyphound: s.txt:2: 0x00000000: the text overflows its room of 6 bytes by 5 bytes\n", kGameUntouched},
    {"a table's strings as a script", {"dump", "-t", "game.tbl", "--map", "nes", "--pointers", "0x50:2", "--script",
     "game.nes"}, pointedGame("WORLD<END>"), "", 0,
     "#pointers nes 16 le\n@0x00000110 6\n#ptr 0x00000050\n// HELLO<END>\nHELLO<END>\n@0x00000116 6\n#ptr 0x00000052\n"
     "// WORLD<END>\nWORLD<END>\n", "", kNoOutput},
    {"pointers past the end of the file", {"dump", "-t", "game.tbl", "--map", "nes", "--pointers", "0x9000:2", "game.nes"},
     pointedGame("WORLD<END>"), "", 2, "", "glyphound: game.nes: 0x00009000: the table of pointers runs past the end of the file\n",
     kNoOutput},
    {"pointers that all stand in one place", {"dump", "-t", "game.tbl", "--map", "nes", "--pointers", "0x50:2", "--stride", "0",
     "game.nes"}, pointedGame("WORLD<END>"), "", 2, "",
     "glyphound dump: --stride must be from 1 to 1048576\nTry 'glyphound help dump'.\n", kNoOutput},
    {"a pointer that leads outside the file", {"dump", "-t", "game.tbl", "--map", "nes", "--pointers", "0x10:1", "game.nes"},
     pointedGame("WORLD<END>"), "", 2, "",
     "glyphound: game.nes: 0x00000010: the pointer leads outside the file, with its value 0x00000000\n", kNoOutput},
    {"strings that overlap", {"insert", "-t", "game.tbl", "--script", "s.txt", "game.nes", "out.nes"},
     [](TempDir& d, Launch& launch) {
         pointedGame("WORLD<END>")(d, launch);
         writeFile(d.file("s.txt"), "#pointers nes 16 le\n@0x00000110 8\n#ptr 0x00000050\nHELLO<END>\n@0x00000116 6\n"
                                    "#ptr 0x00000052\nWORLD<END>\n");
     },
     "", 2, "", "glyphound: s.txt:7: 0x00000116: the string overlaps the one before\n", kNoOutput},
    {"free ranges that overlap", {"insert", "-t", "game.tbl", "--script", "s.txt", "--free", "0x210-0x220", "--free",
     "0x218-0x230", "game.nes", "out.nes"}, pointedGame("WORLD<END>"), "", 2, "",
     "glyphound: 0x00000218-0x00000230: the free range overlaps another\n", kNoOutput},
    {"a free range over a string", {"insert", "-t", "game.tbl", "--script", "s.txt", "--free", "0x116-0x11A", "game.nes",
     "out.nes"}, pointedGame("WORLD<END>"), "", 2, "",
     "glyphound: 0x00000116-0x0000011A: the free range holds bytes other than FF, first at 0x00000116\n"
     "glyphound: s.txt:7: 0x00000116: the string lies in the free range 0x00000116-0x0000011A\n", kNoOutput},
    {"a free range that isn't free", {"insert", "-t", "game.tbl", "--script", "s.txt", "--free", "0x300-0x310", "game.nes",
     "out.nes"}, pointedGame("WORLD<END>"), "", 2, "",
     "glyphound: 0x00000300-0x00000310: the free range holds bytes other than FF, first at 0x00000300\n", kNoOutput},
    {"a string too big for any free space", {"insert", "-t", "game.tbl", "--script", "s.txt", "--free", "0x210-0x218",
     "game.nes", "out.nes"}, pointedGame("WORLD WORLD<END>"), "", 2, "",
     "glyphound: s.txt:7: 0x00000116: the text needs 12 bytes, and no free space that its pointers reach has them\n",
     kNoOutput},
    {"a pointer that leads elsewhere", {"insert", "-t", "game.tbl", "--script", "s.txt", "--free", "0x210-0x250",
     "game.nes", "out.nes"}, pointedGame("WORLD<END>", "0x00000050"), "", 2, "",
     "glyphound: s.txt:7: 0x00000116: the pointer at 0x00000050 doesn't lead to the string; it leads to 0x00000110\n",
     kNoOutput},
    {"strings moved to free space", {"insert", "-t", "game.tbl", "--script", "s.txt", "--free", "0x210-0x250",
     "game.nes", "out.nes"}, pointedGame("WORLD HELLO<END>"), "", 0, "",
     "glyphound: kept 1 strings in their rooms, moved 1 (12 bytes)\n"
     "glyphound: free 0x00000210-0x00000250: 12 bytes used, 52 left\n",
     [](TempDir& d, const Finished&) {
         const string out = readFile(d.file("out.nes"));
         EXPECT_EQ(out.substr(16 + 0x40, 4), "\x00\x81\x00\x82"s);
         EXPECT_EQ(out.substr(16 + 0x106, 6), string(6, '\xff'));
         EXPECT_EQ(out.substr(16 + 0x200, 12), moved("WORLD", 0x3F) + "\x5f" + moved("HELLO", 0x3F) + "\xff");
     }},
    // The free range runs from the last bytes of the PRG, which pointers
    // reach, into the CHR after it, which they don't.
    {"a free range whose end pointers can't reach", {"insert", "-t", "game.tbl", "--script", "s.txt", "--free",
     "0x8008-0x8028", "game.nes", "out.nes"},
     [](TempDir& d, Launch& launch) {
         pointedGame("WORLD HELLO<END>")(d, launch);
         string rom = readFile(d.file("game.nes"));
         rom.replace(rom.size() - 8, 8, string(8, '\xff'));
         writeFile(d.file("game.nes"), rom + string(0x20, '\xff') + string(0x2000 - 0x20, '\0'));
     },
     "", 2, "", "glyphound: s.txt:7: 0x00000116: the text needs 12 bytes, and no free space that its pointers reach has them\n",
     kNoOutput},
    {"free ranges side by side", {"insert", "-t", "game.tbl", "--script", "s.txt", "--free", "0x230-0x250", "--free",
     "0x210-0x230", "game.nes", "out.nes"}, pointedGame("WORLD HELLO<END>"), "", 0, "",
     "glyphound: kept 1 strings in their rooms, moved 1 (12 bytes)\n"
     "glyphound: free 0x00000230-0x00000250: 0 bytes used, 32 left\n"
     "glyphound: free 0x00000210-0x00000230: 12 bytes used, 20 left\n",
     [](TempDir& d, const Finished&) { EXPECT_EQ(readFile(d.file("out.nes")).substr(16 + 0x40, 4), "\x00\x81\x00\x82"s); }},
    {"an output in a folder that isn't there", {"encode", "-t", "t.tbl", "-o", "none/out.bin", "HELLO"},
     [](TempDir& d, Launch&) { writeFile(d.file("t.tbl"), "87=H\n84=E\n8B=L\n8E=O\n"); }, "", 2, "",
     "glyphound: none/out.bin: ", kGameUntouched},
    {"a folder without -r", {"find", "HELLO", "."}, kNothing, "", 2, "", "glyphound: .: Is a directory\n", kGameUntouched},
    {"missing file", {"find", "HELLO", "missing.rom"}, kNothing, "", 2, "", "glyphound: missing.rom: ", kGameUntouched},
    {"a folder it may not list", {"find", "-r", "HELLO", "."},
     [](TempDir& d, Launch& l) {
         ::mkdir(d.file("locked").c_str(), 0);
         ::chmod(d.path.c_str(), 0777);
         l.unprivileged = true;
     },
     "", 2, "./game.rom:" + kGameHit + kOneHit, "glyphound: ./locked: ", kGameUntouched, true},
};

// Whether the program can be run as nobody at all: not where it was built
// under a folder that only its owner may enter.
bool nobodyMayRunIt() {
    static const bool may = run({{"--version"}, "/", false, "", "", false, false, false, false, true}).status == 0;
    return may;
}

TEST(CommandLines, OutputsAreAtomicAndNeverAnInput) {
    for (const CommandLine& c : kCommandLines) {
        if (windowsBuild() && c.posixOnly) continue;
        SCOPED_TRACE(c.what);
        TempDir dir;
        writeFile(dir.file("game.rom"), kGameBytes);
        Launch launch{c.arguments, dir.path};
        c.prepare(dir, launch);
        if (launch.unprivileged && ::geteuid() == 0 && !nobodyMayRunIt()) {
            std::cout << "skipped '" << c.what << "': nobody may not run " << environmentOr("GLYPHOUND_EXE", "glyphound")
                      << " where it was built\n";
            continue;
        }
        const Finished finished = run(launch, c.typed);
        EXPECT_EQ(finished.status, c.status);
        if (c.out) {
            EXPECT_EQ(finished.out, *c.out);
        }
        EXPECT_TRUE(isPrefix(c.errorStart, finished.err)) << finished.err;
        EXPECT_EQ(c.errorStart.empty(), finished.err.empty()) << finished.err;
        const bool reasonFollows = c.errorStart.size() > 2 && c.errorStart.compare(c.errorStart.size() - 2, 2, ": ") == 0;
        if (reasonFollows) {
            EXPECT_GT(finished.err.size(), c.errorStart.size() + 1) << "no reason given";
        }
        c.check(dir, finished);
    }
}

// Shifted.BIN is whole when the question comes, however much a second
// thread still had to write, and the edits made then come back shifted.
TEST(Started, EditsMadeWhileTheProgramWaitsComeBackShifted) {
    TempDir dir;
    const string rom = kOneMatch + string(3 << 20, '\x33');
    writeFile(dir.file("game.rom"), rom);
    Child child({{"game.rom"}, dir.path});
    child.send("HELLO\ny\n");
    ASSERT_TRUE(child.waitForOutput(kBackQuestion));
    const string shifted = readFile(dir.file("Shifted.BIN"));
    EXPECT_TRUE(shifted == moved(rom, -63)) << shifted.size();
    writeFile(dir.file("Shifted.BIN"), moved(rom, -63).replace(3, 5, "WORLD"));
    child.send("y\n");
    EXPECT_EQ(child.finish().status, 0);
    EXPECT_TRUE(readFile(dir.file("Output.ROM")) == string(rom).replace(3, 5, moved("WORLD", 63)));
    struct stat status {};
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ASSERT_EQ(::stat(dir.file("Output.ROM").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0666 & ~mask);  // created like any file the user makes
}

TEST(Started, AFileGoneWhileTheProgramWaitsEndsWithAnError) {
    struct Case {
        const char* gone;
        string question, answersBefore;
        const char* notWritten;
    };
    const Case cases[] = {{"game.rom", "Would you like to Shift the bytes in the file? (Y/N) ", "HELLO\n", "Shifted.BIN"},
                          {"Shifted.BIN", kBackQuestion, "HELLO\ny\n", "Output.ROM"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.gone);
        TempDir dir;
        writeFile(dir.file("game.rom"), kOneMatch);
        Child child({{"game.rom"}, dir.path});
        child.send(c.answersBefore);
        ASSERT_TRUE(child.waitForOutput(c.question));
        ASSERT_TRUE(std::filesystem::remove(dir.file(c.gone)));
        child.send("y\n");
        const Finished finished = child.finish();
        EXPECT_EQ(finished.status, 1);
        EXPECT_EQ(finished.err, invocationName() + ": Can't open input file\r\n");
        EXPECT_FALSE(fileExists(dir.file(c.notWritten)));
    }
}

TEST(ConsolePause, WaitsForEnterEvenAfterTheInputEnded) {
    if (windowsBuild()) GTEST_SKIP() << "Wine's console host rewrites the terminal";
    for (const string& last : {"n and the rest of the line\n"s, "\x04"s}) {
        TempDir dir;
        writeFile(dir.file("game.rom"), kOneMatch);
        Child child({{"game.rom"}, dir.path, true});
        ASSERT_TRUE(child.waitForOutput("3-16: "));
        child.send(last == "\x04" ? last : "HELLO\n" + last);
        ASSERT_TRUE(child.waitForOutput("Press Enter to continue"));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_TRUE(child.running()) << "ended without waiting for Enter";
        child.send("\n");
        EXPECT_EQ(child.finish(10).status, last == "\x04" ? 1 : 0);
    }
}

off_t sizeOf(const string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_size : -1;
}

string romOf(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    string rom(size, '\0');
    for (char& c : rom) c = static_cast<char>(random());
    return rom.replace(1000, 5, moved("HELLO", 63));
}

// Kills the program during the shift pass, while it waits for the shift-back
// answer, or during the shift-back pass; the ROM must stay intact and every
// output must be a prefix of a complete run's.
TEST(Interrupted, KilledAnywhereTheRomStaysIntactAndOutputsArePrefixes) {
    constexpr std::size_t kSize = 16 << 20;
    TempDir dir;
    std::mt19937 random(2026);
    int cutShort = 0;
    for (int trial = 0; trial < 24; ++trial) {
        const int stage = trial % 3;
        const string rom = romOf(kSize, trial), watched = dir.file(stage == 0 ? "Shifted.BIN" : "Output.ROM");
        writeFile(dir.file("game.rom"), rom);
        ::unlink(dir.file("Shifted.BIN").c_str());
        ::unlink(dir.file("Output.ROM").c_str());
        Child child({{"game.rom"}, dir.path});
        child.send(stage == 1 ? "HELLO\ny\n" : "HELLO\ny\ny\n");
        const off_t at = static_cast<off_t>(random() % kSize);
        if (stage == 1) { ASSERT_TRUE(child.waitForOutput(kBackQuestion)); }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (stage != 1 && child.running() && sizeOf(watched) < at && std::chrono::steady_clock::now() < deadline) {
        }
        child.kill();
        const string shifted = readFile(dir.file("Shifted.BIN")), output = readFile(dir.file("Output.ROM"));
        ASSERT_EQ(readFile(dir.file("game.rom")), rom) << trial;
        ASSERT_TRUE(isPrefix(shifted, moved(rom, -63))) << trial;
        ASSERT_TRUE(isPrefix(output, rom)) << trial;
        if (stage != 1) cutShort += (stage == 0 ? shifted : output).size() < kSize;
    }
    EXPECT_GT(cutShort, 4);  // the kills did land inside the passes
}

TEST(DiskFull, EitherPassFailsCleanlyAndTheRomIsUntouched) {
    TempDir disk, home;
    if (::geteuid() != 0 || ::mount("glyphound", disk.path.c_str(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "can't mount a small tmpfs here";
    // 600 KiB can't be shifted at all; 180 KiB can, but not shifted back too.
    for (const std::size_t size : {std::size_t{600} << 10, std::size_t{180} << 10}) {
        const string rom = romOf(size, 3);
        writeFile(home.file("game.rom"), rom);
        ::unlink(disk.file("Shifted.BIN").c_str());
        const Finished finished = run({{home.file("game.rom")}, disk.path}, "HELLO\ny\ny\n");
        EXPECT_EQ(finished.status, 1);
        EXPECT_EQ(finished.err, invocationName() + ": Can't write output file\r\n");
        EXPECT_EQ(finished.out.find("Bytes shifted back"), string::npos);
        EXPECT_EQ(readFile(home.file("game.rom")), rom);
    }
    // A command's output on the full disk: the old file stays, and no
    // temporary file is left behind.
    for (const char* name : {"Shifted.BIN", "Output.ROM"}) ::unlink(disk.file(name).c_str());
    writeFile(disk.file("out.bin"), "old");
    writeFile(home.file("big.rom"), romOf(600 << 10, 4));
    const Finished shifted = run({{"shift", "--by", "1", home.file("big.rom"), "out.bin"}, disk.path});
    EXPECT_EQ(shifted.status, 2);
    EXPECT_TRUE(isPrefix("glyphound: out.bin: ", shifted.err)) << shifted.err;
    EXPECT_TRUE(readFile(disk.file("out.bin")) == "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(disk.path), {}), 1);
    ::umount2(disk.path.c_str(), MNT_DETACH);  // Wine's server may still hold it
}

// Each run is judged against one that reads nothing, started from this same
// test process: a child's peak counts the pages it shares with its parent
// before exec, and a sanitizer adds a fixed overhead.
TEST(HostileInput, MemoryStaysFlat) {
    TempDir dir;
    writeFile(dir.file("game.rom"), kOneMatch);
    for (const string& typed : {string(200000, 'x'), string(4 << 20, ' ') + "HELLO\nn\n", "HELLO y " + romOf(1 << 20, 5)}) {
        const long baselineKiB = run({{"game.rom"}, dir.path}, "HELLO\n").peakKiB;
        const Finished finished = run({{"game.rom"}, dir.path}, typed);
        EXPECT_LT(finished.peakKiB, baselineKiB + 16 * 1024) << typed.size();
        EXPECT_LE(finished.status, 1);
    }
    // A file read through a mapping, a window at a time, holds no more than
    // a few windows at once.
    writeFile(dir.file("big.rom"), romOf(64 << 20, 3));
    const long baselineKiB = run({{"find", "HELLO", "game.rom"}, dir.path}).peakKiB;
    EXPECT_LT(run({{"find", "HELLO", "big.rom"}, dir.path}).peakKiB, baselineKiB + 16 * 1024);
}

TEST(BigFile, OffsetsBeyond4GiBAreExact) {
    TempDir dir;
    const std::uint64_t offsets[] = {(std::uint64_t{1} << 31) + 7, (std::uint64_t{1} << 32) + 1000};
    const int fd = ::open(dir.file("disc.img").c_str(), O_WRONLY | O_CREAT, 0644);
    for (std::uint64_t offset : offsets)
        ASSERT_EQ(::pwrite(fd, moved("HELLO", 63).data(), 5, static_cast<off_t>(offset)), 5);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(offsets[1] + 4096)), 0);
    ::close(fd);
    Child child({{"disc.img"}, dir.path});
    child.send("HELLO\nn\n");
    const Finished finished = child.finish(540);
    EXPECT_EQ(finished.status, 0);
    for (std::uint64_t offset : offsets)
        EXPECT_NE(finished.out.find("Match found at offset " + std::to_string(offset) + ", shifted by 63"), string::npos);
}

// Stopped by a signal, a command leaves the old output and no temporary
// file; killed outright, the old output or the complete new one.
TEST(CommandLines, InterruptedTheOutputIsOldOrComplete) {
    if (windowsBuild()) GTEST_SKIP() << "signals reach Wine, not the program";
    TempDir dir;
    const string rom = romOf(32 << 20, 9);
    writeFile(dir.file("game.rom"), rom);
    for (int trial = 0; trial < 8; ++trial) {
        writeFile(dir.file("out.bin"), "old");
        Child child({{"shift", "--by", "1", "game.rom", "out.bin"}, dir.path});
        std::this_thread::sleep_for(std::chrono::milliseconds(10 + 15 * trial));
        if (child.running()) ::kill(child.pid(), trial % 2 ? SIGKILL : SIGTERM);
        child.finish();
        const string out = readFile(dir.file("out.bin"));
        EXPECT_TRUE(out == "old" || out == moved(rom, 1)) << "trial " << trial;
        if (trial % 2 == 0) {
            EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 2);
        }
        for (const auto& entry : std::filesystem::directory_iterator(dir.path))
            if (entry.path().filename().string()[0] == '.') std::filesystem::remove(entry.path());
    }
}

}  // namespace
}  // namespace glyphound::testing
