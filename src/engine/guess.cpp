#include "engine/guess.hpp"

#include <algorithm>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "engine/english.hpp"
#include "io/sliding_window.hpp"
#include "search/vectors.hpp"

#ifdef GLYPHOUND_X86_VECTORS
#include <immintrin.h>
#endif

namespace glyphound {
namespace {

using english::kGap;
using english::kLetters;

// --- The pass: which stretches look like text under some alphabet ---
//
// Whatever the alphabet's place, two letters of one case in a row differ by
// at most 25 units, and English text is mostly such pairs; random bytes have
// one such pair in five (one in 1,300 of 16-bit units), and a padding run of
// one repeated unit has none, as its steps are all zero. So the pass counts
// small non-zero steps in blocks of 32 units and keeps every stretch where
// two blocks in a row hold enough of them, with a margin for the words at its
// edges. That is a few vector operations per byte; everything that depends on
// where the alphabet sits then reads only the kept stretches, which are small
// in all but files full of text-like data.
constexpr std::size_t kBlockUnits = 32;
// Of the 64 pairs of units that two blocks hold (per byte parity in 16-bit
// modes): English prose has 35 to 45 small steps among them, random bytes 12
// on average and 30 or more about once in ten million.
constexpr unsigned kTextLikeSteps = 30;
constexpr std::uint64_t kMarginBlocks = 2;
constexpr std::uint32_t kFarthestLetter = kLetters - 1;

// Whether the unit at `at` and the next one differ by 1 to 25 either way,
// in byte arithmetic, as the vector loop computes it.
template <Width kWidth>
std::uint8_t smallStep(const std::uint8_t* at) {
    if constexpr (kWidth == Width::Byte) {
        const std::uint8_t step = static_cast<std::uint8_t>(at[1] - at[0]);
        return static_cast<std::uint8_t>(static_cast<std::uint8_t>(step + kFarthestLetter) <= 2 * kFarthestLetter) &
               static_cast<std::uint8_t>(step != 0);
    } else {
        constexpr int kLow = kWidth == Width::Little16 ? 0 : 1, kHigh = 1 - kLow;
        const std::uint8_t low = static_cast<std::uint8_t>(at[2 + kLow] - at[kLow]);
        const std::uint8_t borrow = at[2 + kLow] < at[kLow];
        const std::uint8_t high = static_cast<std::uint8_t>(at[2 + kHigh] - at[kHigh] - borrow);
        const bool up = high == 0 && low - 1u < kFarthestLetter;
        const bool down = high == 0xFF && low >= 256 - kFarthestLetter;
        return static_cast<std::uint8_t>(up | down);
    }
}

// The small steps of each whole block, one unit pair after another.
template <Width kWidth>
void countBlocksPlainly(const std::uint8_t* at, std::size_t blocks, std::uint8_t* counts) {
    constexpr std::size_t kBytes = kBlockUnits * (kWidth == Width::Byte ? 1 : 2);
    for (std::size_t block = 0; block < blocks; ++block, at += kBytes) {
        prefetchAhead(at);
        std::uint8_t count = 0;
        for (std::size_t k = 0; k < kBytes; ++k) count = static_cast<std::uint8_t>(count + smallStep<kWidth>(at + k));
        counts[block] = count;
    }
}

#ifdef GLYPHOUND_X86_VECTORS
// The same test on 16 offsets at once, each lane 0xFF where it holds, in
// SSE2, which every x86-64 processor has.
template <Width kWidth>
__m128i smallSteps16(const std::uint8_t* at) {
    const auto load = [&](int offset) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + offset)); };
    const auto all = [](int byte) { return _mm_set1_epi8(static_cast<char>(byte)); };
    const auto atMost = [&](__m128i value, int top) { return _mm_cmpeq_epi8(_mm_min_epu8(value, all(top)), value); };
    const auto atLeast = [&](__m128i value, int bottom) {
        return _mm_cmpeq_epi8(_mm_max_epu8(value, all(bottom)), value);
    };
    const __m128i zero = _mm_setzero_si128();
    if constexpr (kWidth == Width::Byte) {
        const __m128i step = _mm_sub_epi8(load(1), load(0));
        return _mm_andnot_si128(_mm_cmpeq_epi8(step, zero),
                                atMost(_mm_add_epi8(step, all(kFarthestLetter)), 2 * kFarthestLetter));
    } else {
        constexpr int kLow = kWidth == Width::Little16 ? 0 : 1, kHigh = 1 - kLow;
        const __m128i before = load(kLow), after = load(2 + kLow);
        const __m128i low = _mm_sub_epi8(after, before);
        const __m128i borrow = _mm_andnot_si128(_mm_cmpeq_epi8(_mm_subs_epu8(before, after), zero), all(0xFF));
        // The high bytes' difference less the borrow, which is 0xFF where due.
        const __m128i high = _mm_add_epi8(_mm_sub_epi8(load(2 + kHigh), load(kHigh)), borrow);
        const __m128i up =
            _mm_and_si128(_mm_cmpeq_epi8(high, zero), atMost(_mm_sub_epi8(low, all(1)), kFarthestLetter - 1));
        const __m128i down = _mm_and_si128(_mm_cmpeq_epi8(high, all(0xFF)), atLeast(low, 256 - kFarthestLetter));
        return _mm_or_si128(up, down);
    }
}

