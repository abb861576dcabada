#include "commands/command_options.hpp"
#include "dialogue/texts.hpp"
#include "engine/encoder.hpp"

namespace glyphound::commands {
namespace {

namespace text = texts::command;

std::string hexLine(const std::string& bytes) {
    std::string line;
    for (char byte : bytes) line += (line.empty() ? "" : " ") + hexDigits(static_cast<std::uint8_t>(byte));
    return line + "\n";
}

}  // namespace

int runEncode(const EncodeOptions& options, CommandIo& io) {
    if (options.texts.empty()) throw UsageError(text::kNoText);
    // Claimed before the table is read, so that the table can't be the output.
    CommandOutput file = options.output.empty() ? nullptr : io.createOutput(options.output);
    if (!options.output.empty() && !file) return kError;
    const Table table = loadTable(options.table, io);
    const TableEntry* ending = options.end ? onlyEndToken(table) : nullptr;
    std::vector<std::string> encoded;
    for (const std::string& given : options.texts) {
        std::string failure;
        const auto characters = unescaped(given, failure);
        const auto bytes = characters ? encode(table, *characters, ending, failure) : std::nullopt;
        if (!bytes) io.fail(std::string("'") + given + "': " + failure);
        encoded.push_back(*bytes);
    }
    if (!file) {
        io.requireStandardOutput();
        for (const std::string& bytes : encoded) io.out().print(hexLine(bytes));
        return kSuccess;
    }
    for (const std::string& bytes : encoded) file->print(bytes);
    return file->close() ? kSuccess : io.failWrite(options.output, *file);
}

}  // namespace glyphound::commands
