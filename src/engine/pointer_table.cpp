#include "engine/pointer_table.hpp"

#include <algorithm>
#include <array>
#include <map>

#include "dialogue/texts.hpp"
#include "engine/refusal.hpp"
#include "engine/values.hpp"
#include "io/sliding_window.hpp"
#include "search/vectors.hpp"

#ifdef GLYPHOUND_X86_VECTORS
#include <immintrin.h>
#endif

namespace glyphound {
namespace {

constexpr std::uint64_t kTouchedBlock = 64;

// The forms a search tries: each map in each of its widths and byte orders.
struct Combination {
    const AddressMap* map;
    PointerFormat format;
};

std::vector<Combination> combinationsOf(const PointerSearch& search) {
    std::vector<Combination> combinations;
    for (const AddressMap& map : search.maps) {
        const bool eitherOrder = map.kind() == MapKind::Linear || map.kind() == MapKind::Relative;
        for (const int bits : search.bits ? std::vector<int>{*search.bits} : map.widths())
            for (const bool big : {false, true}) {
                if (search.bigEndian ? *search.bigEndian != big : big && !eitherOrder) continue;
                PointerFormat format;
                format.bits = bits;
                format.bigEndian = big;
                combinations.push_back({&map, format});
            }
    }
    return combinations;
}

// Among tables that read alike, a console's own mapping before the
// general ones.
int preference(MapKind kind) { return kind == MapKind::Linear ? 7 : static_cast<int>(kind); }

// The better table: more pointers to starts, then more pointers, then fewer
// into strings.
bool better(const FoundTable& a, const FoundTable& b) {
    if (a.starts != b.starts) return a.starts > b.starts;
    if (a.table.count != b.table.count) return a.table.count > b.table.count;
    if (a.inside != b.inside) return a.inside < b.inside;
    return preference(a.table.map.kind()) < preference(b.table.map.kind());
}

void keepBest(std::vector<FoundTable>& tables, std::size_t most, std::uint64_t* leftOut) {
    if (tables.size() <= most) return;
    std::stable_sort(tables.begin(), tables.end(), better);
    if (leftOut) *leftOut += tables.size() - most;
    tables.resize(most);
}

// The tables found so far, at most twice `most`: past that only the best
// are kept, and a table no better than the worst of them is left out at once,
// before its pointers are copied.
class KeptTables {
public:
    KeptTables(std::vector<FoundTable>& found, std::size_t most, std::uint64_t* leftOut)
        : found_(found), most_(most), leftOut_(leftOut) {}

    // `table` without its pointers.
    bool wanted(const FoundTable& table) const { return !worst_ || better(table, *worst_); }
    void leaveOut() {
        if (leftOut_) ++*leftOut_;
    }
    void add(FoundTable table) {
        found_.push_back(std::move(table));
        if (found_.size() <= 2 * most_) return;
        keepBest(found_, most_, leftOut_);
        worst_ = found_.back();
        worst_->pointers.clear();
    }

private:
    std::vector<FoundTable>& found_;
    std::size_t most_;
    std::uint64_t* leftOut_;
    std::optional<FoundTable> worst_;
};

// Runs of pointers that lead to strings, at every stride and every offset
// modulo it, for one combination; a run that ends long enough is a table.
// Pointers are offered in the order of their offsets.
class Runs {
public:
    Runs(const Combination& combination, const PointerSearch& search, const StringTargets& targets, KeptTables& found)
        : combination_(combination),
          targets_(targets),
          fewest_(search.fewest),
          longest_(search.longestTable),
          widest_(std::max<std::uint64_t>(search.widestStride, combination.format.bytes())),
          runs_((widest_ + 1) * (widest_ + 1)),
          found_(found) {}

    // A pointer whose value lands. Most stand alone, with no other within
    // the widest stride on either side: such a one is in no run of two, so
    // it is dropped before it is mapped and tried at every stride. Each is
    // held until the next shows whether it is alone.
    void offer(std::uint64_t offset, std::uint64_t value) {
        const bool near = held_ && offset - held_->first <= widest_;
        if (held_ && (heldNear_ || near)) add(held_->first, held_->second);
        held_.emplace(offset, value);
        heldNear_ = near;
    }

    void finishAll() {
        if (held_ && heldNear_) add(held_->first, held_->second);
        held_.reset();
        for (std::uint64_t stride = combination_.format.bytes(); stride <= widest_; ++stride)
            for (std::uint64_t rest = 0; rest < stride; ++rest) finish(runs_[stride * (widest_ + 1) + rest], stride);
    }

private:
    struct Run {
        std::size_t count = 0;
        FoundPointer last;
        std::vector<FoundPointer> pointers;  // when there are two or more
    };

