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
    std::string caseMode = "split";
    std::string wildcard = "?";
    std::string width = "8";
    std::vector<std::string> orders;  // names of built-in orders, or files
    std::vector<std::string> operands;
};

struct FindOptions {
    SearchOptions search;
    bool json = false;
};

struct TableOptions {
    SearchOptions search;
    std::string output;
    std::optional<std::string> values[3];  // --A, --a, --0
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

// The words to search for, compiled, and the files to search: the first
// operand is the word when neither -e nor -f gives words.
struct SearchPlan {
    std::shared_ptr<const Alphabet> alphabet;
    Width width = Width::Byte;
    std::vector<Pattern> patterns;
    std::vector<std::string> files;
    bool namesShown = false;  // several files, or a walk
};
SearchPlan planSearch(const SearchOptions& options, CommandIo& io);
// --width's value: 8, 16le or 16be.
Width widthNamed(const std::string& name);
// The search's rules, from the options alone.
PatternOptions patternOptions(const SearchOptions& options);

using FileHitHandler = std::function<void(const std::string& file, const Hit& hit)>;
// Searches every file of the plan, walking directories when asked; returns
// kFound, kNothingFound or kError (some file could not be searched).
int searchFiles(const SearchPlan& plan, const SearchOptions& options, CommandIo& io, const FileHitHandler& onHit);

}  // namespace glyphound::commands
