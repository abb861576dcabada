#include "search/bucket_filter.hpp"

#include <algorithm>

#ifdef GLYPHOUND_X86_VECTORS
#include <immintrin.h>
#endif
#ifdef GLYPHOUND_NEON_VECTORS
#include "search/neon_lanes.hpp"
#endif
#ifdef GLYPHOUND_WASM_VECTORS
#include <wasm_simd128.h>
#endif

namespace glyphound {

void BucketFilter::add(const Member& member, std::uint8_t first, std::uint8_t second) {
    const auto key = static_cast<std::uint16_t>(first << 8 | second);
    auto found = std::find(keys_.begin(), keys_.end(), key);
    if (found == keys_.end()) found = keys_.insert(keys_.end(), key);
    const int index = static_cast<int>(found - keys_.begin()) % kBuckets;
    buckets_[index].push_back(member);
    farthestOffset_ = std::max(farthestOffset_, member.offset);
    const std::uint8_t differences[2] = {first, second};
    for (int which = 0; which < 2; ++which) {
        lowNibble_[which][differences[which] & 15] |= static_cast<std::uint8_t>(1 << index);
        highNibble_[which][differences[which] >> 4] |= static_cast<std::uint8_t>(1 << index);
    }
}

std::uint8_t BucketFilter::bucketsAt(const std::uint8_t* bytes, std::size_t position) const {
    const std::uint8_t* unit = bytes + position + low_;
    std::uint8_t buckets = 0xFF;
    for (int which = 0; which < 2; ++which, unit += step_) {
        const auto difference = static_cast<std::uint8_t>(unit[step_] - unit[0]);
        buckets &= lowNibble_[which][difference & 15] & highNibble_[which][difference >> 4];
    }
    return buckets;
}

std::size_t BucketFilter::nextScalar(const std::uint8_t* bytes, std::size_t from, std::size_t to,
                                     std::uint8_t& buckets) const {
    for (std::size_t position = from; position < to; ++position)
        if ((buckets = bucketsAt(bytes, position)) != 0) return position;
    return to;
}

#ifdef GLYPHOUND_X86_VECTORS

namespace {

// The buckets whose nibble tables take both nibbles of each difference.
__attribute__((target("ssse3"))) __m128i bucketsOf(__m128i difference, __m128i low, __m128i high) {
    const __m128i nibble = _mm_set1_epi8(0x0F);
    return _mm_and_si128(_mm_shuffle_epi8(low, _mm_and_si128(difference, nibble)),
                         _mm_shuffle_epi8(high, _mm_and_si128(_mm_srli_epi16(difference, 4), nibble)));
}

__attribute__((target("avx2"))) __m256i bucketsOf(__m256i difference, __m256i low, __m256i high) {
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    return _mm256_and_si256(_mm256_shuffle_epi8(low, _mm256_and_si256(difference, nibble)),
                            _mm256_shuffle_epi8(high, _mm256_and_si256(_mm256_srli_epi16(difference, 4), nibble)));
}

// The byte shuffle works within each 128-bit half, so each half gets the table.
__attribute__((target("avx2"))) __m256i table(const std::array<std::uint8_t, 16>& nibbles) {
    return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(nibbles.data())));
}

}  // namespace

__attribute__((target("ssse3"))) std::size_t BucketFilter::next128(const std::uint8_t* bytes, std::size_t from,
                                                                     std::size_t to, std::uint8_t& buckets) const {
    const auto table = [](const Nibbles& nibbles) {
        return _mm_load_si128(reinterpret_cast<const __m128i*>(nibbles.data()));
    };
    const __m128i low0 = table(lowNibble_[0]), high0 = table(highNibble_[0]);
    const __m128i low1 = table(lowNibble_[1]), high1 = table(highNibble_[1]);
    const bool lone = keys_.size() == 1;
    const __m128i first = _mm_set1_epi8(static_cast<char>(lone ? keys_[0] >> 8 : 0));
    const __m128i second = _mm_set1_epi8(static_cast<char>(lone ? keys_[0] & 0xFF : 0));
    std::size_t position = from;
    for (; position + 16 <= to; position += 16) {
        const std::uint8_t* at = bytes + position + low_;
        prefetchAhead(at);
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + step_));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 2 * step_));
        const __m128i passed =
            lone ? _mm_and_si128(_mm_cmpeq_epi8(_mm_sub_epi8(b, a), first), _mm_cmpeq_epi8(_mm_sub_epi8(c, b), second))
                 : _mm_and_si128(bucketsOf(_mm_sub_epi8(b, a), low0, high0), bucketsOf(_mm_sub_epi8(c, b), low1, high1));
        const auto lanes = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(passed, _mm_setzero_si128()))) ^ 0xFFFFu;
        if (lanes) return nextScalar(bytes, position + static_cast<std::size_t>(__builtin_ctz(lanes)), to, buckets);
    }
    return nextScalar(bytes, position, to, buckets);
}

