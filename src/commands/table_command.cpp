#include "commands/command_options.hpp"
#include "dialogue/texts.hpp"
#include "engine/reports.hpp"

namespace glyphound::commands {
namespace {

namespace text = texts::command;

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

    const Width width = widthNamed(options.search.width.value_or("8"));
    const std::string table = valuesGiven ? tableOfValues(givenValues(options, width), width) : "";
    // Claimed before the search, so that no file read can be the table.
    auto output = io.createOutput(options.output);
    if (!output) return kError;
    if (searchGiven) {
        const CommandSearch search = planSearch(options.search, io);
        Tally tally;
        const int status = searchFiles(
            search, options.search, io, [&](const std::string&, const Found& found) { tally.add(found.values); }, false);
        if (status != kFound) return status;
        output->print(tableOfHits(tally, search.plan));
    }
    output->print(table);
    if (!output->close()) return io.failWrite(options.output, *output);
    return kSuccess;
}

}  // namespace glyphound::commands
