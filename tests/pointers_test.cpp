// Address mappings at their edges, pointer tables planted in random files
// and found again, and scripts of pointed strings put back, moved and read
// again, on generated files of every mapping.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "engine/pointed_strings.hpp"
#include "engine/pointer_table.hpp"
#include "engine/refusal.hpp"
#include "engine/relocation.hpp"
#include "engine/script.hpp"
#include "engine/table_search.hpp"
#include "engine/values.hpp"
#include "io/memory_source.hpp"

namespace glyphound::testing {
namespace {

using std::string;

string ines(int prgBanks, bool trainer = false) {
    string header = "NES\x1a";
    header += static_cast<char>(prgBanks);
    header += '\x01';
    header += static_cast<char>(trainer ? 4 : 0);
    return header + string(9, '\0');
}

struct Mapped {
    const char* map;
    std::uint64_t size;
    string header;
    int bits;
    std::uint64_t at, value;
    std::optional<std::uint64_t> offset;
};

const Mapped kMapped[] = {
    {"linear", 0x10000, "", 16, 0, 0xFFFF, 0xFFFF},
    {"linear", 0x10000, "", 16, 8, 0, 0},
    {"linear:0x08000000", 0x10000, "", 32, 0, 0x08000123, 0x123},
    {"linear:0x08000000", 0x10000, "", 32, 0, 0x07FFFFFF, std::nullopt},
    {"linear", 0x10000, "", 24, 0, 0x10000, std::nullopt},
    {"relative", 0x1000, "", 16, 100, 0xFFF0, 84},
    {"relative", 0x1000, "", 32, 100, 10, 110},
    {"relative", 0x1000, "", 32, 0, 0xFFFFFFFF, std::nullopt},
    {"nes", 16 + 0x10000, ines(4), 16, 16 + 0x4040, 0x8000, 16 + 0x4000},
    {"nes", 16 + 0x10000, ines(4), 16, 16 + 0x4040, 0xBFFF, 16 + 0x7FFF},
    {"nes", 16 + 0x10000, ines(4), 16, 16 + 0x7FFF, 0xC001, 16 + 0x4001},
    {"nes", 16 + 0x10000, ines(4), 16, 16 + 0x4040, 0x7FFF, std::nullopt},
    {"nes", 16 + 0x10000, ines(4), 16, 10, 0x8000, std::nullopt},
    {"nes", 528 + 0x10000, ines(4, true), 16, 528, 0x8001, 529},
    {"nes", 16 + 0x8000, ines(2), 16, 16 + 0x10, 0xFFFF, 16 + 0x7FFF},
    {"nes", 16 + 0x4000, ines(1), 16, 16, 0xC000, 16},
    {"nes8", 16 + 0x10000, ines(4), 16, 16 + 3 * 0x2000 + 5, 0xA000, 16 + 3 * 0x2000},
    {"nes8", 16 + 0x10000, ines(4), 16, 16 + 3 * 0x2000 + 5, 0x9FFF, 16 + 3 * 0x2000 + 0x1FFF},
    {"gb", 0x20000, "", 16, 3 * 0x4000 + 10, 0x4000, 3 * 0x4000},
    {"gb", 0x20000, "", 16, 3 * 0x4000 + 10, 0x3FFF, 0x3FFF},
    {"gb", 0x20000, "", 16, 10, 0x4000, 0x4000},
    {"gb", 0x20000, "", 16, 0x4000, 0x8000, std::nullopt},
    {"gb", 0x20000, "", 16, 0x4000, 0, 0},
    {"snes-lorom", 0x400000, "", 24, 0, 0x808000, 0},
    {"snes-lorom", 0x400000, "", 24, 0, 0x00FFFF, 0x7FFF},
    {"snes-lorom", 0x400000, "", 24, 0, 0x7D8000, 0x3E8000},
    {"snes-lorom", 0x400000, "", 24, 0, 0x7E8000, std::nullopt},
    {"snes-lorom", 0x400000, "", 24, 0, 0x017FFF, std::nullopt},
    {"snes-lorom", 0x400000, "", 16, 0x8005, 0x8000, 0x8000},
    {"snes-lorom", 0x100200, "", 24, 0, 0x808000, 0x200},
    {"snes-hirom", 0x400000, "", 24, 0, 0xC12345, 0x12345},
    {"snes-hirom", 0x400000, "", 24, 0, 0x7D0000, 0x3D0000},
    {"snes-hirom", 0x400000, "", 24, 0, 0x3FFFFF, 0x3FFFFF},
    {"snes-hirom", 0x400000, "", 24, 0, 0x808000, 0x8000},
    {"snes-hirom", 0x400000, "", 24, 0, 0x801234, std::nullopt},
    {"snes-hirom", 0x400000, "", 16, 0x20005, 0x1234, 0x21234},
};

TEST(AddressMaps, EdgeAddressesBothWays) {
    for (const Mapped& m : kMapped) {
        string failure;
        const auto map = AddressMap::named(m.map, m.size, m.header, failure);
        ASSERT_TRUE(map) << m.map << ": " << failure;
        PointerFormat format;
        format.bits = m.bits;
        const string where = string(m.map) + " " + std::to_string(m.bits) + " " + std::to_string(m.value);
        EXPECT_EQ(map->offsetOf(m.value, m.at, format), m.offset) << where;
        if (m.offset) {
            EXPECT_EQ(map->valueOf(*m.offset, m.at, m.value, format), m.value) << where;
        }
    }
}

// A generated game: random bytes, strings of capitals in a font at 0x80
// with 0xFF ending each, and a table of pointers to them in one mapping and
// format, where the mapping's pointers reach, with free space beside.
struct Layout {
    const char* map;
    int bits;
    bool bigEndian, split;
    std::uint64_t size;  // of the mapped data, past any header
    bool ines;
};

const Layout kLayouts[] = {
    {"nes", 16, false, false, 0x20000, true},        {"nes", 16, false, true, 0x20000, true},
    {"nes8", 16, false, false, 0x20000, true},       {"gb", 16, false, false, 0x20000, false},
    {"gb", 16, false, true, 0x20000, false},         {"snes-lorom", 16, false, false, 0x20000, false},
    {"snes-lorom", 24, false, false, 0x20000, false}, {"snes-lorom", 24, false, true, 0x20000, false},
    {"snes-hirom", 16, false, false, 0x40000, false}, {"snes-hirom", 24, false, false, 0x40000, false},
    {"relative", 16, false, false, 0x8000, false},   {"relative", 32, true, false, 0x8000, false},
    {"linear", 16, true, false, 0x8000, false},      {"linear", 24, false, false, 0x10000, false},
    {"linear:0x08000000", 32, false, false, 0x10000, false},
};

const Table& gameTable() {
    static const Table table = [] {
        string entries = "5F= \n/FF=<END>\n";
        for (int letter = 0; letter < 26; ++letter) entries += hexDigits(static_cast<std::uint32_t>(0x80 + letter)) + "=" + static_cast<char>('A' + letter) + "\n";
        string failure;
        return *Table::parse(entries, "game.tbl", failure);
    }();
    return table;
}

string encoded(const string& text) {
    string bytes;
    for (char c : text) bytes += static_cast<char>(c == ' ' ? 0x5F : 0x80 + (c - 'A'));
    return bytes + '\xff';
}

class Game {
public:
    Game(const Layout& layout, unsigned seed, bool planted = true, std::uint64_t smaller = 1)
        : layout_(layout), size_(layout.size / smaller), random_(seed) {
        const string header = layout.ines ? ines(static_cast<int>(size_ / 0x4000)) : "";
        file = header;
        for (std::uint64_t k = 0; k < size_; ++k) file += static_cast<char>(random_());
        string failure;
        map = *AddressMap::named(layout.map, file.size(), header, failure);
        format.bits = layout.bits;
        format.bigEndian = layout.bigEndian;
        if (planted) plant(header.size());
    }

