#include "search/word_matcher.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <type_traits>

#include "io/sliding_window.hpp"
#include "search/bucket_filter.hpp"
#include "search/vectors.hpp"

#if defined(GLYPHOUND_X86_VECTORS) && defined(GLYPHOUND_USE_AVX2)
#include <immintrin.h>
#endif

namespace glyphound {
namespace {

// Positions tested before their hits are sorted and handed over; it bounds
// the memory a flood of hits can take.
constexpr std::size_t kStretch = 4096;

std::string quoted(std::string_view word) { return "word '" + std::string(word) + "'"; }

// ASCII mode relates characters by their codes, so only ASCII has a place.
bool hasPlace(char32_t character, CaseMode mode) { return mode == CaseMode::Split || character < 0x80; }

}  // namespace

std::optional<Pattern> Pattern::compile(std::string_view word, PatternOptions options,
                                        std::shared_ptr<const Alphabet> alphabet, std::string& failure) {
    Pattern pattern;
    bool valid = true;
    pattern.characters_ = decodeUtf8(word, valid);
    if (!valid) return failure = quoted(word) + " is not UTF-8", std::nullopt;
    if (pattern.characters_.size() > kMaxLength)
        return failure = quoted(word) + " is longer than " + std::to_string(kMaxLength) + " characters", std::nullopt;
    pattern.word_ = word;
    pattern.mode_ = options.mode;
    pattern.width_ = options.width;
    pattern.match_ = options.match;
    pattern.alphabet_ = alphabet;
    const bool related = options.match == MatchMode::Pattern ? pattern.relateRepeats(options, failure)
                                                            : pattern.relateCharacters(options, failure);
    if (!related) return std::nullopt;
    if (options.match == MatchMode::Order) pattern.relateByOrder(options);
    if (options.match == MatchMode::Relative) pattern.chooseAnchor();
    std::stable_sort(pattern.relations_.begin(), pattern.relations_.end(), [](const Relation& a, const Relation& b) {
        return std::pair(a.span, a.position - a.base) < std::pair(b.span, b.position - b.base);
    });
    return pattern;
}

// Each group's characters keep their distances; a relation ties each member
// to the group's previous one.
bool Pattern::relateCharacters(const PatternOptions& options, std::string& failure) {
    firstOfOrder_.assign(alphabet_->orders().size(), {-1, 0});
    std::vector<int> lastInGroup(alphabet_->orders().size(), -1);
    std::vector<std::uint32_t> codes(characters_.size());
    const std::size_t unit = bytesPerUnit(options.width);
    for (std::size_t position = 0; position < characters_.size(); ++position) {
        const char32_t character = characters_[position];
        if (!hasPlace(character, options.mode))
            return failure = quoted(word_) + " has a character outside ASCII", false;
        const auto place = alphabet_->find(character);
        if (place && firstOfOrder_[place->order].first < 0)
            firstOfOrder_[place->order] = {static_cast<int>(position), place->index};
        if (character == options.wildcard || (!place && options.mode == CaseMode::Split)) continue;
        const int group = options.mode == CaseMode::Ascii ? 0 : place->order;
        codes[position] = options.mode == CaseMode::Ascii ? character : static_cast<std::uint32_t>(place->index);
        const int previous = lastInGroup[group];
        if (previous < 0)
            firstRelated_ = static_cast<int>(position);  // only read in ASCII mode, with one group
        else
            relations_.push_back({static_cast<std::uint16_t>(position * unit), static_cast<std::uint16_t>(previous * unit),
                                  (codes[position] - codes[previous]) & unitMask(options.width)});
        lastInGroup[group] = static_cast<int>(position);
    }
    if (relations_.size() >= kMinRelations) return true;
    failure = quoted(word_) + " relates too few characters: give at least 3 of one class, or 2 of each of two";
    return false;
}

// Characters of one class keep their order, up to `gaps` glyphs apart from
// their distance in the class; equal ones sit on one unit. Every pair is
// related, so that gaps add up between far characters too.
void Pattern::relateByOrder(const PatternOptions& options) {
    relations_.clear();
    const std::int64_t gaps = options.gaps;
    const std::size_t unit = bytesPerUnit(width_);
    const std::int64_t range = std::int64_t{unitMask(width_)} + 1;
    for (std::size_t later = 0; later < characters_.size(); ++later) {
        const auto place = alphabet_->find(characters_[later]);
        if (!place || characters_[later] == options.wildcard) continue;
        const std::size_t first = characters_.find(characters_[later]);
        if (first == later) {
            shown_ += characters_[later];
            shownAt_.push_back(later * unit);
        }
        for (std::size_t earlier = 0; earlier < later; ++earlier) {
            const auto other = alphabet_->find(characters_[earlier]);
            if (!other || other->order != place->order || characters_.find(characters_[earlier]) != earlier) continue;
            if (first != later && earlier != first) continue;
            const std::int64_t distance = place->index - other->index;
            const std::int64_t farthest = std::min(std::abs(distance) + gaps, range - 1);
            const std::int64_t nearest = std::clamp<std::int64_t>(std::abs(distance) - gaps, 1, farthest);
            const std::int64_t low = distance == 0 ? 0 : distance > 0 ? nearest : -farthest;
            relations_.push_back({static_cast<std::uint16_t>(later * unit), static_cast<std::uint16_t>(earlier * unit),
                                  static_cast<std::uint32_t>((low % range + range) % range),
                                  static_cast<std::uint32_t>(distance == 0 ? 0 : farthest - nearest)});
        }
    }
}

// Equal characters sit on one unit and different ones on different units,
// whatever they are: spaces and punctuation count as much as letters.
bool Pattern::relateRepeats(const PatternOptions& options, std::string& failure) {
    const std::size_t unit = bytesPerUnit(options.width);
    std::size_t counted = 0;
    for (std::size_t position = 0; position < characters_.size(); ++position) {
        const char32_t character = characters_[position];
        if (character == options.wildcard) continue;
        ++counted;
        const std::size_t first = characters_.find(character);
        if (first != position) {
            relations_.push_back({static_cast<std::uint16_t>(position * unit), static_cast<std::uint16_t>(first * unit), 0});
            continue;
        }
        shown_ += character;
        shownAt_.push_back(position * unit);
        distinct_.push_back(position * unit);
    }
    if (relations_.size() >= kMinRepeats && counted >= kMinPatternLength) return true;
    failure = quoted(word_) + " repeats too few characters for --match pattern: give at least " +
              std::to_string(kMinPatternLength) + " characters, with " + std::to_string(kMinRepeats) +
              " repeats of characters met before";
    return false;
}

void Pattern::chooseAnchor() {
    const std::size_t unit = bytesPerUnit(width_);
    const auto zeros = [](const Anchor& anchor) { return (anchor.first % 256 == 0) + (anchor.second % 256 == 0); };
    for (const Relation& first : relations_) {
        if (first.position != first.base + unit) continue;
        for (const Relation& second : relations_) {
            const Anchor candidate{first.base, first.difference, second.difference};
            if (second.base == first.position && second.position == second.base + unit &&
                (!anchor_ || zeros(candidate) < zeros(*anchor_)))
                anchor_ = candidate;
        }
    }
}

std::vector<std::uint32_t> Pattern::unitsAt(const std::uint8_t* bytes) const {
    std::vector<std::uint32_t> units;
    for (std::size_t at : shownAt_) units.push_back(unitAt(bytes + at, width_));
    return units;
}

bool Pattern::distinctAt(const std::uint8_t* bytes) const {
    if (distinct_.empty()) return true;
    std::vector<std::uint32_t> units;
    for (std::size_t at : distinct_) units.push_back(unitAt(bytes + at, width_));
    std::sort(units.begin(), units.end());
    return std::adjacent_find(units.begin(), units.end()) == units.end();
}

ClassValues Pattern::valuesAt(const std::uint8_t* bytes) const {
    ClassValues values(firstOfOrder_.size(), -1);
    for (std::size_t order = 0; order < firstOfOrder_.size(); ++order) {
        const auto [position, index] = firstOfOrder_[order];
        if (position >= 0)
            values[order] = static_cast<std::int32_t>(
                (unitAt(bytes + position * bytesPerUnit(width_), width_) - static_cast<std::uint32_t>(index)) &
                unitMask(width_));
    }
    return values;
}

std::string Pattern::decodeUnit(std::uint32_t unit, const ClassValues& values, std::uint32_t shift) const {
    const std::uint32_t mask = unitMask(width_);
    if (mode_ == CaseMode::Ascii) {
        const std::uint32_t character = (unit - shift) & mask;
        return character >= 0x20 && character < 0x7F ? std::string(1, static_cast<char>(character)) : ".";
    }
    for (std::size_t order = 0; order < values.size(); ++order) {
        const std::u32string& characters = alphabet_->orders()[order].characters;
        const std::uint32_t index = (unit - static_cast<std::uint32_t>(values[order])) & mask;
        if (values[order] >= 0 && index < characters.size()) return encodeUtf8(characters[index]);
    }
    return ".";
}

std::string Pattern::preview(const Hit& hit) const {
    const std::size_t unit = bytesPerUnit(width_);
    if (match_ != MatchMode::Relative) {
        std::string text;
        for (std::size_t at = hit.hitStart % unit; at + unit <= hit.contextSize; at += unit) {
            const auto shown = std::find(hit.units.begin(), hit.units.end(), unitAt(hit.context + at, width_));
            text += shown == hit.units.end() ? "." : encodeUtf8(shown_[shown - hit.units.begin()]);
        }
        return text;
    }
    const std::uint32_t shift =
        unitAt(hit.context + hit.hitStart + firstRelated_ * unit, width_) - characters_[firstRelated_];
    std::string text;
    for (std::size_t at = hit.hitStart % unit; at + unit <= hit.contextSize; at += unit)
        text += decodeUnit(unitAt(hit.context + at, width_), hit.values, shift);
    return text;
}

namespace {

// The positions still to be tested, with the longest word after each and the
// context on both sides, indexed from data(): the bytes before `tested` are
// the context behind the first of them.
class Window {
public:
    Window(ByteSource& source, std::size_t longest, std::size_t context, std::uint64_t origin)
        : sliding_(source, context, longest + context + 1, origin), keep_(longest + context), context_(context) {}