    void add(std::uint64_t offset, std::uint64_t value) {
        const auto target = combination_.map->offsetOf(value, offset, combination_.format);
        const FoundPointer pointer{offset, value, target, target ? targets_.landing(*target) : Landing::Nowhere};
        for (std::uint64_t stride = combination_.format.bytes(); stride <= widest_; ++stride) {
            Run& run = runs_[stride * (widest_ + 1) + pointer.offset % stride];
            if (run.count > 0 && run.last.offset + stride == pointer.offset) {
                // Most runs are one pointer long: only a longer one keeps them all.
                if (run.count == 1) run.pointers.assign(1, run.last);
                run.pointers.push_back(pointer);
            } else {
                finish(run, stride);
            }
            run.last = pointer;
            ++run.count;
            if (run.pointers.size() >= longest_) finish(run, stride);
        }
    }

    void finish(Run& run, std::uint64_t stride) {
        if (run.count >= fewest_) {
            FoundTable table;
            table.table = {run.pointers.front().offset, run.pointers.size(), stride, *combination_.map,
                           combination_.format};
            for (const FoundPointer& pointer : run.pointers)
                (pointer.landing == Landing::Start ? table.starts : table.inside) += 1;
            if (found_.wanted(table)) {
                table.pointers = run.pointers;
                found_.add(std::move(table));
            } else {
                found_.leaveOut();
            }
        }
        run.count = 0;
        run.pointers.clear();
    }

    const Combination& combination_;
    const StringTargets& targets_;
    std::size_t fewest_;
    std::uint64_t longest_;
    std::uint64_t widest_;
    std::vector<Run> runs_;
    KeptTables& found_;
    std::optional<std::pair<std::uint64_t, std::uint64_t>> held_;  // offset, value
    bool heldNear_ = false;
};

// Where a split table's other arrays lie from its low bytes.
std::pair<std::int64_t, std::int64_t> splitDistances(const PointerTable& table) {
    if (!table.format.split) return {0, 0};
    const auto from = [&](std::uint64_t array) { return static_cast<std::int64_t>(array - table.offset); };
    return {from(table.format.split->high), table.format.split->bank ? from(*table.format.split->bank) : 0};
}

// Whether every pointer of `inner` is one of `outer`'s.
bool holds(const PointerTable& outer, const PointerTable& inner) {
    return outer.map.name() == inner.map.name() && outer.format.bits == inner.format.bits &&
           outer.format.bigEndian == inner.format.bigEndian && splitDistances(outer) == splitDistances(inner) &&
           inner.stride % outer.stride == 0 && inner.offset >= outer.offset &&
           (inner.offset - outer.offset) % outer.stride == 0 && inner.at(inner.count - 1) <= outer.at(outer.count - 1);
}

// The pointers a split table is sought by.
constexpr std::size_t kSought = 3;
// The earlier values of a pointer that keep each window of a map in play.
constexpr std::uint64_t kWindows[] = {0x8000, 0xC000, 0, 0x400000, 0x800000, 0xC00000};

// Every place in a file, by the three bytes that start there.
class TripleIndex {
public:
    explicit TripleIndex(const std::string& file) : file_(file) {
        for (std::uint32_t at = 0; at + 2 < file.size(); ++at) places_.push_back(at);
        std::sort(places_.begin(), places_.end(), [&](std::uint32_t a, std::uint32_t b) { return key(a) < key(b); });
    }
    std::pair<const std::uint32_t*, const std::uint32_t*> with(std::uint32_t wanted) const {
        const auto range = std::equal_range(places_.begin(), places_.end(), Key{wanted}, Less{this});
        return {places_.data() + (range.first - places_.begin()), places_.data() + (range.second - places_.begin())};
    }

private:
    struct Key {
        std::uint32_t value;
    };
    struct Less {
        const TripleIndex* index;
        bool operator()(std::uint32_t at, Key wanted) const { return index->key(at) < wanted.value; }
        bool operator()(Key wanted, std::uint32_t at) const { return wanted.value < index->key(at); }
    };
    std::uint32_t key(std::uint32_t at) const {
        return static_cast<std::uint32_t>(static_cast<std::uint8_t>(file_[at]) << 16 |
                                          static_cast<std::uint8_t>(file_[at + 1]) << 8 |
                                          static_cast<std::uint8_t>(file_[at + 2]));
    }
    const std::string& file_;
    std::vector<std::uint32_t> places_;
};

// Split tables of one map and width: from each place of low bytes, the high
// (and bank) bytes that would lead its first three pointers to strings'
// starts, sought as three bytes anywhere in the file, then followed on.
class SplitSearch {
public:
    SplitSearch(const std::string& file, const StringTargets& targets, const std::vector<std::uint64_t>& starts,
                const AddressMap& map, int bits, const TripleIndex& index, std::size_t fewest)
        : file_(file), targets_(targets), starts_(starts), map_(map), index_(index), fewest_(fewest) {
        format_.bits = bits;
        format_.split = PointerFormat::Split{};
    }

