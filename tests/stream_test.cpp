#include <gtest/gtest.h>

#include "memory_environment.hpp"
#include "platform/streams.hpp"

namespace glyphound {
namespace {

using testing::Bytes;
using testing::bytesOf;
using testing::textOf;

std::string readAll(InputStream& input) {
    std::string all;
    while (input.fill()) {
        all.append(reinterpret_cast<const char*>(input.data()), input.available());
        input.consume(input.available());
    }
    return all;
}

std::string readText(const std::string& raw, std::size_t chunk, bool translate = true) {
    InputStream input(std::make_unique<MemorySource>(bytesOf(raw), chunk),
                      InputOptions{translate, nullptr, 8});
    return readAll(input);
}

TEST(TextInput, CrLfBecomesLfWhateverTheBlockEdges) {
    const std::string raw = "ab\r\ncd\r\r\nx\ry\r\n\r\n";
    const std::string expected = "ab\ncd\r\nx\ry\n\n";
    for (std::size_t chunk = 1; chunk <= raw.size(); ++chunk)
        EXPECT_EQ(readText(raw, chunk), expected) << "chunk " << chunk;
}

TEST(TextInput, CrAtTheEndOfInputStays) {
    EXPECT_EQ(readText("abc\r", 3), "abc\r");
    EXPECT_EQ(readText("\r", 1), "\r");
    EXPECT_EQ(readText("\r\r", 1), "\r\r");
}

TEST(TextInput, RawInputKeepsEveryByte) {
    EXPECT_EQ(readText("a\r\nb\x1a\r", 2, false), "a\r\nb\x1a\r");
}

TEST(TextInput, FetchingABlockWritesOutTheTiedOutput) {
    auto written = std::make_shared<Bytes>();
    OutputStream output(std::make_unique<MemorySink>(written), {Buffering::Full, false});
    InputStream input(std::make_unique<MemorySource>(bytesOf("x")), {false, &output, 8});
    output.print("prompt: ");
    EXPECT_TRUE(written->empty());
    input.peek();
    EXPECT_EQ(textOf(*written), "prompt: ");
}

TEST(TextInput, ClosedInputReadsNothingMore) {
    InputStream input(std::make_unique<MemorySource>(bytesOf("abc")), {});
    input.close();
    EXPECT_EQ(input.peek(), -1);
    EXPECT_TRUE(input.closed());
}

class FailingSource : public ByteSource {
public:
    ReadResult read(std::uint8_t* buffer, std::size_t) override {
        if (calls_++ == 0) {
            buffer[0] = 'a';
            return {1, false};
        }
        return {0, true};
    }

private:
    int calls_ = 0;
};

TEST(TextInput, ReadErrorEndsTheDataAndIsRemembered) {
    InputStream input(std::make_unique<FailingSource>(), {});
    EXPECT_EQ(readAll(input), "a");
    EXPECT_TRUE(input.readFailed());
}

TEST(TextOutput, LfIsWrittenAsCrLf) {
    auto written = std::make_shared<Bytes>();
    OutputStream output(std::make_unique<MemorySink>(written), {Buffering::Full, true, 4});
    output.print("\nab\n\ncdefgh\n");
    output.flush();
    EXPECT_EQ(textOf(*written), "\r\nab\r\n\r\ncdefgh\r\n");
}

TEST(TextOutput, LineBufferingWritesOutAtEachNewline) {
    auto written = std::make_shared<Bytes>();
    OutputStream output(std::make_unique<MemorySink>(written), {Buffering::Line, false});
    output.print("prompt ");
    EXPECT_EQ(textOf(*written), "");
    output.print("line\n");
    EXPECT_EQ(textOf(*written), "prompt line\n");
}

class BrokenSink : public ByteSink {
public:
    bool write(const std::uint8_t*, std::size_t) override {
        ++writes;
        return false;
    }
    int writes = 0;
};

TEST(TextOutput, FailedWriteIsRememberedAndLaterBytesDropped) {
    auto sink = std::make_unique<BrokenSink>();
    BrokenSink* broken = sink.get();
    OutputStream output(std::move(sink), {Buffering::None, false});
    output.print("a");
    output.print("b");
    EXPECT_TRUE(output.failed());
    EXPECT_FALSE(output.close());
    EXPECT_EQ(broken->writes, 1);
}

}  // namespace
}  // namespace glyphound
