#pragma once

#include <memory>
#include <string>

#include "io/read_ahead.hpp"
#include "io/streams.hpp"
#include "platform/system.hpp"

namespace glyphound {

// A run's outside world as buffered streams. The standard streams are text
// streams: CR LF reads as LF and LF is written as CR LF. Standard output is
// written out at each newline and before any input block is fetched, so a
// prompt is on the screen before the program waits; standard error is
// unbuffered. Files are raw bytes.
class Environment {
public:
    explicit Environment(System& system);
    ~Environment();
    Environment(const Environment&) = delete;
    Environment& operator=(const Environment&) = delete;

    InputStream& standardInput() { return input_; }
    OutputStream& standardOutput() { return output_; }
    OutputStream& standardError() { return error_; }

    // Null when the file can't be opened.
    std::unique_ptr<InputStream> openForReading(const std::string& name);
    // A ROM is read twice, scan then shift, so only a file or a disc will do:
    // a pipe would come out empty the second time, and a device such as
    // /dev/zero would never end.
    std::unique_ptr<InputStream> openRom(const std::string& name, Reading reading);
    std::unique_ptr<OutputStream> openForWriting(const std::string& name);

    bool outputIsConsole() { return system_.outputIsConsole(); }
    // Drops what is buffered of standard input and reads once more from the
    // device, so a console waits for Enter even after an earlier end of
    // input; returns at once when standard input is closed.
    void waitForEnter();

private:
    std::unique_ptr<InputStream> readerFor(std::unique_ptr<ByteSource> source, Reading reading = Reading::InStep);

    System& system_;
    OutputStream output_;
    OutputStream error_;
    InputStream input_;
};

}  // namespace glyphound