    void run(std::vector<FoundTable>& found) {
        for (std::uint64_t low = 0; low + fewest_ <= file_.size(); ++low) {
            const auto context = map_.context(low, format_);
            if (!context) continue;
            const auto& rests = restsOf(*context);
            const auto& first = rests[byte(low)];
            const auto& second = rests[byte(low + 1)];
            const auto& third = rests[byte(low + 2)];
            if (first.empty() || second.empty() || third.empty()) continue;
            for (std::uint32_t a : first)
                for (std::uint32_t b : second)
                    for (std::uint32_t c : third) tryArrays(low, a, b, c, found);
        }
    }

private:
    std::uint8_t byte(std::uint64_t at) const { return static_cast<std::uint8_t>(file_[at]); }

    // By low byte, the rest of each value that leads to a start from this context.
    const std::vector<std::vector<std::uint32_t>>& restsOf(std::uint64_t context) {
        auto [known, added] = rests_.try_emplace(context, 256);
        if (!added) return known->second;
        for (const std::uint64_t start : starts_)
            for (const std::uint64_t was : kWindows) {
                const auto value = map_.valueOf(start, context, was, format_);
                if (!value) continue;
                auto& list = known->second[*value & 0xFF];
                const auto rest = static_cast<std::uint32_t>(*value >> 8);
                if (std::find(list.begin(), list.end(), rest) == list.end()) list.push_back(rest);
            }
        return known->second;
    }

    void tryArrays(std::uint64_t low, std::uint32_t a, std::uint32_t b, std::uint32_t c, std::vector<FoundTable>& found) {
        const auto highs = index_.with((a & 0xFF) << 16 | (b & 0xFF) << 8 | (c & 0xFF));
        for (const std::uint32_t* high = highs.first; high != highs.second; ++high) {
            if (*high == low) continue;
            if (format_.bits == 16) {
                follow(low, *high, std::nullopt, found);
                continue;
            }
            const auto banks = index_.with((a >> 8 & 0xFF) << 16 | (b >> 8 & 0xFF) << 8 | (c >> 8 & 0xFF));
            for (const std::uint32_t* bank = banks.first; bank != banks.second; ++bank)
                if (*bank != low && *bank != *high) follow(low, *high, *bank, found);
        }
    }

    // The pointer whose bytes stand at these places, where it leads.
    FoundPointer pointerAt(std::uint64_t low, std::uint64_t high, std::optional<std::uint64_t> bank) const {
        std::uint8_t bytes[3] = {byte(low), byte(high), bank ? byte(*bank) : std::uint8_t{0}};
        PointerFormat format = format_;
        format.split = PointerFormat::Split{high, bank};
        FoundPointer pointer{low, valueOfBytes(bytes, format), std::nullopt, Landing::Nowhere};
        pointer.target = map_.offsetOf(pointer.value, pointer.offset, format);
        pointer.landing = pointer.target ? targets_.landing(*pointer.target) : Landing::Nowhere;
        return pointer;
    }

    // The table through the three pointers found, back to its first pointer
    // and on to its last, which may lead into strings rather than to starts.
    void follow(std::uint64_t low, std::uint64_t high, std::optional<std::uint64_t> bank, std::vector<FoundTable>& found) {
        while (std::min({low, high, bank.value_or(low)}) > 0 &&
               pointerAt(low - 1, high - 1, bank ? std::optional(*bank - 1) : std::nullopt).landing != Landing::Nowhere)
            --low, --high, bank = bank ? std::optional(*bank - 1) : std::nullopt;
        FoundTable table;
        table.table.offset = low;
        table.table.stride = 1;
        table.table.map = map_;
        table.table.format = format_;
        table.table.format.split = PointerFormat::Split{high, bank};
        // A table's arrays don't overlap: each ends where another starts.
        std::uint64_t limit = file_.size() - std::max({low, high, bank.value_or(0)});
        for (const std::uint64_t from : {low, high, bank.value_or(low)})
            for (const std::uint64_t to : {low, high, bank.value_or(low)})
                if (to > from) limit = std::min(limit, to - from);
        for (std::uint64_t index = 0; index < limit; ++index) {
            const FoundPointer pointer = pointerAt(low + index, high + index, bank ? std::optional(*bank + index) : std::nullopt);
            if (pointer.landing == Landing::Nowhere) break;
            (pointer.landing == Landing::Start ? table.starts : table.inside) += 1;
            table.pointers.push_back(pointer);
        }
        table.table.count = table.pointers.size();
        // Three pointers of a split table are sought, so they lead to
        // strings by design: it counts from two more.
        if (table.table.count >= fewest_ + kSought - 1) found.push_back(std::move(table));
    }

