#pragma once

#include <cstdint>
#include <string>

#include "driver/dialogue.hpp"
#include "search/relative_search.hpp"

namespace glyphound {

// The amount that moves the matched text to ASCII. When the matches disagree
// the user names the position of 'A'; the number is read into the summary's
// last shift, so a failed read leaves that shift as the position.
// 64-bit, so that 65 minus any 32-bit position is exact.
std::int64_t chooseAmount(Dialogue& dialogue, SearchSummary& summary);

enum class PassOutcome { Done, ReadFailed, WriteFailed };

// Copies `input` to `output` with `amount` added to every byte, modulo 256,
// and closes `output`.
PassOutcome shiftPass(InputStream& input, OutputStream& output, std::int64_t amount);

// Writes "Shifted.BIN", waits for the user's edits, and shifts them back into
// "Output.ROM"; returns the exit status.
int runByteShifter(Dialogue& dialogue, const std::string& romName, SearchSummary summary);

}  // namespace glyphound