template <Width kWidth>
void countBlocksInVectors(const std::uint8_t* at, std::size_t blocks, std::uint8_t* counts) {
    constexpr std::size_t kBytes = kBlockUnits * (kWidth == Width::Byte ? 1 : 2);
    for (std::size_t block = 0; block < blocks; ++block, at += kBytes) {
        prefetchAhead(at);
        __m128i count = _mm_setzero_si128();
        for (std::size_t k = 0; k < kBytes; k += 16) count = _mm_sub_epi8(count, smallSteps16<kWidth>(at + k));
        const __m128i sums = _mm_sad_epu8(count, _mm_setzero_si128());
        counts[block] = static_cast<std::uint8_t>(_mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4));
    }
}
#endif

#ifdef GLYPHOUND_X86_VECTORS
__attribute__((target("avx2"))) inline __m256i load(const std::uint8_t* from) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from));
}

// The same test on 16 units, each in a 16-bit lane, from `at` on: a step
// is small where its size, less one, is below the farthest letter.
template <Width kWidth>
__attribute__((target("avx2"))) __m256i smallUnitSteps(const std::uint8_t* at) {
    __m256i units = load(at), next = load(at + 2);
    if constexpr (kWidth == Width::Big16) {
        const __m256i swapBytes = _mm256_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14, 1, 0, 3, 2, 5,
                                                   4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
        units = _mm256_shuffle_epi8(units, swapBytes);
        next = _mm256_shuffle_epi8(next, swapBytes);
    }
    const __m256i lessOne = _mm256_sub_epi16(_mm256_abs_epi16(_mm256_sub_epi16(next, units)), _mm256_set1_epi16(1));
    return _mm256_cmpeq_epi16(_mm256_min_epu16(lessOne, _mm256_set1_epi16(kFarthestLetter - 1)), lessOne);
}

// The same test on 32 offsets at once, in AVX2.
template <Width kWidth>
__attribute__((target("avx2"))) __m256i smallSteps32(const std::uint8_t* at) {
    const __m256i zero = _mm256_setzero_si256();
    if constexpr (kWidth == Width::Byte) {
        const __m256i step = _mm256_sub_epi8(load(at + 1), load(at));
        const __m256i shifted = _mm256_add_epi8(step, _mm256_set1_epi8(static_cast<char>(kFarthestLetter)));
        const __m256i near =
            _mm256_cmpeq_epi8(_mm256_min_epu8(shifted, _mm256_set1_epi8(static_cast<char>(2 * kFarthestLetter))), shifted);
        return _mm256_andnot_si256(_mm256_cmpeq_epi8(step, zero), near);
    } else {
        // A unit to each 16-bit lane, at the even offsets and then at the odd
        // ones. The two halves' lanes, packed to bytes, come in another
        // order, which a count doesn't see.
        return _mm256_packs_epi16(smallUnitSteps<kWidth>(at), smallUnitSteps<kWidth>(at + 1));
    }
}

// A block is one or two vectors: each lane's bit, counted, costs less than
// adding the lanes up. Every processor with AVX2 counts bits.
template <Width kWidth>
__attribute__((target("avx2,popcnt"))) void countBlocksIn256(const std::uint8_t* at, std::size_t blocks,
                                                             std::uint8_t* counts) {
    constexpr std::size_t kBytes = kBlockUnits * (kWidth == Width::Byte ? 1 : 2);
    for (std::size_t block = 0; block < blocks; ++block, at += kBytes) {
        prefetchAhead(at);
        int count = 0;
        for (std::size_t k = 0; k < kBytes; k += 32)
            count += _mm_popcnt_u32(static_cast<std::uint32_t>(_mm256_movemask_epi8(smallSteps32<kWidth>(at + k))));
        counts[block] = static_cast<std::uint8_t>(count);
    }
}
#endif

template <Width kWidth>
void countBlocks(const std::uint8_t* at, std::size_t blocks, std::uint8_t* counts, VectorWidth vectors) {
#ifdef GLYPHOUND_X86_VECTORS
    if (vectors == VectorWidth::Bits256) return countBlocksIn256<kWidth>(at, blocks, counts);
    if (vectors == VectorWidth::Bits128) return countBlocksInVectors<kWidth>(at, blocks, counts);
#endif
    (void)vectors;
    countBlocksPlainly<kWidth>(at, blocks, counts);
}

