// The table reader: one row per convention, and the encoder and the table
// search against literal definitions on random tables.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>
#include <set>

#include "engine/dump.hpp"
#include "engine/encoder.hpp"
#include "driver/driver.hpp"
#include "engine/table_search.hpp"
#include "engine/values.hpp"
#include "memory_system.hpp"

namespace glyphound::testing {
namespace {

using namespace std::string_literals;
using std::string;

const std::uint8_t* bytesOf(const string& bytes) { return reinterpret_cast<const std::uint8_t*>(bytes.data()); }

// A table of one entry, made `size` bytes long by a comment.
string paddedTo(std::size_t size) { return "41=A\n#" + string(size - 6, '-'); }

struct Reading {
    const char* what;
    string table, bytes;
    string read;  // escaped, or the failure
};

const Reading kReadings[] = {
    {"longest key first", "41=A\n4142=X\n", "AB", "X"},
    {"keys in file order", "8140=\xe3\x81\x82\n", "\x81\x40", "\xe3\x81\x82"},
    {"text kept exactly", "3D==\n00= \n", "=\0"s, "= "},
    {"several characters", "CA=er\nD8= the\n", "\xca\xd8", "er the"},
    {"reads as nothing", "FFFF=\n41=A\n", "\xff\xff" "A", "A"},
    {"a line break in the text", "41=A\\nB\n", "A", "A\\nB"},
    {"a backslash", "5C=\\\n", "\\", "\\\\"},
    {"end token with text", "/FF=<END>\n41=A\n", "A\xff", "A<END>"},
    {"end token without", "/FF\n41=A\n", "A\xff", "A"},
    {"line break", "*FE\n41=A\n", "A\xfe" "A", "A\\nA"},
    {"control code", "$F0=[col],2\n41=A\n", "\xf0" "AB" "A", "[col]<$41><$42>A"},
    {"control code cut short", "$F0=[col],2\n", "\xf0" "A", "<$f0><$41>"},
    {"no entry", "41=A\n", "B", "<$42>"},
    {"either case of digits", "4a=J\n", "J", "J"},
    {"a key of 8 bytes", "4142434445464748=X\n", "ABCDEFGH", "X"},
    {"the last code point", "41=\xf4\x8f\xbf\xbf\n", "A", "\xf4\x8f\xbf\xbf"},
    {"two bytes of UTF-8", "41=\xc2\xa9\xce\xb1\xd0\x90\n", "A", "\xc2\xa9\xce\xb1\xd0\x90"},
    {"four bytes of UTF-8", "41=\xf0\xa0\x80\x80\n", "A", "\xf0\xa0\x80\x80"},
    {"comments, blanks, CR LF and a byte order mark", "\xef\xbb\xbf# a\r\n// b\r\n\r\n41=A\r\n", "A", "A"},
    {"a key twice alike", "41=A\n41=A\n", "A", "A"},
    {"a text twice", "41=A\n61=A\n", "Aa", "AA"},
    {"not UTF-8", "41=A\n42=\xff\n", "",
     "t.tbl:2: not UTF-8 text (a Shift-JIS table converts with: iconv -f SHIFT_JIS -t UTF-8)"},
    {"odd key", "414=A\n", "", "t.tbl:1: a key of an odd number of hexadecimal digits: '414=A'"},
    {"long key", "414243444546474849=A\n", "", "t.tbl:1: a key longer than 8 bytes: '414243444546474849=A'"},
    {"no text", "41A\n", "", "t.tbl:1: not a table entry: '41A'"},
    {"a line break with text", "*FE=x\n", "", "t.tbl:1: not a table entry: '*FE=x'"},
    {"control code without count", "$F0=[col]\n", "", "t.tbl:1: a control code is $HEX=label,N, with N from 0 to 255: '$F0=[col]'"},
    {"a key twice apart", "41=A\n\n41=B\n", "", "t.tbl:3: key 41 reads as something else on line 1"},
    {"empty", "", "", "t.tbl: no entry that reads as text"},
    {"end tokens only", "/FF\n", "", "t.tbl: no entry that reads as text"},
    {"a table of 1 MiB", paddedTo(1 << 20), "A", "A"},
    {"a table past 1 MiB", paddedTo((1 << 20) + 1), "", "t.tbl: larger than 1 MiB, too large for a table"},
};

TEST(TableReader, EveryConventionOnce) {
    for (const Reading& r : kReadings) {
        string failure;
        const auto table = Table::parse(r.table, "t.tbl", failure);
        EXPECT_EQ(table ? escaped(readAll(*table, bytesOf(r.bytes), r.bytes.size())) : failure, r.read) << r.what;
    }
}

TEST(TableReader, ReadsBackEveryTableThatTableWrites) {
    const std::vector<std::vector<const char*>> commands = {
        {"glyphound", "table", "-o", "t.tbl", "--A", "0xE0", "--a", "0", "--0", "0xC0"},
        {"glyphound", "table", "-o", "t.tbl", "--width", "16le", "--order", "hiragana", "さくら", "kana.bin"}};
    for (const auto& command : commands) {
        MemorySystem system("");
        system.files["kana.bin"] = std::make_shared<string>("\x54\x81\x4E\x81\x88\x81"s);
        ASSERT_EQ(runGlyphound(static_cast<int>(command.size()), command.data(), system), 0) << *system.err;
        const string& written = *system.files["t.tbl"];
        string failure, again;
        const auto table = Table::parse(written, "t.tbl", failure);
        ASSERT_TRUE(table) << failure;
        for (const TableEntry& entry : table->entries()) {
            for (char byte : entry.key) again += hexDigits(static_cast<std::uint8_t>(byte));
            again += "=" + escaped(entry.text) + "\r\n";
        }
        EXPECT_EQ(again, written);
    }
}

// Small random tables over few bytes, so that keys overlap and shadow each
// other, with several characters to an entry and entries that read as nothing.
// With `oneByteKeys`, no key is longer than a byte.
Table randomTable(std::mt19937& random, bool oneByteKeys = false) {
    string text;
    for (int entries = 3 + random() % 8; entries > 0; --entries) {
        const char kind = "  /$"[random() % 4];
        if (kind != ' ') text += kind;
        for (int key = oneByteKeys ? 1 : 1 + random() % 3; key > 0; --key) text += "0" + std::to_string(1 + random() % 5);
        if (kind == '$') text += "=#,1";
        if (kind == ' ' || random() % 2) text += "=" + string("abc").substr(random() % 3, random() % 3);
        text += "\n";
    }
    string failure;
    const auto table = Table::parse(text + "06=a\n", "t.tbl", failure);
    return table ? *table : randomTable(random, oneByteKeys);
}

Text randomText(std::mt19937& random, std::size_t length) {
    Text text;
    while (text.size() < length) text += random() % 6 ? U"abc#"[random() % 4] : kRawByte + 1 + random() % 7;
    return text;
}

// Every byte string up to `length` over the bytes the table knows, and one it doesn't.
bool anyReadsAs(const Table& table, const Text& text, std::size_t length, string& bytes) {
    if (readAll(table, bytesOf(bytes), bytes.size()) == text) return true;
    for (char byte = 1; bytes.size() < length && byte <= 7; ++byte) {
        bytes.push_back(byte);
        if (anyReadsAs(table, text, length, bytes)) return true;
        bytes.pop_back();
    }
    return false;
}

TEST(Encoder, ShortestBytesThatReadBack) {
    std::mt19937 random(19);
    int encoded = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const Table table = randomTable(random);
        const Text text = randomText(random, random() % 4);
        string failure, shorter;
        const auto bytes = encode(table, text, nullptr, failure);
        encoded += bytes.has_value();
        ASSERT_EQ(bytes ? readAll(table, bytesOf(*bytes), bytes->size()) : text, text) << trial;
        const std::size_t limit = bytes ? bytes->size() : 5;
        ASSERT_TRUE(limit == 0 || !anyReadsAs(table, text, limit - 1, shorter)) << trial << " " << bytes.has_value();
    }
    EXPECT_GT(encoded, 150);
}

// Every hit, found literally: the whole data read from its first byte, cut
// into strings after each end token, and each word sought at every character
// of each string; a hit runs from the entry of its first character to the end
// of the entry of its last, each (offset, word) once, at its shortest.
std::map<std::pair<std::uint64_t, std::size_t>, std::uint64_t> hitsIn(const Table& table, const std::vector<Text>& words,
                                                                      const string& data) {
    std::map<std::pair<std::uint64_t, std::size_t>, std::uint64_t> hits;
    std::vector<std::tuple<char32_t, std::uint64_t, std::uint64_t>> read;  // character, entry start, entry end
    const auto seek = [&] {
        for (std::size_t w = 0; w < words.size(); ++w)
            for (std::size_t at = 0; at + words[w].size() <= read.size(); ++at) {
                std::size_t k = 0;
                while (k < words[w].size() && std::get<0>(read[at + k]) == words[w][k]) ++k;
                if (k < words[w].size()) continue;
                const std::uint64_t offset = std::get<1>(read[at]), length = std::get<2>(read[at + k - 1]) - offset;
                const auto [hit, added] = hits.emplace(std::pair(offset, w), length);
                if (!added) hit->second = std::min(hit->second, length);
            }
        read.clear();
    };
    for (std::size_t at = 0; at < data.size();) {
        const TableEntry* entry = table.longestAt(bytesOf(data) + at, data.size() - at);
        const std::size_t span = entry ? entry->span() : 1;
        for (char32_t c : readAll(table, bytesOf(data) + at, span)) read.emplace_back(c, at, at + span);
        at += span;
        if (entry && entry->kind == TableEntry::Kind::End) seek();
    }
    seek();
    return hits;
}

// Every hit with its context, read in parts that start at random, or in one
// pass without a generator.
std::vector<std::tuple<std::uint64_t, std::size_t, std::uint64_t, Text>> hitsInParts(
    const Table& table, const std::vector<Text>& words, const string& data, std::optional<std::mt19937> random) {
    std::vector<std::uint64_t> cuts = {0};
    for (int part = random ? (*random)() % 5 : 0; part > 0; --part) cuts.push_back((*random)() % (data.size() + 2));
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    std::vector<std::tuple<std::uint64_t, std::size_t, std::uint64_t, Text>> hits;
    for (std::size_t part = 0; part < cuts.size(); ++part) {
        MemorySource source(data, 1 + cuts[part] % 5000);
        EXPECT_TRUE(findTableWords(
            source, table, words,
            [&](const TableHit& hit) { hits.emplace_back(hit.offset, hit.word, hit.length, hit.before + hit.match + hit.after); },
            VectorWidth::Best, {cuts[part], part + 1 < cuts.size() ? cuts[part + 1] : UINT64_MAX}));
    }
    return hits;
}

TEST(TableSearch, FindsWhatTheWholeFileReadsAs) {
    std::mt19937 random(20);
    for (int trial = 0; trial < 300; ++trial) {
        const Table table = randomTable(random, trial % 4 == 1);
        std::vector<Text> words(2);
        const bool raw = trial % 3 == 0;
        for (Text& word : words)
            for (std::size_t length = 1 + random() % 3; word.size() < length;)
                word += raw && random() % 4 == 0 ? kRawByte + 1 + random() % 7 : U"abc#"[random() % 4];
        string data;
        for (std::size_t size = random() % (random() % 20 ? 300 : 70000); data.size() < size;)
            data += static_cast<char>(1 + random() % 7);
        const auto expected = hitsIn(table, words, data);
        for (VectorWidth width : {VectorWidth::Scalar, VectorWidth::Bits128, VectorWidth::Bits256}) {
            if (!vectorWidthAvailable(width)) continue;
            MemorySource source(data, 1 + random() % 5000);
            std::map<std::pair<std::uint64_t, std::size_t>, std::uint64_t> found;
            std::pair<std::uint64_t, std::size_t> last{0, 0};
            ASSERT_TRUE(findTableWords(
                source, table, words,
                [&](const TableHit& hit) {
                    EXPECT_LE(last, std::pair(hit.offset, hit.word)) << trial;
                    last = {hit.offset, hit.word};
                    found.emplace(last, hit.length);
                },
                width));
            ASSERT_EQ(found, expected) << trial;
        }
        if (readableInParts(table, words)) {
            EXPECT_EQ(hitsInParts(table, words, data, random), hitsInParts(table, words, data, {})) << trial;
        }
    }
}

std::vector<std::tuple<std::uint64_t, std::uint64_t, Text>> stringsIn(const string& data, const Table& table,
                                                                      std::uint64_t minLength, const Part& part,
                                                                      std::size_t chunk) {
    std::vector<std::tuple<std::uint64_t, std::uint64_t, Text>> strings;
    MemorySource source(data, chunk);
    EXPECT_TRUE(findStrings(
        source, table, minLength,
        [&](const TableString& string) { strings.emplace_back(string.offset, string.length, string.text); },
        VectorWidth::Best, part));
    return strings;
}

// A file read in parts side by side gives what one pass over it gives, even
// where a part starts inside a run or a long string, or holds no byte that
// ends a run.
TEST(Dump, PartsFindEveryStringOnceAsOnePassDoes) {
    std::mt19937 random(21);
    for (int trial = 0; trial < 200; ++trial) {
        const Table table = randomTable(random);
        const bool longRuns = random() % 4 == 0;
        string data;
        for (std::size_t size = random() % (longRuns ? 150000 : 3000); data.size() < size;)
            data += static_cast<char>(longRuns || random() % 8 ? 1 + random() % 6 : 7);
        const std::uint64_t minLength = 1 + random() % 5;
        std::vector<std::uint64_t> cuts = {0};
        for (int part = random() % 5; part > 0; --part) cuts.push_back(random() % (data.size() + 2));
        std::sort(cuts.begin(), cuts.end());
        std::vector<std::tuple<std::uint64_t, std::uint64_t, Text>> inParts;
        for (std::size_t part = 0; part < cuts.size(); ++part) {
            const std::uint64_t end = part + 1 < cuts.size() ? cuts[part + 1] : UINT64_MAX;
            for (const auto& string : stringsIn(data, table, minLength, {cuts[part], end}, 1 + random() % 5000))
                inParts.push_back(string);
        }
        ASSERT_EQ(inParts, stringsIn(data, table, minLength, {}, SIZE_MAX)) << trial;
    }
}

}  // namespace
}  // namespace glyphound::testing
