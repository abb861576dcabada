#pragma once

#include <memory>
#include <string>

#include "platform/streams.hpp"

namespace glyphound {

// Everything a run needs from the operating system. The program's logic sees
// the outside world only through this, so it runs unchanged on memory streams.
class Environment {
public:
    virtual ~Environment() = default;

    // Text streams: CR LF reads as LF, LF is written as CR LF. Standard output
    // is written out at each newline and before any input block is fetched;
    // standard error is unbuffered.
    virtual InputStream& standardInput() = 0;
    virtual OutputStream& standardOutput() = 0;
    virtual OutputStream& standardError() = 0;

    // Raw-byte files under the sharing rules: a file open for reading may be
    // opened again only for reading, a file open for writing not at all.
    // Null when the file can't be opened (or isn't a readable file).
    virtual std::unique_ptr<InputStream> openForReading(const std::string& name) = 0;
    // Creates the file or empties it, but only once the sharing rules allow.
    virtual std::unique_ptr<OutputStream> openForWriting(const std::string& name) = 0;

    virtual bool outputIsConsole() = 0;
    // Drops what is buffered of standard input, then reads once more from the
    // device itself, so a console waits for Enter even after an earlier end of
    // input; returns at once when standard input is closed or at its end.
    virtual void waitForEnter() = 0;
};

}  // namespace glyphound
