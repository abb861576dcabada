#include "driver/driver.hpp"

#include <memory>
#include <string>
#include <vector>

#include "commands/commands.hpp"
#include "dialogue/dialogue.hpp"
#include "dialogue/texts.hpp"
#include "io/environment.hpp"
#include "search/relative_search.hpp"
#include "shifter/byte_shifter.hpp"

namespace glyphound {
namespace {

// Some systems start a program with no argument words at all, or with an
// empty first one; messages still need a name to start with.
std::string invocationName(int argc, const char* const* argv) {
    return argc > 0 && argv[0] && *argv[0] ? argv[0] : texts::kFallbackName;
}

// Asks until a word of acceptable length arrives; false when the input ends
// first (or a NUL stands where a word would begin), so the prompt can never
// repeat without end.
bool readSearchString(Dialogue& dialogue, std::string& searchString) {
    for (;;) {
        dialogue.output().print(std::string(texts::kSearchPrompt) + std::to_string(kMaxSearchLength) +
                                std::string(texts::kSearchPromptEnd));
        Word word;
        if (!dialogue.answers.readWord(word, kMaxSearchLength) || word.length == 0) return false;
        if (word.length >= kMinSearchLength && word.length <= kMaxSearchLength) {
            searchString = word.text;
            return true;
        }
    }
}

void printMatch(OutputStream& output, const Match& match) {
    output.print(std::string(texts::kMatchAt) + std::to_string(match.offset) +
                 std::string(texts::kMatchShift) + std::to_string(match.shift) +
                 std::string(texts::kMatchLetterA) + std::to_string(match.shift + kAsciiA) + "\n");
    output.flush();
}

int search(Dialogue& dialogue, const char* romName) {
    Environment& environment = dialogue.environment;
    std::unique_ptr<InputStream> rom;
    if (romName) {
        rom = environment.openRom(romName, Reading::Ahead);
        if (!rom) return dialogue.fail(texts::kCantOpenInput);
    }
    InputStream& input = rom ? *rom : environment.standardInput();

    dialogue.output().print(texts::kBanner);
    std::string searchString;
    if (!readSearchString(dialogue, searchString)) return dialogue.fail(texts::kNoSearchString);
    dialogue.output().print("\n");

    const SearchSummary summary =
        scanForMatches(input, searchString, [&](const Match& match) { printMatch(dialogue.output(), match); });
    dialogue.output().print(texts::kNoFurtherMatches);
    const bool readFailed = input.readFailed();
    input.close();  // in standard-stream mode no answer can be read from here on
    if (readFailed) return dialogue.fail(texts::kCantReadInput);

    if (summary.matchCount == 0) return kSuccess;
    if (summary.shiftsAgree && summary.lastShift == 0) return kSuccess;  // already plain ASCII
    // In standard-stream mode the question can't be answered: input is closed.
    if (!dialogue.askYesNo(texts::kShiftQuestion) || !romName) return kSuccess;
    return runByteShifter(dialogue, romName, summary);
}

// Every run ends here: on a console the user sees the last output until Enter.
void finishRun(Environment& environment) {
    OutputStream& output = environment.standardOutput();
    if (environment.outputIsConsole()) {
        output.print(texts::kPause);
        output.flush();
        environment.waitForEnter();
    }
    output.flush();
    environment.standardError().flush();
}

}  // namespace

int runGlyphound(int argc, const char* const* argv, System& system) {
    // Names arrive as UTF-8 on every system; messages keep the name the
    // program was started by.
    const std::vector<std::string> arguments = system.arguments(argc, argv);
    if (commands::isCommand(arguments, system)) return commands::runCommand(arguments, system);
    Environment environment(system);
    Dialogue dialogue(environment, invocationName(argc, argv));
    int status = kFailure;
    if (arguments.size() > 2)
        environment.standardError().print(std::string(texts::kUsage) + dialogue.invocationName +
                                          std::string(texts::kUsageEnd));
    else
        status = search(dialogue, arguments.size() == 2 ? arguments[1].c_str() : nullptr);
    finishRun(environment);
    return status;
}

}  // namespace glyphound
