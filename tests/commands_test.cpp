// The commands' rules, one table row per command line: what each prints,
// returns and writes, on memory streams.
#include <gtest/gtest.h>

#include <random>
#include <thread>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#include <stb/stb_image.h>

#include "commands/command_io.hpp"
#include "commands/file_jobs.hpp"
#include "driver/driver.hpp"
#include "engine/crc32.hpp"
#include "engine/patch.hpp"
#include "engine/patch_bytes.hpp"
#include "memory_system.hpp"
#include "case_names.hpp"

namespace glyphound::testing {
namespace {

using namespace std::string_literals;
using std::string;

string hexDigit(int byte) {
    const char* digits = "0123456789ABCDEF";
    return {digits[(byte >> 4) & 15], digits[byte & 15]};
}

string moved(const string& bytes, int amount) {
    string out;
    for (char c : bytes) out += static_cast<char>(static_cast<unsigned char>(c) + amount);
    return out;
}

string utf16le(const string& ascii) {
    string out;
    for (char c : ascii) out += string{c, '\0'};
    return out;
}

// 'A' at 0x80 and 'a' at 0x10, as a game might put them; the text wraps past 0xFF.
const string kGame = "\x01\x02"s + moved("HELLO", 0x3F) + "\x00"s + moved("world", -0x51) + "\x03"s + moved("HELLO", 0x3F);

struct CommandRun {
    const char* what;
    std::vector<const char*> argv;
    string out, err;
    int status;
    std::map<string, string> written = {};  // files the run leaves, other than game.rom and words
    string typed = "";
    bool typingFails = false;  // standard input meets a read error at its end
};

const string kHelloHits = "0x00000002: HELLO  A=0x80  \"..HELLO.......HELLO\"\n"
                          "0x0000000E: HELLO  A=0x80  \"..HELLO.......HELLO\"\n";
string usageError(const string& command, const string& message) {
    return "glyphound " + command + ": " + message + "\nTry 'glyphound help " + command + "'.\n";
}
string jsonHit(int offset, const string& word, const string& values, const string& preview) {
    return "{\"file\":\"game.rom\",\"offset\":" + std::to_string(offset) + ",\"word\":\"" + word + "\",\"values\":{" +
           values + "},\"preview\":\"" + preview + "\"}\n";
}
const string kUpperPreview = "..HELLO.......HELLO", kLowerPreview = "........world......";
const string kUpperTable = "80=A\r\n81=B\r\n82=C\r\n83=D\r\n84=E\r\n85=F\r\n86=G\r\n87=H\r\n88=I\r\n89=J\r\n8A=K\r\n"
                           "8B=L\r\n8C=M\r\n8D=N\r\n8E=O\r\n8F=P\r\n90=Q\r\n91=R\r\n92=S\r\n93=T\r\n94=U\r\n95=V\r\n"
                           "96=W\r\n97=X\r\n98=Y\r\n99=Z\r\n";

// The game's letters, a line break at 00 and an end token at 03.
const string kTableAlone = usageError("find", "--table takes no --case, --width, --wildcard, --match, --gaps or --order");

string gameTable() {
    string table = "*00\n/03=<END>\n";
    for (char c = 'A'; c <= 'Z'; ++c) table += hexDigit(c + 0x3F) + "=" + c + "\n";
    for (char c = 'a'; c <= 'z'; ++c) table += hexDigit(c - 0x51) + "=" + c + "\n";
    return table;
}
const string kGameAfter = "\x01\x02"s + moved("HI", 0x3F) + "\x00"s + moved("you", -0x51) + string(6, '\x03') + moved("HELLO", 0x3F);

// Five strings, and the low and high bytes of the pointers to them in two arrays.
string splitRom() {
    string split(0x80, '\xff');
    split.replace(0x10, 5, "\x40\x46\x4c\x52\x58");
    split.replace(0x20, 5, string(5, '\0'));
    split.replace(0x40, 30, moved("HELLO", 0x3F) + "\x03" + moved("WORLD", 0x3F) + "\x03" + moved("AGAIN", 0x3F) + "\x03" +
                                moved("NORTH", 0x3F) + "\x03" + moved("SOUTH", 0x3F) + "\x03");
    return split;
}

const CommandRun kRuns[] = {
    {"find text with tally", {"glyphound", "find", "HELLO", "game.rom"},
     kHelloHits + "\nValues found:\n  A=0x80  2 hits\n", "", 0},
    {"find tallies the value of most hits first", {"glyphound", "find", "HELLO", "tally.rom"},
     "0x00000000: HELLO  A=0x7F  \"HELLO.IFMMP.IFMMP\"\n0x00000006: HELLO  A=0x80  \"GDKKN.HELLO.HELLO\"\n"
     "0x0000000C: HELLO  A=0x80  \"GDKKN.HELLO.HELLO\"\n\nValues found:\n  A=0x80  2 hits\n  A=0x7F  1 hit\n", "", 0},
    // An operand from the root is a file on every system, never an option
    // in the Windows style.
    {"a file named from the root", {"glyphound", "find", "HELLO", "/game.rom"},
     kHelloHits + "\nValues found:\n  A=0x80  2 hits\n", "", 0},
    {"json in offset then word order", {"glyphound", "find", "--json", "-e", "LLO", "-e", "HEL", "-e", "world", "game.rom"},
     jsonHit(2, "HEL", "\"A\":128", kUpperPreview) + jsonHit(4, "LLO", "\"A\":128", kUpperPreview) +
         jsonHit(8, "world", "\"a\":16", kLowerPreview) + jsonHit(14, "HEL", "\"A\":128", kUpperPreview) +
         jsonHit(16, "LLO", "\"A\":128", kUpperPreview), "", 0},
    {"classes apart, wrapped", {"glyphound", "find", "HELLO world", "game.rom"},
     "0x00000002: HELLO world  A=0x80 a=0x10  \"..HELLO.world.HELLO\"\n\nValues found:\n  A=0x80  1 hit\n"
     "  a=0x10  1 hit\n", "", 0},
    {"through a table with --case", {"glyphound", "find", "--table", "t.tbl", "--case", "ascii", "HI", "game.rom"}, "", kTableAlone, 2},
    {"through a table with --width", {"glyphound", "find", "--table", "t.tbl", "--width", "16le", "HI", "game.rom"}, "", kTableAlone, 2},
    {"through a table with --wildcard", {"glyphound", "find", "--table", "t.tbl", "--wildcard", "*", "HI", "game.rom"}, "", kTableAlone, 2},
    {"through a table with --match", {"glyphound", "find", "--table", "t.tbl", "--match", "order", "HI", "game.rom"}, "", kTableAlone, 2},
    {"through a table with --gaps", {"glyphound", "find", "--table", "t.tbl", "--gaps", "1", "HI", "game.rom"}, "", kTableAlone, 2},
    {"through a table with --order", {"glyphound", "find", "--table", "t.tbl", "--order", "hiragana", "HI", "game.rom"}, "", kTableAlone, 2},
    {"through a table, the context back to a byte no key holds", {"glyphound", "find", "--table", "t.tbl", "HELLO",
     "raw.rom"}, "0x00000019: HELLO  \".QRS..TUVHELLOWXYZ\\nKING\"\n", "", 0},
    {"ascii mode shows what lies below a space as a dot", {"glyphound", "find", "--case", "ascii", "HELLO", "edge.rom"},
     "0x00000001: HELLO  A=0x80  \".HELLO \"\n\nValues found:\n  A=0x80  1 hit\n", "", 0},
    {"ascii mode relates the classes", {"glyphound", "find", "--case", "ascii", "LO?wo", "game.rom"}, "", "", 1},
    {"wildcard of choice", {"glyphound", "find", "--wildcard", "*", "H*LL*", "-"},
     "0x00000002: H*LL*  A=0x80  \"..HELLO.......HELLO\"\n0x0000000E: H*LL*  A=0x80  \"..HELLO.......HELLO\"\n"
     "\nValues found:\n  A=0x80  2 hits\n", "", 0, {}, kGame},
    {"word file, files named", {"glyphound", "find", "-f", "words", "game.rom", "game.rom"},
     "game.rom:0x00000002: HELLO  A=0x80  \"..HELLO.......HELLO\"\ngame.rom:0x00000008: world  a=0x10  \"........world......\"\n"
     "game.rom:0x0000000E: HELLO  A=0x80  \"..HELLO.......HELLO\"\ngame.rom:0x00000002: HELLO  A=0x80  \"..HELLO.......HELLO\"\n"
     "game.rom:0x00000008: world  a=0x10  \"........world......\"\ngame.rom:0x0000000E: HELLO  A=0x80  \"..HELLO.......HELLO\"\n"
     "\nValues found:\n  A=0x80  4 hits\n  a=0x10  2 hits\n", "", 0},
    {"nothing found", {"glyphound", "find", "ABCDEF", "game.rom"}, "", "", 1},
    {"missing and unreadable files", {"glyphound", "find", "HELLO", "missing", "tie.rom", "bad.rom"},
     "tie.rom:0x00000000: HELLO  A=0x80  \"HELLOIFMMP\"\ntie.rom:0x00000005: HELLO  A=0x81  \"GDKKNHELLO\"\n"
     "bad.rom:0x00000002: HELLO  A=0x80  \"..HELLO.......HELLO\"\nbad.rom:0x0000000E: HELLO  A=0x80  \"..HELLO.......HELLO\"\n"
     "\nValues found:\n  A=0x80  3 hits\n  A=0x81  1 hit\n",
     "glyphound: missing: No such file or directory\nglyphound: bad.rom: Input/output error\n", 2},
    {"too few relations", {"glyphound", "find", "HIx", "game.rom"}, "",
     usageError("find", "word 'HIx' relates too few characters: give at least 3 of one class, or 2 of each of two"), 2},
    {"outside ASCII in ASCII mode", {"glyphound", "find", "--case", "ascii", "H\xc3\xa9LLO", "game.rom"}, "",
     usageError("find", "word 'H\xc3\xa9LLO' has a character outside ASCII"), 2},
    {"word files repeat words", {"glyphound", "find", "-e", "world", "-f", "words", "-f", "words", "game.rom"},
     "0x00000002: HELLO  A=0x80  \"..HELLO.......HELLO\"\n0x00000008: world  a=0x10  \"........world......\"\n"
     "0x0000000E: HELLO  A=0x80  \"..HELLO.......HELLO\"\n\nValues found:\n  A=0x80  2 hits\n  a=0x10  1 hit\n", "", 0},
    {"missing word file", {"glyphound", "find", "-f", "none", "game.rom"}, "", "glyphound: none: No such file or directory\n", 2},
    {"not UTF-8", {"glyphound", "find", "\x80HELLO", "game.rom"}, "", usageError("find", "word '\x80HELLO' is not UTF-8"), 2},
    {"unknown option", {"glyphound", "find", "--bogus", "HELLO"}, "", usageError("find", "unknown option: --bogus"), 2},
    {"guess: a read error after nothing text-like", {"glyphound", "guess", "game.rom", "bad.rom"}, "",
     "glyphound: bad.rom: Input/output error\n", 2},
    {"guess: too many candidates", {"glyphound", "guess", "--top", "101", "game.rom"}, "",
     usageError("guess", "--top must be from 1 to 100"), 2},
    {"option without its value", {"glyphound", "find", "HELLO", "--case"}, "", usageError("find", "option --case needs a value"), 2},
    {"option given twice", {"glyphound", "shift", "--by", "1", "--by", "2", "game.rom", "-"}, "",
     usageError("shift", "option --by is given more than once"), 2},
    {"unknown order", {"glyphound", "find", "--order", "kanji", "HELLO", "game.rom"}, "",
     usageError("find", "--order kanji: no such order or file; the built-in orders are hiragana, katakana, "
                        "hiragana-basic and katakana-basic"), 2},
    {"kana without an order", {"glyphound", "find", "さくら", "kana.bin"}, "",
     usageError("find", "word 'さくら' relates too few characters: give at least 3 of one class, or 2 of each of two; "
                        "characters such as 'さ' take a place only with --order"), 2},
    {"bad case", {"glyphound", "find", "--case", "upper", "HELLO"}, "", usageError("find", "--case must be 'split' or 'ascii'"), 2},
    {"one argument is a file", {"glyphound", "find"}, "", "glyphound: Can't open input file\r\n", 1},
    {"not a command", {"glyphound", "finder", "HELLO"}, "", "Usage: glyphound [file]\r\n", 1},
    {"unknown help", {"glyphound", "help", "finder"}, "", usageError("help", "unknown command: finder"), 2},
    {"table from values wraps and sorts", {"glyphound", "table", "-o", "new.tbl", "--0", "0xFE"}, "", "", 0,
     {{"new.tbl", "00=2\r\n01=3\r\n02=4\r\n03=5\r\n04=6\r\n05=7\r\n06=8\r\n07=9\r\nFE=0\r\nFF=1\r\n"}}},
    {"table from a search", {"glyphound", "table", "-o", "-", "HELLO", "game.rom", "tie.rom"}, kUpperTable, "", 0},
    {"table tie", {"glyphound", "table", "-o", "t.tbl", "HELLO", "tie.rom"}, "",
     usageError("table", "no single value for 'A': 0x80, 0x81 have 1 hits each"), 2},
    {"table keys collide", {"glyphound", "table", "-o", "t.tbl", "--A", "0x80", "--0", "0x99"}, "",
     usageError("table", "two characters would share key 99: 'Z' and '0'"), 2},
    {"table without a hit", {"glyphound", "table", "-o", "t.tbl", "ABCDEF", "game.rom"}, "", "", 1},
    {"table search and values", {"glyphound", "table", "-o", "t.tbl", "--A", "1", "HELLO", "game.rom"}, "",
     usageError("table", "give either a search or values with --A, --a and --0, not both"), 2},
    {"table to a file it may not write", {"glyphound", "table", "-o", "locked.tbl", "--A", "128"}, "",
     "glyphound: locked.tbl: Permission denied\n", 2},
    {"table value too big", {"glyphound", "table", "-o", "t.tbl", "--a", "256"}, "",
     usageError("table", "--a must be from 0 to 255"), 2},
    {"16-bit kana at an odd offset", {"glyphound", "find", "--width", "16be", "--order", "hiragana", "さくら", "kana.bin"},
     "0x00000001: さくら  ぁ=0x8140  \"さくら...\"\n\nValues found:\n  ぁ=0x8140  1 hit\n", "", 0},
    {"table from an order file, 16-bit big-endian",
     {"glyphound", "table", "-o", "-", "--width", "16be", "--order", "kana.txt", "さくら", "kana.bin"},
     "8140=さ\r\n8141=く\r\n8142=ら\r\n", "", 0},
    {"table keys in little-endian order", {"glyphound", "table", "-o", "-", "--width", "16le", "--0", "0x01FE"},
     "0002=2\r\n0102=3\r\n0202=4\r\n0302=5\r\n0402=6\r\n0502=7\r\n0602=8\r\n0702=9\r\nFE01=0\r\nFF01=1\r\n", "", 0},
    {"table keys wrap past 0xFFFF", {"glyphound", "table", "-o", "-", "--width", "16be", "--0", "0xFFFE"},
     "0000=2\r\n0001=3\r\n0002=4\r\n0003=5\r\n0004=6\r\n0005=7\r\n0006=8\r\n0007=9\r\nFFFE=0\r\nFFFF=1\r\n", "", 0},
    {"a character in two orders", {"glyphound", "find", "--order", "kana.txt", "--order", "two.txt", "さくら", "kana.bin"}, "",
     usageError("find", "two.txt: 'く' is in two orders"), 2},
    {"orders in ASCII mode", {"glyphound", "find", "--case", "ascii", "--order", "hiragana", "HELLO", "kana.bin"}, "",
     usageError("find", "--case ascii knows no --order"), 2},
    {"dump the text", {"glyphound", "dump", "-t", "t.tbl", "game.rom"},
     "0x00000002: HELLO\\nworld<END>\n0x0000000E: HELLO\n", "", 0},
    {"dump runs of four bytes and more", {"glyphound", "dump", "-t", "t.tbl", "-"}, "0x00000005: HELL\n", "", 0, {},
     "\x01"s + moved("HEL", 0x3F) + "\x01"s + moved("HELL", 0x3F)},
    {"dump as JSON", {"glyphound", "dump", "-t", "t.tbl", "--json", "--min", "6", "game.rom"},
     "{\"file\":\"game.rom\",\"offset\":2,\"length\":12,\"text\":\"HELLO\\nworld<END>\"}\n", "", 0},
    {"dump a range", {"glyphound", "dump", "-t", "t.tbl", "--start", "1", "--end", "0x9", "game.rom"},
     "0x00000001: <$02>HELLO\\nw\n", "", 0},
    {"dump a script", {"glyphound", "dump", "-t", "t.tbl", "--script", "-o", "s.txt", "game.rom"}, "", "", 0,
     {{"s.txt", "@0x00000002 12\n// HELLO\\nworld<END>\nHELLO\\nworld<END>\n@0x0000000E 5\n// HELLO\nHELLO\n"}}},
    {"dump past the end", {"glyphound", "dump", "-t", "t.tbl", "--start", "2", "--end", "100", "game.rom"}, "",
     "glyphound: game.rom: the range runs past the end of the file, at 19 bytes\n", 2},
    {"dump a range from a pipe past its end", {"glyphound", "dump", "-t", "t.tbl", "--end", "0x20", "-"},
     "0x00000000: <$01><$02>HELLO\\nworld<END>\n0x0000000E: HELLO\n",
     "glyphound: -: the range runs past the end of the file, at 19 bytes\n", 2, {}, kGame},
    {"dump with no bytes to a string", {"glyphound", "dump", "-t", "t.tbl", "--min", "0", "game.rom"}, "",
     usageError("dump", "--min must be 1 or more"), 2},
    {"find a raw byte through a table", {"glyphound", "find", "--table", "t.tbl", "<$02>HELLO\\nworld", "game.rom"},
     "0x00000001: <$02>HELLO\\nworld  \"..HELLO\\nworld<END>HELLO\"\n", "", 0},
    {"standard input twice", {"glyphound", "find", "HELLO", "-", "-"},
     "-:" + kHelloHits.substr(0, kHelloHits.find('\n') + 1) + "-:" + kHelloHits.substr(kHelloHits.find('\n') + 1) +
         "\nValues found:\n  A=0x80  2 hits\n", "", 0, {}, kGame},
    {"dump a range backwards", {"glyphound", "dump", "-t", "t.tbl", "--start", "9", "--end", "1", "game.rom"}, "",
     usageError("dump", "--end comes before --start"), 2},
    {"dump with a broken table", {"glyphound", "dump", "-t", "words", "game.rom"}, "",
     "glyphound: words:1: not a table entry: 'HELLO'\n", 2},
    {"find through a table", {"glyphound", "find", "--json", "--table", "t.tbl", "world", "game.rom"},
     "{\"file\":\"game.rom\",\"offset\":8,\"length\":5,\"word\":\"world\",\"preview\":"
     "\"..HELLO\\\\nworld<END>HELLO\"}\n", "", 0},
    {"find through a table what a dump reads", {"glyphound", "find", "--table", "dte.tbl", "-e", "AB", "-e", "@", "-e",
     "the castle", "-e", "e hero", "dte.rom"},
     "0x00000007: the castle  \".X.\xe3\x81\x82. the castle.the hero.\"\n"
     "0x00000011: e hero  \"X.\xe3\x81\x82. the castle.the hero.\"\n", "", 0},
    {"find through a table, 16 units around", {"glyphound", "find", "--table", "t.tbl", "KING", "hall.rom"},
     "0x0000001B: KING  \"THE.CASTLE..THE.KING.IS.WAITING.FOR.\"\n", "", 0},
    {"find through a table, 16 units in one run of text", {"glyphound", "find", "--table", "t.tbl", "HALL", "run.rom"},
     "0x00000017: HALL  \"NATIMEINTHEGREATHALLKINGSAID\"\n", "", 0},
    {"encode with an end", {"glyphound", "encode", "-t", "t.tbl", "--end", "HELLO\\nworld"},
     "87 84 8B 8B 8E 00 26 1E 21 1B 13 03\n", "", 0},
    {"encode: of two keys alike, the first", {"glyphound", "encode", "-t", "alike.tbl", "AB"}, "02 01\n", "", 0},
    {"encode raw bytes to standard output", {"glyphound", "encode", "-t", "t.tbl", "-o", "-", "HI"}, "\x87\x88", "", 0},
    {"dump no string of bytes that read as nothing", {"glyphound", "dump", "-t", "keep.tbl", "-"}, "0x00000006: AAAA\n",
     "", 0, {}, "\x00\x00\x00\x00\x00\x01\x41\x41\x41\x41"s},
    {"encode what no entry spells", {"glyphound", "encode", "-t", "t.tbl", "HELLO!"}, "",
     "glyphound: 'HELLO!': no entry spells '!', character 6\n", 2},
    {"encode what reads back as other text", {"glyphound", "encode", "-t", "dte.tbl", "AB"}, "",
     "glyphound: 'AB': the text can't be spelt so that it reads back: 41 42 reads as 'X'\n", 2},
    {"encode a control code without its parameters", {"glyphound", "encode", "-t", "dte.tbl", "a[col]<$01>"}, "",
     "glyphound: 'a[col]<$01>': control code '[col]' needs its 2 parameters after it, each as <$hh>, character 2\n", 2},
    {"insert a script as it was", {"glyphound", "insert", "-t", "t.tbl", "--script", "same.txt", "game.rom", "out.rom"},
     "", "", 0, {{"out.rom", kGame}}},
    {"insert an edited script", {"glyphound", "insert", "-t", "t.tbl", "--script", "edited.txt", "game.rom", "-"},
     kGameAfter, "", 0},
    {"insert at an offset, filled", {"glyphound", "insert", "-t", "t.tbl", "--at", "14", "--room", "5", "--fill", "0X20",
     "HI", "game.rom", "-"}, kGame.substr(0, 14) + moved("HI", 0x3F) + "\x03  ", "", 0},
    {"insert with a fill in hexadecimal", {"glyphound", "insert", "-t", "t.tbl", "--at", "14", "--room", "5", "--fill",
     "20", "HI", "game.rom", "-"}, kGame.substr(0, 14) + moved("HI", 0x3F) + "\x03  ", "", 0},
    {"insert where no string stands", {"glyphound", "insert", "-t", "t.tbl", "--at", "0", "HI", "game.rom", "out.rom"}, "",
     "glyphound: 0x00000000: no string stands at the offset\n", 2},
    {"dump a pointed string past the first 64 KiB", {"glyphound", "dump", "-t", "t.tbl", "--ptr", "32", "--pointers",
     "0:1", "far64k.rom"}, "0x00010004: HELLO<END>\n", "", 0},
    {"dump a string longer than a string may be", {"glyphound", "dump", "-t", "t.tbl", "long.rom"},
     "0x00000000: " + string(65536, 'A') + "\n0x00010000: " + string(2, 'A') + "\n", "", 0},
    {"guess in text", {"glyphound", "guess", "hall.rom"},
     "1. A=0x80  score 75.0  text 68 bytes\n   0x00000000: \"WELCOME TO THE CASTLE. THE KING IS WAITING FOR Y\"\n", "", 0},
    {"guess lower case alone where ASCII has it", {"glyphound", "guess", "--width", "16le", "hall16.rom"},
     "1. a=0x0061  score 75.0  text 136 bytes\n   0x00000000: \"welcome to the castle. the king is waiting for y\"\n",
     "", 0},
    {"guess capitals that fit several places", {"glyphound", "guess", "few.rom"},
     "1. a=0x31  score 97.1  text 90 bytes\n   the capitals seen fit more than one place of 'A'; only 'a' is given\n"
     "   0x00000001: \"elcome to the castle. friend. .erald is waiting \"\n", "", 0},
    {"guess capitals that fit several places, as JSON", {"glyphound", "guess", "--json", "few.rom"},
     "{\"file\":\"few.rom\",\"values\":{\"a\":49},\"note\":\"the capitals seen fit more than one place of 'A'; only "
     "'a' is given\",\"score\":97.1,\"text_bytes\":90,\"runs\":[{\"offset\":1,\"length\":90,\"preview\":\"elcome to "
     "the castle. friend. .erald is waiting \"}]}\n", "", 0},
    {"guess shows the three longest runs of four", {"glyphound", "guess", "runs.rom"},
     "1. A=0x80  score 99.8  text 92 bytes\n   0x00000026: \"THE KING IS WAITING FOR YOU\"\n"
     "   0x00000079: \"THE DRAGON IS IN THE CAVE\"\n   0x00000000: \"WELCOME TO THE CASTLE\"\n", "", 0},
    {"guess shows five alphabets unless asked", {"glyphound", "guess", "six.rom"},
     "1. A=0x10  score 22.6  text 19 bytes\n   0x00000015: \"THE KING IS WAITING\"\n"
     "2. A=0x30  score 22.6  text 19 bytes\n   0x0000002A: \"THE KING IS WAITING\"\n"
     "3. A=0x50  score 22.6  text 19 bytes\n   0x0000003F: \"THE KING IS WAITING\"\n"
     "4. A=0x80  score 22.6  text 19 bytes\n   0x00000000: \"THE KING IS WAITING\"\n"
     "5. A=0xA0  score 22.6  text 19 bytes\n   0x00000054: \"THE KING IS WAITING\"\n", "", 0},
    {"guess a menu behind a stray letter", {"glyphound", "guess", "menu.rom"},
     "1. A=0x80  score 15.0  text 42 bytes\n   0x00000002: \"LIVES.RESUME.EXIT MENU.EXIT MENU.LIVES.NEW\"\n", "", 0},
    {"insert what overflows", {"glyphound", "insert", "-t", "t.tbl", "--script", "long.txt", "game.rom", "out.rom"}, "",
     "glyphound: long.txt:2: 0x0000000E: the text overflows its room of 5 bytes by 5 bytes\n"
     "glyphound: long.txt:4: 0x00000100: the offset is past the end of the file\n", 2},
    {"insert into a room of one byte", {"glyphound", "insert", "-t", "t.tbl", "--at", "2", "--room", "1", "HI", "game.rom",
     "out.rom"}, "", "glyphound: 0x00000002: the text overflows its room of 1 byte by 1 byte\n", 2},
    {"insert to standard output, checked before a byte is written",
     {"glyphound", "insert", "-t", "t.tbl", "--script", "ends.txt", "game.rom", "-"}, "",
     "glyphound: ends.txt:2: 0x00000002: the text overflows its room of 12 bytes by 1 byte\n", 2},
    {"insert keeps the bytes of every string left as it was",
     {"glyphound", "insert", "-t", "keep.tbl", "--script", "keep.txt", "keep.rom", "-"},
     "\x00\xc1th\xf0\x05\x41\xff\x00tA\xff\x00"s, "", 0},
    {"insert keeps two-byte keys as they were", {"glyphound", "insert", "-t", "kana.tbl", "--script", "kana-script.txt",
     "kana.rom", "out.rom"}, "", "", 0, {{"out.rom", "\x00\xc1\x40\x81\x41\xff\xff\x00"s}}},
    {"a script with notes, blank lines and a text over two lines",
     {"glyphound", "insert", "-t", "t.tbl", "--script", "notes.txt", "game.rom", "-"}, kGameAfter, "", 0},
    {"insert what no entry spells", {"glyphound", "insert", "-t", "t.tbl", "--script", "bang.txt", "game.rom", "out.rom"}, "",
     "glyphound: bang.txt:2: 0x0000000E: no entry spells '!', character 6\n", 2},
    {"insert by a broken script", {"glyphound", "insert", "-t", "t.tbl", "--script", "words", "game.rom", "out.rom"}, "",
     "glyphound: words:1: not a line '@0xOFFSET ROOM'\n", 2},
    {"find by order, three glyphs too many", {"glyphound", "find", "--match", "order", "HELLO", "far.rom"}, "", "", 1},
    {"find by order, three glyphs too many, with --gaps 3", {"glyphound", "find", "--match", "order", "--gaps", "3",
     "HELLO", "far.rom"},
     "0x00000001: HELLO  H=0x8A E=0x84 L=0x8E O=0x91  \".HELLO\"\n\nValues found:\n  H=0x8A  1 hit\n  E=0x84  1 hit\n"
     "  L=0x8E  1 hit\n  O=0x91  1 hit\n", "", 0},
    {"find by order, a letter missing", {"glyphound", "find", "--match", "order", "HELLO", "gap.rom"},
     "0x00000001: HELLO  H=0x86 E=0x84 L=0x8A O=0x8D  \".HELLO\"\n\nValues found:\n  H=0x86  1 hit\n  E=0x84  1 hit\n"
     "  L=0x8A  1 hit\n  O=0x8D  1 hit\n", "", 0},
    {"find by pattern, as JSON", {"glyphound", "find", "--json", "--match", "pattern", "HELLO WORLD", "mixed.rom"},
     "{\"file\":\"mixed.rom\",\"offset\":0,\"word\":\"HELLO WORLD\",\"units\":{\"H\":16,\"E\":49,\"L\":7,"
     "\"O\":34,\" \":64,\"W\":5,\"R\":17,\"D\":48},\"preview\":\"HELLO WORLD\"}\n", "", 0},
    {"table by order", {"glyphound", "table", "--match", "order", "-o", "-", "HELLO", "gap.rom"},
     "84=E\r\n86=H\r\n8A=L\r\n8D=O\r\n", "", 0},
    {"table by pattern", {"glyphound", "table", "--match", "pattern", "-o", "-", "HELLO WORLD", "mixed.rom"},
     "05=W\r\n07=L\r\n10=H\r\n11=R\r\n22=O\r\n30=D\r\n31=E\r\n40= \r\n", "", 0},
    {"table by pattern, one unit twice", {"glyphound", "table", "--match", "pattern", "-o", "-", "-e", "ABABAB", "-e",
     "CCDCCD", "twice.rom"}, "", usageError("table", "two characters would share key 01: 'A' and 'C'"), 2},
    {"a pattern with too few repeats", {"glyphound", "find", "--match", "pattern", "HELLO", "mixed.rom"}, "",
     usageError("find", "word 'HELLO' repeats too few characters for --match pattern: give at least 6 characters, with 3 "
                        "repeats of characters met before"), 2},
    {"ASCII by order", {"glyphound", "find", "--match", "order", "--case", "ascii", "HELLO", "gap.rom"}, "",
     usageError("find", "--case ascii goes only with --match relative"), 2},
    {"gaps without order", {"glyphound", "find", "--gaps", "1", "HELLO", "gap.rom"}, "",
     usageError("find", "--gaps goes with --match order"), 2},
    {"shift by A", {"glyphound", "shift", "--A", "0x80", "game.rom", "out.bin"}, "", "", 0,
     {{"out.bin", moved(kGame, -0x3F)}}},
    {"shift with 'A' at the top", {"glyphound", "shift", "--A", "255", "game.rom", "out.bin"}, "", "", 0,
     {{"out.bin", moved(kGame, 65 - 255)}}},
    {"shift back through standard streams", {"glyphound", "shift", "--back", "--by", "-3", "-", "-"},
     moved(kGame, 3), "", 0, {}, kGame},
    {"shift with 'A' past the top", {"glyphound", "shift", "--A", "256", "game.rom", "out.bin"}, "",
     usageError("shift", "--A must be from 0 to 255"), 2},
    {"shift by no number", {"glyphound", "shift", "--by", "0x", "game.rom", "-"}, "",
     usageError("shift", "--by must be a number: decimal, or hexadecimal with 0x"), 2},
    {"shift of nothing", {"glyphound", "shift", "--by", "0x100", "game.rom", "out.bin"}, "",
     usageError("shift", "the amount moves no byte (it is 0 modulo 256)"), 2},
    {"shift read error", {"glyphound", "shift", "--by", "1", "bad.rom", "out.bin"}, "",
     "glyphound: bad.rom: Input/output error\n", 2},
    {"tiles in a format of no console", {"glyphound", "tiles", "--format", "3bpp", "-o", "t.png", "game.rom"}, "",
     usageError("tiles", "--format must be 1bpp, 2bpp-nes, 2bpp-gb, 4bpp-snes or 4bpp-gba"), 2},
    {"tiles from past the last whole tile", {"glyphound", "tiles", "--format", "1bpp", "--start", "16", "-o", "t.png",
     "game.rom"}, "", "glyphound: game.rom: no whole tile from --start on\n", 2},
    {"shift needs two files", {"glyphound", "shift", "--by", "1", "game.rom"}, "",
     usageError("shift", "give an input file and an output file"), 2},
    {"patch create by the name's extension", {"glyphound", "patch", "create", "abc.rom", "xyz.rom", "-o", "new.ips"}, "",
     "", 0, {{"new.ips", "PATCH\x00\x00\x02\x00\x03xyzEOF"s}}},
    {"patch create without a format", {"glyphound", "patch", "create", "abc.rom", "xyz.rom", "-o", "new.pat"}, "",
     usageError("patch", "new.pat: give --format, or a name that ends in .ips, .ups or .bps"), 2},
    {"patch apply", {"glyphound", "patch", "apply", "p.bps", "abc.rom", "-o", "out.rom"}, "", "", 0,
     {{"out.rom", "ABxyzFGHIJ"}}},
    {"patch create from a file cut short as it was read", {"glyphound", "patch", "create", "cut.rom", "xyz.rom", "-o",
     "new.ips"}, "", "glyphound: cut.rom: File shrank while it was read\n", 2},
    {"patch apply to a file cut short as it was read", {"glyphound", "patch", "apply", "p.bps", "cut.rom", "-o",
     "out.rom"}, "", "glyphound: cut.rom: File shrank while it was read\n", 2},
    {"patch apply of a patch cut short as it was read", {"glyphound", "patch", "apply", "cut.bps", "abc.rom", "-o",
     "out.rom"}, "", "glyphound: cut.bps: File shrank while it was read\n", 2},
    {"patch info of a patch cut short as it was read", {"glyphound", "patch", "info", "cut.bps"}, "",
     "glyphound: cut.bps: File shrank while it was read\n", 2},
    {"patch apply without the copier header", {"glyphound", "patch", "apply", "--strip-header", "p.bps", "head.rom", "-o",
     "-"}, "ABxyzFGHIJ", "", 0},
    {"insert a string of a split table where there is room", {"glyphound", "insert", "-t", "t.tbl", "--script",
     "split.txt", "--free", "0x60-0x80", "split.rom", "out.rom"}, "",
     "glyphound: kept 0 strings in their rooms, moved 1 (11 bytes)\n"
     "glyphound: free 0x00000060-0x00000080 in the bank at 0x00004000: 11 bytes used, 21 left\n", 0,
     {{"out.rom", splitRom().replace(0x10, 1, "\x60").replace(0x40, 5, string(5, '\x03'))
                      .replace(0x60, 11, moved("HELLOTHERE", 0x3F) + "\x03")}}},
    {"insert no string across the end of a LoROM bank", {"glyphound", "insert", "-t", "t.tbl", "--script", "lorom.txt",
     "--free", "0x7FF8-0x8010", "lorom.rom", "out.rom"}, "",
     "glyphound: lorom.txt:4: 0x00000100: the text needs 11 bytes, and no free space that its pointers reach has them\n", 2},
    {"pointers in two arrays", {"glyphound", "pointers", "-t", "t.tbl", "--map", "gb", "split.rom"},
     "0x00000010: 5 pointers, stride 1, gb 16 le split 0x00000020, 5 to string starts, 0 inside\n", "", 0},
    {"patch info in words", {"glyphound", "patch", "info", "signed.bps"},
     "format: BPS\noriginal: 10 bytes, CRC32 0x321E6D05\nmodified: 10 bytes, CRC32 0xD62153C4\npatch: CRC32 0x0CD901EB\n"
     "metadata: by Hans\nchanged: 5 bytes\n", "", 0},
    {"patch info of IPS records that overlap", {"glyphound", "patch", "info", "two.ips"},
     "format: IPS\nchanged: 6 bytes\n", "", 0},
    {"patch info as JSON", {"glyphound", "patch", "info", "--json", "p.bps"},
     "{\"file\":\"p.bps\",\"format\":\"BPS\",\"original\":{\"size\":10,\"crc32\":840854789},\"modified\":{\"size\":10,"
     "\"crc32\":3592508356},\"cut_to\":null,\"patch_crc32\":2389479751,\"metadata\":\"\",\"changed_bytes\":3}\n", "", 0},
    {"insert writes its patch too", {"glyphound", "insert", "-t", "t.tbl", "--at", "14", "--room", "5", "--fill", "20",
     "--patch", "out.ips", "HI", "game.rom", "out.rom"}, "", "", 0,
     {{"out.rom", kGame.substr(0, 14) + moved("HI", 0x3F) + "\x03  "}, {"out.ips", "PATCH\x00\x00\x0f\x00\x04\x88\x03  EOF"s}}},
    {"insert with its patch, a read error", {"glyphound", "insert", "-t", "t.tbl", "--at", "14", "--room", "5", "--patch",
     "out.ips", "HI", "bad.rom", "out.rom"}, "", "glyphound: bad.rom: Input/output error\n", 2},
    {"insert, a read error", {"glyphound", "insert", "-t", "t.tbl", "--at", "14", "--room", "5",
     "HI", "bad.rom", "out.rom"}, "", "glyphound: bad.rom: Input/output error\n", 2},
    {"insert to standard output, a read error", {"glyphound", "insert", "-t", "t.tbl", "--at", "14", "--room", "5",
     "HI", "bad.rom", "-"}, "", "glyphound: bad.rom: Input/output error\n", 2},
    {"patch apply to standard input that fails", {"glyphound", "patch", "apply", "p.bps", "-", "-o", "out.rom"}, "",
     "glyphound: -: Input/output error\n", 2, {}, "ABCDEFGHIJ", true},
    {"patch apply to standard input", {"glyphound", "patch", "apply", "p.bps", "-", "-o", "-"}, "ABxyzFGHIJ", "", 0, {},
     "ABCDEFGHIJ"},
    {"a patch for another file", {"glyphound", "patch", "apply", "p.bps", "game.rom", "-o", "out.rom"}, "",
     "glyphound: game.rom: this patch is for a file of CRC32 0x321E6D05 and 10 bytes; this one has CRC32 0x7105720E and "
     "19 bytes\n", 2},
    {"a patch for another file, to standard output", {"glyphound", "patch", "apply", "long.bps", "other.rom", "-o", "-"},
     "", "glyphound: other.rom: this patch is for a file of CRC32 0x206A12B6 and 307200 bytes; this one has CRC32 "
     "0xB963430C and 307200 bytes\n", 2},
    {"a patch applied to the file it makes", {"glyphound", "patch", "apply", "p.bps", "xyz.rom", "-o", "out.rom"}, "",
     "glyphound: xyz.rom: this patch is for a file of CRC32 0x321E6D05 and 10 bytes; this one has CRC32 0xD62153C4 and "
     "10 bytes: it is the file the patch makes\n", 2},
    {"a file with a copier header", {"glyphound", "patch", "apply", "p.bps", "head.rom", "-o", "out.rom"}, "",
     "glyphound: head.rom: this patch is for a file of CRC32 0x321E6D05 and 10 bytes; this one has CRC32 0xE1D38B3E and "
     "522 bytes: it has a 512-byte copier header, and --strip-header applies the patch to it without the header\n", 2},
    {"a patch cut short", {"glyphound", "patch", "apply", "cut.ips", "abc.rom", "-o", "out.rom"}, "",
     "glyphound: cut.ips: the patch is cut short\n", 2},
    {"no patch", {"glyphound", "patch", "apply", "words", "abc.rom", "-o", "out.rom"}, "",
     "glyphound: words: not an IPS, UPS or BPS patch\n", 2},
    {"a patch whose CRC32 is wrong", {"glyphound", "patch", "apply", "crc.bps", "abc.rom", "-o", "out.rom"}, "",
     "glyphound: crc.bps: the patch is damaged or cut short: its bytes have CRC32 0x8E6C9147, and it says 0x8F6C9147\n", 2},
    {"an action past the original's end", {"glyphound", "patch", "apply", "past.bps", "abc.rom", "-o", "out.rom"}, "",
     "glyphound: past.bps: at 0x00000007 of the patch: an action that reads past the end of the original\n", 2},
    {"a number past 64 bits", {"glyphound", "patch", "info", "over.ups"}, "",
     "glyphound: over.ups: at 0x00000004 of the patch: a number that doesn't fit in 64 bits\n", 2},
    {"an IPS record past 16 MiB", {"glyphound", "patch", "apply", "far.ips", "abc.rom", "-o", "out.rom"}, "",
     "glyphound: far.ips: at 0x00000005 of the patch: an IPS record that runs past 16 MiB\n", 2},
};

void PrintTo(const CommandRun& run, std::ostream* out) { *out << run.what; }

class Commands : public ::testing::TestWithParam<CommandRun> {};

TEST_P(Commands, PrintReturnAndWriteExactly) {
    const CommandRun& run = GetParam();
    MemorySystem system(run.typed);
    system.files["game.rom"] = std::make_shared<string>(kGame);
    system.files["/game.rom"] = std::make_shared<string>(kGame);
    system.files["tally.rom"] =
        std::make_shared<string>(moved("HELLO", 0x3E) + "\x01" + moved("HELLO", 0x3F) + "\x01" + moved("HELLO", 0x3F));
    system.files["words"] = std::make_shared<string>("HELLO\r\n \t\r\n\r\nworld\n");
    system.files["bad.rom"] = std::make_shared<string>(kGame);
    system.files["tie.rom"] = std::make_shared<string>(moved("HELLO", 0x3F) + moved("HELLO", 0x40));
    system.files["kana.bin"] = std::make_shared<string>("\x00\x81\x54\x81\x4E\x81\x88\x00\x81\x40\x81\x41\x81\x42"s);
    system.files["kana.txt"] = std::make_shared<string>("さ く ら\r\n\n");
    system.files["two.txt"] = std::make_shared<string>("あ\nくい\n");
    system.files["t.tbl"] = std::make_shared<string>(gameTable());
    system.unwritable.insert("locked.tbl");
    system.files["dte.tbl"] = std::make_shared<string>(
        "41=A\n42=B\n4142=X\n40=@\n8140=\xe3\x81\x82\n90= the\n91=he\n20= \n61=a\n63=c\n65=e\n6C=l\n6F=o\n72=r\n"
        "73=s\n74=t\n$F0=[col],2\n");
    system.files["dte.rom"] = std::make_shared<string>("\x01\x41\x42\x01\x81\x40\x01\x90 castle\x01\x74\x91 \x91ro\x01");
    system.files["keep.tbl"] = std::make_shared<string>("41=A\nC1=A\n74=t\n68=h\n80=th\n$F0=[c],1\n/FF=<END>\n00=\n");
    system.files["keep.rom"] = std::make_shared<string>("\x00\xc1th\xf0\x05\x41\xff\x00th\xff\x00"s);
    system.files["keep.txt"] = std::make_shared<string>("@1 7\nAth[c]<$05>A<END>\n@9 3\n// th<END>\ntA<END>\n");
    system.files["bang.txt"] = std::make_shared<string>("@0xE 5\nHELLO!\n");
    system.files["kana.tbl"] = std::make_shared<string>("8140=\xe3\x81\x82\n8141=\xe3\x81\x84\nC140=\xe3\x81\x82\n/FFFF=<END>\n");
    system.files["kana.rom"] = std::make_shared<string>("\x00\xc1\x40\x81\x41\xff\xff\x00"s);
    system.files["kana-script.txt"] = std::make_shared<string>("@1 6\n\xe3\x81\x82\xe3\x81\x84<END>\n");
    system.files["ends.txt"] = std::make_shared<string>("@0x00000002 12\nHELLO\\nworlds\n");
    system.files["notes.txt"] =
        std::make_shared<string>("// chapter 1\r\n\r\n@0x00000002 12 \t\r\n// HELLO\\nworld<END>\r\nHI\\n\r\nyou\r\n");
    system.files["alike.tbl"] = std::make_shared<string>("02=A\n01=B\n03=A\n04=B\n");
    system.files["same.txt"] = std::make_shared<string>("@0x00000002 5\nHELLO\n\n@14 5\nHELLO\n");
    system.files["edited.txt"] = std::make_shared<string>("@0x00000002 12\r\nHI\\nyou\r\n");
    system.files["long.txt"] = std::make_shared<string>("@0xE 5\nHELLOWORLD\n@0x100 5\nHI\n");
    // Text with bytes no key holds (0x50) a few letters before HELLO.
    system.files["raw.rom"] = std::make_shared<string>(moved("ABCDEFGHIJKLMNOP", 0x3F) + "\x50" + moved("QRS", 0x3F) +
                                                       "\x50\x50" + moved("TUVHELLOWXYZ", 0x3F) + "\x00"s + moved("KING", 0x3F));
    system.files["edge.rom"] = std::make_shared<string>(moved("\x1f" "HELLO ", 0x3F));
    system.files["gap.rom"] = std::make_shared<string>("\x01\x86\x84\x8a\x8a\x8d");
    system.files["far.rom"] = std::make_shared<string>("\x01\x8a\x84\x8e\x8e\x91");
    system.files["mixed.rom"] = std::make_shared<string>("\x10\x31\x07\x07\x22\x40\x05\x22\x11\x07\x30");
    system.files["twice.rom"] = std::make_shared<string>("\x01\x02\x01\x02\x01\x02\x55\x01\x01\x07\x01\x01\x07");
    // A string longer than a string may be, whose last piece is shorter
    // than the shortest string a dump prints.
    system.files["long.rom"] = std::make_shared<string>(65538, '\x80');
    // A 32-bit pointer at 0 to a string at 0x10004.
    system.files["far64k.rom"] =
        std::make_shared<string>("\x04\x00\x01\x00"s + string(0x10000, '\0') + moved("HELLO", 0x3F) + "\x03");
    system.files["run.rom"] = std::make_shared<string>(moved("ONCEUPONATIMEINTHEGREATHALLKINGSAID", 63));
    system.files["hall.rom"] =
        std::make_shared<string>(moved("WELCOME TO THE CASTLE. THE KING IS WAITING FOR YOU IN THE GREAT HALL.", 63));
    system.files["hall16.rom"] = std::make_shared<string>(
        utf16le("welcome to the castle. the king is waiting for you in the great hall."));
    system.files["few.rom"] = std::make_shared<string>(
        moved("Welcome to the castle, friend. Gerald is waiting for you in the great hall. Kings rest here.", -0x30));
    system.files["menu.rom"] = std::make_shared<string>(moved("Q@LIVES@RESUME@EXIT MENU@EXIT MENU@LIVES@NEW GAME@", 63));
    string six;  // one sentence in six alphabets
    for (const int shift : {63, -49, -17, 15, 95, 127}) six += moved("THE KING IS WAITING. ", shift);
    system.files["six.rom"] = std::make_shared<string>(six);
    string runs;
    for (const char* sentence : {"WELCOME TO THE CASTLE.", "THE KING IS WAITING FOR YOU.", "TAKE THIS SWORD AND GO.",
                                 "THE DRAGON IS IN THE CAVE."})
        runs += moved(sentence, 63) + string(4, '\xf0') + string(4, '\xf1') + string(4, '\xf2') + string(4, '\xf3');
    system.files["runs.rom"] = std::make_shared<string>(runs);
    system.files["abc.rom"] = std::make_shared<string>("ABCDEFGHIJ");
    system.files["cut.rom"] = std::make_shared<string>("ABCDEFGHIJ");
    system.cutShort.insert("cut.rom");
    system.files["xyz.rom"] = std::make_shared<string>("ABxyzFGHIJ");
    system.files["head.rom"] = std::make_shared<string>(string(512, '\0') + "ABCDEFGHIJ");
    // By hand, as in tests/patch_test.cpp: ABCDEFGHIJ to ABxyzFGHIJ, and what is wrong with it.
    const string bps = "BPS1\x8a\x8a\x80\x84\x89xyz\x90\x05\x6d\x1e\x32\xc4\x53\x21\xd6\x47\x91\x6c\x8e"s;
    system.files["p.bps"] = std::make_shared<string>(bps);
    system.files["cut.bps"] = std::make_shared<string>(bps);
    system.cutShort.insert("cut.bps");
    // A result longer than an output's block, which a stream would show as it is made.
    const string longRom = string(300 << 10, 'a');
    system.files["long.bps"] =
        std::make_shared<string>(makePatch(PatchFormat::Bps, PatchFile(longRom), PatchFile("b" + longRom.substr(1))));
    system.files["other.rom"] = std::make_shared<string>(longRom.substr(1) + "b");
    system.files["split.rom"] = std::make_shared<string>(splitRom());
    // A LoROM bank: a 24-bit pointer at 0x40 to HI at 0x100, and free bytes
    // from 0x7FF8 on, across the end of the bank at 0x8000.
    string lorom(0x10000, '\0');
    lorom.replace(0x40, 3, "\x00\x81\x80"s).replace(0x100, 3, moved("HI", 0x3F) + "\x03").replace(0x7FF8, 0x18, 0x18, '\xff');
    system.files["lorom.rom"] = std::make_shared<string>(lorom);
    system.files["lorom.txt"] =
        std::make_shared<string>("#pointers snes-lorom 24 le\n@0x00000100 3\n#ptr 0x00000040\nHELLOTHERE<END>\n");
    system.files["split.txt"] =
        std::make_shared<string>("#pointers gb 16 le split\n@0x00000040 6\n#ptr 0x00000010:0x00000020\nHELLOTHERE<END>\n");
    system.files["signed.bps"] =
        std::make_shared<string>(makePatch(PatchFormat::Bps, PatchFile("ABCDEFGHIJ"), PatchFile("ABxyzFGHIJ"), "by Hans"));
    system.files["crc.bps"] = std::make_shared<string>(bps.substr(0, bps.size() - 1) + "\x8f");
    system.files["past.bps"] =
        std::make_shared<string>("BPS1\x8a\x94\x80\xcc\x05\x6d\x1e\x32\x47\x42\xad\x27\xb1\xbf\x73\x9a"s);
    system.files["over.ups"] = std::make_shared<string>(
        "UPS1" + string(10, '\x7f') + "\x00\x80\x8a\x05\x6d\x1e\x32\x05\x6d\x1e\x32\xfd\x40\xe0\x72"s);
    // Three bytes, then a run of four from the third on: six bytes changed.
    system.files["two.ips"] = std::make_shared<string>("PATCH\x00\x00\x00\x00\x03" "abc\x00\x00\x02\x00\x00\x00\x04zEOF"s);
    system.files["cut.ips"] = std::make_shared<string>("PATCH\x00\x00\x01\x00\x05" "ab"s);
    system.files["far.ips"] = std::make_shared<string>("PATCH\xff\xff\xff\x00\x02" "abEOF"s);
    system.unreadable["bad.rom"] = SIZE_MAX;
    if (run.typingFails) system.typedFailsAt = SIZE_MAX;
    std::map<string, string> written;
    std::set<string> inputs;
    for (const auto& file : system.files) inputs.insert(file.first);
    EXPECT_EQ(runGlyphound(static_cast<int>(run.argv.size()), run.argv.data(), system), run.status);
    EXPECT_EQ(*system.out, run.out);
    EXPECT_EQ(*system.err, run.err);
    for (const auto& [name, content] : system.files)
        if (!inputs.count(name)) written[name] = *content;
    EXPECT_EQ(written, run.written);
}

INSTANTIATE_TEST_SUITE_P(Lines, Commands, ::testing::ValuesIn(kRuns),
                         [](const auto& info) { return caseNameOf(info.param.what); });

// Colour indices, one digit a pixel, 64 a tile.
using Drawn = std::vector<string>;

// Tiles of two bits a pixel put into the NES's planes by hand.
string nesTiles(const Drawn& tiles) {
    string bytes;
    for (const string& tile : tiles) {
        string planes(16, '\0');
        for (std::size_t at = 0; at < 64; ++at)
            for (int plane = 0; plane < 2; ++plane)
                if ((tile[at] - '0') >> plane & 1) planes[plane * 8 + at / 8] |= static_cast<char>(0x80 >> at % 8);
        bytes += planes;
    }
    return bytes;
}

// A stripe, a checker, a frame: tiles no format decodes alike by chance.
string tileOf(int (*index)(std::size_t x, std::size_t y)) {
    string tile;
    for (std::size_t at = 0; at < 64; ++at) tile += static_cast<char>('0' + index(at % 8, at / 8));
    return tile;
}
const Drawn kDrawnTiles = {tileOf([](std::size_t x, std::size_t y) { return static_cast<int>((x + y) % 4); }),
                           tileOf([](std::size_t x, std::size_t y) { return static_cast<int>((x / 2 + y / 2) % 2 * 3); }),
                           tileOf([](std::size_t x, std::size_t y) { return x % 7 == 0 || y % 7 == 0 ? 2 : 1; })};

// The image the tiles make: `columns` to a row, each pixel `scale` square,
// index i the grey i * 255 / top, black after the last tile.
std::vector<std::uint8_t> sheetOf(const Drawn& tiles, std::size_t columns, std::size_t scale, int top) {
    const std::size_t side = 8 * scale, width = columns * side, rows = (tiles.size() + columns - 1) / columns;
    std::vector<std::uint8_t> pixels(width * rows * side, 0);
    for (std::size_t tile = 0; tile < tiles.size(); ++tile)
        for (std::size_t y = 0; y < side; ++y)
            for (std::size_t x = 0; x < side; ++x)
                pixels[(tile / columns * side + y) * width + tile % columns * side + x] =
                    static_cast<std::uint8_t>((tiles[tile][y / scale * 8 + x / scale] - '0') * 255 / top);
    return pixels;
}

// Each tile's pixels as one bit a pixel, for bytes read as 1bpp.
Drawn asOneBit(const string& bytes) {
    Drawn tiles;
    for (std::size_t tile = 0; tile < bytes.size() / 8; ++tile) {
        string indices;
        for (std::size_t at = 0; at < 64; ++at) indices += (bytes[tile * 8 + at / 8] >> (7 - at % 8) & 1) ? '1' : '0';
        tiles.push_back(indices);
    }
    return tiles;
}

struct TilesRun {
    const char* what;
    std::vector<const char*> argv;
    Drawn tiles;
    std::size_t columns, scale;
    int top;  // the highest colour index
};

const TilesRun kTilesRuns[] = {
    {"NES tiles scaled, the last row not full", {"--format", "2bpp-nes", "--columns", "2", "--scale", "3"},
     kDrawnTiles, 2, 3, 3},
    {"1bpp from an offset, a count of tiles", {"--format", "1bpp", "--start", "0x10", "--count", "3"},
     asOneBit(nesTiles(kDrawnTiles).substr(16, 24)), 16, 1, 1},
};

TEST(CommandTiles, WriteThePixelsOfTheTilesAsGreyLevels) {
    for (const TilesRun& run : kTilesRuns) {
        MemorySystem system("", 11);  // reads that end inside a tile, as a pipe's may
        system.files["font.chr"] = std::make_shared<string>(nesTiles(kDrawnTiles) + "\x55");
        std::vector<const char*> argv = {"glyphound", "tiles", "-o", "out.png", "font.chr"};
        argv.insert(argv.begin() + 2, run.argv.begin(), run.argv.end());
        ASSERT_EQ(runGlyphound(static_cast<int>(argv.size()), argv.data(), system), 0) << run.what << *system.err;
        const string& png = *system.files["out.png"];
        int width = 0, height = 0, channels = 0;
        stbi_uc* pixels = stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(png.data()), static_cast<int>(png.size()),
                                                &width, &height, &channels, 1);
        ASSERT_NE(pixels, nullptr) << run.what;
        EXPECT_EQ(channels, 1) << run.what;
        const std::vector<std::uint8_t> expected = sheetOf(run.tiles, run.columns, run.scale, run.top);
        EXPECT_EQ(std::size_t(width), run.columns * 8 * run.scale) << run.what;
        EXPECT_TRUE(std::vector<std::uint8_t>(pixels, pixels + width * height) == expected) << run.what;
        stbi_image_free(pixels);
    }
}

// With a table, a band of 10 pixels under each row of tiles: ink under a
// tile whose number has an entry, none under one without.
TEST(CommandTiles, DrawEachTilesTextUnderIt) {
    MemorySystem system("");
    system.files["font.chr"] = std::make_shared<string>(nesTiles(kDrawnTiles));
    system.files["t.tbl"] = std::make_shared<string>("00=A\n02=\xe3\x81\x82\n");
    const std::vector<const char*> argv = {"glyphound", "tiles", "--format", "2bpp-nes", "-t", "t.tbl", "-o", "out.png",
                                           "font.chr"};
    ASSERT_EQ(runGlyphound(static_cast<int>(argv.size()), argv.data(), system), 0) << *system.err;
    int width = 0, height = 0, channels = 0;
    const string& png = *system.files["out.png"];
    stbi_uc* pixels = stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(png.data()), static_cast<int>(png.size()),
                                            &width, &height, &channels, 1);
    ASSERT_EQ(height, 18);
    const auto inkUnder = [&](int tile) {
        int ink = 0;
        for (int y = 8; y < 18; ++y)
            for (int x = tile * 8; x < tile * 8 + 8; ++x) ink += pixels[y * width + x] == 255;
        return ink;
    };
    // The letter under tile 0, pixel for pixel.
    const char* const kLetterA[] = {".##.....", "#..#....", "#..#....", "####....", "#..#....", "#..#....", "#..#....", "........"};
    for (int y = 0; y < 8; ++y) {
        string row;
        for (int x = 0; x < 8; ++x) row += pixels[(8 + y) * width + x] == 255 ? '#' : '.';
        EXPECT_EQ(row, kLetterA[y]);
    }
    EXPECT_EQ(inkUnder(1), 0);
    EXPECT_GT(inkUnder(2), 0);  // a box for the kana
    EXPECT_EQ(pixels[1], 85);  // the stripe's first row, above the band
    stbi_image_free(pixels);
    // Past tile 255, a tile's number is a key of two bytes: 0101 is tile 257,
    // the second of the 17th row.
    system.files["font.chr"] = std::make_shared<string>(258 * 16, '\0');
    system.files["t.tbl"] = std::make_shared<string>("0101=B\n");
    ASSERT_EQ(runGlyphound(static_cast<int>(argv.size()), argv.data(), system), 0) << *system.err;
    const string& many = *system.files["out.png"];
    pixels = stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(many.data()), static_cast<int>(many.size()), &width,
                                   &height, &channels, 1);
    ASSERT_EQ(height, 17 * 18);
    int ink = 0;
    for (int y = 16 * 18 + 8; y < 17 * 18; ++y)
        for (int x = 8; x < 16; ++x) ink += pixels[y * width + x] == 255;
    EXPECT_GT(ink, 0);
    stbi_image_free(pixels);
}

