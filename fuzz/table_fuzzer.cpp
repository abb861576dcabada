// The table reader and the decoder on any table and any bytes: whatever text
// a table reads in some bytes, the encoder spells in no more bytes, and the
// table reads those back as the same text, unless the encoder gives up on a
// table whose control codes leave too much open.
#include <cstdlib>

#include "dialogue/texts.hpp"
#include "engine/encoder.hpp"
#include "engine/table_search.hpp"
#include "fuzz_input.hpp"

using namespace glyphound;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::FuzzInput input{data, size};
    const std::string table = input.part(255), bytes = input.part(24);
    std::string failure;
    const auto parsed = Table::parse(table, "t.tbl", failure);
    if (!parsed) return failure.empty() ? (std::abort(), 0) : 0;
    const auto* read = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const Text text = readAll(*parsed, read, bytes.size());
    const auto encoded = encode(*parsed, text, nullptr, failure);
    if (failure == texts::table::kTooCostly) return 0;
    if (!encoded || encoded->size() > bytes.size() ||
        readAll(*parsed, reinterpret_cast<const std::uint8_t*>(encoded->data()), encoded->size()) != text)
        std::abort();
    return 0;
}
