// Measures the scan and both shift passes of the built program against cat
// and cp on the same files in the same run, and its peak memory. Prints
// figures; asserts nothing.
//
//   glyphound_bench PATH-TO-glyphound [MiB]     (default 1024 MiB)
//   glyphound_bench --worst                      (only the in-memory worst cases)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "search/relative_search.hpp"
#include "search/word_matcher.hpp"

namespace {

struct Timing {
    double seconds = 1e30;
    long peakKiB = 0;
};

// Every timed run starts with no output files and nothing left to write
// back, so that earlier runs' truncation and writeback don't land in it.
void settle(const std::string& directory) {
    for (const char* name : {"/copy.bin", "/Shifted.BIN", "/Output.ROM"})
        ::unlink((directory + name).c_str());
    ::sync();
}

// Runs `argv` in `directory` with `input` on standard input and everything
// else to /dev/null; best wall time of `repeats` runs.
Timing runCommand(const std::vector<std::string>& argv, const std::string& directory,
                  const std::string& input, int repeats = 5) {
    Timing best;
    for (int r = 0; r < repeats; ++r) {
        settle(directory);
        int in[2];
        if (::pipe(in) != 0) std::exit(1);
        const auto start = std::chrono::steady_clock::now();
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(in[0], 0);
            ::close(in[1]);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            std::vector<char*> args;
            for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            if (::chdir(directory.c_str()) == 0) ::execvp(args[0], args.data());
            ::_exit(127);
        }
        ::close(in[0]);
        if (!input.empty() && ::write(in[1], input.data(), input.size()) < 0) std::perror("write");
        ::close(in[1]);
        int status = 0;
        struct rusage usage {};
        ::wait4(pid, &status, 0, &usage);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        // find and table end with 1 when nothing was found.
        if (!WIFEXITED(status) || WEXITSTATUS(status) > 1)
            std::fprintf(stderr, "warning: %s exited with %d\n", argv[0].c_str(), status);
        best.seconds = std::min(best.seconds, seconds);
        best.peakKiB = std::max(best.peakKiB, usage.ru_maxrss);
    }
    return best;
}

