#include "engine/patch.hpp"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <new>

#include "dialogue/texts.hpp"
#include "engine/crc32.hpp"
#include "engine/patch_bytes.hpp"
#include "engine/refusal.hpp"
#include "engine/values.hpp"

namespace glyphound {
namespace {

namespace text = texts::patch;
using namespace patch_bytes;

const std::uint8_t* bytesOf(std::string_view bytes) { return reinterpret_cast<const std::uint8_t*>(bytes.data()); }

std::uint32_t little32(std::string_view bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
    return value;
}

// Reads the patch's fields up to `end`, refusing to read past it, and names
// where in the patch whatever is wrong lies.
class Cursor {
public:
    Cursor(std::string_view bytes, std::size_t at, std::size_t end) : bytes_(bytes), at_(at), end_(end) {}
    std::size_t at() const { return at_; }
    bool done() const { return at_ == end_; }
    std::size_t left() const { return end_ - at_; }

    std::uint8_t byte() {
        if (at_ == end_) throw Refusal(text::kCutShort);
        return static_cast<std::uint8_t>(bytes_[at_++]);
    }
    std::uint64_t big(int count) {
        std::uint64_t value = 0;
        while (count-- > 0) value = value << 8 | byte();
        return value;
    }
    // Where `length` bytes start, passed over.
    std::size_t take(std::uint64_t length) {
        if (length > left()) throw Refusal(text::kCutShort);
        at_ += static_cast<std::size_t>(length);
        return at_ - static_cast<std::size_t>(length);
    }
    // A number that doesn't fit in 64 bits would wrap around to one that
    // may look plausible, so it is refused rather than read.
    std::uint64_t number() {
        const std::size_t start = at_;
        std::uint64_t value = 0, shift = 1;
        for (;;) {
            const std::uint64_t part = byte() & 0x7F;
            if ((part != 0 && shift > UINT64_MAX / part) || part * shift > UINT64_MAX - value) wrong(start, text::kNumberTooLarge);
            value += part * shift;
            if (bytes_[at_ - 1] & 0x80) return value;
            if (shift > UINT64_MAX >> 7) wrong(start, text::kNumberTooLarge);
            shift <<= 7;
            if (shift > UINT64_MAX - value) wrong(start, text::kNumberTooLarge);
            value += shift;
        }
    }
    [[noreturn]] void wrong(std::size_t where, const char* what) const {
        throw Refusal(text::kAt + offsetText(where) + text::kOfThePatch + what);
    }

private:
    std::string_view bytes_;
    std::size_t at_, end_;
};

bool startsWith(std::string_view bytes, const char* magic) { return bytes.compare(0, std::strlen(magic), magic) == 0; }

// UPS and BPS: the footer's CRC32 of everything before it.
std::uint32_t checkedPatchCrc(std::string_view bytes, std::size_t smallest) {
    if (bytes.size() < smallest) throw Refusal(text::kCutShort);
    const std::uint32_t says = little32(bytes, bytes.size() - 4);
    const std::uint32_t has = crc32(bytesOf(bytes), bytes.size() - 4);
    if (has != says) throw Refusal(text::kDamaged + crcText(has) + text::kDamagedSays + crcText(says));
    return says;
}

// UPS and BPS start alike: the magic, the sizes of both files, then
// `more` numbers of their own, and end in the CRC32s of both files and of
// the patch. The cursor stands past the sizes.
Cursor readHead(std::string_view bytes, PatchSummary& summary, PatchFormat format, std::size_t more) {
    summary.format = format;
    summary.patchCrc = checkedPatchCrc(bytes, kMagicSize + 2 + more + kFooterSize);
    const std::size_t footer = bytes.size() - kFooterSize;
    Cursor cursor(bytes, kMagicSize, footer);
    summary.source = Fingerprint{cursor.number(), little32(bytes, footer)};
    summary.target = Fingerprint{cursor.number(), little32(bytes, footer + 4)};
    return cursor;
}

// A file's size and CRC32 as far as it has been read.
struct ReadSoFar {
    Crc32 crc;
    std::uint64_t size = 0;
    void add(const std::uint8_t* bytes, std::size_t count) {
        crc.add(bytes, count);
        size += count;
    }
};

// The fingerprint of what `read` covers and the rest of `source`.
std::optional<Fingerprint> fingerprintOf(ByteSource& source, ReadSoFar read = {}) {
    std::vector<std::uint8_t> block(kDefaultBlockSize);
    for (;;) {
        const ReadResult got = source.read(block.data(), block.size());
        if (got.failed) return std::nullopt;
        if (got.count == 0) return Fingerprint{read.size, read.crc.value()};
        read.add(block.data(), got.count);
    }
}

std::string mismatch(const PatchSummary& summary, const Fingerprint& found, bool stripped, bool copierHeader) {
    const Fingerprint& wanted = *summary.source;
    return text::kPatchFor + crcText(wanted.crc) + text::kAnd + std::to_string(wanted.size) + text::kThisOne +
           crcText(found.crc) + text::kAnd + std::to_string(found.size) + text::kBytes +
           (stripped ? text::kWithoutHeader : "") + (copierHeader ? text::kCopierHeader : "") +
           (found == *summary.target ? text::kAlreadyPatched : "");
}

// A copy from the result byte by byte, which may read what it writes: the
// bytes from `from` repeat with a period of `into - from`, so each memcpy
// can take twice what the one before took.
void repeat(std::uint8_t* into, const std::uint8_t* from, std::size_t length) {
    for (std::size_t done = 0; done < length;) {
        const std::size_t count = std::min(length - done, static_cast<std::size_t>(into + done - from));
        std::memcpy(into + done, from, count);
        done += count;
    }
}

// A BPS result as it is made, kept only as far back as the patch's copies
// from the result read: a patch that copies only from near what it writes,
// as a run does, makes its result in a window that stays in the processor's
// cache, rather than in memory the size of the result that must be handed
// out page by page. Each byte goes into the result's CRC32 and to `out`
// before the window lets it go.
class ResultWindow {
public:
    ResultWindow(std::size_t size, std::size_t reach, OutputStream& out, Crc32& crc)
        : capacity_(size - reach <= 2 * kDefaultBlockSize ? size : reach + 2 * kDefaultBlockSize),
          reach_(reach),
          bytes_(new std::uint8_t[capacity_]),
          out_(out),
          crc_(crc) {}