__attribute__((target("avx2"))) std::size_t BucketFilter::next256(const std::uint8_t* bytes, std::size_t from,
                                                                    std::size_t to, std::uint8_t& buckets) const {
    const __m256i low0 = table(lowNibble_[0]), high0 = table(highNibble_[0]);
    const __m256i low1 = table(lowNibble_[1]), high1 = table(highNibble_[1]);
    const bool lone = keys_.size() == 1;
    const __m256i first = _mm256_set1_epi8(static_cast<char>(lone ? keys_[0] >> 8 : 0));
    const __m256i second = _mm256_set1_epi8(static_cast<char>(lone ? keys_[0] & 0xFF : 0));
    std::size_t position = from;
    for (; position + 32 <= to; position += 32) {
        const std::uint8_t* at = bytes + position + low_;
        prefetchAhead(at);
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + step_));
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 2 * step_));
        const __m256i passed =
            lone ? _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_sub_epi8(b, a), first),
                                    _mm256_cmpeq_epi8(_mm256_sub_epi8(c, b), second))
                 : _mm256_and_si256(bucketsOf(_mm256_sub_epi8(b, a), low0, high0),
                                    bucketsOf(_mm256_sub_epi8(c, b), low1, high1));
        if (_mm256_testz_si256(passed, passed)) continue;
        const auto lanes = ~static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(passed, _mm256_setzero_si256())));
        return nextScalar(bytes, position + static_cast<std::size_t>(__builtin_ctz(lanes)), to, buckets);
    }
    return nextScalar(bytes, position, to, buckets);
}

#endif

#if defined(GLYPHOUND_X86_VECTORS) && defined(GLYPHOUND_USE_AVX2)

namespace {

__attribute__((target("avx512f,avx512bw"))) __m512i bucketsOf(__m512i difference, __m512i low, __m512i high) {
    const __m512i nibble = _mm512_set1_epi8(0x0F);
    return _mm512_and_si512(_mm512_shuffle_epi8(low, _mm512_and_si512(difference, nibble)),
                            _mm512_shuffle_epi8(high, _mm512_and_si512(_mm512_srli_epi16(difference, 4), nibble)));
}

__attribute__((target("avx512f,avx512bw"))) __m512i table512(const std::array<std::uint8_t, 16>& nibbles) {
    return _mm512_maskz_broadcast_i32x4(0xFFFF, _mm_load_si128(reinterpret_cast<const __m128i*>(nibbles.data())));
}

}  // namespace

// The AVX2 loop's test on 64 positions, whose comparisons give the passing
// positions' bits at once. The last round loads only the positions left, as
// a masked load reads nothing, and faults nowhere, past them.
__attribute__((target("avx512f,avx512bw"))) std::size_t BucketFilter::next512(const std::uint8_t* bytes,
                                                                              std::size_t from, std::size_t to,
                                                                              std::uint8_t& buckets) const {
    const __m512i low0 = table512(lowNibble_[0]), high0 = table512(highNibble_[0]);
    const __m512i low1 = table512(lowNibble_[1]), high1 = table512(highNibble_[1]);
    const bool lone = keys_.size() == 1;
    const __m512i first = _mm512_set1_epi8(static_cast<char>(lone ? keys_[0] >> 8 : 0));
    const __m512i second = _mm512_set1_epi8(static_cast<char>(lone ? keys_[0] & 0xFF : 0));
    for (std::size_t position = from; position < to; position += 64) {
        const std::uint8_t* at = bytes + position + low_;
        prefetchAhead(at);
        __m512i a, b, c;
        if (to - position >= 64) {
            a = _mm512_loadu_si512(at), b = _mm512_loadu_si512(at + step_), c = _mm512_loadu_si512(at + 2 * step_);
        } else {
            const __mmask64 left = (__mmask64{1} << (to - position)) - 1;
            a = _mm512_maskz_loadu_epi8(left, at), b = _mm512_maskz_loadu_epi8(left, at + step_);
            c = _mm512_maskz_loadu_epi8(left, at + 2 * step_);
        }
        // A lane past `to` may pass too: the scalar test, which starts at the
        // first that does, then finds none before `to`.
        const std::uint64_t lanes =
            lone ? _mm512_mask_cmpeq_epi8_mask(_mm512_cmpeq_epi8_mask(_mm512_sub_epi8(b, a), first),
                                               _mm512_sub_epi8(c, b), second)
                 : _mm512_test_epi8_mask(bucketsOf(_mm512_sub_epi8(b, a), low0, high0),
                                         bucketsOf(_mm512_sub_epi8(c, b), low1, high1));
        if (lanes) return nextScalar(bytes, position + static_cast<std::size_t>(__builtin_ctzll(lanes)), to, buckets);
    }
    return to;
}