void writeFile(const std::string& path, const std::vector<std::uint8_t>& block, std::size_t mib,
               const std::string& plant, std::size_t plantAt) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (std::size_t i = 0; i < mib; ++i)
        if (::write(fd, block.data(), block.size()) < 0) std::exit(1);
    if (::pwrite(fd, plant.data(), plant.size(), static_cast<off_t>(plantAt)) < 0) std::exit(1);
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

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "Usage: %s PATH-TO-glyphound [MiB] | --worst\n", argv[0]);
        return 1;
    }
    if (std::string(argv[1]) == "--worst") {
        compareWorstCases();
        return 0;
    }
    const std::string program = argv[1];
    const std::size_t mib = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1024;
    char pattern[] = "/tmp/glyphound-bench-XXXXXX";
    const std::string dir = ::mkdtemp(pattern);
    const std::string rom = dir + "/random.bin";
    const std::string hello = "\x87\x84\x8b\x8b\x8e";  // HELLO, 63 above ASCII
    std::printf("Data: %zu MiB of random bytes with one HELLO, in %s\n", mib, dir.c_str());
    writeFile(rom, randomMiB(1), mib, hello, mib << 19);
    std::vector<std::string> parts;
    for (int part = 0; part < 8; ++part) {
        parts.push_back(dir + "/part" + std::to_string(part) + ".bin");
        writeFile(parts.back(), randomMiB(10 + part), mib / 8, hello, 0);
    }

    runCommand({"cat", rom}, dir, "", 1);  // into the page cache
    const Timing cat = runCommand({"cat", rom}, dir, "");
    const Timing cp = runCommand({"cp", rom, dir + "/copy.bin"}, dir, "");
    // cp copies inside the kernel; dd shows what a read-and-write copy through
    // user memory costs, the floor for a pass that changes every byte.
    const Timing dd = runCommand({"dd", "if=" + rom, "of=" + dir + "/copy.bin", "bs=64K", "status=none"}, dir, "");
    const Timing scan = runCommand({program, rom}, dir, "HELLO\nn\n");
    const Timing shift = runCommand({program, rom}, dir, "HELLO\ny\nn\n");
    const Timing both = runCommand({program, rom}, dir, "HELLO\ny\ny\n");
    const double shiftSeconds = shift.seconds - scan.seconds;
    const double backSeconds = both.seconds - shift.seconds;
    const std::vector<std::string> tenWords = {"-e", "HELLO", "-e", "WORLD", "-e", "Player", "-e", "Sword", "-e", "Magic",
                                               "-e", "Potion", "-e", "Dragon", "-e", "Castle", "-e", "Knight", "-e", "Queen"};
    const Timing findOne = runCommand({program, "find", "HELLO", rom}, dir, "");
    std::vector<std::string> findTen = {program, "find"};
    findTen.insert(findTen.end(), tenWords.begin(), tenWords.end());
    findTen.push_back(rom);
    const Timing findMany = runCommand(findTen, dir, "");
    const Timing find16 = runCommand({program, "find", "--width", "16le", "HELLO", rom}, dir, "");
    std::vector<std::string> findParts = {program, "find", "HELLO"}, oneCore = {"taskset", "-c", "0"};
    findParts.insert(findParts.end(), parts.begin(), parts.end());
    for (const std::string& part : parts) runCommand({"cat", part}, dir, "", 1);
    const Timing allCores = runCommand(findParts, dir, "");
    oneCore.insert(oneCore.end(), findParts.begin(), findParts.end());
    const Timing oneCoreOnly = runCommand(oneCore, dir, "");

    std::printf("\n%-34s %8s   %-22s %8s %7s  %s\n", "measurement", "seconds", "yardstick", "seconds", "ratio", "goal");
    const auto row = [](const char* what, double seconds, const char* yardstick, double base, const char* goal) {
        std::printf("%-34s %8.3f   %-22s %8.3f %6.2fx  %s\n", what, seconds, yardstick, base, seconds / base, goal);
    };
    row("dialogue scan, HELLO", scan.seconds, "cat FILE > /dev/null", cat.seconds, "<= 1.2x");
    row("find, one word", findOne.seconds, "cat FILE > /dev/null", cat.seconds, "<= 1.3x");
    row("find, ten words", findMany.seconds, "cat FILE > /dev/null", cat.seconds, "<= 2x");
    row("find --width 16le, one word", find16.seconds, "cat FILE > /dev/null", cat.seconds, "<= 1.5x");
    row("find, 8 files, every core", allCores.seconds, "the same on one core", oneCoreOnly.seconds, "<= 0.6x");
    row("shift pass", shiftSeconds, "dd bs=64K", dd.seconds, "<= 1.0x");
    row("shift pass", shiftSeconds, "cp", cp.seconds, "<= 1.3x");
    row("shift-back pass", backSeconds, "dd bs=64K", dd.seconds, "<= 1.0x");
    row("shift-back pass", backSeconds, "cp", cp.seconds, "<= 1.3x");

    compareWorstCases();

    std::printf("\nPeak memory (maximum resident set), KiB:\n");
    const std::string small = dir + "/small.bin", sparse = dir + "/sparse.bin";
    writeFile(small, randomMiB(3), 1, hello, 100);
    const int fd = ::open(sparse.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::ftruncate(fd, off_t{8} << 30) != 0) return 1;
    ::close(fd);
    std::printf("  %-28s %10s %10s %10s\n", "", "1 MiB", "whole file", "8 GiB");
    const auto peaks = [&](const char* what, std::vector<std::string> argv, const std::string& typed, bool sparseToo) {
        const auto peak = [&](const std::string& file) {
            std::vector<std::string> command = argv;
            for (auto& word : command)
                if (word == "FILE") word = file;
            return runCommand(command, dir, typed, 1).peakKiB;
        };
        std::printf("  %-28s %10ld %10ld", what, peak(small), peak(rom));
        if (sparseToo)
            std::printf(" %10ld\n", peak(sparse));
        else
            std::printf(" %10s\n", "-");
    };
    peaks("dialogue scan", {program, "FILE"}, "HELLO\nn\n", true);
    peaks("dialogue scan and shifts", {program, "FILE"}, "HELLO\ny\ny\n", false);
    peaks("find, ten words", findTen.size() ? [&] { auto c = findTen; c.back() = "FILE"; return c; }() : findTen, "", true);
    peaks("table", {program, "table", "-o", dir + "/out.tbl", "HELLO", "FILE"}, "", true);
    peaks("shift", {program, "shift", "--by", "1", "FILE", dir + "/copy.bin"}, "", false);

    std::string cleanup = "rm -rf '" + dir + "'";
    return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
