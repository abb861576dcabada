#include "shifter/byte_shifter.hpp"

#include <vector>

namespace glyphound {
namespace {

constexpr const char* kShiftedName = "Shifted.BIN";
constexpr const char* kOutputName = "Output.ROM";
constexpr int kAsciiA = 65;

int reportPassFailure(Dialogue& dialogue, PassOutcome outcome) {
    return dialogue.fail(outcome == PassOutcome::ReadFailed ? "Can't read input file"
                                                            : "Can't write output file");
}

}  // namespace

std::int64_t chooseAmount(Dialogue& dialogue, SearchSummary& summary) {
    if (summary.matchCount == 1 || summary.shiftsAgree) return -std::int64_t{summary.lastShift};
    dialogue.output().print("Where should the letter 'A' be in the CHR bank? ");
    dialogue.answers.readNumber(summary.lastShift);
    return kAsciiA - std::int64_t{summary.lastShift};
}

PassOutcome shiftPass(InputStream& input, OutputStream& output, std::int64_t amount) {
    // Only the low 8 bits of the amount move a byte.
    const auto add = static_cast<std::uint8_t>(amount);
    std::vector<std::uint8_t> block;
    while (input.fill() && !output.failed()) {
        const std::uint8_t* bytes = input.data();
        const std::size_t size = input.available();
        block.resize(size);
        for (std::size_t i = 0; i < size; ++i) block[i] = static_cast<std::uint8_t>(bytes[i] + add);
        output.write(block.data(), size);
        input.consume(size);
    }
    const bool written = output.close();
    if (input.readFailed()) return PassOutcome::ReadFailed;
    return written ? PassOutcome::Done : PassOutcome::WriteFailed;
}

int runByteShifter(Dialogue& dialogue, const std::string& romName, SearchSummary summary) {
    Environment& environment = dialogue.environment;
    auto rom = environment.openForReading(romName);
    if (!rom) return dialogue.fail("Can't open input file");
    // Created before the amount is known: the user sees at once whether it can be.
    auto shifted = environment.openForWriting(kShiftedName);
    if (!shifted) return dialogue.fail("Can't open output file");

    const std::int64_t amount = chooseAmount(dialogue, summary);
    if (amount == 0) {
        dialogue.output().print("\n\tIt doesn't get shifted anywhere!\n");
        return kSuccess;
    }
    const PassOutcome shiftedOut = shiftPass(*rom, *shifted, amount);
    // Both files are closed before the wait, so an editor sees all of Shifted.BIN.
    shifted.reset();
    rom.reset();
    if (shiftedOut != PassOutcome::Done) return reportPassFailure(dialogue, shiftedOut);
    dialogue.output().print("Bytes shifted by " + std::to_string(amount) +
                            " into file 'Shifted.BIN'.\n  You can make all your modifications now.\n\n");

    if (!dialogue.askYesNo("Would you now like to shift it back? (Y/N) ")) return kSuccess;
    auto edited = environment.openForReading(kShiftedName);
    if (!edited) return dialogue.fail("Can't open input file");
    auto output = environment.openForWriting(kOutputName);
    if (!output) return dialogue.fail("Can't open output file");
    const PassOutcome shiftedBack = shiftPass(*edited, *output, -amount);
    if (shiftedBack != PassOutcome::Done) return reportPassFailure(dialogue, shiftedBack);
    dialogue.output().print("Bytes shifted back to original position into file 'Output.ROM'.\n");
    return kSuccess;
}

}  // namespace glyphound