    string file;
    AddressMap map;
    PointerFormat format;
    PointerTable table;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> pointers;  // where stored, where it leads
    std::vector<string> texts;
    FreeRange free;

private:
    std::uint64_t draw(std::uint64_t below) { return random_() % below; }

    // Space for `size` bytes in [from, to) that nothing planted holds yet.
    std::uint64_t room(std::uint64_t size, std::uint64_t from, std::uint64_t to) {
        for (int tries = 0;; ++tries) {
            if (tries == 100000) {
                ADD_FAILURE() << layout_.map << " " << layout_.bits << ": no room for " << size << " in " << from << "-" << to;
                return from;
            }
            const std::uint64_t at = from + draw(to - from - size);
            if (std::none_of(taken_.begin(), taken_.end(), [&](const auto& t) { return at < t.second && t.first < at + size; })) {
                taken_.emplace_back(at, at + size);
                return at;
            }
        }
    }

    void plant(std::uint64_t start) {
        // A map whose short pointers stay in their bank keeps it all in one.
        const std::uint64_t bank = layout_.bits == 16 && string(layout_.map) != "linear" && string(layout_.map) != "relative"
                                       ? (string(layout_.map) == "snes-hirom" ? 0x10000 : string(layout_.map) == "snes-lorom" ? 0x8000 : string(layout_.map) == "nes8" ? 0x2000 : 0x4000)
                                       : size_;
        const std::uint64_t from = start + (size_ / bank > 1 ? (1 + draw(size_ / bank - 1)) * bank : 0);
        const std::uint64_t to = from + std::min(bank, size_);
        const std::uint64_t freeSize = 1200;
        free.start = room(freeSize, from, to);
        free.end = free.start + freeSize;
        file.replace(free.start, freeSize, freeSize, '\xff');
        std::vector<std::uint64_t> targets;
        for (int count = 6 + static_cast<int>(draw(10)); count > 0; --count) {
            string text;
            for (std::uint64_t length = 4 + draw(24); text.size() < length;) text += draw(6) ? static_cast<char>('A' + draw(26)) : ' ';
            const string bytes = encoded(text);
            const std::uint64_t at = room(bytes.size(), from, to);
            file.replace(at, bytes.size(), bytes);
            targets.push_back(at);
            texts.push_back(text);
        }
        if (draw(2)) std::shuffle(targets.begin(), targets.end(), random_);
        table.count = targets.size();
        table.map = map;
        table.format = format;
        if (layout_.split) {
            table.stride = 1;
            table.offset = room(table.count, from, to);
            table.format.split = PointerFormat::Split{room(table.count, from, to), std::nullopt};
            if (format.bits == 24) table.format.split->bank = room(table.count, from, to);
        } else {
            table.stride = format.bytes() + draw(17 - format.bytes());
            table.offset = room(table.count * table.stride, from, to);
        }
        for (std::uint64_t index = 0; index < table.count; ++index) write(index, targets[index]);
    }