    const std::string& file_;
    const StringTargets& targets_;
    const std::vector<std::uint64_t>& starts_;
    const AddressMap& map_;
    const TripleIndex& index_;
    std::size_t fewest_;
    PointerFormat format_;
    std::map<std::uint64_t, std::vector<std::vector<std::uint32_t>>> rests_;
};

}  // namespace

std::vector<std::uint64_t> PointerTable::byteOffsets(std::uint64_t index) const {
    std::vector<std::uint64_t> offsets;
    if (!format.split) {
        for (std::uint64_t k = 0; k < format.bytes(); ++k) offsets.push_back(at(index) + k);
        return offsets;
    }
    offsets = {at(index), format.split->high + index * stride};
    if (format.split->bank) offsets.push_back(*format.split->bank + index * stride);
    return offsets;
}

void StringTargets::add(std::uint64_t start, std::uint64_t end) {
    strings_.emplace_back(start, end);
    const std::uint64_t last = (end - 1) / kTouchedBlock;
    if (touched_.size() <= last / 64) touched_.resize(last / 64 + 1);
    for (std::uint64_t block = start / kTouchedBlock; block <= last; ++block) touched_[block / 64] |= std::uint64_t{1} << (block % 64);
}

Landing StringTargets::landing(std::uint64_t offset) const {
    const std::uint64_t block = offset / kTouchedBlock;
    if (block / 64 >= touched_.size() || !(touched_[block / 64] >> (block % 64) & 1)) return Landing::Nowhere;
    auto after = std::upper_bound(strings_.begin(), strings_.end(), offset,
                                  [](std::uint64_t at, const auto& string) { return at < string.first; });
    if (after == strings_.begin()) return Landing::Nowhere;
    --after;
    if (after->first == offset) return Landing::Start;
    return offset < after->second ? Landing::Inside : Landing::Nowhere;
}

void StringTargets::markLandings(std::uint64_t from, std::size_t count, std::uint64_t* bits, std::uint64_t firstBit) const {
    const std::uint64_t to = from + count;
    auto string = std::upper_bound(strings_.begin(), strings_.end(), from,
                                   [](std::uint64_t at, const auto& one) { return at < one.first; });
    if (string != strings_.begin() && std::prev(string)->second > from) --string;
    for (; string != strings_.end() && string->first < to; ++string)
        for (std::uint64_t at = std::max(string->first, from); at < std::min(string->second, to); ++at) {
            const std::uint64_t bit = firstBit + (at - from);
            bits[bit / 64] |= std::uint64_t{1} << (bit % 64);
        }
}

std::vector<std::uint64_t> StringTargets::starts() const {
    std::vector<std::uint64_t> starts;
    for (const auto& string : strings_) starts.push_back(string.first);
    return starts;
}

std::size_t StringTargets::startsBetween(std::uint64_t from, std::uint64_t to) const {
    const auto byStart = [](const auto& string, std::uint64_t at) { return string.first < at; };
    return static_cast<std::size_t>(std::lower_bound(strings_.begin(), strings_.end(), to, byStart) -
                                    std::lower_bound(strings_.begin(), strings_.end(), from, byStart));
}

namespace {

// A pointer's value from its bytes, in the loop that tries every offset:
// the same as valueOfBytes for a table that is not split.
std::uint64_t valueAt(const std::uint8_t* bytes, int bits, bool bigEndian) {
    std::uint64_t value = 0;
    for (int k = 0; k < bits / 8; ++k) value |= std::uint64_t{bytes[k]} << (bigEndian ? bits - 8 - 8 * k : 8 * k);
    return value;
}

// Every value at `places` offsets from `bytes`, mapped one by one.
void mapValues(const std::uint8_t* bytes, std::uint64_t origin, std::size_t places, const Combination& combination,
               const StringTargets& targets, LandingPlaces& landed) {
    const PointerFormat& format = combination.format;
    const auto [lowest, highest] = combination.map->valueRange(format);
    for (std::size_t at = 0; at < places; ++at) {
        const std::uint64_t value = valueAt(bytes + at, format.bits, format.bigEndian);
        if (value < lowest || value > highest) continue;
        const std::uint64_t offset = origin + at;
        const auto target = combination.map->offsetOf(value, offset, format);
        if (target && targets.landing(*target) != Landing::Nowhere) landed.emplace_back(offset, value);
    }
}

// How the values of 64 places are looked up: one by one, in 256-bit
// gathers, or past the groups with no landing value in 512-bit permutes.
enum class Lookup { OneByOne, Gathered, Grouped };

Lookup lookupFor(VectorWidth width) {
    if (width == VectorWidth::Best && byteLookups512Available()) return Lookup::Grouped;
    return usableWidth(width) == VectorWidth::Bits256 ? Lookup::Gathered : Lookup::OneByOne;
}

// Where every 16-bit value leads from one context, drawn up from the
// strings the context reaches: a short pointer of a map that leads by its
// bank is then one lookup, and the table is drawn up again only when the
// scan reaches another bank.
class ValueLandings {
public:
    static bool serve(const Combination& combination) {
        return combination.format.bits == 16 && combination.map->kind() != MapKind::Relative;
    }
    ValueLandings(const Combination& combination, const StringTargets& targets, Lookup lookup)
        : combination_(combination), targets_(targets), lookup_(lookup) {}

