// Measures the scan, the searches, the guess and the shift passes of the built program
// against cat, cp and dd on the same files in the same run, the scans both on
// every core and on one, and its peak memory. Prints figures; asserts nothing.
//
//   glyphound_bench PATH-TO-glyphound [MiB]     (default 1024 MiB)
//   glyphound_bench --worst                      (only the in-memory worst cases)
//   glyphound_bench --tables PATH-TO-glyphound   (only the big tables)
//   glyphound_bench --patches PATH-TO-glyphound  (only the patches)
//
// With GLYPHOUND_PAGE (the built page) and GLYPHOUND_PAGE_BENCH (a script
// that drives it in Chromium: tests/browser/bench_page.js) set, a row for
// find in the page too.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "search/relative_search.hpp"
#include "search/word_matcher.hpp"

namespace {

// Rounds per table row. Odd, so that the median is one of the runs; seven,
// because on a small machine with other work on it single runs swing widely.
constexpr int kRounds = 7;

// Width of a row's label: room for the longest, a 16-bit match mode on one core.
constexpr int kLabelWidth = 44;

// A command line, run with the output folder as its working folder (the
// dialogue writes there) and `typed` on its standard input.
struct Command {
    std::vector<std::string> argv;
    std::string typed;
    bool operator==(const Command& other) const { return argv == other.argv && typed == other.typed; }
};

// What a side of a row times: `run`, less `baseline` from the same round when
// there is one. A dialogue pass can only be timed that way: the whole dialogue
// less the dialogue that stops before the pass; and its yardstick is timed
// the same way, so that both write on top of what the run wrote before.
struct Timed {
    Timed(Command whole, std::optional<Command> less = std::nullopt)
        : run(std::move(whole)), baseline(std::move(less)) {}
    Command run;
    std::optional<Command> baseline;
};

struct Row {
    std::string label;
    Timed program;
    std::string yardstickLabel;
    Timed yardstick;
    std::string goal;
};

struct Timing {
    double seconds = 0;
    long peakKiB = 0;
};

// Every run starts with no output files and nothing left to write back:
// otherwise a run pays for truncating, or writing back, what the run before
// it wrote, and whichever command comes second looks slower.
void settle(const std::string& outputFolder) {
    for (const auto& entry : std::filesystem::directory_iterator(outputFolder))
        std::filesystem::remove_all(entry.path());
    ::sync();
}

[[noreturn]] void execInChild(const Command& command, int standardInput, const std::string& folder) {
    ::dup2(standardInput, 0);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    std::vector<char*> args;
    for (const auto& a : command.argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (::chdir(folder.c_str()) == 0) ::execvp(args[0], args.data());
    ::_exit(127);
}

// Runs `command` in `folder` from this process, with everything but its
// typed input going to /dev/null.
Timing spawn(const Command& command, const std::string& folder) {
    int in[2];
    if (::pipe(in) != 0) std::exit(1);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(in[1]);
        execInChild(command, in[0], folder);
    }
    ::close(in[0]);
    const std::string& typed = command.typed;
    if (!typed.empty() && ::write(in[1], typed.data(), typed.size()) < 0) std::perror("write");
    ::close(in[1]);
    int status = 0;
    struct rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // find and table end with 1 when nothing was found.
    if (!WIFEXITED(status) || WEXITSTATUS(status) > 1)
        std::fprintf(stderr, "warning: %s exited with %d\n", command.argv[0].c_str(), status);
    return {seconds, usage.ru_maxrss};
}

// Starts the programs from a small process forked before the bench holds any
// data. A started program's peak resident set counts the memory its fork
// copied, which it keeps past its exec: from the bench itself, the bench's
// own megabytes would hide the program's.
class Launcher {
public:
    Launcher() {
        if (::pipe(requests_) != 0 || ::pipe(replies_) != 0) std::exit(1);
        if (::fork() == 0) {
            ::close(requests_[1]);
            ::close(replies_[0]);
            serve();
        }
        ::close(requests_[0]);
        ::close(replies_[1]);
    }

    Timing run(const Command& command, const std::string& folder) {
        std::vector<std::string> fields = {folder, command.typed};
        fields.insert(fields.end(), command.argv.begin(), command.argv.end());
        std::string request;
        for (const std::string& field : fields) {
            const auto size = static_cast<std::uint32_t>(field.size());
            request.append(reinterpret_cast<const char*>(&size), sizeof size).append(field);
        }
        const auto size = static_cast<std::uint32_t>(request.size());
        Timing timing;
        if (!writeAll(requests_[1], &size, sizeof size) || !writeAll(requests_[1], request.data(), size) ||
            !readAll(replies_[0], &timing, sizeof timing))
            std::exit(1);
        return timing;
    }

private:
    [[noreturn]] void serve() {
        for (std::uint32_t size = 0; readAll(requests_[0], &size, sizeof size);) {
            std::string request(size, '\0');
            if (!readAll(requests_[0], request.data(), size)) break;
            std::vector<std::string> fields;
            for (std::size_t at = 0; at + sizeof size <= request.size();) {
                std::uint32_t length = 0;
                std::memcpy(&length, request.data() + at, sizeof length);
                fields.push_back(request.substr(at + sizeof length, length));
                at += sizeof length + length;
            }
            const Timing timing = spawn({{fields.begin() + 2, fields.end()}, fields[1]}, fields[0]);
            if (!writeAll(replies_[1], &timing, sizeof timing)) break;
        }
        ::_exit(0);
    }

