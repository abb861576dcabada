#include "search/byte_set.hpp"

#ifdef GLYPHOUND_X86_VECTORS
#include <immintrin.h>
#endif
#ifdef GLYPHOUND_WASM_VECTORS
#include <wasm_simd128.h>
#endif

namespace glyphound {
namespace {

constexpr std::size_t kChunk = 64;

// Bit j of the result: bits j to j + length - 1 of `mask` are all set, with
// none past bit 63 counted; for 1 <= length <= 64.
std::uint64_t rowsOf(std::uint64_t mask, std::size_t length) {
    std::size_t covered = 1;
    for (; covered * 2 <= length; covered *= 2) mask &= mask >> covered;
    if (covered < length) mask &= mask >> (length - covered);
    return mask;
}

int trailingOnes(std::uint64_t mask) { return ~mask == 0 ? 64 : __builtin_ctzll(~mask); }
int leadingOnes(std::uint64_t mask) { return ~mask == 0 ? 64 : __builtin_clzll(~mask); }

}  // namespace

void ByteSet::add(std::uint8_t byte) {
    if (has(byte)) return;
    if (size_ < kFew) few_[size_] = byte;
    ++size_;
    bits_[byte >> 3] = static_cast<std::uint8_t>(bits_[byte >> 3] | 1 << (byte & 7));
    std::array<std::uint8_t, 16>& half = byte >> 7 ? highHalf_ : lowHalf_;
    half[byte & 15] = static_cast<std::uint8_t>(half[byte & 15] | 1 << (byte >> 4 & 7));
}

void ByteSet::addAll() {
    for (int byte = 0; byte < 256; ++byte) add(static_cast<std::uint8_t>(byte));
}

bool ByteSet::full() const {
    for (std::uint8_t bits : bits_)
        if (bits != 0xFF) return false;
    return true;
}

std::uint64_t ByteSet::maskScalar(const std::uint8_t* bytes, std::size_t count) const {
    std::uint64_t mask = 0;
    for (std::size_t i = 0; i < count; ++i) mask |= std::uint64_t{has(bytes[i])} << i;
    return mask;
}

#ifdef GLYPHOUND_X86_VECTORS

namespace {

// Each byte's bit from the half tables: the low nibble picks the row, the
// high nibble the bit, from the half it belongs to.
__attribute__((target("ssse3"))) std::uint64_t mask128(const std::uint8_t* bytes, const std::uint8_t* lowHalf,
                                                       const std::uint8_t* highHalf) {
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lowHalf));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(highHalf));
    const __m128i lowBit = _mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m128i highBit = _mm_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 4, 8, 16, 32, 64, -128);
    std::uint64_t mask = 0;
    for (int part = 0; part < 4; ++part) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * part));
        const __m128i lows = _mm_and_si128(chunk, nibble), highs = _mm_and_si128(_mm_srli_epi16(chunk, 4), nibble);
        const __m128i hit = _mm_or_si128(
            _mm_and_si128(_mm_shuffle_epi8(low, lows), _mm_shuffle_epi8(lowBit, highs)),
            _mm_and_si128(_mm_shuffle_epi8(high, lows), _mm_shuffle_epi8(highBit, highs)));
        const auto absent = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(hit, _mm_setzero_si128())));
        mask |= std::uint64_t{~absent & 0xFFFFu} << (16 * part);
    }
    return mask;
}

#ifdef GLYPHOUND_USE_AVX2
__attribute__((target("avx2"))) std::uint64_t fewMask256(const std::uint8_t* bytes, const std::uint8_t* few, int size) {
    std::uint64_t mask = 0;
    for (int part = 0; part < 2; ++part) {
        const __m256i chunk = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + 32 * part));
        __m256i hit = _mm256_setzero_si256();
        for (int k = 0; k < size; ++k)
            hit = _mm256_or_si256(hit, _mm256_cmpeq_epi8(chunk, _mm256_set1_epi8(static_cast<char>(few[k]))));
        mask |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(hit))} << (32 * part);
    }
    return mask;
}

