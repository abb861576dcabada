#include "shifter/byte_shifter.hpp"

#include <algorithm>

#include "dialogue/texts.hpp"

namespace glyphound {
namespace {

int reportPassFailure(Dialogue& dialogue, PassOutcome outcome) {
    return dialogue.fail(outcome == PassOutcome::ReadFailed ? texts::kCantReadInput
                                                            : texts::kCantWriteOutput);
}

// The amount that moves the matched text to ASCII. When the matches disagree
// the user names the position of 'A'; an answer that can't be read leaves the
// last shift standing as the position. 64-bit, so that 65 minus any 32-bit
// position is exact.
std::int64_t chooseAmount(Dialogue& dialogue, const SearchSummary& summary) {
    if (summary.matchCount == 1 || summary.shiftsAgree) return -std::int64_t{summary.lastShift};
    dialogue.output().print(texts::kLetterAQuestion);
    std::int32_t positionOfA = summary.lastShift;
    dialogue.answers.readNumber(positionOfA);
    return kAsciiA - std::int64_t{positionOfA};
}

}  // namespace

PassOutcome shiftPass(InputStream& input, OutputStream& output, std::int64_t amount) {
    // Only the low 8 bits of the amount move a byte.
    const auto add = static_cast<std::uint8_t>(amount);
    while (input.fill() && !output.failed()) {
        // In pieces of the output's block, so that memory stays flat however
        // much the input lends at once.
        const std::size_t size = std::min(input.available(), kDefaultBlockSize);
        const std::uint8_t* bytes = input.data();
        std::uint8_t* shifted = output.room(size);
        for (std::size_t i = 0; i < size; ++i) shifted[i] = static_cast<std::uint8_t>(bytes[i] + add);
        input.consume(size);
    }
    // A pass cut short by a read error leaves `output` open, for the caller
    // to keep or drop.
    if (input.readFailed()) return PassOutcome::ReadFailed;
    return output.close() ? PassOutcome::Done : PassOutcome::WriteFailed;
}

int runByteShifter(Dialogue& dialogue, const std::string& romName, const SearchSummary& summary) {
    Environment& environment = dialogue.environment;
    auto rom = environment.openRom(romName, Reading::InStep);
    if (!rom) return dialogue.fail(texts::kCantOpenInput);
    // Created before the amount is known: the user sees at once whether it can be.
    auto shifted = environment.openForWriting(texts::kShiftedFile);
    if (!shifted) return dialogue.fail(texts::kCantOpenOutput);

    const std::int64_t amount = chooseAmount(dialogue, summary);
    if (amount == 0) {
        dialogue.output().print(texts::kNothingToShift);
        return kSuccess;
    }
    const PassOutcome shiftedOut = shiftPass(*rom, *shifted, amount);
    // Both files are closed before the wait, so an editor sees all of Shifted.BIN.
    shifted.reset();
    rom.reset();
    if (shiftedOut != PassOutcome::Done) return reportPassFailure(dialogue, shiftedOut);
    dialogue.output().print(std::string(texts::kShiftedBy) + std::to_string(amount) +
                            std::string(texts::kShiftedInto));

    if (!dialogue.askYesNo(texts::kShiftBackQuestion)) return kSuccess;
    auto edited = environment.openForReading(texts::kShiftedFile);
    if (!edited) return dialogue.fail(texts::kCantOpenInput);
    auto output = environment.openForWriting(texts::kOutputFile);
    if (!output) return dialogue.fail(texts::kCantOpenOutput);
    const PassOutcome shiftedBack = shiftPass(*edited, *output, -amount);
    if (shiftedBack != PassOutcome::Done) return reportPassFailure(dialogue, shiftedBack);
    dialogue.output().print(texts::kShiftedBack);
    return kSuccess;
}

}  // namespace glyphound
