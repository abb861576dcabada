// The commands' command line: options, operands and help, the same for
// every command.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <functional>

#include "commands/command_options.hpp"
#include "commands/commands.hpp"
#include "dialogue/texts.hpp"

namespace glyphound::commands {
namespace {

namespace text = texts::command;

// The build gives the version, from the project's one place for it.
std::string versionText() { return std::string(text::kProgramName) + " " + GLYPHOUND_VERSION + "\n"; }

// Help's usage lines are the command's own synopsis, which says more than
// CLI11's generic one can.
class SynopsisFormatter : public CLI::Formatter {
public:
    explicit SynopsisFormatter(std::string synopsis) : synopsis_(std::move(synopsis)) {}
    std::string make_usage(const CLI::App*, std::string) const override { return synopsis_ + "\n"; }

private:
    std::string synopsis_;
};

std::unique_ptr<CLI::App> newApp(const std::string& name, const std::string& description,
                                  const std::string& synopsis) {
    auto app = std::make_unique<CLI::App>(description, std::string(text::kProgramName) + " " + name);
    app->formatter(std::make_shared<SynopsisFormatter>(synopsis));
    // A file name such as /tmp/game.rom is an operand on every system, never
    // an option in the Windows style.
    app->allow_windows_style_options(false);
    // Unknown options are left over rather than thrown, so that the message
    // can name them in the program's own words.
    app->allow_extras(true);
    app->set_version_flag("--version", versionText(), "Print the version and exit");
    app->get_formatter()->column_width(24);
    return app;
}

// An option that takes one value keeps the last one given, so that the
// library lets a repeat through for the check that names it.
CLI::Option* single(CLI::Option* option) { return option->multi_option_policy(CLI::MultiOptionPolicy::TakeLast); }

void addSearchOptions(CLI::App& app, SearchOptions& options) {
    app.add_option("-e,--regexp", options.expressions, "A word to search for (repeatable)")
        ->allow_extra_args(false)->type_name("WORD");
    app.add_option("-f,--file", options.wordFiles, "Read the words from WORDFILE, one per line (repeatable)")
        ->allow_extra_args(false)->type_name("WORDFILE");
    app.add_flag("-r,--recursive", options.recursive, "Search the files under each directory, in name order");
    single(app.add_option("--case", options.caseMode,
                   "split: A-Z, a-z and 0-9 each at its own place, other characters match any byte;\n"
                   "ascii: every character at its ASCII distance (default: split)")->type_name("MODE"));
    single(app.add_option("--wildcard", options.wildcard, "The character that matches any unit (default: ?)")->type_name("C"));
    single(app.add_option("--width", options.width, "8, or 16le / 16be for 16-bit units in either byte order (default: 8)")
        ->type_name("W"));
    app.add_option("--order", options.orders,
                   "A class in the order of the game's font: hiragana, katakana, hiragana-basic, katakana-basic, "
                   "or a FILE with one order per line (repeatable)")
        ->allow_extra_args(false)->type_name("NAME|FILE");
    single(app.add_option("--match", options.match,
                          "relative: the characters' distances (default); order: their order in each class, with "
                          "--gaps glyphs more or fewer between any two; pattern: only which characters are equal"))
        ->type_name("MODE");
    single(app.add_option("--gaps", options.gaps, "With --match order, glyphs the font may lack or add between two "
                                                  "characters (0 to 16, default: 2)"))->type_name("K");
    app.add_option("operands", options.operands, "The word (unless -e or -f gives it), then the files; - is standard input")
        ->type_name("");
}

std::unique_ptr<CLI::App> findApp(FindOptions& options) {
    auto app = newApp("find", "Find words in files by relative search: every offset where the bytes keep the word's "
                              "character distances, modulo 256.",
                      "Usage: glyphound find [OPTIONS] WORD [FILE]...\n"
                      "   or: glyphound find [OPTIONS] -e WORD [-e WORD]... [FILE]...");
    addSearchOptions(*app, options.search);
    single(app->add_option("--table", options.table,
                           "Find the words as the entries of this table file spell them, instead of by relative "
                           "search"))->type_name("TABLE");
    app->add_flag("--json", options.json, "One JSON object per hit and line");
    app->footer("Exit status: 0 if something was found, 1 if nothing was, 2 on an error.");
    return app;
}

std::unique_ptr<CLI::App> tableApp(TableOptions& options) {
    auto app = newApp("table", "Write a table file (XX=c lines) from a search, or from the values given.",
                      "Usage: glyphound table [OPTIONS] -o OUT.tbl WORD FILE...\n"
                      "   or: glyphound table -o OUT.tbl [--A N] [--a N] [--0 N]");
    single(app->add_option("-o,--output", options.output, "The table file to write; - is standard output")
        ->required()->type_name("OUT.tbl"));
    single(app->add_option("--A", options.values[0], "The byte for 'A' (decimal, or hexadecimal with 0x)")->type_name("N"));
    single(app->add_option("--a", options.values[1], "The byte for 'a'")->type_name("N"));
    single(app->add_option("--0", options.values[2], "The byte for '0'")->type_name("N"));
    addSearchOptions(*app, options.search);
    app->footer("From a search, each class takes the value most hits gave.");
    return app;
}

std::unique_ptr<CLI::App> shiftApp(ShiftOptions& options) {
    auto app = newApp("shift", "Copy IN to OUT with every byte moved by the same amount, modulo 256.",
                      "Usage: glyphound shift [--back] (--A N | --by N) IN OUT");
    single(app->add_option("--A", options.letterA, "Move the byte N to 'A' (65), as the dialogue does")->type_name("N"));
    single(app->add_option("--by", options.by, "Add N to every byte (decimal, or hexadecimal with 0x)")->type_name("N"));
    app->add_flag("--back", options.back, "Move the other way, undoing a shift");
    app->add_option("files", options.operands, "IN and OUT; - is standard input or output")->type_name("");
    return app;
}

std::unique_ptr<CLI::App> guessApp(GuessOptions& options) {
    auto app = newApp("guess", "Guess where the alphabet sits, with no word given: rank the places of 'A' and 'a' by "
                               "how much English text the file holds under each.",
                      "Usage: glyphound guess [--width 8|16le|16be] [--top N] [--json] [FILE]...");
    single(app->add_option("--width", options.width, "8, or 16le / 16be for 16-bit units in either byte order (default: 8)")
        ->type_name("W"));
    single(app->add_option("--top", options.top, "Show the N best candidates (default: 5)")->type_name("N"));
    app->add_flag("--json", options.json, "One JSON object per candidate and line");
    app->add_option("files", options.operands, "The files, each guessed on its own; - or none is standard input")
        ->type_name("");
    app->footer("Each candidate: the values of 'A' and 'a', a score, the bytes of text it explains, and its three\n"
                "longest runs of text. Exit status: 0 if a candidate was found, 1 if nothing reads as text,\n"
                "2 on an error.");
    return app;
}

void addTableOption(CLI::App& app, std::string& table) {
    single(app.add_option("-t,--table", table, "The table file: HEX=text lines, /HEX end tokens, *HEX line breaks, "
                                                "$HEX=label,N control codes"))
        ->required()->type_name("TABLE");
}

void addPointerOptions(CLI::App& app, PointerOptions& options, bool withStride) {
    single(app.add_option("--map", options.map,
                          "How a pointer leads to an offset: linear[:BASE], nes, nes8, gb, snes-lorom, snes-hirom, "
                          "relative (default: linear)"))->type_name("MAP");
    single(app.add_option("--ptr", options.bits, "The pointer's width: 16, 24 or 32 bits (default: 16)"))->type_name("BITS");
    single(app.add_option("--endian", options.endian, "The pointer's byte order: le or be (default: le)"))->type_name("E");
    single(app.add_option("--split", options.split,
                          "A split table: where the array of high bytes starts, and for 24 bits the bank bytes' "
                          "(HIGH,BANK)"))->type_name("HIGH[,BANK]");
    if (withStride)
        single(app.add_option("--stride", options.stride, "From one pointer to the next, in bytes (default: the "
                                                          "pointer's width; 1 in a split table's arrays)"))->type_name("N");
}

std::unique_ptr<CLI::App> pointersApp(PointersOptions& options) {
    auto app = newApp("pointers", "Find the tables of pointers that lead to the strings of a file.",
                      "Usage: glyphound pointers [-t TABLE] [--map MAP|auto] [--ptr 16|24|32] [--endian le|be] "
                      "[--min N] [--to OFF]... [--json] FILE");
    single(app->add_option("-t,--table", options.table, "The table the strings read by (default: ASCII text)"))
        ->type_name("TABLE");
    addPointerOptions(*app, options.pointer, false);
    single(app->add_option("--min", options.fewest, "The fewest pointers in a row that make a table (default: 3)"))
        ->type_name("N");
    app->add_option("--to", options.targets, "A place pointers lead to, instead of the strings (repeatable)")
        ->allow_extra_args(false)->type_name("OFF");
    app->add_flag("--json", options.json, "One JSON object per table and line, the best first");
    app->add_option("file", options.operands, "The file")->type_name("");
    app->footer("Without --map, or with --map auto, every mapping is tried and ranked.\n"
                "Exit status: 0 if a table was found, 1 if none was, 2 on an error.");
    return app;
}

std::unique_ptr<CLI::App> dumpApp(DumpOptions& options) {
    auto app = newApp("dump", "Print the text a table reads in files: every run of at least --min bytes that reads as "
                              "text, or every byte of a range.",
                      "Usage: glyphound dump -t TABLE [--start OFF] [--end OFF] [--min N] [--json|--script] [FILE]...\n"
                      "   or: glyphound dump -t TABLE --pointers OFFSET:COUNT... [--map MAP] [--ptr BITS] [--endian E]\n"
                      "                      [--split HIGH[,BANK]] [--stride N] [--until-next] [--json|--script] FILE");
    addTableOption(*app, options.table);
    single(app->add_option("--start", options.start, "Read every byte from this offset (decimal, or hexadecimal with 0x)"))
        ->type_name("OFF");
    single(app->add_option("--end", options.end, "... up to this offset, which is not read"))->type_name("OFF");
    single(app->add_option("--min", options.minimum, "Without a range, the fewest bytes a string has (default: 4)"))
        ->type_name("N");
    app->add_flag("--json", options.json, "One JSON object per string and line");
    app->add_flag("--script", options.script, "Write a script to edit and insert: @0xOFFSET ROOM, then the text");
    single(app->add_option("-o,--output", options.output, "Write to this file instead of standard output"))
        ->type_name("FILE");
    app->add_flag("-r,--recursive", options.recursive, "Read the files under each directory, in name order");
    app->add_option("--pointers", options.pointers, "The strings a table of pointers leads to, in its order: where "
                                                    "its first pointer is stored, and how many (repeatable)")
        ->allow_extra_args(false)->type_name("OFFSET:COUNT");
    addPointerOptions(*app, options.pointer, true);
    app->add_flag("--until-next", options.untilNext, "With --pointers, each string up to the next one a pointer "
                                                     "leads to, for games without end tokens");
    app->add_option("files", options.files, "The files; none or - is standard input")->type_name("");
    app->footer("Exit status: 0 if a string was printed, 1 if none was, 2 on an error.");
    return app;
}

std::unique_ptr<CLI::App> encodeApp(EncodeOptions& options) {
    auto app = newApp("encode", "Print the shortest bytes that the table reads as each TEXT; \\n is a line break, "
                                "<$hh> a raw byte.",
                      "Usage: glyphound encode -t TABLE [--end] [-o FILE] TEXT...");
    addTableOption(*app, options.table);
    app->add_flag("--end", options.end, "End with the table's end token");
    single(app->add_option("-o,--output", options.output, "Write the raw bytes to this file instead"))
        ->type_name("FILE");
    app->add_option("texts", options.texts, "The texts")->type_name("");
    return app;
}

std::unique_ptr<CLI::App> insertApp(InsertOptions& options) {
    auto app = newApp("insert", "Copy IN to OUT with new text in place of strings, each in its room.",
                      "Usage: glyphound insert -t TABLE --at OFF [--room N] [--fill XX] [--patch PATCH] TEXT IN OUT\n"
                      "   or: glyphound insert -t TABLE --script FILE [--fill XX] [--free RANGE]... [--free-fill XX]\n"
                      "                            [--patch PATCH] IN OUT");
    addTableOption(*app, options.table);
    single(app->add_option("--at", options.at, "Put TEXT in place of the string at this offset"))->type_name("OFF");
    single(app->add_option("--room", options.room, "The room at --at, in bytes (default: the string there, its end "
                                                   "token included)"))->type_name("N");
    single(app->add_option("--script", options.script, "Put every string of a script that dump --script wrote"))
        ->type_name("FILE");
    single(app->add_option("--fill", options.fill, "The byte that fills a room after a shorter text's end token "
                                                   "(default: the end token's first byte)"))->type_name("XX");
    app->add_option("--free", options.free, "Free space for the strings of a script with #ptr lines that grew: "
                                            "START-END, END past its last byte (repeatable)")
        ->allow_extra_args(false)->type_name("RANGE");
    single(app->add_option("--free-fill", options.freeFill, "The byte free space holds, checked before it is used "
                                                            "(default: FF)"))->type_name("XX");
    single(app->add_option("--patch", options.patch, "Write the patch from IN to OUT to this file as well, in the "
                                                     "format its name ends in: .ips, .ups or .bps"))
        ->type_name("PATCH");
    app->add_option("operands", options.operands, "TEXT with --at, then IN and OUT; - is standard input or output")
        ->type_name("");
    return app;
}

std::unique_ptr<CLI::App> patchCreateApp(PatchCreateOptions& options) {
    auto app = newApp("patch create", "Write the patch that turns ORIGINAL into MODIFIED.",
                      "Usage: glyphound patch create [--format ips|ups|bps] [--metadata TEXT] ORIGINAL MODIFIED -o PATCH");
    single(app->add_option("--format", options.format, "ips, ups or bps (default: the one PATCH's name ends in)"))
        ->type_name("FORMAT");
    single(app->add_option("--metadata", options.metadata, "UTF-8 text that a BPS patch carries, such as its "
                                                           "author and version"))->type_name("TEXT");
    single(app->add_option("-o,--output", options.output, "The patch to write; - is standard output")
        ->required()->type_name("PATCH"));
    app->add_option("files", options.operands, "ORIGINAL and MODIFIED; - is standard input")->type_name("");
    app->footer("BPS and UPS carry the sizes and CRC32s of both files, and BPS copies what moved; IPS checks\n"
                "nothing and ends at 16 MiB.");
    return app;
}

std::unique_ptr<CLI::App> patchApplyApp(PatchApplyOptions& options) {
    auto app = newApp("patch apply", "Apply an IPS, UPS or BPS patch to ORIGINAL, into OUT.",
                      "Usage: glyphound patch apply [--force] [--strip-header] PATCH ORIGINAL -o OUT");
    app->add_flag("--force", options.force, "Apply a UPS or BPS patch to a file whose size or CRC32 is not the "
                                            "one it is for; the result is then not checked either");
    app->add_flag("--strip-header", options.stripHeader, "Apply it to ORIGINAL without its first 512 bytes, a "
                                                         "copier's header");
    single(app->add_option("-o,--output", options.output, "The patched file to write; - is standard output")
        ->required()->type_name("OUT"));
    app->add_option("files", options.operands, "PATCH and ORIGINAL; - is standard input")->type_name("");
    app->footer("A UPS patch applied to the file it makes gives back the original.");
    return app;
}

std::unique_ptr<CLI::App> patchInfoApp(PatchInfoOptions& options) {
    auto app = newApp("patch info", "Show a patch's format, the sizes and CRC32s of its files, its metadata, and "
                                    "how many bytes it changes.",
                      "Usage: glyphound patch info [--json] PATCH");
    app->add_flag("--json", options.json, "One JSON object");
    app->add_option("files", options.operands, "PATCH; - is standard input")->type_name("");
    return app;
}

std::unique_ptr<CLI::App> tilesApp(TilesOptions& options) {
    auto app = newApp("tiles", "Draw a file's bytes as 8x8 tiles in a PNG image, to see a font and draw up its table.",
                      "Usage: glyphound tiles --format FORMAT [--start OFF] [--count N] [--columns N] [--scale N] "
                      "[-t TABLE] -o OUT.png FILE");
    single(app->add_option("--format", options.format,
                           "1bpp; 2bpp-nes (planar: plane 0's 8 rows, then plane 1's); 2bpp-gb (the planes row "
                           "by row); 4bpp-snes (two Game Boy halves); 4bpp-gba (linear, the low nibble left)"))
        ->required()->type_name("FORMAT");
    single(app->add_option("--start", options.start, "The first tile's offset (default: 0)"))->type_name("OFF");
    single(app->add_option("--count", options.count, "How many tiles (default: all to the end)"))->type_name("N");
    single(app->add_option("--columns", options.columns, "Tiles to a row (default: 16)"))->type_name("N");
    single(app->add_option("--scale", options.scale, "Pixels to a tile's pixel, each way (default: 1)"))->type_name("N");
    single(app->add_option("-t,--table", options.table, "Draw under each tile the text this table gives its number"))
        ->type_name("TABLE");
    single(app->add_option("-o,--output", options.output, "The PNG file to write; - is standard output")
        ->required()->type_name("OUT.png"));
    app->add_option("file", options.operands, "The file; - is standard input")->type_name("");
    app->footer("Colour indices are grey levels spread evenly from black to white; the tiles are numbered from\n"
                "--start, 00 first, as a table's keys number them; a last row that isn't full is black.");
    return app;
}

std::unique_ptr<CLI::App> helpApp() {
    return newApp("help", "Commands:\n  find    find words by relative search, or through a table\n"
                          "  guess   guess the alphabet with no word given\n"
                          "  table   write a table file\n  dump    print the text a table reads in files\n"
                          "  encode  print the bytes a table spells a text with\n"
                          "  insert  put new text in a copy of a file\n"
                          "  pointers find the tables of pointers to a file's strings\n"
                          "  shift   shift every byte of a file\n"
                          "  patch   make, apply or show IPS, UPS and BPS patches\n"
                          "  tiles   draw a file's bytes as tiles in a PNG image\n"
                          "  help    show a command's help\n"
                          "With no argument or one (a file), glyphound asks its questions instead.",
                  "Usage: glyphound help COMMAND\n   or: glyphound COMMAND --help\n   or: glyphound help --version");
}

struct Command {
    const char* name;
    std::function<int(const std::vector<std::string>&, CommandIo&)> run;
    std::function<std::string()> help;
};

int printOut(CommandIo& io, const std::string& text) {
    io.requireStandardOutput();
    io.out().print(text);
    return kSuccess;
}

// The library's complaints, said the way the program's own messages are.
UsageError inOwnWords(const CLI::ParseError& error) {
    const std::string what = error.what();
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error))
        return UsageError(text::kOptionStart + what.substr(0, what.find(':')) + text::kNeedsValue);
    if (dynamic_cast<const CLI::RequiredError*>(&error)) return UsageError(text::kOptionStart + what);
    return UsageError(what);
}