    const Combination& combination() const { return combination_; }
    Lookup lookup() const { return lookup_; }
    // The table of the values from `context`.
    const ValueLandings& from(std::uint64_t context) {
        if (context_ != context) drawUp(context);
        return *this;
    }
    // One bit for each value that lands.
    const std::uint64_t* lands() const { return lands_.data(); }
    // For the grouped lookup, bit k of byte h is set when any value from
    // h * 256 + k * 32 on, for 32 values, lands.
    const std::uint8_t* groups() const { return groups_.data(); }

private:
    // Values that a map leads by in runs of offsets: within one, the
    // landings are copied from the strings rather than mapped value by value.
    static constexpr std::uint64_t kStretch = 0x1000;

    // A stretch that leads where it led from the last context, as bank 0
    // does from every bank of a Game Boy ROM, keeps its bits.
    void drawUp(std::uint64_t context) {
        context_ = context;
        const AddressMap& map = *combination_.map;
        const PointerFormat& format = combination_.format;
        const auto [lowest, highest] = map.valueRange(format);
        for (std::uint64_t first = lowest / kStretch * kStretch; first <= std::min<std::uint64_t>(highest, 0xFFFF);
             first += kStretch) {
            const auto from = map.offsetOf(first, context, format), to = map.offsetOf(first + kStretch - 1, context, format);
            const bool inOrder = from && to && *to - *from == kStretch - 1;
            std::optional<std::uint64_t>& drawn = drawnFrom_[first / kStretch];
            if (inOrder && drawn == from) continue;
            drawn = inOrder ? from : std::nullopt;
            std::fill_n(lands_.begin() + static_cast<std::ptrdiff_t>(first / 64), kStretch / 64, std::uint64_t{0});
            if (inOrder)
                targets_.markLandings(*from, kStretch, lands_.data(), first);
            else
                for (std::uint64_t value = first; value < first + kStretch; ++value) {
                    const auto target = map.offsetOf(value, context, format);
                    if (target && targets_.landing(*target) != Landing::Nowhere) lands_[value / 64] |= std::uint64_t{1} << (value % 64);
                }
            if (lookup_ == Lookup::Grouped) drawGroups(first);
        }
    }

    void drawGroups(std::uint64_t first) {
        for (std::uint64_t high = first / 256; high < (first + kStretch) / 256; ++high) {
            unsigned bits = 0;
            for (unsigned group = 0; group < 8; ++group)
                bits |= unsigned{static_cast<std::uint32_t>(lands_[high * 4 + group / 2] >> (32 * (group % 2))) != 0} << group;
            groups_[high] = static_cast<std::uint8_t>(bits);
        }
    }

    const Combination& combination_;
    const StringTargets& targets_;
    Lookup lookup_;
    // Small enough for the first level of cache.
    std::vector<std::uint64_t> lands_ = std::vector<std::uint64_t>(std::size_t{1} << 10);
    std::vector<std::uint8_t> groups_ = std::vector<std::uint8_t>(256);
    std::optional<std::uint64_t> context_;
    // Where each stretch's values led when it was drawn, if in order.
    std::array<std::optional<std::uint64_t>, 0x10000 / kStretch> drawnFrom_;
};

template <bool bigEndian>
unsigned valueAt(const std::uint8_t* at) {
    return bigEndian ? at[0] << 8 | at[1] : at[0] | at[1] << 8;
}

// Bit k set where the value at `at + k` lands, for `count` places, each from
// its own lookup, with no chain from one place to the next.
template <bool bigEndian>
std::uint64_t landingBits(const std::uint8_t* at, std::size_t count, const std::uint64_t* lands) {
    std::uint64_t landing = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const unsigned value = valueAt<bigEndian>(at + k);
        landing |= (lands[value / 64] >> (value % 64) & 1) << k;
    }
    return landing;
}

// Each lookup fills the bits of `blocks` blocks of 64 places. A batch of
// blocks per call keeps the vector loops free of the calls between them.
constexpr std::size_t kBatch = 64;

template <bool bigEndian>
void landingBlocks(const std::uint8_t* at, std::size_t blocks, const std::uint64_t* lands, std::uint64_t* landing) {
    for (std::size_t block = 0; block < blocks; ++block) landing[block] = landingBits<bigEndian>(at + 64 * block, 64, lands);
}

#ifdef GLYPHOUND_X86_VECTORS
// The same, eight lookups at a time. The table's words are read as 32-bit
// halves, low half first, as x86 lays them out. Reads one byte past the
// last place.
template <bool bigEndian>
__attribute__((target("avx2"))) void landingBlocks256(const std::uint8_t* at, std::size_t blocks,
                                                      const std::uint64_t* lands, std::uint64_t* landing) {
    const auto* words = reinterpret_cast<const int*>(lands);
    for (std::size_t block = 0; block < blocks; ++block, at += 64) {
        prefetchAhead(at);
        landing[block] = 0;
        for (int part = 0; part < 8; ++part) {
            const __m256i first = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(at + 8 * part)));
            const __m256i second =
                _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(at + 8 * part + 1)));
            const __m256i value = bigEndian ? _mm256_or_si256(_mm256_slli_epi32(first, 8), second)
                                            : _mm256_or_si256(first, _mm256_slli_epi32(second, 8));
            const __m256i word = _mm256_i32gather_epi32(words, _mm256_srli_epi32(value, 5), 4);
            const __m256i bit = _mm256_srlv_epi32(word, _mm256_and_si256(value, _mm256_set1_epi32(31)));
            const auto lanes = static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_slli_epi32(bit, 31))));
            landing[block] |= std::uint64_t{lanes} << (8 * part);
        }
    }
}

