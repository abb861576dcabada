// The search that `find` prints and `table` summarises.
#include <algorithm>
#include <cctype>

#include "commands/command_options.hpp"
#include "dialogue/texts.hpp"
#include "io/lines.hpp"

namespace glyphound::commands {
namespace {

namespace text = texts::command;

// Word lists and character orders are small; a bigger file is neither.
constexpr std::size_t kMaxListFile = 1 << 20;
std::string readList(const std::string& name, CommandIo& io) {
    return readSmallFile(name, io, kMaxListFile, text::kListTooLarge);
}

void readWordFile(const std::string& name, CommandIo& io, std::vector<std::string>& words) {
    for (std::string& word : wordsOfList(readList(name, io))) words.push_back(std::move(word));
}

}  // namespace

std::string readSmallFile(const std::string& name, CommandIo& io, std::size_t limit, const char* tooLarge) {
    auto source = io.openInput(name);
    if (!source) throw ReportedError{};
    std::string bytes;
    std::uint8_t block[4096];
    for (;;) {
        const ReadResult got = source->read(block, sizeof block);
        if (got.failed) {
            io.reportFile(name, source->failure());
            throw ReportedError{};
        }
        if (got.count == 0) {
            bytes.erase(0, bytes.size() - withoutByteOrderMark(bytes).size());
            return bytes;
        }
        bytes.append(reinterpret_cast<const char*>(block), got.count);
        if (bytes.size() > limit) io.fail(name + tooLarge);
    }
}

std::string readWholeFile(const std::string& name, CommandIo& io, std::uint64_t limit) {
    auto source = io.openInput(name);
    if (!source) throw ReportedError{};
    return readWholeSource(*source, name, io, limit);
}

std::string readWholeSource(ByteSource& source, const std::string& name, CommandIo& io, std::uint64_t limit) {
    std::string bytes;
    std::vector<std::uint8_t> block(std::size_t{1} << 20);
    for (;;) {
        const ReadResult got = source.read(block.data(), block.size());
        if (got.failed) {
            io.reportFile(name, readFailure(source));
            throw ReportedError{};
        }
        if (got.count == 0) return bytes;
        bytes.append(reinterpret_cast<const char*>(block.data()), got.count);
        if (bytes.size() > limit) io.fail(name + text::kFileTooLarge);
    }
}

PointerFormat formatOf(const PointerOptions& options) {
    return pointerFormatOf(options.bits, options.endian, options.split);
}

Table loadTable(const std::string& name, CommandIo& io) {
    std::string failure;
    auto table = Table::parse(readSmallFile(name, io, Table::kMaxFile, texts::table::kTooLarge), name, failure);
    if (!table) io.fail(failure);
    return std::move(*table);
}

namespace {

// Each --order as the engine takes it: a built-in name, or a file's text.
std::vector<SearchRequest::Order> ordersOf(const SearchOptions& options, CommandIo& io) {
    std::vector<SearchRequest::Order> orders;
    for (const std::string& name : options.orders) {
        const bool file = !builtInOrder(name) && io.system().exists(name);
        orders.push_back({name, file ? std::optional(readList(name, io)) : std::nullopt});
    }
    return orders;
}

std::size_t keptSize(const Found& found) {
    return sizeof found + found.preview.size() + found.values.size() * sizeof found.values[0];
}

}  // namespace

CommandSearch planSearch(const SearchOptions& options, CommandIo& io, const std::string& table) {
    SearchRequest request{options.expressions, options.caseMode, options.wildcard, options.width,
                          options.match,       options.gaps,     {},              std::nullopt};
    CommandSearch search;
    search.files = options.operands;
    for (const std::string& wordFile : options.wordFiles) readWordFile(wordFile, io, request.words);
    if (options.expressions.empty() && options.wordFiles.empty() && !search.files.empty()) {
        request.words.push_back(search.files.front());
        search.files.erase(search.files.begin());
    }
    request.orders = ordersOf(options, io);
    if (!table.empty()) request.table = loadTable(table, io);
    search.plan = planSearch(request);
    search.namesShown = search.files.size() > 1 || options.recursive;
    if (search.files.empty() && !options.recursive) search.files.push_back(kStandardStream);
    return search;
}

int searchFiles(const CommandSearch& search, const SearchOptions& options, CommandIo& io,
                const FileItemHandler<Found>& onFound, bool previews) {
    const FileWork<Found> work = [&](ByteSource& source, const Job& job, const ItemHandler<Found>& onItem) {
        return searchSource(search.plan, source, onItem, previews, {job.start, job.end}) ? std::string()
                                                                                          : readFailure(source);
    };
    std::vector<Job> jobs = jobsFor(search.files, options.recursive, io);
    if (readableInParts(search.plan)) jobs = inParts(std::move(jobs), io);
    return FileJobs<Found>(std::move(jobs), io, work, onFound, keptSize).run();
}

}  // namespace glyphound::commands
