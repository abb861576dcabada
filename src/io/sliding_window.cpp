#include "io/sliding_window.hpp"

#include <algorithm>
#include <cstring>

namespace glyphound {

SlidingWindow::SlidingWindow(ByteSource& source, std::size_t behind, std::size_t ahead, std::uint64_t origin)
    : source_(source),
      behind_(behind),
      ahead_(std::max<std::size_t>(ahead, 1)),
      seam_(2 * (behind_ + ahead_)),
      view_(seam_.data()),
      start_(origin),
      origin_(origin),
      lentOrigin_(origin) {}

bool SlidingWindow::refill() {
    for (;;) {
        if (viewingSeam() && lentBlockServes()) viewLentBlock();
        if (ahead() >= ahead_ || ended_) return ahead() > 0;
        if (!viewingSeam()) {
            keepInSeam();
            lentCopied_ = lent_.read.count;
        } else if (lentCopied_ < lent_.read.count) {
            takeFromLentBlock();
        } else {
            borrow();
        }
    }
}

// The lent block holds the position with as much before it as the seam
// keeps, and enough after it.
bool SlidingWindow::lentBlockServes() const {
    if (offset() < lentOrigin_) return false;
    const std::uint64_t at = offset() - lentOrigin_;
    return (at >= behind_ || lentOrigin_ == start_) && at + ahead_ <= lent_.read.count;
}

void SlidingWindow::viewLentBlock() {
    position_ = static_cast<std::size_t>(offset() - lentOrigin_);
    origin_ = lentOrigin_;
    view_ = lent_.bytes;
    end_ = lent_.read.count;
}

// What the position may look back at and what follows it go to the front of
// the seam: near the lent block's end, to be joined with the next block there.
void SlidingWindow::keepInSeam() {
    const std::size_t keepFrom = position_ - behind();
    std::memmove(seam_.data(), view_ + keepFrom, end_ - keepFrom);
    view_ = seam_.data();
    origin_ += keepFrom;
    position_ -= keepFrom;
    end_ -= keepFrom;
}

void SlidingWindow::takeFromLentBlock() {
    keepInSeam();
    const std::size_t count = std::min(lent_.read.count - lentCopied_, seam_.size() - end_);
    std::memcpy(seam_.data() + end_, lent_.bytes + lentCopied_, count);
    end_ += count;
    lentCopied_ += count;
}

// Only once the seam holds every byte of the last block still needed.
void SlidingWindow::borrow() {
    lent_ = source_.lend(scratch_);
    lentOrigin_ = origin_ + end_;
    lentCopied_ = 0;
    failed_ = lent_.read.failed;
    ended_ = lent_.read.count == 0;
}

}  // namespace glyphound
