#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "search/vectors.hpp"

namespace glyphound {

// Rules out, in one vector pass for any number of words, the positions where
// none of them can start. Each word is keyed on one anchor: three units in a
// row, `step` bytes apart, whose bytes at `low` within the unit have two
// given differences. The words share 8 buckets; a position passes for a
// bucket when both of its differences match, nibble by nibble, some anchor
// in that bucket. With random data, a bucket with one anchor lets about one
// position in 65,000 through; two anchors share their nibbles, so up to 16
// in 65,000.
class BucketFilter {
public:
    static constexpr int kBuckets = 8;

    struct Member {
        std::size_t word;
        std::size_t offset;  // of the anchor within the word, in bytes
    };

    BucketFilter(std::size_t step, std::size_t low) : step_(step), low_(low) {}

    void add(const Member& member, std::uint8_t first, std::uint8_t second);

    bool empty() const { return keys_.empty(); }
    // Bytes a position reads, from the position on.
    std::size_t span() const { return low_ + 2 * step_ + 1; }
    const std::vector<Member>& bucket(int index) const { return buckets_[index]; }
    std::size_t farthestOffset() const { return farthestOffset_; }

    // The first position in [from, to) that passes, with the buckets it passes
    // for as bits; `to` when none does. Reads bytes up to to + span() - 2.
    // `width` is one this processor has, or `Best`.
    std::size_t next(const std::uint8_t* bytes, std::size_t from, std::size_t to, std::uint8_t& buckets,
                     VectorWidth width = VectorWidth::Best) const;

private:
    // For each of the two differences, the buckets that take each value of
    // its low and of its high nibble.
    using Nibbles = std::array<std::uint8_t, 16>;
    alignas(16) std::array<Nibbles, 2> lowNibble_{}, highNibble_{};

    std::uint8_t bucketsAt(const std::uint8_t* bytes, std::size_t position) const;
    std::size_t nextScalar(const std::uint8_t* bytes, std::size_t from, std::size_t to, std::uint8_t& buckets) const;
    // With one anchor the nibble tables say no more than its two differences,
    // which the x86 loops then compare outright: a subtraction and a
    // comparison each, where a lookup in the tables takes five operations.
    std::size_t next128(const std::uint8_t* bytes, std::size_t from, std::size_t to, std::uint8_t& buckets) const;
    std::size_t next256(const std::uint8_t* bytes, std::size_t from, std::size_t to, std::uint8_t& buckets) const;
    std::size_t next512(const std::uint8_t* bytes, std::size_t from, std::size_t to, std::uint8_t& buckets) const;

    std::size_t step_, low_;
    std::size_t farthestOffset_ = 0;
    std::vector<std::uint16_t> keys_;  // each distinct anchor, in the bucket of its index mod 8
    std::vector<Member> buckets_[kBuckets];
};

}  // namespace glyphound
