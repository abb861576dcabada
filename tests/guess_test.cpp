// How often `guess` names the right alphabet: generated files of random
// bytes, padding, program-like bytes and tile maps, each with some English
// prose or a game's menu whose letters, space and punctuation sit at random
// units.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <map>
#include <random>
#include <set>

#include "engine/guess.hpp"
#include "memory_system.hpp"

namespace glyphound::testing {
namespace {

// Written for this test.
const char* const kProse =
    "The old lighthouse stood at the edge of the cliff, and every night its keeper climbed the narrow stairs to "
    "light the great lamp. She had done this for many years, through storms and calm weather alike. Ships that "
    "passed the rocks below trusted her light to guide them home. One winter evening a small boat appeared out "
    "of the fog, its sail torn and its crew tired and cold. The keeper saw them from her window and hurried down "
    "to the shore with a lantern. She waved the light back and forth until the sailors noticed her signal. "
    "Slowly they turned the boat toward the quiet bay where the water was still. When they reached the sand, the "
    "keeper gave them blankets and hot soup in her kitchen. They told her about the journey from the northern "
    "islands and the wind that had broken their mast. In the morning the sky was clear, and the sailors thanked "
    "her before they mended the sail. Your quest begins in a quiet village at the foot of the mountains. Speak "
    "with the elder before you leave, because he knows where the ancient sword was hidden. Buy enough food and "
    "potions at the market, since the road to the castle is long and full of danger. Wolves hunt in the forest "
    "after dark, and bandits wait near the old bridge. If you help the farmer find his lost sheep, he will give "
    "you a map of the valley. Remember to save your progress at every shrine you find. The king has promised a "
    "great reward to anyone who can bring back the crown that the dragon stole. ";

// Written for this test: what a game's menus say.
const char* const kMenuWords[] = {"GAME PAUSED", "CONTINUE", "EXIT MENU", "SCORE",    "TIME",      "GAME OVER",
                                  "NEW GAME",    "OPTIONS",  "LOAD GAME", "QUIT",     "HIGH SCORE", "PRESS START",
                                  "SOUND TEST",  "LIVES",    "STAGE",     "RESUME",   "SAVE DATA",  "CREDITS"};

constexpr std::size_t kFileSize = 32 << 10, kLetters = 300, kMenuEntries = 8;

// Prose in capitals alone, in mixed case, in mixed case whose capitals after
// a space are two to four letters (the others made lower case), or menu
// entries in capitals alone.
enum class Text { Capitals, Mixed, FewCapitals, Menu };

class FileMaker {
public:
    FileMaker(Width width, unsigned seed) : width_(width), mask_(unitMask(width)), random_(seed) {}

    std::string file(Text text, bool oddText, ClassValues& values) {
        std::string bytes;
        const std::size_t textAt = draw(kFileSize);
        bool planted = false;
        while (bytes.size() < kFileSize || !planted) {
            if (!planted && bytes.size() >= textAt) {
                if ((bytes.size() % 2 == 1) != oddText) bytes += static_cast<char>(draw(256));
                values = text == Text::Menu ? plantMenu(bytes) : plantProse(bytes, text);
                planted = true;
            }
            filler(bytes);
        }
        return bytes;
    }

private:
    std::uint32_t draw(std::uint32_t below) { return static_cast<std::uint32_t>(random_() % below); }
    void put(std::string& bytes, std::uint32_t unit) {
        if (width_ == Width::Byte) return void(bytes += static_cast<char>(unit));
        const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit);
        bytes += width_ == Width::Little16 ? std::string{low, high} : std::string{high, low};
    }
    bool inRange(std::uint32_t unit, std::uint32_t first) const { return ((unit - first) & mask_) < 26; }

