#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "io/streams.hpp"
#include "platform/system.hpp"

namespace glyphound {

// A part of a source that several passes read side by side: from `start`,
// to `end`, offsets in the source.
struct Part {
    std::uint64_t start = 0;
    std::uint64_t end = UINT64_MAX;
};

// A window over a source that a pass moves through: it keeps up to `behind`
// bytes before the position, for context, and at least `ahead` bytes after it
// wherever the data has them, so that anything up to that long is seen whole.
// It looks at the blocks the source lends where they lie, and copies bytes
// only at the seam between two blocks, so memory stays at one block.
class SlidingWindow {
public:
    // `origin`: the offset of the source's next byte.
    SlidingWindow(ByteSource& source, std::size_t behind, std::size_t ahead, std::uint64_t origin = 0);

    // Reads until `ahead` bytes follow the position or the data has ended;
    // false when no byte is left there. A read error ends the data. Bytes
    // seen before are valid only until the next call.
    bool fill() { return (ahead() >= ahead_ && !viewingSeam()) || refill(); }
    const std::uint8_t* position() const { return view_ + position_; }
    std::size_t ahead() const { return end_ - position_; }
    std::size_t behind() const { return position_ < behind_ ? position_ : behind_; }
    std::uint64_t offset() const { return origin_ + position_; }
    // By at most ahead().
    void advance(std::size_t count) { position_ += count; }
    bool ended() const { return ended_; }
    bool failed() const { return failed_; }

private:
    bool refill();
    bool viewingSeam() const { return view_ == seam_.data(); }
    bool lentBlockServes() const;
    void viewLentBlock();
    void keepInSeam();
    void takeFromLentBlock();
    void borrow();

    ByteSource& source_;
    std::size_t behind_, ahead_;
    // The bytes around a seam between two lent blocks, and room for a source
    // that lends none of its own to read into, which stays empty for one that
    // does.
    std::vector<std::uint8_t> seam_, scratch_;
    const std::uint8_t* view_;              // the seam or the lent block
    std::size_t position_ = 0, end_ = 0;    // where the pass is in the view, and the view's end
    std::uint64_t start_;                   // the offset of the source's first byte: none lies before it
    std::uint64_t origin_;                  // the offset of view_[0]
    LentBytes lent_;                        // the last block the source lent
    std::uint64_t lentOrigin_;
    std::size_t lentCopied_ = 0;            // its bytes the seam holds, from its start
    bool ended_ = false, failed_ = false;
};

}  // namespace glyphound
