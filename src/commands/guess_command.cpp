#include "commands/command_options.hpp"
#include "commands/file_jobs.hpp"
#include "dialogue/texts.hpp"
#include "engine/guess.hpp"
#include "engine/reports.hpp"

namespace glyphound::commands {
namespace {

namespace text = texts::command;

constexpr std::int64_t kMostShown = 100;

std::size_t topOf(const std::string& given) {
    const std::int64_t top = parseNumber(given, "--top");
    if (top < 1 || top > kMostShown) throw UsageError(text::kBadTop);
    return static_cast<std::size_t>(top);
}

// Bytes a part kept, from `offset`.
struct Kept {
    std::uint64_t offset = 0;
    std::vector<std::uint8_t> bytes;
};

std::size_t keptSize(const Kept& kept) { return kept.bytes.size(); }

// Guesses one file and prints its candidates; false when it can't be read.
// A big file named alone is read in parts side by side, as `dump` reads it.
bool guessFile(const std::string& file, const GuessOptions& options, bool nameShown, CommandIo& io, bool& found) {
    const Width width = widthNamed(options.width);
    TextSample sample;
    const FileWork<Kept> work = [&](ByteSource& source, const Job& job, const ItemHandler<Kept>& onKept) {
        const bool read = sampleTextLikePart(source, width, {job.start, job.end},
                                             [&](std::uint64_t offset, const std::uint8_t* bytes, std::size_t size) {
                                                 onKept(Kept{offset, std::vector<std::uint8_t>(bytes, bytes + size)});
                                             });
        return read ? std::string() : readFailure(source);
    };
    const FileItemHandler<Kept> keep = [&](const std::string&, const Kept& kept) {
        keepInSample(sample, kept.offset, kept.bytes.data(), kept.bytes.size());
    };
    std::vector<Job> jobs = inParts(jobsFor({file}, false, io), io);
    if (FileJobs<Kept>(std::move(jobs), io, work, keep, keptSize).run() == kError) return false;
    if (sample.partial) io.reportFile(file, text::kSampled);
    const std::vector<AlphabetGuess> guesses = rankAlphabets(sample, width, topOf(options.top));
    found = found || !guesses.empty();
    if (!options.json && nameShown && !guesses.empty()) io.out().print(file + ":\n");
    for (std::size_t rank = 0; rank < guesses.size(); ++rank)
        io.out().print(options.json ? guessJson(file, guesses[rank]) : guessLines(rank + 1, guesses[rank], width));
    return true;
}

}  // namespace

int runGuess(const GuessOptions& options, CommandIo& io) {
    io.requireStandardOutput();
    widthNamed(options.width);
    topOf(options.top);
    const std::vector<std::string> files =
        options.operands.empty() ? std::vector<std::string>{kStandardStream} : options.operands;
    bool found = false, failed = false;
    for (const std::string& file : files)
        failed = !guessFile(file, options, files.size() > 1, io, found) || failed;
    if (failed) return kError;
    return found ? kFound : kNothingFound;
}

}  // namespace glyphound::commands
