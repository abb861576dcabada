// The fast scan against a literal, byte-at-a-time stepping of the state
// machine, on random and adversarial data, for every vector width and with
// blocks cut at random places.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "reference_scan.hpp"

namespace glyphound::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

void expectAgreement(const Bytes& data, const std::string& word, std::mt19937& random) {
    const std::vector<std::size_t> blocks{1 + random() % 300, 1 + random() % 7, 1 + random() % 300};
    ASSERT_TRUE(scansAgree(data, word, blocks)) << "word length " << word.size();
}

// Random bytes with many copies of the word's pattern (whole, cut short, and
// with one byte off) planted at random places and shifts.
Bytes plantedData(const std::string& word, std::size_t size, std::mt19937& random) {
    Bytes data(size);
    for (auto& byte : data) byte = static_cast<std::uint8_t>(random());
    for (int copy = 0; copy < 40; ++copy) {
        const std::size_t at = random() % size, length = random() % 3 ? word.size() : random() % word.size() + 1;
        const int shift = static_cast<int>(random() % 512) - 128;
        for (std::size_t i = 0; i < length && at + i < size; ++i)
            data[at + i] = static_cast<std::uint8_t>(static_cast<std::int8_t>(word[i]) + shift);
        if (random() % 4 == 0 && at + length - 1 < size) ++data[at + length - 1];
    }
    return data;
}

std::string randomWord(std::mt19937& random, std::size_t length) {
    std::string word;
    while (word.size() < length) word += static_cast<char>(random());
    return word;
}

TEST(ScanDifferential, RandomWordsAndPlantedMatches) {
    std::mt19937 random(12345);
    for (int trial = 0; trial < 400; ++trial) {
        const std::string word = randomWord(random, 3 + random() % 14);
        expectAgreement(plantedData(word, 1 + random() % 5000, random), word, random);
    }
}

TEST(ScanDifferential, EveryFirstDifference) {
    std::mt19937 random(777);
    for (int difference = -255; difference <= 255; ++difference) {
        const int second = difference > 0 ? -128 : 127;
        const std::string word = std::string{static_cast<char>(second + difference), static_cast<char>(second)} +
                                 randomWord(random, 1 + random() % 4);
        expectAgreement(plantedData(word, 3000, random), word, random);
    }
}

TEST(ScanDifferential, RepeatedBytesAndRepeatedPatterns) {
    std::mt19937 random(99);
    for (const std::string word : {"AAB", "AAAA", "LLAMA", "ABAB", "ABCABC", "HELLO", "XYXYXYXYXYXYXYXY"}) {
        for (std::uint8_t value : {0, 0x41, 0xFF}) expectAgreement(Bytes(4000, value), word, random);
        Bytes pattern;
        while (pattern.size() < 4000)
            for (char c : word) pattern.push_back(static_cast<std::uint8_t>(c + 17));
        expectAgreement(pattern, word, random);
    }
}

// The differential tests run every loop the processor has beside the
// scalar ones, and a scan takes the widest: NEON on every 64-bit ARM
// processor, WebAssembly SIMD in the page, and on x86 what the processor
// says it has.
TEST(VectorWidths, EveryWidthTheProcessorHasIsUsed) {
#if defined(__aarch64__) || defined(__wasm_simd128__)
    const VectorWidth widest = VectorWidth::Bits128;
    const bool lookups512 = false, bytes512 = false;
#elif defined(__x86_64__) && defined(GLYPHOUND_USE_AVX2)
    const bool avx2 = __builtin_cpu_supports("avx2"), bw = __builtin_cpu_supports("avx512bw");
    const VectorWidth widest = avx2                              ? VectorWidth::Bits256
                               : __builtin_cpu_supports("ssse3") ? VectorWidth::Bits128
                                                                 : VectorWidth::Scalar;
    const bool lookups512 = bw && __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2");
    const bool bytes512 = bw;
#else
    const VectorWidth widest = VectorWidth::Scalar;
    const bool lookups512 = false, bytes512 = false;
    GTEST_SKIP() << "no vectors this test knows of";
#endif
    EXPECT_EQ(usableWidth(VectorWidth::Best), widest);
    for (const VectorWidth width : {VectorWidth::Scalar, VectorWidth::Bits128, VectorWidth::Bits256})
        EXPECT_EQ(vectorWidthAvailable(width), width <= widest) << static_cast<int>(width);
    // The tests run `Best` where they run the widths, and only it takes the 64-byte loops.
    EXPECT_TRUE(vectorWidthAvailable(VectorWidth::Best));
    EXPECT_EQ(byteLookups512Available(), lookups512);
    EXPECT_EQ(bytes512Available(), bytes512);
}