    // Moves past the tested positions to the next ones; false once none is left.
    bool fill() {
        sliding_.advance(tested - sliding_.behind());
        const bool more = sliding_.fill();
        tested = sliding_.behind();
        return more;
    }

    // Positions that can be tested now: their word and context have arrived.
    std::size_t testable() const {
        if (sliding_.ended()) return end();
        return end() > keep_ ? end() - keep_ : 0;
    }

    const std::uint8_t* data() const { return sliding_.position() - sliding_.behind(); }
    std::size_t end() const { return sliding_.behind() + sliding_.ahead(); }
    std::uint64_t start() const { return sliding_.offset() - sliding_.behind(); }
    // The index of an offset, where the window holds it, or the nearest end.
    std::size_t indexOf(std::uint64_t offset) const {
        return offset <= start() ? 0 : static_cast<std::size_t>(std::min<std::uint64_t>(offset - start(), end()));
    }
    std::size_t context() const { return context_; }
    bool failed() const { return sliding_.failed(); }

    std::size_t tested = 0;  // positions before this one are done

private:
    SlidingWindow sliding_;
    std::size_t keep_, context_;
};

// Arithmetic in the unit's own type, so that a vector holds as many
// offsets as it can.
template <Width kWidth>
using Unit = std::conditional_t<kWidth == Width::Byte, std::uint8_t, std::uint16_t>;

template <Width kWidth>
Unit<kWidth> load(const std::uint8_t* at) {
    using U = Unit<kWidth>;
    if constexpr (kWidth == Width::Byte) return at[0];
    if constexpr (kWidth == Width::Little16) return static_cast<U>(U{at[0]} | static_cast<U>(U{at[1]} << 8));
    return static_cast<U>(static_cast<U>(U{at[0]} << 8) | U{at[1]});
}

template <Width kWidth>
std::uint8_t holds(const std::uint8_t* at, const Pattern::Relation& relation) {
    using U = Unit<kWidth>;
    return static_cast<U>(load<kWidth>(at + relation.position) - load<kWidth>(at + relation.base) -
                          static_cast<U>(relation.difference)) <= static_cast<U>(relation.span);
}

// Whether the low bytes of the units keep the relation: all of it for bytes,
// and for 16-bit units a condition that random data meets one time in 256,
// in byte arithmetic that fills a vector.
template <Width kWidth>
std::uint8_t lowBytesHold(const std::uint8_t* at, const Pattern::Relation& relation) {
    constexpr std::size_t kLow = kWidth == Width::Big16 ? 1 : 0;
    return static_cast<std::uint8_t>(at[relation.position + kLow] - at[relation.base + kLow] -
                                     static_cast<std::uint8_t>(relation.difference)) <=
           static_cast<std::uint8_t>(relation.span);
}

// The offsets whose low bytes keep both leading relations, as bits: offset
// k is bit k % 64 of word k / 64, for k up to the stretch's length. Most
// words are 0, and the offsets that do keep them stand far apart where the
// relations are narrow. Each loop below fills the words for [0, count) from
// `at` with no call in it, as a call would cost each round its vectors.
constexpr std::size_t kCandidateWords = kStretch / 64;
using CandidateBits = std::array<std::uint64_t, kCandidateWords>;

template <Width kWidth>
bool bothLowBytesHold(const std::uint8_t* at, const Pattern::Relation& first, const Pattern::Relation& second) {
    return lowBytesHold<kWidth>(at, first) & lowBytesHold<kWidth>(at, second);
}

// Eight flags of 0 or 1, as the bytes of a word, to the eight low bits: the
// multiplication adds each flag into the top byte at its own bit.
std::uint64_t packedFlags(const std::uint8_t* flags) {
    std::uint64_t eight;
    std::memcpy(&eight, flags, sizeof eight);
    return (eight * 0x0102040810204080u) >> 56;
}

// A flag for each offset of 64 in a loop the compiler vectorizes, then packed.
template <Width kWidth>
void flagCandidatesPlainly(const std::uint8_t* at, std::size_t count, const Pattern::Relation& first,
                           const Pattern::Relation& second, CandidateBits& bits) {
    for (std::size_t start = 0, word = 0; start < count; start += 64, ++word) {
        std::uint8_t flags[64] = {};
        prefetchAhead(at + start);
        for (std::size_t k = 0; k < std::min<std::size_t>(64, count - start); ++k)
            flags[k] = bothLowBytesHold<kWidth>(at + start + k, first, second);
        bits[word] = 0;
        for (std::size_t eight = 0; eight < 64; eight += 8) bits[word] |= packedFlags(flags + eight) << eight;
    }
}

#if defined(GLYPHOUND_X86_VECTORS) && defined(GLYPHOUND_USE_AVX2)
// A relation's low bytes' test, with its constants in vectors once a loop.
struct LowBytesTest32 {
    std::size_t position, base;
    __m256i difference, span;
};

template <Width kWidth>
__attribute__((target("avx2"))) LowBytesTest32 lowBytesTest32(const Pattern::Relation& relation) {
    constexpr std::size_t kLow = kWidth == Width::Big16 ? 1 : 0;
    return {relation.position + kLow, relation.base + kLow, _mm256_set1_epi8(static_cast<char>(relation.difference)),
            _mm256_set1_epi8(static_cast<char>(relation.span))};
}

// The low bytes' test for 32 offsets at once, 0xFF where it holds.
__attribute__((target("avx2"))) __m256i lowBytesHold32(const std::uint8_t* at, const LowBytesTest32& test) {
    const __m256i position = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + test.position));
    const __m256i base = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + test.base));
    const __m256i away = _mm256_sub_epi8(_mm256_sub_epi8(position, base), test.difference);
    return _mm256_cmpeq_epi8(_mm256_min_epu8(away, test.span), away);
}

