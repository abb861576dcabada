#include "engine/reports.hpp"

#include <cmath>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>

#include "dialogue/texts.hpp"
#include "engine/pointed_strings.hpp"

namespace glyphound {
namespace {

namespace text = texts::command;

using Json = nlohmann::ordered_json;

// Names that are not UTF-8 still give valid JSON.
std::string lineOf(const Json& line) { return line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n"; }

// What a hit says: each class's value, or the unit of each character the
// word shows, in its order.
std::vector<std::pair<std::string, std::int32_t>> valuesOf(const SearchPlan& plan, const Found& found) {
    std::vector<std::pair<std::string, std::int32_t>> values;
    if (plan.match != MatchMode::Relative) {
        const std::u32string& shown = plan.patterns[found.word].shownCharacters();
        for (std::size_t at = 0; at < found.units.size(); ++at)
            values.emplace_back(encodeUtf8(shown[at]), static_cast<std::int32_t>(found.units[at]));
        return values;
    }
    for (std::size_t slot = 0; slot < found.values.size(); ++slot)
        if (found.values[slot] >= 0) values.emplace_back(plan.slots[slot].key(), found.values[slot]);
    return values;
}

// The value that most hits gave each slot; several values with the most
// hits leave it undecided.
ClassValues consensus(const Tally& tally, const SearchPlan& plan) {
    ClassValues values(plan.slots.size(), -1);
    for (std::size_t slot = 0; slot < tally.orders(); ++slot) {
        const auto ranked = tally.ranked(slot);
        if (ranked.empty()) continue;
        if (ranked.size() > 1 && ranked[1].second == ranked[0].second) {
            std::string tied;
            for (const auto& [value, hits] : ranked)
                if (hits == ranked[0].second) tied += (tied.empty() ? "" : ", ") + valueText(value, plan.width);
            throw Refusal(text::kTie + plan.slots[slot].key() + "': " + tied + " have " +
                          std::to_string(ranked[0].second) + " hits each");
        }
        values[slot] = ranked[0].first;
    }
    return values;
}

// "XX=c" lines in key order, ended by CR LF; a key is the unit's bytes in
// file order.
std::string tableText(const ClassValues& values, const std::vector<CharacterOrder>& orders, Width width) {
    std::map<std::string, std::string> entries;
    for (std::size_t order = 0; order < values.size(); ++order) {
        if (values[order] < 0) continue;
        const std::u32string& characters = orders[order].characters;
        for (std::size_t index = 0; index < characters.size(); ++index) {
            const std::uint32_t unit = (static_cast<std::uint32_t>(values[order]) + index) & unitMask(width);
            const std::string character = encodeUtf8(characters[index]);
            const auto [entry, added] = entries.emplace(hexDigits(unit, width), character);
            if (!added) throw Refusal(text::kSharedKey + entry->first + ": '" + entry->second + "' and '" + character + "'");
        }
    }
    std::string table;
    for (const auto& [key, character] : entries) table += key + "=" + character + "\r\n";
    return table;
}

// The classes' keys as find names them: "A", then "a" where there is lower case.
std::vector<std::pair<std::string, std::int32_t>> namedValues(const AlphabetGuess& guess) {
    const Alphabet alphabet;
    std::vector<std::pair<std::string, std::int32_t>> named;
    for (std::size_t order = 0; order < guess.values.size(); ++order)
        if (guess.values[order] >= 0) named.emplace_back(alphabet.orders()[order].key(), guess.values[order]);
    return named;
}

// A score as one decimal, the same in text and JSON.
double rounded(double score) { return std::round(score * 10) / 10; }

}  // namespace

std::string foundValues(const SearchPlan& plan, const Found& found) {
    std::string values;
    for (const auto& [key, value] : valuesOf(plan, found))
        values += (values.empty() ? "" : " ") + key + "=" + valueText(value, plan.width);
    return values;
}

std::string foundLine(const std::string& file, bool nameShown, const SearchPlan& plan, const Found& found) {
    const std::string values = foundValues(plan, found);
    return (nameShown ? file + ":" : "") + offsetText(found.offset) + ": " + plan.words[found.word] +
           (values.empty() ? "" : "  " + values) + "  \"" + found.preview + "\"\n";
}

std::string foundJson(const std::string& file, const SearchPlan& plan, const Found& found) {
    Json line = {{"file", file}, {"offset", found.offset}};
    if (plan.table) line.push_back({"length", found.length});
    line.push_back({"word", plan.words[found.word]});
    Json values = Json::object();
    for (const auto& [key, value] : valuesOf(plan, found)) values[key] = value;
    if (!plan.table) line.push_back({plan.match == MatchMode::Relative ? "values" : "units", values});
    line.push_back({"preview", found.preview});
    return lineOf(line);
}

std::string tallyLines(const Tally& tally, const SearchPlan& plan) {
    std::string lines = text::kTallyHeading;
    for (std::size_t slot = 0; slot < tally.orders(); ++slot)
        for (const auto& [value, hits] : tally.ranked(slot))
            lines += "  " + plan.slots[slot].key() + "=" + valueText(value, plan.width) + "  " + std::to_string(hits) +
                     (hits == 1 ? " hit\n" : " hits\n");
    return lines;
}

std::string tableOfHits(const Tally& tally, const SearchPlan& plan) {
    return tableText(consensus(tally, plan), plan.slots, plan.width);
}

std::string tableOfValues(const ClassValues& values, Width width) {
    return tableText(values, Alphabet().orders(), width);
}

std::string stringLine(const std::string& file, bool nameShown, const TableString& string) {
    std::string line;
    appendStringLine(line, file, nameShown, string);
    return line;
}

void appendStringLine(std::string& lines, const std::string& file, bool nameShown, const TableString& string) {
    if (nameShown) lines.append(file).push_back(':');
    appendOffsetText(lines, string.offset);
    lines.append(": ");
    appendEscaped(lines, string.text);
    lines.push_back('\n');
}

std::string stringJson(const std::string& file, const TableString& string) {
    return lineOf({{"file", file}, {"offset", string.offset}, {"length", string.length}, {"text", plain(string.text)}});
}

std::string guessLines(std::size_t rank, const AlphabetGuess& guess, Width width) {
    std::string lines = std::to_string(rank) + ".";
    for (const auto& [key, value] : namedValues(guess))
        lines += std::string(" ") + key + "=" + valueText(value, width);
    char score[32];
    std::snprintf(score, sizeof score, "%.1f", rounded(guess.score));
    lines += text::kScore + std::string(score) + text::kTextBytes + std::to_string(guess.textBytes) + text::kBytes;
    if (guess.capitalsUnplaced) lines += std::string("   ") + text::kCapitalsUnplaced + "\n";
    for (const TextRun& run : guess.runs)
        lines += std::string("   ") + offsetText(run.offset) + ": \"" + run.preview + "\"\n";
    return lines;
}

std::string guessJson(const std::string& file, const AlphabetGuess& guess) {
    Json values = Json::object(), runs = Json::array();
    for (const auto& [key, value] : namedValues(guess)) values[key] = value;
    for (const TextRun& run : guess.runs)
        runs.push_back({{"offset", run.offset}, {"length", run.length}, {"preview", run.preview}});
    Json line = {{"file", file}, {"values", values}};
    if (guess.capitalsUnplaced) line.push_back({"note", text::kCapitalsUnplaced});
    line.push_back({"score", rounded(guess.score)});
    line.push_back({"text_bytes", guess.textBytes});
    line.push_back({"runs", runs});
    return lineOf(line);
}

std::string pointerTableLine(const FoundTable& table) {
    const PointerTable& pointers = table.table;
    return offsetText(pointers.offset) + ": " + std::to_string(pointers.count) + text::kPointers +
           std::to_string(pointers.stride) + ", " + pointers.map.name() + " " + pointers.format.name() + ", " +
           std::to_string(table.starts) + text::kToStarts + std::to_string(table.inside) + text::kInside;
}

std::string pointerTableJson(const FoundTable& table, std::string_view file, const Table& text) {
    const PointerTable& pointers = table.table;
    Json split = nullptr;
    if (pointers.format.split) {
        split = Json{{"high", pointers.format.split->high}};
        if (pointers.format.split->bank) split.emplace("bank", *pointers.format.split->bank);
    }
    Json each = Json::array();
    for (const FoundPointer& pointer : table.pointers) {
        const Json target = pointer.target ? Json(*pointer.target) : Json(nullptr);
        const Json string = pointer.target ? Json(plain(textAt(file, text, *pointer.target))) : Json(nullptr);
        each.push_back({{"offset", pointer.offset}, {"value", pointer.value}, {"target", target}, {"string", string}});
    }
    return lineOf({{"offset", pointers.offset},
                   {"count", pointers.count},
                   {"stride", pointers.stride},
                   {"map", pointers.map.name()},
                   {"ptr", pointers.format.bits},
                   {"endian", pointers.format.bigEndian ? "be" : "le"},
                   {"split", split},
                   {"starts", table.starts},
                   {"inside", table.inside},
                   {"pointers", each}});
}

std::string mappingLines(const std::vector<MappingEvidence>& mappings) {
    std::string lines = text::kMappingsHeading;
    for (const MappingEvidence& mapping : mappings) {
        char chance[32];
        std::snprintf(chance, sizeof chance, "%.1f", mapping.chance);
        lines += "  " + mapping.map + "  " + std::to_string(mapping.tables) + (mapping.tables == 1 ? text::kTable : text::kTables) +
                 std::to_string(mapping.starts) + text::kStartsByChance + chance + text::kOnRandomBytes;
    }
    return lines;
}

std::string patchLines(const PatchSummary& summary) {
    namespace said = texts::patch;
    const auto file = [](const char* label, const std::optional<Fingerprint>& print) {
        return print ? label + std::to_string(print->size) + said::kBytesCrc + crcText(print->crc) + "\n" : "";
    };
    std::string lines = said::kFormat + std::string(patchFormatName(summary.format)) + "\n" +
                        file(said::kOriginal, summary.source) + file(said::kModified, summary.target);
    if (summary.truncatedTo) lines += said::kCutTo + std::to_string(*summary.truncatedTo) + said::kBytes + "\n";
    if (summary.patchCrc) lines += said::kCrcOfPatch + crcText(*summary.patchCrc) + "\n";
    if (!summary.metadata.empty()) lines += said::kMetadata + summary.metadata + "\n";
    return lines + said::kChanged + std::to_string(summary.changed) + said::kBytes + "\n";
}

std::string patchJson(const std::string& file, const PatchSummary& summary) {
    const auto orNull = [](const auto& value) { return value ? Json(*value) : Json(); };
    const auto fileJson = [](const std::optional<Fingerprint>& print) {
        return print ? Json{{"size", print->size}, {"crc32", print->crc}} : Json();
    };
    return lineOf({{"file", file},
                   {"format", patchFormatName(summary.format)},
                   {"original", fileJson(summary.source)},
                   {"modified", fileJson(summary.target)},
                   {"cut_to", orNull(summary.truncatedTo)},
                   {"patch_crc32", orNull(summary.patchCrc)},
                   {"metadata", summary.format == PatchFormat::Bps ? Json(summary.metadata) : Json()},
                   {"changed_bytes", summary.changed}});
}

}  // namespace glyphound
