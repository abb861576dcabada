#pragma once

// Splits one fuzzer input into the parts a target needs, so that every byte
// string is a valid case.
#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

namespace glyphound::fuzzing {

struct FuzzInput {
    std::uint8_t byte() { return at < size ? data[at++] : 0; }
    // A part of at most `limit` bytes, its length taken from the next byte.
    std::string part(std::size_t limit) {
        const std::size_t wanted = byte() % (limit + 1);
        const std::size_t length = std::min(wanted, size - at);
        at += length;
        return std::string(reinterpret_cast<const char*>(data + at - length), length);
    }
    std::string rest() {
        const std::size_t from = std::exchange(at, size);
        return std::string(reinterpret_cast<const char*>(data + from), size - from);
    }

    const std::uint8_t* data;
    std::size_t size, at = 0;
};

}  // namespace glyphound::fuzzing
