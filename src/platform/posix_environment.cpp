#include "platform/sharing.hpp"
#include "platform/system.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

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

// What may be opened for each use. A file read is read twice (scan, then
// shift), so it must be a file or a disc, not a pipe or a device that streams
// without end; an output may be a device such as /dev/null.
bool acceptable(const struct stat& status, Access access) {
    if (access == Access::Read) return S_ISREG(status.st_mode) || S_ISBLK(status.st_mode);
    return !S_ISDIR(status.st_mode);
}

// Opens `name` and claims it in the registry; the descriptor is closed again
// when the claim is refused, before anything has been changed. The open
// doesn't block, so a FIFO without a writer can't stop the program.
std::unique_ptr<SharedFile> openShared(const std::string& name, int flags, Access access,
                                       SharingRegistry& sharing, struct stat& status) {
    const int fd = ::open(name.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) return nullptr;
    const int fdFlags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &status) != 0 || !acceptable(status, access) || fdFlags < 0 ||
        ::fcntl(fd, F_SETFL, fdFlags & ~O_NONBLOCK) != 0 ||
        !sharing.acquire(identityOf(status), access)) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<SharedFile>(fd, sharing, identityOf(status), access);
}

// The environment of a process on a POSIX system. The system doesn't enforce
// the sharing rules, so the process keeps its own record of open files.
class PosixEnvironment : public Environment {
public:
    PosixEnvironment();
    ~PosixEnvironment() override;

    InputStream& standardInput() override { return input_; }
    OutputStream& standardOutput() override { return output_; }
    OutputStream& standardError() override { return error_; }
    std::unique_ptr<InputStream> openForReading(const std::string& name) override;
    std::unique_ptr<OutputStream> openForWriting(const std::string& name) override;
    bool outputIsConsole() override;
    void waitForEnter() override;

private:
    SharingRegistry sharing_;
    OutputStream output_;
    OutputStream error_;
    InputStream input_;
};

}  // namespace

PosixEnvironment::PosixEnvironment()
    : output_(std::make_unique<DescriptorSink>(STDOUT_FILENO),
              OutputOptions{Buffering::Line, true, kDefaultBlockSize}),
      error_(std::make_unique<DescriptorSink>(STDERR_FILENO),
             OutputOptions{Buffering::None, true, kDefaultBlockSize}),
      input_(std::make_unique<DescriptorSource>(STDIN_FILENO),
             InputOptions{true, &output_, kDefaultBlockSize}) {
    // A reader that went away must not end the run: file work still completes.
    std::signal(SIGPIPE, SIG_IGN);
}

PosixEnvironment::~PosixEnvironment() {
    output_.close();
    error_.close();
}

std::unique_ptr<InputStream> PosixEnvironment::openForReading(const std::string& name) {
    struct stat status {};
    auto file = openShared(name, O_RDONLY, Access::Read, sharing_, status);
    if (!file) return nullptr;
    return std::make_unique<InputStream>(std::make_unique<FileSource>(std::move(file)),
                                         InputOptions{false, &output_, kDefaultBlockSize});
}

std::unique_ptr<OutputStream> PosixEnvironment::openForWriting(const std::string& name) {
    // Never O_TRUNC: emptying must wait until the registry has agreed, or a
    // file this process is reading could be destroyed by the open itself.
    struct stat status {};
    auto file = openShared(name, O_WRONLY | O_CREAT, Access::Write, sharing_, status);
    if (!file) return nullptr;
    // Only a file with content is truncated: ext4 forces every file that was
    // truncated to be written out when it is closed, a cost a new file needn't pay.
    if (S_ISREG(status.st_mode) && status.st_size > 0 && ::ftruncate(file->fd(), 0) != 0)
        return nullptr;
    return std::make_unique<OutputStream>(std::make_unique<FileSink>(std::move(file)),
                                          OutputOptions{Buffering::Full, false, kDefaultBlockSize});
}

bool PosixEnvironment::outputIsConsole() { return ::isatty(STDOUT_FILENO) == 1; }

void PosixEnvironment::waitForEnter() {
    input_.discardBuffered();
    if (input_.closed()) return;
    // One read of the device: a console in line mode returns the whole line
    // typed, so nothing of it is left over for the shell.
    std::uint8_t line[256];
    while (::read(STDIN_FILENO, line, sizeof line) < 0 && errno == EINTR) {
    }
}

std::unique_ptr<Environment> makeSystemEnvironment() { return std::make_unique<PosixEnvironment>(); }

}  // namespace glyphound
