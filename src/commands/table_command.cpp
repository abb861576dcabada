#include <map>

#include "commands/command_options.hpp"
#include "dialogue/texts.hpp"

namespace glyphound::commands {
namespace {

namespace text = texts::command;

// The value that most hits gave each order; several values with the most
// hits leave the order undecided.
ClassValues consensus(const Tally& tally, const SearchPlan& plan) {
    ClassValues values(plan.alphabet->orders().size(), -1);
    for (std::size_t order = 0; order < tally.orders(); ++order) {
        const auto ranked = tally.ranked(order);
        if (ranked.empty()) continue;
        if (ranked.size() > 1 && ranked[1].second == ranked[0].second) {
            std::string tied;
            for (const auto& [value, hits] : ranked)
                if (hits == ranked[0].second) tied += (tied.empty() ? "" : ", ") + valueText(value, plan.width);
            throw UsageError(text::kTie + plan.alphabet->orders()[order].key() + "': " + tied + " have " +
                             std::to_string(ranked[0].second) + " hits each");
        }
        values[order] = ranked[0].first;
    }
    return values;
}

// "XX=c" lines in key order, ended by CR LF; a key is the unit's bytes in
// file order.
std::string tableText(const ClassValues& values, const Alphabet& alphabet, Width width) {
    std::map<std::string, std::string> entries;
    for (std::size_t order = 0; order < values.size(); ++order) {
        if (values[order] < 0) continue;
        const std::u32string& characters = alphabet.orders()[order].characters;
        for (std::size_t index = 0; index < characters.size(); ++index) {
            const std::uint32_t unit = (static_cast<std::uint32_t>(values[order]) + index) & unitMask(width);
            const std::string character = encodeUtf8(characters[index]);
            const auto [entry, added] = entries.emplace(hexDigits(unit, width), character);
            if (!added)
                throw UsageError(text::kSharedKey + entry->first + ": '" + entry->second + "' and '" + character + "'");
        }
    }
    std::string table;
    for (const auto& [key, character] : entries) table += key + "=" + character + "\r\n";
    return table;
}

ClassValues givenValues(const TableOptions& options, Width width) {
    ClassValues values(3, -1);
    const char* const names[] = {"--A", "--a", "--0"};
    for (std::size_t order = 0; order < values.size(); ++order) {
        if (!options.values[order]) continue;
        const std::int64_t value = parseNumber(*options.values[order], names[order]);
        if (value < 0 || value > unitMask(width))
            throw UsageError(names[order] + std::string(width == Width::Byte ? text::kBadValue : text::kBadUnit));
        values[order] = static_cast<std::int32_t>(value);
    }
    return values;
}

}  // namespace

int runTable(const TableOptions& options, CommandIo& io) {
    const bool valuesGiven = options.values[0] || options.values[1] || options.values[2];
    const bool searchGiven = !options.search.operands.empty() || !options.search.expressions.empty() ||
                             !options.search.wordFiles.empty();
    if (valuesGiven && searchGiven) throw UsageError(text::kBothTableSources);
    if (!valuesGiven && !searchGiven) throw UsageError(text::kNoTableSource);

    const Width width = patternOptions(options.search).width;
    const std::string table = valuesGiven ? tableText(givenValues(options, width), Alphabet(), width) : "";
    // Claimed before the search, so that no file read can be the table.
    auto output = io.createOutput(options.output);
    if (!output) return kError;
    if (searchGiven) {
        const SearchPlan plan = planSearch(options.search, io);
        Tally tally;
        const int status = searchFiles(
            plan, options.search, io, [&](const std::string&, const Found& found) { tally.add(found.values); }, false);
        if (status != kFound) return status;
        output->print(tableText(consensus(tally, plan), *plan.alphabet, width));
    }
    output->print(table);
    if (!output->close()) return io.failWrite(options.output, *output);
    return kSuccess;
}

}  // namespace glyphound::commands
