#include <cstdio>
#include <nlohmann/json.hpp>

#include "commands/command_options.hpp"
#include "dialogue/texts.hpp"

namespace glyphound::commands {
namespace {

namespace text = texts::command;
const char* const kClassKeys[kClassCount] = {"A", "a", "0"};

std::string hexByte(int value) { return "0x" + hexDigits(value); }

std::string hexOffset(std::uint64_t offset) {
    char digits[24];
    std::snprintf(digits, sizeof digits, "0x%08llX", static_cast<unsigned long long>(offset));
    return digits;
}

// FILE:0xOFFSET: WORD  A=0x41 a=0x61  "PREVIEW"
std::string textLine(const std::string& file, bool nameShown, const Pattern& pattern, const Hit& hit) {
    std::string line = nameShown ? file + ":" : "";
    line += hexOffset(hit.offset) + ": " + pattern.word() + " ";
    for (int c = 0; c < kClassCount; ++c)
        if (hit.values[c] >= 0) line += std::string(" ") + kClassKeys[c] + "=" + hexByte(hit.values[c]);
    return line + "  \"" + pattern.preview(hit) + "\"\n";
}

std::string jsonLine(const std::string& file, const Pattern& pattern, const Hit& hit) {
    nlohmann::ordered_json values = nlohmann::ordered_json::object();
    for (int c = 0; c < kClassCount; ++c)
        if (hit.values[c] >= 0) values[kClassKeys[c]] = hit.values[c];
    const nlohmann::ordered_json line = {{"file", file},
                                         {"offset", hit.offset},
                                         {"word", pattern.word()},
                                         {"values", values},
                                         {"preview", pattern.preview(hit)}};
    // Names that are not UTF-8 still give valid JSON.
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

// Where the hits put each class, the consensus first.
void printTally(const Tally& tally, OutputStream& out) {
    out.print(text::kTallyHeading);
    for (int c = 0; c < kClassCount; ++c)
        for (const auto& [value, hits] : tally.ranked(c))
            out.print(std::string("  ") + kClassKeys[c] + "=" + hexByte(value) + "  " + std::to_string(hits) +
                      (hits == 1 ? " hit\n" : " hits\n"));
}

}  // namespace

int runFind(const FindOptions& options, CommandIo& io) {
    const SearchPlan plan = planSearch(options.search, io);
    Tally tally;
    std::uint64_t hits = 0;
    const int status = searchFiles(plan, options.search, io, [&](const std::string& file, const Hit& hit) {
        const Pattern& pattern = plan.patterns[hit.pattern];
        io.progress().erase();
        io.out().print(options.json ? jsonLine(file, pattern, hit) : textLine(file, plan.namesShown, pattern, hit));
        tally.add(hit.values);
        ++hits;
    });
    if (!options.json && hits > 0) printTally(tally, io.out());
    return status;
}

}  // namespace glyphound::commands