TEST(CommandHelp, BothWaysPrintTheSameHelpOnStandardOutput) {
    for (const char* command : {"find", "table", "shift", "patch", "help"}) {
        MemorySystem asked(""), flagged("");
        const std::vector<const char*> help{"glyphound", "help", command}, flag{"glyphound", command, "--help"};
        EXPECT_EQ(runGlyphound(3, help.data(), asked), 0);
        EXPECT_EQ(runGlyphound(3, flag.data(), flagged), 0);
        EXPECT_NE(asked.out->find("glyphound " + string(command)), string::npos);
        EXPECT_EQ(*asked.out, *flagged.out);
        EXPECT_EQ(*asked.err + *flagged.err, "");
        MemorySystem version(""), commandVersion("");
        const std::vector<const char*> helpVersion{"glyphound", "help", "--version"}, flagVersion{"glyphound", command, "--version"};
        EXPECT_EQ(runGlyphound(3, helpVersion.data(), version), 0);
        EXPECT_EQ(runGlyphound(3, flagVersion.data(), commandVersion), 0);
        EXPECT_EQ(version.out->rfind("glyphound 1.0.", 0), 0u) << *version.out;
        EXPECT_EQ(*commandVersion.out, *version.out);
    }
}

// A patch for abc.rom whose result is 1 EiB and must be held whole: a
// byte, a copy of it over and over, then a copy from the very start.
string endlessBps() {
    using namespace patch_bytes;
    constexpr std::uint64_t kRun = std::uint64_t{1} << 60;
    string patch = kBpsMagic;
    for (const std::uint64_t number : {std::uint64_t{10}, kRun + 2, std::uint64_t{0}}) appendNumber(patch, number);
    appendNumber(patch, kTargetRead);
    patch += 'a';
    appendNumber(patch, (kRun - 1) << 2 | kTargetCopy);
    appendNumber(patch, 0);
    appendNumber(patch, kTargetCopy);
    appendNumber(patch, kRun << 1 | 1);  // back to the start
    appendLittle32(patch, 0x321E6D05);  // abc.rom's CRC32
    appendLittle32(patch, 0);
    appendLittle32(patch, crc32(reinterpret_cast<const std::uint8_t*>(patch.data()), patch.size()));
    return patch;
}

