#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "commands/command_options.hpp"
#include "dialogue/texts.hpp"
#include "engine/guess.hpp"

namespace glyphound::commands {
namespace {

namespace text = texts::command;

constexpr std::int64_t kMostShown = 100;

std::size_t topOf(const std::string& given) {
    const std::int64_t top = parseNumber(given, "--top");
    if (top < 1 || top > kMostShown) throw UsageError(text::kBadTop);
    return static_cast<std::size_t>(top);
}

// The classes' keys as find names them: "A", then "a" where there is lower case.
std::vector<std::pair<std::string, std::int32_t>> namedValues(const AlphabetGuess& guess) {
    const Alphabet alphabet;
    std::vector<std::pair<std::string, std::int32_t>> named;
    for (std::size_t order = 0; order < guess.values.size(); ++order)
        if (guess.values[order] >= 0) named.emplace_back(alphabet.orders()[order].key(), guess.values[order]);
    return named;
}

// A score as one decimal, the same in text and JSON.
double rounded(double score) { return std::round(score * 10) / 10; }

// 1. A=0x80 a=0x10  score 402.3  text 812 bytes
//    0x00000200: "The keeper gave them blankets and hot soup in her"
std::string textOf(std::size_t rank, const AlphabetGuess& guess, Width width) {
    std::string lines = std::to_string(rank) + ".";
    for (const auto& [key, value] : namedValues(guess)) lines += " " + key + "=" + valueText(value, width);
    char score[32];
    std::snprintf(score, sizeof score, "%.1f", rounded(guess.score));
    lines += text::kScore + std::string(score) + text::kTextBytes + std::to_string(guess.textBytes) + text::kBytes;
    for (const TextRun& run : guess.runs) {
        char offset[24];
        std::snprintf(offset, sizeof offset, "0x%08llX", static_cast<unsigned long long>(run.offset));
        lines += std::string("   ") + offset + ": \"" + run.preview + "\"\n";
    }
    return lines;
}

std::string jsonOf(const std::string& file, const AlphabetGuess& guess) {
    nlohmann::ordered_json values = nlohmann::ordered_json::object(), runs = nlohmann::ordered_json::array();
    for (const auto& [key, value] : namedValues(guess)) values[key] = value;
    for (const TextRun& run : guess.runs)
        runs.push_back({{"offset", run.offset}, {"length", run.length}, {"preview", run.preview}});
    const nlohmann::ordered_json line = {{"file", file},
                                         {"values", values},
                                         {"score", rounded(guess.score)},
                                         {"text_bytes", guess.textBytes},
                                         {"runs", runs}};
    // Names that are not UTF-8 still give valid JSON.
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

// Guesses one file and prints its candidates; false when it can't be read.
bool guessFile(const std::string& file, const GuessOptions& options, bool nameShown, CommandIo& io, bool& found) {
    const Width width = widthNamed(options.width);
    auto source = io.openInput(file, Reading::Ahead);
    if (!source) return false;
    TextSample sample;
    if (!sampleTextLike(*source, width, sample)) {
        io.reportFile(file, source->failure().empty() ? text::kReadFailed : source->failure());
        return false;
    }
    io.progress().erase();
    if (sample.partial) io.reportFile(file, text::kSampled);
    const std::vector<AlphabetGuess> guesses = rankAlphabets(sample, width, topOf(options.top));
    found = found || !guesses.empty();
    if (!options.json && nameShown && !guesses.empty()) io.out().print(file + ":\n");
    for (std::size_t rank = 0; rank < guesses.size(); ++rank)
        io.out().print(options.json ? jsonOf(file, guesses[rank]) : textOf(rank + 1, guesses[rank], width));
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
