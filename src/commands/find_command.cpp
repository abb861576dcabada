#include <cstdio>
#include <nlohmann/json.hpp>

#include "commands/command_options.hpp"
#include "dialogue/texts.hpp"

namespace glyphound::commands {
namespace {

namespace text = texts::command;

// FILE:0xOFFSET: WORD  A=0x41 a=0x61  "PREVIEW"; through a table, without values.
std::string textLine(const std::string& file, const SearchPlan& plan, const Found& found) {
    std::string values;
    for (std::size_t order = 0; order < found.values.size(); ++order)
        if (found.values[order] >= 0)
            values += " " + plan.alphabet->orders()[order].key() + "=" + valueText(found.values[order], plan.width);
    return (plan.namesShown ? file + ":" : "") + offsetText(found.offset) + ": " + plan.words[found.word] +
           (values.empty() ? "" : " " + values) + "  \"" + found.preview + "\"\n";
}

std::string jsonLine(const std::string& file, const SearchPlan& plan, const Found& found) {
    nlohmann::ordered_json line = {{"file", file}, {"offset", found.offset}};
    if (plan.table) line["length"] = found.length;
    line["word"] = plan.words[found.word];
    if (!plan.table) {
        nlohmann::ordered_json values = nlohmann::ordered_json::object();
        for (std::size_t order = 0; order < found.values.size(); ++order)
            if (found.values[order] >= 0) values[plan.alphabet->orders()[order].key()] = found.values[order];
        line["values"] = values;
    }
    line["preview"] = found.preview;
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
