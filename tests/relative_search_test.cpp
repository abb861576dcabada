#include <gtest/gtest.h>

#include "expected_text.hpp"
#include "memory_environment.hpp"
#include "search/relative_search.hpp"

namespace glyphound {
namespace {

using namespace testing;

Bytes encode(const std::string& text, int shift) { return bytesOf(testing::encode(text, shift)); }

struct ScanResult {
    std::string output;
    SearchSummary summary;
};

ScanResult scan(const Bytes& data, const std::string& searchString) {
    auto written = std::make_shared<Bytes>();
    OutputStream output(std::make_unique<MemorySink>(written), {});
    InputStream input(std::make_unique<MemorySource>(data), {});
    ScanResult result;
    result.summary = scanForMatches(input, searchString, output);
    output.flush();
    result.output = textOf(*written);
    return result;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(RelativeSearch, EmptyOrShortInputOnlyCloses) {
    for (const Bytes& data : {Bytes{}, Bytes{'A'}, Bytes{'A', 'B'}}) {
        const ScanResult result = scan(data, "ABC");
        EXPECT_EQ(result.output, kClosing);
        EXPECT_EQ(result.summary.matchCount, 0u);
    }
}

TEST(RelativeSearch, PlainAsciiAtOffsetZeroAndMatchEndingAtTheLastByte) {
    EXPECT_EQ(scan(encode("HELLO", 0), "HELLO").output, matchLine(0, 0) + kClosing);
    EXPECT_EQ(scan(encode("xyHELLO", 10), "HELLO").output, matchLine(2, 10) + kClosing);
}

TEST(RelativeSearch, ReportsOffsetShiftAndLetterAPosition) {
    EXPECT_EQ(scan({0x80, 0x81, 0x82}, "ABC").output, matchLine(0, 63) + kClosing);
    const Bytes data = concat({Bytes(5, 0), encode("HELLO", -20)});
    EXPECT_EQ(scan(data, "HELLO").output, matchLine(5, -20) + kClosing);
}

TEST(RelativeSearch, ByteAfterAMatchIsDropped) {
    const Bytes word = encode("ABC", 1);
    // Back to back: the second occurrence starts on the dropped byte.
    EXPECT_EQ(scan(concat({word, word}), "ABC").output, matchLine(0, 1) + kClosing);
    // One byte apart: both are found.
    EXPECT_EQ(scan(concat({word, {0}, word}), "ABC").output,
              matchLine(0, 1) + matchLine(4, 1) + kClosing);
}

TEST(RelativeSearch, RunRestartsWithoutRecomparingTheBreakingPair) {
    EXPECT_EQ(scan(encode("AAAB", 7), "AAB").output, kClosing);
    EXPECT_EQ(scan(encode("xAAB", 7), "AAB").output, matchLine(1, 7) + kClosing);
}

TEST(RelativeSearch, HighCharactersCountAsNegative) {
    EXPECT_EQ(scan({0xE0, 0xE1, 0xE2}, "\xE0\xE1\xE2").output, matchLine(0, 256) + kClosing);
    EXPECT_EQ(scan({0x41, 0xE9, 0x42}, "\x41\xE9\x42").output, kClosing);
    EXPECT_EQ(scan({0xA5, 0x4D, 0xA6}, "\x41\xE9\x42").output, matchLine(0, 100) + kClosing);
}

TEST(RelativeSearch, DifferencesAreNotTakenModulo256) {
    // 'X','Y','Z' shifted by 180 wraps past 255 in the middle of the word.
    EXPECT_EQ(scan(encode("WXYZ", 168), "WXYZ").output, kClosing);
}

TEST(RelativeSearch, SummarisesShiftAgreement) {
    const Bytes gap{0, 0};
    auto shifts = [&](std::initializer_list<int> list) {
        Bytes data;
        for (int shift : list) data = concat({data, encode("CAT", shift), gap});
        return scan(data, "CAT").summary;
    };
    const SearchSummary agree = shifts({5, 5});
    EXPECT_EQ(agree.matchCount, 2u);
    EXPECT_TRUE(agree.shiftsAgree);
    EXPECT_EQ(agree.lastShift, 5);

    const SearchSummary differ = shifts({5, 5, 7});
    EXPECT_EQ(differ.matchCount, 3u);
    EXPECT_FALSE(differ.shiftsAgree);
    EXPECT_EQ(differ.lastShift, 7);

    EXPECT_FALSE(shifts({5, 7, 7}).shiftsAgree);  // once false, it stays false
}

}  // namespace
}  // namespace glyphound
