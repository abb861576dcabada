#include "io/sliding_window.hpp"

#include <algorithm>

namespace glyphound {

SlidingWindow::SlidingWindow(ByteSource& source, std::size_t behind, std::size_t ahead, std::size_t block)
    : source_(source), behind_(behind), ahead_(ahead), bytes_(block + behind + 2 * ahead) {}

bool SlidingWindow::fill() {
    while (ahead() < ahead_ && !ended_) {
        // Keep what the position may still look back at; read after it.
        const std::size_t keepFrom = position_ > behind_ ? position_ - behind_ : 0;
        std::copy(bytes_.begin() + static_cast<std::ptrdiff_t>(keepFrom),
                  bytes_.begin() + static_cast<std::ptrdiff_t>(end_), bytes_.begin());
        origin_ += keepFrom;
        position_ -= keepFrom;
        end_ -= keepFrom;
        const ReadResult got = source_.read(bytes_.data() + end_, bytes_.size() - end_);
        end_ += got.count;
        failed_ = got.failed;
        ended_ = got.count == 0;
    }
    return ahead() > 0;
}

}  // namespace glyphound
