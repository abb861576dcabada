// The word matcher against the literal definition of a hit: every pair of
// related characters keeps its distance modulo the unit's range, at every
// byte offset, for each width, on random data with planted, wrapped and
// overlapping occurrences, read in chunks that cut the data at random places.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <tuple>

#include "memory_system.hpp"
#include "search/word_matcher.hpp"

namespace glyphound::testing {
namespace {

using Found = std::tuple<std::uint64_t, std::size_t, ClassValues, std::vector<std::uint32_t>>;

struct Case {
    PatternOptions options;
    std::shared_ptr<Alphabet> alphabet = std::make_shared<Alphabet>();
};

// A character's code for its distances: its place in its order when cases
// are split, its code point in ASCII mode; none for a free character.
std::optional<std::int64_t> codeOf(char32_t c, const Case& t) {
    if (c == t.options.wildcard) return std::nullopt;
    if (t.options.mode == CaseMode::Ascii) return c;
    const auto place = t.alphabet->find(c);
    return place ? std::optional<std::int64_t>(place->index) : std::nullopt;
}

bool related(char32_t a, char32_t b, const Case& t) {
    if (!codeOf(a, t) || !codeOf(b, t)) return false;
    return t.options.mode == CaseMode::Ascii || t.alphabet->find(a)->order == t.alphabet->find(b)->order;
}

// Whether two characters' units keep what the mode asks of them.
bool pairHolds(char32_t a, char32_t b, std::uint32_t ua, std::uint32_t ub, const Case& t) {
    const std::uint32_t mask = unitMask(t.options.width);
    if (t.options.match == MatchMode::Pattern)
        return a == t.options.wildcard || b == t.options.wildcard || (a == b) == (ua == ub);
    if (!related(a, b, t)) return true;
    const std::int64_t distance = *codeOf(b, t) - *codeOf(a, t);
    if (t.options.match == MatchMode::Relative || distance == 0) return ((ub - ua) & mask) == (distance & mask);
    const std::int64_t up = distance > 0 ? (ub - ua) & mask : (ua - ub) & mask;  // from the earlier in the class
    return up >= 1 && std::abs(up - std::abs(distance)) <= t.options.gaps;
}

// The characters whose units a hit by order or pattern shows.
bool shown(char32_t c, const Case& t) {
    return c != t.options.wildcard && (t.options.match == MatchMode::Pattern || t.alphabet->find(c));
}

std::vector<Found> referenceFind(const std::string& data, const std::vector<std::u32string>& words, const Case& t) {
    const std::size_t unit = bytesPerUnit(t.options.width);
    const std::uint32_t mask = unitMask(t.options.width);
    const auto unitOf = [&](std::size_t at) { return unitAt(reinterpret_cast<const std::uint8_t*>(data.data()) + at, t.options.width); };
    std::vector<Found> found;
    for (std::size_t at = 0; at < data.size(); ++at) {
        for (std::size_t w = 0; w < words.size(); ++w) {
            const std::u32string& word = words[w];
            bool hit = at + word.size() * unit <= data.size();
            for (std::size_t i = 0; hit && i < word.size(); ++i)
                for (std::size_t j = i + 1; hit && j < word.size(); ++j)
                    hit = pairHolds(word[i], word[j], unitOf(at + i * unit), unitOf(at + j * unit), t);
            if (!hit) continue;
            ClassValues values(t.options.match == MatchMode::Relative ? t.alphabet->orders().size() : 0, -1);
            for (std::size_t i = word.size(); i-- > 0 && !values.empty();)
                if (const auto place = t.alphabet->find(word[i]))
                    values[place->order] = static_cast<std::int32_t>((unitOf(at + i * unit) - place->index) & mask);
            std::vector<std::uint32_t> units;
            for (std::size_t i = 0; i < word.size() && values.empty(); ++i)
                if (shown(word[i], t) && word.find(word[i]) == i) units.push_back(unitOf(at + i * unit));
            found.emplace_back(at, w, values, units);
        }
    }
    return found;
}

std::u32string randomWord(std::mt19937& random, const std::u32string& pool, std::size_t shortest) {
    std::u32string word;
    for (std::size_t length = shortest + random() % 7; word.size() < length;) word += pool[random() % pool.size()];
    return word;
}

// Random units from a small range, so unplanted hits happen too, with the
// words planted at random shifts, some wrapping past the unit's top: by
// their codes, with glyphs a font may lack or add, or at random units for a
// pattern. Now and then the data is longer than the matcher's window.
std::string plantedData(const std::vector<std::u32string>& words, const Case& t, std::mt19937& random) {
    const std::size_t unit = bytesPerUnit(t.options.width);
    std::string data(1 + random() % (random() % 40 ? 3000 : 150000), '\0');
    for (char& byte : data) byte = static_cast<char>(random() % 6 + (random() % 2 ? 0xFC : 0));
    for (int copy = 0; copy < 30; ++copy) {
        const std::u32string& word = words[random() % words.size()];
        const std::size_t at = random() % data.size();
        const std::uint32_t shift = random();
        std::map<char32_t, std::uint32_t> planted;
        for (std::size_t i = 0; i < word.size() && at + (i + 1) * unit <= data.size(); ++i) {
            const std::uint32_t gap = t.options.match == MatchMode::Order ? random() % (t.options.gaps + 1) : 0;
            const std::uint32_t code = t.options.match == MatchMode::Pattern ? random() % 40
                                                                              : codeOf(word[i], t).value_or(random());
            const std::uint32_t value = planted.emplace(word[i], code + gap + shift).first->second;
            const bool big = t.options.width == Width::Big16;
            for (std::size_t k = 0; k < unit; ++k)
                data[at + i * unit + k] = static_cast<char>(value >> (8 * (big ? unit - 1 - k : k)));
        }
    }
    return data;
}

TEST(MatcherDifferential, RandomWordsWidthsOrdersModesAndChunks) {
    ASSERT_TRUE(vectorWidthAvailable(VectorWidth::Scalar));
    std::mt19937 random(2026);
    std::string unused;
    for (int trial = 0; trial < 900; ++trial) {
        Case t;
        t.options = {random() % 3 ? CaseMode::Split : CaseMode::Ascii, random() % 3 ? U'?' : U'.',
                     static_cast<Width>(random() % 3), MatchMode::Relative, static_cast<int>(random() % 4)};
        if (t.options.mode == CaseMode::Split && trial % 3) t.options.match = trial % 3 == 1 ? MatchMode::Order : MatchMode::Pattern;
        std::u32string pool = U"ABCXYZabcxyz019 .!?";
        if (t.options.mode == CaseMode::Split) {
            t.alphabet->add(*builtInOrder(random() % 2 ? "hiragana-basic" : "hiragana"), unused);
            pool += U"あかがぱんぁ";
        }
        if (t.options.match == MatchMode::Pattern) pool.resize(1 + random() % 6);
        std::vector<std::u32string> words;
        std::vector<Pattern> patterns;
        for (std::size_t count = 1 + random() % 3; words.size() < count;) {
            const std::u32string word = randomWord(random, pool, t.options.match == MatchMode::Pattern ? 6 : 2);
            std::string utf8;
            for (char32_t c : word) utf8 += encodeUtf8(c);
            if (auto pattern = Pattern::compile(utf8, t.options, t.alphabet, unused)) {
                words.push_back(word);
                patterns.push_back(*pattern);
            }
        }
        const std::string data = plantedData(words, t, random);
        const std::size_t chunk = 1 + random() % (data.size() > 3000 ? 10000 : 100);
        const std::vector<Found> expected = referenceFind(data, words, t);
        for (VectorWidth width : {VectorWidth::Scalar, VectorWidth::Bits128, VectorWidth::Bits256, VectorWidth::Best}) {
            if (!vectorWidthAvailable(width)) continue;
            MemorySource source(data, chunk);
            std::vector<Found> found;
            ASSERT_TRUE(findPatterns(
                source, patterns,
                [&](const Hit& hit) {
                    found.emplace_back(hit.offset, hit.pattern, hit.values, hit.units);
                    ASSERT_EQ(std::string(reinterpret_cast<const char*>(hit.context + hit.hitStart),
                                          patterns[hit.pattern].length()),
                              data.substr(hit.offset, patterns[hit.pattern].length()));
                },
                width));
            ASSERT_EQ(found, expected) << "trial " << trial << ", width " << static_cast<int>(width) << ", first word "
                                       << patterns[0].word() << ", mode " << static_cast<int>(t.options.match);
        }
    }
}

TEST(BuiltInOrders, HoldTheirKanaInOrder) {
    const std::pair<const char*, std::u32string> kOrders[] = {
        {"hiragana-basic", U"あいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほまみむめもやゆよらりるれろわをん"},
        {"katakana-basic", U"アイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホマミムメモヤユヨラリルレロワヲン"},
    };
    for (const auto& [name, characters] : kOrders) EXPECT_EQ(builtInOrder(name)->characters, characters) << name;
    for (const auto& [name, first, last] : {std::tuple{"hiragana", U'ぁ', U'ん'}, std::tuple{"katakana", U'ァ', U'ヴ'}}) {
        const std::u32string characters = builtInOrder(name)->characters;
        EXPECT_EQ(characters.size(), std::size_t(last - first + 1)) << name;
        EXPECT_EQ(characters.front(), first);
        EXPECT_EQ(characters.back(), last);
    }
}

TEST(MatcherDifferential, AReadErrorEndsTheSearchAfterItsHits) {
    std::string failure;
    const std::vector<Pattern> patterns{*Pattern::compile("ABC", {}, std::make_shared<Alphabet>(), failure)};
    MemorySource source("\x01\x02\x03", 2, std::size_t{3});
    int hits = 0;
    EXPECT_FALSE(findPatterns(source, patterns, [&](const Hit&) { ++hits; }));
    EXPECT_EQ(hits, 1);
}

}  // namespace
}  // namespace glyphound::testing
