#pragma once

// Every text the program prints, each written once: the dialogue's, which
// users and their scripts read byte for byte, so they never change, then the
// commands' messages.
#include <string_view>

namespace glyphound::texts {

constexpr std::string_view kBanner =
    "\n\tGlyphound v1.0\n\t  Searches for text hidden in game ROMs and other files.\n";
constexpr std::string_view kSearchPrompt = "\nEnter search string of length 3-";
constexpr std::string_view kSearchPromptEnd = ": ";
constexpr std::string_view kMatchAt = "Match found at offset ";
constexpr std::string_view kMatchShift = ", shifted by ";
constexpr std::string_view kMatchLetterA = "\tLetter 'A' in CHR Bank should be at position ";
constexpr std::string_view kNoFurtherMatches = "\nNo Further Matches Found.\n\n";
constexpr std::string_view kShiftQuestion = "Would you like to Shift the bytes in the file? (Y/N) ";
constexpr std::string_view kLetterAQuestion = "Where should the letter 'A' be in the CHR bank? ";
constexpr std::string_view kNothingToShift = "\n\tIt doesn't get shifted anywhere!\n";
constexpr std::string_view kShiftedBy = "Bytes shifted by ";
constexpr std::string_view kShiftedInto =
    " into file 'Shifted.BIN'.\n  You can make all your modifications now.\n\n";
constexpr std::string_view kShiftBackQuestion = "Would you now like to shift it back? (Y/N) ";
constexpr std::string_view kShiftedBack =
    "Bytes shifted back to original position into file 'Output.ROM'.\n";
constexpr std::string_view kPause = "\n \n Press Enter to continue \n";

constexpr std::string_view kUsage = "Usage: ";
constexpr std::string_view kUsageEnd = " [file]\n";
// The errors, each printed after the invocation name and ": ".
constexpr std::string_view kCantOpenInput = "Can't open input file";
constexpr std::string_view kCantReadInput = "Can't read input file";
constexpr std::string_view kCantOpenOutput = "Can't open output file";
constexpr std::string_view kCantWriteOutput = "Can't write output file";
constexpr std::string_view kNoSearchString = "No search string entered";

constexpr const char* kShiftedFile = "Shifted.BIN";
constexpr const char* kOutputFile = "Output.ROM";
// Messages need a name even when the system gives the program none.
constexpr const char* kFallbackName = "glyphound";

namespace command {

constexpr const char* kProgramName = "glyphound";
constexpr const char* kWriteFailed = "Write failed";
constexpr const char* kReadFailed = "Read failed";
constexpr const char* kStandardOutput = "standard output";
constexpr const char* kTry = "Try 'glyphound help ";
constexpr const char* kTryEnd = "'.\n";
constexpr const char* kTallyHeading = "\nValues found:\n";

constexpr const char* kNoWord = "no word given";
constexpr const char* kNoTableSource = "give a word and files to search, or --A, --a or --0";
constexpr const char* kBothTableSources = "give either a search or values with --A, --a and --0, not both";
constexpr const char* kBadCase = "--case must be 'split' or 'ascii'";
constexpr const char* kBadWildcard = "--wildcard must be one character";
constexpr const char* kBadWidth = "--width must be 8, 16le or 16be";
constexpr const char* kAsciiWithOrders = "--case ascii knows no --order";
constexpr const char* kListTooLarge = ": too large for a list of words or orders";
constexpr const char* kBadNumber = " must be a number: decimal, or hexadecimal with 0x";
constexpr const char* kBadValue = " must be from 0 to 255";
constexpr const char* kBadUnit = " must be from 0 to 65535";
constexpr const char* kAmountMissing = "give the amount with --A or --by";
constexpr const char* kAmountTwice = "give --A or --by, not both";
constexpr const char* kNoMove = "the amount moves no byte (it is 0 modulo 256)";
constexpr const char* kShiftOperands = "give an input file and an output file";
constexpr const char* kUnknownCommand = "unknown command: ";
constexpr const char* kUnknownOption = "unknown option: ";
constexpr const char* kUnexpectedOperand = "unexpected operand: ";
constexpr const char* kOptionStart = "option ";
constexpr const char* kNeedsValue = " needs a value";
constexpr const char* kGivenTwice = " is given more than once";
constexpr const char* kRequired = " is required";
constexpr const char* kUnknownOrder = ": no such order or file; the built-in orders are ";
constexpr const char* kOrderHintStart = "; characters such as '";
constexpr const char* kOrderHintEnd = "' take a place only with --order";
constexpr const char* kTie = "no single value for '";
constexpr const char* kSharedKey = "two classes would share key ";
constexpr const char* kBadTop = "--top must be from 1 to 100";
constexpr const char* kSampled = "more of it looks like text than guess keeps; judged on the first 16 MiB of that";
constexpr const char* kScore = "  score ";
constexpr const char* kTextBytes = "  text ";
constexpr const char* kBytes = " bytes\n";

}  // namespace command

}  // namespace glyphound::texts
