#pragma once

// What the patch maker and reader share of the formats' bytes.
#include <cstddef>
#include <cstdint>
#include <string>

namespace glyphound::patch_bytes {

constexpr const char* kIpsMagic = "PATCH";
constexpr const char* kIpsEnd = "EOF";
constexpr const char* kUpsMagic = "UPS1";
constexpr const char* kBpsMagic = "BPS1";
constexpr std::size_t kMagicSize = 4;    // UPS and BPS; IPS has 5
constexpr std::size_t kFooterSize = 12;  // UPS and BPS: three CRC32s
// IPS offsets have three bytes; a record must end by the format's 16 MiB.
constexpr std::uint64_t kIpsLimit = std::uint64_t{1} << 24;
// The three bytes "EOF" at a record's offset end the records instead.
constexpr std::uint64_t kIpsEndOffset = 0x454F46;
constexpr std::uint64_t kIpsMaxLength = 0xFFFF;
constexpr std::uint64_t kCopierHeader = 512;

enum BpsAction { kSourceRead = 0, kTargetRead = 1, kSourceCopy = 2, kTargetCopy = 3 };

// The formats' variable-length number: seven bits a byte, least significant
// first, the high bit on the last; each byte but the last takes one off what
// remains, so that every number has one encoding.
inline void appendNumber(std::string& out, std::uint64_t n) {
    for (;;) {
        const auto low = static_cast<char>(n & 0x7F);
        n >>= 7;
        if (n == 0) {
            out += static_cast<char>(0x80 | low);
            return;
        }
        out += low;
        --n;
    }
}

inline std::size_t numberSize(std::uint64_t n) {
    std::size_t size = 1;
    for (n >>= 7; n != 0; n = (n - 1) >> 7) ++size;
    return size;
}

inline void appendLittle32(std::string& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>(value >> shift & 0xFF);
}

inline void appendBig(std::string& out, std::uint64_t value, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) out += static_cast<char>(value >> shift & 0xFF);
}

}  // namespace glyphound::patch_bytes