// Both tests for 32 offsets, a bit for each.
__attribute__((target("avx2"))) std::uint64_t bothHold32(const std::uint8_t* at, const LowBytesTest32& first,
                                                         const LowBytesTest32& second) {
    return static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_and_si256(lowBytesHold32(at, first), lowBytesHold32(at, second))));
}

// The same in AVX2, 64 offsets at a time, and the last few one by one: the
// compiler vectorizes the plain loop only as wide as the build's baseline.
// (In AVX-512, whose loads of 64 bytes each span two cache lines here, the
// loop took a fifth longer.)
template <Width kWidth>
__attribute__((target("avx2"))) void flagCandidates256(const std::uint8_t* at, std::size_t count,
                                                       const Pattern::Relation& first,
                                                       const Pattern::Relation& second, CandidateBits& bits) {
    const LowBytesTest32 one = lowBytesTest32<kWidth>(first), two = lowBytesTest32<kWidth>(second);
    std::size_t start = 0, word = 0;
    for (; start + 64 <= count; start += 64, ++word) {
        prefetchAhead(at + start);
        bits[word] = bothHold32(at + start, one, two) | bothHold32(at + start + 32, one, two) << 32;
    }
    if (start == count) return;
    bits[word] = 0;
    for (std::size_t k = start; k < count; ++k)
        bits[word] |= std::uint64_t{bothLowBytesHold<kWidth>(at + k, first, second)} << (k - start);
}
#endif

