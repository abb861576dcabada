#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace glyphound {

// Which file an open handle refers to, whatever name, link or symlink was
// used to reach it.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator<(const FileIdentity& other) const {
        return std::pair(device, inode) < std::pair(other.device, other.inode);
    }
};

// One raw read: `count` bytes delivered; a count of 0 is the end of the data,
// and `failed` tells a read error apart from a plain end.
struct ReadResult {
    std::size_t count = 0;
    bool failed = false;
};

// The system's own words for the last failure ("No such file or directory"),
// so that a message can name the reason.
class Failing {
public:
    virtual ~Failing() = default;
    const std::string& failure() const { return failure_; }
    // The failure was a pipe whose reader has gone: the reader wants no more,
    // which ends a run quietly rather than as an error to report.
    bool readerGone() const { return readerGone_; }

protected:
    std::string failure_;
    bool readerGone_ = false;
};

// Large blocks keep the per-read cost small on big files; the block size is
// not visible to the user.
constexpr std::size_t kDefaultBlockSize = 256 * 1024;

// Bytes a source lends where they already lie: valid until the next call on
// the source.
struct LentBytes {
    const std::uint8_t* bytes = nullptr;
    ReadResult read;
};

class ByteSource : public Failing {
public:
    virtual ReadResult read(std::uint8_t* buffer, std::size_t capacity) = 0;
    // The next bytes without copying them out, for a pass that only looks at
    // them; a source that holds no blocks of its own reads into `scratch`,
    // given a block's room first where it has none, so that a pass over a
    // source that lends in place holds no such block.
    virtual LentBytes lend(std::vector<std::uint8_t>& scratch);
    // Whether lend() hands out bytes where they already lie, with nothing
    // left for a reading thread to win.
    virtual bool lendsInPlace() const { return false; }
    // Passes over `count` bytes, or to the end; false after a read error. A
    // file that can seek does so rather than read them.
    virtual bool skip(std::uint64_t count);
    // In bytes, where the source knows it before reading: -1 otherwise.
    virtual std::int64_t size() const { return -1; }
    // All of a regular file in memory, mapped rather than read where the
    // system can, for a pass that needs every byte at hand at once: valid
    // while the source lives, whatever has been read. None for a stream.
    virtual std::optional<std::string_view> mapped() { return std::nullopt; }
    // The file was found cut short under a mapping of it: the bytes the
    // mapping showed since are zeros, not the file's, and a pass that looked
    // at them must fail as on a read error.
    virtual bool cutShort() const { return false; }
};

class ByteSink : public Failing {
public:
    // Writes every byte or reports failure.
    virtual bool write(const std::uint8_t* data, std::size_t size) = 0;
    // Writes the first `size` bytes of `block`. A sink that keeps blocks to
    // write later may take it and leave one of its own in its place, of any
    // size and content.
    virtual bool give(std::vector<std::uint8_t>& block, std::size_t size) { return write(block.data(), size); }
    // Releases the destination; a failure here can still lose data.
    virtual bool close() { return true; }
};

struct OpenedFile {
    std::unique_ptr<ByteSource> source;  // null when the file can't be opened
    // A regular file or a disc reads the same twice; a pipe or a device that
    // streams does not.
    bool rereadable = false;
    std::int64_t size = -1;  // in bytes, where the system knows it
    std::string failure;     // why there is no source
};

// Why an open was refused by the sharing rules rather than by the system:
// within one run that only happens to a file both read and written.
constexpr const char* kSameFile = "Input and output are the same file";
// Said the same way on every system, where one says only "Access denied".
constexpr const char* kIsDirectory = "Is a directory";
// A file cut short while the program read it, which no system names.
constexpr const char* kShrankWhileRead = "File shrank while it was read";

// A file written under a temporary name beside its target: close() puts it
// in the target's place in one step, and destroying it unclosed removes it,
// so a target is only ever untouched or complete. A target that is not a
// regular file, such as a device, is written directly instead.
struct Replacement {
    std::unique_ptr<ByteSink> sink;  // null when it can't be created
    std::string failure;
};

// What a walk of a directory takes in: regular files and directories. Links
// are not followed, so that a loop of them can't make a walk endless, and
// FIFOs, sockets and devices are left out, as they may never end or answer.
enum class EntryKind { File, Directory, Other };

struct DirectoryEntry {
    std::string name;
    EntryKind kind = EntryKind::Other;
};

struct DirectoryListing {
    bool isDirectory = false;
    // Where the system can tell it: a walk visits each directory once, even
    // where links can't be told apart from what they lead to.
    std::optional<FileIdentity> identity;
    std::vector<DirectoryEntry> entries;  // in no particular order
    std::string failure;
};

// Whether an open waits for the writer of a FIFO that has none yet. A file
// named by the user is read as it comes, like `cat` reads it; the dialogue
// can't use a FIFO at all and must not hang on one before refusing it.
enum class Waiting { No, ForWriter };

// What a run needs of the operating system, as raw bytes. Files obey the
// sharing rules: a file open for reading may be opened again only for
// reading, a file open for writing not at all. Regular files behind the
// standard streams count as open, standard input for reading and the other
// two for writing.
class System {
public:
    virtual ~System() = default;

    // Each is handed over once, to the one object that buffers it.
    virtual std::unique_ptr<ByteSource> standardInput() = 0;
    virtual std::unique_ptr<ByteSink> standardOutput() = 0;
    virtual std::unique_ptr<ByteSink> standardError() = 0;

    // Standard input as a file a command reads. Refused, with the system's
    // reason, when it was closed when the program started, and when its file
    // is one that standard output or error writes. (The dialogue reads a
    // closed stream as the null device instead: see `standardInput`.)
    virtual OpenedFile openStandardInput();
    // Why standard output can't take a command's output: it was closed when
    // the program started. Empty when it can.
    virtual std::string standardOutputFailure() { return {}; }

    // A directory, a missing file or a refusal of the sharing rules gives no source.
    virtual OpenedFile openForReading(const std::string& name, Waiting waiting) = 0;
    // Whether anything, even a dangling link, has this name.
    virtual bool exists(const std::string& name);
    // Which file the name leads to, where the system can tell.
    virtual std::optional<FileIdentity> identify(const std::string&) { return std::nullopt; }
    // Creates the file or empties it, but only once the sharing rules allow.
    virtual std::unique_ptr<ByteSink> openForWriting(const std::string& name) = 0;

    // Creates the replacement of `target`, refused while this process holds
    // the target open or when the user may not write it. A link is followed,
    // and the file it leads to is the one replaced.
    virtual Replacement createReplacement(const std::string& target) = 0;
    // The entries of a directory; `isDirectory` false for anything else.
    virtual DirectoryListing listDirectory(const std::string& name);

    // The arguments as UTF-8, whatever the system's own encoding of them.
    virtual std::vector<std::string> arguments(int argc, const char* const* argv);

    virtual bool outputIsConsole() = 0;
    virtual bool errorIsConsole() { return false; }
    // The processors this process may run on, at least 1.
    virtual unsigned processors();
    // One read of standard input straight from the device, so that a console
    // returns the whole line typed and leaves nothing of it for the shell.
    virtual void readConsoleLine() = 0;
};

// This process's system. Each backend (POSIX, Windows) defines it; the build
// picks one.
std::unique_ptr<System> makeSystem();

}  // namespace glyphound