// Processors unlike this one: a loop whose feature is missing would end the
// program on an illegal instruction.
TEST(VectorWidths, AProcessorRunsOnlyTheLoopsItHasTheFeaturesFor) {
#if !(defined(__x86_64__) && defined(GLYPHOUND_USE_AVX2))
    GTEST_SKIP() << "built without the AVX2 loops";
#else
    struct Row {
        X86Features has;
        VectorChoice runs;
    };
    const Row rows[] = {
        {{false, false, false, false, false}, {VectorWidth::Scalar, false, false}},
        {{true, false, false, false, false}, {VectorWidth::Bits128, false, false}},
        {{true, true, false, false, false}, {VectorWidth::Bits256, false, false}},
        {{true, true, true, false, false}, {VectorWidth::Bits256, false, true}},  // AVX-512 without VBMI
        {{true, true, true, true, false}, {VectorWidth::Bits256, false, true}},   // VBMI without VBMI2
        {{true, true, true, false, true}, {VectorWidth::Bits256, false, true}},
        {{true, true, false, true, true}, {VectorWidth::Bits256, false, false}},  // no byte lanes
        {{true, true, true, true, true}, {VectorWidth::Bits256, true, true}},
        {{true, false, true, true, true}, {VectorWidth::Bits128, false, false}},  // AVX2 hidden, as a VM may
    };
    for (const Row& row : rows) {
        const VectorChoice runs = vectorChoiceFor(row.has);
        const auto& has = row.has;
        SCOPED_TRACE(::testing::Message() << has.ssse3 << has.avx2 << has.avx512bw << has.avx512vbmi << has.avx512vbmi2);
        EXPECT_EQ(runs.widest, row.runs.widest);
        EXPECT_EQ(runs.byteLookups512, row.runs.byteLookups512);
        EXPECT_EQ(runs.bytes512, row.runs.bytes512);
    }
#endif
}

// A pair with the first difference and a successor with the second, planted
// at every offset near the end of buffers of every short size; every width
// finds the first such pair, or the last pair alone when its successor lies
// beyond the end.
TEST(PairFinder, EveryOffsetAndWidthNearTheEnd) {
    for (int first : {-255, -1, 0, 1, 200, 255}) {
        for (int second : {-255, 0, 7}) {
            const int low = std::max({0, -first, second}), high = std::min({255, 255 - first, 255 + second});
            for (std::size_t size = 2; size < 120 && low <= high; ++size) {
                for (std::size_t at = 1; at < size; ++at) {
                    Bytes data(size);
                    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(7 * i);
                    data[at - 1] = static_cast<std::uint8_t>(low + first);
                    data[at] = static_cast<std::uint8_t>(low);
                    if (at + 1 < size) data[at + 1] = static_cast<std::uint8_t>(low - second);
                    std::size_t expected = 1;
                    while (expected < size && !(data[expected - 1] - data[expected] == first &&
                                                (expected + 1 >= size || data[expected] - data[expected + 1] == second)))
                        ++expected;
                    for (VectorWidth width : {VectorWidth::Scalar, VectorWidth::Bits128, VectorWidth::Bits256}) {
                        if (!vectorWidthAvailable(width)) continue;
                        ASSERT_EQ(findPairsWithDifferences(data.data(), size, first, second, width), expected)
                            << first << " " << second << " " << size << " " << at;
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace glyphound::testing
