#include "driver/driver.hpp"

#include <memory>
#include <string>

#include "driver/dialogue.hpp"
#include "search/relative_search.hpp"
#include "shifter/byte_shifter.hpp"

namespace glyphound {
namespace {

constexpr const char* kFallbackName = "glyphound";

// Some systems start a program with no argument words at all, or with an
// empty first one; messages still need a name to start with.
std::string invocationName(int argc, const char* const* argv) {
    return argc > 0 && argv[0] && *argv[0] ? argv[0] : kFallbackName;
}

// Asks until a word of acceptable length arrives; false when the input ends
// first (or a NUL stands where a word would begin), so the prompt can never
// repeat without end.
bool readSearchString(Dialogue& dialogue, std::string& searchString) {
    for (;;) {
        dialogue.output().print("\nEnter search string of length 3-" +
                                std::to_string(kMaxSearchLength) + ": ");
        Word word;
        if (!dialogue.answers.readWord(word, kMaxSearchLength) || word.length == 0) return false;
        if (word.length >= kMinSearchLength && word.length <= kMaxSearchLength) {
            searchString = word.text;
            return true;
        }
    }
}

int search(Dialogue& dialogue, const char* romName) {
    Environment& environment = dialogue.environment;
    std::unique_ptr<InputStream> rom;
    if (romName) {
        rom = environment.openForReading(romName);
        if (!rom) return dialogue.fail("Can't open input file");
    }
    InputStream& input = rom ? *rom : environment.standardInput();

    dialogue.output().print(
        "\n\tGlyphound v1.0\n\t  Searches for text hidden in game ROMs and other files.\n");
    std::string searchString;
    if (!readSearchString(dialogue, searchString))
        return dialogue.fail("No search string entered");
    dialogue.output().print("\n");

    const SearchSummary summary = scanForMatches(input, searchString, dialogue.output());
    const bool readFailed = input.readFailed();
    input.close();  // in standard-stream mode no answer can be read from here on
    if (readFailed) return dialogue.fail("Can't read input file");

    if (summary.matchCount == 0) return kSuccess;
    if (summary.shiftsAgree && summary.lastShift == 0) return kSuccess;  // already plain ASCII
    // In standard-stream mode the question can't be answered: input is closed.
    if (!dialogue.askYesNo("Would you like to Shift the bytes in the file? (Y/N) ") || !romName)
        return kSuccess;
    return runByteShifter(dialogue, romName, summary);
}

// Every run ends here: on a console the user sees the last output until Enter.
void finishRun(Environment& environment) {
    OutputStream& output = environment.standardOutput();
    if (environment.outputIsConsole()) {
        output.print("\n \n Press Enter to continue \n");
        output.flush();
        environment.waitForEnter();
    }
    output.flush();
    environment.standardError().flush();
}

}  // namespace

int runGlyphound(int argc, const char* const* argv, Environment& environment) {
    Dialogue dialogue(environment, invocationName(argc, argv));
    int status = kFailure;
    if (argc > 2)
        environment.standardError().print("Usage: " + dialogue.invocationName + " [file]\n");
    else
        status = search(dialogue, argc == 2 ? argv[1] : nullptr);
    finishRun(environment);
    return status;
}

}  // namespace glyphound
