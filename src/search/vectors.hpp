#pragma once

// Which vector instructions the searches may use. Each search has one loop
// per width, and the tests run them all against one another.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__)) && defined(__SSE2__)
#define GLYPHOUND_X86_VECTORS 1
#endif
// Every 64-bit ARM processor has NEON, so its loops need no check at run time.
#if defined(__GNUC__) && defined(__aarch64__)
#define GLYPHOUND_NEON_VECTORS 1
#endif
// WebAssembly SIMD, when built with -msimd128 (the page): a module built so
// loads only where the browser has it, so no test at run time is needed.
#if defined(__wasm_simd128__)
#define GLYPHOUND_WASM_VECTORS 1
#endif
#if defined(GLYPHOUND_X86_VECTORS) || defined(GLYPHOUND_NEON_VECTORS) || defined(GLYPHOUND_WASM_VECTORS)
#define GLYPHOUND_128_BIT_VECTORS 1
#endif

#include <cstddef>
#include <cstdint>

namespace glyphound {

// The processor's own prefetcher stops at the end of each 4 KiB page, so a
// scan of a file's pages would wait for memory at the start of every one,
// and bytes another thread has just read come slowly from its processor's
// cache: a scan asks for the bytes a page ahead of those it works on. (A
// prefetch never faults, wherever it points.)
constexpr std::size_t kPrefetchDistance = 4096;
inline void prefetchAhead(const std::uint8_t* at) { __builtin_prefetch(at + kPrefetchDistance); }

// 128-bit lanes need SSSE3 (for its byte shuffle) on x86, NEON on 64-bit ARM
// or WebAssembly SIMD, 256-bit ones AVX2; `Best` is the widest this processor
// runs. The widths come in order: a processor that runs one runs those
// before it.
enum class VectorWidth { Scalar, Bits128, Bits256, Best };

bool vectorWidthAvailable(VectorWidth width);

// What an x86 processor says it has, of the features the loops use.
struct X86Features {
    bool ssse3, avx2, avx512bw, avx512vbmi, avx512vbmi2;
};

// The loops a processor runs: the widest width, and the two kinds of
// 64-byte loops below.
struct VectorChoice {
    VectorWidth widest;
    bool byteLookups512, bytes512;
};

// What a processor with these features runs, of the loops this program was
// built with. Worked out apart from the processor it runs on, so that the
// choice for processors unlike it can be checked too: a loop chosen where a
// feature is missing ends the program on an illegal instruction.
VectorChoice vectorChoiceFor(const X86Features& has);

// `Best`, or a width the processor lacks, as the widest one it has.
VectorWidth usableWidth(VectorWidth width);

// AVX-512 with its byte permutes and compresses (VBMI, VBMI2), where the
// 256-bit loops are built too: a byte looked up in a table of 256, for 64
// bytes at a time.
bool byteLookups512Available();
// AVX-512 with byte lanes (BW), where the 256-bit loops are built too: the
// 256-bit loops' tests for 64 bytes at a time. `Best` takes them.
bool bytes512Available();

}  // namespace glyphound