// What the library let through for these checks: unknown options, and an
// option of one value given twice.
void checkParsed(const CLI::App& app) {
    const std::vector<std::string> extras = app.remaining();
    if (!extras.empty()) throw UsageError(text::kUnknownOption + extras.front());
    for (const CLI::Option* option : app.get_options())
        if (option->get_multi_option_policy() == CLI::MultiOptionPolicy::TakeLast && option->count() > 1)
            throw UsageError(text::kOptionStart + option->get_name() + text::kGivenTwice);
}

// Parses `words` with the command's own options and runs it.
template <typename Options, typename Build, typename Run>
int parseAndRun(const std::vector<std::string>& words, CommandIo& io, Build build, Run run) {
    Options options;
    auto app = build(options);
    std::vector<std::string> reversed(words.rbegin(), words.rend());
    try {
        app->parse(reversed);
    } catch (const CLI::CallForHelp&) {
        return printOut(io, app->help());
    } catch (const CLI::CallForVersion&) {
        return printOut(io, versionText());
    } catch (const CLI::ParseError& error) {
        throw inOwnWords(error);
    }
    checkParsed(*app);
    return run(options, io);
}

template <typename Options, typename Build>
std::string helpOf(Build build) {
    Options options;
    return build(options)->help();
}

template <typename Options>
Command commandOf(const char* name, std::unique_ptr<CLI::App> (*build)(Options&), int (*run)(const Options&, CommandIo&)) {
    return {name, [=](const auto& words, auto& io) { return parseAndRun<Options>(words, io, build, run); },
            [=] { return helpOf<Options>(build); }};
}

