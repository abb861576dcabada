#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "io/streams.hpp"
#include "search/pair_finder.hpp"

namespace glyphound {

constexpr std::size_t kMinSearchLength = 3;
// A shift is reported, and asked for, as the position of the letter 'A'.
constexpr int kAsciiA = 'A';
constexpr std::size_t kMaxSearchLength = 16;

struct SearchSummary {
    std::uint64_t matchCount = 0;
    std::int32_t lastShift = 0;
    bool shiftsAgree = true;
};

struct Match {
    std::int64_t offset = 0;  // of the byte standing for the first character
    std::int32_t shift = 0;   // file byte minus character code
    bool operator==(const Match& other) const { return offset == other.offset && shift == other.shift; }
};

// The relative-search state machine, fed block by block. A run of L bytes
// matches when its L-1 successive differences equal the search string's,
// characters counting as signed 8-bit values and differences as plain
// integers. The byte after a match takes part in no comparison, and a pair
// that breaks a partial run is not tried again as the start of a new one;
// both are part of the tool's established results.
class RelativeScanner {
public:
    using MatchHandler = std::function<void(const Match&)>;

    // The search string has kMinSearchLength to kMaxSearchLength characters.
    RelativeScanner(std::string_view searchString, MatchHandler onMatch,
                    VectorWidth width = VectorWidth::Best);

    void feed(const std::uint8_t* bytes, std::size_t size);
    // End of the data: a run completed by the last byte is still a match.
    void finish();

private:
    void reportMatch();

    int differences_[kMaxSearchLength] = {};  // s[i] - s[i+1]
    int completeRun_;                    // L - 1 matched pairs
    int lastCharacter_;                  // s[L-2], the one the pair head stands for
    MatchHandler onMatch_;
    VectorWidth width_;

    bool havePrevious_ = false;
    int previous_ = 0;
    int run_ = 0;
    std::int64_t fed_ = 0;  // bytes fed before the current block
    // A completed run is reported when the byte after it has been read (and
    // dropped), or at the end of the data.
    bool matchPending_ = false;
    Match pending_;
};

// Reads `input` to its end, handing over every match as it is found.
SearchSummary scanForMatches(InputStream& input, std::string_view searchString,
                             const RelativeScanner::MatchHandler& onMatch);

}  // namespace glyphound