// The same, with the places whose value's group of 32 holds no landing
// value passed 64 at a time: random bytes, and most of a game's, point near
// no string. The few places left are listed without a branch, and then
// looked up in one loop, whose end is the one branch it mispredicts. Reads
// one byte past the last place.
template <bool bigEndian>
__attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vbmi2,popcnt"))) void landingBlocks512(
    const std::uint8_t* at, std::size_t blocks, const std::uint64_t* lands, const std::uint8_t* groups,
    std::uint64_t* landing) {
    const __m512i groups0 = _mm512_loadu_si512(groups), groups1 = _mm512_loadu_si512(groups + 64);
    const __m512i groups2 = _mm512_loadu_si512(groups + 128), groups3 = _mm512_loadu_si512(groups + 192);
    // 1, 2, 4 ... 128: the bit of a group in its byte.
    const __m512i bits = _mm512_set1_epi64(static_cast<long long>(0x8040201008040201));
    const __m512i places = _mm512_set_epi16(31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15, 14, 13,
                                            12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
    // The places near a landing value, from the batch's start; room for a
    // whole vector's store past the last.
    std::uint16_t near[64 * kBatch + 32];
    std::size_t count = 0;
    for (std::size_t block = 0; block < blocks; ++block) {
        const std::uint8_t* bytes = at + 64 * block;
        prefetchAhead(bytes);
        const __m512i first = _mm512_loadu_si512(bytes), second = _mm512_loadu_si512(bytes + 1);
        const __m512i high = bigEndian ? first : second, low = bigEndian ? second : first;
        // Byte h of the groups, from two permutes of 128 bytes each, chosen by h's top bit.
        const __m512i group = _mm512_mask_blend_epi8(_mm512_movepi8_mask(high),
                                                     _mm512_permutex2var_epi8(groups0, high, groups1),
                                                     _mm512_permutex2var_epi8(groups2, high, groups3));
        const __m512i bit = _mm512_shuffle_epi8(bits, _mm512_and_si512(_mm512_srli_epi16(low, 5), _mm512_set1_epi8(7)));
        const std::uint64_t found = _mm512_test_epi8_mask(group, bit);
        const __m512i from = _mm512_add_epi16(places, _mm512_set1_epi16(static_cast<short>(64 * block)));
        for (const unsigned half : {0u, 1u}) {
            const auto mask = static_cast<__mmask32>(found >> (32 * half));
            _mm512_storeu_si512(near + count, _mm512_maskz_compress_epi16(
                                                  mask, _mm512_add_epi16(from, _mm512_set1_epi16(static_cast<short>(32 * half)))));
            count += static_cast<std::size_t>(__builtin_popcount(mask));
        }
        landing[block] = 0;
    }
    for (std::size_t k = 0; k < count; ++k) {
        const unsigned place = near[k], value = valueAt<bigEndian>(at + place);
        landing[place / 64] |= (lands[value / 64] >> (value % 64) & 1) << (place % 64);
    }
}
#endif
// The places in a stretch whose values land, 64 at a time; the few that do
// are then listed.
template <bool bigEndian>
void lookUpStretch(const std::uint8_t* bytes, std::uint64_t origin, std::size_t places, const ValueLandings& table,
                   LandingPlaces& landed) {
    std::uint64_t landing[kBatch];
    for (std::size_t batch = 0; batch < places; batch += 64 * kBatch) {
        const std::uint8_t* at = bytes + batch;
        const std::size_t count = std::min(places - batch, 64 * kBatch), blocks = count / 64;
#ifdef GLYPHOUND_X86_VECTORS
        if (table.lookup() == Lookup::Grouped)
            landingBlocks512<bigEndian>(at, blocks, table.lands(), table.groups(), landing);
        else if (table.lookup() == Lookup::Gathered)
            landingBlocks256<bigEndian>(at, blocks, table.lands(), landing);
        else
#endif
            landingBlocks<bigEndian>(at, blocks, table.lands(), landing);
        if (count % 64 != 0) landing[blocks] = landingBits<bigEndian>(at + 64 * blocks, count % 64, table.lands());
        for (std::size_t block = 0; block * 64 < count; ++block)
            for (std::uint64_t bits = landing[block]; bits != 0; bits &= bits - 1) {
                const std::size_t place = 64 * block + static_cast<std::size_t>(__builtin_ctzll(bits));
                landed.emplace_back(origin + batch + place, valueAt<bigEndian>(at + place));
            }
    }
}

// Every value at `places` offsets from `bytes`, looked up in the table of
// each stretch of places that shares a context.
void lookUpValues(const std::uint8_t* bytes, std::uint64_t origin, std::size_t places, ValueLandings& table,
                  LandingPlaces& landed) {
    const Combination& combination = table.combination();
    const auto contextAt = [&](std::size_t at) { return combination.map->context(origin + at, combination.format); };
    for (std::size_t at = 0; at < places;) {
        const auto context = contextAt(at);
        // Places of one context lie together: the stretch ends where the
        // context first changes.
        std::size_t end = places;
        if (contextAt(places - 1) != context)
            for (std::size_t low = at + 1; low < end;) {
                const std::size_t middle = low + (end - low) / 2;
                if (contextAt(middle) == context)
                    low = middle + 1;
                else
                    end = middle;
            }
        if (context) {
            (combination.format.bigEndian ? lookUpStretch<true> : lookUpStretch<false>)(
                bytes + at, origin + at, end - at, table.from(*context), landed);
        }
        at = end;
    }
}

}  // namespace

