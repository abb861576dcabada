#include "search/pair_finder.hpp"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__)) && defined(__SSE2__)
#define GLYPHOUND_X86_VECTORS 1
#include <immintrin.h>
#endif

namespace glyphound {
namespace {

std::size_t findScalar(const std::uint8_t* bytes, std::size_t start, std::size_t size, int difference) {
    for (std::size_t j = start + 1; j < size; ++j)
        if (bytes[j - 1] - bytes[j] == difference) return j;
    return size;
}

#ifdef GLYPHOUND_X86_VECTORS

// Which of the two bytes is the larger in a matching pair, and by how much:
// comparing a saturating difference with `magnitude` is then exact, because a
// negative difference saturates to 0 and a magnitude of 0 uses equality.
enum class Order { Equal, PreviousLarger, CurrentLarger };

struct PairTest {
    Order order;
    std::uint8_t magnitude;
};

PairTest pairTestFor(int difference) {
    if (difference == 0) return {Order::Equal, 0};
    if (difference > 0) return {Order::PreviousLarger, static_cast<std::uint8_t>(difference)};
    return {Order::CurrentLarger, static_cast<std::uint8_t>(-difference)};
}

template <Order order>
__m128i matchingLanes(__m128i previous, __m128i current, __m128i magnitude) {
    if constexpr (order == Order::Equal) return _mm_cmpeq_epi8(previous, current);
    if constexpr (order == Order::PreviousLarger)
        return _mm_cmpeq_epi8(_mm_subs_epu8(previous, current), magnitude);
    return _mm_cmpeq_epi8(_mm_subs_epu8(current, previous), magnitude);
}

template <Order order>
std::size_t findSse2(const std::uint8_t* bytes, std::size_t size, int difference) {
    std::size_t i = 0;
    const __m128i magnitude = _mm_set1_epi8(static_cast<char>(pairTestFor(difference).magnitude));
    // Lanes i..i+15 test the pairs ending at i+1..i+16. One narrow step
    // first: candidates are often close in text.
    if (i + 16 < size) {
        const __m128i lanes = matchingLanes<order>(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i)),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i + 1)), magnitude);
        const auto mask = static_cast<unsigned>(_mm_movemask_epi8(lanes));
        if (mask) return i + static_cast<std::size_t>(__builtin_ctz(mask)) + 1;
        i += 16;
    }
    for (; i + 32 < size; i += 32) {
        const auto* at = reinterpret_cast<const __m128i*>(bytes + i);
        const auto* next = reinterpret_cast<const __m128i*>(bytes + i + 1);
        const __m128i low = matchingLanes<order>(_mm_loadu_si128(at), _mm_loadu_si128(next), magnitude);
        const __m128i high = matchingLanes<order>(_mm_loadu_si128(at + 1), _mm_loadu_si128(next + 1), magnitude);
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(low)) |
                              static_cast<unsigned>(_mm_movemask_epi8(high)) << 16;
        if (mask) return i + static_cast<std::size_t>(__builtin_ctz(mask)) + 1;
    }
    return findScalar(bytes, i, size, difference);
}

template <Order order>
__attribute__((target("avx2"))) __m256i matchingLanes256(__m256i previous, __m256i current, __m256i magnitude) {
    if constexpr (order == Order::Equal) return _mm256_cmpeq_epi8(previous, current);
    if constexpr (order == Order::PreviousLarger)
        return _mm256_cmpeq_epi8(_mm256_subs_epu8(previous, current), magnitude);
    return _mm256_cmpeq_epi8(_mm256_subs_epu8(current, previous), magnitude);
}

template <Order order>
__attribute__((target("avx2"))) std::size_t findAvx2(const std::uint8_t* bytes, std::size_t size, int difference) {
    std::size_t i = 0;
    const __m256i magnitude = _mm256_set1_epi8(static_cast<char>(pairTestFor(difference).magnitude));
    // One narrow step first: candidates are often close in text.
    if (i + 32 < size) {
        const __m256i lanes = matchingLanes256<order>(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i)),
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i + 1)), magnitude);
        const auto mask = static_cast<std::uint32_t>(_mm256_movemask_epi8(lanes));
        if (mask) return i + static_cast<std::size_t>(__builtin_ctz(mask)) + 1;
        i += 32;
    }
    for (; i + 64 < size; i += 64) {
        const auto* at = reinterpret_cast<const __m256i*>(bytes + i);
        const auto* next = reinterpret_cast<const __m256i*>(bytes + i + 1);
        const __m256i low = matchingLanes256<order>(_mm256_loadu_si256(at), _mm256_loadu_si256(next), magnitude);
        const __m256i high = matchingLanes256<order>(_mm256_loadu_si256(at + 1), _mm256_loadu_si256(next + 1), magnitude);
        if (_mm256_testz_si256(_mm256_or_si256(low, high), _mm256_or_si256(low, high))) continue;
        const std::uint64_t mask = static_cast<std::uint32_t>(_mm256_movemask_epi8(low)) |
                                   std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(high))} << 32;
        return i + static_cast<std::size_t>(__builtin_ctzll(mask)) + 1;
    }
    return findScalar(bytes, i, size, difference);
}

using FinderFunction = std::size_t (*)(const std::uint8_t*, std::size_t, int);

template <FinderFunction Equal, FinderFunction PreviousLarger, FinderFunction CurrentLarger>
std::size_t dispatchOnOrder(const std::uint8_t* bytes, std::size_t size, int difference) {
    switch (pairTestFor(difference).order) {
        case Order::Equal: return Equal(bytes, size, difference);
        case Order::PreviousLarger: return PreviousLarger(bytes, size, difference);
        case Order::CurrentLarger: break;
    }
    return CurrentLarger(bytes, size, difference);
}

bool processorHasAvx2() {
#ifdef GLYPHOUND_USE_AVX2
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
#else
    return false;  // built without it
#endif
}

#endif

}  // namespace

bool vectorWidthAvailable(VectorWidth width) {
#ifdef GLYPHOUND_X86_VECTORS
    if (width == VectorWidth::Avx2) return processorHasAvx2();
    return true;
#else
    return width == VectorWidth::Scalar || width == VectorWidth::Best;
#endif
}

std::size_t findPairWithDifference(const std::uint8_t* bytes, std::size_t size, int difference,
                                   VectorWidth width) {
#ifdef GLYPHOUND_X86_VECTORS
    if (width == VectorWidth::Best || (width == VectorWidth::Avx2 && !processorHasAvx2()))
        width = processorHasAvx2() ? VectorWidth::Avx2 : VectorWidth::Sse2;
    if (width == VectorWidth::Avx2)
        return dispatchOnOrder<findAvx2<Order::Equal>, findAvx2<Order::PreviousLarger>,
                               findAvx2<Order::CurrentLarger>>(bytes, size, difference);
    if (width == VectorWidth::Sse2)
        return dispatchOnOrder<findSse2<Order::Equal>, findSse2<Order::PreviousLarger>,
                               findSse2<Order::CurrentLarger>>(bytes, size, difference);
#else
    (void)width;
#endif
    return findScalar(bytes, 0, size, difference);
}

}  // namespace glyphound
