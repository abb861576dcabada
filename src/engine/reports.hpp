#pragma once

// How hits, tables, strings and guesses are written, line by line, in text
// and in JSON: the same words and bytes whichever face writes them.
#include <cstddef>
#include <string>
#include <string_view>

#include "engine/dump.hpp"
#include "engine/guess.hpp"
#include "engine/pointer_table.hpp"
#include "engine/patch.hpp"
#include "engine/search_plan.hpp"
#include "engine/values.hpp"

namespace glyphound {

// [FILE:]0xOFFSET: WORD  A=0x41 a=0x61  "PREVIEW"
// What the hit says of each class, or of each character by order or
// pattern, as the line writes it: "A=0x41 a=0x61".
std::string foundValues(const SearchPlan& plan, const Found& found);
std::string foundLine(const std::string& file, bool nameShown, const SearchPlan& plan, const Found& found);
std::string foundJson(const std::string& file, const SearchPlan& plan, const Found& found);
// "Values found:" and each value with its hits, the most first.
std::string tallyLines(const Tally& tally, const SearchPlan& plan);

// The table that hits give: each slot at the value most of them gave.
// Throws Refusal on a tie or a key that two characters would share.
std::string tableOfHits(const Tally& tally, const SearchPlan& plan);
// The table of the classes A-Z, a-z and 0-9 at the values given (-1: none).
std::string tableOfValues(const ClassValues& values, Width width);

// [FILE:]0xOFFSET: TEXT, escaped.
std::string stringLine(const std::string& file, bool nameShown, const TableString& string);
void appendStringLine(std::string& lines, const std::string& file, bool nameShown, const TableString& string);
std::string stringJson(const std::string& file, const TableString& string);

// "1. A=0x80 a=0x10  score 402.3  text 812 bytes", then a line per run.
std::string guessLines(std::size_t rank, const AlphabetGuess& guess, Width width);
std::string guessJson(const std::string& file, const AlphabetGuess& guess);

// "0x00001234: 12 pointers, stride 2, nes 16 le, 12 to string starts, 0 inside"
std::string pointerTableLine(const FoundTable& table);
// With each pointer, where it leads and the text there as `dump` prints it.
std::string pointerTableJson(const FoundTable& table, std::string_view file, const Table& text);
// "Mappings:" and each mapping with its evidence, the best first.
std::string mappingLines(const std::vector<MappingEvidence>& mappings);
// "format: BPS", then a line for each of the files, the patch's CRC32, the
// metadata and the bytes changed, as far as the format records them.
std::string patchLines(const PatchSummary& summary);
// The same as one object, with null for what the format doesn't record.
std::string patchJson(const std::string& file, const PatchSummary& summary);

}  // namespace glyphound
