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
constexpr const char* kBadMatch = "--match must be 'relative', 'order' or 'pattern'";
constexpr const char* kAsciiWithMatch = "--case ascii goes only with --match relative";
constexpr const char* kGapsWithOrder = "--gaps goes with --match order";
constexpr const char* kBadGaps = "--gaps must be from 0 to 16";
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
constexpr const char* kBadOffset = " must be an offset: 0 or more";
constexpr const char* kEndBeforeStart = "--end comes before --start";
constexpr const char* kBadMinimum = "--min must be 1 or more";
constexpr const char* kPointersOfOneFile = "--pointers reads one file, without a range, --min or -r";
constexpr const char* kBadStride = " must be from 1 to 1048576";
constexpr const char* kScriptOfOneFile = "--script writes the strings of one file, without --json or -r";
constexpr const char* kRangePastTheEnd = "the range runs past the end of the file, at ";
constexpr const char* kRangePastTheEndBytes = " bytes";
constexpr const char* kNoText = "give the text to encode";
constexpr const char* kNoEndToken = "--end: the table has no end token";
constexpr const char* kSeveralEndTokens = "--end: the table has several end tokens";
constexpr const char* kAtOrScript = "give either --at OFF TEXT or --script FILE";
constexpr const char* kRoomWithAt = "--room goes with --at";
constexpr const char* kInsertAtOperands = "with --at, give TEXT, then IN and OUT";
constexpr const char* kInsertOperands = "give IN and OUT";
constexpr const char* kNoRoom = "the table has no end token to find the string's room: give --room";
constexpr const char* kBadRoom = " must be from 1 to 65536";
constexpr const char* kScriptTooLarge = ": larger than 64 MiB, too large for a script";
constexpr const char* kFreeWithoutPointers = "--free goes with a script whose strings pointers lead to (#ptr lines)";
constexpr const char* kFileTooLarge = ": larger than 1 GiB, too large to go back and forth in";
constexpr const char* kTableWithRelativeOptions = "--table takes no --case, --width, --wildcard, --match, --gaps or --order";
constexpr const char* kBadTileFormat = "--format must be 1bpp, 2bpp-nes, 2bpp-gb, 4bpp-snes or 4bpp-gba";
constexpr const char* kTilesOperands = "give one file";
constexpr const char* kBadCount = " must be from 1 to 268435456";
constexpr const char* kBadColumns = " must be from 1 to 1024";
constexpr const char* kBadScale = " must be from 1 to 16";
constexpr const char* kNoTile = ": no whole tile from --start on";
constexpr const char* kTooManyTiles = ": more tiles than one image holds (256 Mpixels): give --count";
constexpr const char* kPngFailed = "the PNG could not be made";
constexpr const char* kBadTableWord = " is not UTF-8 text of 1 to 255 characters";
constexpr const char* kUnknownOrder = ": no such order or file; the built-in orders are ";
constexpr const char* kOrderHintStart = "; characters such as '";
constexpr const char* kOrderHintEnd = "' take a place only with --order";
constexpr const char* kTie = "no single value for '";
constexpr const char* kSharedKey = "two characters would share key ";
constexpr const char* kBadTop = "--top must be from 1 to 100";
constexpr const char* kSampled = "more of it looks like text than guess keeps; judged on the first 16 MiB of that";
constexpr const char* kScore = "  score ";
constexpr const char* kTextBytes = "  text ";
constexpr const char* kBytes = " bytes\n";
constexpr const char* kCapitalsUnplaced = "the capitals seen fit more than one place of 'A'; only 'a' is given";
constexpr const char* kPointers = " pointers, stride ";
constexpr const char* kToStarts = " to string starts, ";
constexpr const char* kInside = " inside\n";
constexpr const char* kMappingsHeading = "\nMappings, the best first:\n";
constexpr const char* kTable = " table, ";
constexpr const char* kTables = " tables, ";
constexpr const char* kStartsByChance = " of its pointers to string starts; by chance on random bytes of the same size, ";
constexpr const char* kOnRandomBytes = "\n";
constexpr const char* kUnknownPatchCommand = "unknown patch command: ";
constexpr const char* kPatchCommands = "give create, apply or info";
constexpr const char* kCreateOperands = "give ORIGINAL and MODIFIED, and the patch with -o";
constexpr const char* kApplyOperands = "give PATCH and ORIGINAL, and the result with -o";
constexpr const char* kInfoOperands = "give one PATCH";
constexpr const char* kBadFormat = "--format must be ips, ups or bps";
constexpr const char* kFormatOfName = ": give --format, or a name that ends in .ips, .ups or .bps";
constexpr const char* kPatchName = ": a patch's name ends in .ips, .ups or .bps";
constexpr const char* kMetadataWithBps = "--metadata goes with BPS";
constexpr const char* kMetadataNotUtf8 = "--metadata must be UTF-8 text";

}  // namespace command

