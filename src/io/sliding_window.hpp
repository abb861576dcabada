#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "io/streams.hpp"
#include "platform/system.hpp"

namespace glyphound {

// A window over a source that a pass moves through: it keeps up to `behind`
// bytes before the position, for context, and reads in large blocks so that
// at least `ahead` bytes follow the position wherever the data has them, so
// that anything up to that long is seen whole. Memory stays at one block.
class SlidingWindow {
public:
    SlidingWindow(ByteSource& source, std::size_t behind, std::size_t ahead,
                  std::size_t block = kDefaultBlockSize);

    // Reads until `ahead` bytes follow the position or the data has ended;
    // false when no byte is left there. A read error ends the data.
    bool fill();
    const std::uint8_t* position() const { return bytes_.data() + position_; }
    std::size_t ahead() const { return end_ - position_; }
    std::size_t behind() const { return position_ < behind_ ? position_ : behind_; }
    std::uint64_t offset() const { return origin_ + position_; }
    // By at most ahead().
    void advance(std::size_t count) { position_ += count; }
    bool ended() const { return ended_; }
    bool failed() const { return failed_; }

private:
    ByteSource& source_;
    std::size_t behind_, ahead_;
    std::vector<std::uint8_t> bytes_;
    std::size_t position_ = 0, end_ = 0;  // where the pass is, and the end of what was read
    std::uint64_t origin_ = 0;                       // the source offset of bytes_[0]
    bool ended_ = false, failed_ = false;
};

}  // namespace glyphound