// A result too large to hold is reported as such, and nothing is written.
TEST(CommandPatch, AResultTooLargeToHoldIsReported) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the address sanitizer ends the program where memory runs out";
#endif
    MemorySystem system("");
    system.files["abc.rom"] = std::make_shared<string>("ABCDEFGHIJ");
    system.files["endless.bps"] = std::make_shared<string>(endlessBps());
    const std::vector<const char*> argv{"glyphound", "patch", "apply", "endless.bps", "abc.rom", "-o", "out.rom"};
    EXPECT_EQ(runGlyphound(static_cast<int>(argv.size()), argv.data(), system), 2);
    EXPECT_EQ(*system.err, "glyphound: abc.rom: too large to hold in memory\n");
    EXPECT_EQ(system.files.count("out.rom"), 0u);
}

// A system of `count` processors.
struct Processors : MemorySystem {
    explicit Processors(unsigned count, std::size_t chunk = SIZE_MAX) : MemorySystem("", chunk), count(count) {}
    unsigned processors() override { return count; }
    unsigned count;
};

// A big file read in parts side by side prints what one pass prints, of
// dump, find --table and find: text runs across the seam between the first
// two parts (and a 16-bit word across the next), and a read error in the
// second part ends the output there.
TEST(CommandParts, ABigFileInPartsPrintsWhatOnePassPrints) {
    // Reads of an odd size, so that no block ends where a part does.
    constexpr std::size_t kOddReads = 100003;
    std::mt19937 random(22);
    string rom(33 << 20, '\0');
    for (char& byte : rom) byte = static_cast<char>(random());
    for (std::size_t at = (16 << 20) - 70000; at < (16 << 20) + 70000; ++at)
        rom[at] = static_cast<char>(random() % 7 ? 0x80 + random() % 26 : random() % 4);
    rom.replace((16 << 20) - 2, 5, moved("HELLO", 0x3F));
    rom.replace((32 << 20) - 4, 10, utf16le("HELLO"));
    for (const std::optional<std::size_t> readError : {std::optional<std::size_t>(), std::optional<std::size_t>(20 << 20)}) {
        Processors inParts(2, kOddReads), onePass(1, kOddReads);
        for (Processors* system : {&inParts, &onePass}) {
            system->files["t.tbl"] = std::make_shared<string>(gameTable());
            system->files["big.rom"] = std::make_shared<string>(rom);
            if (readError) system->unreadable["big.rom"] = *readError;
        }
        // Each command, and the least it prints, without and with the read error.
        struct Row {
            std::vector<const char*> argv;
            std::size_t least, leastPastError;
        };
        for (const Row& row : {Row{{"glyphound", "dump", "-t", "t.tbl", "big.rom"}, 20001, 20001},
                               Row{{"glyphound", "find", "--table", "t.tbl", "-e", "HE", "-e", "HELLO", "big.rom"}, 20001, 20001},
                               Row{{"glyphound", "find", "-e", "HEL", "-e", "HELLO", "big.rom"}, 20001, 20001},
                               // The 16-bit word is found once, across the seam at 32 MiB.
                               Row{{"glyphound", "find", "--width", "16le", "HELLO", "big.rom"}, 1, 0},
                               // Pointers and guesses print only once the file is read.
                               Row{{"glyphound", "pointers", "-t", "t.tbl", "--map", "gb", "big.rom"}, 5000, 0},
                               Row{{"glyphound", "guess", "big.rom"}, 100, 0}}) {
            const std::vector<const char*>& argv = row.argv;
            inParts.out->clear(), inParts.err->clear(), onePass.out->clear(), onePass.err->clear();
            EXPECT_EQ(runGlyphound(static_cast<int>(argv.size()), argv.data(), inParts), readError ? 2 : 0);
            EXPECT_EQ(runGlyphound(static_cast<int>(argv.size()), argv.data(), onePass), readError ? 2 : 0);
            EXPECT_GE(inParts.out->size(), readError ? row.leastPastError : row.least);
            EXPECT_TRUE(*inParts.out == *onePass.out);
            EXPECT_EQ(*inParts.err, *onePass.err);
            EXPECT_EQ(*inParts.err, readError ? "glyphound: big.rom: Input/output error\n" : "");
        }
    }
    // Only a file named alone is read in parts: the files after a big one
    // are read too.
    Processors both(2, kOddReads);
    both.files["t.tbl"] = std::make_shared<string>(gameTable());
    both.files["big.rom"] = std::make_shared<string>(rom);
    both.files["small.rom"] = std::make_shared<string>(moved("HELLO", 0x3F));
    const std::vector<const char*> argv{"glyphound", "dump", "-t", "t.tbl", "big.rom", "small.rom"};
    EXPECT_EQ(runGlyphound(static_cast<int>(argv.size()), argv.data(), both), 0);
    EXPECT_NE(both.out->find("small.rom:0x00000000: HELLO"), string::npos);
}

