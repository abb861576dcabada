// The fast scan against the literal stepping of its state machine, for any
// search string, any data, any block cuts and every vector width.
#include <cstdlib>

#include "fuzz_input.hpp"
#include "reference_scan.hpp"

using namespace glyphound;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::FuzzInput input(data, size);
    std::string word = input.part(kMaxSearchLength);
    if (word.size() < kMinSearchLength) return 0;
    const std::vector<std::size_t> blocks{1u + input.byte(), 1u + input.byte() % 8, 1u + input.byte() * 7u};
    const std::vector<std::uint8_t> bytes = input.rest();

    const auto expected = testing::referenceScan(bytes, word);
    for (VectorWidth width : {VectorWidth::Scalar, VectorWidth::Sse2, VectorWidth::Avx2, VectorWidth::Best}) {
        if (!vectorWidthAvailable(width)) continue;
        if (!(testing::fastScan(bytes, word, width, blocks) == expected)) std::abort();
    }
    return 0;
}
