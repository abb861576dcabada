#pragma once

// What each command was asked to do, as parsed from its command line.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "commands/command_io.hpp"
#include "commands/file_jobs.hpp"
#include "engine/address_map.hpp"
#include "engine/guess.hpp"
#include "engine/patch.hpp"
#include "engine/refusal.hpp"
#include "engine/search_plan.hpp"
#include "engine/table.hpp"
#include "engine/values.hpp"
#include "search/word_matcher.hpp"

namespace glyphound::commands {

// A wrong option or operand, or what the engine refuses: reported with a
// pointer to the command's help.
using UsageError = Refusal;

struct SearchOptions {
    std::vector<std::string> expressions;  // -e
    std::vector<std::string> wordFiles;    // -f
    bool recursive = false;
    // None when not given: a search through a table takes none of them.
    std::optional<std::string> caseMode, wildcard, width, match, gaps;
    std::vector<std::string> orders;  // names of built-in orders, or files
    std::vector<std::string> operands;
};

struct FindOptions {
    SearchOptions search;
    std::string table;  // none: a relative search
    bool json = false;
};

struct TableOptions {
    SearchOptions search;
    std::string output;
    std::optional<std::string> values[3];  // --A, --a, --0
};

// How pointers are read: --map, --ptr, --endian, --split and --stride.
struct PointerOptions {
    std::optional<std::string> map, bits, endian, split, stride;
};

struct DumpOptions {
    std::string table;
    std::optional<std::string> start, end, minimum;
    bool json = false, script = false, recursive = false;
    std::string output;  // none: standard output
    std::vector<std::string> files;
    std::vector<std::string> pointers;  // OFFSET:COUNT
    PointerOptions pointer;
    bool untilNext = false;
};

struct PointersOptions {
    std::string table;  // none: text in ASCII
    PointerOptions pointer;
    std::optional<std::string> fewest;
    std::vector<std::string> targets;  // --to
    bool json = false;
    std::vector<std::string> operands;
};

struct EncodeOptions {
    std::string table;
    bool end = false;
    std::string output;  // none: hexadecimal on standard output
    std::vector<std::string> texts;
};

struct InsertOptions {
    std::string table, script;
    std::string patch;  // none: no patch
    std::optional<std::string> at, room, fill, freeFill;
    std::vector<std::string> free;
    std::vector<std::string> operands;
};

struct ShiftOptions {
    bool back = false;
    std::optional<std::string> letterA, by;
    std::vector<std::string> operands;
};

struct PatchCreateOptions {
    std::optional<std::string> format, metadata;
    std::string output;
    std::vector<std::string> operands;
};

struct PatchApplyOptions {
    bool force = false, stripHeader = false;
    std::string output;
    std::vector<std::string> operands;
};

struct PatchInfoOptions {
    bool json = false;
    std::vector<std::string> operands;
};

struct GuessOptions {
    std::string width = "8";
    std::string top = std::to_string(kDefaultGuesses);
    bool json = false;
    std::vector<std::string> operands;
};

struct TilesOptions {
    std::string format, table, output;
    std::optional<std::string> start, count, columns, scale;
    std::vector<std::string> operands;
};

int runFind(const FindOptions& options, CommandIo& io);
int runTable(const TableOptions& options, CommandIo& io);
int runShift(const ShiftOptions& options, CommandIo& io);
int runGuess(const GuessOptions& options, CommandIo& io);
int runDump(const DumpOptions& options, CommandIo& io);
int runEncode(const EncodeOptions& options, CommandIo& io);
int runInsert(const InsertOptions& options, CommandIo& io);
int runPointers(const PointersOptions& options, CommandIo& io);
int runPatchCreate(const PatchCreateOptions& options, CommandIo& io);
int runPatchApply(const PatchApplyOptions& options, CommandIo& io);
int runPatchInfo(const PatchInfoOptions& options, CommandIo& io);

// The patch format a name's extension gives; a usage error that says
// `otherwise` for none.
PatchFormat patchFormatOfOutput(const std::string& name, const char* otherwise);
// Writes the patch from `original` to `modified` to `output`, or reports
// why it can't be made; false then.
bool writePatch(PatchFormat format, const PatchFile& original, const PatchFile& modified, const std::string& metadata,
                const std::string& modifiedName, OutputStream& output, CommandIo& io);
int runTiles(const TilesOptions& options, CommandIo& io);

// The words, and the files to search: the first operand is the word when
// neither -e nor -f gives words.
struct CommandSearch {
    SearchPlan plan;
    std::vector<std::string> files;
    bool namesShown = false;  // several files, or a walk
};
CommandSearch planSearch(const SearchOptions& options, CommandIo& io, const std::string& table = "");

// Searches every file, walking directories when asked; returns kFound,
// kNothingFound or kError (some file could not be searched).
int searchFiles(const CommandSearch& search, const SearchOptions& options, CommandIo& io,
                const FileItemHandler<Found>& onFound, bool previews);

// A small file read whole: a list of words, orders, a table or a script;
// one larger than `limit` is a usage error that says it is `tooLarge`.
std::string readSmallFile(const std::string& name, CommandIo& io, std::size_t limit, const char* tooLarge);
Table loadTable(const std::string& name, CommandIo& io);
// A file read whole into memory, for what goes back and forth in it; one
// larger than `limit` is an error that says so.
std::string readWholeFile(const std::string& name, CommandIo& io, std::uint64_t limit);
// The same of a source already open, named `name`.
std::string readWholeSource(ByteSource& source, const std::string& name, CommandIo& io, std::uint64_t limit);
PointerFormat formatOf(const PointerOptions& options);

}  // namespace glyphound::commands