// `vectors`: a width the processor has.
void countBlocks(const std::uint8_t* at, std::size_t blocks, std::uint8_t* counts, Width width, VectorWidth vectors) {
    switch (width) {
        case Width::Byte:
            return countBlocks<Width::Byte>(at, blocks, counts, vectors);
        case Width::Little16:
            return countBlocks<Width::Little16>(at, blocks, counts, vectors);
        case Width::Big16:
            return countBlocks<Width::Big16>(at, blocks, counts, vectors);
    }
}

// The same for the last block of the data, whose last unit has no next one.
unsigned smallStepsAtEnd(const std::uint8_t* at, std::size_t pairs, Width width) {
    unsigned count = 0;
    for (std::size_t k = 0; k < pairs; ++k)
        count += width == Width::Byte       ? smallStep<Width::Byte>(at + k)
                 : width == Width::Little16 ? smallStep<Width::Little16>(at + k)
                                            : smallStep<Width::Big16>(at + k);
    return count;
}

// Reads a source once, block by block, and keeps its text-like stretches. A
// block's fate is known once the blocks of its margin after it are counted,
// so the window keeps that many blocks behind its position. A part's blocks
// are decided from the blocks of their margin on either side, so a part
// reads those too, and keeps only its own.
class Sampler {
public:
    Sampler(Width width, VectorWidth vectors, const Part& part, const KeptBytes& onKept)
        : width_(width),
          vectors_(usableWidth(vectors)),
          blockBytes_(kBlockUnits * bytesPerUnit(width)),
          pairReach_(2 * bytesPerUnit(width) - 1),
          firstBlock_(part.start / blockBytes_),
          endBlock_(part.end == UINT64_MAX ? UINT64_MAX : part.end / blockBytes_),
          onKept_(onKept) {}

    bool run(ByteSource& source) {
        next_ = firstBlock_ > kMarginBlocks ? firstBlock_ - kMarginBlocks - 1 : 0;
        if (next_ > 0 && !source.skip(next_ * blockBytes_)) return false;
        SlidingWindow window(source, (kMarginBlocks + 1) * blockBytes_, blockBytes_ + pairReach_, next_ * blockBytes_);
        const std::uint64_t lastDecided = endBlock_ == UINT64_MAX ? UINT64_MAX : endBlock_ + kMarginBlocks;
        while (next_ <= lastDecided && window.fill()) {
            see(window);
            window.advance(countBlocks(window.ended()));
        }
        if (window.failed()) return false;
        see(window);
        for (std::uint64_t block = next_ > kMarginBlocks ? next_ - kMarginBlocks - 1 : 0; block < next_; ++block)
            settle(block);
        handOver();
        return true;
    }

private:
    // The window's bytes, from the earliest block still to be settled.
    void see(const SlidingWindow& window) {
        bytes_ = window.position() - window.behind();
        base_ = window.offset() - window.behind();
        end_ = window.behind() + window.ahead();
    }

    // Counts every block whose pairs have all arrived (at the end, every
    // block), settles each block that is then beyond its margin, and gives
    // the bytes counted.
    std::size_t countBlocks(bool ended) {
        const std::size_t at = static_cast<std::size_t>(next_ * blockBytes_ - base_);
        const std::size_t whole = end_ - at >= pairReach_ ? (end_ - at - pairReach_) / blockBytes_ : 0;
        counts_.resize(whole);
        glyphound::countBlocks(bytes_ + at, whole, counts_.data(), width_, vectors_);
        if (settlesNothing()) {
            next_ += whole;
            previousSteps_ = counts_.back();
        } else {
            for (const std::uint8_t steps : counts_) decide(steps);
        }
        if (!ended) return whole * blockBytes_;
        for (std::size_t rest = at + whole * blockBytes_; rest < end_; rest += blockBytes_) {
            const std::size_t pairs = end_ - rest > pairReach_ ? end_ - rest - pairReach_ : 0;
            decide(smallStepsAtEnd(bytes_ + rest, std::min(pairs, blockBytes_), width_));
        }
        return end_ - at;
    }

    // Most of a file is not text: where the counted blocks hold no text-like
    // pair and the margin of the last one lies behind them, they keep
    // nothing, and are passed all at once.
    bool settlesNothing() const {
        if (counts_.empty() || (lastTextLike_ != 0 && lastTextLike_ + 2 * kMarginBlocks >= next_)) return false;
        // Two blocks count at most 2 x 64 steps: their sum fits a byte. The
        // greatest sum is taken, not each compared, so that the loop runs in
        // vectors.
        std::uint8_t most = 0;
        for (std::size_t k = 1; k < counts_.size(); ++k)
            most = std::max(most, static_cast<std::uint8_t>(counts_[k - 1] + counts_[k]));
        return previousSteps_ + counts_[0] < kTextLikeSteps && most < kTextLikeSteps;
    }

