#include <cstring>
#include <future>
#include <new>
#include <thread>

#include "commands/command_options.hpp"
#include "dialogue/texts.hpp"
#include "engine/refusal.hpp"
#include "engine/reports.hpp"
#include "search/alphabet.hpp"

namespace glyphound::commands {
namespace {

namespace text = texts::command;

// A file held whole: mapped where the system can, or else read, with its
// CRC32 as it came.
struct HeldFile {
    std::unique_ptr<ByteSource> source;
    std::string bytes;
    std::string_view view;
    std::optional<std::uint32_t> crc;
    std::string failure;  // why it couldn't be held; empty when it was
};

void hold(const std::string& name, CommandIo& io, HeldFile& file) {
    try {
        file.source = io.openInput(name, Reading::InStep, Waiting::ForWriter, file.failure);
        if (!file.source) return;
        if (const auto mapped = file.source->mapped()) {
            file.view = *mapped;
            return;
        }
        Crc32 crc;
        if (!readAll(*file.source, file.bytes, &crc)) file.failure = readFailure(*file.source);
        file.view = file.bytes;
        file.crc = crc.value();
    } catch (const std::bad_alloc&) {
        file.failure = texts::patch::kNoMemory;
    } catch (const std::length_error&) {
        file.failure = texts::patch::kNoMemory;
    }
}

std::uint32_t crcOf(const HeldFile& file) {
    return file.crc ? *file.crc : crc32(reinterpret_cast<const std::uint8_t*>(file.view.data()), file.view.size());
}

void reportUnheld(const std::string& name, const HeldFile& file, CommandIo& io) {
    if (!file.failure.empty()) {
        io.reportFile(name, file.failure);
        throw ReportedError{};
    }
}

// A file already held in memory, read again from its start.
class HeldSource : public ByteSource {
public:
    explicit HeldSource(std::string_view bytes) : bytes_(bytes) {}
    std::int64_t size() const override { return static_cast<std::int64_t>(bytes_.size()); }
    ReadResult read(std::uint8_t* buffer, std::size_t capacity) override {
        const std::size_t count = std::min(capacity, bytes_.size() - at_);
        std::memcpy(buffer, bytes_.data() + at_, count);
        at_ += count;
        return {count, false};
    }

private:
    std::string_view bytes_;
    std::size_t at_ = 0;
};

// The patch in `file`, which holds its bytes for as long as the patch is
// read: a mapped patch is read where it lies rather than copied.
Patch readPatch(const std::string& name, CommandIo& io, HeldFile& file) {
    hold(name, io, file);
    reportUnheld(name, file, io);
    try {
        return Patch(file.view);
    } catch (const Refusal& refusal) {
        io.fail(name + ": " + refusal.what());
    }
}

}  // namespace

PatchFormat patchFormatOfOutput(const std::string& name, const char* otherwise) {
    const auto format = patchFormatOfFile(name);
    if (!format) throw UsageError(name + otherwise);
    return *format;
}

bool writePatch(PatchFormat format, const PatchFile& original, const PatchFile& modified, const std::string& metadata,
                const std::string& modifiedName, OutputStream& output, CommandIo& io) {
    try {
        output.print(makePatch(format, original, modified, metadata));
        return true;
    } catch (const Refusal& refusal) {
        io.err().print(std::string(text::kProgramName) + ": " + modifiedName + ": " + refusal.what() + "\n");
    } catch (const std::bad_alloc&) {
        io.reportFile(modifiedName, texts::patch::kNoMemory);
    }
    return false;
}

// A file cut short under its mapping showed zeros for the bytes it lost: a
// patch made from them is not kept.
bool heldWhole(const std::string& name, const HeldFile& file, CommandIo& io) {
    if (!file.source || !file.source->cutShort()) return true;
    io.reportFile(name, kShrankWhileRead);
    return false;
}

int runPatchCreate(const PatchCreateOptions& options, CommandIo& io) {
    if (options.operands.size() != 2) throw UsageError(text::kCreateOperands);
    const auto named = options.format ? patchFormatNamed(*options.format) : patchFormatOfOutput(options.output, text::kFormatOfName);
    if (!named) throw UsageError(text::kBadFormat);
    const PatchFormat format = *named;
    if (options.metadata && format != PatchFormat::Bps) throw UsageError(text::kMetadataWithBps);
    bool utf8 = true;
    if (options.metadata) decodeUtf8(*options.metadata, utf8);
    if (!utf8) throw UsageError(text::kMetadataNotUtf8);
    CommandOutput output = io.createOutput(options.output);
    if (!output) return kError;
    // Both files are held side by side; the CRC32s of those mapped rather
    // than read are worked out beside the patch, which needs them last.
    const std::string &originalName = options.operands[0], &modifiedName = options.operands[1];
    HeldFile original, modified;
    std::thread holder([&] { hold(originalName, io, original); });
    hold(modifiedName, io, modified);
    holder.join();
    reportUnheld(originalName, original, io);
    reportUnheld(modifiedName, modified, io);
    std::shared_future<std::pair<std::uint32_t, std::uint32_t>> crcs;
    if (format != PatchFormat::Ips)
        crcs = std::async(std::launch::async, [&] { return std::pair(crcOf(original), crcOf(modified)); }).share();
    if (!writePatch(format, PatchFile(original.view, [&] { return crcs.get().first; }),
                    PatchFile(modified.view, [&] { return crcs.get().second; }), options.metadata.value_or(""),
                    modifiedName, *output, io))
        return kError;
    if (!heldWhole(originalName, original, io) || !heldWhole(modifiedName, modified, io)) return kError;
    return output->close() ? kSuccess : io.failWrite(options.output, *output);
}

// The original's CRC32, taken on a second thread while the result is made.
std::function<std::uint32_t()> crcBeside(const std::uint8_t* bytes, std::size_t size) {
    auto crc = std::async(std::launch::async, [=] { return crc32(bytes, size); }).share();
    return [crc] { return crc.get(); };
}

int runPatchApply(const PatchApplyOptions& options, CommandIo& io) {
    if (options.operands.size() != 2) throw UsageError(text::kApplyOperands);
    const std::string &patchName = options.operands[0], &originalName = options.operands[1];
    CommandOutput output = io.createOutput(options.output);
    if (!output) return kError;
    HeldFile patchFile;
    const Patch patch = readPatch(patchName, io, patchFile);
    // A pass may read the original twice; one that can't be read again is
    // held in memory.
    HeldFile held;
    const bool twice = io.readsTwice(originalName);
    if (!twice) {
        hold(originalName, io, held);
        reportUnheld(originalName, held, io);
    }
    const OpenOriginal original = [&]() -> std::unique_ptr<ByteSource> {
        if (!twice) return std::make_unique<HeldSource>(held.view);
        return io.openInput(originalName);
    };
    Applied applied;
    try {
        // A replacement file is put in place only once the apply succeeds;
        // standard output shows every byte as it is written.
        const bool checkAsMade = options.output != kStandardStream;
        applied = patch.apply(original, *output, {options.force, options.stripHeader, checkAsMade, crcBeside});
    } catch (const std::bad_alloc&) {
        io.reportFile(originalName, texts::patch::kNoMemory);
        return kError;
    }
    switch (applied.failure) {
        case Applied::Failure::None:
            if (!heldWhole(patchName, patchFile, io)) return kError;
            return output->close() ? kSuccess : io.failWrite(options.output, *output);
        case Applied::Failure::Patch:
            io.fail(patchName + ": " + applied.problem);
        case Applied::Failure::Original:
            io.fail(originalName + ": " + applied.problem);
        case Applied::Failure::Reading:
            io.reportFile(originalName, applied.problem);
            return kError;
        case Applied::Failure::Writing:
            return io.failWrite(options.output, *output);
        case Applied::Failure::Reported:
            break;
    }
    return kError;
}

int runPatchInfo(const PatchInfoOptions& options, CommandIo& io) {
    if (options.operands.size() != 1) throw UsageError(text::kInfoOperands);
    const std::string& name = options.operands[0];
    HeldFile file;
    const Patch patch = readPatch(name, io, file);
    if (!heldWhole(name, file, io)) return kError;
    io.requireStandardOutput();
    io.out().print(options.json ? patchJson(name, patch.summary()) : patchLines(patch.summary()));
    return kSuccess;
}

}  // namespace glyphound::commands
