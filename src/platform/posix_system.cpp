#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <limits>
#include <csignal>
#include <cstring>

#include "platform/posix_mapping.hpp"
#include "platform/sharing.hpp"
#include "platform/system.hpp"

namespace glyphound {
namespace {

// Lends the bytes of a regular file through a mapping, a window at a time:
// a pass reads them where the system's cache holds them, with no copy. Other
// descriptors, and files the system won't map, are read.
class DescriptorSource : public ByteSource {
public:
    explicit DescriptorSource(int fd) : fd_(fd) {
        struct stat status {};
        mapsWindows_ = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    }
    ReadResult read(std::uint8_t* buffer, std::size_t capacity) override {
        if (reportShrunkWindow()) return {0, true};
        for (;;) {
            const ssize_t got = ::read(fd_, buffer, capacity);
            if (got >= 0) return {static_cast<std::size_t>(got), false};
            if (errno != EINTR) {
                failure_ = std::strerror(errno);
                return {0, true};
            }
        }
    }
    LentBytes lend(std::vector<std::uint8_t>& scratch) override {
        if (reportShrunkWindow()) return {nullptr, {0, true}};
        if (mapsWindows_) {
            if (const std::optional<LentBytes> lent = lendWindow()) return *lent;
            mapsWindows_ = false;
        }
        return ByteSource::lend(scratch);
    }
    bool lendsInPlace() const override { return mapsWindows_; }
    bool cutShort() const override { return shrank(); }
    bool skip(std::uint64_t count) override {
        if (reportShrunkWindow()) return false;
        const bool sought = count <= static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()) &&
                            ::lseek(fd_, static_cast<off_t>(count), SEEK_CUR) >= 0;
        return sought || ByteSource::skip(count);
    }

protected:
    virtual bool shrank() const { return window_.shrank(); }

    int fd_;

private:
    // Large enough that the calls per window cost nothing, small enough to
    // keep the memory a pass holds flat. Windows end where the file's
    // offsets are multiples of it: where the system's cache holds the file
    // in huge pages, it then maps each window in one, with one fault rather
    // than one for every few pages, which took more than the scan itself.
    // The system's own read-ahead fills it so from a file not yet cached;
    // asking for the next window ahead (POSIX_FADV_WILLNEED) filled it with
    // small pages instead, and a cold pass took twice as long.
    static constexpr std::size_t kWindow = 2 << 20;

    // The window from the descriptor's place on, which then moves past it, as
    // a read would; nothing at the end of the file; none where the system
    // won't map it.
    std::optional<LentBytes> lendWindow() {
        window_.release();
        struct stat status {};
        const off_t at = ::lseek(fd_, 0, SEEK_CUR);
        if (at < 0 || ::fstat(fd_, &status) != 0) return std::nullopt;
        if (at >= status.st_size) return LentBytes{};
        const std::uint64_t toBoundary = kWindow - static_cast<std::uint64_t>(at) % kWindow;
        const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(toBoundary, status.st_size - at));
        if (!window_.map(fd_, static_cast<std::uint64_t>(at), count)) return std::nullopt;
        if (::lseek(fd_, static_cast<off_t>(at + count), SEEK_SET) < 0) return std::nullopt;
        return LentBytes{window_.bytes(), {count, false}};
    }

    // A mapping the file shrank under was read as zeros: the pass must not
    // take them for the file's bytes.
    bool reportShrunkWindow() {
        if (!shrank()) return false;
        failure_ = kShrankWhileRead;
        return true;
    }

    bool mapsWindows_ = false;
    GuardedMapping window_;
};

class DescriptorSink : public ByteSink {
public:
    explicit DescriptorSink(int fd) : fd_(fd) {}
    bool write(const std::uint8_t* data, std::size_t size) override {
        while (size > 0) {
            const ssize_t put = ::write(fd_, data, size);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) {
                const int error = put < 0 ? errno : ENOSPC;
                failure_ = std::strerror(error);
                readerGone_ = error == EPIPE;
                return false;
            }
            data += put;
            size -= static_cast<std::size_t>(put);
        }
        return true;
    }

protected:
    int fd_;
};

// A file descriptor that holds its place in the sharing registry until closed.
class SharedFile {
public:
    SharedFile(int fd, SharingRegistry& sharing, FileIdentity identity, Access access)
        : fd_(fd), sharing_(sharing), identity_(identity), access_(access) {}
    ~SharedFile() { closeOnce(); }
    SharedFile(const SharedFile&) = delete;
    SharedFile& operator=(const SharedFile&) = delete;

    int fd() const { return fd_; }
    bool closeOnce() {
        if (fd_ < 0) return true;
        const bool closed = ::close(fd_) == 0;
        fd_ = -1;
        sharing_.release(identity_, access_);
        return closed;
    }

private:
    int fd_;
    SharingRegistry& sharing_;
    FileIdentity identity_;
    Access access_;
};

