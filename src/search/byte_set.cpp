#include "search/byte_set.hpp"

#ifdef GLYPHOUND_X86_VECTORS
#include <immintrin.h>
#endif
#ifdef GLYPHOUND_WASM_VECTORS
#include <wasm_simd128.h>
#endif
#ifdef GLYPHOUND_NEON_VECTORS
#include <arm_neon.h>
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
    std::array<std::uint8_t, 16>& half = byte >> 7 ? halves_.high : halves_.low;
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

namespace {

// The scans, whatever the width, over a masker: `chunk(at)` has bit i set
// when the byte at `at + i` is in the set, and `has(at)` tells one byte. Each
// width's function has its scan flattened into it, so that a mask's
// constants stay in registers for the whole scan.
//
// A row of two or more holds two set bytes side by side. Where the set is
// `kSparse`, few chunks have any, and the rest skip the search for rows;
// where it is dense, most have, and the test would only cost.
template <bool kSparse = false, class Masker>
std::size_t scanRows(const Masker& masker, std::size_t from, std::size_t to, std::size_t length) {
    std::size_t row = 0;  // set bytes in a row just before `at`
    std::size_t at = from;
    for (; at + kChunk <= to; at += kChunk) {
        const std::uint64_t mask = masker.chunk(at);
        if (row + static_cast<std::size_t>(trailingOnes(mask)) >= length) return at - row;
        if (length <= kChunk && (!kSparse || length == 1 || (mask & (mask >> 1)) != 0)) {
            if (const std::uint64_t rows = rowsOf(mask, length)) return at + static_cast<std::size_t>(__builtin_ctzll(rows));
        }
        row = ~mask == 0 ? row + kChunk : static_cast<std::size_t>(leadingOnes(mask));
    }
    for (; at < to; ++at) {
        row = masker.has(at) ? row + 1 : 0;
        if (row >= length) return at + 1 - row;
    }
    return row > 0 ? to - row : to;
}

// Masks worked out from the bytes themselves.
template <class MaskOf>
struct FromBytes {
    MaskOf maskOf;
    const ByteSet& set;
    const std::uint8_t* bytes;
    std::size_t to;
    std::uint64_t chunk(std::size_t at) const {
        if (at + kPrefetchDistance < to) prefetchAhead(bytes + at);
        return maskOf(bytes + at);
    }
    bool has(std::size_t at) const { return set.has(bytes[at]); }
};
template <class MaskOf>
FromBytes(MaskOf, const ByteSet&, const std::uint8_t*, std::size_t) -> FromBytes<MaskOf>;

struct ScalarMask {
    const ByteSet& set;
    std::uint64_t operator()(const std::uint8_t* bytes) const {
        std::uint64_t mask = 0;
        for (std::size_t i = 0; i < kChunk; ++i) mask |= std::uint64_t{set.has(bytes[i])} << i;
        return mask;
    }
};

}  // namespace

#ifdef GLYPHOUND_X86_VECTORS

namespace {

// Each byte's bit from the half tables: the low nibble picks the row, the
// high nibble the bit. The byte shuffle gives 0 where the index's top bit
// is set, so each half's row comes out only for the bytes of its half.
struct NibbleMask128 {
    __m128i low, high, bitOfHigh, top, nibble;
    __attribute__((target("ssse3"))) NibbleMask128(const ByteSet::Halves& halves)
        : low(_mm_loadu_si128(reinterpret_cast<const __m128i*>(halves.low.data()))),
          high(_mm_loadu_si128(reinterpret_cast<const __m128i*>(halves.high.data()))),
          bitOfHigh(_mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128)),
          top(_mm_set1_epi8(-128)),
          nibble(_mm_set1_epi8(0x0F)) {}
    __attribute__((target("ssse3"))) std::uint64_t operator()(const std::uint8_t* bytes) const {
        std::uint64_t mask = 0;
        for (int part = 0; part < 4; ++part) {
            const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * part));
            const __m128i row = _mm_or_si128(_mm_shuffle_epi8(low, chunk),
                                             _mm_shuffle_epi8(high, _mm_xor_si128(chunk, top)));
            const __m128i bit = _mm_shuffle_epi8(bitOfHigh, _mm_and_si128(_mm_srli_epi16(chunk, 4), nibble));
            const auto absent = static_cast<std::uint32_t>(
                _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(row, bit), _mm_setzero_si128())));
            mask |= std::uint64_t{~absent & 0xFFFFu} << (16 * part);
        }
        return mask;
    }
};

__attribute__((target("ssse3"), flatten)) std::size_t firstRow128(const ByteSet& set, const std::uint8_t* bytes,
                                                         std::size_t from, std::size_t to, std::size_t length) {
    return scanRows(FromBytes{NibbleMask128(set.halves()), set, bytes, to}, from, to, length);
}

