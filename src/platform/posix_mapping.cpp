#include "platform/posix_mapping.hpp"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

namespace glyphound {
namespace {

// Every live mapping of the process, read by the signal handler: a fixed
// table of lock-free slots, as a handler may neither lock nor allocate.
struct Guard {
    std::atomic<std::uintptr_t> start{0}, end{0};
    std::atomic<bool> taken{false}, shrank{false};
};
constexpr int kGuards = 64;
Guard guards[kGuards];
struct sigaction previousAction;

// A fault in a guarded mapping: zeros take the place of the whole mapping,
// and the read that faulted runs again on them. A fault anywhere else is not
// ours: the action the program had before takes over, and the fault repeats
// under it.
extern "C" void zeroShrunkMapping(int signalNumber, siginfo_t* info, void*) {
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (Guard& guard : guards) {
        const std::uintptr_t start = guard.start.load(), end = guard.end.load();
        if (start == 0 || address < start || address >= end) continue;
        void* zeros = ::mmap(reinterpret_cast<void*>(start), end - start, PROT_READ,
                             MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        if (zeros != MAP_FAILED) {
            guard.shrank = true;
            return;
        }
    }
    ::sigaction(signalNumber, &previousAction, nullptr);
}

bool installHandler() {
    struct sigaction action {};
    action.sa_sigaction = zeroShrunkMapping;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    return ::sigaction(SIGBUS, &action, &previousAction) == 0;
}

int takeGuard() {
    static const bool installed = installHandler();
    if (!installed) return -1;
    for (int guard = 0; guard < kGuards; ++guard) {
        bool expected = false;
        if (guards[guard].taken.compare_exchange_strong(expected, true)) return guard;
    }
    return -1;
}

std::size_t pageSize() {
    static const auto size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return size;
}

}  // namespace

bool GuardedMapping::map(int fd, std::uint64_t offset, std::size_t count) {
    release();
    if (count == 0) return false;
    const std::uint64_t pageStart = offset - offset % pageSize();
    const std::size_t length = count + static_cast<std::size_t>(offset - pageStart);
    guard_ = takeGuard();
    if (guard_ < 0) return false;
    void* at = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, static_cast<off_t>(pageStart));
    if (at == MAP_FAILED) {
        release();
        return false;
    }
    start_ = at;
    length_ = length;
    bytes_ = static_cast<const std::uint8_t*>(at) + (offset - pageStart);
    size_ = count;
    Guard& guard = guards[guard_];
    guard.shrank = false;
    guard.end = reinterpret_cast<std::uintptr_t>(at) + length;
    guard.start = reinterpret_cast<std::uintptr_t>(at);
    return true;
}

bool GuardedMapping::shrank() const { return guard_ >= 0 && guards[guard_].shrank.load(); }

void GuardedMapping::release() {
    if (guard_ >= 0) {
        guards[guard_].start = 0;
        guards[guard_].end = 0;
        guards[guard_].taken = false;
        guard_ = -1;
    }
    if (start_) ::munmap(start_, length_);
    start_ = nullptr;
    bytes_ = nullptr;
    length_ = size_ = 0;
}

}  // namespace glyphound