    void write(std::uint64_t index, std::uint64_t target) {
        const std::uint64_t at = table.at(index);
        for (const std::uint64_t was : {0x8000u, 0xC000u, 0u, 0x800000u, 0xC00000u, 0x400000u}) {
            const auto value = map.valueOf(target, at, was + draw(2), table.format);
            if (!value) continue;
            const string bytes = bytesOfValue(*value, table.format);
            const std::vector<std::uint64_t> offsets = table.byteOffsets(index);
            for (std::size_t k = 0; k < offsets.size(); ++k) file[offsets[k]] = bytes[k];
            pointers.emplace_back(at, target);
            return;
        }
        ADD_FAILURE() << layout_.map << ": no value leads to " << target;
    }

    const Layout& layout_;
    std::uint64_t size_;
    std::mt19937 random_;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> taken_;
};

std::vector<FoundTable> tablesIn(const string& file, PointerSearch& search, StringTargets& targets) {
    MemorySource source(file);
    findStrings(source, gameTable(), kDefaultMinLength,
                [&](const TableString& string) { targets.add(string.offset, string.offset + string.length); });
    search.maps = AddressMap::all(file.size(), file.substr(0, 16));
    std::vector<FoundTable> found, mapped;
    MemorySource again(file), reference(file);
    findPointerTables(again, targets, search, found);
    PointerSearch valueByValue = search;
    valueByValue.valueTables = false;
    findPointerTables(reference, targets, valueByValue, mapped);
    const auto named = [](const std::vector<FoundTable>& tables) {
        std::vector<string> names;
        for (const FoundTable& t : tables)
            names.push_back(t.table.map.name() + " " + t.table.format.name() + " " + std::to_string(t.table.offset) + "+" +
                            std::to_string(t.table.stride) + "x" + std::to_string(t.table.count) + " " + std::to_string(t.starts));
        std::sort(names.begin(), names.end());
        return names;
    };
    EXPECT_EQ(named(found), named(mapped));
    for (FoundTable& split : findSplitTables(file, targets, search)) found.push_back(std::move(split));
    rankTables(found);
    return found;
}

// Whether a table found reads every planted pointer the same.
bool readsAll(const FoundTable& found, const Game& game) {
    return std::all_of(game.pointers.begin(), game.pointers.end(), [&](const auto& planted) {
        return std::any_of(found.pointers.begin(), found.pointers.end(),
                           [&](const FoundPointer& p) { return p.offset == planted.first && p.target == planted.second; });
    });
}

TEST(PointerTables, PlantedTablesAreFoundWhole) {
    int right = 0, quiet = 0;
    string missed;
    for (unsigned file = 0; file < 100; ++file) {
        const Layout& layout = kLayouts[file % std::size(kLayouts)];
        const Game game(layout, 100 + file);
        PointerSearch search;
        StringTargets targets;
        const std::vector<FoundTable> found = tablesIn(game.file, search, targets);
        const std::vector<MappingEvidence> mappings = rankMappings(found, search, targets, game.file.size());
        const bool whole = std::any_of(found.begin(), found.end(), [&](const FoundTable& t) { return readsAll(t, game); });
        const bool ranked = !mappings.empty() &&
                            std::any_of(found.begin(), found.end(), [&](const FoundTable& t) {
                                return t.table.map.name() == mappings.front().map && readsAll(t, game);
                            });
        right += whole && ranked;
        if (!(whole && ranked)) missed += string(layout.map) + " " + std::to_string(layout.bits) + (layout.split ? " split" : "") + " file " + std::to_string(file) + "; ";
        PointerSearch none;
        StringTargets noTargets;
        const std::vector<FoundTable> chance = tablesIn(Game(layout, 100 + file, false).file, none, noTargets);
        quiet += std::none_of(chance.begin(), chance.end(), [](const FoundTable& t) { return t.table.count >= 8; });
    }
    EXPECT_GE(right, 99) << missed;
    EXPECT_GE(quiet, 99);
}

// Every single pointer that lands, looked up by value and mapped one by
// one, on files whose strings start and end at the edges of the stretches
// and banks that the lookup tables are drawn up by.
TEST(PointerTables, ValueTablesLandAsMappingDoes) {
    for (const bool nesHeader : {false, true}) {
        std::mt19937 random(7);
        string file = nesHeader ? ines(8) : "";
        for (std::uint64_t k = 0; k < 0x20000; ++k) file += static_cast<char>(random());
        StringTargets targets;
        for (std::uint64_t edge = 0x1000; edge + 0x1000 < file.size(); edge += 0x1000)
            for (const std::uint64_t start : {edge - 3, edge, edge + 15}) targets.add(start, start + 1 + start % 3);
        PointerSearch reference;
        reference.maps = AddressMap::all(file.size(), file.substr(0, 16));
        reference.fewest = 2;
        reference.valueTables = false;
        std::vector<FoundTable> byMapping;
        MemorySource other(file);
        findPointerTables(other, targets, reference, byMapping);
        for (const VectorWidth width : {VectorWidth::Scalar, VectorWidth::Bits256, VectorWidth::Best}) {
            PointerSearch fast = reference;
            fast.valueTables = true;
            fast.vectors = width;
            std::vector<FoundTable> byTable;
            MemorySource one(file);
            findPointerTables(one, targets, fast, byTable);
            ASSERT_EQ(byTable.size(), byMapping.size());
            for (std::size_t k = 0; k < byTable.size(); ++k) {
                EXPECT_EQ(byTable[k].table.offset, byMapping[k].table.offset);
                EXPECT_EQ(byTable[k].starts, byMapping[k].starts);
                EXPECT_EQ(byTable[k].table.map.name(), byMapping[k].table.map.name());
            }
        }
    }
}

// A string's head is '@', its offset in hexadecimal after 0x or in
// decimal, a space and its room; any other line there is refused, however
// many digits it holds.
TEST(Script, HeadsOtherThanOffsetAndRoomAreRefused) {
    for (const char* head : {"x16 4", "@0xZZ 4", "@0x 4", "@ 4", "@16", "@16 4x", "@16 0", "@0x10000000000000000 4",
                             "@16 99999999999999999999"}) {
        SCOPED_TRACE(head);
        string failure;
        EXPECT_FALSE(parseScript(string(head) + "\nHI\n", "s.txt", failure));
        EXPECT_EQ(failure, "s.txt:1: not a line '@0xOFFSET ROOM'");
    }
}

// A free range is START-END, END past its last byte, from offset 0 on.
TEST(Relocation, FreeRangesRunFromStartToPastTheirEnd) {
    for (const auto& [given, start, end] : {std::tuple<const char*, std::uint64_t, std::uint64_t>{"0-0x10", 0, 16},
                                            {"0x10-33", 16, 33}}) {
        const FreeRange range = freeRangeOf(given);
        EXPECT_EQ(std::pair(range.start, range.end), std::pair(start, end)) << given;
    }
    for (const char* given : {"16", "16-16", "32-16"}) {
        SCOPED_TRACE(given);
        EXPECT_THROW(freeRangeOf(given), Refusal);
    }
}

// What a script of the game's pointed strings reads as, and how it puts back.
std::vector<string> textsOf(const string& file, const PointerTable& table) {
    std::vector<string> texts;
    for (const PointedString& pointed : pointedStrings(file, gameTable(), {table}, false)) texts.push_back(escaped(pointed.string.text));
    return texts;
}

Relocated putBack(string& file, const Game& game, const std::vector<ScriptString>& strings) {
    const Insertion insertion{gameTable().endTokens().front(), std::nullopt};
    const ScriptInsertion prepared(gameTable(), strings, insertion);
    Relocation relocation{game.map, game.format, {game.free}, 0xFF};
    return relocate(file, prepared, gameTable(), insertion, relocation);
}

// An unedited script puts back the very file; one whose every string grew
// by 30% puts back a file whose strings, read through the rewritten
// pointers, are the edited texts.
TEST(Relocation, ScriptsPutBackAndReadAgain) {
    for (unsigned trial = 0; trial < 1500; ++trial) {
        const Layout& layout = kLayouts[trial % std::size(kLayouts)];
        const Game game(layout, 5000 + trial, true, 4);
        ScriptPointers head{game.map.name(), game.format};
        if (layout.split) head.format.split = PointerFormat::Split{};
        string lines = scriptHead(head);
        for (const PointedString& pointed : pointedStrings(game.file, gameTable(), {game.table}, false))
            lines += scriptLines(pointed.string, pointed.pointers);
        string failure;
        auto script = parseScript(lines, "s.txt", failure);
        ASSERT_TRUE(script) << failure;
        string same = game.file;
        ASSERT_EQ(putBack(same, game, script->strings).problems, std::vector<string>{}) << trial;
        ASSERT_TRUE(same == game.file) << layout.map << " " << trial;
        std::vector<string> edited;
        for (ScriptString& string : script->strings) {
            const Text end = U"<END>";
            Text grown = string.text.substr(0, string.text.size() - end.size());
            for (std::size_t more = (grown.size() * 3 + 9) / 10; more > 0; --more) grown += U'A' + static_cast<char32_t>((trial + more) % 26);
            string.text = grown + end;
            edited.push_back(escaped(string.text));
        }
        string moved = game.file;
        const Relocated relocated = putBack(moved, game, script->strings);
        ASSERT_EQ(relocated.problems, std::vector<std::string>{}) << layout.map << " " << trial;
        ASSERT_EQ(textsOf(moved, game.table), edited) << layout.map << " " << trial;
    }
}

}  // namespace
}  // namespace glyphound::testing