    // Where `count` bytes, at most a block, go at the result's `written`.
    std::uint8_t* room(std::size_t written, std::size_t count) {
        if (written + count - base_ > capacity_) slide(written);
        return at(written);
    }
    std::uint8_t* at(std::size_t position) { return bytes_.get() + (position - base_); }

    // The bytes up to `written` go out a block at a time, and all of them
    // once the result is `complete`.
    void made(std::size_t written, bool complete) {
        while (written - shown_ >= kDefaultBlockSize || (complete && shown_ < written)) {
            const std::size_t count = std::min(kDefaultBlockSize, written - shown_);
            crc_.add(at(shown_), count);
            out_.write(at(shown_), count);
            shown_ += count;
        }
    }

private:
    // Keeps the last `reach_` bytes made, at the window's start.
    void slide(std::size_t written) {
        made(written, true);
        const std::size_t keep = std::min<std::size_t>(reach_, written - base_);
        std::memmove(bytes_.get(), at(written - keep), keep);
        base_ = written - keep;
    }

    std::size_t capacity_, reach_, base_ = 0, shown_ = 0;
    std::unique_ptr<std::uint8_t[]> bytes_;
    OutputStream& out_;
    Crc32& crc_;
};

Applied readFailure(const ByteSource& source) { return {Applied::Failure::Reading, source.failure()}; }

std::uint64_t headerOf(const ApplyOptions& options) { return options.stripHeader ? kCopierHeader : 0; }

std::unique_ptr<ByteSource> opened(const OpenOriginal& original, const ApplyOptions& options) {
    auto source = original();
    if (source) source->skip(headerOf(options));
    return source;
}

// Copies the original to `out` block by block, each through `change`; the
// result has at least `least` bytes, those past the original's end 0 before
// the change, and at most `most`. Each block is read and changed where it
// is written, with no copy between.
using Change = std::function<void(std::uint64_t at, std::uint8_t* bytes, std::size_t count)>;
Applied copyThrough(ByteSource& original, OutputStream& out, std::uint64_t least, std::uint64_t most,
                    const Change& change, Crc32& resultCrc, ReadSoFar* read = nullptr) {
    bool ended = false;
    for (std::uint64_t at = 0; at < most;) {
        const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(kDefaultBlockSize, most - at));
        std::uint8_t* block = out.room(wanted);
        std::size_t count = 0;
        while (!ended && count < wanted) {
            const ReadResult got = original.read(block + count, wanted - count);
            if (got.failed) {
                out.giveBack(wanted);
                return readFailure(original);
            }
            ended = got.count == 0;
            if (read) read->add(block + count, got.count);
            count += got.count;
        }
        if (ended && at + count < least) {
            const std::size_t zeros = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, least - at)) - count;
            std::memset(block + count, 0, zeros);
            count += zeros;
        }
        out.giveBack(wanted - count);
        if (count == 0) break;
        change(at, block, count);
        resultCrc.add(block, count);
        if (out.failed()) return {Applied::Failure::Writing, out.failure()};
        at += count;
    }
    return {};
}

}  // namespace