    void decide(unsigned steps) {
        if (previousSteps_ + steps >= kTextLikeSteps) lastTextLike_ = next_ + 1;
        previousSteps_ = steps;
        if (next_ >= kMarginBlocks + 1) settle(next_ - kMarginBlocks - 1);
        ++next_;
    }

    // Keeps a block within the margin of a text-like pair of blocks.
    // (`lastTextLike_` is one past the later block of the last such pair.)
    void settle(std::uint64_t block) {
        if (block < firstBlock_ || block >= endBlock_) return;
        if (lastTextLike_ == 0 || lastTextLike_ + kMarginBlocks < block + 1) return;
        const std::size_t at = static_cast<std::size_t>(block * blockBytes_ - base_);
        const std::size_t size = std::min(blockBytes_, end_ - at);
        const std::uint64_t offset = block * blockBytes_;
        if (kept_.size() >= kKeptPiece || keptOffset_ + kept_.size() != offset) handOver();
        if (kept_.empty()) keptOffset_ = offset;
        kept_.insert(kept_.end(), bytes_ + at, bytes_ + at + size);
    }

    // The blocks kept in a row go out together.
    void handOver() {
        if (!kept_.empty()) onKept_(keptOffset_, kept_.data(), kept_.size());
        kept_.clear();
    }

    static constexpr std::size_t kKeptPiece = 64 << 10;

    Width width_;
    VectorWidth vectors_;
    std::size_t blockBytes_, pairReach_;
    std::uint64_t firstBlock_, endBlock_;  // the part's
    const KeptBytes& onKept_;
    std::vector<std::uint8_t> kept_;
    std::uint64_t keptOffset_ = 0;
    std::vector<std::uint8_t> counts_;
    const std::uint8_t* bytes_ = nullptr;
    std::size_t end_ = 0;     // of bytes_
    std::uint64_t base_ = 0;  // the file offset of bytes_[0]
    std::uint64_t next_ = 0;  // the next block to count
    unsigned previousSteps_ = 0;
    std::uint64_t lastTextLike_ = 0;
};

}  // namespace

bool sampleTextLikePart(ByteSource& source, Width width, const Part& part, const KeptBytes& onKept, VectorWidth vectors) {
    return Sampler(width, vectors, part, onKept).run(source);
}

bool sampleTextLike(ByteSource& source, Width width, TextSample& sample, VectorWidth vectors) {
    return sampleTextLikePart(source, width, Part{}, [&](std::uint64_t offset, const std::uint8_t* bytes, std::size_t size) {
        keepInSample(sample, offset, bytes, size);
    }, vectors);
}

void keepInSample(TextSample& sample, std::uint64_t offset, const std::uint8_t* bytes, std::size_t size) {
    // What comes is whole blocks, but for the data's last, and the limit is
    // a whole number of blocks: the sample takes the blocks up to it.
    const std::size_t room = kSampleLimit - sample.bytes.size();
    if (size > room) sample.partial = true;
    size = std::min(size, room);
    if (size == 0) return;
    auto& stretches = sample.stretches;
    if (stretches.empty() || stretches.back().offset + stretches.back().size != offset)
        stretches.push_back({offset, sample.bytes.size(), 0});
    sample.bytes.insert(sample.bytes.end(), bytes, bytes + size);
    stretches.back().size += size;
}

