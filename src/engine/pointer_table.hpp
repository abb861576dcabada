#pragma once

// Tables of pointers to a game's strings: where they are, and finding them
// with nothing but the file, the strings a table reads in it, and the
// consoles' address mappings.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/address_map.hpp"
#include "io/sliding_window.hpp"
#include "platform/system.hpp"
#include "search/vectors.hpp"

namespace glyphound {

struct PointerTable {
    std::uint64_t offset = 0;  // of the first pointer, or of a split table's first low byte
    std::uint64_t count = 0;
    std::uint64_t stride = 2;  // from one pointer to the next; 1 in a split table's arrays
    AddressMap map;
    PointerFormat format;
    // Where pointer `index` is stored: its first byte, or its low byte.
    std::uint64_t at(std::uint64_t index) const { return offset + index * stride; }
    // The offsets of its bytes, in the order `valueOfBytes` takes them.
    std::vector<std::uint64_t> byteOffsets(std::uint64_t index) const;
};

// Where a pointer leads among the file's strings.
enum class Landing { Nowhere, Start, Inside };

// The strings of a file, as the starts and ends of the runs `dump` finds.
class StringTargets {
public:
    // In offset order.
    void add(std::uint64_t start, std::uint64_t end);
    Landing landing(std::uint64_t offset) const;
    std::size_t size() const { return strings_.size(); }
    std::vector<std::uint64_t> starts() const;
    // The starts in [from, to).
    std::size_t startsBetween(std::uint64_t from, std::uint64_t to) const;
    // Sets the bits from `firstBit` on of the `count` offsets from `from`
    // that a string holds, start or inside.
    void markLandings(std::uint64_t from, std::size_t count, std::uint64_t* bits, std::uint64_t firstBit) const;

private:
    std::vector<std::pair<std::uint64_t, std::uint64_t>> strings_;
    // One bit for every 64 bytes that a string touches: most places a
    // pointer leads to on bytes that hold none are passed at once.
    std::vector<std::uint64_t> touched_;
};

struct FoundPointer {
    std::uint64_t offset = 0, value = 0;
    std::optional<std::uint64_t> target;  // none: it leads outside the file
    Landing landing = Landing::Nowhere;
};

struct FoundTable {
    PointerTable table;
    std::uint64_t starts = 0, inside = 0;
    std::vector<FoundPointer> pointers;
};

struct PointerSearch {
    std::vector<AddressMap> maps;
    std::optional<int> bits;         // none: each map's widths
    std::optional<bool> bigEndian;   // none: both where a map may store either
    std::size_t fewest = 3;          // pointers in a row
    std::uint64_t widestStride = 16;
    // A short pointer whose value leads by its bank alone is looked up in a
    // table of every value's landing, drawn up once per bank; false maps
    // each value on its own, the reference the tables are checked against.
    bool valueTables = true;
    // The vectors those lookups run in: 256 bits gather eight values' bits
    // at a time; `Best` takes AVX-512's byte permutes where the processor
    // has them, to pass over the values no string is near at 64 at a time.
    VectorWidth vectors = VectorWidth::Best;
    // Text read as pointers lands in text everywhere: the tables kept, the
    // best, and the pointers a table holds before the next one starts, are
    // bounded, so that memory is.
    std::size_t mostTables = 1000;
    std::uint64_t longestTable = 4096;
};

// The places of one form (map, width and byte order) whose values land,
// as offsets and values, in offset order.
using LandingPlaces = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

// The pass `findPointerTables` makes, in parts that may be scanned side by
// side: the runs of pointers are then followed through each part's landing
// places in the parts' order, as one pass would meet them.
class PointerPass {
public:
    PointerPass(const StringTargets& targets, const PointerSearch& search, std::vector<FoundTable>& found,
                std::uint64_t* leftOut = nullptr);
    ~PointerPass();
    // The places in `part` whose values land, for each form in turn, handed
    // over a block at a time. Scans may run at once; false after a read error.
    bool scan(ByteSource& source, const Part& part,
              const std::function<void(const std::vector<LandingPlaces>&)>& onPlaces) const;
    // The next places a scan handed over.
    void take(const std::vector<LandingPlaces>& places);
    // Ends the runs, once every part is taken.
    void finish();

private:
    struct Runner;
    std::unique_ptr<Runner> runner_;
};

// Tables of at least `fewest` pointers in a row at a constant stride, each
// leading to a string's start or into a string; the best first, by the
// pointers that lead to starts, then their count. One pass over `source`;
// false after a read error. Past twice `search.mostTables`, the worst are
// left out, and counted in `leftOut`.
bool findPointerTables(ByteSource& source, const StringTargets& targets, const PointerSearch& search,
                       std::vector<FoundTable>& found, std::uint64_t* leftOut = nullptr);
// A split table's arrays are searched for in files of consoles that store
// them, whose ROMs are at most this big.
constexpr std::size_t kSplitTableFiles = 16 << 20;
// Tables whose pointers are split in arrays of low, high (and bank) bytes,
// anywhere in `file`; none in a file larger than kSplitTableFiles.
std::vector<FoundTable> findSplitTables(const std::string& file, const StringTargets& targets, const PointerSearch& search);
// The best first, with no table whose every pointer another table holds,
// and at most `most` of them; how many more were left out.
std::uint64_t rankTables(std::vector<FoundTable>& tables, std::size_t most = SIZE_MAX);

// How well a mapping explains a file: its tables, their pointers to
// strings' starts, and how many would land on starts by chance on random
// bytes of the same size.
struct MappingEvidence {
    std::string map;
    std::size_t tables = 0;
    std::uint64_t starts = 0;
    double chance = 0;
    std::uint64_t best = 0;  // starts in its best table
};
// Every mapping searched that found a table, the best first: by its best
// table, then by all.
std::vector<MappingEvidence> rankMappings(const std::vector<FoundTable>& found, const PointerSearch& search,
                                          const StringTargets& targets, std::uint64_t size);

// A table's pointers read from the whole file; none past its end.
std::optional<std::vector<FoundPointer>> readTable(const std::string& file, const PointerTable& table,
                                                   const StringTargets* targets);

// The search `pointers` makes, as its options give it: every mapping
// `auto` tries or the one `map` names; each map's widths and byte orders
// but those given; `fewest` (--min) pointers in a row. Throws Refusal.
PointerSearch pointerSearchOf(const std::string& map, const std::optional<std::string>& bits,
                              const std::optional<std::string>& endian, const std::optional<std::string>& fewest,
                              std::uint64_t size, const std::string& header);

}  // namespace glyphound