// `count`: at most kStretch.
template <Width kWidth>
void flagCandidates(const std::uint8_t* at, std::size_t count, const Pattern::Relation& first,
                    const Pattern::Relation& second, VectorWidth width, CandidateBits& bits) {
#if defined(GLYPHOUND_X86_VECTORS) && defined(GLYPHOUND_USE_AVX2)
    if (usableWidth(width) == VectorWidth::Bits256) return flagCandidates256<kWidth>(at, count, first, second, bits);
#endif
    (void)width;
    flagCandidatesPlainly<kWidth>(at, count, first, second, bits);
}

Hit hitAt(const Window& window, const Pattern& pattern, std::size_t index, std::size_t at) {
    const std::uint8_t* bytes = window.data();
    Hit hit;
    hit.offset = window.start() + at;
    hit.pattern = index;
    if (pattern.match() == MatchMode::Relative)
        hit.values = pattern.valuesAt(bytes + at);
    else
        hit.units = pattern.unitsAt(bytes + at);
    const std::size_t contextStart = at > window.context() ? at - window.context() : 0;
    hit.context = bytes + contextStart;
    hit.hitStart = at - contextStart;
    hit.contextSize = std::min(window.end(), at + pattern.length() + window.context()) - contextStart;
    return hit;
}

template <Width kWidth>
bool holdsFrom(const std::uint8_t* at, const Pattern& pattern, std::size_t first) {
    const std::vector<Pattern::Relation>& relations = pattern.relations();
    return std::all_of(relations.begin() + first, relations.end(),
                       [&](const Pattern::Relation& r) { return holds<kWidth>(at, r); }) &&
           pattern.distinctAt(at);
}