// "patch create", "patch apply" and "patch info": one command of three,
// whose help is all three's.
const std::vector<Command>& patchCommands() {
    static const std::vector<Command> list = {commandOf("create", patchCreateApp, runPatchCreate),
                                              commandOf("apply", patchApplyApp, runPatchApply),
                                              commandOf("info", patchInfoApp, runPatchInfo)};
    return list;
}

std::string patchHelp() {
    std::string help;
    for (const Command& command : patchCommands()) help += (help.empty() ? "" : "\n") + command.help();
    return help;
}

int runPatch(const std::vector<std::string>& words, CommandIo& io) {
    const std::string first = words.empty() ? "" : words.front();
    if (first == "--help" || first == "-h") return printOut(io, patchHelp());
    if (first == "--version") return printOut(io, versionText());
    for (const Command& command : patchCommands())
        if (first == command.name) return command.run({words.begin() + 1, words.end()}, io);
    throw UsageError(first.empty() ? text::kPatchCommands : text::kUnknownPatchCommand + first);
}

const std::vector<Command>& commandList() {
    static const std::vector<Command> list = {
        commandOf("find", findApp, runFind),       commandOf("table", tableApp, runTable),
        commandOf("dump", dumpApp, runDump),       commandOf("encode", encodeApp, runEncode),
        commandOf("insert", insertApp, runInsert), commandOf("shift", shiftApp, runShift),
        commandOf("guess", guessApp, runGuess),    commandOf("pointers", pointersApp, runPointers),
        {"patch", runPatch, patchHelp},
        commandOf("tiles", tilesApp, runTiles),
        {"help", nullptr, [] { return helpApp()->help(); }},
    };
    return list;
}