std::optional<PatchFormat> patchFormatNamed(std::string_view name) {
    std::string lower(name);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "ips") return PatchFormat::Ips;
    if (lower == "ups") return PatchFormat::Ups;
    if (lower == "bps") return PatchFormat::Bps;
    return std::nullopt;
}

std::optional<PatchFormat> patchFormatOfFile(std::string_view fileName) {
    const std::size_t dot = fileName.rfind('.');
    return dot == std::string_view::npos ? std::nullopt : patchFormatNamed(fileName.substr(dot + 1));
}

std::string crcText(std::uint32_t crc) {
    static const char* digits = "0123456789ABCDEF";
    std::string out = "0x";
    for (int shift = 28; shift >= 0; shift -= 4) out += digits[crc >> shift & 15];
    return out;
}

const char* patchFormatName(PatchFormat format) {
    return format == PatchFormat::Ips ? "IPS" : format == PatchFormat::Ups ? "UPS" : "BPS";
}

bool readAll(ByteSource& source, std::string& into, Crc32* crc) {
    std::size_t used = 0;
    into.resize(source.size() > 0 ? static_cast<std::size_t>(source.size()) + 1 : std::size_t{1} << 20);
    for (;;) {
        if (used == into.size()) into.resize(into.size() * 2);
        const ReadResult got = source.read(reinterpret_cast<std::uint8_t*>(&into[used]), into.size() - used);
        if (got.failed) return false;
        if (got.count == 0) break;
        if (crc) crc->add(reinterpret_cast<const std::uint8_t*>(&into[used]), got.count);
        used += got.count;
    }
    into.resize(used);
    return true;
}

Patch::Patch(std::string bytes) : owned_(std::move(bytes)) { read(owned_); }

Patch::Patch(std::string_view bytes) { read(bytes); }

void Patch::read(std::string_view bytes) {
    bytes_ = bytes;
    if (startsWith(bytes_, kIpsMagic))
        readIps();
    else if (startsWith(bytes_, kUpsMagic))
        readUps();
    else if (startsWith(bytes_, kBpsMagic))
        readBps();
    else
        throw Refusal(text::kNotAPatch);
}