struct PointerPass::Runner {
    Runner(const StringTargets& targets, const PointerSearch& search, std::vector<FoundTable>& found,
           std::uint64_t* leftOut)
        : targets(targets), search(search), combinations(combinationsOf(search)), kept(found, search.mostTables, leftOut) {
        for (const Combination& combination : combinations) runs.emplace_back(combination, search, targets, kept);
    }
    const StringTargets& targets;
    const PointerSearch& search;
    const std::vector<Combination> combinations;
    KeptTables kept;
    std::vector<Runs> runs;
};

PointerPass::PointerPass(const StringTargets& targets, const PointerSearch& search, std::vector<FoundTable>& found,
                         std::uint64_t* leftOut)
    : runner_(std::make_unique<Runner>(targets, search, found, leftOut)) {}

PointerPass::~PointerPass() = default;

// The places a scan lists before it hands them over.
constexpr std::size_t kPlacesBlock = 1 << 14;

bool PointerPass::scan(ByteSource& source, const Part& part,
                       const std::function<void(const std::vector<LandingPlaces>&)>& onPlaces) const {
    const std::vector<Combination>& combinations = runner_->combinations;
    const StringTargets& targets = runner_->targets;
    std::vector<std::optional<ValueLandings>> tables(combinations.size());
    const Lookup lookup = lookupFor(runner_->search.vectors);
    for (std::size_t k = 0; k < combinations.size(); ++k)
        if (runner_->search.valueTables && ValueLandings::serve(combinations[k])) tables[k].emplace(combinations[k], targets, lookup);
    std::vector<LandingPlaces> landed(combinations.size());
    std::size_t listed = 0;
    if (part.start > 0 && !source.skip(part.start)) return false;
    SlidingWindow window(source, 0, 4, part.start);
    while (window.offset() < part.end && window.fill()) {
        const std::size_t ahead = window.ahead();
        const auto whole = static_cast<std::size_t>(
            std::min<std::uint64_t>(window.ended() ? ahead : ahead - 3, part.end - window.offset()));
        for (std::size_t k = 0; k < combinations.size(); ++k) {
            const std::size_t places = std::min(whole, ahead + 1 - std::min(ahead + 1, combinations[k].format.bytes()));
            const std::size_t before = landed[k].size();
            if (tables[k])
                lookUpValues(window.position(), window.offset(), places, *tables[k], landed[k]);
            else
                mapValues(window.position(), window.offset(), places, combinations[k], targets, landed[k]);
            listed += landed[k].size() - before;
        }
        window.advance(whole);
        if (listed < kPlacesBlock) continue;
        onPlaces(landed);
        for (LandingPlaces& places : landed) places.clear();
        listed = 0;
    }
    if (listed > 0) onPlaces(landed);
    return !window.failed();
}

void PointerPass::take(const std::vector<LandingPlaces>& places) {
    for (std::size_t k = 0; k < places.size(); ++k)
        for (const auto& [offset, value] : places[k]) runner_->runs[k].offer(offset, value);
}

void PointerPass::finish() {
    for (Runs& run : runner_->runs) run.finishAll();
}

bool findPointerTables(ByteSource& source, const StringTargets& targets, const PointerSearch& search,
                       std::vector<FoundTable>& found, std::uint64_t* leftOut) {
    PointerPass pass(targets, search, found, leftOut);
    const bool read = pass.scan(source, Part{}, [&](const std::vector<LandingPlaces>& places) { pass.take(places); });
    pass.finish();
    return read;
}

std::vector<FoundTable> findSplitTables(const std::string& file, const StringTargets& targets,
                                        const PointerSearch& search) {
    std::vector<FoundTable> found;
    if (file.size() > kSplitTableFiles || search.fewest < 3 || search.bigEndian.value_or(false)) return found;
    const std::vector<std::uint64_t> starts = targets.starts();
    const TripleIndex index(file);
    for (const AddressMap& map : search.maps) {
        if (map.kind() == MapKind::Relative || map.kind() == MapKind::Linear) continue;
        for (const int bits : map.widths())
            if (!search.bits || *search.bits == bits) SplitSearch(file, targets, starts, map, bits, index, search.fewest).run(found);
    }
    return found;
}