// What is wrong with a table file, after the file's name and line.
namespace table {

constexpr const char* kTooLarge = ": larger than 1 MiB, too large for a table";
constexpr const char* kNotUtf8 = "not UTF-8 text (a Shift-JIS table converts with: iconv -f SHIFT_JIS -t UTF-8)";
constexpr const char* kNotAnEntry = "not a table entry";
constexpr const char* kOddKey = "a key of an odd number of hexadecimal digits";
constexpr const char* kLongKey = "a key longer than 8 bytes";
constexpr const char* kBadControl = "a control code is $HEX=label,N, with N from 0 to 255";
constexpr const char* kNoEntries = ": no entry that reads as text";
constexpr const char* kKeyTwice = "key ";
constexpr const char* kKeyTwiceLine = " reads as something else on line ";
constexpr const char* kTextNotUtf8 = "the text is not UTF-8";
constexpr const char* kCantSpell = "no entry spells '";
constexpr const char* kTooCostly = "the table's control codes leave too many ways to weigh for this text";
constexpr const char* kAtPosition = "', character ";
constexpr const char* kControlStart = "control code '";
constexpr const char* kControlNeeds = "' needs its ";
constexpr const char* kControlParameters = " parameters after it, each as <$hh>, character ";
constexpr const char* kReadsBackOtherwise = "the text can't be spelt so that it reads back: ";
constexpr const char* kReadsAs = " reads as '";
constexpr const char* kNoEndingSpelling = "no spelling of the text reads back and ends in the end token";

}  // namespace table

// What is wrong with a script or a string put back, after where it stands.
namespace script {

constexpr const char* kBadHeader = ": not a line '@0xOFFSET ROOM'";
constexpr const char* kDirective =
    ": lines that start with '#' are directives: '#pointers MAP BITS ENDIAN [split]' once at the head";
constexpr const char* kBadPlaces = ": not a line '#ptr 0xOFFSET...' after a script's '#pointers' line";
constexpr const char* kNoText = ": the last string has no line of text";
constexpr const char* kOverlaps = ": the string overlaps the one before";
constexpr const char* kPastTheEnd = ": the offset is past the end of the file";
constexpr const char* kRoomPastTheEnd = ": the room runs past the end of the file";
constexpr const char* kNoString = ": no string stands at the offset";
constexpr const char* kOverflow = ": the text overflows its room of ";
constexpr const char* kOverflowBy = " by ";
constexpr const char* kByte = " byte";
constexpr const char* kBytes = " bytes";
constexpr const char* kNoFill = ": the table has no end token to pad with: give --fill";

}  // namespace script

// What is wrong with a mapping, a pointer table or a relocation.
namespace pointers {

constexpr const char* kUnknownMap =
    "--map must be linear[:BASE], nes, nes8, gb, snes-lorom, snes-hirom, relative or auto, not ";
constexpr const char* kBadBase = "--map linear:BASE takes a base of 0 or more";
constexpr const char* kNotInes = "--map nes: the file has no iNES header";
constexpr const char* kBadWidth = "--ptr must be 16, 24 or 32";
constexpr const char* kBadTableGiven = "--pointers takes OFFSET:COUNT, not ";
constexpr const char* kOneFile = "give one file";
constexpr const char* kSplitFound = "pointers finds split tables by itself: --split goes with dump and insert";
constexpr const char* kBadFewest = "--min must be from 2 to 1000";
// After the count of tables that the best left out.
constexpr const char* kLeftOut = " more tables left out: narrow the search with --map, --ptr or --min";
constexpr const char* kTablePastTheEnd = ": the table of pointers runs past the end of the file";
constexpr const char* kLeadsOutside = ": the pointer leads outside the file, with its value ";
constexpr const char* kBadEndian = "--endian must be 'le' or 'be'";
constexpr const char* kBadSplit = "--split takes pointers of 16 or 24 bits, their bytes in arrays of their own";
constexpr const char* kSplitArrays = "--split gives the high bytes' array for 16 bits, and HIGH,BANK for 24";

}  // namespace pointers

