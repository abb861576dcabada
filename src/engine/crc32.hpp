#pragma once

// The CRC32 of zip and PNG (reflected, polynomial 0xEDB88320), which UPS and
// BPS patches carry for their files and themselves.
#include <cstddef>
#include <cstdint>

#include "search/vectors.hpp"

namespace glyphound {

class Crc32 {
public:
    // `Bits128` folds 64 bytes at a time with carry-less products where the
    // processor has them, `Best` 256 at a time where it has them in AVX-512;
    // any width gives the same value.
    void add(const std::uint8_t* data, std::size_t size, VectorWidth width = VectorWidth::Best);
    std::uint32_t value() const { return ~state_; }

private:
    std::uint32_t state_ = 0xFFFFFFFF;
};

std::uint32_t crc32(const std::uint8_t* data, std::size_t size);

}  // namespace glyphound
