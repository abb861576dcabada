#pragma once

// A whole run's outside world in memory: typed standard input, captured
// output and named files, so every rule of the dialogue runs in-process.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/system.hpp"

namespace glyphound::testing {

// Delivers at most `chunk` bytes a read, to reach every block edge; a source
// that fails meets a read error at `failsAt`. One that pauses ends once at
// `pausesAt` and then goes on, as a console does after Ctrl-D.
class MemorySource : public ByteSource {
public:
    MemorySource(std::string bytes, std::size_t chunk, std::optional<std::size_t> failsAt = std::nullopt,
                 bool cutShort = false, std::optional<std::size_t> pausesAt = std::nullopt)
        : bytes_(std::move(bytes)), chunk_(chunk), failsAt_(failsAt), pausesAt_(pausesAt), cutShort_(cutShort) {}
    ReadResult read(std::uint8_t* buffer, std::size_t capacity) override {
        if (pausesAt_ == at_) {
            pausesAt_.reset();
            return {0, false};
        }
        const std::size_t end = std::min({bytes_.size(), failsAt_.value_or(SIZE_MAX), pausesAt_.value_or(SIZE_MAX)});
        const std::size_t count = std::min({capacity, chunk_, end - at_});
        std::memcpy(buffer, bytes_.data() + at_, count);
        at_ += count;
        if (count == 0 && failsAt_) failure_ = "Input/output error";
        return {count, count == 0 && failsAt_};
    }
    bool cutShort() const override { return cutShort_; }

private:
    std::string bytes_;
    std::size_t chunk_, at_ = 0;
    std::optional<std::size_t> failsAt_, pausesAt_;
    bool cutShort_;
};

struct MemorySink : ByteSink {
    explicit MemorySink(std::shared_ptr<std::string> target) : target(std::move(target)) {}
    bool write(const std::uint8_t* data, std::size_t size) override {
        target->append(reinterpret_cast<const char*>(data), size);
        return true;
    }
    std::shared_ptr<std::string> target;
};

struct MemorySystem : System {
    explicit MemorySystem(std::string typed, std::size_t chunk = SIZE_MAX) : typed(std::move(typed)), chunk(chunk) {}

    std::unique_ptr<ByteSource> standardInput() override {
        return std::make_unique<MemorySource>(typed, chunk, typedFailsAt, false, typedPausesAt);
    }
    std::unique_ptr<ByteSink> standardOutput() override { return std::make_unique<MemorySink>(out); }
    std::unique_ptr<ByteSink> standardError() override { return std::make_unique<MemorySink>(err); }
    OpenedFile openForReading(const std::string& name, Waiting) override {
        const auto file = files.find(name);
        OpenedFile opened;
        if (file == files.end()) {
            opened.failure = "No such file or directory";
            return opened;
        }
        const auto error = unreadable.find(name);
        opened.source = std::make_unique<MemorySource>(
            *file->second, chunk, error == unreadable.end() ? std::nullopt : std::optional(error->second),
            cutShort.count(name) > 0);
        opened.rereadable = true;
        opened.size = static_cast<std::int64_t>(file->second->size());
        return opened;
    }
    // The content appears under the target's name only when closed.
    Replacement createReplacement(const std::string& target) override {
        if (unwritable.count(target)) return {nullptr, "Permission denied"};
        struct Pending : MemorySink {
            Pending(MemorySystem& system, std::string target)
                : MemorySink(std::make_shared<std::string>()), system(system), name(std::move(target)) {}
            bool close() override {
                system.files[name] = target;
                return true;
            }
            MemorySystem& system;
            std::string name;
        };
        return {std::make_unique<Pending>(*this, target), ""};
    }
    std::unique_ptr<ByteSink> openForWriting(const std::string& name) override {
        return std::make_unique<MemorySink>(files[name] = std::make_shared<std::string>());
    }
    bool exists(const std::string& name) override { return files.count(name) > 0; }
    bool outputIsConsole() override { return console; }
    void readConsoleLine() override { ++waits; }

    std::string typed;
    std::size_t chunk;
    std::map<std::string, std::shared_ptr<std::string>> files;
    std::map<std::string, std::size_t> unreadable;  // where a file meets a read error; SIZE_MAX: at its end
    std::optional<std::size_t> typedFailsAt;        // the same for standard input
    std::optional<std::size_t> typedPausesAt;       // where typing ends once and goes on
    std::set<std::string> unwritable;
    std::set<std::string> cutShort;  // files found cut short under a mapping of them
    std::shared_ptr<std::string> out = std::make_shared<std::string>(), err = std::make_shared<std::string>();
    bool console = false;
    int waits = 0;
};

}  // namespace glyphound::testing
