#include "search/pair_finder.hpp"

#ifdef GLYPHOUND_X86_VECTORS
#include <immintrin.h>
#endif
#ifdef GLYPHOUND_NEON_VECTORS
#include "search/neon_lanes.hpp"
#endif

namespace glyphound {
namespace {

// Whether pair j (bytes[j-1], bytes[j]) has the first difference and, when
// it has a successor within `size`, that successor the second.
bool startsRow(const std::uint8_t* bytes, std::size_t j, std::size_t size, int first, int second) {
    return bytes[j - 1] - bytes[j] == first && (j + 1 >= size || bytes[j] - bytes[j + 1] == second);
}

std::size_t findScalar(const std::uint8_t* bytes, std::size_t start, std::size_t size, int first, int second) {
    for (std::size_t j = start + 1; j < size; ++j)
        if (startsRow(bytes, j, size, first, second)) return j;
    return size;
}

#if defined(GLYPHOUND_X86_VECTORS) || defined(GLYPHOUND_NEON_VECTORS)

// A plain difference previous - current as two saturating ones: by how much
// the previous byte exceeds the current one, and by how much it falls short.
// At least one is 0, and where the other isn't, it alone tells the
// difference exactly, as a saturating subtraction is nonzero only where it
// didn't saturate: one subtraction and one comparison a pair. Where both
// are 0 the bytes are equal.
struct Excess {
    std::uint8_t above, below;
};

Excess excessFor(int difference) {
    if (difference >= 0) return {static_cast<std::uint8_t>(difference), 0};
    return {0, static_cast<std::uint8_t>(-difference)};
}

#endif

#ifdef GLYPHOUND_X86_VECTORS

__m128i matchingLanes(__m128i previous, __m128i current, Excess excess) {
    if (excess.above)
        return _mm_cmpeq_epi8(_mm_subs_epu8(previous, current), _mm_set1_epi8(static_cast<char>(excess.above)));
    if (excess.below)
        return _mm_cmpeq_epi8(_mm_subs_epu8(current, previous), _mm_set1_epi8(static_cast<char>(excess.below)));
    return _mm_cmpeq_epi8(previous, current);
}

// Lanes i..i+15 test the pairs ending at i+1..i+16 and their successors.
std::size_t findSse2(const std::uint8_t* bytes, std::size_t size, int first, int second) {
    const Excess firstExcess = excessFor(first), secondExcess = excessFor(second);
    std::size_t i = 0;
    for (; i + 18 <= size; i += 16) {
        prefetchAhead(bytes + i);
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i + 1));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i + 2));
        const auto mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(matchingLanes(a, b, firstExcess), matchingLanes(b, c, secondExcess))));
        if (mask) return i + static_cast<std::size_t>(__builtin_ctz(mask)) + 1;
    }
    return findScalar(bytes, i, size, first, second);
}

__attribute__((target("avx2"))) __m256i matchingLanes256(__m256i previous, __m256i current, Excess excess) {
    if (excess.above)
        return _mm256_cmpeq_epi8(_mm256_subs_epu8(previous, current), _mm256_set1_epi8(static_cast<char>(excess.above)));
    if (excess.below)
        return _mm256_cmpeq_epi8(_mm256_subs_epu8(current, previous), _mm256_set1_epi8(static_cast<char>(excess.below)));
    return _mm256_cmpeq_epi8(previous, current);
}

__attribute__((target("avx2"))) std::size_t findAvx2(const std::uint8_t* bytes, std::size_t size, int first,
                                                       int second) {
    const Excess firstExcess = excessFor(first), secondExcess = excessFor(second);
    std::size_t i = 0;
    for (; i + 34 <= size; i += 32) {
        prefetchAhead(bytes + i);
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i + 1));
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i + 2));
        const __m256i lanes = _mm256_and_si256(matchingLanes256(a, b, firstExcess), matchingLanes256(b, c, secondExcess));
        if (_mm256_testz_si256(lanes, lanes)) continue;
        const auto mask = static_cast<std::uint32_t>(_mm256_movemask_epi8(lanes));
        return i + static_cast<std::size_t>(__builtin_ctz(mask)) + 1;
    }
    return findScalar(bytes, i, size, first, second);
}

#endif

#ifdef GLYPHOUND_NEON_VECTORS

uint8x16_t matchingLanes(uint8x16_t previous, uint8x16_t current, Excess excess) {
    if (excess.above) return vceqq_u8(vqsubq_u8(previous, current), vdupq_n_u8(excess.above));
    if (excess.below) return vceqq_u8(vqsubq_u8(current, previous), vdupq_n_u8(excess.below));
    return vceqq_u8(previous, current);
}

// The SSE2 loop's lanes, in NEON.
std::size_t findNeon(const std::uint8_t* bytes, std::size_t size, int first, int second) {
    const Excess firstExcess = excessFor(first), secondExcess = excessFor(second);
    std::size_t i = 0;
    for (; i + 18 <= size; i += 16) {
        prefetchAhead(bytes + i);
        const uint8x16_t a = vld1q_u8(bytes + i), b = vld1q_u8(bytes + i + 1), c = vld1q_u8(bytes + i + 2);
        const std::uint64_t lanes =
            laneNibbles(vandq_u8(matchingLanes(a, b, firstExcess), matchingLanes(b, c, secondExcess)));
        if (lanes) return i + firstLane(lanes) + 1;
    }
    return findScalar(bytes, i, size, first, second);
}

#endif

}  // namespace

std::size_t findPairsWithDifferences(const std::uint8_t* bytes, std::size_t size, int first, int second,
                                     VectorWidth width) {
    if (width == VectorWidth::Best) width = usableWidth(width);
#ifdef GLYPHOUND_X86_VECTORS
    if (width == VectorWidth::Bits256) return findAvx2(bytes, size, first, second);
    if (width == VectorWidth::Bits128) return findSse2(bytes, size, first, second);
#endif
#ifdef GLYPHOUND_NEON_VECTORS
    if (width == VectorWidth::Bits128) return findNeon(bytes, size, first, second);
#endif
    return findScalar(bytes, 0, size, first, second);
}

}  // namespace glyphound
