// Making patches: IPS and UPS by comparing the files place by place, BPS by
// also finding where in the original each stretch of the result comes from.
#include <algorithm>
#include <array>
#include <cstring>

#include "dialogue/texts.hpp"
#include "engine/crc32.hpp"
#include "engine/patch.hpp"
#include "engine/patch_bytes.hpp"
#include "engine/refusal.hpp"
#include "engine/values.hpp"

namespace glyphound {
namespace {

namespace text = texts::patch;
using namespace patch_bytes;

struct Bytes {
    explicit Bytes(const PatchFile& file)
        : data(reinterpret_cast<const std::uint8_t*>(file.bytes.data())), size(file.bytes.size()), crc(file.crc) {}
    const std::uint8_t* data;
    std::size_t size;
    const std::function<std::uint32_t()>& crc;
};

std::uint64_t load64(const std::uint8_t* at) {
    std::uint64_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// Where `a` and `b` first differ from `from` on, eight bytes at a time, or `to`.
std::size_t firstDifference(const std::uint8_t* a, const std::uint8_t* b, std::size_t from, std::size_t to) {
    for (; from + 8 <= to; from += 8) {
        const std::uint64_t differ = load64(a + from) ^ load64(b + from);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        if (differ != 0) return from + __builtin_clzll(differ) / 8;
#else
        if (differ != 0) return from + __builtin_ctzll(differ) / 8;
#endif
    }
    while (from < to && a[from] == b[from]) ++from;
    return from;
}

// How many bytes from `a` and `b` are equal, up to `most`. Most stretches
// that differ show it in their first bytes; past those, whole blocks are
// compared by the C library's vector loop.
std::size_t matchLength(const std::uint8_t* a, const std::uint8_t* b, std::size_t most) {
    constexpr std::size_t kHead = 64, kBlock = 256;
    std::size_t length = firstDifference(a, b, 0, std::min(most, kHead));
    if (length < kHead) return length;
    while (most - length >= kBlock && std::memcmp(a + length, b + length, kBlock) == 0) length += kBlock;
    return firstDifference(a, b, length, most);
}

void appendCrcs(std::string& patch, Bytes source, Bytes target) {
    appendLittle32(patch, source.crc());
    appendLittle32(patch, target.crc());
    appendLittle32(patch, crc32(reinterpret_cast<const std::uint8_t*>(patch.data()), patch.size()));
}

// --- IPS: records of the bytes that differ in place ---

class IpsMaker {
public:
    IpsMaker(Bytes source, Bytes target) : source_(source), target_(target) {}

    std::string make() {
        const std::size_t beyond = nextChange(std::min<std::uint64_t>(kIpsLimit, target_.size));
        if (beyond < target_.size) throw Refusal(text::kIpsTooFar + offsetText(beyond) + text::kUseBps);
        if (target_.size < source_.size && target_.size >= kIpsLimit)
            throw Refusal(text::kIpsCut + offsetText(target_.size) + text::kUseBps);
        patch_ = kIpsMagic;
        for (std::size_t at = nextChange(0); at < target_.size;) {
            const std::size_t end = changeEnd(at);
            records(at, end);
            at = nextChange(end);
        }
        patch_ += kIpsEnd;
        if (target_.size < source_.size) appendBig(patch_, target_.size, 3);
        return patch_;
    }

private:
    // A byte past the original's end is new, whatever its value.
    bool changed(std::size_t at) const { return at >= source_.size || source_.data[at] != target_.data[at]; }

    std::size_t nextChange(std::size_t at) const {
        if (at < source_.size) at += matchLength(source_.data + at, target_.data + at, std::min(source_.size, target_.size) - at);
        return std::min(at, target_.size);
    }

    // Where a stretch of changes ends: a gap shorter than a record's header
    // costs less written out than a record of its own.
    std::size_t changeEnd(std::size_t at) const {
        for (;;) {
            while (at < target_.size && changed(at)) ++at;
            const std::size_t next = nextChange(at);
            if (next == target_.size || next - at >= kRecordHeader) return at;
            at = next;
        }
    }

    // A run of one byte costs a run record and the header of the record
    // after it; anything shorter is written out.
    std::size_t runAt(std::size_t at, std::size_t end) const {
        const std::size_t most = std::min<std::size_t>(end - at, kIpsMaxLength);
        return 1 + matchLength(target_.data + at, target_.data + at + 1, most - 1);
    }

    void records(std::size_t at, std::size_t end) {
        while (at < end) {
            if (at == kIpsEndOffset) {
                // An offset of "EOF" would end the patch: start a byte earlier.
                record(at - 1, 2);
                ++at;
                continue;
            }
            const std::size_t run = runAt(at, end);
            if (run >= kRunWorth) {
                appendBig(patch_, at, 3);
                appendBig(patch_, 0, 2);
                appendBig(patch_, run, 2);
                patch_ += static_cast<char>(target_.data[at]);
                at += run;
                continue;
            }
            std::size_t stop = at + run;
            while (stop < end && stop - at < kIpsMaxLength && runAt(stop, end) < kRunWorth) ++stop;
            stop = std::min<std::size_t>(stop, at + kIpsMaxLength);
            record(at, stop - at);
            at = stop;
        }
    }

    void record(std::size_t at, std::size_t length) {
        appendBig(patch_, at, 3);
        appendBig(patch_, length, 2);
        patch_.append(reinterpret_cast<const char*>(target_.data + at), length);
    }

    static constexpr std::size_t kRecordHeader = 5;
    static constexpr std::size_t kRunWorth = 13;

    Bytes source_, target_;
    std::string patch_;
};

// --- UPS: the two files XORed, zero where they agree ---

std::string makeUps(Bytes source, Bytes target) {
    std::string patch = kUpsMagic;
    appendNumber(patch, source.size);
    appendNumber(patch, target.size);
    const std::size_t common = std::min(source.size, target.size), end = std::max(source.size, target.size);
    // Past the shorter file's end, its bytes read as 0.
    const auto difference = [&](std::size_t at) {
        return static_cast<char>((at < source.size ? source.data[at] : 0) ^ (at < target.size ? target.data[at] : 0));
    };
    std::size_t at = 0, last = 0;
    for (;;) {
        if (at < common) at += matchLength(source.data + at, target.data + at, common - at);
        while (at < end && difference(at) == 0) ++at;
        if (at >= end) break;
        appendNumber(patch, at - last);
        for (; at < end && difference(at) != 0; ++at) patch += difference(at);
        patch.push_back('\0');  // which stands for the unchanged byte after the run, or for the end
        last = ++at;
    }
    appendCrcs(patch, source, target);
    return patch;
}

// --- BPS: copies from wherever the result's bytes are found ---

// Positions of the original a stride apart, by a hash of the 8 bytes there
// and of the 32: a stretch of the result found in the original holds a
// window that the index has, wherever it was moved to, once it is a window
// and a stride long. The 8 bytes of a common word stand in many places; 32
// bytes seldom do. The stride is 8 bytes up to 8 MiB, and grows beyond, so
// that building the index takes no longer than reading 8 MiB would.
class SourceIndex {
public:
    static constexpr std::size_t kShort = 8, kLong = 32;
    struct Keys {
        std::uint64_t shortKey = 0, longKey = 0;
    };

    explicit SourceIndex(Bytes source) {
        while (source.size / stride_ > kMostWindows) stride_ *= 2;
        const std::size_t windows = source.size >= kLong ? (source.size - kLong) / stride_ + 1 : 0;
        short_.size(windows);
        long_.size(windows);
        for (std::size_t window = 0; window < windows; ++window) {
            const Keys keys = keysAt(source.data + window * stride_);
            short_.put(keys.shortKey, window);
            long_.put(keys.longKey, window);
        }
    }

    std::size_t stride() const { return stride_; }

    // Both windows' keys at `bytes`, which must hold a long window.
    static Keys keysAt(const std::uint8_t* bytes) {
        Keys keys;
        for (std::size_t word = 0; word < kLong / kShort; ++word) {
            keys.longKey = (keys.longKey ^ load64(bytes + kShort * word)) * kMultiplier;
            if (word == 0) keys.shortKey = keys.longKey;
        }
        return keys;
    }

    // Asks the processor for the slots of a place needed soon.
    void prefetch(const Keys& keys) const {
        short_.prefetch(keys.shortKey);
        long_.prefetch(keys.longKey);
    }

    // Where the original may hold the short or the long window, or npos.
    std::size_t shortCandidate(const Keys& keys) const { return placeOf(short_.get(keys.shortKey)); }
    std::size_t longCandidate(const Keys& keys) const { return placeOf(long_.get(keys.longKey)); }

private:
    static constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ULL;
    static constexpr std::size_t kMostWindows = std::size_t{1} << 20;

    // Twice as many slots as windows, so that few windows lose their slot to
    // another. A slot holds a window's number + 1 (0 for none) in its low
    // bits, and above them bits of its key that the slot's place doesn't
    // tell: most windows of new bytes are in no slot, and those bits tell so
    // without a look at the original, far away in memory.
    class Table {
    public:
        void size(std::size_t windows) {
            int bits = 10;
            while ((std::size_t{1} << bits) < 2 * windows) ++bits;
            shift_ = 64 - bits;
            slots_.assign(std::size_t{1} << bits, 0);
        }
        void put(std::uint64_t key, std::size_t window) {
            slots_[slotOf(key)] = checkOf(key) | static_cast<std::uint32_t>(window + 1);
        }
        std::uint32_t get(std::uint64_t key) const {
            const std::uint32_t found = slots_[slotOf(key)];
            return (found & ~kWindowBits) == checkOf(key) ? found & kWindowBits : 0;
        }
        void prefetch(std::uint64_t key) const { __builtin_prefetch(&slots_[slotOf(key)]); }

    private:
        static constexpr std::uint32_t kWindowBits = (1u << 22) - 1;
        std::size_t slotOf(std::uint64_t key) const { return static_cast<std::size_t>(key >> shift_); }
        std::uint32_t checkOf(std::uint64_t key) const { return static_cast<std::uint32_t>(key >> (shift_ - 10)) << 22; }

        int shift_ = 0;
        std::vector<std::uint32_t> slots_;
    };

    std::size_t placeOf(std::uint32_t found) const { return found == 0 ? std::string::npos : (found - 1) * stride_; }

    std::size_t stride_ = 8;
    Table short_, long_;
};

class BpsMaker {
public:
    BpsMaker(Bytes source, Bytes target) : source_(source), target_(target), index_(source) {}

    // Greedy: at each byte not yet covered, the copy that saves the most of
    // the one from the same place in the original, the last copy's alignment
    // carried on, a run, or what the indexes find; a byte that none covers
    // is written out. A short copy that the index of short windows finds may
    // be one of many places that hold the same few bytes, such as a common
    // word, so it waits until as many bytes have gone by as it covers, or a
    // stride: a longer copy through those bytes, which the index of long
    // windows finds in that time, takes its place.
    void actions(std::string& patch) {
        patch_ = &patch;
        std::size_t at = 0;
        while (at < target_.size) {
            if (held_.length != 0 && at >= held_.to + std::max(held_.length, index_.stride())) {
                at = commitHeld(target_.size);
                continue;
            }
            if (at + kAhead + SourceIndex::kLong <= target_.size) index_.prefetch(keysAt(at + kAhead));
            const Copy best = bestAt(at);
            if (saving(best) <= 1) {
                ++at;
            } else if (!trusted(best)) {
                if (held_.length == 0 || (best.to <= held_.to + held_.length && saving(best) > saving(held_))) held_ = best;
                ++at;
            } else {
                commitHeld(best.to);
                commit(best);
                at = literal_;
            }
        }
        commitHeld(target_.size);
        literal(target_.size);
    }

private:
    // `length` bytes of the result from `to` on, copied from `from`.
    struct Copy {
        BpsAction kind = kTargetRead;
        std::size_t from = 0, to = 0, length = 0;
        bool found = false;  // by a window, rather than by where the bytes stand
    };

    static constexpr std::size_t kLongEnough = 64;
    // How far ahead of a byte written out the indexes' slots are fetched.
    static constexpr std::size_t kAhead = 8;

    Copy bestAt(std::size_t at) const {
        Copy best;
        const auto consider = [&](const Copy& copy) {
            if (saving(copy) > saving(best)) best = copy;
        };
        const std::size_t left = target_.size - at;
        const auto fromSource = [&](std::size_t from, bool found) {
            Copy copy{kSourceCopy, from, at, matchLength(source_.data + from, target_.data + at, std::min(source_.size - from, left)), found};
            // A window found may lie anywhere in a stretch moved whole.
            while (found && copy.to > literal_ && copy.from > 0 && source_.data[copy.from - 1] == target_.data[copy.to - 1])
                --copy.from, --copy.to, ++copy.length;
            return copy;
        };
        if (at < source_.size) consider(fromSource(at, false));
        const std::size_t aligned = at + static_cast<std::size_t>(alignment_);
        if (alignment_ != 0 && aligned < source_.size) consider(fromSource(aligned, false));
        if (at > 0 && target_.data[at] == target_.data[at - 1])
            consider({kTargetCopy, at - 1, at, matchLength(target_.data + at - 1, target_.data + at, left)});
        if (best.length < kLongEnough && left >= SourceIndex::kLong) {
            const SourceIndex::Keys& keys = keysAt(at);
            for (const std::size_t found : {index_.longCandidate(keys), index_.shortCandidate(keys)})
                if (found != std::string::npos) consider(fromSource(found, true));
        }
        return best;
    }

    // The keys of each place are worked out once, ahead of their use, for
    // the slots' prefetch.
    const SourceIndex::Keys& keysAt(std::size_t at) const {
        Keyed& keyed = keyed_[at % keyed_.size()];
        if (keyed.at != at) keyed = {at, SourceIndex::keysAt(target_.data + at)};
        return keyed.keys;
    }

    // A short copy from elsewhere in the original may be the chance
    // agreement of a few common bytes, whether a window found it or the
    // last copy's alignment carried on past that copy's end (a moved block
    // followed by another from elsewhere); the same place, or a run, is not.
    bool trusted(const Copy& copy) const { return kindOf(copy) != kSourceCopy || copy.length >= SourceIndex::kLong; }

    // The copy held, up to `end` at most, if it still saves bytes; where the
    // bytes not yet in the patch start then.
    std::size_t commitHeld(std::size_t end) {
        Copy held = held_;
        held_ = {};
        if (held.to < end) {
            held.length = std::min(held.length, end - held.to);
            if (saving(held) > 1) commit(held);
        }
        return literal_;
    }

    // A copy from the original's same place is a SourceRead, which needs no move.
    static BpsAction kindOf(const Copy& copy) {
        return copy.kind == kSourceCopy && copy.from == copy.to ? kSourceRead : copy.kind;
    }

    std::size_t& cursorOf(BpsAction kind) { return kind == kSourceCopy ? sourceCursor_ : targetCursor_; }

    // An action's number: its length less one, then its kind in the low 2 bits.
    static std::uint64_t actionCode(BpsAction kind, std::size_t length) {
        return (std::uint64_t{length} - 1) << 2 | kind;
    }

    static std::uint64_t moveCode(std::size_t cursor, std::size_t to) {
        return to >= cursor ? std::uint64_t{to - cursor} << 1 : std::uint64_t{cursor - to} << 1 | 1;
    }

    // The bytes a copy saves: those it covers, less what it costs in the patch.
    std::ptrdiff_t saving(const Copy& copy) const {
        if (copy.length == 0) return 0;
        const BpsAction kind = kindOf(copy);
        std::size_t cost = numberSize(actionCode(kind, copy.length));
        if (kind == kSourceCopy || kind == kTargetCopy)
            cost += numberSize(moveCode(kind == kSourceCopy ? sourceCursor_ : targetCursor_, copy.from));
        return static_cast<std::ptrdiff_t>(copy.length) - static_cast<std::ptrdiff_t>(cost);
    }

    void literal(std::size_t to) {
        if (to == literal_) return;
        appendNumber(*patch_, actionCode(kTargetRead, to - literal_));
        patch_->append(reinterpret_cast<const char*>(target_.data + literal_), to - literal_);
        literal_ = to;
    }

    void commit(const Copy& copy) {
        literal(copy.to);
        const BpsAction kind = kindOf(copy);
        appendNumber(*patch_, actionCode(kind, copy.length));
        if (kind == kSourceCopy || kind == kTargetCopy) {
            appendNumber(*patch_, moveCode(cursorOf(kind), copy.from));
            cursorOf(kind) = copy.from + copy.length;
        }
        if (copy.kind == kSourceCopy) alignment_ = static_cast<std::ptrdiff_t>(copy.from - copy.to);
        literal_ = copy.to + copy.length;
    }

    struct Keyed {
        std::size_t at = SIZE_MAX;
        SourceIndex::Keys keys;
    };

    Bytes source_, target_;
    SourceIndex index_;
    mutable std::array<Keyed, 16> keyed_;
    std::string* patch_ = nullptr;
    std::size_t literal_ = 0;  // where the bytes not yet in the patch start
    std::size_t sourceCursor_ = 0, targetCursor_ = 0;
    std::ptrdiff_t alignment_ = 0;  // the last copy's place in the original, less its place in the result
    Copy held_;                     // a short copy found by its window, waiting
};

std::string makeBps(Bytes source, Bytes target, std::string_view metadata) {
    std::string patch = kBpsMagic;
    appendNumber(patch, source.size);
    appendNumber(patch, target.size);
    appendNumber(patch, metadata.size());
    patch += metadata;
    BpsMaker(source, target).actions(patch);
    appendCrcs(patch, source, target);
    return patch;
}

}  // namespace

PatchFile::PatchFile(std::string_view bytes)
    : bytes(bytes), crc([bytes] { return crc32(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()); }) {}

std::string makePatch(PatchFormat format, const PatchFile& source, const PatchFile& target, std::string_view metadata) {
    switch (format) {
        case PatchFormat::Ips:
            return IpsMaker(Bytes(source), Bytes(target)).make();
        case PatchFormat::Ups:
            return makeUps(Bytes(source), Bytes(target));
        case PatchFormat::Bps:
            break;
    }
    return makeBps(Bytes(source), Bytes(target), metadata);
}

}  // namespace glyphound
