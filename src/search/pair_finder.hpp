#pragma once

#include <cstddef>
#include <cstdint>

#include "search/vectors.hpp"

namespace glyphound {

// Index j of the first pair (bytes[j-1], bytes[j]), 1 <= j < size, whose
// difference bytes[j-1] - bytes[j], as a plain integer (-255..255), equals
// `first`, and whose successor, when it lies within `size`, has the
// difference `second`; `size` when there is none. With random data such a
// pair turns up about once in 65,000 bytes, not once in 256. `width` is one
// this processor has, or `Best`.
std::size_t findPairsWithDifferences(const std::uint8_t* bytes, std::size_t size, int first, int second,
                                     VectorWidth width = VectorWidth::Best);

}  // namespace glyphound