// What is wrong with free space or a string that moves, and what moved.
namespace relocation {

constexpr const char* kBadFree = "--free takes START-END, END past the last free byte, not ";
constexpr const char* kFreeOverlap = ": the free range overlaps another";
constexpr const char* kFreePastTheEnd = ": the free range runs past the end of the file";
constexpr const char* kFreeNotFill = ": the free range holds bytes other than ";
constexpr const char* kFreeNotFillAt = ", first at ";
constexpr const char* kStringInFree = ": the string lies in the free range ";
constexpr const char* kPointerPastTheEnd = ": the pointer runs past the end of the file, at ";
constexpr const char* kPointerElsewhere = ": the pointer at ";
constexpr const char* kPointerLeadsTo = " doesn't lead to the string; it leads to ";
constexpr const char* kOutside = "outside the file";
constexpr const char* kNoFreeSpace = ": the text needs ";
constexpr const char* kNoFreeSpaceEnd = " bytes, and no free space that its pointers reach has them";
constexpr const char* kKept = "kept ";
constexpr const char* kMoved = " strings in their rooms, moved ";
constexpr const char* kMovedBytes = " bytes)";
constexpr const char* kFree = "free ";
constexpr const char* kInBank = " in the bank at ";
constexpr const char* kUsed = " bytes used, ";
constexpr const char* kLeft = " left";

}  // namespace relocation

// What is wrong with a patch, after its name; and why one applies to no file
// or can't be made, after the file's name.
namespace patch {

constexpr const char* kNotAPatch = "not an IPS, UPS or BPS patch";
constexpr const char* kCutShort = "the patch is cut short";
constexpr const char* kDamaged = "the patch is damaged or cut short: its bytes have CRC32 ";
constexpr const char* kDamagedSays = ", and it says ";
constexpr const char* kNumberTooLarge = ": a number that doesn't fit in 64 bits";
constexpr const char* kAt = "at ";
constexpr const char* kOfThePatch = " of the patch";
constexpr const char* kIpsPast16MiB = ": an IPS record that runs past 16 MiB";
constexpr const char* kAfterEnd = ": bytes after the end mark";
constexpr const char* kPastBoth = ": a change past the end of both files";
constexpr const char* kPastOriginal = ": an action that reads past the end of the original";
constexpr const char* kPastResult = ": an action that writes past the end of the result";
constexpr const char* kOutsideOriginal = ": an action that copies from outside the original";
constexpr const char* kOutsideWritten = ": an action that copies from outside what is written";
constexpr const char* kShortResult = "the actions make ";
constexpr const char* kShortResultOf = " bytes of the ";
constexpr const char* kShortResultEnd = " the patch says";
constexpr const char* kPatchFor = "this patch is for a file of CRC32 ";
constexpr const char* kThisOne = " bytes; this one has CRC32 ";
constexpr const char* kAnd = " and ";
constexpr const char* kBytes = " bytes";
constexpr const char* kWithoutHeader = " without its first 512 bytes";
constexpr const char* kCopierHeader =
    ": it has a 512-byte copier header, and --strip-header applies the patch to it without the header";
constexpr const char* kAlreadyPatched = ": it is the file the patch makes";
constexpr const char* kResultCrc = "the result has CRC32 ";
constexpr const char* kResultCrcNot = ", not the ";
constexpr const char* kResultCrcEnd = " the patch makes: the patch is damaged";
constexpr const char* kIpsTooFar = "IPS can't hold a change past 16 MiB (at ";
constexpr const char* kIpsCut = "IPS can't cut a file to 16 MiB or more (to ";
constexpr const char* kUseBps = "): make a BPS patch";
constexpr const char* kNoMemory = "too large to hold in memory";

// What `patch info` shows.
constexpr const char* kFormat = "format: ";
constexpr const char* kOriginal = "original: ";
constexpr const char* kModified = "modified: ";
constexpr const char* kCutTo = "modified: cut to ";
constexpr const char* kCrcOfPatch = "patch: CRC32 ";
constexpr const char* kMetadata = "metadata: ";
constexpr const char* kChanged = "changed: ";
constexpr const char* kBytesCrc = " bytes, CRC32 ";

}  // namespace patch

// What the page answers when asked out of turn, or when its memory runs out.
namespace page {

constexpr const char* kLoadTableFirst = "load a table first";
constexpr const char* kNoSuchHit = "no such hit";
constexpr const char* kOutOfMemory =
    "the file is too big for this tab: the page holds the file and what it writes in 2 GiB at most";

}  // namespace page

}  // namespace glyphound::texts
