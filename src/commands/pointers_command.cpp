#include "commands/command_options.hpp"
#include "dialogue/texts.hpp"
#include "engine/dump.hpp"
#include "engine/pointer_table.hpp"
#include "engine/reports.hpp"
#include "io/memory_source.hpp"

namespace glyphound::commands {
namespace {

namespace text = texts::pointers;

constexpr std::uint64_t kMostBytes = std::uint64_t{1} << 30;

PointerSearch searchOf(const PointersOptions& options, std::uint64_t size, const std::string& header) {
    return pointerSearchOf(options.pointer.map.value_or("auto"), options.pointer.bits, options.pointer.endian,
                           options.fewest, size, header);
}

// A file is searched in two passes, one for its strings and one for the
// pointers to them. One that is small, or that can't be read twice, is held
// whole for them (and split tables, sought only in small files, need it
// whole); a larger one is read twice and mapped for the strings a report
// quotes.
class SearchedFile {
public:
    SearchedFile(const std::string& name, CommandIo& io) : name_(name), io_(io) {
        opened_ = io.openInput(name);
        if (!opened_) throw ReportedError{};
        if (opened_->size() >= 0 && static_cast<std::uint64_t>(opened_->size()) > kSplitTableFiles && io.readsTwice(name)) {
            size_ = static_cast<std::uint64_t>(opened_->size());
            header_ = firstBytes(*opened_);
        } else {
            whole_ = readWholeSource(*opened_, name, io, kMostBytes);
            opened_.reset();
            size_ = whole_.size();
            header_ = headerOf(whole_);
        }
    }

    std::uint64_t size() const { return size_; }
    const std::string& header() const { return header_; }
    bool held() const { return !opened_; }
    // The strings a report quoted came from a mapping the file was cut
    // short under: reported, and the run fails.
    void requireWhole() const {
        if (!opened_ || !opened_->cutShort()) return;
        io_.reportFile(name_, kShrankWhileRead);
        throw ReportedError{};
    }
    const std::string& whole() const { return whole_; }

    // One pass over the file, reported and thrown where reading fails.
    template <typename Pass>
    void pass(const Pass& over) {
        std::unique_ptr<ByteSource> source = held() ? std::make_unique<MemorySource>(whole_) : io_.openInput(name_);
        if (!source) throw ReportedError{};
        if (!over(*source)) {
            io_.reportFile(name_, readFailure(*source));
            throw ReportedError{};
        }
    }

    // Every byte at hand, for the strings a report quotes.
    std::string_view bytes() {
        if (held()) return whole_;
        if (const auto mapped = opened_->mapped()) return *mapped;
        opened_.reset();
        whole_ = readWholeFile(name_, io_, kMostBytes);
        return whole_;
    }

private:
    static std::string firstBytes(ByteSource& source) {
        std::uint8_t header[16];
        std::size_t got = 0;
        for (ReadResult read{}; got < sizeof header; got += read.count) {
            read = source.read(header + got, sizeof header - got);
            if (read.failed || read.count == 0) break;
        }
        return std::string(reinterpret_cast<const char*>(header), got);
    }

    const std::string& name_;
    CommandIo& io_;
    std::unique_ptr<ByteSource> opened_;
    std::string whole_, header_;
    std::uint64_t size_ = 0;
};

StringTargets targetsOf(const PointersOptions& options, SearchedFile& file, const Table& table) {
    StringTargets targets;
    if (!options.targets.empty()) {
        std::vector<std::uint64_t> offsets;
        for (const std::string& given : options.targets) {
            const std::int64_t offset = parseNumber(given, "--to");
            if (offset < 0) throw UsageError(std::string("--to") + texts::command::kBadOffset);
            offsets.push_back(static_cast<std::uint64_t>(offset));
        }
        std::sort(offsets.begin(), offsets.end());
        offsets.erase(std::unique(offsets.begin(), offsets.end()), offsets.end());
        for (const std::uint64_t offset : offsets) targets.add(offset, offset + 1);
        return targets;
    }
    file.pass([&](ByteSource& source) {
        return findStrings(source, table, kDefaultMinLength,
                           [&](const TableString& string) { targets.add(string.offset, string.offset + string.length); });
    });
    return targets;
}

}  // namespace

int runPointers(const PointersOptions& options, CommandIo& io) {
    if (options.operands.size() != 1) throw UsageError(text::kOneFile);
    if (options.pointer.split) throw UsageError(text::kSplitFound);
    io.requireStandardOutput();
    const Table table = options.table.empty() ? asciiTable() : loadTable(options.table, io);
    SearchedFile file(options.operands.front(), io);
    const PointerSearch search = searchOf(options, file.size(), file.header());
    const StringTargets targets = targetsOf(options, file, table);
    std::vector<FoundTable> found;
    std::uint64_t leftOut = 0;
    file.pass([&](ByteSource& source) { return findPointerTables(source, targets, search, found, &leftOut); });
    if (file.held())
        for (FoundTable& split : findSplitTables(file.whole(), targets, search)) found.push_back(std::move(split));
    leftOut += rankTables(found, search.mostTables);
    for (const FoundTable& pointers : found)
        io.out().print(options.json ? pointerTableJson(pointers, file.bytes(), table) : pointerTableLine(pointers));
    file.requireWhole();
    if (!options.json && search.maps.size() > 1 && !found.empty())
        io.out().print(mappingLines(rankMappings(found, search, targets, file.size())));
    if (leftOut > 0)
        io.err().print(std::string(texts::command::kProgramName) + ": " + std::to_string(leftOut) + text::kLeftOut + "\n");
    return found.empty() ? kNothingFound : kFound;
}

}  // namespace glyphound::commands
