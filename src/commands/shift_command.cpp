#include "commands/command_options.hpp"
#include "dialogue/texts.hpp"
#include "shifter/byte_shifter.hpp"

namespace glyphound::commands {
namespace {

namespace text = texts::command;

}  // namespace

int runShift(const ShiftOptions& options, CommandIo& io) {
    if (options.operands.size() != 2) throw UsageError(text::kShiftOperands);
    const std::int64_t amount = shiftAmount(options.letterA, options.by, options.back);
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
