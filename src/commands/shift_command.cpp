#include "commands/command_options.hpp"
#include "dialogue/texts.hpp"
#include "search/relative_search.hpp"
#include "shifter/byte_shifter.hpp"

namespace glyphound::commands {
namespace {

namespace text = texts::command;

// The amount added to every byte: --by N, or what moves 'A' from N to its
// ASCII code; --back reverses it.
std::int64_t amountOf(const ShiftOptions& options) {
    if (!options.letterA && !options.by) throw UsageError(text::kAmountMissing);
    if (options.letterA && options.by) throw UsageError(text::kAmountTwice);
    std::int64_t amount = 0;
    if (options.by) {
        amount = parseNumber(*options.by, "--by");
    } else {
        const std::int64_t letterA = parseNumber(*options.letterA, "--A");
        if (letterA < 0 || letterA > 255) throw UsageError(std::string("--A") + text::kBadValue);
        amount = kAsciiA - letterA;
    }
    if (amount % 256 == 0) throw UsageError(text::kNoMove);
    return options.back ? -amount : amount;
}

}  // namespace

int runShift(const ShiftOptions& options, CommandIo& io) {
    if (options.operands.size() != 2) throw UsageError(text::kShiftOperands);
    const std::int64_t amount = amountOf(options);
    const std::string& inputName = options.operands[0];
    const std::string& outputName = options.operands[1];
    auto source = io.openInput(inputName);
    if (!source) return kError;
    auto output = io.createOutput(outputName);
    if (!output) return kError;
    InputStream input(std::move(source), InputOptions{});
    switch (shiftPass(input, *output, amount)) {
        case PassOutcome::Done:
            return kSuccess;
        case PassOutcome::ReadFailed:
            io.reportFile(inputName, input.failure());
            return kError;
        case PassOutcome::WriteFailed:
            break;
    }
    return io.failWrite(outputName, *output);
}

}  // namespace glyphound::commands
