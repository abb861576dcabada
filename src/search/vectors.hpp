#pragma once

// Which vector instructions the searches may use. Each search has one loop
// per width, and the tests run them all against one another.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__)) && defined(__SSE2__)
#define GLYPHOUND_X86_VECTORS 1
#endif
// WebAssembly SIMD, when built with -msimd128 (the page): a module built so
// loads only where the browser has it, so no test at run time is needed.
#if defined(__wasm_simd128__)
#define GLYPHOUND_WASM_VECTORS 1
#endif

namespace glyphound {

// 128-bit lanes need SSSE3 (for its byte shuffle) or WebAssembly SIMD,
// 256-bit ones AVX2; `Best` is the widest this processor runs.
enum class VectorWidth { Scalar, Bits128, Bits256, Best };

bool vectorWidthAvailable(VectorWidth width);

// `Best`, or a width the processor lacks, as the widest one it has.
VectorWidth usableWidth(VectorWidth width);

}  // namespace glyphound