// Tests one word without an anchor at positions [from, to) of the window.
// Its leading relations rule offsets out a block at a time; the relations
// are tested in full only where those hold.
template <Width kWidth>
void testAlone(const Window& window, const Pattern& pattern, std::size_t index, std::size_t from, std::size_t to,
               VectorWidth width, std::vector<Hit>& hits) {
    const std::uint8_t* bytes = window.data();
    if (window.end() < pattern.length()) return;
    to = std::min(to, window.end() - pattern.length() + 1);
    const std::vector<Pattern::Relation>& relations = pattern.relations();
    // In 8-bit units the block test has tested the leading relations in full.
    const std::size_t tested = kWidth == Width::Byte ? 2 : 0;
    CandidateBits bits;
    for (std::size_t stretch = from; stretch < to; stretch += kStretch) {
        const std::size_t count = std::min(kStretch, to - stretch);
        flagCandidates<kWidth>(bytes + stretch, count, relations[0], relations[1], width, bits);
        for (std::size_t word = 0; word * 64 < count; ++word)
            for (std::uint64_t rest = bits[word]; rest != 0; rest &= rest - 1) {
                const std::size_t at = stretch + 64 * word + static_cast<std::size_t>(__builtin_ctzll(rest));
                if (holdsFrom<kWidth>(bytes + at, pattern, tested)) hits.push_back(hitAt(window, pattern, index, at));
            }
    }
}

