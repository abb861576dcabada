#include <map>

#include "commands/command_options.hpp"
#include "dialogue/texts.hpp"

namespace glyphound::commands {
namespace {

namespace text = texts::command;
// The value that most hits gave each class; several values with the most
// hits leave the class undecided.
ClassValues consensus(const Tally& tally) {
    ClassValues values{-1, -1, -1};
    for (int c = 0; c < kClassCount; ++c) {
        const auto ranked = tally.ranked(c);
        if (ranked.empty()) continue;
        if (ranked.size() > 1 && ranked[1].second == ranked[0].second) {
            std::string tied;
            for (const auto& [value, hits] : ranked)
                if (hits == ranked[0].second) tied += (tied.empty() ? "0x" : ", 0x") + hexDigits(value);
            throw UsageError(text::kTie + std::string(1, kClassFirst[c]) + "': " + tied + " have " +
                             std::to_string(ranked[0].second) + " hits each");
        }
        values[c] = ranked[0].first;
    }
    return values;
}

// "XX=c" lines in key order, ended by CR LF.
std::string tableText(const ClassValues& values) {
    std::map<int, char> entries;
    for (int c = 0; c < kClassCount; ++c) {
        if (values[c] < 0) continue;
        for (int index = 0; index < kClassSize[c]; ++index) {
            const int key = (values[c] + index) & 0xFF;
            const char character = static_cast<char>(kClassFirst[c] + index);
            const auto [entry, added] = entries.emplace(key, character);
            if (!added)
                throw UsageError(text::kSharedKey + hexDigits(key) + ": '" + entry->second + "' and '" + character + "'");
        }
    }
    std::string table;
    for (const auto& [key, character] : entries) table += hexDigits(key) + "=" + character + "\r\n";
    return table;
}

ClassValues givenValues(const TableOptions& options) {
    ClassValues values{-1, -1, -1};
    const char* const names[kClassCount] = {"--A", "--a", "--0"};
    for (int c = 0; c < kClassCount; ++c) {
        if (!options.values[c]) continue;
        const std::int64_t value = parseNumber(*options.values[c], names[c]);
        if (value < 0 || value > 255) throw UsageError(names[c] + std::string(text::kBadValue));
        values[c] = static_cast<int>(value);
    }
    return values;
}

}  // namespace

int runTable(const TableOptions& options, CommandIo& io) {
    const bool valuesGiven = options.values[0] || options.values[1] || options.values[2];
    const bool searchGiven = !options.search.operands.empty() || !options.search.expressions.empty() ||
                             !options.search.wordFile.empty();
    if (valuesGiven && searchGiven) throw UsageError(text::kBothTableSources);
    if (!valuesGiven && !searchGiven) throw UsageError(text::kNoTableSource);

    ClassValues values = givenValues(options);
    std::string table = valuesGiven ? tableText(values) : "";
    // Claimed before the search, so that no file read can be the table.
    auto output = io.createOutput(options.output);
    if (!output) return kError;
    if (searchGiven) {
        const SearchPlan plan = planSearch(options.search, io);
        Tally tally;
        const int status = searchFiles(plan, options.search, io, [&](const std::string&, const Hit& hit) { tally.add(hit.values); });
        if (status != kFound) return status;
        table = tableText(consensus(tally));
    }
    output->print(table);
    if (!output->close()) return io.failWrite(options.output, *output);
    return kSuccess;
}

}  // namespace glyphound::commands