namespace {

// --- The ranking: how much English each alphabet's place explains ---

// The units of one byte parity of a kept stretch, in order.
struct Lane {
    const std::uint8_t* bytes;
    std::size_t units;
    std::uint64_t offset;
};

// Tile maps and code hold long stretches that repeat a few units ("90 91 90
// 91", a row of three or four tiles), which read as "DEDEDE" or "STSTST"
// under some place and, being long, would outweigh the real text. No English
// text repeats a period of one to four letters more than twice in a row, so
// such stretches are cut out of the lanes: nothing after reads them, and no
// word or chain of pairs spans the cut.
constexpr std::size_t kLongestPeriod = 4;
constexpr std::size_t kMostRepeats = 2;

// Calls `onPiece` with each piece of `lane` between such stretches that
// holds a pair of units at least. A stretch shows only once its third period
// is in, so the piece before it ends where the stretch began.
template <typename OnPiece>
void forEachAperiodicPiece(const Lane& lane, Width width, OnPiece onPiece) {
    const std::size_t unit = bytesPerUnit(width);
    const auto unitOf = [&](std::size_t index) { return unitAt(lane.bytes + index * unit, width); };
    const auto piece = [&](std::size_t from, std::size_t to) {
        if (to >= from + 2) onPiece(Lane{lane.bytes + from * unit, to - from, lane.offset + from * unit});
    };
    // For each period, how many units in a row equal the one a period before.
    std::size_t repeated[kLongestPeriod + 1] = {};
    std::size_t from = 0;
    for (std::size_t index = 0; index < lane.units; ++index) {
        std::size_t repeatsFrom = index + 1;
        for (std::size_t period = 1; period <= kLongestPeriod; ++period) {
            const bool same = index >= period && unitOf(index) == unitOf(index - period);
            repeated[period] = same ? repeated[period] + 1 : 0;
            if (repeated[period] >= kMostRepeats * period)
                repeatsFrom = std::min(repeatsFrom, index + 1 - period - repeated[period]);
        }
        if (repeatsFrom > index) continue;
        if (repeatsFrom > from) piece(from, repeatsFrom);
        from = index + 1;
    }
    piece(from, lane.units);
}

std::vector<Lane> lanesOf(const TextSample& sample, Width width) {
    const std::size_t unit = bytesPerUnit(width);
    std::vector<Lane> lanes;
    for (const TextSample::Stretch& stretch : sample.stretches)
        for (std::size_t parity = 0; parity < unit && parity + unit <= stretch.size; ++parity) {
            const Lane whole{sample.bytes.data() + stretch.start + parity, (stretch.size - parity) / unit,
                             stretch.offset + parity};
            forEachAperiodicPiece(whole, width, [&](const Lane& piece) { lanes.push_back(piece); });
        }
    return lanes;
}

// A candidate, and how it reads each unit.
class Decoder {
public:
    static constexpr int kOther = -1;
    Decoder(Width width, std::int32_t upper, std::int32_t lower, std::int32_t space)
        : width_(width), upper_(upper), lower_(lower), space_(space) {}

    std::uint32_t unit(const Lane& lane, std::size_t index) const {
        return unitAt(lane.bytes + index * bytesPerUnit(width_), width_);
    }
    // A letter 0-25 of either case, kGap for the space, or kOther.
    int symbol(std::uint32_t unit) const {
        if (const int letter = letterFrom(unit, lower_); letter >= 0) return letter;
        if (const int letter = letterFrom(unit, upper_); letter >= 0) return letter;
        return static_cast<std::int32_t>(unit) == space_ ? kGap : kOther;
    }
    char character(std::uint32_t unit) const {
        if (const int letter = letterFrom(unit, lower_); letter >= 0) return static_cast<char>('a' + letter);
        if (const int letter = letterFrom(unit, upper_); letter >= 0) return static_cast<char>('A' + letter);
        return static_cast<std::int32_t>(unit) == space_ ? ' ' : '.';
    }
    std::int32_t upper() const { return upper_; }
    std::int32_t lower() const { return lower_; }
    std::int32_t space() const { return space_; }
    Width width() const { return width_; }

private:
    int letterFrom(std::uint32_t unit, std::int32_t first) const {
        const std::uint32_t index = (unit - static_cast<std::uint32_t>(first)) & unitMask(width_);
        return first >= 0 && index < kLetters ? static_cast<int>(index) : -1;
    }