class FileSource : public DescriptorSource {
public:
    explicit FileSource(std::unique_ptr<SharedFile> file)
        : DescriptorSource(file->fd()), file_(std::move(file)) {}
    // The whole file, for passes that reach anywhere in it. Guarded as the
    // windows are: the file shrinking under it is a read error at the next
    // call, not the end of the program.
    std::optional<std::string_view> mapped() override {
        struct stat status {};
        if (::fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 0 ||
            static_cast<std::uint64_t>(status.st_size) > SIZE_MAX)
            return std::nullopt;
        if (status.st_size == 0) return std::string_view();
        if (!whole_.mapped() && !whole_.map(fd_, 0, static_cast<std::size_t>(status.st_size))) return std::nullopt;
        return std::string_view(reinterpret_cast<const char*>(whole_.bytes()), whole_.size());
    }

protected:
    bool shrank() const override { return whole_.shrank() || DescriptorSource::shrank(); }

private:
    std::unique_ptr<SharedFile> file_;
    GuardedMapping whole_;
};

class FileSink : public DescriptorSink {
public:
    explicit FileSink(std::unique_ptr<SharedFile> file)
        : DescriptorSink(file->fd()), file_(std::move(file)) {}
    bool close() override { return file_->closeOnce(); }

private:
    std::unique_ptr<SharedFile> file_;
};

FileIdentity identityOf(const struct stat& status) {
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

// Opens `name` and claims it in the registry; the descriptor is closed again
// when the claim is refused, before anything has been changed. Unless asked
// to wait, the open doesn't block, so a FIFO without a writer can't stop the
// program.
std::unique_ptr<SharedFile> openShared(const std::string& name, int flags, Access access, SharingRegistry& sharing,
                                       struct stat& status, std::string& failure, Waiting waiting = Waiting::No) {
    const int fd = ::open(name.c_str(), flags | O_CLOEXEC | (waiting == Waiting::No ? O_NONBLOCK : 0), 0666);
    if (fd < 0) {
        failure = std::strerror(errno);
        return nullptr;
    }
    const int fdFlags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &status) != 0 || fdFlags < 0 || ::fcntl(fd, F_SETFL, fdFlags & ~O_NONBLOCK) != 0)
        failure = std::strerror(errno);
    else if (S_ISDIR(status.st_mode))
        failure = kIsDirectory;
    else if (!sharing.acquire(identityOf(status), access))
        failure = kSameFile;
    else
        return std::make_unique<SharedFile>(fd, sharing, identityOf(status), access);
    ::close(fd);
    return nullptr;
}

// A temporary file is removed when an interrupt ends the run, so an
// interrupted command leaves the folder as it found it. Only one replacement
// is written at a time.
char pendingTemporary[PATH_MAX];
std::atomic<bool> temporaryPending{false};

extern "C" void removeTemporaryAndDie(int signalNumber) {
    if (temporaryPending.load()) ::unlink(pendingTemporary);
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};

