// The page's face of the engine: what the page's script asks of it in its
// worker. The file opened in the page stays in this module's memory; every
// answer is the engine's own text, the same bytes the commands print.
#include <emscripten.h>
#include <emscripten/bind.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <nlohmann/json.hpp>

#include "dialogue/texts.hpp"
#include "engine/dump.hpp"
#include "engine/guess.hpp"
#include "engine/reports.hpp"
#include "engine/search_plan.hpp"
#include "engine/table.hpp"
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

// The file opened, a slice of the edited file to shift back, a table, and
// what the last pass wrote for the page to download.
struct Buffers {
    std::string romName, tableName;
    std::vector<std::uint8_t> rom, edited, table, output;
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
    return buffers.rom;
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
                        {"preview", found.preview}});
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

std::string guess(const std::string& widthName) {
    Width width = Width::Byte;
    try {
        width = widthNamed(widthName);
    } catch (const Refusal& refused) {
        return refusal("width", refused.what());
    }
    TextSample sample;
    MemorySource source(buffers.rom);
    sampleTextLike(source, width, sample);
    std::string lines;
    const std::vector<AlphabetGuess> guesses = rankAlphabets(sample, width, kDefaultGuesses);
    for (std::size_t rank = 0; rank < guesses.size(); ++rank) lines += guessLines(rank + 1, guesses[rank], width);
    return answer({{"text", lines}, {"note", sample.partial ? texts::command::kSampled : ""}});
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

// The strings dump prints, into the output for the page to show or download.
std::string dump() {
    if (!loadedTable) return refusal("table-file", texts::page::kLoadTableFirst);
    buffers.output.clear();
    MemorySource source(buffers.rom);
    findStrings(source, *loadedTable, kDefaultMinLength, [&](const TableString& string) {
        const std::string line = stringLine(buffers.romName, false, string);
        buffers.output.insert(buffers.output.end(), line.begin(), line.end());
    });
    return answer(Json::object());
}

// How far a shift moves every byte, or the refusal of the value of A.
std::string shiftAmountOf(const std::string& letterA, bool back) {
    try {
        return answer({{"amount", shiftAmount(letterA.empty() ? std::nullopt : std::optional(letterA), std::nullopt, back)}});
    } catch (const Refusal& refused) {
        return refusal("shift-a", refused.what());
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
// with its name), a slice of the edited file, or a table.
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
    emscripten::function("guess", &answered<guess, const std::string&>);
    emscripten::function("loadTable", &answered<loadTable, const std::string&>);
    emscripten::function("dump", &answered<dump>);
    emscripten::function("shiftAmount", &answered<shiftAmountOf, const std::string&, bool>);
    emscripten::function("shiftSlice", &answered<shiftSlice, const std::string&, std::size_t, std::size_t, int>);
}
