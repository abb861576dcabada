#include "commands/command_options.hpp"
#include "dialogue/texts.hpp"
#include "engine/dump.hpp"
#include "engine/pointed_strings.hpp"
#include "engine/reports.hpp"
#include "engine/script.hpp"

namespace glyphound::commands {
namespace {

namespace text = texts::command;

constexpr std::size_t kLinesBlock = 64 * 1024;

std::size_t keptSize(const std::string& lines) { return lines.size(); }

// A file whose strings pointers lead to is read whole.
constexpr std::uint64_t kMostBytes = std::uint64_t{1} << 30;

// The strings that tables of pointers lead to, in the tables' order.
int dumpPointedStrings(const DumpOptions& options, const Table& table, OutputStream& out, CommandIo& io) {
    if (options.files.size() != 1 || options.recursive || options.start || options.end || options.minimum)
        throw UsageError(text::kPointersOfOneFile);
    const std::string& name = options.files.front();
    const std::string file = readWholeFile(name, io, kMostBytes);
    const AddressMap map = mapOf(options.pointer.map, file);
    PointerFormat format = formatOf(options.pointer);
    std::optional<std::uint64_t> stride;
    if (options.pointer.stride) stride = numberIn(options.pointer.stride, "--stride", 1, 1, 1 << 20, text::kBadStride);
    std::vector<PointerTable> tables;
    for (const std::string& given : options.pointers) tables.push_back(pointerTableOf(given, map, format, stride));
    std::vector<PointedString> strings;
    try {
        strings = pointedStrings(file, table, tables, options.untilNext);
    } catch (const Refusal& refused) {
        io.fail(name + ": " + refused.what());
    }
    if (options.script) out.print(scriptHead({map.name(), format}));
    for (const PointedString& pointed : strings) {
        if (options.script)
            out.print(scriptLines(pointed.string, pointed.pointers));
        else
            out.print(options.json ? stringJson(name, pointed.string) : stringLine(name, false, pointed.string));
    }
    return strings.empty() ? kNothingFound : kFound;
}

}  // namespace

int runDump(const DumpOptions& options, CommandIo& io) {
    const std::optional<Range> range = rangeOf(options.start, options.end);
    const std::uint64_t minimum = minimumOf(options.minimum);
    if (options.script && (options.json || options.recursive || options.files.size() > 1))
        throw UsageError(text::kScriptOfOneFile);
    // Claimed before any file is read, so that no input, nor the table, can
    // be the output.
    CommandOutput file = options.output.empty() ? nullptr : io.createOutput(options.output);
    if (!options.output.empty() && !file) return kError;
    const Table table = loadTable(options.table, io);
    if (!file) io.requireStandardOutput();
    OutputStream& out = file ? *file : io.out();
    if (!options.pointers.empty()) {
        const int status = dumpPointedStrings(options, table, out, io);
        if (!file) return status;
        return file->close() ? status : io.failWrite(options.output, *file);
    }
    std::vector<std::string> files = options.files;
    if (files.empty() && !options.recursive) files.push_back(kStandardStream);
    const bool namesShown = files.size() > 1 || options.recursive;

    const auto read = [&](ByteSource& source, const Job& job, const StringHandler& onString) {
        if (!range)
            return findStrings(source, table, minimum, onString, VectorWidth::Best, {job.start, job.end})
                       ? std::string()
                       : readFailure(source);
        if (source.size() >= 0) {
            const std::string tooShort = rangeFailure(*range, static_cast<std::uint64_t>(source.size()));
            if (!tooShort.empty()) return tooShort;
        }
        const RangeRead reached = readRange(source, table, *range, onString);
        return reached.readFailed ? readFailure(source) : rangeFailure(*range, reached.reached);
    };
    // Each worker writes its strings' lines and hands them over a block at a
    // time: a part's lines wait for its turn, and a block waits at less cost
    // than a line at a time.
    const FileWork<std::string> work = [&](ByteSource& source, const Job& job, const ItemHandler<std::string>& onLines) {
        std::string lines;
        const std::string failure = read(source, job, [&](const TableString& string) {
            if (options.script)
                lines += scriptLines(string);
            else if (options.json)
                lines += stringJson(job.name, string);
            else
                appendStringLine(lines, job.name, namesShown, string);
            if (lines.size() < kLinesBlock) return;
            onLines(lines);
            lines.clear();
        });
        if (!lines.empty()) onLines(lines);
        return failure;
    };
    const FileItemHandler<std::string> print = [&](const std::string&, const std::string& lines) {
        io.progress().erase();
        out.print(lines);
    };
    std::vector<Job> jobs = jobsFor(files, options.recursive, io);
    // Parts meet at bytes that no entry holds; a table whose parameters can
    // be any byte leaves none.
    if (!range && !table.bytesInEntries().full()) jobs = inParts(std::move(jobs), io);
    const int status = FileJobs<std::string>(std::move(jobs), io, work, print, keptSize).run();
    if (status == kError || !file) return status;
    if (!file->close()) return io.failWrite(options.output, *file);
    return status;
}

}  // namespace glyphound::commands
