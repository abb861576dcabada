#include "commands/command_options.hpp"
#include "dialogue/texts.hpp"
#include "engine/dump.hpp"
#include "engine/reports.hpp"
#include "engine/script.hpp"

namespace glyphound::commands {
namespace {

namespace text = texts::command;

std::uint64_t offsetOption(const std::optional<std::string>& option, const char* name, std::uint64_t otherwise) {
    if (!option) return otherwise;
    const std::int64_t value = parseNumber(*option, name);
    if (value < 0) throw UsageError(name + std::string(text::kBadOffset));
    return static_cast<std::uint64_t>(value);
}

std::optional<Range> rangeOf(const DumpOptions& options) {
    if (!options.start && !options.end) return std::nullopt;
    Range range{offsetOption(options.start, "--start", 0), std::nullopt};
    if (options.end) range.end = offsetOption(options.end, "--end", 0);
    if (range.end && *range.end < range.start) throw UsageError(text::kEndBeforeStart);
    return range;
}

// A range must lie in the file; where the size is known beforehand, nothing
// is read of a file it doesn't fit.
std::string rangeFailure(const Range& range, std::uint64_t size) {
    const std::uint64_t last = range.end.value_or(range.start);
    if (size >= last) return "";
    return text::kRangePastTheEnd + std::to_string(size) + text::kRangePastTheEndBytes;
}

std::size_t keptSize(const TableString& string) { return sizeof string + string.text.size() * sizeof(char32_t); }

}  // namespace

int runDump(const DumpOptions& options, CommandIo& io) {
    const std::optional<Range> range = rangeOf(options);
    const std::uint64_t minimum = offsetOption(options.minimum, "--min", kDefaultMinLength);
    if (minimum == 0) throw UsageError(text::kBadMinimum);
    if (options.script && (options.json || options.recursive || options.files.size() > 1))
        throw UsageError(text::kScriptOfOneFile);
    const Table table = loadTable(options.table, io);
    // Claimed before any file is read, so that no input can be the output.
    CommandOutput file = options.output.empty() ? nullptr : io.createOutput(options.output);
    if (!options.output.empty() && !file) return kError;
    if (!file) io.requireStandardOutput();
    OutputStream& out = file ? *file : io.out();
    std::vector<std::string> files = options.files;
    if (files.empty() && !options.recursive) files.push_back(kStandardStream);
    const bool namesShown = files.size() > 1 || options.recursive;

    const FileWork<TableString> work = [&](ByteSource& source, const ItemHandler<TableString>& onString) {
        if (!range) return findStrings(source, table, minimum, onString) ? std::string() : readFailure(source);
        if (source.size() >= 0) {
            const std::string tooShort = rangeFailure(*range, static_cast<std::uint64_t>(source.size()));
            if (!tooShort.empty()) return tooShort;
        }
        const RangeRead read = readRange(source, table, *range, onString);
        return read.readFailed ? readFailure(source) : rangeFailure(*range, read.reached);
    };
    const FileItemHandler<TableString> print = [&](const std::string& name, const TableString& string) {
        io.progress().erase();
        if (options.script)
            out.print(scriptLines(string));
        else
            out.print(options.json ? stringJson(name, string) : stringLine(name, namesShown, string));
    };
    const int status = FileJobs<TableString>(jobsFor(files, options.recursive, io), io, work, print, keptSize).run();
    if (status == kError || !file) return status;
    if (!file->close()) return io.failWrite(options.output, *file);
    return status;
}

}  // namespace glyphound::commands
