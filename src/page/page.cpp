// The page's face of the engine: what the page's script asks of it in its
// worker. The file opened in the page stays in this module's memory; every
// answer is the engine's own text, the same bytes the commands print.
#include <emscripten.h>
#include <emscripten/bind.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <nlohmann/json.hpp>

#include "dialogue/texts.hpp"
#include "engine/dump.hpp"
#include "engine/encoder.hpp"
#include "engine/guess.hpp"
#include "engine/patch.hpp"
#include "engine/pointed_strings.hpp"
#include "engine/pointer_table.hpp"
#include "engine/refusal.hpp"
#include "engine/reports.hpp"
#include "engine/script.hpp"
#include "engine/search_plan.hpp"
#include "engine/table.hpp"
#include "engine/tiles.hpp"
#include "engine/values.hpp"
#include "io/streams.hpp"
#include "shifter/byte_shifter.hpp"

namespace glyphound::page {
namespace {

using Json = nlohmann::ordered_json;

// The page lists this many hits, with their bytes at hand; the tally, the
// count and the table take in every hit.
constexpr std::size_t kKeptHits = 10000;
// Bytes shown on each side of a hit, in rows of 16.
constexpr std::uint64_t kHexRow = 16, kHexAround = 48;
// The page hears how far a pass has come at most this often, in
// milliseconds: a slow pass moves the bar, a fast one is not held up by it.
constexpr double kProgressEvery = 100;

EM_JS(void, reportProgress, (double done, double total), {
    if (Module["onProgress"]) Module["onProgress"](done, total);
});

// The file opened, a slice of the edited file to shift back, a table, a
// script, a file of orders, a second ROM and a patch, and what the last pass
// wrote for the page to download. The second ROM is the translated one a
// patch is made to, or the one a patch applies to.
struct Buffers {
    std::string romName, tableName;
    std::vector<std::uint8_t> rom, edited, table, text, orders, second, patch, output;
};

struct LastSearch {
    std::optional<SearchPlan> plan;
    std::vector<Found> kept;
    std::uint64_t count = 0;
};

Buffers buffers;
LastSearch last;
std::optional<Table> loadedTable;

// Hands the bytes over as a file would and, unless it is one slice of a
// longer pass, tells the page how far it has come.
class MemorySource : public ByteSource {
public:
    MemorySource(const std::uint8_t* bytes, std::size_t size, bool reports)
        : bytes_(bytes), size_(size), reports_(reports) {}
    explicit MemorySource(const std::vector<std::uint8_t>& bytes) : MemorySource(bytes.data(), bytes.size(), true) {}
    ReadResult read(std::uint8_t* buffer, std::size_t capacity) override {
        const std::size_t count = std::min(capacity, size_ - at_);
        std::memcpy(buffer, bytes_ + at_, count);
        at_ += count;
        if (reports_) report();
        return {count, false};
    }
    std::int64_t size() const override { return static_cast<std::int64_t>(size_); }
    // Whole in memory already: a BPS patch copies from it where it lies.
    std::optional<std::string_view> mapped() override { return std::string_view(reinterpret_cast<const char*>(bytes_), size_); }

private:
    // One look at the clock a read is cheap: the passes read 64 KiB or more
    // at a time.
    void report() {
        const double now = emscripten_get_now();
        if (now < nextReport_) return;
        nextReport_ = now + kProgressEvery;
        reportProgress(static_cast<double>(at_), static_cast<double>(size_));
    }

