#include <gtest/gtest.h>

#include "memory_environment.hpp"
#include "shifter/byte_shifter.hpp"

namespace glyphound {
namespace {

using testing::Bytes;
using testing::MemoryEnvironment;

struct AmountCase {
    const char* typed;
    SearchSummary summary;
    std::int64_t amount;
    bool asked;
};

TEST(ShiftAmount, FromTheMatchesOrFromThePositionOfA) {
    const AmountCase cases[] = {
        {"", {1, 63, true}, -63, false},
        {"", {2, 63, true}, -63, false},
        {"", {3, -20, true}, 20, false},
        {"128\n", {3, 63, false}, -63, true},
        {"65\n", {3, 63, false}, 0, true},
        {"xyz\n", {3, 63, false}, 2, true},  // the last shift stands in for the position
        {"0x80\n", {3, 63, false}, 65, true},
        {"-2147483648\n", {3, 63, false}, 2147483713, true},
        {"2147483647\n", {3, 63, false}, 65 - 2147483647LL, true},
    };
    for (const AmountCase& c : cases) {
        MemoryEnvironment environment(c.typed);
        Dialogue dialogue(environment, "glyphound");
        SearchSummary summary = c.summary;
        EXPECT_EQ(chooseAmount(dialogue, summary), c.amount) << c.typed;
        EXPECT_EQ(environment.output() == "Where should the letter 'A' be in the CHR bank? ", c.asked)
            << c.typed;
    }
}

Bytes pass(const Bytes& data, std::int64_t amount) {
    auto written = std::make_shared<Bytes>();
    InputStream input(std::make_unique<MemorySource>(data, 3), {});
    OutputStream output(std::make_unique<MemorySink>(written), {Buffering::Full, false, 4});
    EXPECT_EQ(shiftPass(input, output, amount), PassOutcome::Done);
    return *written;
}

TEST(ShiftPass, EveryByteMovesModulo256) {
    EXPECT_EQ(pass({0x10, 0x80, 0x00, 0xFF, 0x41}, -63), (Bytes{0xD1, 0x41, 0xC1, 0xC0, 0x02}));
    EXPECT_EQ(pass({0xD1, 0x41}, 63), (Bytes{0x10, 0x80}));
    EXPECT_EQ(pass({1, 2, 3}, -256), (Bytes{1, 2, 3}));
    EXPECT_EQ(pass({1, 2, 3}, 2147483713), (Bytes{66, 67, 68}));
    EXPECT_EQ(pass({}, 5), Bytes{});
}

class FullSink : public ByteSink {
public:
    bool write(const std::uint8_t*, std::size_t) override { return false; }
};

TEST(ShiftPass, WriteFailureIsReported) {
    InputStream input(std::make_unique<MemorySource>(Bytes(100, 7)), {});
    OutputStream output(std::make_unique<FullSink>(), {});
    EXPECT_EQ(shiftPass(input, output, 1), PassOutcome::WriteFailed);
}

class FailingSource : public ByteSource {
public:
    ReadResult read(std::uint8_t*, std::size_t) override { return {0, true}; }
};

TEST(ShiftPass, ReadErrorIsNotTakenForTheEnd) {
    auto written = std::make_shared<Bytes>();
    InputStream input(std::make_unique<FailingSource>(), {});
    OutputStream output(std::make_unique<MemorySink>(written), {});
    EXPECT_EQ(shiftPass(input, output, 1), PassOutcome::ReadFailed);
}

}  // namespace
}  // namespace glyphound
