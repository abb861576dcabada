#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/sharing.hpp"
#include "platform/system.hpp"

namespace glyphound {
namespace {

class DescriptorSource : public ByteSource {
public:
    explicit DescriptorSource(int fd) : fd_(fd) {}
    ReadResult read(std::uint8_t* buffer, std::size_t capacity) override {
        for (;;) {
            const ssize_t got = ::read(fd_, buffer, capacity);
            if (got >= 0) return {static_cast<std::size_t>(got), false};
            if (errno != EINTR) return {0, true};
        }
    }

protected:
    int fd_;
};

class DescriptorSink : public ByteSink {
public:
    explicit DescriptorSink(int fd) : fd_(fd) {}
    bool write(const std::uint8_t* data, std::size_t size) override {
        while (size > 0) {
            const ssize_t put = ::write(fd_, data, size);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) return false;
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

private:
    std::unique_ptr<SharedFile> file_;
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
// when the claim is refused, before anything has been changed. The open
// doesn't block, so a FIFO without a writer can't stop the program.
std::unique_ptr<SharedFile> openShared(const std::string& name, int flags, Access access,
                                       SharingRegistry& sharing, struct stat& status) {
    const int fd = ::open(name.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) return nullptr;
    const int fdFlags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &status) != 0 || S_ISDIR(status.st_mode) || fdFlags < 0 ||
        ::fcntl(fd, F_SETFL, fdFlags & ~O_NONBLOCK) != 0 ||
        !sharing.acquire(identityOf(status), access)) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<SharedFile>(fd, sharing, identityOf(status), access);
}

// A closed standard descriptor would be taken by the next file opened, and a
// ROM would be read as the user's answers: the null device stands in for it.
void fillClosedStandardDescriptors() {
    constexpr const char* kNullDevice = "/dev/null";
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd)
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) ::open(kNullDevice, O_RDWR);
}

// The system doesn't enforce the sharing rules, so the process keeps its own
// record of open files, starting with the regular files its shell opened.
class PosixSystem : public System {
public:
    PosixSystem() {
        fillClosedStandardDescriptors();
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

    OpenedFile openForReading(const std::string& name) override {
        struct stat status {};
        auto file = openShared(name, O_RDONLY, Access::Read, sharing_, status);
        if (!file) return {};
        const bool rereadable = S_ISREG(status.st_mode) || S_ISBLK(status.st_mode);
        return {std::make_unique<FileSource>(std::move(file)), rereadable};
    }

    std::unique_ptr<ByteSink> openForWriting(const std::string& name) override {
        // Never O_TRUNC: emptying must wait until the registry has agreed, or a
        // file this process is reading could be destroyed by the open itself.
        struct stat status {};
        auto file = openShared(name, O_WRONLY | O_CREAT, Access::Write, sharing_, status);
        if (!file) return nullptr;
        // Only a file with content is truncated: ext4 forces every file that was
        // truncated to be written out when it is closed, a cost a new file needn't pay.
        if (S_ISREG(status.st_mode) && status.st_size > 0 && ::ftruncate(file->fd(), 0) != 0)
            return nullptr;
        return std::make_unique<FileSink>(std::move(file));
    }

    bool outputIsConsole() override { return ::isatty(STDOUT_FILENO) == 1; }

    void readConsoleLine() override {
        std::uint8_t line[256];
        while (::read(STDIN_FILENO, line, sizeof line) < 0 && errno == EINTR) {
        }
    }

private:
    SharingRegistry sharing_;
};

}  // namespace

std::unique_ptr<System> makeSystem() { return std::make_unique<PosixSystem>(); }

}  // namespace glyphound