__attribute__((target("avx2"))) std::uint64_t mask256(const std::uint8_t* bytes, const std::uint8_t* lowHalf,
                                                      const std::uint8_t* highHalf) {
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i low = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lowHalf)));
    const __m256i high = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(highHalf)));
    const __m256i lowBit = _mm256_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 4, 8, 16,
                                            32, 64, -128, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m256i highBit = _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 4, 8, 16, 32, 64, -128, 0, 0, 0, 0, 0,
                                             0, 0, 0, 1, 2, 4, 8, 16, 32, 64, -128);
    std::uint64_t mask = 0;
    for (int part = 0; part < 2; ++part) {
        const __m256i chunk = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + 32 * part));
        const __m256i lows = _mm256_and_si256(chunk, nibble);
        const __m256i highs = _mm256_and_si256(_mm256_srli_epi16(chunk, 4), nibble);
        const __m256i hit = _mm256_or_si256(
            _mm256_and_si256(_mm256_shuffle_epi8(low, lows), _mm256_shuffle_epi8(lowBit, highs)),
            _mm256_and_si256(_mm256_shuffle_epi8(high, lows), _mm256_shuffle_epi8(highBit, highs)));
        const auto absent =
            static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(hit, _mm256_setzero_si256())));
        mask |= std::uint64_t{~absent} << (32 * part);
    }
    return mask;
}
#endif

}  // namespace

#endif

#ifdef GLYPHOUND_WASM_VECTORS

namespace {

// As SSSE3's, with the swizzle for the byte shuffle.
std::uint64_t mask128(const std::uint8_t* bytes, const std::uint8_t* lowHalf, const std::uint8_t* highHalf) {
    const v128_t low = wasm_v128_load(lowHalf), high = wasm_v128_load(highHalf);
    const v128_t lowBit = wasm_i8x16_make(1, 2, 4, 8, 16, 32, 64, -128, 0, 0, 0, 0, 0, 0, 0, 0);
    const v128_t highBit = wasm_i8x16_make(0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 4, 8, 16, 32, 64, -128);
    std::uint64_t mask = 0;
    for (int part = 0; part < 4; ++part) {
        const v128_t chunk = wasm_v128_load(bytes + 16 * part);
        const v128_t lows = wasm_v128_and(chunk, wasm_i8x16_splat(0x0F)), highs = wasm_u8x16_shr(chunk, 4);
        const v128_t hit = wasm_v128_or(
            wasm_v128_and(wasm_i8x16_swizzle(low, lows), wasm_i8x16_swizzle(lowBit, highs)),
            wasm_v128_and(wasm_i8x16_swizzle(high, lows), wasm_i8x16_swizzle(highBit, highs)));
        mask |= std::uint64_t{wasm_i8x16_bitmask(wasm_i8x16_ne(hit, wasm_i8x16_splat(0)))} << (16 * part);
    }
    return mask;
}

}  // namespace

#endif

std::uint64_t ByteSet::mask(const std::uint8_t* bytes, VectorWidth width) const {
#ifdef GLYPHOUND_WASM_VECTORS
    if (width == VectorWidth::Bits128) return mask128(bytes, lowHalf_.data(), highHalf_.data());
#endif
#ifdef GLYPHOUND_X86_VECTORS
#ifdef GLYPHOUND_USE_AVX2
    if (width == VectorWidth::Bits256)
        return size_ <= kFew ? fewMask256(bytes, few_.data(), size_) : mask256(bytes, lowHalf_.data(), highHalf_.data());
#endif
    if (width == VectorWidth::Bits128) return mask128(bytes, lowHalf_.data(), highHalf_.data());
#endif
    (void)width;
    return maskScalar(bytes, kChunk);
}

std::size_t ByteSet::firstRow(const std::uint8_t* bytes, std::size_t from, std::size_t to, std::size_t length,
                              VectorWidth width) const {
    width = usableWidth(width);
    std::size_t row = 0;  // set bytes in a row just before `at`
    std::size_t at = from;
    for (; at + kChunk <= to; at += kChunk) {
        const std::uint64_t mask = this->mask(bytes + at, width);
        if (row + static_cast<std::size_t>(trailingOnes(mask)) >= length) return at - row;
        if (length <= kChunk) {
            if (const std::uint64_t rows = rowsOf(mask, length)) return at + static_cast<std::size_t>(__builtin_ctzll(rows));
        }
        row = ~mask == 0 ? row + kChunk : static_cast<std::size_t>(leadingOnes(mask));
    }
    for (; at < to; ++at) {
        row = has(bytes[at]) ? row + 1 : 0;
        if (row >= length) return at + 1 - row;
    }
    return row > 0 ? to - row : to;
}

std::size_t ByteSet::firstPair(const std::uint8_t* bytes, std::size_t from, std::size_t to, const ByteSet& next,
                               VectorWidth width) const {
    width = usableWidth(width);
    std::size_t at = from;
    for (; at + kChunk <= to; at += kChunk)
        if (const std::uint64_t pairs = mask(bytes + at, width) & next.mask(bytes + at + 1, width))
            return at + static_cast<std::size_t>(__builtin_ctzll(pairs));
    for (; at < to; ++at)
        if (has(bytes[at]) && next.has(bytes[at + 1])) return at;
    return to;
}

}  // namespace glyphound