const Command* commandNamed(const std::string& name) {
    for (const Command& command : commandList())
        if (name == command.name) return &command;
    return nullptr;
}

// "help" alone or "help --help": the overview of the commands; "help
// COMMAND" or "help --version".
int runHelp(const std::vector<std::string>& words, CommandIo& io) {
    const std::string topic = words.empty() ? "--help" : words.front();
    const Command* command = topic == "--help" || topic == "-h" ? commandNamed("help") : commandNamed(topic);
    if (!command && topic != "--version") throw UsageError(text::kUnknownCommand + topic);
    if (words.size() > 1) throw UsageError(text::kUnexpectedOperand + words[1]);
    return printOut(io, command ? command->help() : versionText());
}

// One argument is the dialogue's file; these words alone ask for help or the
// version instead, unless a file has that name.
bool asksForHelp(const std::vector<std::string>& arguments, System& system) {
    if (arguments.size() != 2) return false;
    const std::string& word = arguments[1];
    return (word == "help" || word == "--help" || word == "--version") && !system.exists(word);
}

}  // namespace

bool isCommand(const std::vector<std::string>& arguments, System& system) {
    return (arguments.size() >= 3 && commandNamed(arguments[1]) != nullptr) || asksForHelp(arguments, system);
}

int runCommand(const std::vector<std::string>& arguments, System& system) {
    CommandIo io(system);
    // "glyphound --help" and "--version" are help's, as "help --help" is.
    const bool helpFlag = arguments[1].rfind("--", 0) == 0;
    const std::string name = helpFlag ? "help" : arguments[1];
    const std::vector<std::string> words(arguments.begin() + (helpFlag ? 1 : 2), arguments.end());
    int status = kError;
    try {
        const Command* command = commandNamed(name);
        status = command->run ? command->run(words, io) : runHelp(words, io);
    } catch (const UsageError& error) {
        io.progress().erase();
        io.err().print(std::string(text::kProgramName) + " " + name + ": " + error.what() + "\n" + text::kTry + name +
                       text::kTryEnd);
        return kError;
    } catch (const ReportedError&) {
        return kError;
    }
    if (!io.out().close()) {
        // A reader that went away asked for no more: the run ends quietly.
        if (!io.out().readerGone()) io.reportFile(text::kStandardOutput, io.out().failure());
        return kError;
    }
    return status;
}

}  // namespace glyphound::commands