    static bool writeAll(int fd, const void* data, std::size_t size) {
        return ::write(fd, data, size) == static_cast<ssize_t>(size);
    }
    static bool readAll(int fd, void* data, std::size_t size) {
        for (std::size_t got = 0; got < size;) {
            const ssize_t read = ::read(fd, static_cast<char*>(data) + got, size - got);
            if (read <= 0) return false;
            got += static_cast<std::size_t>(read);
        }
        return true;
    }

    int requests_[2], replies_[2];
};

Launcher* launcher = nullptr;

// Runs `command` once in `outputFolder`, settled first.
Timing runOnce(const Command& command, const std::string& outputFolder) {
    settle(outputFolder);
    return launcher->run(command, outputFolder);
}

// The distinct commands of `rows`, the programs' before the yardsticks, so
// that every round alternates between the two sides.
std::vector<Command> commandsOf(const std::vector<Row>& rows) {
    std::vector<Command> commands;
    const auto add = [&](const Command& command) {
        if (std::find(commands.begin(), commands.end(), command) == commands.end()) commands.push_back(command);
    };
    for (const bool programs : {true, false})
        for (const Row& row : rows) {
            const Timed& side = programs ? row.program : row.yardstick;
            if (side.baseline) add(*side.baseline);
            add(side.run);
        }
    return commands;
}

// Seconds of the commands, per round: seconds[command][round].
using RoundSeconds = std::vector<std::vector<double>>;

RoundSeconds runInRounds(const std::vector<Command>& commands, const std::string& outputFolder) {
    RoundSeconds seconds(commands.size());
    for (int round = 0; round < kRounds; ++round)
        for (std::size_t c = 0; c < commands.size(); ++c)
            seconds[c].push_back(runOnce(commands[c], outputFolder).seconds);
    return seconds;
}

const std::vector<double>& secondsOf(const Command& command, const std::vector<Command>& commands,
                                     const RoundSeconds& seconds) {
    return seconds[std::find(commands.begin(), commands.end(), command) - commands.begin()];
}

// Per round, so that a difference is taken between runs made side by side.
std::vector<double> secondsOf(const Timed& timed, const std::vector<Command>& commands, const RoundSeconds& seconds) {
    std::vector<double> result = secondsOf(timed.run, commands, seconds);
    if (!timed.baseline) return result;
    const std::vector<double>& baseline = secondsOf(*timed.baseline, commands, seconds);
    for (std::size_t round = 0; round < result.size(); ++round) result[round] -= baseline[round];
    return result;
}

double median(std::vector<double> values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

double medianOf(const Command& command, const std::string& outputFolder) {
    std::vector<double> seconds;
    for (int round = 0; round < kRounds; ++round) seconds.push_back(runOnce(command, outputFolder).seconds);
    return median(seconds);
}

void printTableHeading() {
    std::printf("\nEach row: the program and its yardstick run in turn, %d rounds, median of each;\n"
                "every run starts with no output files and a synced disk.\n\n",
                kRounds);
    std::printf("%-*s %8s   %-22s %8s %7s  %s\n", kLabelWidth, "measurement", "seconds", "yardstick", "seconds",
                "ratio", "goal");
}

// Rows measured together share their rounds, and the runs they have in common.
void measureAndPrint(const std::vector<Row>& rows, const std::string& outputFolder) {
    const std::vector<Command> commands = commandsOf(rows);
    const RoundSeconds seconds = runInRounds(commands, outputFolder);
    for (const Row& row : rows) {
        const double program = median(secondsOf(row.program, commands, seconds));
        const double yardstick = median(secondsOf(row.yardstick, commands, seconds));
        std::printf("%-*s %8.3f   %-22s %8.3f %6.2fx  %s\n", kLabelWidth, row.label.c_str(), program,
                    row.yardstickLabel.c_str(), yardstick, program / yardstick, row.goal.c_str());
        std::fflush(stdout);
    }
}

// The file as it is cached once read: written, then put out of the cache and
// read through as cat reads it. The system keeps what it just wrote in the
// pages the writes made, a rewritten place in small ones; a file read from
// disk comes into the cache in large ones, as a user's ROM does, and a pass
// that maps them then faults far less often.
void writeFile(const std::string& path, const std::vector<std::uint8_t>& block, std::size_t mib,
               const std::string& plant, std::size_t plantAt) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    for (std::size_t i = 0; i < mib; ++i)
        if (::write(fd, block.data(), block.size()) < 0) std::exit(1);
    if (::pwrite(fd, plant.data(), plant.size(), static_cast<off_t>(plantAt)) < 0) std::exit(1);
    if (::fsync(fd) != 0 || ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) != 0) std::exit(1);
    std::vector<char> buffer(128 << 10);
    for (off_t at = 0; ::pread(fd, buffer.data(), buffer.size(), at) > 0;) at += static_cast<off_t>(buffer.size());
    ::close(fd);
}

