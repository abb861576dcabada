#include "commands/command_options.hpp"
#include "engine/reports.hpp"

namespace glyphound::commands {

int runFind(const FindOptions& options, CommandIo& io) {
    io.requireStandardOutput();
    const CommandSearch search = planSearch(options.search, io, options.table);
    Tally tally;
    const FileItemHandler<Found> print = [&](const std::string& file, const Found& found) {
        io.progress().erase();
        io.out().print(options.json ? foundJson(file, search.plan, found)
                                    : foundLine(file, search.namesShown, search.plan, found));
        tally.add(found.values);
    };
    const int status = searchFiles(search, options.search, io, print, true);
    if (!options.json && tally.orders() > 0) io.out().print(tallyLines(tally, search.plan));
    return status;
}

}  // namespace glyphound::commands