    const std::uint8_t* bytes_;
    std::size_t size_, at_ = 0;
    bool reports_;
    double nextReport_ = 0;
};

class MemorySink : public ByteSink {
public:
    explicit MemorySink(std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
    bool write(const std::uint8_t* data, std::size_t size) override {
        bytes_.insert(bytes_.end(), data, data + size);
        return true;
    }

private:
    std::vector<std::uint8_t>& bytes_;
};

std::string answer(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

// A refusal, shown beside the control that `control` names.
std::string refusal(const std::string& control, const std::string& message) {
    return answer({{"error", message}, {"control", control}});
}

std::vector<std::uint8_t>& bufferNamed(const std::string& name) {
    if (name == "edited") return buffers.edited;
    if (name == "table") return buffers.table;
    if (name == "text") return buffers.text;
    if (name == "orders") return buffers.orders;
    if (name == "second") return buffers.second;
    if (name == "patch") return buffers.patch;
    return buffers.rom;
}

std::string textOf(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// A control left empty gives no option.
std::optional<std::string> optionGiven(const std::string& text) {
    return text.empty() ? std::nullopt : std::optional(text);
}

std::optional<std::string> given(const Json& request, const char* key) {
    if (!request.contains(key) || request[key].get<std::string>().empty()) return std::nullopt;
    return request[key].get<std::string>();
}

SearchRequest requestOf(const Json& asked) {
    SearchRequest request;
    request.words = wordsOfList(asked.value("words", ""));
    request.caseMode = given(asked, "case");
    request.wildcard = given(asked, "wildcard");
    request.width = given(asked, "width");
    request.match = given(asked, "match");
    request.gaps = given(asked, "gaps");
    if (const auto order = given(asked, "order")) request.orders.push_back({*order, std::nullopt});
    // A file of orders, read as --order FILE reads one.
    if (const auto file = given(asked, "orderFile")) request.orders.push_back({*file, textOf(buffers.orders)});
    if (asked.value("useTable", false) && loadedTable) request.table = loadedTable;
    return request;
}

// Which control a refused search points at: the wildcard or the gaps when
// either alone is refused, the words otherwise.
std::string controlRefused(const SearchRequest& request) {
    const auto refuses = [](const SearchRequest& part) {
        try {
            patternOptions(part);
            return false;
        } catch (const Refusal&) {
            return true;
        }
    };
    SearchRequest wildcard, gaps;
    wildcard.wildcard = request.wildcard;
    gaps.match = request.match;
    gaps.gaps = request.gaps;
    if (refuses(wildcard)) return "wildcard";
    if (refuses(gaps)) return "gaps";
    return request.table ? "use-table" : "words";
}

// The value most hits gave 'A', for the shift to start from. A shift moves
// bytes, so a search of 16-bit units gives none.
std::string letterAOf(const Tally& tally, const SearchPlan& plan) {
    if (plan.width != Width::Byte) return "";
    for (std::size_t slot = 0; slot < tally.orders() && slot < plan.slots.size(); ++slot)
        if (plan.slots[slot].key() == "A" && !tally.ranked(slot).empty())
            return valueText(tally.ranked(slot).front().first, plan.width);
    return "";
}

std::string find(const std::string& asked) {
    const SearchRequest request = requestOf(Json::parse(asked));
    last = {};
    try {
        last.plan = planSearch(request);
    } catch (const Refusal& refused) {
        return refusal(controlRefused(request), refused.what());
    }
    const SearchPlan& plan = *last.plan;
    Tally tally;
    MemorySource source(buffers.rom);
    searchSource(plan, source, [&](const Found& found) {
        ++last.count;
        tally.add(found.values);
        if (last.kept.size() < kKeptHits) last.kept.push_back(found);
    }, true);
    Json hits = Json::array();
    for (const Found& found : last.kept)
        hits.push_back({{"json", foundJson(buffers.romName, plan, found)},
                        {"offset", offsetText(found.offset)},
                        {"word", plan.words[found.word]},
                        {"values", foundValues(plan, found)},
                        {"preview", found.preview},
                        {"length", found.length}});
    Json result = {{"hits", hits}, {"count", last.count}, {"letterA", letterAOf(tally, plan)}};
    if (tally.orders() > 0) result["tally"] = tallyLines(tally, plan);
    try {
        if (last.count > 0 && !plan.table) result["table"] = tableOfHits(tally, plan);
    } catch (const Refusal& refused) {
        result["tableError"] = refused.what();
    }
    return answer(result);
}

// The bytes around a kept hit in rows of 16, each whole unit with what the
// hit proves it reads as.
std::string hexView(std::size_t index) {
    if (!last.plan || index >= last.kept.size()) return answer({{"error", texts::page::kNoSuchHit}});
    const Found& found = last.kept[index];
    const std::uint64_t size = buffers.rom.size();
    const std::uint64_t start = (found.offset - std::min(found.offset, kHexAround)) / kHexRow * kHexRow;
    const std::uint64_t end = std::min(size, (found.offset + found.length + kHexAround + kHexRow - 1) / kHexRow * kHexRow);
    const std::uint8_t* bytes = buffers.rom.data() + start;
    const std::size_t hitStart = found.offset - start;
    const std::size_t unit = bytesPerUnit(last.plan->width);
    bool valid = true;
    const std::u32string decoded = decodeUtf8(decodedAround(*last.plan, found, bytes, end - start, hitStart), valid);
    Json rows = Json::array();
    for (std::uint64_t row = start; row < end; row += kHexRow) {
        Json cells = Json::array();
        for (std::uint64_t at = row; at < std::min(end, row + kHexRow); ++at) {
            // The decoded units start where the hit's units do.
            const std::size_t within = at - start, first = hitStart % unit;
            const std::size_t character = within >= first && (within - first) % unit == 0 ? (within - first) / unit
                                                                                         : decoded.size();
            cells.push_back({{"hex", hexDigits(bytes[within])},
                             {"text", character < decoded.size() ? encodeUtf8(decoded[character]) : ""},
                             {"hit", at >= found.offset && at < found.offset + found.length}});
        }
        rows.push_back({{"offset", offsetText(row)}, {"cells", cells}});
    }
    return answer({{"rows", rows}, {"preview", found.preview}, {"offset", offsetText(found.offset)}});
}

std::string guess(const std::string& widthName, const std::string& topGiven) {
    Width width = Width::Byte;
    std::size_t top = kDefaultGuesses;
    try {
        width = widthNamed(widthName);
    } catch (const Refusal& refused) {
        return refusal("guess-width", refused.what());
    }
    try {
        top = numberIn(optionGiven(topGiven), "--top", kDefaultGuesses, 1, 100, texts::command::kBadTop);
    } catch (const Refusal& refused) {
        return refusal("guess-top", refused.what());
    }
    TextSample sample;
    MemorySource source(buffers.rom);
    sampleTextLike(source, width, sample);
    std::string lines;
    const std::vector<AlphabetGuess> guesses = rankAlphabets(sample, width, top);
    for (std::size_t rank = 0; rank < guesses.size(); ++rank) lines += guessLines(rank + 1, guesses[rank], width);
    // The best place of 'A', for the tile view to show the font from.
    const bool placed = !guesses.empty() && width == Width::Byte && guesses.front().values[0] >= 0;
    return answer({{"text", lines}, {"note", sample.partial ? texts::command::kSampled : ""},
                   {"letterA", placed ? guesses.front().values[0] : -1}});
}

// The table in the "table" buffer, kept for dump and searches when it parses.
std::string loadTable(const std::string& name) {
    loadedTable.reset();
    buffers.tableName = name;
    std::string failure;
    if (buffers.table.size() > Table::kMaxFile) return refusal("table-file", name + texts::table::kTooLarge);
    const std::string_view bytes(reinterpret_cast<const char*>(buffers.table.data()), buffers.table.size());
    loadedTable = Table::parse(bytes, name, failure);
    return loadedTable ? answer(Json::object()) : refusal("table-file", failure);
}

// Every string a table reads in the file, or every byte of a range, as dump
// reads them; the refusal of a control, and the control, otherwise.
std::pair<std::string, std::string> readStrings(const Json& asked, const StringHandler& onString) {
    std::optional<Range> range;
    std::uint64_t minimum = kDefaultMinLength;
    try {
        range = rangeOf(given(asked, "start"), given(asked, "end"));
    } catch (const Refusal& refused) {
        return {"dump-start", refused.what()};
    }
    try {
        minimum = minimumOf(given(asked, "min"));
    } catch (const Refusal& refused) {
        return {"dump-min", refused.what()};
    }
    MemorySource source(buffers.rom);
    if (!range) {
        findStrings(source, *loadedTable, minimum, onString);
        return {};
    }
    const std::string tooShort = rangeFailure(*range, buffers.rom.size());
    if (tooShort.empty()) readRange(source, *loadedTable, *range, onString);
    return {"dump-end", tooShort};
}

// The strings dump prints, or its script, into the output for the page to
// show or download; with the script, its rows for the grid.
std::string dump(const std::string& request) {
    if (!loadedTable) return refusal("table-text", texts::page::kLoadTableFirst);
    const Json asked = Json::parse(request);
    const bool script = asked.value("script", false);
    buffers.output.clear();
    Json rows = Json::array();
    const auto [control, failure] = readStrings(asked, [&](const TableString& string) {
        const std::string lines = script ? scriptLines(string) : stringLine(buffers.romName, false, string);
        buffers.output.insert(buffers.output.end(), lines.begin(), lines.end());
        if (script) rows.push_back({{"offset", string.offset}, {"room", string.length}, {"text", escaped(string.text)}});
    });
    if (!failure.empty()) return refusal(control, failure);
    return answer({{"rows", rows}});
}

// --- Tables of pointers: found as pointers finds them, read as dump --pointers ---

// Which control a refused search of pointers points at: the fewest
// pointers or the width and byte order when either alone is refused, the
// map otherwise.
std::string pointersControlRefused(const Json& asked, std::uint64_t size, const std::string& header) {
    const auto refuses = [&](const std::optional<std::string>& bits, const std::optional<std::string>& endian,
                             const std::optional<std::string>& fewest) {
        try {
            pointerSearchOf("linear", bits, endian, fewest, size, header);
            return false;
        } catch (const Refusal&) {
            return true;
        }
    };
    if (refuses(std::nullopt, std::nullopt, given(asked, "min"))) return "pointers-min";
    if (refuses(given(asked, "ptr"), given(asked, "endian"), std::nullopt)) return "pointers-ptr";
    return "pointers-map";
}

// What a found table gives dump --pointers, as its controls take it.
Json dumpControlsOf(const PointerTable& table) {
    Json controls = {{"at", offsetText(table.offset) + ":" + std::to_string(table.count)},
                     {"map", table.map.name()},
                     {"ptr", std::to_string(table.format.bits)},
                     {"endian", table.format.bigEndian ? "be" : "le"},
                     {"stride", table.stride == table.format.bytes() || table.format.split ? "" : std::to_string(table.stride)},
                     {"split", ""}};
    if (table.format.split)
        controls["split"] = offsetText(table.format.split->high) +
                            (table.format.split->bank ? "," + offsetText(*table.format.split->bank) : "");
    return controls;
}

// The tables of pointers to the strings the open table (or ASCII) reads,
// each as pointers prints it, then with more than one mapping tried the
// mappings ranked.
std::string pointers(const std::string& request) {
    const Json asked = Json::parse(request);
    const std::string file = textOf(buffers.rom);
    PointerSearch search;
    try {
        search = pointerSearchOf(given(asked, "map").value_or("auto"), given(asked, "ptr"), given(asked, "endian"),
                                 given(asked, "min"), file.size(), headerOf(file));
    } catch (const Refusal& refused) {
        return refusal(pointersControlRefused(asked, file.size(), headerOf(file)), refused.what());
    }
    const Table table = loadedTable ? *loadedTable : asciiTable();
    StringTargets targets;
    MemorySource strings(buffers.rom);
    findStrings(strings, table, kDefaultMinLength,
                [&](const TableString& string) { targets.add(string.offset, string.offset + string.length); });
    std::vector<FoundTable> found;
    std::uint64_t leftOut = 0;
    MemorySource values(buffers.rom);
    findPointerTables(values, targets, search, found, &leftOut);
    for (FoundTable& split : findSplitTables(file, targets, search)) found.push_back(std::move(split));
    leftOut += rankTables(found, search.mostTables);
    std::string lines;
    Json tables = Json::array();
    for (const FoundTable& pointers : found) {
        lines += pointerTableLine(pointers);
        tables.push_back(dumpControlsOf(pointers.table));
    }
    if (search.maps.size() > 1 && !found.empty()) lines += mappingLines(rankMappings(found, search, targets, file.size()));
    return answer({{"text", lines}, {"tables", tables}, {"leftOut", leftOut}});
}

// The strings a table of pointers leads to, as dump --pointers prints them,
// or with `script` its script, into the output.
std::string dumpPointers(const std::string& request) {
    if (!loadedTable) return refusal("table-text", texts::page::kLoadTableFirst);
    const Json asked = Json::parse(request);
    const std::string file = textOf(buffers.rom);
    std::optional<AddressMap> map;
    PointerFormat format;
    std::optional<std::uint64_t> stride;
    std::vector<PointedString> strings;
    // The refusals of the strings name the file, as the command's do.
    std::string control = "pointed-map", named;
    try {
        map = mapOf(given(asked, "map"), file);
        control = "pointed-ptr";
        format = pointerFormatOf(given(asked, "ptr"), given(asked, "endian"), given(asked, "split"));
        control = "pointed-stride";
        if (const auto step = given(asked, "stride"))
            stride = numberIn(step, "--stride", 1, 1, 1 << 20, texts::command::kBadStride);
        control = "pointed-at";
        const PointerTable table = pointerTableOf(asked.value("at", ""), *map, format, stride);
        named = buffers.romName + ": ";
        strings = pointedStrings(file, *loadedTable, {table}, asked.value("untilNext", false));
    } catch (const Refusal& refused) {
        return refusal(control, named + refused.what());
    }
    const bool script = asked.value("script", false);
    std::string lines = script ? scriptHead({map->name(), format}) : "";
    for (const PointedString& pointed : strings)
        lines += script ? scriptLines(pointed.string, pointed.pointers) : stringLine(buffers.romName, false, pointed.string);
    buffers.output.assign(lines.begin(), lines.end());
    return answer(Json::object());
}

// --- Scripts: the grid's rows, each an offset, a room and a translation ---

// What the room's bytes read as now.
Text roomText(std::uint64_t offset, std::uint64_t room) {
    Text text;
    if (offset >= buffers.rom.size()) return text;
    MemorySource source(buffers.rom.data() + offset, std::min<std::uint64_t>(room, buffers.rom.size() - offset), false);
    readRange(source, *loadedTable, {}, [&](const TableString& string) { text += string.text; });
    return text;
}

// The rows as the script file a translator downloads: each string's text
// as the file has it now as a note, then the translation, which is sent as
// the script writes it.
std::string scriptOfRows(const Json& rows) {
    std::string script;
    for (const Json& row : rows) {
        const std::uint64_t offset = row["offset"], room = row["room"];
        std::string failure;
        const Text was = roomText(offset, room);
        const std::string written = row["text"];
        const auto text = unescaped(written, failure);
        // A translation that is no text goes as written, for the check to name.
        std::string lines = scriptLines(offset, room, was, text.value_or(Text()));
        if (!text) lines.replace(lines.rfind('\n', lines.size() - 2) + 1, std::string::npos, written + "\n");
        script += lines;
    }
    return script;
}

Json rowsOf(const Script& script) {
    Json rows = Json::array();
    for (const ScriptString& string : script.strings) {
        const std::uint64_t room = string.room.value_or(0);
        rows.push_back({{"offset", string.offset}, {"room", room}, {"was", escaped(roomText(string.offset, room))},
                        {"text", escaped(string.text)}});
    }
    return rows;
}

// A script opened from a file, in the "text" buffer: its rows, each with
// what its room reads as now.
std::string openScript(const std::string& name) {
    if (!loadedTable) return refusal("table-text", texts::page::kLoadTableFirst);
    std::string failure;
    const auto script = parseScript(textOf(buffers.text), name, failure);
    if (!script) return refusal("script-file", failure);
    return answer({{"rows", rowsOf(*script)}});
}

// The grid's rows checked as insert --script checks the script they make,
// named `name`; with `write`, and nothing wrong, the file with every string
// in its room into the output. Each row gets its bytes or why the table
// can't spell it, and its problem after where it stands.
std::string insertRows(const std::string& request, bool write) {
    if (!loadedTable) return refusal("table-text", texts::page::kLoadTableFirst);
    const Json asked = Json::parse(request);
    std::string failure;
    const auto script = parseScript(scriptOfRows(asked["rows"]), asked["name"], failure);
    if (!script) return answer({{"problems", {failure}}, {"rows", Json::array()}});
    const std::vector<const TableEntry*> ends = loadedTable->endTokens();
    const Insertion insertion{ends.empty() ? nullptr : ends.front(), std::nullopt};
    const ScriptInsertion strings(*loadedTable, script->strings, insertion);
    bool readFailed = false;
    MemorySource checked(buffers.rom.data(), buffers.rom.size(), false);
    const std::vector<std::string> problems = strings.run(checked, nullptr, readFailed);
    Json rows = Json::array();
    for (const ScriptString& string : script->strings) {
        Json row = Json::object();
        for (const ScriptInsertion::Prepared& prepared : strings.strings())
            if (prepared.string.where == string.where)
                row = prepared.encoded ? Json{{"bytes", prepared.encoded->size()}}
                                       : Json{{"unspelt", prepared.encodingFailure}};
        for (const std::string& problem : problems)
            if (problem.rfind(string.where + ":", 0) == 0) row["problem"] = problem.substr(string.where.size() + 2);
        rows.push_back(row);
    }
    buffers.output.clear();
    if (write && problems.empty()) {
        MemorySource source(buffers.rom);
        OutputStream output(std::make_unique<MemorySink>(buffers.output), OutputOptions{});
        strings.run(source, &output, readFailed);
        output.close();
    }
    return answer({{"rows", rows}, {"problems", problems}});
}

// The script the grid's rows make, into the output for the page to download.
std::string scriptText(const std::string& request) {
    if (!loadedTable) return refusal("table-text", texts::page::kLoadTableFirst);
    const std::string script = scriptOfRows(Json::parse(request)["rows"]);
    buffers.output.assign(script.begin(), script.end());
    return answer(Json::object());
}

// --- Encode, insert at an offset, a table from values ---

std::string encodeText(const std::string& given, bool end) {
    if (!loadedTable) return refusal("table-text", texts::page::kLoadTableFirst);
    std::string failure, hex;
    const TableEntry* ending = nullptr;
    try {
        ending = end ? onlyEndToken(*loadedTable) : nullptr;
    } catch (const Refusal& refused) {
        return refusal("encode-end", refused.what());
    }
    const auto characters = unescaped(given, failure);
    const auto bytes = characters ? encode(*loadedTable, *characters, ending, failure) : std::nullopt;
    if (!bytes) return refusal("encode-text", "'" + given + "': " + failure);
    for (const char byte : *bytes) hex += (hex.empty() ? "" : " ") + hexDigits(static_cast<std::uint8_t>(byte));
    return answer({{"hex", hex}});
}

// TEXT in place of the string at an offset, as insert --at puts it, into the
// output.
std::string insertAt(const std::string& request) {
    if (!loadedTable) return refusal("table-text", texts::page::kLoadTableFirst);
    const Json asked = Json::parse(request);
    ScriptString string;
    std::optional<std::uint8_t> fill;
    std::string control = "at-offset";
    try {
        string.offset = numberIn(given(asked, "at"), "--at", 0, 0, INT64_MAX, texts::command::kBadOffset);
        control = "at-room";
        if (given(asked, "room"))
            string.room = numberIn(given(asked, "room"), "--room", 0, 1, kMaxStringBytes, texts::command::kBadRoom);
        else if (loadedTable->endTokens().empty())
            throw Refusal(texts::command::kNoRoom);
        control = "at-fill";
        if (const auto byte = given(asked, "fill")) fill = fillByte(*byte, "--fill");
    } catch (const Refusal& refused) {
        return refusal(control, refused.what());
    }
    std::string failure;
    const auto characters = unescaped(asked.value("text", ""), failure);
    if (!characters) return refusal("at-text", failure);
    string.text = *characters;
    string.where = offsetText(string.offset);
    const std::vector<const TableEntry*> ends = loadedTable->endTokens();
    const Insertion insertion{ends.empty() ? nullptr : ends.front(), fill};
    const ScriptInsertion strings(*loadedTable, {string}, insertion);
    bool readFailed = false;
    MemorySource checked(buffers.rom.data(), buffers.rom.size(), false);
    const std::vector<std::string> problems = strings.run(checked, nullptr, readFailed);
    if (!problems.empty()) return refusal("at-text", problems.front());
    buffers.output.clear();
    MemorySource source(buffers.rom);
    OutputStream output(std::make_unique<MemorySink>(buffers.output), OutputOptions{});
    strings.run(source, &output, readFailed);
    output.close();
    return answer(Json::object());
}

// The table that table --A/--a/--0 writes.
std::string tableFromValues(const std::string& request) {
    const Json asked = Json::parse(request);
    const char* const names[] = {"--A", "--a", "--0"};
    const char* const controls[] = {"values-A", "values-a", "values-0"};
    ClassValues values(3, -1);
    const Width width = widthNamed(asked.value("width", "8"));
    const char* range = width == Width::Byte ? texts::command::kBadValue : texts::command::kBadUnit;
    for (std::size_t order = 0; order < values.size(); ++order) {
        try {
            const auto value = given(asked, names[order] + 2);
            if (value) values[order] = static_cast<std::int32_t>(numberIn(value, names[order], 0, 0, unitMask(width), range));
        } catch (const Refusal& refused) {
            return refusal(controls[order], refused.what());
        }
    }
    if (values[0] < 0 && values[1] < 0 && values[2] < 0) return refusal("values-A", texts::command::kNoTableSource);
    try {
        return answer({{"table", tableOfValues(values, width)}});
    } catch (const Refusal& refused) {
        return refusal("values-A", refused.what());
    }
}

// --- Patches: made from the file opened to a second ROM, and applied ---

std::string_view viewOf(const std::vector<std::uint8_t>& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// A buffer the page fills anew for each request, let go once it is used.
void release(std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    bytes.shrink_to_fit();
}

// The patch that turns the file opened into the second ROM, as patch create
// makes it, into the output.
std::string makePatchOf(const std::string& request) {
    const Json asked = Json::parse(request);
    const auto format = patchFormatNamed(asked.value("format", ""));
    if (!format) return refusal("patch-format", texts::command::kBadFormat);
    const std::string metadata = asked.value("metadata", "");
    if (!metadata.empty() && format != PatchFormat::Bps) return refusal("patch-metadata", texts::command::kMetadataWithBps);
    std::string patch, refused;
    try {
        patch = makePatch(*format, PatchFile(viewOf(buffers.rom)), PatchFile(viewOf(buffers.second)), metadata);
    } catch (const Refusal& failure) {
        refused = failure.what();
    }
    release(buffers.second);
    if (!refused.empty()) return refusal("patch-translated", asked.value("name", "") + ": " + refused);
    buffers.output.assign(patch.begin(), patch.end());
    return answer(Json::object());
}

// The second ROM patched, as patch apply writes it, into the output; its
// refusals name the file, as the command's do. An original that the patch
// is for without its copier header says so, for the page to offer that.
std::string applyPatchOf(const std::string& request) {
    const Json asked = Json::parse(request);
    const std::string romName = asked.value("rom", ""), patchName = asked.value("patch", "");
    std::optional<Patch> patch;
    std::string refused;
    try {
        patch.emplace(std::string(viewOf(buffers.patch)));
    } catch (const Refusal& failure) {
        refused = failure.what();
    }
    release(buffers.patch);
    if (!patch) {
        release(buffers.second);
        return refusal("apply-patch", patchName + ": " + refused);
    }
    buffers.output.clear();
    OutputStream output(std::make_unique<MemorySink>(buffers.output), OutputOptions{});
    const OpenOriginal original = [] { return std::make_unique<MemorySource>(buffers.second); };
    const Applied applied =
        patch->apply(original, output, {asked.value("force", false), asked.value("stripHeader", false), false, {}});
    output.close();
    release(buffers.second);
    if (applied.failure == Applied::Failure::None) return answer(Json::object());
    buffers.output.clear();
    if (applied.failure == Applied::Failure::Patch) return refusal("apply-patch", patchName + ": " + applied.problem);
    return answer({{"error", romName + ": " + applied.problem}, {"control", "apply-rom"},
                   {"copierHeader", applied.copierHeader}});
}

// --- The file's bytes, as a hex editor with a table shows them ---

// `rows` rows of 16 bytes from the row of `start`, each byte with what the
// open table reads from it: an entry's text at its first byte, nothing at
// its other bytes, a dot where no entry stands; the reading starts at the
// first row.
std::string fileRows(double start, std::size_t rows) {
    const std::uint64_t size = buffers.rom.size();
    const std::uint64_t first = std::min<std::uint64_t>(static_cast<std::uint64_t>(start), size) / kHexRow * kHexRow;
    const std::uint64_t end = std::min<std::uint64_t>(size, first + rows * kHexRow);
    Json lines = Json::array();
    std::uint64_t readTo = first;
    for (std::uint64_t row = first; row < end; row += kHexRow) {
        Json cells = Json::array();
        for (std::uint64_t at = row; at < std::min(end, row + kHexRow); ++at) {
            std::string text;
            if (at >= readTo) {
                const TableEntry* entry = loadedTable ? loadedTable->longestAt(&buffers.rom[at], size - at) : nullptr;
                Text reading;
                if (entry) appendReading(*entry, &buffers.rom[at], reading);
                text = entry ? escaped(reading) : ".";
                readTo = at + (entry ? entry->span() : 1);
            }
            cells.push_back({{"hex", hexDigits(buffers.rom[at])}, {"text", text}});
        }
        lines.push_back({{"offset", offsetText(row)}, {"at", row}, {"cells", cells}});
    }
    return answer({{"rows", lines}, {"size", size}});
}

// --- The tile view ---

// The colour indices of `count` tiles from `start`, 64 a tile, into the
// output: as many as the file holds whole.
std::string tiles(const std::string& formatName, double start, std::size_t count) {
    const TileFormat format = tileFormatNamed(formatName);
    const std::size_t size = tileBytes(format);
    const std::uint64_t from = std::min<std::uint64_t>(static_cast<std::uint64_t>(start), buffers.rom.size());
    count = static_cast<std::size_t>(std::min<std::uint64_t>(count, (buffers.rom.size() - from) / size));
    buffers.output.resize(count * kTileSide * kTileSide);
    for (std::size_t tile = 0; tile < count; ++tile) {
        const TilePixels pixels = decodeTile(format, buffers.rom.data() + from + tile * size);
        std::copy(pixels.begin(), pixels.end(), buffers.output.begin() + static_cast<std::ptrdiff_t>(tile * pixels.size()));
    }
    return answer({{"count", count}, {"bits", tileBits(format)}, {"tileBytes", size}});
}

// The keys of the tiles numbered from `first`, and the open table's texts.
std::string tileLabels(std::size_t first, std::size_t count) {
    Json keys = Json::array(), labels = Json::array();
    for (std::size_t number = first; number < first + count; ++number) {
        keys.push_back(tileKey(number));
        labels.push_back(loadedTable ? tileLabel(*loadedTable, number) : "");
    }
    return answer({{"keys", keys}, {"labels", labels}});
}

// The table's text with the entry of `key` set to `text`: the line of an
// entry with that key changed, or a line added.
std::string withEntry(const std::string& key, const std::string& text) {
    const std::string line = key + "=" + text;
    std::string table = textOf(buffers.table), result;
    bool changed = false;
    for (std::size_t at = 0; at < table.size() || (at == table.size() && !changed);) {
        const std::size_t end = std::min(table.find('\n', at), table.size());
        std::string current = table.substr(at, end - at);
        const std::size_t equals = current.find('=');
        if (!changed && equals != std::string::npos && equals == key.size() &&
            std::equal(key.begin(), key.end(), current.begin(), [](char a, char b) { return std::toupper(a) == std::toupper(b); })) {
            current = line + (current.back() == '\r' ? "\r" : "");
            changed = true;
        }
        if (at == table.size()) break;
        result += current + (end < table.size() ? "\n" : "");
        at = end + 1;
    }
    if (!changed) result += (result.empty() || result.back() == '\n' ? "" : "\n") + line + "\n";
    return answer({{"table", result}});
}

// Where an NES file's tiles start, if it has any; and when asked, the CRC32
// of the file (reflected, polynomial 0xEDB88320, as zip and PNG have it), by
// which the page knows the same ROM again.
std::string fileFacts(bool withCrc) {
    const auto chr = nesCharacterData(buffers.rom.data(), buffers.rom.size());
    Json facts = {{"chr", chr ? Json(*chr) : Json()}};
    if (!withCrc) return answer(facts);
    static const auto table = [] {
        std::array<std::uint32_t, 256> entries{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entries[n] = c;
        }
        return entries;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const std::uint8_t byte : buffers.rom) crc = table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(crc ^ 0xFFFFFFFFu));
    facts["crc32"] = hex;
    return answer(facts);
}

// How far a shift moves every byte, by the value of A or an amount, or the
// refusal of either.
std::string shiftAmountOf(const std::string& letterA, const std::string& by, bool back) {
    try {
        return answer({{"amount", shiftAmount(optionGiven(letterA), optionGiven(by), back)}});
    } catch (const Refusal& refused) {
        return refusal(letterA.empty() && !by.empty() ? "shift-by" : "shift-a", refused.what());
    }
}

// `size` bytes of a buffer from `at` on, moved by `amount`, into the output.
// The page shifts a file slice by slice, so that only a slice of the shifted
// copy is ever here beside the file.
std::string shiftSlice(const std::string& which, std::size_t at, std::size_t size, int amount) {
    const std::vector<std::uint8_t>& from = bufferNamed(which);
    size = std::min(size, from.size() - std::min(at, from.size()));
    buffers.output.clear();
    buffers.output.reserve(size);
    InputStream input(std::make_unique<MemorySource>(from.data() + at, size, false), InputOptions{});
    OutputStream output(std::make_unique<MemorySink>(buffers.output), OutputOptions{});
    shiftPass(input, output, amount);
    return answer(Json::object());
}

// Makes room for `size` bytes for the page to fill: the file opened ("rom",
// with its name), a slice of the edited file, a table, a second ROM or a
// patch.
std::string reserve(const std::string& which, const std::string& name, std::size_t size) {
    std::vector<std::uint8_t>& bytes = bufferNamed(which);
    if (which == "rom") {
        buffers.romName = name;
        last = {};
    }
    bytes.clear();
    bytes.shrink_to_fit();
    bytes.resize(size);
    return answer(Json::object());
}

// The room `reserve` made, for the page to fill; valid until the engine
// next allocates.
emscripten::val buffer(const std::string& which) {
    std::vector<std::uint8_t>& bytes = bufferNamed(which);
    return emscripten::val(emscripten::typed_memory_view(bytes.size(), bytes.data()));
}

// What the last dump or shift wrote; valid until the next call.
emscripten::val output() {
    return emscripten::val(emscripten::typed_memory_view(buffers.output.size(), buffers.output.data()));
}

// A request's answer, or the engine's own failure in words for the page: a
// file the module's memory can't hold beside what the engine needs says so,
// rather than reaching the page as an exception that no script can read.
template <auto request, typename... Args>
std::string answered(Args... args) {
    try {
        return request(args...);
    } catch (const std::bad_alloc&) {
        return answer({{"failure", texts::page::kOutOfMemory}});
    } catch (const std::exception& failure) {
        return answer({{"failure", failure.what()}});
    }
}

}  // namespace
}  // namespace glyphound::page

EMSCRIPTEN_BINDINGS(glyphound) {
    using namespace glyphound::page;
    emscripten::function("reserve", &answered<reserve, const std::string&, const std::string&, std::size_t>);
    emscripten::function("buffer", &buffer);
    emscripten::function("output", &output);
    emscripten::function("find", &answered<find, const std::string&>);
    emscripten::function("hexView", &answered<hexView, std::size_t>);
    emscripten::function("guess", &answered<guess, const std::string&, const std::string&>);
    emscripten::function("loadTable", &answered<loadTable, const std::string&>);
    emscripten::function("dump", &answered<dump, const std::string&>);
    emscripten::function("pointers", &answered<pointers, const std::string&>);
    emscripten::function("dumpPointers", &answered<dumpPointers, const std::string&>);
    emscripten::function("openScript", &answered<openScript, const std::string&>);
    emscripten::function("insertRows", &answered<insertRows, const std::string&, bool>);
    emscripten::function("scriptText", &answered<scriptText, const std::string&>);
    emscripten::function("encode", &answered<encodeText, const std::string&, bool>);
    emscripten::function("insertAt", &answered<insertAt, const std::string&>);
    emscripten::function("tableFromValues", &answered<tableFromValues, const std::string&>);
    emscripten::function("tiles", &answered<tiles, const std::string&, double, std::size_t>);
    emscripten::function("tileLabels", &answered<tileLabels, std::size_t, std::size_t>);
    emscripten::function("withEntry", &answered<withEntry, const std::string&, const std::string&>);
    emscripten::function("fileFacts", &answered<fileFacts, bool>);
    emscripten::function("fileRows", &answered<fileRows, double, std::size_t>);
    emscripten::function("shiftAmount", &answered<shiftAmountOf, const std::string&, const std::string&, bool>);
    emscripten::function("makePatch", &answered<makePatchOf, const std::string&>);
    emscripten::function("applyPatch", &answered<applyPatchOf, const std::string&>);
    emscripten::function("shiftSlice", &answered<shiftSlice, const std::string&, std::size_t, std::size_t, int>);
}
