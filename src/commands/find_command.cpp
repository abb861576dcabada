#include <cstdio>
#include <nlohmann/json.hpp>

#include "commands/command_options.hpp"
#include "dialogue/texts.hpp"

namespace glyphound::commands {
namespace {

namespace text = texts::command;

// What a hit says: each class's value, or the unit of each character the
// word shows, in its order.
std::vector<std::pair<std::string, std::int32_t>> valuesOf(const SearchPlan& plan, const Found& found) {
    std::vector<std::pair<std::string, std::int32_t>> values;
    if (plan.match != MatchMode::Relative) {
        const std::u32string& shown = plan.patterns[found.word].shownCharacters();
        for (std::size_t at = 0; at < found.units.size(); ++at)
            values.emplace_back(encodeUtf8(shown[at]), static_cast<std::int32_t>(found.units[at]));
        return values;
    }
    for (std::size_t slot = 0; slot < found.values.size(); ++slot)
        if (found.values[slot] >= 0) values.emplace_back(plan.slots[slot].key(), found.values[slot]);
    return values;
}

// FILE:0xOFFSET: WORD  A=0x41 a=0x61  "PREVIEW"; through a table, without values.
std::string textLine(const std::string& file, const SearchPlan& plan, const Found& found) {
    std::string values;
    for (const auto& [key, value] : valuesOf(plan, found))
        values += std::string(" ") + key + "=" + valueText(value, plan.width);
    return (plan.namesShown ? file + ":" : "") + offsetText(found.offset) + ": " + plan.words[found.word] +
           (values.empty() ? "" : " " + values) + "  \"" + found.preview + "\"\n";
}

std::string jsonLine(const std::string& file, const SearchPlan& plan, const Found& found) {
    nlohmann::ordered_json line = {{"file", file}, {"offset", found.offset}};
    if (plan.table) line.push_back({"length", found.length});
    line.push_back({"word", plan.words[found.word]});
    nlohmann::ordered_json values = nlohmann::ordered_json::object();
    for (const auto& [key, value] : valuesOf(plan, found)) values[key] = value;
    if (!plan.table) line.push_back({plan.match == MatchMode::Relative ? "values" : "units", values});
    line.push_back({"preview", found.preview});
    // Names that are not UTF-8 still give valid JSON.
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

// Where the hits put each class, the consensus first.
void printTally(const Tally& tally, const SearchPlan& plan, OutputStream& out) {
    out.print(text::kTallyHeading);
    for (std::size_t order = 0; order < tally.orders(); ++order)
        for (const auto& [value, hits] : tally.ranked(order))
            out.print("  " + plan.slots[order].key() + "=" + valueText(value, plan.width) + "  " +
                      std::to_string(hits) + (hits == 1 ? " hit\n" : " hits\n"));
}

}  // namespace

int runFind(const FindOptions& options, CommandIo& io) {
    io.requireStandardOutput();
    const SearchPlan plan = planSearch(options.search, io, options.table);
    Tally tally;
    const FileItemHandler<Found> print = [&](const std::string& file, const Found& found) {
        io.progress().erase();
        io.out().print(options.json ? jsonLine(file, plan, found) : textLine(file, plan, found));
        tally.add(found.values);
    };
    const int status = searchFiles(plan, options.search, io, print, true);
    if (!options.json && tally.orders() > 0) printTally(tally, plan, io.out());
    return status;
}

}  // namespace glyphound::commands
