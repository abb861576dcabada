// The word matcher against the literal definition of a hit: every pair of
// related characters keeps its distance modulo 256, at every offset, on
// random data with planted, wrapped and overlapping occurrences, read in
// chunks that cut the data at random places.
#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "memory_system.hpp"
#include "search/word_matcher.hpp"

namespace glyphound::testing {
namespace {

using Found = std::tuple<std::uint64_t, std::size_t, ClassValues>;

// Two characters are related when both are not the wildcard and, splitting
// cases, both belong to the same class.
bool related(char a, char b, PatternOptions options) {
    if (a == options.wildcard || b == options.wildcard) return false;
    return options.mode == CaseMode::Ascii || (classOf(a) == classOf(b) && classOf(a) < kClassCount);
}

std::vector<Found> referenceFind(const std::string& data, const std::vector<std::string>& words, PatternOptions options) {
    std::vector<Found> found;
    for (std::size_t at = 0; at < data.size(); ++at) {
        for (std::size_t w = 0; w < words.size(); ++w) {
            const std::string& word = words[w];
            bool hit = at + word.size() <= data.size();
            for (std::size_t i = 0; hit && i < word.size(); ++i)
                for (std::size_t j = i + 1; hit && j < word.size(); ++j)
                    hit = !related(word[i], word[j], options) ||
                          static_cast<std::uint8_t>(data[at + j] - data[at + i]) == static_cast<std::uint8_t>(word[j] - word[i]);
            if (!hit) continue;
            ClassValues values{-1, -1, -1};
            for (std::size_t i = word.size(); i-- > 0;)
                if (classOf(word[i]) < kClassCount)
                    values[classOf(word[i])] = static_cast<std::uint8_t>(data[at + i] - (word[i] - kClassFirst[classOf(word[i])]));
            found.emplace_back(at, w, values);
        }
    }
    return found;
}

std::string randomWord(std::mt19937& random) {
    static const std::string alphabet = "ABCXYZabcxyz019 .!?";
    std::string word;
    const std::size_t length = 2 + random() % 7;
    while (word.size() < length) word += alphabet[random() % alphabet.size()];
    return word;
}

// Random bytes from a small range, so unplanted hits happen too, with the
// words planted at random shifts, some wrapping past 0xFF.
std::string plantedData(const std::vector<std::string>& words, std::mt19937& random) {
    std::string data(1 + random() % 3000, '\0');
    for (char& byte : data) byte = static_cast<char>(random() % 6 + (random() % 2 ? 0xFC : 0));
    for (int copy = 0; copy < 30; ++copy) {
        const std::string& word = words[random() % words.size()];
        const std::size_t at = random() % data.size();
        const auto shift = static_cast<char>(random());
        for (std::size_t i = 0; i < word.size() && at + i < data.size(); ++i) data[at + i] = static_cast<char>(word[i] + shift);
    }
    return data;
}

TEST(MatcherDifferential, RandomWordsBothModesAndChunks) {
    std::mt19937 random(2026);
    int trials = 0;
    while (trials < 600) {
        const PatternOptions options{random() % 2 ? CaseMode::Split : CaseMode::Ascii, random() % 3 ? '?' : '.'};
        std::vector<std::string> words;
        std::vector<Pattern> patterns;
        for (std::size_t count = 1 + random() % 3; words.size() < count;) {
            const std::string word = randomWord(random);
            std::string failure;
            if (auto pattern = Pattern::compile(word, options, failure)) {
                words.push_back(word);
                patterns.push_back(*pattern);
            }
        }
        const std::string data = plantedData(words, random);
        MemorySource source(data, 1 + random() % 100);
        std::vector<Found> found;
        ASSERT_TRUE(findPatterns(source, patterns, [&](const Hit& hit) {
            found.emplace_back(hit.offset, hit.pattern, hit.values);
            ASSERT_EQ(std::string(reinterpret_cast<const char*>(hit.context + hit.hitStart), words[hit.pattern].size()),
                      data.substr(hit.offset, words[hit.pattern].size()));
        }));
        ASSERT_EQ(found, referenceFind(data, words, options)) << "trial " << trials << ", first word " << words[0];
        ++trials;
    }
}

TEST(MatcherDifferential, AReadErrorEndsTheSearchAfterItsHits) {
    std::string failure;
    const std::vector<Pattern> patterns{*Pattern::compile("ABC", {}, failure)};
    MemorySource source("\x01\x02\x03", 2, true);
    int hits = 0;
    EXPECT_FALSE(findPatterns(source, patterns, [&](const Hit&) { ++hits; }));
    EXPECT_EQ(hits, 1);
}

}  // namespace
}  // namespace glyphound::testing
