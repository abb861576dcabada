#pragma once

#include <cstddef>
#include <cstdint>

namespace glyphound {

// Vector widths for finding a byte pair; `Best` is the widest this processor runs.
enum class VectorWidth { Scalar, Sse2, Avx2, Best };

// Index j of the first pair (bytes[j-1], bytes[j]), 1 <= j < size, whose
// difference bytes[j-1] - bytes[j], as a plain integer (-255..255), equals
// `first`, and whose successor, when it lies within `size`, has the
// difference `second`; `size` when there is none. With random data such a
// pair turns up about once in 65,000 bytes, not once in 256.
std::size_t findPairsWithDifferences(const std::uint8_t* bytes, std::size_t size, int first, int second,
                                     VectorWidth width = VectorWidth::Best);

bool vectorWidthAvailable(VectorWidth width);

}  // namespace glyphound