// A file named alone is cut into parts of 16 MiB once it holds two, where
// there are processors to read them side by side.
TEST(CommandParts, AFileIsReadInPartsOnceItHoldsTwo) {
    struct Row {
        std::size_t size;
        unsigned processors;
        std::vector<std::uint64_t> starts;
    };
    for (const Row& row : {Row{(32 << 20) - 1, 2, {0}}, Row{32 << 20, 2, {0, 16 << 20}},
                           Row{(32 << 20) + 1, 2, {0, 16 << 20, 32 << 20}}, Row{32 << 20, 1, {0}}}) {
        Processors system(row.processors);
        system.files["big.rom"] = std::make_shared<string>(row.size, '\0');
        commands::CommandIo io(system);
        std::vector<std::uint64_t> starts;
        for (const commands::Job& part : commands::inParts({commands::Job{"big.rom", ""}}, io)) starts.push_back(part.start);
        EXPECT_EQ(starts, row.starts) << row.size;
    }
}

// A file with more text than guess keeps is judged on the first of it,
// and guess says so.
TEST(Guess, SaysWhenItJudgedOnlyTheFirstOfTheText) {
    MemorySystem system("");
    string text;
    while (text.size() <= (17 << 20)) text += moved("THE KING IS WAITING FOR YOU IN THE CASTLE. ", 63);
    system.files["long.rom"] = std::make_shared<string>(text);
    const std::vector<const char*> argv{"glyphound", "guess", "long.rom"};
    EXPECT_EQ(runGlyphound(static_cast<int>(argv.size()), argv.data(), system), 0);
    EXPECT_EQ(*system.err, "glyphound: long.rom: more of it looks like text than guess keeps; judged on the first 16 MiB "
                           "of that\n");
}

