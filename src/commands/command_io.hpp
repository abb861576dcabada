#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "io/read_ahead.hpp"
#include "io/streams.hpp"
#include "platform/system.hpp"

namespace glyphound::commands {

enum Status { kFound = 0, kSuccess = 0, kNothingFound = 1, kError = 2 };

// A failure already reported on standard error.
struct ReportedError {};

// Names standard input and output among file operands.
constexpr const char* kStandardStream = "-";

// Shows how far a long run has got, on one line of standard error that is
// rewritten and finally erased; only on a terminal, and only once the run
// has taken long enough for the user to wonder. Files searched side by side
// all report to it.
class Progress {
public:
    Progress(bool enabled, OutputStream& error) : enabled_(enabled), error_(error) {}
    ~Progress() { erase(); }
    void start(const std::string& name, std::int64_t size);
    void advance(std::uint64_t bytes);
    void erase();

private:
    bool enabled_;
    OutputStream& error_;
    std::string name_;
    std::int64_t size_ = -1;
    std::uint64_t done_ = 0;
    std::chrono::steady_clock::time_point started_, shown_;
    std::size_t lineLength_ = 0;
    // Whether a line is shown, read without the lock: commands erase before
    // every line they print, and print millions.
    std::atomic<bool> lineShown_{false};
    std::mutex mutex_;
};

// An output destroyed before it was closed is abandoned, never put in place,
// however the command ended.
struct AbandonUnclosed {
    void operator()(OutputStream* output) const {
        output->abandon();
        delete output;
    }
};
using CommandOutput = std::unique_ptr<OutputStream, AbandonUnclosed>;

// What every command works with: raw standard streams, files opened with the
// system's reasons for failure, and progress.
class CommandIo {
public:
    explicit CommandIo(System& system);

    OutputStream& out() { return out_; }
    OutputStream& err() { return err_; }
    System& system() { return system_; }
    Progress& progress() { return progress_; }

    // "-" is standard input, which can be read once. Null, with the
    // system's reason in `failure`, when the file can't be opened. Safe to
    // call from several threads. Every input ends early once the reader of
    // standard output has gone.
    std::unique_ptr<ByteSource> openInput(const std::string& name, Reading reading, Waiting waiting,
                                          std::string& failure);
    // The same for a file the user named, with the failure reported.
    std::unique_ptr<ByteSource> openInput(const std::string& name, Reading reading = Reading::InStep);
    // Whether the file named reads the same a second time: a regular file or
    // a disc, not standard input, a pipe or a device that streams.
    bool readsTwice(const std::string& name);
    // Reports and throws ReportedError when standard output was closed when
    // the program started, before a command that prints does any work.
    void requireStandardOutput();
    // Null after the failure has been reported. Closing the stream puts the
    // file in place; abandoning it, or destroying it unclosed, leaves the
    // target untouched.
    CommandOutput createOutput(const std::string& name);

    // "glyphound: NAME: REASON"
    void reportFile(const std::string& name, const std::string& reason);
    // "glyphound: PROBLEM", for what is wrong with what a file holds, then
    // ReportedError.
    [[noreturn]] void fail(const std::string& problem);
    // Reports a failed write of `name` and drops the output. A reader that
    // went away asked for no more, so that ends the run without a word.
    int failWrite(const std::string& name, OutputStream& output);

private:
    System& system_;
    std::atomic<bool> readerGone_{false};
    OutputStream out_;
    OutputStream err_;
    bool inputTaken_ = false;
    std::mutex openMutex_;
    Progress progress_;
};

}  // namespace glyphound::commands