// A signal the program was started with ignored (nohup, `trap '' INT`) stays
// ignored: whoever started it wants the run to survive that signal.
void watchTemporary(const std::string& name) {
    if (name.size() >= sizeof pendingTemporary) return;
    std::memcpy(pendingTemporary, name.c_str(), name.size() + 1);
    temporaryPending = true;
    for (int signalNumber : kInterrupts) {
        struct sigaction current {};
        if (::sigaction(signalNumber, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
            std::signal(signalNumber, removeTemporaryAndDie);
    }
}

void forgetTemporary() { temporaryPending = false; }

// A target held against reading while its replacement is written.
struct Claim {
    Claim(SharingRegistry& sharing, FileIdentity identity) : sharing(sharing), identity(identity) {}
    ~Claim() { sharing.release(identity, Access::Write); }
    SharingRegistry& sharing;
    FileIdentity identity;
};

class ReplacementSink : public DescriptorSink {
public:
    ReplacementSink(int fd, std::string temporary, std::string target, std::unique_ptr<Claim> claim)
        : DescriptorSink(fd), temporary_(std::move(temporary)), target_(std::move(target)), claim_(std::move(claim)) {}
    ~ReplacementSink() override {
        if (fd_ < 0) return;
        ::close(fd_);
        ::unlink(temporary_.c_str());
        forgetTemporary();
    }
    // Each stretch written is sent on its way to the disk at once, so that
    // the disk writes while the rest is made and the sync at the close
    // waits only for the last stretch, not for the whole file.
    bool write(const std::uint8_t* data, std::size_t size) override {
        if (!DescriptorSink::write(data, size)) return false;
        written_ += size;
        if (written_ - sent_ >= kSendEvery) {
            startWriting(sent_, written_ - sent_);
            sent_ = written_;
        }
        return true;
    }
    // The data reaches the disk before the rename, so after a crash the
    // target holds either the old or the new content, never a hole.
    // A replacement that lost a write is never put in place.
    bool close() override {
        if (fd_ < 0) return failure_.empty();
        const bool written = failure_.empty() && (::fsync(fd_) == 0 || errno == EINVAL);
        if (!written && failure_.empty()) failure_ = std::strerror(errno);
        const bool closed = ::close(fd_) == 0;
        if (written && !closed) failure_ = std::strerror(errno);
        fd_ = -1;
        const bool renamed = written && closed && ::rename(temporary_.c_str(), target_.c_str()) == 0;
        if (written && closed && !renamed) failure_ = std::strerror(errno);
        if (!renamed) ::unlink(temporary_.c_str());
        forgetTemporary();
        claim_.reset();
        return renamed;
    }

private:
    static constexpr std::uint64_t kSendEvery = std::uint64_t{1} << 20;

    // Where the system can start the disk's writing of a stretch without
    // waiting for it.
    void startWriting(std::uint64_t from, std::uint64_t count) {
#if defined(__linux__) && defined(SYNC_FILE_RANGE_WRITE)
        ::sync_file_range(fd_, static_cast<off_t>(from), static_cast<off_t>(count), SYNC_FILE_RANGE_WRITE);
#else
        static_cast<void>(from);
        static_cast<void>(count);
#endif
    }

    std::string temporary_, target_;
    std::unique_ptr<Claim> claim_;
    std::uint64_t written_ = 0, sent_ = 0;
};

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

mode_t creationMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// A closed standard descriptor would be taken by the next file opened, and a
// ROM would be read as the user's answers: the null device stands in for it.
// Returns which were closed, as the commands refuse to use those.
std::array<bool, 3> fillClosedStandardDescriptors() {
    constexpr const char* kNullDevice = "/dev/null";
    std::array<bool, 3> closed{};
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        closed[fd] = ::fcntl(fd, F_GETFD) < 0 && errno == EBADF;
        if (closed[fd]) ::open(kNullDevice, O_RDWR);
    }
    return closed;
}

// Where a path leads once every link on the way is followed, even to a file
// that doesn't exist yet; a loop of links is left for the open to report.
std::string followLinks(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        char target[PATH_MAX];
        const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
        if (length < 0 || static_cast<std::size_t>(length) == sizeof target) return path;
        const std::string next(target, static_cast<std::size_t>(length));
        path = next.front() == '/' ? next : folderOf(path) + "/" + next;
    }
    return path;
}

// The temporary file's descriptor; on a name too long for the folder, a
// short one, so that every name the file system takes can be written.
int createTemporary(const std::string& target, std::string& temporary) {
    int fd = -1;
    for (const std::string& base : {baseNameOf(target), std::string("glyphound")}) {
        temporary = folderOf(target) + "/." + base + ".XXXXXX";
        fd = ::mkostemp(temporary.data(), O_CLOEXEC);
        if (fd >= 0 || errno != ENAMETOOLONG) break;
    }
    return fd;
}

