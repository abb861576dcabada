#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "search/vectors.hpp"

namespace glyphound {

// A set of byte values, tested 64 bytes at a time in vector lanes: the
// filters that let a table's searches skip what can't hold text.
class ByteSet {
public:
    void add(std::uint8_t byte);
    void addAll();
    bool has(std::uint8_t byte) const { return (bits_[byte >> 3] >> (byte & 7)) & 1; }
    bool full() const;

    // The first position p in [from, to) where a row of the set's bytes
    // starts: p is `from` or follows a byte outside the set, and the `length`
    // bytes from p are all in the set, or all up to `to` are. `to` when there
    // is none. Reads no byte at or past `to`.
    std::size_t firstRow(const std::uint8_t* bytes, std::size_t from, std::size_t to, std::size_t length,
                         VectorWidth width = VectorWidth::Best) const;

    // A set of a few bytes is tested byte by byte, which costs less than the
    // shuffles; a word's first letter is such a set.
    static constexpr int kFew = 4;
    int size() const { return size_; }
    const std::array<std::uint8_t, kFew>& few() const { return few_; }
    // For the byte shuffle: by a byte's low nibble, the high nibbles 0-7 and
    // 8-15 whose byte is in the set, one bit each.
    struct Halves {
        std::array<std::uint8_t, 16> low{}, high{};
    };
    const Halves& halves() const { return halves_; }

private:
    std::array<std::uint8_t, 32> bits_{};
    std::array<std::uint8_t, kFew> few_{};
    int size_ = 0;
    Halves halves_;
};

}  // namespace glyphound