std::vector<std::uint8_t> randomMiB(std::uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> block(1 << 20);
    for (auto& b : block) b = static_cast<std::uint8_t>(random());
    return block;
}

// English-like text, every character 63 above ASCII.
std::vector<std::uint8_t> shiftedEnglishMiB() {
    const char* words[] = {"the", "of", "and", "to", "in", "is", "you", "that", "it", "he",
                           "was", "for", "on", "are", "as", "with", "his", "they", "at", "be",
                           "this", "have", "from", "or", "one", "had", "by", "word", "but", "not"};
    std::mt19937 random(7);
    std::vector<std::uint8_t> block;
    while (block.size() < (1 << 20)) {
        for (const char* c = words[random() % 30]; *c; ++c) block.push_back(static_cast<std::uint8_t>(*c + 63));
        block.push_back(' ' + 63);
    }
    block.resize(1 << 20);
    return block;
}

// Scan throughput in-process, from memory, for the fast scanner and for a
// plain byte-at-a-time loop of the same state machine.
void compareWithPlainLoop(const char* label, const std::vector<std::uint8_t>& data, const std::string& word) {
    using clock = std::chrono::steady_clock;
    std::uint64_t matches = 0;
    double fast = 1e30, plain = 1e30;
    // Interleaved and best of many: the other core's load swings single runs.
    for (int r = 0; r < 9; ++r) {
        auto start = clock::now();
        glyphound::RelativeScanner scanner(word, [&](const glyphound::Match&) { ++matches; });
        for (int pass = 0; pass < 64; ++pass) scanner.feed(data.data(), data.size());
        scanner.finish();
        fast = std::min(fast, std::chrono::duration<double>(clock::now() - start).count());

        start = clock::now();
        int diff[16];
        for (std::size_t i = 0; i + 1 < word.size(); ++i)
            diff[i] = static_cast<std::int8_t>(word[i]) - static_cast<std::int8_t>(word[i + 1]);
        const int last = static_cast<int>(word.size()) - 1;
        int run = 0, previous = data[0];
        std::uint64_t plainMatches = 0;
        for (int pass = 0; pass < 64; ++pass)
            for (std::uint8_t byte : data) {
                if (run == last) { ++plainMatches; run = 0; previous = byte; continue; }
                run = diff[run] == previous - byte ? run + 1 : 0;
                previous = byte;
            }
        plain = std::min(plain, std::chrono::duration<double>(clock::now() - start).count());
        matches += plainMatches;
    }
    const double gb = 64.0 * static_cast<double>(data.size()) / 1e9;
    std::printf("  %-34s fast %6.2f GB/s   plain loop %5.2f GB/s   (%llu)\n", label, gb / fast, gb / plain,
                static_cast<unsigned long long>(matches));
}

// Reads the same block `passes` times.
class RepeatedSource : public glyphound::ByteSource {
public:
    RepeatedSource(const std::vector<std::uint8_t>& data, int passes) : data_(data), left_(passes) {}
    glyphound::ReadResult read(std::uint8_t* buffer, std::size_t capacity) override {
        if (left_ == 0) return {};
        const std::size_t count = std::min(capacity, data_.size() - at_);
        std::memcpy(buffer, data_.data() + at_, count);
        at_ += count;
        if (at_ == data_.size()) at_ = 0, --left_;
        return {count, false};
    }

private:
    const std::vector<std::uint8_t>& data_;
    int left_;
    std::size_t at_ = 0;
};

// The word matcher, and a plain loop that tests every relation of the word
// at every offset, over the same data.
void compareFindWithPlainLoop(const char* label, const std::vector<std::uint8_t>& data, const std::string& word) {
    using clock = std::chrono::steady_clock;
    std::string failure;
    const auto alphabet = std::make_shared<glyphound::Alphabet>();
    const std::vector<glyphound::Pattern> patterns{*glyphound::Pattern::compile(word, {}, alphabet, failure)};
    double fast = 1e30, plain = 1e30;
    std::uint64_t hits = 0;
    for (int r = 0; r < 5; ++r) {
        auto start = clock::now();
        RepeatedSource source(data, 16);
        glyphound::findPatterns(source, patterns, [&](const glyphound::Hit&) { ++hits; });
        fast = std::min(fast, std::chrono::duration<double>(clock::now() - start).count());
        start = clock::now();
        for (int pass = 0; pass < 16; ++pass)
            for (std::size_t at = 0; at + word.size() <= data.size(); ++at) {
                bool hit = true;
                for (std::size_t k = 1; hit && k < word.size(); ++k)
                    hit = static_cast<std::uint8_t>(data[at + k] - data[at + k - 1]) ==
                          static_cast<std::uint8_t>(word[k] - word[k - 1]);
                hits += hit;
            }
        plain = std::min(plain, std::chrono::duration<double>(clock::now() - start).count());
    }
    const double gb = 16.0 * static_cast<double>(data.size()) / 1e9;
    std::printf("  %-34s find %6.2f GB/s   plain loop %5.2f GB/s   (%llu)\n", label, gb / fast, gb / plain,
                static_cast<unsigned long long>(hits));
}