void Patch::readIps() {
    summary_.format = PatchFormat::Ips;
    Cursor cursor(bytes_, std::strlen(kIpsMagic), bytes_.size());
    for (;;) {
        const std::size_t start = cursor.at();
        Piece piece;
        piece.at = cursor.big(3);
        if (piece.at == kIpsEndOffset) break;
        piece.length = cursor.big(2);
        if (piece.length == 0) {
            piece.length = cursor.big(2);
            piece.fill = cursor.byte();
        } else {
            piece.bytes = cursor.take(piece.length);
        }
        if (piece.at + piece.length > kIpsLimit) cursor.wrong(start, text::kIpsPast16MiB);
        pieces_.push_back(piece);
    }
    if (cursor.left() == 3)
        summary_.truncatedTo = cursor.big(3);
    else if (!cursor.done())
        cursor.wrong(cursor.at(), text::kAfterEnd);
    // Records may overlap: a byte written twice counts once.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> spans;
    for (const Piece& piece : pieces_) spans.emplace_back(piece.at, piece.at + piece.length);
    std::sort(spans.begin(), spans.end());
    std::uint64_t reached = 0;
    for (const auto& [from, to] : spans) {
        summary_.changed += to > std::max(from, reached) ? to - std::max(from, reached) : 0;
        reached = std::max(reached, to);
    }
}

void Patch::readUps() {
    Cursor cursor = readHead(bytes_, summary_, PatchFormat::Ups, 0);
    const std::uint64_t end = std::max(summary_.source->size, summary_.target->size);
    std::uint64_t position = 0;
    while (!cursor.done()) {
        const std::size_t start = cursor.at();
        const std::uint64_t skip = cursor.number();
        if (position > end || skip > end - position) cursor.wrong(start, text::kPastBoth);
        Piece piece{position + skip, 0, cursor.at(), std::nullopt};
        const void* zero = std::memchr(bytes_.data() + piece.bytes, 0, cursor.left());
        if (!zero) throw Refusal(text::kCutShort);
        piece.length = static_cast<const char*>(zero) - (bytes_.data() + piece.bytes);
        if (piece.length > end - piece.at) cursor.wrong(start, text::kPastBoth);
        cursor.take(piece.length + 1);
        pieces_.push_back(piece);
        summary_.changed += piece.length;
        position = piece.at + piece.length + 1;  // the zero stands for one byte left as it was
    }
}

void Patch::readBps() {
    Cursor cursor = readHead(bytes_, summary_, PatchFormat::Bps, 1);
    const std::uint64_t metadataSize = cursor.number();
    summary_.metadata = std::string(bytes_.substr(cursor.take(metadataSize), static_cast<std::size_t>(metadataSize)));
    actionsAt_ = cursor.at();
    const BpsWalk walk = walkBps(summary_.source->size);
    summary_.changed = walk.changed;
    reach_ = walk.reach;
}

Patch::BpsWalk Patch::walkBps(std::uint64_t sourceSize) const {
    Cursor cursor(bytes_, actionsAt_, bytes_.size() - kFooterSize);
    const std::uint64_t targetSize = summary_.target->size;
    std::uint64_t written = 0, sourceCursor = 0, targetCursor = 0;
    BpsWalk walk;
    while (!cursor.done()) {
        const std::size_t start = cursor.at();
        const std::uint64_t data = cursor.number();
        const std::uint64_t length = (data >> 2) + 1;
        if (length > targetSize - written) cursor.wrong(start, text::kPastResult);
        switch (data & 3) {
            case kSourceRead:
                if (written > sourceSize || length > sourceSize - written) cursor.wrong(start, text::kPastOriginal);
                break;
            case kTargetRead:
                cursor.take(length);
                walk.changed += length;
                break;
            default: {
                const bool fromSource = (data & 3) == kSourceCopy;
                std::uint64_t& copyCursor = fromSource ? sourceCursor : targetCursor;
                const std::uint64_t limit = fromSource ? sourceSize : written;
                const std::uint64_t move = cursor.number();
                const std::uint64_t distance = move >> 1;
                if (move & 1 ? distance > copyCursor : distance > limit - copyCursor)
                    cursor.wrong(start, fromSource ? text::kOutsideOriginal : text::kOutsideWritten);
                copyCursor = move & 1 ? copyCursor - distance : copyCursor + distance;
                // A copy from the result reads only what is written, byte by
                // byte, so it may overlap what it writes.
                if (fromSource ? length > sourceSize - copyCursor : copyCursor >= written)
                    cursor.wrong(start, fromSource ? text::kOutsideOriginal : text::kOutsideWritten);
                walk.changed += fromSource && copyCursor == written ? 0 : length;
                if (!fromSource) walk.reach = std::max(walk.reach, written - copyCursor);
                copyCursor += length;
            }
        }
        written += length;
    }
    if (written != targetSize)
        throw Refusal(text::kShortResult + std::to_string(written) + text::kShortResultOf + std::to_string(targetSize) +
                      text::kShortResultEnd);
    return walk;
}

