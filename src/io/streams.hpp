#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system.hpp"

namespace glyphound {

enum class Buffering { Full, Line, None };

struct OutputOptions {
    Buffering buffering = Buffering::Full;
    bool lfToCrLf = false;  // text-stream rule of the console streams
    std::size_t blockSize = kDefaultBlockSize;
};

// Buffered writer. The first failed write is remembered and everything after
// it is dropped, so a broken pipe or a full disk never stops the caller.
class OutputStream {
public:
    OutputStream(std::unique_ptr<ByteSink> sink, OutputOptions options);
    ~OutputStream();
    OutputStream(const OutputStream&) = delete;
    OutputStream& operator=(const OutputStream&) = delete;

    void write(const std::uint8_t* data, std::size_t size);
    // Room for `size` bytes at the end of the output, to be filled in place
    // before the next call, for a pass that makes its bytes rather than
    // copies them. Not for a stream that translates line ends.
    std::uint8_t* room(std::size_t size);
    // The last `size` bytes of that room were left unfilled.
    void giveBack(std::size_t size) { used_ -= size; }
    void print(std::string_view text);
    void flush();
    // Flushes and releases the sink; false if any byte was lost.
    bool close();
    // Drops what is buffered and releases the sink without closing it, so
    // that a replacement file is removed instead of put in place.
    void abandon();
    bool failed() const { return failed_; }
    // The system's reason for the first failure, when it gave one.
    std::string failure() const { return failure_; }
    // The first failure was a reader that went away.
    bool readerGone() const { return readerGone_; }

private:
    void writeTranslated(const std::uint8_t* data, std::size_t size);
    void append(const std::uint8_t* data, std::size_t size);
    void makeRoom(std::size_t size);
    void writeToSink(const std::uint8_t* data, std::size_t size);
    void fail();

    std::unique_ptr<ByteSink> sink_;
    OutputOptions options_;
    std::vector<std::uint8_t> buffer_;  // its first used_ bytes wait to be written
    std::size_t used_ = 0;
    bool failed_ = false;
    bool closed_ = false;
    std::string failure_;
    bool readerGone_ = false;
};

struct InputOptions {
    bool crLfToLf = false;  // text-stream rule of standard input
    // Written out before every new block is fetched, so that a prompt is
    // visible before the program waits for input.
    OutputStream* flushBeforeFill = nullptr;
    std::size_t blockSize = kDefaultBlockSize;
};

// Buffered reader whose block is open to callers: tight loops work on
// data()/available() directly and call fill() only when the block is used up.
class InputStream {
public:
    InputStream(std::unique_ptr<ByteSource> source, InputOptions options);

    const std::uint8_t* data() const { return view_ + position_; }
    std::size_t available() const { return end_ - position_; }
    void consume(std::size_t count) { position_ += count; }

    // Makes at least one byte available; false at the end of the data, after
    // a read error, or once closed. The end is final.
    bool fill();
    int peek();  // next byte, or -1 at the end
    bool readFailed() const { return readFailed_; }
    std::string failure() const { return source_->failure(); }
    void discardBuffered();
    // Every later fill fails at once.
    void close();
    bool closed() const { return closed_; }

private:
    ReadResult readTranslated(std::size_t held);
    ReadResult lendUntranslated();
    std::size_t dropCrBeforeLf(std::size_t size);

    std::unique_ptr<ByteSource> source_;
    InputOptions options_;
    std::vector<std::uint8_t> buffer_;
    const std::uint8_t* view_ = nullptr;  // the block: buffer_ or bytes the source lends
    std::size_t position_ = 0;
    std::size_t end_ = 0;
    bool heldCr_ = false;  // a CR that ended a block waits to see what follows
    bool ended_ = false;
    bool readFailed_ = false;
    bool closed_ = false;
};

}  // namespace glyphound
