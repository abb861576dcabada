// The page's face of the engine: what the page's script asks of it in its
// worker. The file opened in the page stays in this module's memory; every
// answer is the engine's own text, the same bytes the commands print.
#include <emscripten.h>
#include <emscripten/bind.h>

#include <algorithm>
#include <cstring>
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

// The file opened, the edited file to shift back, a table, and what the
// last pass wrote for the page to download.
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

// Hands the bytes over as a file would, and the page its progress.
class MemorySource : public ByteSource {
public:
    explicit MemorySource(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
    ReadResult read(std::uint8_t* buffer, std::size_t capacity) override {
        const std::size_t count = std::min(capacity, bytes_.size() - at_);
        std::memcpy(buffer, bytes_.data() + at_, count);
        at_ += count;
        report();
        return {count, false};
    }
    std::int64_t size() const override { return static_cast<std::int64_t>(bytes_.size()); }

private:
    // One look at the clock a read is cheap: the passes read 64 KiB or more
    // at a time.
    void report() {
        const double now = emscripten_get_now();
        if (now < nextReport_) return;
        nextReport_ = now + kProgressEvery;
        reportProgress(static_cast<double>(at_), static_cast<double>(bytes_.size()));
    }

    const std::vector<std::uint8_t>& bytes_;
    std::size_t at_ = 0;
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

// The file, or the edited one shifted back, into the output.
std::string shift(const std::string& letterA, bool back) {
    std::int64_t amount = 0;
    try {
        amount = shiftAmount(letterA.empty() ? std::nullopt : std::optional(letterA), std::nullopt, back);
    } catch (const Refusal& refused) {
        return refusal("shift-a", refused.what());
    }
    buffers.output.clear();
    const std::vector<std::uint8_t>& from = back ? buffers.edited : buffers.rom;
    buffers.output.reserve(from.size());
    InputStream input(std::make_unique<MemorySource>(from), InputOptions{});
    OutputStream output(std::make_unique<MemorySink>(buffers.output), OutputOptions{});
    shiftPass(input, output, amount);
    return answer(Json::object());
}

// A buffer of `size` bytes for the page to fill: the file opened ("rom",
// with its name), the edited file, or a table.
emscripten::val buffer(const std::string& which, const std::string& name, std::size_t size) {
    std::vector<std::uint8_t>& bytes = bufferNamed(which);
    bytes.clear();
    bytes.shrink_to_fit();
    bytes.resize(size);
    if (which == "rom") {
        buffers.romName = name;
        last = {};
    }
    return emscripten::val(emscripten::typed_memory_view(bytes.size(), bytes.data()));
}

// What the last dump or shift wrote; valid until the next call.
emscripten::val output() {
    return emscripten::val(emscripten::typed_memory_view(buffers.output.size(), buffers.output.data()));
}

}  // namespace
}  // namespace glyphound::page

EMSCRIPTEN_BINDINGS(glyphound) {
    using namespace glyphound::page;
    emscripten::function("buffer", &buffer);
    emscripten::function("output", &output);
    emscripten::function("find", &find);
    emscripten::function("hexView", &hexView);
    emscripten::function("guess", &guess);
    emscripten::function("loadTable", &loadTable);
    emscripten::function("dump", &dump);
    emscripten::function("shift", &shift);
}
