#pragma once

#include <cstring>
#include <string>

#include "platform/system.hpp"

namespace glyphound {

// Bytes already in memory, read as a file would be: a pass that needs to go
// back and forth over a file reads it once into memory and then passes over
// that.
class MemorySource : public ByteSource {
public:
    explicit MemorySource(const std::string& bytes) : bytes_(bytes) {}
    ReadResult read(std::uint8_t* buffer, std::size_t capacity) override {
        const std::size_t count = std::min(capacity, bytes_.size() - at_);
        std::memcpy(buffer, bytes_.data() + at_, count);
        at_ += count;
        return {count, false};
    }
    LentBytes lend(std::vector<std::uint8_t>&) override {
        const std::size_t count = bytes_.size() - at_;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(bytes_.data()) + at_;
        at_ = bytes_.size();
        return {bytes, {count, false}};
    }
    bool skip(std::uint64_t count) override {
        at_ += static_cast<std::size_t>(std::min<std::uint64_t>(count, bytes_.size() - at_));
        return true;
    }
    std::int64_t size() const override { return static_cast<std::int64_t>(bytes_.size()); }

private:
    const std::string& bytes_;
    std::size_t at_ = 0;
};

}  // namespace glyphound
