#pragma once

#include <cstddef>
#include <cstdint>

namespace glyphound {

// Vector widths for finding a byte pair; `Best` is the widest this processor runs.
enum class VectorWidth { Scalar, Sse2, Avx2, Best };

// Index j of the first pair (bytes[j-1], bytes[j]), 1 <= j < size, whose
// difference bytes[j-1] - bytes[j], as a plain integer, equals `difference`
// (-255..255); `size` when there is none.
std::size_t findPairWithDifference(const std::uint8_t* bytes, std::size_t size, int difference,
                                   VectorWidth width = VectorWidth::Best);

bool vectorWidthAvailable(VectorWidth width);

}  // namespace glyphound