std::uint64_t rankTables(std::vector<FoundTable>& tables, std::size_t most) {
    std::stable_sort(tables.begin(), tables.end(), better);
    std::vector<FoundTable> kept;
    for (FoundTable& table : tables)
        if (std::none_of(kept.begin(), kept.end(), [&](const FoundTable& best) { return holds(best.table, table.table); }))
            kept.push_back(std::move(table));
    tables = std::move(kept);
    std::uint64_t leftOut = 0;
    keepBest(tables, most, &leftOut);
    return leftOut;
}

namespace {

// Random values land on a start about as often as the values that lead to
// starts are among all values, estimated at places spread over the file.
double chanceOfLanding(const Combination& combination, const std::vector<std::uint64_t>& starts, std::uint64_t size) {
    constexpr std::uint64_t kPlaces = 32, kStarts = 2000;
    const std::uint64_t every = std::max<std::uint64_t>(1, starts.size() / kStarts);
    double values = 0;
    for (std::uint64_t place = 0; place < kPlaces; ++place) {
        const std::uint64_t at = size * place / kPlaces;
        std::vector<std::uint64_t> leading;
        for (std::size_t start = 0; start < starts.size(); start += every)
            for (const std::uint64_t was : kWindows)
                if (const auto value = combination.map->valueOf(starts[start], at, was, combination.format)) leading.push_back(*value);
        std::sort(leading.begin(), leading.end());
        values += static_cast<double>(std::unique(leading.begin(), leading.end()) - leading.begin()) * static_cast<double>(every);
    }
    const double range = static_cast<double>(std::uint64_t{1} << combination.format.bits);
    return values / kPlaces / range * static_cast<double>(size);
}

}  // namespace

std::vector<MappingEvidence> rankMappings(const std::vector<FoundTable>& found, const PointerSearch& search,
                                          const StringTargets& targets, std::uint64_t size) {
    std::vector<MappingEvidence> evidence;
    const std::vector<std::uint64_t> starts = targets.starts();
    for (const AddressMap& map : search.maps) {
        MappingEvidence mapping{map.name(), 0, 0, 0, 0};
        for (const FoundTable& table : found)
            if (table.table.map.name() == mapping.map) {
                ++mapping.tables;
                mapping.starts += table.starts;
                mapping.best = std::max(mapping.best, table.starts);
            }
        if (mapping.tables == 0) continue;
        PointerSearch alone = search;
        alone.maps = {map};
        for (const Combination& combination : combinationsOf(alone)) mapping.chance += chanceOfLanding(combination, starts, size);
        evidence.push_back(mapping);
    }
    // A mapping is as good as its best table: chance makes many small ones.
    std::stable_sort(evidence.begin(), evidence.end(), [](const MappingEvidence& a, const MappingEvidence& b) {
        return a.best != b.best ? a.best > b.best : a.starts > b.starts;
    });
    return evidence;
}

std::optional<std::vector<FoundPointer>> readTable(const std::string& file, const PointerTable& table,
                                                   const StringTargets* targets) {
    std::vector<FoundPointer> pointers;
    for (std::uint64_t index = 0; index < table.count; ++index) {
        std::uint8_t bytes[4];
        const std::vector<std::uint64_t> offsets = table.byteOffsets(index);
        for (std::size_t k = 0; k < offsets.size(); ++k) {
            if (offsets[k] >= file.size()) return std::nullopt;
            bytes[k] = static_cast<std::uint8_t>(file[offsets[k]]);
        }
        FoundPointer pointer;
        pointer.offset = table.at(index);
        pointer.value = valueOfBytes(bytes, table.format);
        pointer.target = table.map.offsetOf(pointer.value, pointer.offset, table.format);
        if (targets && pointer.target) pointer.landing = targets->landing(*pointer.target);
        pointers.push_back(pointer);
    }
    return pointers;
}

PointerSearch pointerSearchOf(const std::string& map, const std::optional<std::string>& bits,
                              const std::optional<std::string>& endian, const std::optional<std::string>& fewest,
                              std::uint64_t size, const std::string& header) {
    PointerSearch search;
    if (map == "auto")
        search.maps = AddressMap::all(size, header);
    else
        search.maps.push_back(mapOf(map, size, header));
    const PointerFormat format = pointerFormatOf(bits, endian, std::nullopt);
    if (bits) search.bits = format.bits;
    if (endian) search.bigEndian = format.bigEndian;
    if (fewest) {
        const std::int64_t most = parseNumber(*fewest, "--min");
        if (most < 2 || most > 1000) throw Refusal(texts::pointers::kBadFewest);
        search.fewest = static_cast<std::size_t>(most);
    }
    return search;
}

}  // namespace glyphound
