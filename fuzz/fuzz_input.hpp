#pragma once

// Splits one fuzzer input into the parts a target needs, so that every byte
// string is a valid case.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace glyphound::fuzzing {

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }

    // A part of at most `limit` bytes, its length taken from the next byte.
    std::string part(std::size_t limit) {
        const std::size_t wanted = byte() % (limit + 1);
        const std::size_t length = std::min(wanted, size_ - at_);
        std::string out(reinterpret_cast<const char*>(data_ + at_), length);
        at_ += length;
        return out;
    }

    std::vector<std::uint8_t> rest() {
        std::vector<std::uint8_t> out(data_ + at_, data_ + size_);
        at_ = size_;
        return out;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

}  // namespace glyphound::fuzzing
