// Writing on a second thread: the bytes arrive in order, whether copied or
// handed over as blocks, a failed write surfaces by a later write and by
// close, a failed close by close, and close waits for everything.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "io/write_behind.hpp"

namespace glyphound::testing {
namespace {

struct RecordingSink : ByteSink {
    // A failing write of -1 is none; of -2, none, but the close fails (as a
    // file's last blocks may fail to reach the disk only then).
    RecordingSink(std::string& written, bool& closed, int failingWrite)
        : written(written), closed(closed), failingWrite(failingWrite) {}
    bool write(const std::uint8_t* data, std::size_t size) override {
        if (writes++ == failingWrite) return failure_ = "No space left on device", false;
        written.append(reinterpret_cast<const char*>(data), size);
        return true;
    }
    bool close() override {
        closed = true;
        if (failingWrite == -2) failure_ = "Input/output error";
        return failingWrite != -2;
    }
    std::string& written;
    bool& closed;
    int failingWrite, writes = 0;
};

TEST(WriteBehind, KeepsTheOrderAndReportsAFailedWrite) {
    for (int failingWrite : {-1, -2, 0, 5}) {
        const bool writesFail = failingWrite >= 0;
        std::string written, expected;
        bool closed = false, accepted = true;
        auto sink = writeBehind(std::make_unique<RecordingSink>(written, closed, failingWrite));
        std::vector<std::uint8_t> given;  // handed over and back, as an output stream's block is
        for (int block = 0; block < 50; ++block) {
            const std::string bytes(1000 + block, static_cast<char>('a' + block % 26));
            if (block % 2 == 0) {
                accepted = sink->write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()) && accepted;
            } else {
                // Only `size` bytes count, and the block that comes back is
                // the caller's to fill at once.
                given.assign(bytes.begin(), bytes.end());
                given.resize(bytes.size() + 7, '#');
                accepted = sink->give(given, bytes.size()) && accepted;
                std::fill(given.begin(), given.end(), '!');
            }
            if (!writesFail || block < failingWrite) expected += bytes;
        }
        EXPECT_EQ(sink->close(), failingWrite == -1);
        EXPECT_EQ(written, expected);
        EXPECT_EQ(closed, !writesFail);
        EXPECT_EQ(accepted, !writesFail);
        EXPECT_EQ(sink->failure(), failingWrite == -1 ? "" : writesFail ? "No space left on device" : "Input/output error");
    }
}

}  // namespace
}  // namespace glyphound::testing