void compareWorstCases() {
    std::printf("\nWorst cases, in memory (64 passes over 1 MiB, best of 9):\n");
    compareWithPlainLoop("one repeated byte, LLAMA", std::vector<std::uint8_t>(1 << 20, 0x41), "LLAMA");
    compareWithPlainLoop("one repeated byte, AAAB", std::vector<std::uint8_t>(1 << 20, 0x41), "AAAB");
    compareWithPlainLoop("shifted English, the", shiftedEnglishMiB(), "the");
    compareWithPlainLoop("shifted English, word", shiftedEnglishMiB(), "word");
    compareWithPlainLoop("random bytes, HELLO", randomMiB(2), "HELLO");
    std::printf("\nThe same for find (16 passes over 1 MiB, best of 5):\n");
    compareFindWithPlainLoop("one repeated byte, AAAB", std::vector<std::uint8_t>(1 << 20, 0x41), "AAAB");
    compareFindWithPlainLoop("one repeated byte, LLAMA", std::vector<std::uint8_t>(1 << 20, 0x41), "LLAMA");
    compareFindWithPlainLoop("random bytes, HELLO", randomMiB(2), "HELLO");
}

// The generated inputs, and a folder that holds only what the runs write.
struct Files {
    std::string folder, rom, output, letters;  // letters: a table of A-Z and a-z as ASCII
    std::vector<std::string> parts;
};

Files generateFiles(std::size_t mib, const std::string& planted) {
    char pattern[] = "/tmp/glyphound-bench-XXXXXX";
    Files files;
    files.folder = ::mkdtemp(pattern);
    files.rom = files.folder + "/random.bin";
    files.output = files.folder + "/output";
    std::filesystem::create_directory(files.output);
    files.letters = files.folder + "/letters.tbl";
    std::string table;
    for (char letter = 'A'; letter <= 'z'; letter = letter == 'Z' ? 'a' : letter + 1)
        table += std::to_string(letter / 16) + "0123456789ABCDEF"[letter % 16] + "=" + letter + "\n";
    const int fd = ::open(files.letters.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::write(fd, table.data(), table.size()) != static_cast<ssize_t>(table.size())) std::exit(1);
    ::close(fd);
    writeFile(files.rom, randomMiB(1), mib, planted, mib << 19);
    for (int part = 0; part < 8; ++part) {
        files.parts.push_back(files.folder + "/part" + std::to_string(part) + ".bin");
        writeFile(files.parts.back(), randomMiB(10 + part), mib / 8, planted, 0);
    }
    return files;
}

const std::vector<std::string> kTenWords = {"-e", "HELLO", "-e", "WORLD", "-e", "Player", "-e", "Sword",
                                            "-e", "Magic", "-e", "Potion", "-e", "Dragon", "-e", "Castle",
                                            "-e", "Knight", "-e", "Queen"};