#ifdef GLYPHOUND_USE_AVX2
struct NibbleMask256 {
    __m256i low, high, bitOfHigh, top, nibble;
    __attribute__((target("avx2"))) NibbleMask256(const ByteSet::Halves& halves)
        : low(_mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(halves.low.data())))),
          high(_mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(halves.high.data())))),
          bitOfHigh(_mm256_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32,
                                     64, -128, 1, 2, 4, 8, 16, 32, 64, -128)),
          top(_mm256_set1_epi8(-128)),
          nibble(_mm256_set1_epi8(0x0F)) {}
    __attribute__((target("avx2"))) std::uint64_t operator()(const std::uint8_t* bytes) const {
        std::uint64_t mask = 0;
        for (int part = 0; part < 2; ++part) {
            const __m256i chunk = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + 32 * part));
            const __m256i row = _mm256_or_si256(_mm256_shuffle_epi8(low, chunk),
                                                _mm256_shuffle_epi8(high, _mm256_xor_si256(chunk, top)));
            const __m256i bit =
                _mm256_shuffle_epi8(bitOfHigh, _mm256_and_si256(_mm256_srli_epi16(chunk, 4), nibble));
            const auto absent = static_cast<std::uint32_t>(
                _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_and_si256(row, bit), _mm256_setzero_si256())));
            mask |= std::uint64_t{~absent} << (32 * part);
        }
        return mask;
    }
};

// A set of a few bytes is tested byte by byte, which costs less than the
// shuffles; a word's first letter is such a set. Its bytes fill every place,
// the first again where it has fewer, so that the loop runs without a
// branch; an empty set has none to repeat, and goes to the shuffles.
std::uint8_t fewByte(const ByteSet& set, int place) {
    return set.few()[place < set.size() ? static_cast<std::size_t>(place) : 0];
}

struct FewMask256 {
    __m256i few[ByteSet::kFew];
    __attribute__((target("avx2"))) FewMask256(const ByteSet& set) : few() {
        for (int k = 0; k < ByteSet::kFew; ++k)
            few[k] = _mm256_set1_epi8(static_cast<char>(fewByte(set, k)));
    }
    __attribute__((target("avx2"))) std::uint64_t operator()(const std::uint8_t* bytes) const {
        std::uint64_t mask = 0;
        for (int part = 0; part < 2; ++part) {
            const __m256i chunk = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + 32 * part));
            __m256i hit = _mm256_setzero_si256();
            for (int k = 0; k < ByteSet::kFew; ++k) hit = _mm256_or_si256(hit, _mm256_cmpeq_epi8(chunk, few[k]));
            mask |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(hit))} << (32 * part);
        }
        return mask;
    }
};

bool testedByteByByte(const ByteSet& set) { return set.size() > 0 && set.size() <= ByteSet::kFew; }

__attribute__((target("avx2"), flatten)) std::size_t firstRow256(const ByteSet& set, const std::uint8_t* bytes,
                                                        std::size_t from, std::size_t to, std::size_t length) {
    if (testedByteByByte(set)) return scanRows<true>(FromBytes{FewMask256(set), set, bytes, to}, from, to, length);
    return scanRows(FromBytes{NibbleMask256(set.halves()), set, bytes, to}, from, to, length);
}

// The same masks in AVX-512, whose tests give a chunk's bits at once.
struct NibbleMask512 {
    __m512i low, high, bitOfHigh;
    __attribute__((target("avx512f,avx512bw"))) NibbleMask512(const ByteSet::Halves& halves)
        : low(_mm512_maskz_broadcast_i32x4(0xFFFF, _mm_loadu_si128(reinterpret_cast<const __m128i*>(halves.low.data())))),
          high(_mm512_maskz_broadcast_i32x4(0xFFFF,
                                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(halves.high.data())))),
          bitOfHigh(_mm512_set1_epi64(static_cast<long long>(0x8040201008040201))) {}
    __attribute__((target("avx512f,avx512bw"))) std::uint64_t operator()(const std::uint8_t* bytes) const {
        const __m512i chunk = _mm512_loadu_si512(bytes);
        const __m512i row = _mm512_or_si512(_mm512_shuffle_epi8(low, chunk),
                                            _mm512_shuffle_epi8(high, _mm512_xor_si512(chunk, _mm512_set1_epi8(-128))));
        const __m512i bit =
            _mm512_shuffle_epi8(bitOfHigh, _mm512_and_si512(_mm512_srli_epi16(chunk, 4), _mm512_set1_epi8(0x0F)));
        return _mm512_test_epi8_mask(row, bit);
    }
};

struct FewMask512 {
    __m512i few[ByteSet::kFew];
    __attribute__((target("avx512f,avx512bw"))) FewMask512(const ByteSet& set) : few() {
        for (int k = 0; k < ByteSet::kFew; ++k)
            few[k] = _mm512_set1_epi8(static_cast<char>(fewByte(set, k)));
    }
    __attribute__((target("avx512f,avx512bw"))) std::uint64_t operator()(const std::uint8_t* bytes) const {
        const __m512i chunk = _mm512_loadu_si512(bytes);
        std::uint64_t mask = 0;
        for (int k = 0; k < ByteSet::kFew; ++k) mask |= _mm512_cmpeq_epi8_mask(chunk, few[k]);
        return mask;
    }
};

