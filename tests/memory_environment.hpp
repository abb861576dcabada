#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/environment.hpp"

namespace glyphound::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }
inline std::string textOf(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// A whole run's outside world in memory: scripted standard input, captured
// output and a map of named files. The standard streams follow the same text
// rules as on a real console.
class MemoryEnvironment : public Environment {
public:
    explicit MemoryEnvironment(const std::string& typed, std::size_t inputChunk = SIZE_MAX)
        : output_(std::make_unique<MemorySink>(outputBytes_), {Buffering::Line, true}),
          error_(std::make_unique<MemorySink>(errorBytes_), {Buffering::None, true}),
          input_(std::make_unique<MemorySource>(bytesOf(typed), inputChunk),
                 {true, &output_, kDefaultBlockSize}) {}

    InputStream& standardInput() override { return input_; }
    OutputStream& standardOutput() override { return output_; }
    OutputStream& standardError() override { return error_; }

    std::unique_ptr<InputStream> openForReading(const std::string& name) override {
        auto file = files.find(name);
        if (file == files.end()) return nullptr;
        return std::make_unique<InputStream>(std::make_unique<MemorySource>(*file->second),
                                             InputOptions{false, &output_, kDefaultBlockSize});
    }
    std::unique_ptr<OutputStream> openForWriting(const std::string& name) override {
        auto& file = files[name];
        file = std::make_shared<Bytes>();
        return std::make_unique<OutputStream>(std::make_unique<MemorySink>(file),
                                              OutputOptions{Buffering::Full, false});
    }
    bool outputIsConsole() override { return console; }
    void waitForEnter() override {
        input_.discardBuffered();
        ++waits;
    }

    std::string output() const { return textOf(*outputBytes_); }
    std::string errors() const { return textOf(*errorBytes_); }

    std::map<std::string, std::shared_ptr<Bytes>> files;
    bool console = false;
    int waits = 0;

private:
    std::shared_ptr<Bytes> outputBytes_ = std::make_shared<Bytes>();
    std::shared_ptr<Bytes> errorBytes_ = std::make_shared<Bytes>();
    OutputStream output_;
    OutputStream error_;
    InputStream input_;
};

}  // namespace glyphound::testing