Applied Patch::apply(const OpenOriginal& original, OutputStream& out, const ApplyOptions& options) const {
    if (summary_.format == PatchFormat::Ups) return applyUps(original, out, options);
    if (summary_.format == PatchFormat::Ips) {
        auto source = opened(original, options);
        return source ? applyIps(*source, out) : Applied{Applied::Failure::Reported, ""};
    }
    auto source = original();
    return source ? applyBps(*source, out, options) : Applied{Applied::Failure::Reported, ""};
}

Applied Patch::applyIps(ByteSource& original, OutputStream& out) const {
    // Later records win where they overlap; a record is at most 64 KiB long,
    // so those that touch a block start at most that far before it.
    std::vector<std::size_t> byStart(pieces_.size());
    for (std::size_t i = 0; i < byStart.size(); ++i) byStart[i] = i;
    std::stable_sort(byStart.begin(), byStart.end(), [&](std::size_t a, std::size_t b) { return pieces_[a].at < pieces_[b].at; });
    std::uint64_t least = 0;
    for (const Piece& piece : pieces_) least = std::max(least, piece.at + piece.length);
    std::vector<std::size_t> touching;
    const Change change = [&](std::uint64_t at, std::uint8_t* bytes, std::size_t count) {
        touching.clear();
        const std::uint64_t earliest = at > kIpsMaxLength ? at - kIpsMaxLength : 0;
        auto next = std::lower_bound(byStart.begin(), byStart.end(), earliest,
                                     [&](std::size_t piece, std::uint64_t from) { return pieces_[piece].at < from; });
        for (; next != byStart.end() && pieces_[*next].at < at + count; ++next)
            if (pieces_[*next].at + pieces_[*next].length > at) touching.push_back(*next);
        std::sort(touching.begin(), touching.end());
        for (std::size_t index : touching) {
            const Piece& piece = pieces_[index];
            const std::uint64_t from = std::max(piece.at, at), to = std::min(piece.at + piece.length, at + count);
            std::uint8_t* into = bytes + (from - at);
            if (piece.fill)
                std::memset(into, *piece.fill, static_cast<std::size_t>(to - from));
            else
                std::memcpy(into, bytes_.data() + piece.bytes + (from - piece.at), static_cast<std::size_t>(to - from));
        }
    };
    Crc32 unused;
    return copyThrough(original, out, least, summary_.truncatedTo.value_or(UINT64_MAX), change, unused);
}

