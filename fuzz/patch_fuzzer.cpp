// The three patch readers on any bytes: a patch is read and applied without
// a look past what the patch, the original or the result holds; and a patch
// made of any two files, in each format, applies to give the second.
#include <cstdlib>

#include "engine/patch.hpp"
#include "engine/patch_bytes.hpp"
#include "engine/refusal.hpp"
#include "fuzz_input.hpp"
#include "memory_system.hpp"

using namespace glyphound;

namespace {

struct Outcome {
    bool applied = false;
    std::string result;
};

Outcome apply(const std::string& patch, const std::string& original, bool force) {
    auto result = std::make_shared<std::string>();
    OutputStream out(std::make_unique<testing::MemorySink>(result), OutputOptions{});
    try {
        const Patch read(patch);
        // A result of more than 1 MiB is beyond what a run of the fuzzer
        // should spend, however valid.
        if (read.summary().target && read.summary().target->size > (1u << 20)) return {};
        const auto source = [&] { return std::make_unique<testing::MemorySource>(original, 100); };
        const bool applied = read.apply(source, out, {force, false, false, {}}).failure == Applied::Failure::None;
        out.close();
        return {applied, *result};
    } catch (const Refusal&) {
        return {};
    }
}

// Mutations seldom keep a patch's own CRC32 right; with it made right, they
// reach the actions.
std::string withItsCrc(std::string patch) {
    if (patch.size() < patch_bytes::kFooterSize + 4 || patch.compare(0, 3, "PAT") == 0) return patch;
    patch.resize(patch.size() - 4);
    patch_bytes::appendLittle32(patch, crc32(reinterpret_cast<const std::uint8_t*>(patch.data()), patch.size()));
    return patch;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::FuzzInput input{data, size};
    const std::uint8_t flags = input.byte();
    const std::string original = input.part(255), modified = input.part(255), patch = input.rest();
    apply(flags & 1 ? withItsCrc(patch) : patch, original, flags & 2);
    for (const PatchFormat format : {PatchFormat::Ips, PatchFormat::Ups, PatchFormat::Bps}) {
        const std::string made = makePatch(format, PatchFile(original), PatchFile(modified), original);
        const Outcome outcome = apply(made, original, false);
        if (!outcome.applied || outcome.result != modified) std::abort();
    }
    return 0;
}
