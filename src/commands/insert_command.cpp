#include <algorithm>

#include "commands/command_options.hpp"
#include "dialogue/texts.hpp"
#include "engine/relocation.hpp"
#include "engine/script.hpp"

namespace glyphound::commands {
namespace {

namespace text = texts::command;

// Scripts hold a whole game's text, but no more.
constexpr std::size_t kMaxScript = 64 << 20;
// A file whose strings move is read whole.
constexpr std::uint64_t kMostBytes = std::uint64_t{1} << 30;

std::uint8_t fillOf(const std::string& given, const char* option = "--fill") { return fillByte(given, option); }

Script scriptOf(const InsertOptions& options, CommandIo& io) {
    if (options.at) {
        ScriptString string;
        string.offset = numberIn(options.at, "--at", 0, 0, INT64_MAX, text::kBadOffset);
        if (options.room) string.room = numberIn(options.room, "--room", 0, 1, kMaxStringBytes, text::kBadRoom);
        std::string failure;
        const auto characters = unescaped(options.operands[0], failure);
        if (!characters) throw UsageError(failure);
        string.text = *characters;
        string.where = offsetText(string.offset);
        return {std::nullopt, {string}};
    }
    std::string failure;
    auto script = parseScript(readSmallFile(options.script, io, kMaxScript, text::kScriptTooLarge), options.script,
                              failure);
    if (!script) io.fail(failure);
    return *script;
}

// A script whose strings pointers lead to: in a copy of the file, read
// whole, the strings that grew move to free space, their pointers
// rewritten; false after reporting why not.
bool relocateScript(const InsertOptions& options, const Script& script, const Table& table, const Insertion& insertion,
                    std::string& file, CommandIo& io) {
    Relocation relocation{mapOf(script.pointers->map, file), script.pointers->format, {}, 0xFF};
    for (const std::string& range : options.free) relocation.free.push_back(freeRangeOf(range));
    if (options.freeFill) relocation.freeFill = fillOf(*options.freeFill, "--free-fill");
    const ScriptInsertion strings(table, script.strings, insertion);
    const Relocated relocated = relocate(file, strings, table, insertion, relocation);
    const auto say = [&](const std::string& line) { io.err().print(std::string(text::kProgramName) + ": " + line + "\n"); };
    std::for_each(relocated.problems.begin(), relocated.problems.end(), say);
    if (!relocated.problems.empty()) return false;
    std::for_each(relocated.report.begin(), relocated.report.end(), say);
    return true;
}

// Reports a failed read, or else the problems; true when there was either.
// Runs the insertion over `in`, then reports a read error of `failing` or
// the strings' problems; true when there was none. The run comes first: its
// read error is known only once it has run.
bool insertedWell(const ScriptInsertion& strings, ByteSource& in, OutputStream* out, const std::string& inName,
                  const ByteSource& failing, CommandIo& io) {
    bool readFailed = false;
    const std::vector<std::string> problems = strings.run(in, out, readFailed);
    if (readFailed) {
        io.reportFile(inName, readFailure(failing));
        return false;
    }
    for (const std::string& problem : problems) io.err().print(std::string(text::kProgramName) + ": " + problem + "\n");
    return problems.empty();
}

// What passes through, kept: the patch is made from the bytes read and
// written.
class KeptSource : public ByteSource {
public:
    KeptSource(ByteSource& inner, std::string& kept) : inner_(inner), kept_(kept) {}
    std::int64_t size() const override { return inner_.size(); }
    ReadResult read(std::uint8_t* buffer, std::size_t capacity) override {
        const ReadResult got = inner_.read(buffer, capacity);
        failure_ = inner_.failure();
        kept_.append(reinterpret_cast<const char*>(buffer), got.count);
        return got;
    }

private:
    ByteSource& inner_;
    std::string& kept_;
};

struct KeptSink : ByteSink {
    explicit KeptSink(std::string& kept) : kept(kept) {}
    bool write(const std::uint8_t* data, std::size_t size) override {
        kept.append(reinterpret_cast<const char*>(data), size);
        return true;
    }
    std::string& kept;
};

}  // namespace

int runInsert(const InsertOptions& options, CommandIo& io) {
    if (options.at.has_value() == !options.script.empty()) throw UsageError(text::kAtOrScript);
    if (options.room && !options.at) throw UsageError(text::kRoomWithAt);
    if (options.operands.size() != (options.at ? 3u : 2u))
        throw UsageError(options.at ? text::kInsertAtOperands : text::kInsertOperands);
    const std::string& inName = options.operands[options.operands.size() - 2];
    const std::string& outName = options.operands.back();
    const bool withPatch = !options.patch.empty();
    const PatchFormat patchFormat = withPatch ? patchFormatOfOutput(options.patch, text::kPatchName) : PatchFormat::Bps;
    // Claimed before any file is read, so that neither the input, the table
    // nor the script can be the output.
    CommandOutput output = io.createOutput(outName);
    if (!output) return kError;
    CommandOutput patchOutput = withPatch ? io.createOutput(options.patch) : nullptr;
    if (withPatch && !patchOutput) return kError;
    const Table table = loadTable(options.table, io);
    const std::vector<const TableEntry*> ends = table.endTokens();
    const Insertion insertion{ends.empty() ? nullptr : ends.front(),
                              options.fill ? std::optional(fillOf(*options.fill)) : std::nullopt};
    if (options.at && !options.room && !insertion.endToken) throw UsageError(text::kNoRoom);
    const Script script = scriptOf(options, io);
    if (!options.free.empty() && !script.pointers) throw UsageError(text::kFreeWithoutPointers);
    if (script.pointers) {
        const std::string original = readWholeFile(inName, io, kMostBytes);
        std::string result = original;
        if (!relocateScript(options, script, table, insertion, result, io)) return kError;
        output->print(result);
        if (withPatch && !writePatch(patchFormat, PatchFile(original), PatchFile(result), "", outName, *patchOutput, io))
            return kError;
        if (!output->close()) return io.failWrite(outName, *output);
        return !withPatch || patchOutput->close() ? kSuccess : io.failWrite(options.patch, *patchOutput);
    }
    const ScriptInsertion strings(table, script.strings, insertion);
    // Standard output can't be taken back: what the file's bytes decide is
    // checked in a pass of its own first, where the file can be read twice,
    // and so is everything when something is already known to be wrong.
    const bool checkFirst = !strings.problemsBeforeReading().empty() || (outName == kStandardStream && io.readsTwice(inName));
    if (checkFirst) {
        auto source = io.openInput(inName);
        if (!source) return kError;
        if (!insertedWell(strings, *source, nullptr, inName, *source, io)) return kError;
    }
    auto source = io.openInput(inName);
    if (!source) return kError;
    if (!withPatch) {
        if (!insertedWell(strings, *source, output.get(), inName, *source, io)) return kError;
        return output->close() ? kSuccess : io.failWrite(outName, *output);
    }
    // With a patch, both files are held, so that it can be made before
    // either file is put in place.
    std::string in, out;
    KeptSource keptIn(*source, in);
    OutputStream keptOut(std::make_unique<KeptSink>(out), OutputOptions{});
    if (!insertedWell(strings, keptIn, &keptOut, inName, *source, io)) return kError;
    keptOut.close();
    output->print(out);
    if (!writePatch(patchFormat, PatchFile(in), PatchFile(out), "", outName, *patchOutput, io)) return kError;
    if (!output->close()) return io.failWrite(outName, *output);
    return patchOutput->close() ? kSuccess : io.failWrite(options.patch, *patchOutput);
}

}  // namespace glyphound::commands