// The system doesn't enforce the sharing rules, so the process keeps its own
// record of open files, starting with the regular files its shell opened.
class PosixSystem : public System {
public:
    PosixSystem() : closedAtStart_(fillClosedStandardDescriptors()) {
        for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
            struct stat status {};
            if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode))
                sharing_.hold(identityOf(status), fd == STDIN_FILENO ? Access::Read : Access::Write);
        }
        // A reader that went away must not end the run: file work still completes.
        std::signal(SIGPIPE, SIG_IGN);
    }

    std::unique_ptr<ByteSource> standardInput() override {
        return std::make_unique<DescriptorSource>(STDIN_FILENO);
    }
    std::unique_ptr<ByteSink> standardOutput() override {
        return std::make_unique<DescriptorSink>(STDOUT_FILENO);
    }
    std::unique_ptr<ByteSink> standardError() override {
        return std::make_unique<DescriptorSink>(STDERR_FILENO);
    }

    OpenedFile openStandardInput() override {
        OpenedFile opened;
        struct stat status {};
        if (closedAtStart_[STDIN_FILENO])
            opened.failure = std::strerror(EBADF);
        else if (::fstat(STDIN_FILENO, &status) == 0 && S_ISREG(status.st_mode) &&
                 !sharing_.permits(identityOf(status), Access::Read))
            opened.failure = kSameFile;
        else
            opened.source = standardInput();
        if (S_ISREG(status.st_mode)) opened.size = status.st_size;
        return opened;
    }

    std::string standardOutputFailure() override {
        return closedAtStart_[STDOUT_FILENO] ? std::strerror(EBADF) : "";
    }

    OpenedFile openForReading(const std::string& name, Waiting waiting) override {
        struct stat status {};
        OpenedFile opened;
        auto file = openShared(name, O_RDONLY, Access::Read, sharing_, status, opened.failure, waiting);
        if (!file) return opened;
        opened.rereadable = S_ISREG(status.st_mode) || S_ISBLK(status.st_mode);
        if (S_ISREG(status.st_mode)) opened.size = status.st_size;
        opened.source = std::make_unique<FileSource>(std::move(file));
        return opened;
    }

    std::unique_ptr<ByteSink> openForWriting(const std::string& name) override {
        // Never O_TRUNC: emptying must wait until the registry has agreed, or a
        // file this process is reading could be destroyed by the open itself.
        struct stat status {};
        std::string failure;
        auto file = openShared(name, O_WRONLY | O_CREAT, Access::Write, sharing_, status, failure);
        if (!file) return nullptr;
        // Only a file with content is truncated: ext4 forces every file that was
        // truncated to be written out when it is closed, a cost a new file needn't pay.
        if (S_ISREG(status.st_mode) && status.st_size > 0 && ::ftruncate(file->fd(), 0) != 0)
            return nullptr;
        return std::make_unique<FileSink>(std::move(file));
    }

    Replacement createReplacement(const std::string& name) override {
        const std::string target = followLinks(name);
        struct stat status {};
        const bool exists = ::stat(target.c_str(), &status) == 0;
        if (exists && !S_ISREG(status.st_mode)) return writeDirectly(target);
        std::unique_ptr<Claim> claim;
        if (exists) {
            if (!sharing_.acquire(identityOf(status), Access::Write)) return {nullptr, kSameFile};
            claim = std::make_unique<Claim>(sharing_, identityOf(status));
            if (const std::string refusal = writeRefusal(target); !refusal.empty()) return {nullptr, refusal};
        }
        std::string temporary;
        // An interrupt waits while the file is created and recorded, so it
        // never finds one it doesn't know to remove.
        sigset_t interrupts, previous;
        sigemptyset(&interrupts);
        for (int signalNumber : kInterrupts) sigaddset(&interrupts, signalNumber);
        ::pthread_sigmask(SIG_BLOCK, &interrupts, &previous);
        const int fd = createTemporary(target, temporary);
        const int creationError = errno;
        if (fd >= 0) watchTemporary(temporary);
        ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        if (fd < 0) return {nullptr, std::strerror(creationError)};
        // The owner first: a change of owner clears the set-user-ID bits that
        // the mode then restores.
        if (exists) keepOwner(fd, status);
        ::fchmod(fd, exists ? status.st_mode & 07777 : creationMode());
        return {std::make_unique<ReplacementSink>(fd, temporary, target, std::move(claim)), ""};
    }

    std::optional<FileIdentity> identify(const std::string& name) override {
        struct stat status {};
        if (::stat(name.c_str(), &status) != 0) return std::nullopt;
        return identityOf(status);
    }

    bool outputIsConsole() override { return ::isatty(STDOUT_FILENO) == 1; }
    bool errorIsConsole() override { return ::isatty(STDERR_FILENO) == 1; }

    // Only the processors the process is bound to, as by taskset.
    unsigned processors() override {
        cpu_set_t set;
        if (::sched_getaffinity(0, sizeof set, &set) != 0) return System::processors();
        return static_cast<unsigned>(std::max(1, CPU_COUNT(&set)));
    }

    void readConsoleLine() override {
        std::uint8_t line[256];
        while (::read(STDIN_FILENO, line, sizeof line) < 0 && errno == EINTR) {
        }
    }

private:
    // A file the user may not write is not replaced either, as `cp` and the
    // shell refuse to; the folder's permission alone would allow the rename.
    static std::string writeRefusal(const std::string& target) {
        return ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) == 0 ? "" : std::strerror(errno);
    }

    // Only root may give a file away; anyone else keeps the group where they
    // may, and otherwise the file is theirs, as any file they create.
    static void keepOwner(int fd, const struct stat& status) {
        if (::fchown(fd, status.st_uid, status.st_gid) == 0) return;
        if (::fchown(fd, static_cast<uid_t>(-1), status.st_gid) == 0) return;
    }

    // A device or FIFO keeps its node: it is written in place, under the
    // sharing rules, and a directory is refused.
    Replacement writeDirectly(const std::string& target) {
        struct stat status {};
        std::string failure;
        auto file = openShared(target, O_WRONLY, Access::Write, sharing_, status, failure);
        if (!file) return {nullptr, failure};
        return {std::make_unique<FileSink>(std::move(file)), ""};
    }

    const std::array<bool, 3> closedAtStart_;
    SharingRegistry sharing_;
};

}  // namespace

std::unique_ptr<System> makeSystem() { return std::make_unique<PosixSystem>(); }

}  // namespace glyphound
