// Sets of bytes tested 64 at a time: every vector width finds the rows that
// a byte-by-byte reading finds, over every byte value.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "search/byte_set.hpp"

namespace glyphound::testing {
namespace {

TEST(ByteSetDifferential, RowsOfEveryWidth) {
    std::mt19937 random(64);
    for (int trial = 0; trial < 2000; ++trial) {
        ByteSet set;
        // Half the trials draw from a few byte values, so that long rows and
        // empty sets come often; a quarter make a set of a few bytes, which
        // random bytes hold seldom.
        const unsigned values = random() % 2 ? 256 : 4;
        const unsigned density = random() % 4 == 0 ? 1 + random() % 4 : 1 + random() % 256;  // of 256
        for (unsigned byte = 0; byte < values; ++byte)
            if (random() % 256 < density) set.add(static_cast<std::uint8_t>(byte));
        std::vector<std::uint8_t> data(1 + random() % 400);
        for (std::uint8_t& byte : data) byte = static_cast<std::uint8_t>(random() % values);
        // And some plant a set of a few bytes among the others, in short rows.
        if (set.size() > 0 && set.size() <= ByteSet::kFew && random() % 2)
            for (std::size_t at = 0; at < data.size(); at += 1 + random() % 16)
                data[at] = set.few()[random() % static_cast<unsigned>(set.size())];
        const std::size_t to = data.size() - 1, from = random() % (to + 1), length = 1 + random() % 80;
        const auto runAt = [&](std::size_t at) {
            std::size_t run = 0;
            while (at + run < to && set.has(data[at + run])) ++run;
            return run;
        };
        std::size_t row = to;
        for (std::size_t at = to; at-- > from;) {
            const std::size_t run = runAt(at);
            if ((at == from || !set.has(data[at - 1])) && run > 0 && (run >= length || at + run == to)) row = at;
        }
        for (VectorWidth width : {VectorWidth::Scalar, VectorWidth::Bits128, VectorWidth::Bits256, VectorWidth::Best}) {
            if (!vectorWidthAvailable(width)) continue;
            ASSERT_EQ(set.firstRow(data.data(), from, to, length, width), row) << trial;
        }
    }
}

}  // namespace
}  // namespace glyphound::testing