Applied Patch::applyUps(const OpenOriginal& original, OutputStream& out, const ApplyOptions& options) const {
    auto source = opened(original, options);
    if (!source) return {Applied::Failure::Reported, ""};
    // The same patch turns the result back into the original. An original
    // of the patch's source size gives the same result either way: the same
    // bytes are XORed, and the result, if the original is the patch's
    // result, has that size too. One pass then makes the result and takes
    // the original's fingerprint; any other first needs the fingerprint to
    // know the result's size.
    const std::int64_t size = source->size();
    const bool oneWay = options.checkAsMade && size >= 0 &&
                        static_cast<std::uint64_t>(size) == summary_.source->size + headerOf(options);
    std::optional<Fingerprint> found;
    if (!oneWay) {
        found = fingerprintOf(*source);
        if (!found) return readFailure(*source);
        if (auto refused = upsRefusal(*found, original, options)) return *refused;
        source = opened(original, options);
        if (!source) return {Applied::Failure::Reported, ""};
    }
    // Backwards only from the patch's result; forwards from anything else, when forced.
    const auto wantedFrom = [&](const Fingerprint& from) -> const Fingerprint& {
        return from == *summary_.target && !(from == *summary_.source) ? *summary_.source : *summary_.target;
    };
    const std::uint64_t resultSize = found ? wantedFrom(*found).size : summary_.target->size;
    std::size_t next = 0;
    const Change change = [&](std::uint64_t at, std::uint8_t* bytes, std::size_t count) {
        for (std::size_t i = next; i < pieces_.size() && pieces_[i].at < at + count; ++i) {
            const Piece& piece = pieces_[i];
            const std::uint64_t from = std::max(piece.at, at), to = std::min(piece.at + piece.length, at + count);
            const char* changes = bytes_.data() + piece.bytes + (from - piece.at);
            for (std::uint64_t k = from; k < to; ++k) bytes[k - at] ^= static_cast<std::uint8_t>(*changes++);
            if (piece.at + piece.length <= at + count) next = i + 1;
        }
    };
    Crc32 crc;
    ReadSoFar read;
    Applied applied = copyThrough(*source, out, resultSize, resultSize, change, crc, &read);
    if (applied.failure == Applied::Failure::Reading) return applied;
    // An original the patch is not for is told as such, even where the
    // result couldn't be written.
    if (!found) {
        found = fingerprintOf(*source, read);
        if (!found) return readFailure(*source);
        if (auto refused = upsRefusal(*found, original, options)) return *refused;
    }
    if (applied.failure != Applied::Failure::None) return applied;
    const bool checked = *found == *summary_.source || *found == *summary_.target;
    const Fingerprint& wanted = wantedFrom(*found);
    if (checked && crc.value() != wanted.crc)
        return {Applied::Failure::Patch, text::kResultCrc + crcText(crc.value()) + text::kResultCrcNot +
                                             crcText(wanted.crc) + text::kResultCrcEnd};
    return applied;
}

// An original that is neither of the patch's files, unless forced; told
// when it is one of them behind a copier header.
std::optional<Applied> Patch::upsRefusal(const Fingerprint& found, const OpenOriginal& original,
                                         const ApplyOptions& options) const {
    if (found == *summary_.source || found == *summary_.target || options.force) return std::nullopt;
    bool copierHeader = false;
    if (!options.stripHeader && found.size == summary_.source->size + kCopierHeader) {
        auto again = original();
        if (!again) return Applied{Applied::Failure::Reported, ""};
        again->skip(kCopierHeader);
        const auto withoutHeader = fingerprintOf(*again);
        if (!withoutHeader) return readFailure(*again);
        copierHeader = *withoutHeader == *summary_.source;
    }
    return Applied{Applied::Failure::Original, mismatch(summary_, found, options.stripHeader, copierHeader), copierHeader};
}

