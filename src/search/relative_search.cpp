#include "search/relative_search.hpp"

#include <string>

namespace glyphound {
namespace {

int signedCharacter(char c) { return static_cast<std::int8_t>(c); }

}  // namespace

RelativeScanner::RelativeScanner(std::string_view searchString, MatchHandler onMatch,
                                 VectorWidth width)
    : completeRun_(static_cast<int>(searchString.size()) - 1),
      lastCharacter_(signedCharacter(searchString[searchString.size() - 2])),
      onMatch_(std::move(onMatch)),
      width_(width) {
    for (int i = 0; i < completeRun_; ++i)
        differences_[i] = signedCharacter(searchString[i]) - signedCharacter(searchString[i + 1]);
}

void RelativeScanner::feed(const std::uint8_t* bytes, std::size_t size) {
    const std::uint8_t* const end = bytes + size;
    if (!havePrevious_ && bytes < end) {
        previous_ = *bytes++;
        havePrevious_ = true;
    }
    // The state lives in locals for the hot loop: the bytes are chars, which
    // may alias members and would force a reload after every store.
    int previous = previous_, pairHead = pairHead_, run = run_;
    std::int64_t counter = counter_;
    while (bytes < end) {
        const int current = *bytes++;
        if (run == completeRun_) {
            pairHead_ = pairHead;
            counter_ = counter;
            reportMatch();  // `current` is dropped with it
            counter = counter_;
            run = 0;
            if (bytes == end) return;
            previous = *bytes++;
            havePrevious_ = true;
            continue;
        }
        ++counter;
        const bool extends = differences_[run] == previous - current;
        pairHead = previous;
        previous = current;
        if (extends) {
            ++run;
        } else if (run > 0) {
            run = 0;  // the breaking pair is not tried as a new start
        } else {
            // Waiting for the first difference: nothing else can change the
            // state, so jump to the next pair that has it.
            const std::uint8_t* const from = bytes - 1;
            const std::size_t next = findPairWithDifference(from, end - from, differences_[0], width_);
            counter += static_cast<std::int64_t>(next) - 1;
            previous = from[next - 1];
            bytes = from + next;
        }
    }
    previous_ = previous;
    pairHead_ = pairHead;
    run_ = run;
    counter_ = counter;
}

void RelativeScanner::finish() {
    if (havePrevious_ && run_ == completeRun_) reportMatch();
}

void RelativeScanner::reportMatch() {
    const Match match{counter_ - completeRun_, pairHead_ - lastCharacter_};
    run_ = 0;
    counter_ += 2;  // the dropped byte, and the one read next as the previous byte
    havePrevious_ = false;
    onMatch_(match);
}

SearchSummary scanForMatches(InputStream& input, std::string_view searchString,
                             OutputStream& output) {
    SearchSummary summary;
    std::int32_t previousShift = 0;
    RelativeScanner scanner(searchString, [&](const Match& match) {
        output.print("Match found at offset " + std::to_string(match.offset) + ", shifted by " +
                     std::to_string(match.shift) +
                     "\tLetter 'A' in CHR Bank should be at position " +
                     std::to_string(match.shift + 65) + "\n");
        output.flush();
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
    output.print("\nNo Further Matches Found.\n\n");
    return summary;
}

}  // namespace glyphound
