#include "commands/command_options.hpp"
#include "commands/file_jobs.hpp"
#include "dialogue/texts.hpp"
#include "engine/dump.hpp"
#include "engine/pointer_table.hpp"
#include "engine/reports.hpp"
#include "io/memory_source.hpp"

namespace glyphound::commands {
namespace {

namespace text = texts::pointers;

constexpr std::uint64_t kMostBytes = std::uint64_t{1} << 30;
// The strings a part hands over at a time.
constexpr std::size_t kStringsBlock = 4096;

// What a part of each pass hands over: the strings' starts and ends, and
// the places whose values land, of each form.
using Strings = std::vector<std::pair<std::uint64_t, std::uint64_t>>;
using Places = std::vector<LandingPlaces>;

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

    // One pass over the file, reported and thrown where reading fails. A
    // file read twice is read in parts side by side, where `cut` allows, and
    // `take` is given what each found in the parts' order.
    template <typename Item>
    void pass(bool cut, const FileWork<Item>& work, const std::function<void(const Item&)>& take) {
        if (held()) {
            MemorySource source(whole_);
            const std::string failure = work(source, Job{name_, "", false, 0, UINT64_MAX}, take);
            if (failure.empty()) return;
            io_.reportFile(name_, failure);
            throw ReportedError{};
        }
        std::vector<Job> jobs = jobsFor({name_}, false, io_);
        if (cut) jobs = inParts(std::move(jobs), io_);
        const FileItemHandler<Item> taken = [&](const std::string&, const Item& item) { take(item); };
        if (FileJobs<Item>(std::move(jobs), io_, work, taken, keptSize).run() == kError) throw ReportedError{};
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
    static std::size_t keptSize(const Strings& strings) { return strings.size() * sizeof strings[0]; }
    static std::size_t keptSize(const Places& places) {
        std::size_t size = 0;
        for (const LandingPlaces& listed : places) size += sizeof listed + listed.size() * sizeof listed[0];
        return size;
    }

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
    const FileWork<Strings> work = [&](ByteSource& source, const Job& job, const ItemHandler<Strings>& found) {
        Strings strings;
        const bool read = findStrings(source, table, kDefaultMinLength, [&](const TableString& string) {
            strings.emplace_back(string.offset, string.offset + string.length);
            if (strings.size() < kStringsBlock) return;
            found(strings);
            strings.clear();
        }, VectorWidth::Best, {job.start, job.end});
        if (!strings.empty()) found(strings);
        return read ? std::string() : readFailure(source);
    };
    // Parts meet at bytes that no entry holds; a table whose entries hold
    // every byte leaves none.
    file.pass<Strings>(!table.bytesInEntries().full(), work, [&](const Strings& strings) {
        for (const auto& [start, end] : strings) targets.add(start, end);
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
    PointerPass pass(targets, search, found, &leftOut);
    const FileWork<Places> work = [&](ByteSource& source, const Job& job, const ItemHandler<Places>& landed) {
        return pass.scan(source, {job.start, job.end}, landed) ? std::string() : readFailure(source);
    };
    file.pass<Places>(true, work, [&](const Places& places) { pass.take(places); });
    pass.finish();
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