    ClassValues plantProse(std::string& bytes, Text text) {
        const bool mixedCase = text != Text::Capitals;
        std::set<char> capitals;
        const std::size_t mostCapitals = text == Text::FewCapitals ? 2 + draw(3) : kLetters;
        const std::uint32_t upper = draw(mask_ + 1);
        std::uint32_t lower = upper;
        while (inRange(lower, upper) || inRange(upper, lower)) lower = draw(mask_ + 1);
        std::map<char, std::uint32_t> others;
        for (const char c : {' ', '.', ','})
            while (!others.count(c) || inRange(others[c], upper) || (mixedCase && inRange(others[c], lower)))
                others[c] = draw(mask_ + 1);
        const std::string prose = kProse;
        std::size_t at = prose.find(". ", draw(static_cast<std::uint32_t>(prose.size() / 2))) + 2, letters = 0;
        for (; letters < kLetters || prose[at - 1] != '.'; at = (at + 1) % prose.size()) {
            char c = mixedCase ? prose[at] : static_cast<char>(std::toupper(prose[at]));
            // The text's first letter follows no space: a guess can't tell it a capital.
            const bool seen = letters > 0 && std::isupper(c);
            if (seen && !capitals.count(c) && capitals.size() == mostCapitals) c = static_cast<char>(std::tolower(c));
            if (seen && std::isupper(c)) capitals.insert(c);
            letters += std::isalpha(static_cast<unsigned char>(c)) != 0;
            put(bytes, std::isupper(c) ? upper + (c - 'A') : std::islower(c) ? lower + (c - 'a') : others[c]);
        }
        return expected(upper, mixedCase ? static_cast<std::int32_t>(lower) : -1);
    }

    // A few menu entries in a row, each ended by one unit that is no letter.
    ClassValues plantMenu(std::string& bytes) {
        const std::uint32_t upper = draw(mask_ + 1);
        std::uint32_t space = upper, end = upper;
        while (inRange(space, upper)) space = draw(mask_ + 1);
        while (inRange(end, upper) || end == space) end = draw(mask_ + 1);
        for (std::size_t entry = 0; entry < kMenuEntries; ++entry) {
            for (const char c : std::string(kMenuWords[draw(std::size(kMenuWords))]))
                put(bytes, c == ' ' ? space : upper + (c - 'A'));
            put(bytes, end);
        }
        return expected(upper, -1);
    }

    // Text of one case that sits where ASCII has its lower case is called so.
    ClassValues expected(std::uint32_t upper, std::int32_t lower) const {
        if (lower < 0 && upper == 'a') return {-1, 'a'};
        return {static_cast<std::int32_t>(upper), lower};
    }

    // Random bytes, padding, or bytes as programs and their tables have them:
    // a few common opcodes with small operands, counters whose units step by
    // one, as "ABCDEFG" does under some alphabet, or tile maps that repeat
    // two to four nearby units, as "DEDEDE" does.
    void filler(std::string& bytes) {
        const std::size_t length = 64 + draw(2048);
        const std::uint32_t kind = draw(6), fill = draw(3) == 0 ? draw(256) : draw(2) * 0xFF;
        const std::uint32_t base = draw(mask_ + 1), opcodes[] = {0xA9, 0x85, 0x20, 0x60, 0x4C, 0xBD, 0xE8, 0xD0};
        const std::uint32_t tiles[] = {base, base + 1 + draw(25), base + draw(26), base + draw(26)};
        const std::uint32_t period = kind == 4 ? 2 : 3 + draw(2);
        for (std::size_t k = 0; k < length; ++k) {
            if (kind == 0) bytes += static_cast<char>(draw(256));
            if (kind == 1) bytes += static_cast<char>(fill);
            if (kind == 2) bytes += static_cast<char>(k % 3 == 0 ? opcodes[draw(8) * draw(8) / 8] : draw(32));
            if (kind == 3) put(bytes, (base + static_cast<std::uint32_t>(k)) & mask_);
            if (kind >= 4) put(bytes, tiles[k % period] & mask_);
        }
    }