__attribute__((target("avx512f,avx512bw"), flatten)) std::size_t firstRow512(const ByteSet& set,
                                                                            const std::uint8_t* bytes,
                                                                            std::size_t from, std::size_t to,
                                                                            std::size_t length) {
    if (testedByteByByte(set)) return scanRows<true>(FromBytes{FewMask512(set), set, bytes, to}, from, to, length);
    return scanRows(FromBytes{NibbleMask512(set.halves()), set, bytes, to}, from, to, length);
}

#endif

}  // namespace

#endif

#ifdef GLYPHOUND_WASM_VECTORS

namespace {

// As SSSE3's, with the swizzle for the byte shuffle.
struct NibbleMask128 {
    v128_t low, high, lowBit, highBit;
    explicit NibbleMask128(const ByteSet::Halves& halves)
        : low(wasm_v128_load(halves.low.data())),
          high(wasm_v128_load(halves.high.data())),
          lowBit(wasm_i8x16_make(1, 2, 4, 8, 16, 32, 64, -128, 0, 0, 0, 0, 0, 0, 0, 0)),
          highBit(wasm_i8x16_make(0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 4, 8, 16, 32, 64, -128)) {}
    std::uint64_t operator()(const std::uint8_t* bytes) const {
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
};

std::size_t firstRow128(const ByteSet& set, const std::uint8_t* bytes, std::size_t from, std::size_t to,
                        std::size_t length) {
    return scanRows(FromBytes{NibbleMask128(set.halves()), set, bytes, to}, from, to, length);
}

}  // namespace

#endif

#ifdef GLYPHOUND_NEON_VECTORS

namespace {

// The WebAssembly masker's lanes, in NEON, whose table lookup also gives 0
// for an index past 15. NEON gathers no bit per lane: the lanes are weighed
// by their bit and summed in pairs, three times, into the 64-bit mask.
struct NibbleMaskNeon {
    uint8x16_t low, high, lowBit, highBit, weights;
    explicit NibbleMaskNeon(const ByteSet::Halves& halves)
        : low(vld1q_u8(halves.low.data())), high(vld1q_u8(halves.high.data())) {
        static const std::uint8_t kLowBit[16] = {1, 2, 4, 8, 16, 32, 64, 128, 0, 0, 0, 0, 0, 0, 0, 0};
        static const std::uint8_t kHighBit[16] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 4, 8, 16, 32, 64, 128};
        static const std::uint8_t kWeights[16] = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
        lowBit = vld1q_u8(kLowBit);
        highBit = vld1q_u8(kHighBit);
        weights = vld1q_u8(kWeights);
    }
    uint8x16_t weighedLanes(const std::uint8_t* bytes) const {
        const uint8x16_t chunk = vld1q_u8(bytes);
        const uint8x16_t lows = vandq_u8(chunk, vdupq_n_u8(0x0F)), highs = vshrq_n_u8(chunk, 4);
        const uint8x16_t hit = vorrq_u8(vandq_u8(vqtbl1q_u8(low, lows), vqtbl1q_u8(lowBit, highs)),
                                        vandq_u8(vqtbl1q_u8(high, lows), vqtbl1q_u8(highBit, highs)));
        return vandq_u8(vtstq_u8(hit, hit), weights);
    }
    std::uint64_t operator()(const std::uint8_t* bytes) const {
        const uint8x16_t first = vpaddq_u8(weighedLanes(bytes), weighedLanes(bytes + 16));
        const uint8x16_t second = vpaddq_u8(weighedLanes(bytes + 32), weighedLanes(bytes + 48));
        const uint8x16_t quads = vpaddq_u8(first, second);
        return vgetq_lane_u64(vreinterpretq_u64_u8(vpaddq_u8(quads, quads)), 0);
    }
};

std::size_t firstRow128(const ByteSet& set, const std::uint8_t* bytes, std::size_t from, std::size_t to,
                        std::size_t length) {
    return scanRows(FromBytes{NibbleMaskNeon(set.halves()), set, bytes, to}, from, to, length);
}

}  // namespace

#endif

std::size_t ByteSet::firstRow(const std::uint8_t* bytes, std::size_t from, std::size_t to, std::size_t length,
                              VectorWidth width) const {
#if defined(GLYPHOUND_X86_VECTORS) && defined(GLYPHOUND_USE_AVX2)
    if (width == VectorWidth::Best && bytes512Available()) return firstRow512(*this, bytes, from, to, length);
#endif
    width = usableWidth(width);
#if defined(GLYPHOUND_X86_VECTORS) && defined(GLYPHOUND_USE_AVX2)
    if (width == VectorWidth::Bits256) return firstRow256(*this, bytes, from, to, length);
#endif
#ifdef GLYPHOUND_128_BIT_VECTORS
    if (width == VectorWidth::Bits128) return firstRow128(*this, bytes, from, to, length);
#endif
    return scanRows(FromBytes{ScalarMask{*this}, *this, bytes, to}, from, to, length);
}

}  // namespace glyphound
