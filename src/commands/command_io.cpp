#include "commands/command_io.hpp"

#include "dialogue/texts.hpp"
#include "io/write_behind.hpp"

namespace glyphound::commands {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kQuietTime = std::chrono::seconds(1);
constexpr auto kRedrawEvery = std::chrono::milliseconds(200);

// Counts what passes through, for the progress line, and ends the input
// once nobody reads what the command prints.
class ProgressSource : public ByteSource {
public:
    ProgressSource(std::unique_ptr<ByteSource> inner, std::int64_t size, Progress& progress,
                   const std::atomic<bool>& readerGone)
        : inner_(std::move(inner)), size_(size), progress_(progress), readerGone_(readerGone) {}
    std::int64_t size() const override { return size_; }
    ReadResult read(std::uint8_t* buffer, std::size_t capacity) override {
        return readerGone_ ? ReadResult{} : counted(inner_->read(buffer, capacity));
    }
    LentBytes lend(std::vector<std::uint8_t>& scratch) override {
        if (readerGone_) return {};
        const LentBytes lent = inner_->lend(scratch);
        counted(lent.read);
        return lent;
    }
    std::optional<std::string_view> mapped() override { return inner_->mapped(); }
    bool cutShort() const override { return inner_->cutShort(); }
    bool skip(std::uint64_t count) override {
        const bool skipped = inner_->skip(count);
        failure_ = inner_->failure();
        progress_.advance(count);
        return skipped;
    }

private:
    ReadResult counted(ReadResult got) {
        failure_ = inner_->failure();
        progress_.advance(got.count);
        return got;
    }

    std::unique_ptr<ByteSource> inner_;
    std::int64_t size_;
    Progress& progress_;
    const std::atomic<bool>& readerGone_;
};

// The commands' standard output, which notes when its reader has gone.
class WatchedSink : public ByteSink {
public:
    WatchedSink(std::unique_ptr<ByteSink> inner, std::atomic<bool>& readerGone)
        : inner_(std::move(inner)), readerGone_(readerGone) {}
    bool write(const std::uint8_t* data, std::size_t size) override {
        if (inner_->write(data, size)) return true;
        failure_ = inner_->failure();
        readerGone_ = Failing::readerGone_ = inner_->readerGone();
        return false;
    }

private:
    std::unique_ptr<ByteSink> inner_;
    std::atomic<bool>& readerGone_;
};

// Standard output as a named output: it goes through the command's own
// buffered standard output, so nothing is written out of order.
class StandardOutputSink : public ByteSink {
public:
    explicit StandardOutputSink(OutputStream& out) : out_(out) {}
    bool write(const std::uint8_t* data, std::size_t size) override {
        out_.write(data, size);
        return report();
    }
    bool close() override {
        out_.flush();
        return report();
    }

private:
    bool report() {
        failure_ = out_.failure();
        readerGone_ = out_.readerGone();
        return !out_.failed();
    }
    OutputStream& out_;
};

// Standard input named a second time: it was read to its end the first time.
class EndedSource : public ByteSource {
public:
    ReadResult read(std::uint8_t*, std::size_t) override { return {}; }
};

}  // namespace

void Progress::start(const std::string& name, std::int64_t size) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (started_ == Clock::time_point{}) started_ = Clock::now();
    name_ = name;
    size_ = size;
    done_ = 0;
}

void Progress::advance(std::uint64_t bytes) {
    const std::lock_guard<std::mutex> lock(mutex_);
    done_ += bytes;
    if (!enabled_) return;
    const auto now = Clock::now();
    if (now - started_ < kQuietTime || now - shown_ < kRedrawEvery) return;
    shown_ = now;
    std::string line = std::string(texts::command::kProgramName) + ": " + name_ + ": ";
    if (size_ > 0)
        line += std::to_string(done_ * 100 / static_cast<std::uint64_t>(size_)) + "%";
    else
        line += std::to_string(done_ >> 20) + " MiB";
    const std::size_t shorter = lineLength_ > line.size() ? lineLength_ - line.size() : 0;
    error_.print("\r" + line + std::string(shorter, ' '));
    lineLength_ = line.size() + shorter;
    lineShown_ = true;
}

void Progress::erase() {
    if (!lineShown_) return;
    const std::lock_guard<std::mutex> lock(mutex_);
    if (lineLength_ == 0) return;
    error_.print("\r" + std::string(lineLength_, ' ') + "\r");
    lineLength_ = 0;
    lineShown_ = false;
}

CommandIo::CommandIo(System& system)
    : system_(system),
      out_(std::make_unique<WatchedSink>(system.standardOutput(), readerGone_), OutputOptions{Buffering::Full, false}),
      err_(system.standardError(), OutputOptions{Buffering::None, false}),
      progress_(system.errorIsConsole(), err_) {}

std::unique_ptr<ByteSource> CommandIo::openInput(const std::string& name, Reading reading) {
    std::string failure;
    auto source = openInput(name, reading, Waiting::ForWriter, failure);
    if (!source) reportFile(name, failure);
    return source;
}

std::unique_ptr<ByteSource> CommandIo::openInput(const std::string& name, Reading reading, Waiting waiting,
                                                 std::string& failure) {
    const std::lock_guard<std::mutex> lock(openMutex_);
    OpenedFile file;
    if (name != kStandardStream)
        file = system_.openForReading(name, waiting);
    else if (inputTaken_)
        file.source = std::make_unique<EndedSource>();
    else
        file = system_.openStandardInput();
    if (!file.source) {
        failure = file.failure;
        return nullptr;
    }
    inputTaken_ = inputTaken_ || name == kStandardStream;
    std::unique_ptr<ByteSource> source = std::move(file.source);
    if (reading == Reading::Ahead && name != kStandardStream) source = readAhead(std::move(source));
    progress_.start(name, file.size);
    return std::make_unique<ProgressSource>(std::move(source), file.size, progress_, readerGone_);
}

bool CommandIo::readsTwice(const std::string& name) {
    return name != kStandardStream && system_.openForReading(name, Waiting::No).rereadable;
}

void CommandIo::requireStandardOutput() {
    const std::string failure = system_.standardOutputFailure();
    if (failure.empty()) return;
    reportFile(kStandardStream, failure);
    throw ReportedError{};
}

CommandOutput CommandIo::createOutput(const std::string& name) {
    std::unique_ptr<ByteSink> sink;
    if (name == kStandardStream) {
        requireStandardOutput();
        sink = std::make_unique<StandardOutputSink>(out_);
    } else {
        Replacement replacement = system_.createReplacement(name);
        if (!replacement.sink) {
            reportFile(name, replacement.failure);
            return nullptr;
        }
        sink = writeBehind(std::move(replacement.sink));
    }
    return CommandOutput(new OutputStream(std::move(sink), OutputOptions{Buffering::Full, false}));
}

void CommandIo::reportFile(const std::string& name, const std::string& reason) {
    progress_.erase();
    err_.print(std::string(texts::command::kProgramName) + ": " + name + ": " + reason + "\n");
}

void CommandIo::fail(const std::string& problem) {
    progress_.erase();
    err_.print(std::string(texts::command::kProgramName) + ": " + problem + "\n");
    throw ReportedError{};
}

int CommandIo::failWrite(const std::string& name, OutputStream& output) {
    const std::string reason = output.failure();
    const bool quietly = output.readerGone() || readerGone_;
    output.abandon();
    if (!quietly) reportFile(name, reason.empty() ? texts::command::kWriteFailed : reason);
    return kError;
}

}  // namespace glyphound::commands
