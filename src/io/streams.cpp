#include "io/streams.hpp"

#include <algorithm>
#include <cstring>

namespace glyphound {

OutputStream::OutputStream(std::unique_ptr<ByteSink> sink, OutputOptions options)
    : sink_(std::move(sink)), options_(options) {}

OutputStream::~OutputStream() { close(); }

void OutputStream::write(const std::uint8_t* data, std::size_t size) {
    if (closed_) return;
    if (options_.lfToCrLf)
        writeTranslated(data, size);
    else
        append(data, size);
    if (options_.buffering == Buffering::None ||
        (options_.buffering == Buffering::Line && std::memchr(data, '\n', size) != nullptr))
        flush();
}

void OutputStream::print(std::string_view text) {
    write(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

void OutputStream::writeTranslated(const std::uint8_t* data, std::size_t size) {
    static const std::uint8_t crLf[] = {'\r', '\n'};
    const std::uint8_t* end = data + size;
    while (data < end) {
        const auto* lf = static_cast<const std::uint8_t*>(std::memchr(data, '\n', end - data));
        const std::uint8_t* stop = lf ? lf : end;
        append(data, stop - data);
        if (!lf) break;
        append(crLf, sizeof crLf);
        data = lf + 1;
    }
}

void OutputStream::append(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return;  // nothing to copy, and no buffer may be there yet
    if (used_ + size > options_.blockSize) flush();
    if (size >= options_.blockSize) {
        writeToSink(data, size);
        return;
    }
    makeRoom(size);
    std::memcpy(buffer_.data() + used_, data, size);
    used_ += size;
}

// The buffer takes its memory at the first byte written, so that a stream
// that is never written to, as standard error mostly is, holds none.
void OutputStream::makeRoom(std::size_t size) {
    if (buffer_.size() < used_ + size) buffer_.resize(std::max(options_.blockSize, used_ + size));
}

std::uint8_t* OutputStream::room(std::size_t size) {
    if (used_ + size > options_.blockSize) flush();
    makeRoom(size);
    used_ += size;
    return buffer_.data() + used_ - size;
}

// The block is handed over whole, so that a sink that keeps blocks for a
// writing thread takes it as it is, without a copy.
void OutputStream::flush() {
    if (used_ == 0) return;
    if (!failed_ && !sink_->give(buffer_, used_)) fail();
    used_ = 0;
}

void OutputStream::writeToSink(const std::uint8_t* data, std::size_t size) {
    if (failed_ || size == 0) return;
    if (!sink_->write(data, size)) fail();
}

void OutputStream::fail() {
    if (!failed_) {
        failure_ = sink_->failure();
        readerGone_ = sink_->readerGone();
    }
    failed_ = true;
}

void OutputStream::abandon() {
    used_ = 0;
    closed_ = true;
    sink_.reset();
}

bool OutputStream::close() {
    if (!closed_) {
        flush();
        closed_ = true;
        if (!sink_->close()) fail();
    }
    return !failed_;
}

InputStream::InputStream(std::unique_ptr<ByteSource> source, InputOptions options)
    : source_(std::move(source)), options_(options), buffer_(options.blockSize + 1) {}

bool InputStream::fill() {
    if (available() > 0) return true;
    position_ = end_ = 0;
    while (end_ == 0 && !ended_ && !closed_) {
        if (options_.flushBeforeFill) options_.flushBeforeFill->flush();
        const std::size_t held = heldCr_ ? 1 : 0;
        buffer_[0] = '\r';  // only counts when a CR is held
        heldCr_ = false;
        const ReadResult result = options_.crLfToLf ? readTranslated(held) : lendUntranslated();
        if (result.failed) readFailed_ = true;
        if (result.count == 0) {
            ended_ = true;  // a held CR at the very end stays a CR
            end_ = held;
        }
    }
    return end_ > 0;
}

ReadResult InputStream::readTranslated(std::size_t held) {
    view_ = buffer_.data();
    const ReadResult result = source_->read(buffer_.data() + held, options_.blockSize);
    if (result.count > 0) end_ = dropCrBeforeLf(held + result.count);
    return result;
}

// Bytes that need no translation are looked at where the source holds them.
ReadResult InputStream::lendUntranslated() {
    const LentBytes lent = source_->lend(buffer_);
    view_ = lent.bytes;
    end_ = lent.read.count;
    return lent.read;
}

// Compacts CR LF to LF in place. A CR in the last byte is held back until the
// next block shows whether an LF follows it.
std::size_t InputStream::dropCrBeforeLf(std::size_t size) {
    std::uint8_t* bytes = buffer_.data();
    auto* firstCr = static_cast<std::uint8_t*>(std::memchr(bytes, '\r', size));
    if (!firstCr) return size;
    std::size_t out = firstCr - bytes;
    for (std::size_t in = out; in < size; ++in) {
        if (bytes[in] == '\r') {
            if (in + 1 == size) {
                heldCr_ = true;
                break;
            }
            if (bytes[in + 1] == '\n') continue;
        }
        bytes[out++] = bytes[in];
    }
    return out;
}

int InputStream::peek() { return fill() ? data()[0] : -1; }

void InputStream::discardBuffered() {
    position_ = end_ = 0;
    heldCr_ = false;
}

void InputStream::close() {
    discardBuffered();
    closed_ = true;
    source_.reset();
}

}  // namespace glyphound
