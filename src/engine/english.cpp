#include "engine/english.hpp"

#include <cmath>
#include <string_view>

namespace glyphound::english {
namespace {

// Per cent of the letters of English text, a to z.
constexpr double kLetterShare[kLetters] = {8.167, 1.492, 2.782, 4.253, 12.702, 2.228, 2.015, 6.094, 6.966,
                                           0.153, 0.772, 4.025, 2.406, 6.749,  7.507, 1.929, 0.095, 5.987,
                                           6.327, 9.056, 2.758, 0.978, 2.360,  0.150, 1.974, 0.074};
// Per cent of words that start with each letter.
constexpr double kFirstShare[kLetters] = {11.68, 4.43, 5.24, 3.17, 2.80, 4.03, 1.64, 4.20, 7.29,
                                          0.51,  0.46, 2.42, 3.83, 2.28, 7.63, 4.32, 0.22, 2.83,
                                          6.69,  15.98, 1.18, 0.82, 5.50, 0.05, 0.76, 0.05};
// Per cent of words that end with each letter (e, s, d, t and n lead).
constexpr double kLastShare[kLetters] = {2.5, 0.2, 0.5, 10.0, 19.0, 4.0, 2.6, 3.5, 0.4, 0.02, 1.0, 4.5, 2.0,
                                         8.5, 4.5, 0.8, 0.01, 6.0, 14.0, 9.0, 0.3, 0.05, 0.7, 0.2, 7.0, 0.05};
// The fifty commonest letter pairs inside English words, with their share of
// all such pairs in hundredths of a per cent; the rest share what is left in proportion to their
// letters' shares.
constexpr std::string_view kCommonPairs =
    "th356 he307 in243 er205 an199 re185 on176 at149 en145 nd135 ti134 es134 or128 te120 "
    "of117 ed117 is113 it112 al109 ar107 st105 to104 nt104 ng095 se093 ha093 as087 ou087 "
    "io083 le083 ve083 co079 me079 de076 hi076 ri073 ro073 ic070 ne069 ea069 ra069 ce065 "
    "li062 ch060 ll058 be058 ma057 si055 om055 ur054";

// How English pairs its symbols: an average word of 4.7 letters gives 3.7
// pairs inside a word for each pair at its start and at its end; a gap
// after a gap stands for punctuation followed by a space.
constexpr double kInsideWords = 0.64, kWordEdge = 0.174, kGapAfterGap = 0.012;
// How often the random letters it is measured against meet a gap: as often
// as in English, so that a gap alone proves nothing.
constexpr double kGapShare = 0.18;
// A pair English never has still turns up in names and typing errors.
constexpr double kUnseen = 1e-5;

using LetterPairs = std::array<std::array<double, kLetters>, kLetters>;

LetterPairs insideWordPairs() {
    LetterPairs pairs{};
    double listed = 0, rest = 0;
    // Each entry is two letters and three digits, then a space.
    for (std::size_t at = 0; at + 5 <= kCommonPairs.size(); at += 6) {
        double share = 0;
        for (char digit : kCommonPairs.substr(at + 2, 3)) share = share * 10 + (digit - '0');
        share /= 10000;
        pairs[kCommonPairs[at] - 'a'][kCommonPairs[at + 1] - 'a'] = share;
        listed += share;
    }
    for (int first = 0; first < kLetters; ++first)
        for (int second = 0; second < kLetters; ++second)
            if (pairs[first][second] == 0) rest += kLetterShare[first] * kLetterShare[second];
    for (int first = 0; first < kLetters; ++first)
        for (int second = 0; second < kLetters; ++second)
            if (pairs[first][second] == 0)
                pairs[first][second] = (1 - listed) * kLetterShare[first] * kLetterShare[second] / rest;
    return pairs;
}

double shareOf(const double (&shares)[kLetters], int letter) {
    double total = 0;
    for (double share : shares) total += share;
    return shares[letter] / total;
}

}  // namespace

PairModel::PairModel() {
    const LetterPairs inside = insideWordPairs();
    const double evenLetter = 1.0 / kLetters;
    for (int first = 0; first < kSymbols; ++first)
        for (int second = 0; second < kSymbols; ++second) {
            const bool firstGap = first == kGap, secondGap = second == kGap;
            double english = kGapAfterGap, random = kGapShare * kGapShare;
            if (!firstGap && !secondGap) {
                english = kInsideWords * inside[first][second];
                random = (1 - kGapShare) * (1 - kGapShare) * evenLetter * evenLetter;
                const double evenPair = evenLetter * evenLetter;
                letters_[first][second] = static_cast<float>(std::log((inside[first][second] + kUnseen) / evenPair));
            } else if (firstGap != secondGap) {
                english = kWordEdge * (firstGap ? shareOf(kFirstShare, second) : shareOf(kLastShare, first));
                random = kGapShare * (1 - kGapShare) * evenLetter;
            }
            symbols_[first][second] = static_cast<float>(std::log((english + kUnseen) / random));
        }
}

// The hundred commonest words of English, by published counts over a large
// corpus of current English.
constexpr std::string_view kCommonWords[] = {
    "the", "be", "to", "of", "and", "a", "in", "that", "have", "i", "it", "for", "not", "on", "with", "he", "as",
    "you", "do", "at", "this", "but", "his", "by", "from", "they", "we", "say", "her", "she", "or", "an", "will",
    "my", "one", "all", "would", "there", "their", "what", "so", "up", "out", "if", "about", "who", "get", "which",
    "go", "me", "when", "make", "can", "like", "time", "no", "just", "him", "know", "take", "people", "into",
    "year", "your", "good", "some", "could", "them", "see", "other", "than", "then", "now", "look", "only", "come",
    "its", "over", "think", "also", "back", "after", "use", "two", "how", "our", "work", "first", "well", "way",
    "even", "new", "want", "because", "any", "these", "give", "day", "most", "us"};

bool isCommonWord(std::string_view word) {
    for (const std::string_view common : kCommonWords)
        if (word == common) return true;
    return false;
}

const PairModel& pairModel() {
    static const PairModel model;
    return model;
}

}  // namespace glyphound::english
