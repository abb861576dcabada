#pragma once

// How English text looks to a guess: which letter pairs it favours, and how
// its words start and end, as log-likelihood ratios against letters drawn at
// random, and which words it uses most. Built from published frequencies of
// English letters, letter pairs and words, never from any sample text.
#include <array>
#include <string_view>

namespace glyphound::english {

constexpr int kLetters = 26;
// Symbols of a pair: the letters 0-25, whatever their case, then the gap
// between words.
constexpr int kGap = kLetters;
constexpr int kSymbols = kLetters + 1;

class PairModel {
public:
    PairModel();
    // Two letters in a row, against two letters drawn evenly.
    float letters(int first, int second) const { return letters_[first][second]; }
    // Two symbols in a row of text with gaps, against symbols drawn evenly
    // with gaps as often as English has them.
    float symbols(int first, int second) const { return symbols_[first][second]; }

private:
    std::array<std::array<float, kLetters>, kLetters> letters_{};
    std::array<std::array<float, kSymbols>, kSymbols> symbols_{};
};

const PairModel& pairModel();

// Whether `word`, in lower case, is one of the hundred commonest words of
// English, which start most sentences.
bool isCommonWord(std::string_view word);

}  // namespace glyphound::english