// On a terminal, a run that takes long shows how far it has read: after a
// quiet second, the share of a file of known size, then the MiB of a
// stream, at most five times a second; erased at the end.
TEST(Progress, ShowsHowFarARunHasReadOnceItTakesLong) {
    auto shown = std::make_shared<string>();
    {
        OutputStream error(std::make_unique<MemorySink>(shown), OutputOptions{Buffering::None, false});
        commands::Progress progress(true, error);
        progress.start("big.rom", 400);
        progress.advance(100);
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        progress.advance(100);
        progress.start("-", -1);
        progress.advance(1 << 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        progress.advance(2 << 20);
    }
    EXPECT_EQ(*shown, "\rglyphound: big.rom: 50%\rglyphound: -: 3 MiB    \r" + string(23, ' ') + "\r");
}

// An insert whose patch can't be made puts neither file in place, and says so.
TEST(CommandParts, AnInsertWhosePatchCantBeMadeWritesNeitherFile) {
    MemorySystem system("");
    system.files["t.tbl"] = std::make_shared<string>(gameTable());
    system.files["big.rom"] = std::make_shared<string>(string((16 << 20) + 64, '\0'));
    const std::vector<const char*> argv{"glyphound", "insert", "-t", "t.tbl", "--at", "0x1000010", "--room", "5",
                                        "--fill", "20", "--patch", "out.ips", "HI", "big.rom", "out.rom"};
    EXPECT_EQ(runGlyphound(static_cast<int>(argv.size()), argv.data(), system), 2);
    EXPECT_EQ(*system.err, "glyphound: out.rom: IPS can't hold a change past 16 MiB (at 0x01000010): make a BPS patch\n");
    EXPECT_EQ(system.files.count("out.rom") + system.files.count("out.ips"), 0u);
}

// A file too big to hold is read twice, once for its strings and once for
// the pointers to them, and finds what the same bytes held whole find, the
// best tables kept and the rest counted; a read error fails the run.
TEST(CommandParts, PointersOverAFileReadTwiceFindWhatTheBytesHeldFind) {
    std::mt19937 random(28);
    string rom(17 << 20, '\0');
    for (char& byte : rom) byte = static_cast<char>(random());
    for (const char* output : {"--json", "--min=3"}) {
        MemorySystem twice(""), held(rom);
        twice.files["big.gb"] = std::make_shared<string>(rom);
        const std::vector<const char*> named{"glyphound", "pointers", "--map", "gb", output, "big.gb"};
        const std::vector<const char*> piped{"glyphound", "pointers", "--map", "gb", output, "-"};
        EXPECT_EQ(runGlyphound(static_cast<int>(named.size()), named.data(), twice), 0);
        EXPECT_EQ(runGlyphound(static_cast<int>(piped.size()), piped.data(), held), 0);
        EXPECT_GT(twice.out->size(), 1000u);
        EXPECT_TRUE(*twice.out == *held.out);
        // Chance finds more tables in random bytes than are kept.
        EXPECT_EQ(*twice.err, *held.err);
        EXPECT_NE(twice.err->find(" more tables left out"), string::npos);
        MemorySystem failing("");
        failing.files["big.gb"] = std::make_shared<string>(rom);
        failing.unreadable["big.gb"] = 16 << 20;
        EXPECT_EQ(runGlyphound(static_cast<int>(named.size()), named.data(), failing), 2);
        EXPECT_EQ(*failing.err, "glyphound: big.gb: Input/output error\n");
    }
}

}  // namespace
}  // namespace glyphound::testing
