#pragma once

// IPS, UPS and BPS patches: made from two files held in memory, read and
// checked whole before anything is written, and applied to a file read as
// it comes where the format allows (IPS and UPS; a BPS patch copies from
// anywhere in the original, which it holds, and from what it has written,
// of which it holds as much as its copies reach back).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/crc32.hpp"
#include "io/streams.hpp"

namespace glyphound {

enum class PatchFormat { Ips, Ups, Bps };

// "ips", "ups" or "bps" in any case; none for anything else.
std::optional<PatchFormat> patchFormatNamed(std::string_view name);
// By a file name's extension.
std::optional<PatchFormat> patchFormatOfFile(std::string_view fileName);
const char* patchFormatName(PatchFormat format);  // "IPS", "UPS", "BPS"
std::string crcText(std::uint32_t crc);            // "0x1A2B3C4D"

// A file a patch is made from, held whole, and its CRC32, asked for only
// once the patch is otherwise made, so that it may be worked out meanwhile.
struct PatchFile {
    explicit PatchFile(std::string_view bytes);
    PatchFile(std::string_view bytes, std::function<std::uint32_t()> crc) : bytes(bytes), crc(std::move(crc)) {}
    std::string_view bytes;
    std::function<std::uint32_t()> crc;
};

// The patch that turns `source` into `target`. Throws Refusal where the
// format can't say it: an IPS patch for a change past 16 MiB.
std::string makePatch(PatchFormat format, const PatchFile& source, const PatchFile& target,
                      std::string_view metadata = {});

// What UPS and BPS know of the files they are made for.
struct Fingerprint {
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
    bool operator==(const Fingerprint& other) const { return size == other.size && crc == other.crc; }
};

struct PatchSummary {
    PatchFormat format = PatchFormat::Ips;
    std::optional<Fingerprint> source, target;  // UPS and BPS
    std::optional<std::uint32_t> patchCrc;      // UPS and BPS
    std::optional<std::uint64_t> truncatedTo;   // IPS, when it cuts the file short
    std::string metadata;                       // BPS
    // The bytes of the result the patch doesn't take from the same place in
    // the original: for IPS, every byte its records write.
    std::uint64_t changed = 0;
};

struct ApplyOptions {
    bool force = false;        // a UPS or BPS patch to a file it is not for
    bool stripHeader = false;  // to the file without its first 512 bytes
    // The result goes where it is kept only if the apply succeeds, as a
    // replacement file does, so the original may be checked while the
    // result is made: a UPS patch then reads it once, and a BPS patch takes
    // its CRC32 with `crcBeside`. Otherwise, as on a stream where every byte
    // written is seen, the original is checked before a byte is written.
    bool checkAsMade = false;
    // Starts taking the CRC32 of bytes that stay put until the function it
    // returns gives it: the commands take it on a second thread. Empty, it
    // is taken at once.
    std::function<std::function<std::uint32_t()>(const std::uint8_t*, std::size_t)> crcBeside;
};

// Opens the original from its start, once for each pass over it; null when
// it can't be opened, after the failure has been reported.
using OpenOriginal = std::function<std::unique_ptr<ByteSource>()>;

struct Applied {
    // What went wrong: what `problem` is about.
    enum class Failure { None, Patch, Original, Reading, Writing, Reported } failure = Failure::None;
    std::string problem;  // for Reading, the system's reason
    // An original the patch is not for, that it is for once its 512-byte
    // copier header is gone: a face may offer to strip it.
    bool copierHeader = false;
};

// A patch read whole, with everything checked that the patch alone can
// tell: its magic, its numbers, its own CRC32, and that every action stays
// within the files' bounds and ends where the patch says.
class Patch {
public:
    // Throws Refusal, in words that follow the patch's name.
    explicit Patch(std::string bytes);
    // Reads the bytes where they lie, as in a mapped file, rather than
    // copying them: they must outlive the patch.
    explicit Patch(std::string_view bytes);
    // Either way the patch reads a view of its bytes, which a copy or a move
    // of bytes it owns would leave pointing at the old ones.
    Patch(const Patch&) = delete;
    Patch& operator=(const Patch&) = delete;
    const PatchSummary& summary() const { return summary_; }

    // Writes the original patched to `out`. The original's size and CRC32
    // are checked, first or as the result is made, and the result's before
    // it is complete where the format holds them; a UPS patch applies
    // backwards to its own result. `out` keeps nothing worth keeping unless
    // this succeeds.
    Applied apply(const OpenOriginal& original, OutputStream& out, const ApplyOptions& options) const;

    // A record of IPS, a run of changes of UPS: where it writes, and where
    // its bytes are in the patch.
    struct Piece {
        std::uint64_t at = 0, length = 0;
        std::size_t bytes = 0;
        std::optional<std::uint8_t> fill;  // an IPS run: the one byte
    };

private:
    void read(std::string_view bytes);
    void readIps();
    void readUps();
    void readBps();
    // A BPS patch's actions checked against an original of `sourceSize`
    // bytes: the bytes they change, and how far back before the byte it
    // writes a copy from the result reads, at most.
    struct BpsWalk {
        std::uint64_t changed = 0, reach = 0;
    };
    BpsWalk walkBps(std::uint64_t sourceSize) const;
    Applied applyIps(ByteSource& original, OutputStream& out) const;
    Applied applyUps(const OpenOriginal& original, OutputStream& out, const ApplyOptions& options) const;
    std::optional<Applied> upsRefusal(const Fingerprint& found, const OpenOriginal& original,
                                      const ApplyOptions& options) const;
    Applied applyBps(ByteSource& original, OutputStream& out, const ApplyOptions& options) const;

    std::string owned_;
    std::string_view bytes_;
    PatchSummary summary_;
    std::vector<Piece> pieces_;   // IPS and UPS, in the patch's order
    std::size_t actionsAt_ = 0;  // BPS
    std::uint64_t reach_ = 0;    // BPS
};

// Reads all of `source` into `into`, and into `crc` as it comes; false
// after a read error.
bool readAll(ByteSource& source, std::string& into, Crc32* crc = nullptr);

}  // namespace glyphound