std::vector<std::string> joined(std::vector<std::string> first, const std::vector<std::string>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// Pinned to the first core: what a program does with no other core to help
// it. taskset is the ordinary way; it comes with util-linux, which a minimal
// system may lack.
Command onOneCore(const Command& command) { return {joined({"taskset", "-c", "0"}, command.argv), command.typed}; }

bool canPinToOneCore() { return std::system("command -v taskset > /dev/null 2>&1") == 0; }

struct Scan {
    std::string label;
    Command command;
};

// Every pass that reads the file once, against cat reading it. Each is also
// run on one core, and cat with it, so that a pass which keeps up with cat
// only by taking the second core shows.
std::vector<Scan> scans(const std::string& program, const Files& files) {
    const std::string& rom = files.rom;
    const auto find = [&](std::vector<std::string> options) {
        return Command{joined(joined({program, "find"}, options), {rom}), ""};
    };
    return {
        {"dialogue scan, HELLO", {{program, rom}, "HELLO\nn\n"}},
        {"find, one word", find({"HELLO"})},
        {"find, ten words", find(kTenWords)},
        {"find --width 16le, one word", find({"--width", "16le", "HELLO"})},
        {"dump, table of A-Z and a-z", {{program, "dump", "-t", files.letters, rom}, ""}},
        {"find --table, one word", find({"--table", files.letters, "HELLO"})},
        {"find --match order, one word", find({"--match", "order", "HELLO"})},
        {"find --match order --width 16le", find({"--match", "order", "--width", "16le", "HELLO"})},
        {"find --match pattern, one word", find({"--match", "pattern", "HELLO WORLD"})},
        {"find --match pattern --width 16le", find({"--match", "pattern", "--width", "16le", "HELLO WORLD"})},
        {"guess", {{program, "guess", rom}, ""}},
        {"guess --width 16le", {{program, "guess", "--width", "16le", rom}, ""}},
        {"pointers --map gb, one mapping", {{program, "pointers", "-t", files.letters, "--map", "gb", rom}, ""}},
    };
}

// A scan's two rows share their rounds, so that both meet the same load.
std::vector<Row> scanRows(const Scan& scan, const Command& cat, bool oneCoreToo) {
    std::vector<Row> rows{{scan.label, scan.command, "cat FILE > /dev/null", cat, "<= 1.0x"}};
    if (oneCoreToo)
        rows.push_back({scan.label + ", one core", onOneCore(scan.command), "taskset -c 0 cat FILE", onOneCore(cat),
                        "<= 1.2x"});
    return rows;
}

// The passes that write: a whole copy of the file, against cp and dd.
std::vector<std::vector<Row>> shiftRows(const std::string& program, const Files& files) {
    const std::string& rom = files.rom;
    const std::string copy = files.output + "/copy.bin";
    const Command scan{{program, rom}, "HELLO\nn\n"};
    const Command scanAndShift{{program, rom}, "HELLO\ny\nn\n"};
    const Command scanShiftAndBack{{program, rom}, "HELLO\ny\ny\n"};
    // cp copies inside the kernel; dd shows what a read-and-write copy through
    // user memory costs, the floor for a pass that changes every byte.
    const Command cp{{"cp", rom, copy}, ""};
    const Command dd{{"dd", "if=" + rom, "of=" + copy, "bs=64K", "status=none"}, ""};
    // The shift command syncs its replacement before putting it in place.
    const Command ddSynced{{"dd", "if=" + rom, "of=" + copy, "bs=64K", "conv=fsync", "status=none"}, ""};
    // The shift-back pass writes a second file while the first is still
    // being written back; so do these.
    const std::string again = files.output + "/again.bin";
    const Command ddTwice{{"sh", "-c", "dd if=" + rom + " of=" + copy + " bs=64K status=none && dd if=" + copy +
                                           " of=" + again + " bs=64K status=none"}, ""};
    const Command cpTwice{{"sh", "-c", "cp " + rom + " " + copy + " && cp " + copy + " " + again}, ""};
    return {
        // Both passes from the same rounds: they share their dialogue runs.
        {{"shift pass", {scanAndShift, scan}, "dd bs=64K", dd, "<= 1.0x"},
         {"shift pass", {scanAndShift, scan}, "cp", cp, "<= 1.3x"},
         {"shift-back pass", {scanShiftAndBack, scanAndShift}, "dd bs=64K, a second", {ddTwice, dd}, "<= 1.0x"},
         {"shift-back pass", {scanShiftAndBack, scanAndShift}, "cp, a second", {cpTwice, cp}, "<= 1.3x"}},
        {{"shift command, --by 1", Command{{program, "shift", "--by", "1", rom, files.output + "/shifted.bin"}, ""},
          "dd bs=64K conv=fsync", ddSynced, "<= 1.0x"}},
    };
}

// Rows in one inner list are measured in the same rounds.
std::vector<std::vector<Row>> tableRows(const std::string& program, const Files& files, bool oneCoreToo) {
    const Command cat{{"cat", files.rom}, ""};
    std::vector<std::vector<Row>> tables;
    for (const Scan& scan : scans(program, files)) tables.push_back(scanRows(scan, cat, oneCoreToo));
    const Command allCores{joined({program, "find", "HELLO"}, files.parts), ""};
    if (oneCoreToo)
        tables.push_back({{"find, 8 files, every core", allCores, "the same on one core", onOneCore(allCores),
                           "<= 0.5x"}});
    for (const std::vector<Row>& rows : shiftRows(program, files)) tables.push_back(rows);
    return tables;
}

// The floor of every scan row: how fast cat reads the warm file.
void printCatSpeed(const Files& files, std::size_t mib, bool oneCoreToo) {
    const Command cat{{"cat", files.rom}, ""};
    const double gigabytes = static_cast<double>(mib << 20) / 1e9;
    std::printf("cat FILE > /dev/null, median of %d runs: %.2f GB/s on every core", kRounds,
                gigabytes / medianOf(cat, files.output));
    if (oneCoreToo)
        std::printf(", %.2f GB/s with taskset -c 0", gigabytes / medianOf(onOneCore(cat), files.output));
    std::printf("\n");
}

// The page's find of one word over 256 MiB, timed inside the page from its
// request to its answer, median of its rounds, against the native find of
// the same file, median of as many runs.
void measurePage(const std::string& program, const Files& files, const std::string& planted) {
    const char* label = "page find, one word, 256 MiB";
    const char* page = std::getenv("GLYPHOUND_PAGE");
    const char* script = std::getenv("GLYPHOUND_PAGE_BENCH");
    if (!page || !script || !std::filesystem::exists(page)) {
        std::printf("%-*s skipped: no page built (scripts/build-page.sh)\n", kLabelWidth, label);
        return;
    }
    const std::string file = files.folder + "/page.bin";
    writeFile(file, randomMiB(4), 256, planted, std::size_t{128} << 20);
    runOnce({{"cat", file}, ""}, files.output);
    std::vector<double> native;
    for (int round = 0; round < kRounds; ++round)
        native.push_back(runOnce({{program, "find", "HELLO", file}, ""}, files.output).seconds);
    const std::string command = std::string("node '") + script + "' '" + page + "' '" + file + "' HELLO " +
                                std::to_string(kRounds);
    double inPage = 0;
    FILE* output = ::popen(command.c_str(), "r");
    if (!output || std::fscanf(output, "%lf", &inPage) != 1 || ::pclose(output) != 0) {
        std::printf("%-*s failed: %s\n", kLabelWidth, label, command.c_str());
        return;
    }
    const double yardstick = median(native);
    std::printf("%-*s %8.3f   %-22s %8.3f %6.2fx  %s\n", kLabelWidth, label, inPage, "native find, same file",
                yardstick, inPage / yardstick, "<= 3x");
    std::remove(file.c_str());
}

std::string utf8Of(std::uint32_t ideograph) {  // U+0800 to U+FFFF, three bytes
    return {static_cast<char>(0xE0 | ideograph >> 12), static_cast<char>(0x80 | (ideograph >> 6 & 63)),
            static_cast<char>(0x80 | (ideograph & 63))};
}

// Big tables: reading one of 80,000 four-byte keys, the most a table may
// hold (1 MiB), and encoding 3,000 texts through one of 4,600 entries.
void measureTables(const std::string& program, const Files& files) {
    std::printf("\nTables, median of %d runs:\n", kRounds);
    std::mt19937 random(31);
    std::set<std::uint32_t> keys;
    while (keys.size() < 80000) keys.insert(static_cast<std::uint32_t>(random()));
    std::string big;
    char key[16];
    std::uint32_t count = 0;
    for (std::uint32_t value : keys) {
        std::snprintf(key, sizeof key, "%08X=", value);
        big += key + utf8Of(0x4E00 + count++ % 20000) + "\n";
    }
    std::string kanji;
    for (std::uint32_t entry = 0; entry < 4600; ++entry) {
        std::snprintf(key, sizeof key, "%04X=", 0x8140 + entry);
        kanji += key + utf8Of(0x4E00 + entry) + "\n";
    }
    const std::string bigTable = files.folder + "/big.tbl", kanjiTable = files.folder + "/kanji.tbl";
    std::ofstream(bigTable, std::ios::binary) << big;
    std::ofstream(kanjiTable, std::ios::binary) << kanji;
    Command encodeTexts{{program, "encode", "-t", kanjiTable}, ""};
    for (int text = 0; text < 3000; ++text) {
        encodeTexts.argv.emplace_back();
        for (int character = 0; character < 12; ++character)
            encodeTexts.argv.back() += utf8Of(0x4E00 + static_cast<std::uint32_t>(random() % 4600));
    }
    std::printf("  %-52s %8.3f s\n", "read a table of 80,000 keys (1 MiB), encode one text",
                medianOf({{program, "encode", "-t", bigTable, utf8Of(0x4E00)}, ""}, files.output));
    std::printf("  %-52s %8.3f s\n", "encode 3,000 texts of 12 characters, 4,600 entries", medianOf(encodeTexts, files.output));
}

void writeBytes(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

std::uint64_t sizeOf(const std::string& path) {
    std::error_code failure;
    const auto size = std::filesystem::file_size(path, failure);
    return failure ? 0 : size;
}

std::string randomBytes(std::mt19937& random, std::size_t size) {
    std::string bytes(size, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random());
    return bytes;
}

// A game's script: sentences of common words, each ended by 0xFF.
std::string scriptOf(std::mt19937& random, std::size_t size) {
    const char* words[] = {"the", "sword", "of", "king", "castle", "dragon", "you", "must", "find", "a",
                           "key", "to", "open", "door", "in", "north", "tower", "hero", "magic", "gold"};
    std::string script;
    while (script.size() < size) {
        for (int word = 3 + random() % 10; word-- > 0;) script += std::string(words[random() % 20]) + (word ? " " : ".");
        script += '\xFF';
    }
    script.resize(size);
    return script;
}

void moveBlock(std::string& bytes, std::size_t from, std::size_t length, std::size_t to) {
    const std::string block = bytes.substr(from, length);
    bytes.erase(from, length);
    bytes.insert(to, block);
}

// The BPS patch's size against xdelta3 -9's VCDIFF of the same files, with
// and without its secondary compression, which BPS has no counterpart of.
void comparePatchSize(const std::string& program, const Files& files, const char* label, const std::string& original,
                      const std::string& modified, const std::string& goal) {
    const std::string a = files.folder + "/a.bin", b = files.folder + "/b.bin", bps = files.folder + "/a.bps";
    writeBytes(a, original);
    writeBytes(b, modified);
    runOnce({{program, "patch", "create", a, b, "-o", bps}, ""}, files.output);
    std::printf("  %-40s BPS %8llu bytes", label, static_cast<unsigned long long>(sizeOf(bps)));
    for (const bool secondary : {true, false}) {
        const std::string vcdiff = files.folder + "/a.vcdiff";
        std::vector<std::string> argv{"xdelta3", "-9", "-e", "-f", "-s", a, b, vcdiff};
        if (!secondary) argv.insert(argv.begin() + 1, {"-S", "none"});
        std::remove(vcdiff.c_str());
        runOnce({argv, ""}, files.output);
        const double vcdiffSize = static_cast<double>(sizeOf(vcdiff));
        if (vcdiffSize == 0) {
            std::printf("   xdelta3: not run (apt-get install xdelta3)");
            break;
        }
        std::printf("   xdelta3 -9%s %7.0f (%.2fx)", secondary ? "" : " -S none", vcdiffSize,
                    static_cast<double>(sizeOf(bps)) / vcdiffSize);
    }
    std::printf("  %s\n", goal.c_str());
}

// Patches: their size against xdelta3's, and patch create and apply of two
// 64 MiB files against cmp, cp and dd.
void measurePatches(const std::string& program, const Files& files) {
    std::printf("\nPatches, 4 MiB files:\n");
    std::mt19937 random(41);
    // A relocated script: its strings in another order at another place, a
    // table moved by 3 bytes, and a block of graphics moved.
    std::string original = randomBytes(random, 4 << 20);
    original.replace(2 << 20, 1 << 20, scriptOf(random, 1 << 20));
    std::vector<std::string> strings;
    for (std::size_t at = 2 << 20, end; at < 3 << 20; at = end + 1) {
        end = original.find('\xFF', at);
        strings.push_back(original.substr(at, end - at + 1));
    }
    std::shuffle(strings.begin(), strings.end(), random);
    std::string relocated;
    for (const std::string& string : strings) relocated += string;
    std::string modified = original;
    modified.replace(2 << 20, 1 << 20, std::string(1 << 20, '\xFF'));
    modified.replace(3 << 20, relocated.size(), relocated);
    moveBlock(modified, 1 << 20, 64 << 10, (1 << 20) + 3);
    moveBlock(modified, 512 << 10, 256 << 10, 1536 << 10);
    comparePatchSize(program, files, "strings relocated, a table, graphics", original, modified, "<= 1.2x");
    // A few strings rewritten in place.
    modified = original;
    std::size_t changed = 0;
    for (int text = 0; text < 20; ++text) {
        const std::size_t at = (2 << 20) + random() % (1 << 20), length = 8 + random() % 33;
        for (std::size_t i = at; i < at + length; ++i) {
            const char byte = static_cast<char>('a' + random() % 26);
            changed += modified[i] != byte && original[i] == modified[i];
            modified[i] = byte;
        }
    }
    comparePatchSize(program, files, "20 strings rewritten in place", original, modified, "");
    std::printf("  %-40s %llu bytes changed\n", "", static_cast<unsigned long long>(changed));
    // A few large blocks moved: the script's 64 chapters of 16 KiB in another
    // order, shuffled by a generator of their own so that the rows after
    // this one keep their files.
    std::vector<std::size_t> chapters(64);
    for (std::size_t chapter = 0; chapter < chapters.size(); ++chapter) chapters[chapter] = chapter;
    std::mt19937 chapterOrder(43);
    std::shuffle(chapters.begin(), chapters.end(), chapterOrder);
    modified = original;
    for (std::size_t chapter = 0; chapter < chapters.size(); ++chapter)
        modified.replace((2 << 20) + chapter * (16 << 10), 16 << 10,
                         original, (2 << 20) + chapters[chapter] * (16 << 10), 16 << 10);
    comparePatchSize(program, files, "64 chapters of 16 KiB moved", original, modified, "<= 1.2x");

    const std::string big = files.folder + "/big.bin", bigCopy = files.folder + "/big-copy.bin",
                      bigModified = files.folder + "/big-modified.bin", bigPatch = files.folder + "/big.bps",
                      bigUps = files.folder + "/big.ups";
    original = randomBytes(random, 64 << 20);
    modified = original;
    for (std::size_t done = 0; done < original.size() / 100;) {
        const std::size_t at = random() % (original.size() - 64), length = 1 + random() % 64;
        for (std::size_t i = at; i < at + length; ++i) modified[i] = static_cast<char>(random());
        done += length;
    }
    for (int block = 0; block < 4; ++block)
        moveBlock(modified, random() % (original.size() - (1 << 20)), 1 << 20, random() % (original.size() - (1 << 20)));
    writeBytes(big, original);
    writeBytes(bigCopy, original);
    writeBytes(bigModified, modified);
    runOnce({{program, "patch", "create", big, bigModified, "-o", bigPatch}, ""}, files.output);
    runOnce({{program, "patch", "create", big, bigModified, "-o", bigUps}, ""}, files.output);
    for (const std::string& file : {big, bigCopy, bigModified}) runOnce({{"cat", file}, ""}, files.output);
    printTableHeading();
    const Command create{{program, "patch", "create", big, bigModified, "-o", files.output + "/p.bps"}, ""};
    const Command apply{{program, "patch", "apply", bigPatch, big, "-o", files.output + "/r.bin"}, ""};
    const Command applyUps{{program, "patch", "apply", bigUps, big, "-o", files.output + "/r.bin"}, ""};
    const Command cmp{{"cmp", big, bigCopy}, ""}, cp{{"cp", big, files.output + "/c.bin"}, ""};
    const Command dd{{"dd", "if=" + big, "of=" + files.output + "/c.bin", "bs=64K", "conv=fsync", "status=none"}, ""};
    measureAndPrint({{"patch create, 64 MiB, 1%, 4 moved", create, "cmp, two equal 64 MiB", cmp, "<= 3x"},
                     {"patch apply, 64 MiB BPS", apply, "cp", cp, "<= 2x"},
                     {"patch apply, 64 MiB BPS", apply, "dd bs=64K conv=fsync", dd, "<= 2x"},
                     {"patch apply, 64 MiB UPS", applyUps, "cp", cp, "<= 2x"}},
                    files.output);
    std::printf("  patch create: BPS of %llu bytes; peak memory %ld KiB, against 4 x 128 MiB = 524288 KiB\n",
                static_cast<unsigned long long>(sizeOf(bigPatch)), runOnce(create, files.output).peakKiB);
    std::printf("  patch apply, UPS: a patch of %llu bytes, as the moved blocks are written out\n",
                static_cast<unsigned long long>(sizeOf(bigUps)));
    for (const std::string& file : {big, bigCopy, bigModified, bigPatch, bigUps}) std::remove(file.c_str());
}

void printPeakMemory(const std::string& program, const Files& files, const std::string& planted) {
    std::printf("\nPeak memory (maximum resident set), KiB; true, started alike, shows %ld:\n",
                runOnce(Command{{"true"}, ""}, files.output).peakKiB);
    const std::string small = files.folder + "/small.bin", sparse = files.folder + "/sparse.bin";
    writeFile(small, randomMiB(3), 1, planted, 100);
    const int fd = ::open(sparse.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::ftruncate(fd, off_t{8} << 30) != 0) std::exit(1);
    ::close(fd);
    std::printf("  %-28s %10s %10s %10s\n", "", "1 MiB", "whole file", "8 GiB");
    const auto peaks = [&](const char* what, const std::vector<std::string>& argv, const std::string& typed,
                           bool sparseToo) {
        const auto peak = [&](const std::string& file) {
            Command command{argv, typed};
            std::replace(command.argv.begin(), command.argv.end(), std::string("FILE"), file);
            return runOnce(command, files.output).peakKiB;
        };
        std::printf("  %-28s %10ld %10ld", what, peak(small), peak(files.rom));
        if (sparseToo)
            std::printf(" %10ld\n", peak(sparse));
        else
            std::printf(" %10s\n", "-");
    };
    peaks("dialogue scan", {program, "FILE"}, "HELLO\nn\n", true);
    peaks("dialogue scan and shifts", {program, "FILE"}, "HELLO\ny\ny\n", false);
    peaks("find, ten words", joined(joined({program, "find"}, kTenWords), {"FILE"}), "", true);
    peaks("table", {program, "table", "-o", files.output + "/out.tbl", "HELLO", "FILE"}, "", true);
    peaks("dump", {program, "dump", "-t", files.letters, "FILE"}, "", true);
    peaks("shift", {program, "shift", "--by", "1", "FILE", files.output + "/shifted.bin"}, "", false);
    peaks("guess", {program, "guess", "FILE"}, "", true);
}

}  // namespace

int main(int argc, char** argv) {
    Launcher started;
    launcher = &started;
    if (argc < 2) {
        std::fprintf(stderr, "Usage: %s PATH-TO-glyphound [MiB] | --worst | --tables PATH-TO-glyphound | --patches "
                             "PATH-TO-glyphound\n", argv[0]);
        return 1;
    }
    if (std::string(argv[1]) == "--worst") {
        compareWorstCases();
        return 0;
    }
    if ((std::string(argv[1]) == "--tables" || std::string(argv[1]) == "--patches") && argc > 2) {
        const Files files = generateFiles(1, "");
        if (std::string(argv[1]) == "--tables")
            measureTables(argv[2], files);
        else
            measurePatches(argv[2], files);
        std::error_code failure;
        std::filesystem::remove_all(files.folder, failure);
        return 0;
    }
    const std::string program = argv[1];
    const std::size_t mib = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1024;
    const std::string hello = "\x87\x84\x8b\x8b\x8e";  // HELLO, 63 above ASCII
    const Files files = generateFiles(mib, hello);
    std::printf("Data: %zu MiB of random bytes with one HELLO, in %s\n", mib, files.folder.c_str());
    // Into the page cache: every row reads warm files.
    runOnce({{"cat", files.rom}, ""}, files.output);
    for (const std::string& part : files.parts) runOnce({{"cat", part}, ""}, files.output);

    const bool oneCoreToo = canPinToOneCore();
    if (!oneCoreToo) std::printf("taskset is not installed (util-linux): the one-core rows are skipped.\n");
    printCatSpeed(files, mib, oneCoreToo);
    printTableHeading();
    for (const std::vector<Row>& rows : tableRows(program, files, oneCoreToo)) measureAndPrint(rows, files.output);
    measurePage(program, files, hello);
    measureTables(program, files);
    measurePatches(program, files);
    compareWorstCases();
    printPeakMemory(program, files, hello);

    std::error_code failure;
    std::filesystem::remove_all(files.folder, failure);
    return failure ? 1 : 0;
}
