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
#include "engine/table.hpp"
#include "engine/values.hpp"
#include "search/word_matcher.hpp"

namespace glyphound::commands {

// A wrong option or operand: reported with a pointer to the command's help.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

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

struct DumpOptions {
    std::string table;
    std::optional<std::string> start, end, minimum;
    bool json = false, script = false, recursive = false;
    std::string output;  // none: standard output
    std::vector<std::string> files;
};

struct EncodeOptions {
    std::string table;
    bool end = false;
    std::string output;  // none: hexadecimal on standard output
    std::vector<std::string> texts;
};

struct InsertOptions {
    std::string table, script;
    std::optional<std::string> at, room, fill;
    std::vector<std::string> operands;
};

struct ShiftOptions {
    bool back = false;
    std::optional<std::string> letterA, by;
    std::vector<std::string> operands;
};

struct GuessOptions {
    std::string width = "8";
    std::string top = "5";
    bool json = false;
    std::vector<std::string> operands;
};

// Decimal, or hexadecimal after 0x, with an optional minus sign; `what`
// names the option in the error.
std::int64_t parseNumber(const std::string& text, const std::string& what);

int runFind(const FindOptions& options, CommandIo& io);
int runTable(const TableOptions& options, CommandIo& io);
int runShift(const ShiftOptions& options, CommandIo& io);
int runGuess(const GuessOptions& options, CommandIo& io);
int runDump(const DumpOptions& options, CommandIo& io);
int runEncode(const EncodeOptions& options, CommandIo& io);
int runInsert(const InsertOptions& options, CommandIo& io);

// A hit as the commands show it.
struct Found {
    std::uint64_t offset = 0;
    std::size_t word = 0;  // index into the plan's words
    std::uint64_t length = 0;  // in bytes
    ClassValues values;  // by the plan's slots; none through a table
    std::vector<std::uint32_t> units;  // of the pattern's shown characters, by order or pattern
    std::string preview;  // when asked for
};

// The words to search for, compiled, and the files to search: the first
// operand is the word when neither -e nor -f gives words. Through a table
// when one is named.
struct SearchPlan {
    std::shared_ptr<const Alphabet> alphabet;
    // What hits give a value for: the alphabet's classes, or by order or
    // pattern, each character shown, in the order the words first have them.
    std::vector<CharacterOrder> slots;
    Width width = Width::Byte;
    MatchMode match = MatchMode::Relative;
    std::vector<std::string> words;  // as given, each once
    std::vector<Pattern> patterns;
    std::optional<Table> table;
    std::vector<Text> tableWords;
    std::vector<std::string> files;
    bool namesShown = false;  // several files, or a walk
};
SearchPlan planSearch(const SearchOptions& options, CommandIo& io, const std::string& table = "");
// --width's value: 8, 16le or 16be.
Width widthNamed(const std::string& name);
// The search's rules, from the options alone.
PatternOptions patternOptions(const SearchOptions& options);

// Searches every file of the plan, walking directories when asked; returns
// kFound, kNothingFound or kError (some file could not be searched).
int searchFiles(const SearchPlan& plan, const SearchOptions& options, CommandIo& io,
                const FileItemHandler<Found>& onFound, bool previews);

// A small file read whole: a list of words, orders, a table or a script;
// one larger than `limit` is a usage error that says it is `tooLarge`.
std::string readSmallFile(const std::string& name, CommandIo& io, std::size_t limit, const char* tooLarge);
Table loadTable(const std::string& name, CommandIo& io);

}  // namespace glyphound::commands
