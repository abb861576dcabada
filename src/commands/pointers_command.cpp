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

// What text reads as when the user gives no table: printable ASCII.
Table asciiTable() {
    std::string entries;
    for (int byte = 0x20; byte < 0x7F; ++byte) entries += hexDigits(static_cast<std::uint32_t>(byte)) + "=" + static_cast<char>(byte) + "\n";
    std::string failure;
    return *Table::parse(entries, "ascii", failure);
}

StringTargets targetsOf(const PointersOptions& options, const std::string& file, const Table& table) {
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
    MemorySource source(file);
    findStrings(source, table, kDefaultMinLength,
                [&](const TableString& string) { targets.add(string.offset, string.offset + string.length); });
    return targets;
}

PointerSearch searchOf(const PointersOptions& options, const std::string& file) {
    PointerSearch search;
    const std::string map = options.pointer.map.value_or("auto");
    if (map == "auto")
        search.maps = AddressMap::all(file.size(), headerOf(file));
    else
        search.maps.push_back(mapOf(map, file));
    const PointerFormat format = formatOf(options.pointer);
    if (options.pointer.bits) search.bits = format.bits;
    if (options.pointer.endian) search.bigEndian = format.bigEndian;
    if (options.fewest) {
        const std::int64_t fewest = parseNumber(*options.fewest, "--min");
        if (fewest < 2 || fewest > 1000) throw UsageError(text::kBadFewest);
        search.fewest = static_cast<std::size_t>(fewest);
    }
    return search;
}

}  // namespace

int runPointers(const PointersOptions& options, CommandIo& io) {
    if (options.operands.size() != 1) throw UsageError(text::kOneFile);
    if (options.pointer.split) throw UsageError(text::kSplitFound);
    io.requireStandardOutput();
    const Table table = options.table.empty() ? asciiTable() : loadTable(options.table, io);
    const std::string& name = options.operands.front();
    const std::string file = readWholeFile(name, io, kMostBytes);
    const PointerSearch search = searchOf(options, file);
    const StringTargets targets = targetsOf(options, file, table);
    std::vector<FoundTable> found;
    MemorySource source(file);
    findPointerTables(source, targets, search, found);
    for (FoundTable& split : findSplitTables(file, targets, search)) found.push_back(std::move(split));
    rankTables(found);
    for (const FoundTable& pointers : found)
        io.out().print(options.json ? pointerTableJson(pointers, file, table) : pointerTableLine(pointers));
    if (!options.json && search.maps.size() > 1 && !found.empty())
        io.out().print(mappingLines(rankMappings(found, search, targets, file.size())));
    return found.empty() ? kNothingFound : kFound;
}

}  // namespace glyphound::commands
