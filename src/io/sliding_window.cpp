#include "io/sliding_window.hpp"

#include <algorithm>

namespace glyphound {

SlidingWindow::SlidingWindow(ByteSource& source, std::size_t behind, std::size_t ahead, std::uint64_t origin)
    : source_(source),
      behind_(behind),
      ahead_(std::max<std::size_t>(ahead, 1)),
      seam_(2 * (behind_ + ahead_)),
      scratch_(kDefaultBlockSize),
      view_(seam_.data()),
      start_(origin),
      origin_(origin),
      lentOrigin_(origin) {}

bool SlidingWindow::refill() {
    for (;;) {
        if (viewingSeam() && lentBlockServes()) viewLentBlock();
        if (ahead() >= ahead_ || ended_) return ahead() > 0;
        if (!viewingSeam())
            moveToSeam();
        else if (lentCopied_ < lent_.read.count)
            takeFromLentBlock();
        else
            borrow();
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

// Near the lent block's end: what the position may look back at and the
// block's rest go to the seam, to be joined with the next block there.
void SlidingWindow::moveToSeam() {
    const std::size_t keepFrom = position_ - behind();
    std::copy(view_ + keepFrom, view_ + end_, seam_.begin());
    view_ = seam_.data();
    origin_ += keepFrom;
    position_ -= keepFrom;
    end_ -= keepFrom;
    lentCopied_ = lent_.read.count;
}

void SlidingWindow::takeFromLentBlock() {
    const std::size_t keepFrom = position_ - behind();
    std::copy(seam_.begin() + static_cast<std::ptrdiff_t>(keepFrom), seam_.begin() + static_cast<std::ptrdiff_t>(end_),
              seam_.begin());
    origin_ += keepFrom;
    position_ -= keepFrom;
    end_ -= keepFrom;
    const std::size_t count = std::min(lent_.read.count - lentCopied_, seam_.size() - end_);
    std::copy(lent_.bytes + lentCopied_, lent_.bytes + lentCopied_ + count, seam_.begin() + static_cast<std::ptrdiff_t>(end_));
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