Applied Patch::applyBps(ByteSource& original, OutputStream& out, const ApplyOptions& options) const {
    // Copies come from anywhere in the original: it is mapped, or read whole.
    std::string read;
    std::string_view source;
    if (const auto mapped = original.mapped()) {
        source = mapped->substr(std::min<std::size_t>(mapped->size(), headerOf(options)));
    } else {
        original.skip(headerOf(options));
        if (!readAll(original, read)) return readFailure(original);
        source = read;
    }
    const auto* sourceBytes = reinterpret_cast<const std::uint8_t*>(source.data());
    const bool sizeFits = source.size() == summary_.source->size;
    const auto refused = [&](std::uint32_t crc) -> Applied {
        const bool copierHeader = !options.stripHeader && source.size() == summary_.source->size + kCopierHeader &&
                                  crc32(sourceBytes + kCopierHeader, source.size() - kCopierHeader) ==
                                      summary_.source->crc;
        return {Applied::Failure::Original, mismatch(summary_, {source.size(), crc}, options.stripHeader, copierHeader),
                copierHeader};
    };
    if (!sizeFits && !options.force) return refused(crc32(sourceBytes, source.size()));
    const std::function<std::uint32_t()> sourceCrc =
        options.checkAsMade && options.crcBeside ? options.crcBeside(sourceBytes, source.size())
                                                 : [crc = crc32(sourceBytes, source.size())] { return crc; };
    const auto notFor = [&]() -> std::optional<Applied> {
        const std::uint32_t crc = sourceCrc();
        if ((sizeFits && crc == summary_.source->crc) || options.force) return std::nullopt;
        return refused(crc);
    };
    if (!options.checkAsMade)
        if (auto refusal = notFor()) return *refusal;
    if (!sizeFits) {
        try {
            walkBps(source.size());
        } catch (const Refusal& refusal) {
            return {Applied::Failure::Original, refusal.what()};
        }
    }
    if (summary_.target->size > SIZE_MAX) throw std::bad_alloc();
    const std::size_t size = static_cast<std::size_t>(summary_.target->size);
    // Every action was checked to stay in bounds when the patch was read.
    // The result goes out block by block as it is made, so that its writing
    // overlaps the making; it is put in place only once its CRC32 is right.
    Crc32 crc;
    ResultWindow result(size, static_cast<std::size_t>(reach_), out, crc);
    std::size_t written = 0, sourceCursor = 0, targetCursor = 0;
    Cursor cursor(bytes_, actionsAt_, bytes_.size() - kFooterSize);
    while (!cursor.done()) {
        const std::uint64_t data = cursor.number();
        const auto length = static_cast<std::size_t>((data >> 2) + 1);
        const auto kind = static_cast<int>(data & 3);
        const std::size_t read = kind == kTargetRead ? cursor.take(length) : 0;
        std::size_t& copyCursor = kind == kSourceCopy ? sourceCursor : targetCursor;
        if (kind == kSourceCopy || kind == kTargetCopy) {
            const std::uint64_t move = cursor.number();
            copyCursor = move & 1 ? copyCursor - static_cast<std::size_t>(move >> 1) : copyCursor + static_cast<std::size_t>(move >> 1);
        }
        for (std::size_t done = 0; done < length;) {
            const std::size_t piece = std::min(length - done, kDefaultBlockSize);
            std::uint8_t* into = result.room(written, piece);
            if (kind == kSourceRead)
                std::memcpy(into, sourceBytes + written, piece);
            else if (kind == kTargetRead)
                std::memcpy(into, bytes_.data() + read + done, piece);
            else if (kind == kSourceCopy)
                std::memcpy(into, sourceBytes + copyCursor + done, piece);
            else
                repeat(into, result.at(copyCursor + done), piece);
            done += piece;
            written += piece;
            result.made(written, written == size);
        }
        if (kind == kSourceCopy || kind == kTargetCopy) copyCursor += length;
    }
    if (auto refusal = notFor()) return *refusal;
    const bool checked = sizeFits && sourceCrc() == summary_.source->crc;
    if (checked && crc.value() != summary_.target->crc)
        return {Applied::Failure::Patch, text::kResultCrc + crcText(crc.value()) + text::kResultCrcNot +
                                             crcText(summary_.target->crc) + text::kResultCrcEnd};
    if (out.failed()) return {Applied::Failure::Writing, out.failure()};
    if (original.cutShort()) return {Applied::Failure::Reading, kShrankWhileRead};
    return {};
}

}  // namespace glyphound
