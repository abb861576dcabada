#pragma once

// Where a file's alphabet sits, found with no word given: the candidates
// under which the file holds the most text that reads as English.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "io/sliding_window.hpp"
#include "platform/system.hpp"
#include "search/word_matcher.hpp"

namespace glyphound {

// The stretches of a file that look like text under some alphabet, with
// where each lies in the file; all that a guess reads after its one pass.
struct TextSample {
    struct Stretch {
        std::uint64_t offset = 0;
        std::size_t start = 0, size = 0;  // in `bytes`
    };
    std::vector<std::uint8_t> bytes;
    std::vector<Stretch> stretches;
    // More of the file looked like text than a sample keeps: it holds the
    // first kSampleLimit bytes of it.
    bool partial = false;
};

constexpr std::size_t kSampleLimit = std::size_t{16} << 20;

// Reads `source` to its end once; false after a read error. The vector
// widths only choose the loop: each keeps the same stretches.
bool sampleTextLike(ByteSource& source, Width width, TextSample& sample, VectorWidth vectors = VectorWidth::Best);
// Bytes of the file a pass keeps, from `offset`, handed over in order.
using KeptBytes = std::function<void(std::uint64_t offset, const std::uint8_t* bytes, std::size_t size)>;
// The same pass over one part of a source, for parts read side by side:
// what the whole pass would keep of the part. A part starts and ends at a
// multiple of 64 bytes, as blocks do.
bool sampleTextLikePart(ByteSource& source, Width width, const Part& part, const KeptBytes& onKept,
                        VectorWidth vectors = VectorWidth::Best);
// Adds bytes a pass kept to `sample`, as far as its limit.
void keepInSample(TextSample& sample, std::uint64_t offset, const std::uint8_t* bytes, std::size_t size);

// A stretch of text under a candidate: its first letter's offset, its length
// in bytes, and its start decoded ('.' for units that are neither a letter
// nor the space).
struct TextRun {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    std::string preview;
};

constexpr std::size_t kShownRuns = 3;
// How many candidates a guess shows unless the user asks for other.
constexpr std::size_t kDefaultGuesses = 5;
constexpr std::size_t kPreviewUnits = 48;

struct AlphabetGuess {
    // The units of 'A' and 'a' (the classes of Alphabet's first two
    // orders); 'a' is -1 when the text is in capitals alone, 'A' when it is
    // in lower case alone or its capitals don't settle their place.
    ClassValues values;
    std::int32_t space = -1;  // -1 when no unit stands between words
    // Mixed-case text whose capitals leave the place of 'A' open: only 'a'
    // is given.
    bool capitalsUnplaced = false;
    double score = 0;
    std::uint64_t textBytes = 0;
    std::vector<TextRun> runs;  // the longest first
};

// At most `top` candidates, the best first; none when nothing reads as text.
std::vector<AlphabetGuess> rankAlphabets(const TextSample& sample, Width width, std::size_t top);

}  // namespace glyphound
