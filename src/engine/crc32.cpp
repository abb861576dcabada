#include "engine/crc32.hpp"

#include <array>

#ifdef GLYPHOUND_X86_VECTORS
#include <immintrin.h>
#endif

namespace glyphound {
namespace {

constexpr std::uint32_t kReflected = 0xEDB88320;

// Slicing by eight: table k gives a byte's effect on the register k bytes
// further on, so eight bytes cost eight independent lookups.
using Tables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr Tables makeTables() {
    Tables tables{};
    for (std::uint32_t byte = 0; byte < 256; ++byte) {
        std::uint32_t crc = byte;
        for (int bit = 0; bit < 8; ++bit) crc = crc & 1 ? crc >> 1 ^ kReflected : crc >> 1;
        tables[0][byte] = crc;
    }
    for (std::size_t k = 1; k < tables.size(); ++k)
        for (std::size_t byte = 0; byte < 256; ++byte)
            tables[k][byte] = tables[k - 1][byte] >> 8 ^ tables[0][tables[k - 1][byte] & 0xFF];
    return tables;
}

constexpr Tables kTables = makeTables();

std::uint32_t littleEndian32(const std::uint8_t* bytes) {
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::uint32_t addPortable(std::uint32_t state, const std::uint8_t* data, std::size_t size) {
    const auto& t = kTables;
    for (; size >= 8; data += 8, size -= 8) {
        const std::uint32_t low = littleEndian32(data) ^ state, high = littleEndian32(data + 4);
        state = t[7][low & 0xFF] ^ t[6][low >> 8 & 0xFF] ^ t[5][low >> 16 & 0xFF] ^ t[4][low >> 24] ^
                t[3][high & 0xFF] ^ t[2][high >> 8 & 0xFF] ^ t[1][high >> 16 & 0xFF] ^ t[0][high >> 24];
    }
    for (; size > 0; ++data, --size) state = t[0][(state ^ *data) & 0xFF] ^ state >> 8;
    return state;
}

#ifdef GLYPHOUND_X86_VECTORS

// x^n modulo the polynomial, as a carry-less product's 64-bit operand in the
// reflected order: the coefficient of x^j at bit 63 - j.
constexpr std::uint64_t powerOperand(int n) {
    std::uint64_t remainder = 1;
    for (int i = 0; i < n; ++i) {
        remainder <<= 1;
        if (remainder >> 32 & 1) remainder ^= 0x104C11DB7;
    }
    std::uint64_t operand = 0;
    for (int j = 0; j < 32; ++j) operand |= (remainder >> j & 1) << (63 - j);
    return operand;
}

// Folding 16 bytes forward by `distance` bytes: their first half is x^64 times
// further on than their second, and reading a reflected product gains one
// more x, which the powers give back.
struct FoldBy {
    explicit constexpr FoldBy(int distance)
        : firstHalf(powerOperand(64 + 8 * distance - 1)), secondHalf(powerOperand(8 * distance - 1)) {}
    std::uint64_t firstHalf, secondHalf;
};
constexpr FoldBy kFold256(256), kFold64(64), kFold16(16);

__attribute__((target("pclmul,sse2"))) __m128i fold(__m128i bytes, __m128i by) {
    return _mm_xor_si128(_mm_clmulepi64_si128(bytes, by, 0x00), _mm_clmulepi64_si128(bytes, by, 0x11));
}

__attribute__((target("pclmul,sse2"))) __m128i operands(const FoldBy& by) {
    return _mm_set_epi64x(static_cast<long long>(by.secondHalf), static_cast<long long>(by.firstHalf));
}

__attribute__((target("pclmul,sse2"))) __m128i load(const std::uint8_t* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// Four lanes of 16 bytes fold over the data, 64 bytes a step, then into one,
// which stays congruent to all the bytes read so far; its own CRC, from a
// register of zero, is theirs. Takes whole 16-byte blocks, at least four.
__attribute__((target("pclmul,sse2"))) std::uint32_t addFolded(std::uint32_t state, const std::uint8_t* data,
                                                                 std::size_t blocks) {
    __m128i lanes[4];
    for (int lane = 0; lane < 4; ++lane) lanes[lane] = load(data + 16 * lane);
    lanes[0] = _mm_xor_si128(lanes[0], _mm_cvtsi32_si128(static_cast<int>(state)));
    const __m128i by64 = operands(kFold64), by16 = operands(kFold16);
    std::size_t block = 4;
    for (; block + 4 <= blocks; block += 4)
        for (int lane = 0; lane < 4; ++lane)
            lanes[lane] = _mm_xor_si128(fold(lanes[lane], by64), load(data + 16 * (block + lane)));
    __m128i folded = lanes[0];
    for (int lane = 1; lane < 4; ++lane) folded = _mm_xor_si128(fold(folded, by16), lanes[lane]);
    for (; block < blocks; ++block) folded = _mm_xor_si128(fold(folded, by16), load(data + 16 * block));
    alignas(16) std::uint8_t last[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(last), folded);
    return addPortable(0, last, sizeof last);
}

bool hasCarrylessProducts() {
    static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
    return has;
}

#ifdef GLYPHOUND_USE_AVX2

__attribute__((target("avx512f,vpclmulqdq"))) __m512i fold(__m512i bytes, __m512i by) {
    return _mm512_xor_si512(_mm512_clmulepi64_epi128(bytes, by, 0x00), _mm512_clmulepi64_epi128(bytes, by, 0x11));
}

// The same folding four times as wide: four registers of four lanes fold
// 256 bytes a step, and the 256 bytes they end with, congruent to all the
// bytes read, go through the narrow folding. Takes whole 256-byte chunks.
__attribute__((target("avx512f,vpclmulqdq,pclmul,sse2"))) std::uint32_t addFoldedWide(std::uint32_t state,
                                                                                       const std::uint8_t* data,
                                                                                       std::size_t chunks) {
    __m512i lanes[4];
    for (int lane = 0; lane < 4; ++lane) lanes[lane] = _mm512_loadu_si512(data + 64 * lane);
    lanes[0] = _mm512_xor_si512(lanes[0], _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(state))));
    const auto first = static_cast<long long>(kFold256.firstHalf), second = static_cast<long long>(kFold256.secondHalf);
    const __m512i by256 = _mm512_set_epi64(second, first, second, first, second, first, second, first);
    for (std::size_t chunk = 1; chunk < chunks; ++chunk)
        for (int lane = 0; lane < 4; ++lane)
            lanes[lane] = _mm512_xor_si512(fold(lanes[lane], by256), _mm512_loadu_si512(data + 256 * chunk + 64 * lane));
    alignas(64) std::uint8_t last[256];
    for (int lane = 0; lane < 4; ++lane) _mm512_store_si512(last + 64 * lane, lanes[lane]);
    return addFolded(0, last, sizeof last / 16);
}

bool hasWideCarrylessProducts() {
    static const bool has = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("vpclmulqdq");
    return has;
}

#endif

#endif

}  // namespace

void Crc32::add(const std::uint8_t* data, std::size_t size, VectorWidth width) {
#ifdef GLYPHOUND_X86_VECTORS
#ifdef GLYPHOUND_USE_AVX2
    if (size >= 256 && width == VectorWidth::Best && hasCarrylessProducts() && hasWideCarrylessProducts()) {
        const std::size_t chunks = size / 256;
        state_ = addFoldedWide(state_, data, chunks);
        data += chunks * 256;
        size -= chunks * 256;
    }
#endif
    if (size >= 64 && width != VectorWidth::Scalar && hasCarrylessProducts()) {
        const std::size_t blocks = size / 16;
        state_ = addFolded(state_, data, blocks);
        data += blocks * 16;
        size -= blocks * 16;
    }
#else
    (void)width;
#endif
    state_ = addPortable(state_, data, size);
}

std::uint32_t crc32(const std::uint8_t* data, std::size_t size) {
    Crc32 crc;
    crc.add(data, size);
    return crc.value();
}

}  // namespace glyphound
