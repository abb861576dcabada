// The window a pass moves through: wherever the seams between the source's
// blocks fall, it shows the right bytes with the context it promises.
#include <gtest/gtest.h>

#include <random>

#include "io/memory_source.hpp"
#include "io/read_ahead.hpp"
#include "io/sliding_window.hpp"
#include "memory_system.hpp"

namespace glyphound::testing {
namespace {

struct WindowCase {
    std::size_t behind, ahead, chunk;
    bool readAhead, fails;
};

TEST(SlidingWindow, ShowsEveryByteWithItsContextAcrossSeams) {
    const WindowCase cases[] = {
        {0, 1, 1, false, false},       {0, 8, 7, false, false},     {16, 9, 5000, false, false},
        {16, 9, 5000, true, false},    {48, 65544, 3000, true, false}, {3, 2, 1 << 20, true, true},
        {100, 40, 1 << 20, false, true},
    };
    std::mt19937 random(7);
    std::string data(2'600'000, '\0');
    for (char& byte : data) byte = static_cast<char>(random());
    for (const WindowCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "behind " << c.behind << " ahead " << c.ahead << " chunk " << c.chunk);
        std::unique_ptr<ByteSource> source = std::make_unique<MemorySource>(
            data, c.chunk, c.fails ? std::optional(data.size()) : std::nullopt);
        if (c.readAhead) source = readAhead(std::move(source));
        SlidingWindow window(*source, c.behind, c.ahead);
        while (window.fill()) {
            const std::size_t at = static_cast<std::size_t>(window.offset()), left = data.size() - at;
            ASSERT_GE(window.ahead(), std::min(c.ahead, left));
            ASSERT_EQ(window.behind(), std::min(c.behind, at));
            const std::size_t shown = std::min(window.ahead(), 2 * c.ahead);
            ASSERT_EQ(std::string(reinterpret_cast<const char*>(window.position()) - window.behind(),
                                  window.behind() + shown),
                      data.substr(at - window.behind(), window.behind() + shown));
            ASSERT_EQ(static_cast<char>(window.position()[window.ahead() - 1]), data[at + window.ahead() - 1]);
            // Small steps meet the seams; long ones cross whole blocks.
            window.advance(random() % 2 ? 1 + random() % std::min<std::size_t>(window.ahead(), 9)
                                        : 1 + random() % window.ahead());
        }
        EXPECT_EQ(window.offset(), data.size());
        EXPECT_EQ(window.failed(), c.fails);
    }
}

// Bytes a pass holds in memory read as a file does: what a skip or a read
// passes over is not lent again.
TEST(HeldBytes, LendWhatIsLeftAfterASkipAndARead) {
    const std::string bytes = "0123456789";
    struct Row {
        std::uint64_t skipped;
        std::size_t readFirst;
        std::string rest;
    };
    for (const Row& row : {Row{0, 0, "0123456789"}, Row{3, 0, "3456789"}, Row{3, 2, "56789"}, Row{10, 0, ""},
                           Row{99, 0, ""}}) {
        glyphound::MemorySource source(bytes);
        ASSERT_TRUE(source.skip(row.skipped));
        std::vector<std::uint8_t> spare(row.readFirst);
        if (row.readFirst > 0) {
            EXPECT_EQ(source.read(spare.data(), spare.size()).count, row.readFirst);
        }
        const LentBytes lent = source.lend(spare);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(lent.bytes), lent.read.count), row.rest) << row.skipped;
        EXPECT_EQ(source.lend(spare).read.count, 0u);
    }
}

}  // namespace
}  // namespace glyphound::testing
