// The fast scan against the literal stepping of its state machine, for any
// search string, any data, any block cuts and every vector width.
#include <cstdlib>

#include "fuzz_input.hpp"
#include "reference_scan.hpp"

using namespace glyphound;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::FuzzInput input{data, size};
    const std::string word = input.part(kMaxSearchLength);
    if (word.size() < kMinSearchLength) return 0;
    const std::vector<std::size_t> blocks{1u + input.byte(), 1u + input.byte() % 8, 1u + input.byte() * 7u};
    const std::string rest = input.rest();
    if (!testing::scansAgree(std::vector<std::uint8_t>(rest.begin(), rest.end()), word, blocks)) std::abort();
    return 0;
}
