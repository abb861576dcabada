#include <cstdio>
#include <nlohmann/json.hpp>

#include "commands/command_options.hpp"
#include "dialogue/texts.hpp"

namespace glyphound::commands {
namespace {

namespace text = texts::command;

std::string offsetText(std::uint64_t offset) {
    char digits[24];
    std::snprintf(digits, sizeof digits, "0x%08llX", static_cast<unsigned long long>(offset));
    return digits;
}

// FILE:0xOFFSET: WORD  A=0x41 a=0x61  "PREVIEW"
std::string textLine(const std::string& file, const SearchPlan& plan, const Pattern& pattern, const Hit& hit) {
    std::string line = plan.namesShown ? file + ":" : "";
    line += offsetText(hit.offset) + ": " + pattern.word() + " ";
    for (std::size_t order = 0; order < hit.values.size(); ++order)
        if (hit.values[order] >= 0)
            line += std::string(" ") + plan.alphabet->orders()[order].key() + "=" + valueText(hit.values[order], plan.width);
    return line + "  \"" + pattern.preview(hit) + "\"\n";
}

std::string jsonLine(const std::string& file, const SearchPlan& plan, const Pattern& pattern, const Hit& hit) {
    nlohmann::ordered_json values = nlohmann::ordered_json::object();
    for (std::size_t order = 0; order < hit.values.size(); ++order)
        if (hit.values[order] >= 0) values[plan.alphabet->orders()[order].key()] = hit.values[order];
    const nlohmann::ordered_json line = {{"file", file},
                                         {"offset", hit.offset},
                                         {"word", pattern.word()},
                                         {"values", values},
                                         {"preview", pattern.preview(hit)}};
    // Names that are not UTF-8 still give valid JSON.
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

// Where the hits put each class, the consensus first.
void printTally(const Tally& tally, const SearchPlan& plan, OutputStream& out) {
    out.print(text::kTallyHeading);
    for (std::size_t order = 0; order < tally.orders(); ++order)
        for (const auto& [value, hits] : tally.ranked(order))
            out.print("  " + plan.alphabet->orders()[order].key() + "=" + valueText(value, plan.width) + "  " +
                      std::to_string(hits) + (hits == 1 ? " hit\n" : " hits\n"));
}

}  // namespace

int runFind(const FindOptions& options, CommandIo& io) {
    io.requireStandardOutput();
    const SearchPlan plan = planSearch(options.search, io);
    Tally tally;
    std::uint64_t hits = 0;
    const int status = searchFiles(plan, options.search, io, [&](const std::string& file, const Hit& hit) {
        const Pattern& pattern = plan.patterns[hit.pattern];
        io.progress().erase();
        io.out().print(options.json ? jsonLine(file, plan, pattern, hit) : textLine(file, plan, pattern, hit));
        tally.add(hit.values);
        ++hits;
    });
    if (!options.json && hits > 0) printTally(tally, plan, io.out());
    return status;
}

}  // namespace glyphound::commands