    Width width_;
    std::int32_t upper_, lower_, space_;
};

// A stretch of one lane from a letter to a letter, with no two units in a
// row that are neither letters nor the space, scored by how English its
// pairs are.
struct Run {
    const Lane* lane;
    std::size_t first, last;
    double score;
};

// A run this English counts as text: a dozen or so letters of prose, which
// letters drawn at random almost never reach.
constexpr double kTextScore = 12;

// Stray letters at a run's edges, such as a random byte that one end code
// parts from a menu, read worse than nothing and would sink a short text. So
// a run starts anew at a word before which it adds up to nothing, and ends
// with the word after which it read best.
template <typename OnRun>
void forEachRun(const Lane& lane, const Decoder& reading, OnRun onRun) {
    const english::PairModel& model = english::pairModel();
    Run run{&lane, 0, 0, 0}, best = run;
    bool inRun = false;
    int previous = 0, others = 0;
    double sinceLetter = 0;
    const auto end = [&] {
        onRun(run.score > best.score ? run : best);
        inRun = false;
    };
    for (std::size_t index = 0; index < lane.units; ++index) {
        const int symbol = reading.symbol(reading.unit(lane, index));
        if (!inRun) {
            if (symbol < 0 || symbol == kGap) continue;
            run = best = {&lane, index, index, 0};
            inRun = true;
            previous = symbol;
            others = 0;
            sinceLetter = 0;
            continue;
        }
        others = symbol == Decoder::kOther ? others + 1 : 0;
        if (others == 2) {
            end();
            continue;
        }
        // Punctuation ends a word as a space does.
        const int read = symbol == Decoder::kOther ? kGap : symbol;
        sinceLetter += model.symbols(previous, read);
        const bool wordEnds = read == kGap && previous != kGap, wordStarts = read != kGap && previous == kGap;
        previous = read;
        if (wordEnds && run.score > best.score) best = run;
        if (read == kGap) continue;
        run.score += std::exchange(sinceLetter, 0);
        if (wordStarts && run.score <= 0) {
            onRun(best);
            run = best = {&lane, index, index, 0};
        }
        run.last = index;
    }
    if (inRun) end();
}

template <typename OnRun>
void forEachTextRun(const std::vector<Lane>& lanes, const Decoder& reading, OnRun onRun) {
    for (const Lane& lane : lanes)
        forEachRun(lane, reading, [&](const Run& run) {
            if (run.score >= kTextScore) onRun(run);
        });
}

// Every place the letters of one case could start, scored by the words the
// sample holds there: chains of units at most 25 apart, each a letter pair
// under 26 or fewer places, so the work follows the sample's size rather
// than the unit's range. A chain counts only when it reads better than
// random letters: otherwise a long counter, "ABCDEFG..." under every place,
// would bury the words of a short text under its own poor pairs. And only
// what it reads better by than a short word does: random units that are
// letters under a place form short chains that now and then read well, and
// a long stretch of them would add up to a text of its own.
constexpr float kChainCost = 3;
constexpr float kFarBehind = 1.0f / 16;

class PlaceScores {
public:
    explicit PlaceScores(Width width)
        : total_(std::size_t{unitMask(width)} + 1), chain_(total_.size()), lastPair_(total_.size()) {}

