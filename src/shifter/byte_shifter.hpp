#pragma once

#include <cstdint>
#include <string>

#include "dialogue/dialogue.hpp"
#include "io/streams.hpp"
#include "search/relative_search.hpp"

namespace glyphound {

enum class PassOutcome { Done, ReadFailed, WriteFailed };

// Copies `input` to `output` with `amount` added to every byte, modulo 256,
// and closes `output` once all of `input` has been read.
PassOutcome shiftPass(InputStream& input, OutputStream& output, std::int64_t amount);

// Writes "Shifted.BIN", waits for the user's edits, and shifts them back into
// "Output.ROM"; returns the exit status.
int runByteShifter(Dialogue& dialogue, const std::string& romName, const SearchSummary& summary);

}  // namespace glyphound