    Width width_;
    std::uint32_t mask_;
    std::mt19937 random_;
};

std::vector<AlphabetGuess> guessesIn(const std::string& file, Width width, std::size_t top) {
    MemorySource source(file, 4096);
    TextSample sample;
    EXPECT_TRUE(sampleTextLike(source, width, sample));
    return rankAlphabets(sample, width, top);
}

// Where few capitals leave the place of 'A' open, the guess may say so
// instead, but a place it states must be right.
TEST(Guess, NamesThePlantedAlphabetFirstInAtLeast95Of100Files) {
    for (const Width width : {Width::Byte, Width::Little16, Width::Big16}) {
        FileMaker maker(width, 2026);
        int right = 0;
        for (int file = 0; file < 100; ++file) {
            const Text text = std::array{Text::Capitals, Text::Mixed, Text::FewCapitals}[file % 3];
            ClassValues planted;
            const std::vector<AlphabetGuess> guesses = guessesIn(maker.file(text, file % 4 < 2, planted), width, 1);
            if (guesses.empty()) continue;
            const ClassValues& values = guesses[0].values;
            const bool unplaced = text == Text::FewCapitals && values[0] < 0 && guesses[0].capitalsUnplaced;
            right += values == planted || (unplaced && values[1] == planted[1]);
            if (text != Text::Capitals && values[1] == planted[1] && values[0] >= 0) {
                EXPECT_EQ(values[0], planted[0]) << "file " << file;
            }
        }
        EXPECT_GE(right, 95) << "width " << static_cast<int>(width);
    }
}

// Tile maps that read "DEDEDE" under some place outweigh no menu.
TEST(Guess, PlacesShortMenuWordsAmongTileMapsInTheTop3) {
    for (const Width width : {Width::Byte, Width::Little16, Width::Big16}) {
        FileMaker maker(width, 42);
        for (int file = 0; file < 20; ++file) {
            ClassValues planted;
            const std::string bytes = maker.file(Text::Menu, file % 2 == 0, planted);
            const std::vector<AlphabetGuess> guesses = guessesIn(bytes, width, 3);
            EXPECT_TRUE(std::any_of(guesses.begin(), guesses.end(), [&](const AlphabetGuess& guess) {
                return guess.values == planted;
            })) << "width " << static_cast<int>(width) << ", file " << file;
        }
    }
}

// The vector loop keeps what the plain one keeps, whatever the reads' sizes:
// the counters step across every carry between a unit's bytes.
// Units whose steps lie about the farthest letter, 25, so that the blocks'
// counts lie about the threshold of text.
std::string stepsNearTheFarthestLetter(Width width, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes;
    for (unsigned unit = static_cast<unsigned>(random()); bytes.size() < 64 * 1024;) {
        const int steps[] = {24, 25, 26, 27, 0, 300};
        unit += static_cast<unsigned>(steps[random() % 6] * (random() % 2 ? 1 : -1));
        const char low = static_cast<char>(unit), high = static_cast<char>(unit >> 8);
        if (width == Width::Byte) bytes += low;
        if (width == Width::Little16) bytes += {low, high};
        if (width == Width::Big16) bytes += {high, low};
    }
    return bytes;
}

TEST(Guess, VectorPassKeepsWhatThePlainPassKeeps) {
    for (const Width width : {Width::Byte, Width::Little16, Width::Big16}) {
        FileMaker maker(width, 7);
        for (int file = 0; file < 24; ++file) {
            ClassValues planted;
            const std::string bytes = file >= 20 ? stepsNearTheFarthestLetter(width, static_cast<unsigned>(file))
                                                 : maker.file(file % 2 == 0 ? Text::Mixed : Text::Capitals, file % 4 < 2, planted);
            MemorySource inOddReads(bytes, 777);
            TextSample plain, inParts;
            ASSERT_TRUE(sampleTextLike(inOddReads, width, plain, VectorWidth::Scalar));
            for (const VectorWidth vectors : {VectorWidth::Bits128, VectorWidth::Bits256}) {
                TextSample fast;
                MemorySource inBlocks(bytes, 4096);
                ASSERT_TRUE(sampleTextLike(inBlocks, width, fast, vectors));
                EXPECT_EQ(plain.bytes, fast.bytes);
                EXPECT_EQ(plain.stretches.size(), fast.stretches.size());
            }
            // Parts of 4 KiB, each read on its own, keep the same stretches.
            for (std::uint64_t start = 0; start < bytes.size(); start += 4096) {
                MemorySource part(bytes, 97);
                const Part mine{start, start + 4096 >= bytes.size() ? UINT64_MAX : start + 4096};
                ASSERT_TRUE(sampleTextLikePart(part, width, mine, [&](std::uint64_t offset, const std::uint8_t* kept, std::size_t size) {
                    keepInSample(inParts, offset, kept, size);
                }));
            }
            EXPECT_EQ(plain.bytes, inParts.bytes);
            ASSERT_EQ(plain.stretches.size(), inParts.stretches.size());
            for (std::size_t k = 0; k < plain.stretches.size(); ++k)
                EXPECT_EQ(plain.stretches[k].offset, inParts.stretches[k].offset);
        }
    }
}

}  // namespace
}  // namespace glyphound::testing