    // `pair` numbers pairs so that consecutive ones share a unit.
    void add(std::uint32_t place, std::uint64_t pair, float score) {
        if (lastPair_[place] + 1 != pair)
            total_[place] += std::max(0.0f, std::exchange(chain_[place], 0.0f) - kChainCost);
        chain_[place] += score;
        lastPair_[place] = pair;
    }
    // The best `count` places whose chains read as English, best first,
    // less those far behind the best: in a file full of text, the places
    // next to the right one read a little English too, and reading each in
    // full would cost more than the pass.
    std::vector<std::uint32_t> best(std::size_t count) {
        std::vector<std::uint32_t> places;
        for (std::uint32_t place = 0; place < total_.size(); ++place) {
            total_[place] += std::max(0.0f, chain_[place] - kChainCost);
            if (total_[place] > 0) places.push_back(place);
        }
        const auto better = [&](std::uint32_t a, std::uint32_t b) {
            return total_[a] != total_[b] ? total_[a] > total_[b] : a < b;
        };
        const std::size_t kept = std::min(count, places.size());
        std::partial_sort(places.begin(), places.begin() + static_cast<std::ptrdiff_t>(kept), places.end(), better);
        places.resize(kept);
        while (!places.empty() && total_[places.back()] < total_[places.front()] * kFarBehind) places.pop_back();
        return places;
    }

private:
    std::vector<float> total_, chain_;
    std::vector<std::uint64_t> lastPair_;  // one past the last pair added; 0 for none
};

std::vector<std::uint32_t> likelyPlaces(const std::vector<Lane>& lanes, Width width, std::size_t count) {
    const std::uint32_t mask = unitMask(width);
    const english::PairModel& model = english::pairModel();
    const Decoder reading(width, -1, -1, -1);
    PlaceScores scores(width);
    std::uint64_t pair = 1;
    for (const Lane& lane : lanes) {
        for (std::size_t index = 0; index + 1 < lane.units; ++index, ++pair) {
            const std::uint32_t first = reading.unit(lane, index), second = reading.unit(lane, index + 1);
            const std::uint32_t step = (second - first) & mask;
            if (step == 0 || (step > kFarthestLetter && step < mask + 1 - kFarthestLetter)) continue;
            for (std::uint32_t letter = 0; letter < kLetters; ++letter) {
                const std::uint32_t place = (first - letter) & mask, next = (second - place) & mask;
                if (next < kLetters)
                    scores.add(place, pair, model.letters(static_cast<int>(letter), static_cast<int>(next)));
            }
        }
        pair += 2;  // no chain runs on into the next lane
    }
    return scores.best(count);
}

// The unit that stands alone between letters where English words end and
// start: in prose, the space. Each such place counts by how well its two
// letters end and start words, so that a unit that only splits letters at
// random, such as an opcode between small operands, loses however often it
// does.
std::int32_t spaceUnit(const std::vector<Lane>& lanes, const Decoder& letters) {
    const english::PairModel& model = english::pairModel();
    std::unordered_map<std::uint32_t, double> between;
    for (const Lane& lane : lanes)
        for (std::size_t index = 1; index + 1 < lane.units; ++index) {
            const std::uint32_t unit = letters.unit(lane, index);
            const int before = letters.symbol(letters.unit(lane, index - 1));
            const int after = letters.symbol(letters.unit(lane, index + 1));
            if (letters.symbol(unit) == Decoder::kOther && before >= 0 && after >= 0)
                between[unit] += model.symbols(before, kGap) + model.symbols(kGap, after);
        }
    std::int32_t space = -1;
    double best = 0;
    for (const auto& [unit, score] : between)
        if (score > best || (score == best && static_cast<std::int32_t>(unit) < space))
            space = static_cast<std::int32_t>(unit), best = score;
    return space;
}

// Capitals: in text of one case, units that are neither letters nor the
// space but stand after a space and before a letter, as sentences and names
// start. Two units at least, as sentences start with several letters; and on
// average no worse at starting words than letters drawn at random, which a
// unit such as an opening quote, met in text of capitals alone, is not.
//
// A few capitals fit many places, and how well their letters start words
// tells those apart only weakly: "She" reads hardly better than "Bhe". What
// does tell them apart is a known word: one that the text also has in lower
// case, as "The" and "the", or one of English's commonest, which start most
// sentences. So the place of 'A' is the one that makes letters of the most
// such units, then the one under which the most of them start a known word;
// where another place is as good on both, the capitals don't settle it, and
// the text is given by its lower case alone.
constexpr std::size_t kCapitalUnits = 2;
constexpr double kCapitalScore = -1;  // per unit

struct CapitalCandidate {
    double score = 0;
    std::set<std::uint32_t> units;
    std::set<std::uint32_t> known;  // those that start a known word
    std::pair<std::size_t, std::size_t> evidence() const { return {units.size(), known.size()}; }
};

// What the capitals say: whether the text has any, and their place, -1 when
// several places fit them equally well.
struct Capitals {
    bool seen = false;
    std::int32_t place = -1;
};

// The letters from `index` on, as 'a' to 'z'.
std::string wordAt(const Lane& lane, std::size_t index, const Decoder& lower) {
    std::string word;
    for (; index < lane.units; ++index) {
        const int letter = lower.symbol(lower.unit(lane, index));
        if (letter < 0 || letter >= kLetters) break;
        word += static_cast<char>('a' + letter);
    }
    return word;
}

// The words after a space in the text's runs: those in lower case, and those
// that start with a unit that is no letter, by that unit and the lower-case
// rest, with how often each comes.
struct WordStarts {
    std::unordered_set<std::string> lower;
    std::map<std::pair<std::uint32_t, std::string>, unsigned> capitalised;
};

WordStarts wordStartsOf(const std::vector<Lane>& lanes, const Decoder& lower) {
    WordStarts words;
    forEachTextRun(lanes, lower, [&](const Run& run) {
        for (std::size_t index = std::max<std::size_t>(run.first, 2) - 1; index < run.last; ++index) {
            if (static_cast<std::int32_t>(lower.unit(*run.lane, index - 1)) != lower.space()) continue;
            const std::uint32_t unit = lower.unit(*run.lane, index);
            const int symbol = lower.symbol(unit);
            if (symbol >= 0 && symbol < kLetters) words.lower.insert(wordAt(*run.lane, index, lower));
            if (symbol != Decoder::kOther) continue;
            std::string rest = wordAt(*run.lane, index + 1, lower);
            if (!rest.empty()) ++words.capitalised[{unit, std::move(rest)}];
        }
    });
    return words;
}

// Scores every place that makes a letter of `unit` by how `rest` then reads.
void addCapital(std::uint32_t unit, const std::string& rest, unsigned count, const WordStarts& words,
                const Decoder& lower, std::map<std::uint32_t, CapitalCandidate>& places) {
    const english::PairModel& model = english::pairModel();
    const std::uint32_t mask = unitMask(lower.width());
    const int nextLetter = rest[0] - 'a';
    for (int letter = 0; letter < kLetters; ++letter) {
        const std::uint32_t place = (unit - static_cast<std::uint32_t>(letter)) & mask;
        const auto holds = [&](std::uint32_t first, std::int32_t member) {
            return ((static_cast<std::uint32_t>(member) - first) & mask) < kLetters;
        };
        const auto lowerFirst = static_cast<std::uint32_t>(lower.lower());
        if (holds(place, lower.lower()) || holds(lowerFirst, static_cast<std::int32_t>(place)) ||
            (lower.space() >= 0 && holds(place, lower.space())))
            continue;
        CapitalCandidate& candidate = places[place];
        candidate.score += count * (model.symbols(kGap, letter) + model.symbols(letter, nextLetter));
        candidate.units.insert(unit);
        const std::string read = static_cast<char>('a' + letter) + rest;
        if (words.lower.count(read) || english::isCommonWord(read)) candidate.known.insert(unit);
    }
}

Capitals capitalPlace(const std::vector<Lane>& lanes, const Decoder& lower) {
    const WordStarts words = wordStartsOf(lanes, lower);
    std::map<std::uint32_t, CapitalCandidate> places;
    for (const auto& [word, count] : words.capitalised)
        addCapital(word.first, word.second, count, words, lower, places);
    const CapitalCandidate* best = nullptr;
    std::int32_t bestPlace = -1;
    for (const auto& [place, candidate] : places)
        if (!best || candidate.evidence() > best->evidence() ||
            (candidate.evidence() == best->evidence() && candidate.score > best->score))
            best = &candidate, bestPlace = static_cast<std::int32_t>(place);
    if (!best || best->units.size() < kCapitalUnits ||
        best->score < kCapitalScore * static_cast<double>(best->units.size()))
        return {};
    const auto alike = std::count_if(places.begin(), places.end(), [&](const auto& entry) {
        return entry.second.evidence() == best->evidence();
    });
    return {true, alike == 1 ? bestPlace : -1};
}

std::string previewOf(const Run& run, const Decoder& reading) {
    std::string text;
    for (std::size_t index = run.first; index <= run.last && text.size() < kPreviewUnits; ++index)
        text += reading.character(reading.unit(*run.lane, index));
    return text;
}

AlphabetGuess summaryOf(const std::vector<Lane>& lanes, const Decoder& reading) {
    AlphabetGuess guess;
    guess.values = {reading.upper(), reading.lower()};
    guess.space = reading.space();
    const std::size_t unit = bytesPerUnit(reading.width());
    const auto offsetOf = [&](const Run& run) { return run.lane->offset + run.first * unit; };
    const auto longer = [&](const Run& a, const Run& b) {
        const std::size_t lengthA = a.last - a.first, lengthB = b.last - b.first;
        return lengthA != lengthB ? lengthA > lengthB : offsetOf(a) < offsetOf(b);
    };
    std::vector<Run> longest;
    forEachTextRun(lanes, reading, [&](const Run& run) {
        guess.score += run.score;
        guess.textBytes += (run.last - run.first + 1) * unit;
        longest.push_back(run);
        std::sort(longest.begin(), longest.end(), longer);
        if (longest.size() > kShownRuns) longest.pop_back();
    });
    for (const Run& run : longest)
        guess.runs.push_back({offsetOf(run), (run.last - run.first + 1) * unit, previewOf(run, reading)});
    return guess;
}

constexpr std::int32_t kAsciiLowerA = 0x61;

// One candidate for each likely place of the letters: its space, then its
// capitals, which make that place the lower case's.
AlphabetGuess candidateAt(const std::vector<Lane>& lanes, Width width, std::uint32_t place) {
    const auto letters = static_cast<std::int32_t>(place);
    const std::int32_t space = spaceUnit(lanes, Decoder(width, letters, -1, -1));
    const Capitals capitals = capitalPlace(lanes, Decoder(width, -1, letters, space));
    if (capitals.place >= 0) return summaryOf(lanes, Decoder(width, capitals.place, letters, space));
    // Text of one case is mostly capitals in games, but not where it sits
    // exactly at ASCII's lower case.
    if (!capitals.seen && letters != kAsciiLowerA) return summaryOf(lanes, Decoder(width, letters, -1, space));
    AlphabetGuess guess = summaryOf(lanes, Decoder(width, -1, letters, space));
    guess.capitalsUnplaced = capitals.seen;
    return guess;
}

// The places a full reading is worth: the pair scores alone put the right
// one among the first few.
constexpr std::size_t kLikelyPlaces = 16;

}  // namespace

std::vector<AlphabetGuess> rankAlphabets(const TextSample& sample, Width width, std::size_t top) {
    const std::vector<Lane> lanes = lanesOf(sample, width);
    std::vector<AlphabetGuess> guesses;
    for (std::uint32_t place : likelyPlaces(lanes, width, std::max(top, kLikelyPlaces))) {
        AlphabetGuess guess = candidateAt(lanes, width, place);
        if (guess.score > 0) guesses.push_back(std::move(guess));
    }
    std::stable_sort(guesses.begin(), guesses.end(),
                     [](const AlphabetGuess& a, const AlphabetGuess& b) { return a.score > b.score; });
    if (guesses.size() > top) guesses.resize(top);
    return guesses;
}

}  // namespace glyphound
