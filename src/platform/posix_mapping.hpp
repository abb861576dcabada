#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

namespace glyphound {

// A stretch of a file mapped for reading. A mapped file that shrinks under
// the program would kill it at the first byte past the new end (SIGBUS); a
// guarded mapping is replaced by zeros instead, and `shrank()` says so, for
// the reader to report a read error rather than bytes that aren't there.
class GuardedMapping {
public:
    GuardedMapping() = default;
    ~GuardedMapping() { release(); }
    GuardedMapping(const GuardedMapping&) = delete;
    GuardedMapping& operator=(const GuardedMapping&) = delete;

    // `count` bytes from `offset` of `fd`; false where the system maps none
    // or every guard is taken, and the caller reads instead.
    bool map(int fd, std::uint64_t offset, std::size_t count);
    void release();
    const std::uint8_t* bytes() const { return bytes_; }
    bool mapped() const { return bytes_ != nullptr; }
    std::size_t size() const { return size_; }
    bool shrank() const;

private:
    void* start_ = nullptr;  // the page the mapping starts on
    std::size_t length_ = 0;  // from start_
    const std::uint8_t* bytes_ = nullptr;
    std::size_t size_ = 0;
    int guard_ = -1;
};

}  // namespace glyphound
