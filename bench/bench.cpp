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
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
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

void compareWorstCases() {
    std::printf("\nWorst cases, in memory (64 passes over 1 MiB, best of 9):\n");
    compareWithPlainLoop("one repeated byte, LLAMA", std::vector<std::uint8_t>(1 << 20, 0x41), "LLAMA");
    compareWithPlainLoop("one repeated byte, AAAB", std::vector<std::uint8_t>(1 << 20, 0x41), "AAAB");
    compareWithPlainLoop("shifted English, the", shiftedEnglishMiB(), "the");
    compareWithPlainLoop("shifted English, word", shiftedEnglishMiB(), "word");
    compareWithPlainLoop("random bytes, HELLO", randomMiB(2), "HELLO");
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
    const double gb = static_cast<double>(mib << 20) / 1e9;

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

    std::printf("\n%-28s %9s %9s %12s\n", "", "seconds", "GB/s", "vs baseline");
    std::printf("%-28s %9.3f %9.2f\n", "cat FILE > /dev/null", cat.seconds, gb / cat.seconds);
    std::printf("%-28s %9.3f %9.2f %11.2fx\n", "scan (whole run)", scan.seconds, gb / scan.seconds, scan.seconds / cat.seconds);
    std::printf("%-28s %9.3f %9.2f\n", "cp FILE copy", cp.seconds, gb / cp.seconds);
    std::printf("%-28s %9.3f %9.2f %11.2fx\n", "dd bs=64K (user-space copy)", dd.seconds, gb / dd.seconds, dd.seconds / cp.seconds);
    std::printf("%-28s %9.3f %9.2f %11.2fx\n", "shift pass", shiftSeconds, gb / shiftSeconds, shiftSeconds / cp.seconds);
    std::printf("%-28s %9.3f %9.2f %11.2fx\n", "shift-back pass", backSeconds, gb / backSeconds, backSeconds / cp.seconds);

    compareWorstCases();

    std::printf("\nPeak memory (maximum resident set) of a scan:\n");
    const std::string small = dir + "/small.bin", sparse = dir + "/sparse.bin";
    writeFile(small, randomMiB(3), 1, hello, 100);
    const int fd = ::open(sparse.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::ftruncate(fd, off_t{8} << 30) != 0) return 1;
    ::close(fd);
    std::printf("  %-26s %6ld KiB\n", "1 MiB file", runCommand({program, small}, dir, "HELLO\nn\n", 1).peakKiB);
    std::printf("  %-26s %6ld KiB\n", "8 GiB sparse file", runCommand({program, sparse}, dir, "HELLO\nn\n", 1).peakKiB);

    std::string cleanup = "rm -rf '" + dir + "'";
    return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
