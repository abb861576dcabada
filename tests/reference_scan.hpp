#pragma once

// The relative search stepped literally, one byte at a time, exactly as its
// state machine is written down: the yardstick for the fast scan.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "search/relative_search.hpp"

namespace glyphound::testing {

inline std::vector<Match> referenceScan(const std::vector<std::uint8_t>& data, const std::string& word) {
    std::vector<Match> matches;
    const int last = static_cast<int>(word.size()) - 1;
    auto s = [&](int i) { return static_cast<int>(static_cast<std::int8_t>(word[i])); };
    std::size_t next = 0;
    auto read = [&](int& byte) { return next < data.size() && (byte = data[next++], true); };
    std::int64_t counter = 0;
    int run = 0, previous = 0, current = 0, pairHead = 0;
    for (;;) {
        read(previous);
        while (read(current) && run != last) {
            ++counter;
            run = s(run) - s(run + 1) == previous - current ? run + 1 : 0;
            pairHead = previous;
            previous = current;
        }
        if (run != last) return matches;
        matches.push_back({counter - last, pairHead - s(last - 1)});
        run = 0;
        counter += 2;
    }
}

// The fast scan, for every vector width this processor runs, over `data` cut
// into blocks of the given sizes in turn, finds what the reference finds.
inline bool scansAgree(const std::vector<std::uint8_t>& data, const std::string& word,
                       const std::vector<std::size_t>& blocks) {
    const std::vector<Match> expected = referenceScan(data, word);
    for (VectorWidth width : {VectorWidth::Scalar, VectorWidth::Bits128, VectorWidth::Bits256, VectorWidth::Best}) {
        if (!vectorWidthAvailable(width)) continue;
        std::vector<Match> matches;
        RelativeScanner scanner(word, [&](const Match& m) { matches.push_back(m); }, width);
        for (std::size_t at = 0, cut = 0; at < data.size(); at += blocks[cut++ % blocks.size()])
            scanner.feed(data.data() + at, std::min(data.size() - at, blocks[cut % blocks.size()]));
        scanner.finish();
        if (matches != expected) return false;
    }
    return true;
}

}  // namespace glyphound::testing
