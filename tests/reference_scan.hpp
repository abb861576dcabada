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
    auto read = [&](int& byte) {
        if (next == data.size()) return false;
        byte = data[next++];
        return true;
    };
    std::int64_t counter = 0;
    int run = 0, previous = 0, current = 0, pairHead = 0;
    for (;;) {
        read(previous);
        while (read(current)) {
            if (run == last) break;
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

// The fast scan over `data` cut into blocks of the given sizes (repeated).
inline std::vector<Match> fastScan(const std::vector<std::uint8_t>& data, const std::string& word,
                                   VectorWidth width, const std::vector<std::size_t>& blockSizes) {
    std::vector<Match> matches;
    RelativeScanner scanner(word, [&](const Match& m) { matches.push_back(m); }, width);
    std::size_t at = 0;
    for (std::size_t cut = 0; at < data.size(); ++cut) {
        const std::size_t block = blockSizes.empty() ? data.size() : blockSizes[cut % blockSizes.size()];
        const std::size_t size = std::min(data.size() - at, block == 0 ? 1 : block);
        scanner.feed(data.data() + at, size);
        at += size;
    }
    scanner.finish();
    return matches;
}

}  // namespace glyphound::testing
