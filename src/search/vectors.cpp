#include "search/vectors.hpp"

#include <initializer_list>

namespace glyphound {
namespace {

bool processorHas(VectorWidth width) {
#ifdef GLYPHOUND_X86_VECTORS
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
#ifdef GLYPHOUND_USE_AVX2
    static const bool avx2 = __builtin_cpu_supports("avx2");
#else
    const bool avx2 = false;  // built without it
#endif
    if (width == VectorWidth::Bits256) return avx2;
    if (width == VectorWidth::Bits128) return ssse3;
#endif
#if defined(GLYPHOUND_NEON_VECTORS) || defined(GLYPHOUND_WASM_VECTORS)
    if (width == VectorWidth::Bits128) return true;
#endif
    return width == VectorWidth::Scalar;
}

}  // namespace

bool vectorWidthAvailable(VectorWidth width) { return width == VectorWidth::Best || processorHas(width); }

namespace {

VectorWidth widestAvailable() {
    for (VectorWidth widest : {VectorWidth::Bits256, VectorWidth::Bits128})
        if (processorHas(widest)) return widest;
    return VectorWidth::Scalar;
}

}  // namespace

// Asked once for every string a dump finds: the widest is worked out once.
VectorWidth usableWidth(VectorWidth width) {
    static const VectorWidth widest = widestAvailable();
    if (width == VectorWidth::Best) return widest;
    return processorHas(width) ? width : widest;
}

bool byteLookups512Available() {
#if defined(GLYPHOUND_X86_VECTORS) && defined(GLYPHOUND_USE_AVX2)
    static const bool has = __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi") &&
                            __builtin_cpu_supports("avx512vbmi2");
    return has;
#else
    return false;
#endif
}

bool bytes512Available() {
#if defined(GLYPHOUND_X86_VECTORS) && defined(GLYPHOUND_USE_AVX2)
    static const bool has = __builtin_cpu_supports("avx512bw");
    return has;
#else
    return false;
#endif
}

}  // namespace glyphound
