#include "search/vectors.hpp"

#include <algorithm>

namespace glyphound {
namespace {

X86Features detectedFeatures() {
#ifdef GLYPHOUND_X86_VECTORS
    const bool ssse3 = __builtin_cpu_supports("ssse3"), avx2 = __builtin_cpu_supports("avx2"),
               bw = __builtin_cpu_supports("avx512bw"), vbmi = __builtin_cpu_supports("avx512vbmi"),
               vbmi2 = __builtin_cpu_supports("avx512vbmi2");
    return {ssse3, avx2, bw, vbmi, vbmi2};
#else
    return {false, false, false, false, false};
#endif
}

// Asked once for every string a dump finds: worked out once.
const VectorChoice& thisProcessor() {
    static const VectorChoice choice = vectorChoiceFor(detectedFeatures());
    return choice;
}

}  // namespace

VectorChoice vectorChoiceFor([[maybe_unused]] const X86Features& has) {
#if defined(GLYPHOUND_NEON_VECTORS) || defined(GLYPHOUND_WASM_VECTORS)
    return {VectorWidth::Bits128, false, false};
#elif defined(GLYPHOUND_X86_VECTORS)
#ifdef GLYPHOUND_USE_AVX2
    // The 64-byte loops finish their rows with the 256-bit ones.
    if (has.avx2) return {VectorWidth::Bits256, has.avx512bw && has.avx512vbmi && has.avx512vbmi2, has.avx512bw};
#endif
    return {has.ssse3 ? VectorWidth::Bits128 : VectorWidth::Scalar, false, false};
#else
    return {VectorWidth::Scalar, false, false};
#endif
}

bool vectorWidthAvailable(VectorWidth width) {
    return width == VectorWidth::Best || width <= thisProcessor().widest;
}

VectorWidth usableWidth(VectorWidth width) { return std::min(width, thisProcessor().widest); }

bool byteLookups512Available() { return thisProcessor().byteLookups512; }

bool bytes512Available() { return thisProcessor().bytes512; }

}  // namespace glyphound
