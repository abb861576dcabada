#include "search/relative_search.hpp"

#include <algorithm>
#include <cassert>
#include <iterator>

namespace glyphound {
namespace {

int signedCharacter(char c) { return static_cast<std::int8_t>(c); }

}  // namespace

RelativeScanner::RelativeScanner(std::string_view searchString, MatchHandler onMatch,
                                 VectorWidth width)
    : completeRun_(static_cast<int>(searchString.size()) - 1),
      lastCharacter_(signedCharacter(searchString[searchString.size() - 2])),
      onMatch_(std::move(onMatch)),
      width_(usableWidth(width)) {
    assert(searchString.size() >= kMinSearchLength && searchString.size() <= kMaxSearchLength);
    for (int i = 0; i < completeRun_; ++i)
        differences_[i] = signedCharacter(searchString[i]) - signedCharacter(searchString[i + 1]);
}

void RelativeScanner::feed(const std::uint8_t* bytes, std::size_t size) {
    const std::uint8_t* const begin = bytes;
    const std::uint8_t* const end = bytes + size;
    if (matchPending_ && bytes < end) {
        ++bytes;  // the byte after a match takes part in no comparison
        reportMatch();
    }
    if (!havePrevious_ && bytes < end) {
        previous_ = *bytes++;
        havePrevious_ = true;
    }
    // The state lives in locals for the hot loop: the bytes are chars, which
    // may alias members and would force a reload after every store.
    int previous = previous_, run = run_;
    int differences[kMaxSearchLength];
    std::copy(std::begin(differences_), std::end(differences_), differences);
    const int completeRun = completeRun_;
    for (;;) {
        int head = previous;
        while (bytes < end) {
            head = previous;
            previous = *bytes++;
            if (differences[run] == head - previous) {
                if (++run == completeRun) break;
            } else if (run > 0) {
                run = 0;  // the breaking pair is not tried as a new start
            } else {
                // Waiting for the first difference: nothing else can change
                // the state, so jump to the next pair that has it and is
                // followed by the second. Pairs with the first difference
                // just before it take turns as start and breaker, so the
                // stepping resumes where that row begins.
                const std::uint8_t* const from = bytes - 1;
                std::size_t next = findPairsWithDifferences(from, end - from, differences[0], differences[1], width_);
                while (next > 1 && from[next - 2] - from[next - 1] == differences[0]) --next;
                previous = from[next - 1];
                bytes = from + next;
            }
        }
        if (run < completeRun) break;
        // Offsets count from the byte that stands for the first character.
        pending_ = {fed_ + (bytes - begin) - 1 - completeRun, head - lastCharacter_};
        run = 0;
        matchPending_ = true;
        havePrevious_ = false;
        if (bytes == end) break;
        ++bytes;
        reportMatch();
        if (bytes == end) break;
        previous = *bytes++;
        havePrevious_ = true;
    }
    previous_ = previous;
    run_ = run;
    fed_ += static_cast<std::int64_t>(size);
}

void RelativeScanner::finish() {
    if (matchPending_) reportMatch();
}

void RelativeScanner::reportMatch() {
    matchPending_ = false;
    onMatch_(pending_);
}

SearchSummary scanForMatches(InputStream& input, std::string_view searchString,
                             const RelativeScanner::MatchHandler& onMatch) {
    SearchSummary summary;
    std::int32_t previousShift = 0;
    RelativeScanner scanner(searchString, [&](const Match& match) {
        onMatch(match);
        if (summary.matchCount == 0) previousShift = match.shift;
        ++summary.matchCount;
        if (summary.shiftsAgree) {
            summary.shiftsAgree = match.shift == previousShift;
            previousShift = match.shift;
        }
        summary.lastShift = match.shift;
    });
    while (input.fill()) {
        scanner.feed(input.data(), input.available());
        input.consume(input.available());
    }
    scanner.finish();
    return summary;
}

}  // namespace glyphound