// Tests every word with an anchor at positions [from, to) of the window, in
// one pass of the filter over the positions their anchors can be at.
template <Width kWidth>
void testAnchored(const Window& window, const std::vector<Pattern>& patterns, const BucketFilter& filter,
                  std::size_t from, std::size_t to, VectorWidth width, std::vector<Hit>& hits) {
    const std::uint8_t* bytes = window.data();
    if (filter.empty() || window.end() < filter.span()) return;
    const std::size_t end = std::min(to + filter.farthestOffset(), window.end() - filter.span() + 1);
    std::uint8_t buckets = 0;
    for (std::size_t position = from; (position = filter.next(bytes, position, end, buckets, width)) < end; ++position) {
        for (unsigned bits = buckets; bits != 0; bits &= bits - 1)
            for (const BucketFilter::Member& member : filter.bucket(__builtin_ctz(bits))) {
                const Pattern& pattern = patterns[member.word];
                const std::size_t at = position - member.offset;
                if (position >= from + member.offset && at < to && at + pattern.length() <= window.end() &&
                    holdsFrom<kWidth>(bytes + at, pattern, 0))
                    hits.push_back(hitAt(window, pattern, member.word, at));
            }
    }
}

template <Width kWidth>
void testStretch(const Window& window, const std::vector<Pattern>& patterns, const BucketFilter& filter,
                 std::size_t from, std::size_t to, VectorWidth width, std::vector<Hit>& hits) {
    testAnchored<kWidth>(window, patterns, filter, from, to, width, hits);
    for (std::size_t index = 0; index < patterns.size(); ++index)
        if (!patterns[index].anchor()) testAlone<kWidth>(window, patterns[index], index, from, to, width, hits);
}

// Hits come in offset order, then in the order the words were given.
void testStretch(const Window& window, const std::vector<Pattern>& patterns, const BucketFilter& filter,
                 std::size_t from, std::size_t to, VectorWidth width, std::vector<Hit>& hits) {
    hits.clear();
    switch (patterns.front().width()) {
        case Width::Byte:
            testStretch<Width::Byte>(window, patterns, filter, from, to, width, hits);
            break;
        case Width::Little16:
            testStretch<Width::Little16>(window, patterns, filter, from, to, width, hits);
            break;
        case Width::Big16:
            testStretch<Width::Big16>(window, patterns, filter, from, to, width, hits);
            break;
    }
    std::sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) {
        return a.offset != b.offset ? a.offset < b.offset : a.pattern < b.pattern;
    });
}

BucketFilter anchorFilter(const std::vector<Pattern>& patterns) {
    const Width width = patterns.empty() ? Width::Byte : patterns.front().width();
    BucketFilter filter(bytesPerUnit(width), width == Width::Big16 ? 1 : 0);
    for (std::size_t index = 0; index < patterns.size(); ++index)
        if (const auto& anchor = patterns[index].anchor())
            filter.add({index, anchor->offset}, static_cast<std::uint8_t>(anchor->first),
                       static_cast<std::uint8_t>(anchor->second));
    return filter;
}

}  // namespace

bool findPatterns(ByteSource& source, const std::vector<Pattern>& patterns, const HitHandler& onHit,
                  VectorWidth width, const Part& part) {
    std::size_t longest = 0;
    for (const Pattern& pattern : patterns) longest = std::max(longest, pattern.length());
    const std::size_t context = patterns.empty() ? 0 : kContextUnits * bytesPerUnit(patterns.front().width());
    const std::uint64_t origin = part.start - std::min<std::uint64_t>(part.start, context);
    if (origin > 0 && !source.skip(origin)) return false;
    Window window(source, longest, context, origin);
    const BucketFilter filter = anchorFilter(patterns);
    std::vector<Hit> hits;
    while (!patterns.empty() && window.start() + window.tested < part.end && window.fill()) {
        // Only the part's own offsets are tested; the bytes around them are context.
        window.tested = std::max(window.tested, window.indexOf(part.start));
        const std::size_t last = std::min(window.testable(), window.indexOf(part.end));
        while (window.tested < last) {
            const std::size_t to = std::min(last, window.tested + kStretch);
            testStretch(window, patterns, filter, window.tested, to, width, hits);
            for (const Hit& hit : hits) onHit(hit);
            window.tested = to;
        }
    }
    return !window.failed();
}

}  // namespace glyphound
