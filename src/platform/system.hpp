#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace glyphound {

// One raw read: `count` bytes delivered; a count of 0 is the end of the data,
// and `failed` tells a read error apart from a plain end.
struct ReadResult {
    std::size_t count = 0;
    bool failed = false;
};

class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual ReadResult read(std::uint8_t* buffer, std::size_t capacity) = 0;
};

class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Writes every byte or reports failure.
    virtual bool write(const std::uint8_t* data, std::size_t size) = 0;
    // Releases the destination; a failure here can still lose data.
    virtual bool close() { return true; }
};

struct OpenedFile {
    std::unique_ptr<ByteSource> source;  // null when the file can't be opened
    // A regular file or a disc reads the same twice; a pipe or a device that
    // streams does not.
    bool rereadable = false;
};

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

    // A directory, a missing file or a refusal of the sharing rules gives no source.
    virtual OpenedFile openForReading(const std::string& name) = 0;
    // Creates the file or empties it, but only once the sharing rules allow.
    virtual std::unique_ptr<ByteSink> openForWriting(const std::string& name) = 0;

    virtual bool outputIsConsole() = 0;
    // One read of standard input straight from the device, so that a console
    // returns the whole line typed and leaves nothing of it for the shell.
    virtual void readConsoleLine() = 0;
};

// This process's system. Each backend (POSIX, Windows) defines it; the build
// picks one.
std::unique_ptr<System> makeSystem();

}  // namespace glyphound