#endif

#ifdef GLYPHOUND_NEON_VECTORS

namespace {

// NEON's table lookup gives 0 for an index past 15, which a nibble never is.
uint8x16_t bucketsOf(uint8x16_t difference, uint8x16_t low, uint8x16_t high) {
    return vandq_u8(vqtbl1q_u8(low, vandq_u8(difference, vdupq_n_u8(0x0F))), vqtbl1q_u8(high, vshrq_n_u8(difference, 4)));
}

}  // namespace

// The SSSE3 loop's lanes, in NEON.
std::size_t BucketFilter::next128(const std::uint8_t* bytes, std::size_t from, std::size_t to,
                                  std::uint8_t& buckets) const {
    const uint8x16_t low0 = vld1q_u8(lowNibble_[0].data()), high0 = vld1q_u8(highNibble_[0].data());
    const uint8x16_t low1 = vld1q_u8(lowNibble_[1].data()), high1 = vld1q_u8(highNibble_[1].data());
    std::size_t position = from;
    for (; position + 16 <= to; position += 16) {
        const std::uint8_t* at = bytes + position + low_;
        prefetchAhead(at);
        const uint8x16_t a = vld1q_u8(at), b = vld1q_u8(at + step_), c = vld1q_u8(at + 2 * step_);
        const uint8x16_t passed = vandq_u8(bucketsOf(vsubq_u8(b, a), low0, high0), bucketsOf(vsubq_u8(c, b), low1, high1));
        const std::uint64_t lanes = laneNibbles(vtstq_u8(passed, passed));
        if (lanes) return nextScalar(bytes, position + firstLane(lanes), to, buckets);
    }
    return nextScalar(bytes, position, to, buckets);
}

#endif

#ifdef GLYPHOUND_WASM_VECTORS

namespace {

// As SSSE3's: the swizzle gives lane i of the table at index i below 16.
v128_t bucketsOf(v128_t difference, v128_t low, v128_t high) {
    return wasm_v128_and(wasm_i8x16_swizzle(low, wasm_v128_and(difference, wasm_i8x16_splat(0x0F))),
                         wasm_i8x16_swizzle(high, wasm_u8x16_shr(difference, 4)));
}

}  // namespace

// 32 positions a round, as two vectors, so that one test of both skips most.
std::size_t BucketFilter::next128(const std::uint8_t* bytes, std::size_t from, std::size_t to,
                                  std::uint8_t& buckets) const {
    const v128_t low0 = wasm_v128_load(lowNibble_[0].data()), high0 = wasm_v128_load(highNibble_[0].data());
    const v128_t low1 = wasm_v128_load(lowNibble_[1].data()), high1 = wasm_v128_load(highNibble_[1].data());
    const auto passedAt = [&](const std::uint8_t* at) {
        const v128_t a = wasm_v128_load(at), b = wasm_v128_load(at + step_), c = wasm_v128_load(at + 2 * step_);
        return wasm_v128_and(bucketsOf(wasm_i8x16_sub(b, a), low0, high0),
                             bucketsOf(wasm_i8x16_sub(c, b), low1, high1));
    };
    std::size_t position = from;
    for (; position + 32 <= to; position += 32) {
        const std::uint8_t* at = bytes + position + low_;
        prefetchAhead(at);
        const v128_t first = passedAt(at), second = passedAt(at + 16);
        if (!wasm_v128_any_true(wasm_v128_or(first, second))) continue;
        const std::uint32_t lanes = wasm_i8x16_bitmask(wasm_i8x16_ne(first, wasm_i8x16_splat(0))) |
                                    wasm_i8x16_bitmask(wasm_i8x16_ne(second, wasm_i8x16_splat(0))) << 16;
        return nextScalar(bytes, position + static_cast<std::size_t>(__builtin_ctz(lanes)), to, buckets);
    }
    return nextScalar(bytes, position, to, buckets);
}

#endif

std::size_t BucketFilter::next(const std::uint8_t* bytes, std::size_t from, std::size_t to, std::uint8_t& buckets,
                               VectorWidth width) const {
#if defined(GLYPHOUND_X86_VECTORS) && defined(GLYPHOUND_USE_AVX2)
    if (width == VectorWidth::Best && bytes512Available()) return next512(bytes, from, to, buckets);
#endif
    if (width == VectorWidth::Best) width = usableWidth(width);
#ifdef GLYPHOUND_X86_VECTORS
    if (width == VectorWidth::Bits256) return next256(bytes, from, to, buckets);
#endif
#ifdef GLYPHOUND_128_BIT_VECTORS
    if (width == VectorWidth::Bits128) return next128(bytes, from, to, buckets);
#endif
    return nextScalar(bytes, from, to, buckets);
}

}  // namespace glyphound
