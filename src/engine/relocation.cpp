#include "engine/relocation.hpp"

#include <algorithm>
#include <map>
#include <tuple>

#include "dialogue/texts.hpp"
#include "engine/refusal.hpp"
#include "engine/values.hpp"

namespace glyphound {
namespace {

namespace text = texts::relocation;

std::string rangeText(std::uint64_t start, std::uint64_t end) { return offsetText(start) + "-" + offsetText(end); }

// A stretch of space a moved string may take, within one context of the
// map, so that whether a pointer reaches it is the same all through.
struct Block {
    std::uint64_t start = 0, used = 0, end = 0;
    std::size_t range = 0;  // which free range, or past them: a room left
};

struct Move {
    const ScriptInsertion::Prepared* prepared;
    std::string bytes;
    std::uint64_t room;
};

class Relocator {
public:
    Relocator(std::string& file, const ScriptInsertion& strings, const Table& table, const Insertion& insertion,
              const Relocation& relocation)
        : file_(file), strings_(strings), table_(table), insertion_(insertion), relocation_(relocation) {}

    Relocated run() {
        checkFreeSpace();
        placeEachString();
        if (!result_.problems.empty()) return result_;
        makeBlocks();
        placeMoves();
        if (result_.problems.empty()) apply();
        return result_;
    }

private:
    const std::uint8_t* bytes() const { return reinterpret_cast<const std::uint8_t*>(file_.data()); }
    void problem(const std::string& where, const std::string& what) { result_.problems.push_back(where + what); }

    void checkFreeSpace() {
        std::vector<FreeRange> free = relocation_.free;
        std::sort(free.begin(), free.end(), [](const FreeRange& a, const FreeRange& b) { return a.start < b.start; });
        for (std::size_t k = 0; k < free.size(); ++k) {
            const FreeRange& range = free[k];
            const std::string where = rangeText(range.start, range.end);
            if (k > 0 && free[k - 1].end > range.start) problem(where, text::kFreeOverlap);
            if (range.end > file_.size()) {
                problem(where, text::kFreePastTheEnd);
                continue;
            }
            const auto other = std::find_if(file_.begin() + static_cast<std::ptrdiff_t>(range.start),
                                            file_.begin() + static_cast<std::ptrdiff_t>(range.end),
                                            [&](char byte) { return static_cast<std::uint8_t>(byte) != relocation_.freeFill; });
            if (other != file_.begin() + static_cast<std::ptrdiff_t>(range.end))
                problem(where, text::kFreeNotFill + hexDigits(relocation_.freeFill) + text::kFreeNotFillAt +
                                   offsetText(static_cast<std::uint64_t>(other - file_.begin())));
        }
    }

    void placeEachString() {
        std::uint64_t previousEnd = 0;
        for (const ScriptInsertion::Prepared& prepared : strings_.strings()) {
            const ScriptString& string = prepared.string;
            if (string.offset >= file_.size()) {
                problem(string.where, texts::script::kPastTheEnd);
                continue;
            }
            const std::uint64_t available = file_.size() - string.offset;
            const std::uint64_t room = string.room.value_or(stringAt(table_, bytes() + string.offset, available).first);
            if (room == 0 || room > available) {
                problem(string.where, room == 0 ? texts::script::kNoString : texts::script::kRoomPastTheEnd);
                continue;
            }
            if (string.offset < previousEnd) problem(string.where, texts::script::kOverlaps);
            previousEnd = string.offset + room;
            for (const FreeRange& range : relocation_.free)
                if (range.start < string.offset + room && string.offset < range.end)
                    problem(string.where, text::kStringInFree + rangeText(range.start, range.end));
            checkPointers(string);
            const Placement placement = placeInRoom(table_, insertion_, prepared, bytes() + string.offset, room);
            if (placement.kind == Placement::Kind::InPlace) writes_.emplace_back(string.offset, placement.bytes);
            if (placement.kind == Placement::Kind::Failed || (placement.kind == Placement::Kind::TooLong && string.pointers.empty()))
                problem(string.where, placement.problem);
            if (placement.kind == Placement::Kind::TooLong && !string.pointers.empty())
                moves_.push_back({&prepared, placement.bytes, room});
            (placement.kind == Placement::Kind::TooLong ? moved_ : kept_) += 1;
        }
    }

    // Every pointer a script names for a string must lead to it now.
    void checkPointers(const ScriptString& string) {
        for (const PointerPlace& place : string.pointers) {
            const auto value = valueAt(file_, place, formatAt(place));
            const auto target = value ? relocation_.map.offsetOf(*value, place.at, formatAt(place)) : std::nullopt;
            if (!value)
                problem(string.where, text::kPointerPastTheEnd + place.text());
            else if (target != string.offset)
                problem(string.where, text::kPointerElsewhere + place.text() + text::kPointerLeadsTo +
                                          (target ? offsetText(*target) : text::kOutside));
        }
    }

    PointerFormat formatAt(const PointerPlace& place) const {
        PointerFormat format = relocation_.format;
        if (place.high) format.split = PointerFormat::Split{*place.high, place.bank};
        return format;
    }

    // The free ranges, then the rooms the moving strings leave, each cut
    // where the map's context changes.
    void makeBlocks() {
        std::vector<std::pair<std::uint64_t, std::uint64_t>> spaces;
        for (const FreeRange& range : relocation_.free) spaces.emplace_back(range.start, range.end);
        for (const Move& move : moves_) spaces.emplace_back(move.prepared->string.offset, move.prepared->string.offset + move.room);
        for (std::size_t space = 0; space < spaces.size(); ++space) {
            auto [start, end] = spaces[space];
            while (start < end) {
                const auto context = relocation_.map.context(start, relocation_.format);
                std::uint64_t cut = start + 1;
                while (cut < end && relocation_.map.context(cut, relocation_.format) == context) ++cut;
                blocks_.push_back({start, start, cut, space});
                start = cut;
            }
        }
        std::stable_sort(blocks_.begin(), blocks_.end(), [](const Block& a, const Block& b) { return a.start < b.start; });
    }

    // Each pointer reaches the whole string, and sees it unbroken: a SNES
    // LoROM bank ends at $FFFF in the processor's view, where the next
    // bank's bytes, which follow in the file, are not.
    bool reaches(const std::vector<const Move*>& group, std::uint64_t at, std::uint64_t size) const {
        for (const Move* move : group)
            for (const PointerPlace& place : move->prepared->string.pointers) {
                const PointerFormat format = formatAt(place);
                const auto was = valueAt(file_, place, format);
                const auto first = relocation_.map.valueOf(at, place.at, *was, format);
                const auto last = relocation_.map.valueOf(at + size - 1, place.at, *was, format);
                if (!first || !last || *last - *first != size - 1) return false;
            }
        return true;
    }

    // The largest first, each at the first place it fits and its pointers
    // reach; one copy of bytes that several strings share.
    void placeMoves() {
        std::map<std::string, std::vector<const Move*>> byBytes;
        for (const Move& move : moves_) byBytes[move.bytes].push_back(&move);
        std::vector<std::pair<std::string, std::vector<const Move*>>> groups(byBytes.begin(), byBytes.end());
        std::stable_sort(groups.begin(), groups.end(), [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
        for (const auto& entry : groups) {
            // Named, not bound: a lambda may not capture a structured binding in C++17.
            const std::string& bytes = entry.first;
            const std::vector<const Move*>& group = entry.second;
            const auto block = std::find_if(blocks_.begin(), blocks_.end(), [&](const Block& space) {
                return space.end - space.used >= bytes.size() && reaches(group, space.used, bytes.size());
            });
            if (block == blocks_.end()) {
                problem(group.front()->prepared->string.where,
                        text::kNoFreeSpace + std::to_string(bytes.size()) + text::kNoFreeSpaceEnd);
                continue;
            }
            placed_.emplace_back(block->used, bytes, group);
            block->used += bytes.size();
        }
    }

    void apply() {
        const std::uint8_t fill = insertion_.fill.value_or(
            insertion_.endToken ? static_cast<std::uint8_t>(insertion_.endToken->key[0]) : relocation_.freeFill);
        for (const Move& move : moves_) file_.replace(move.prepared->string.offset, move.room, move.room, static_cast<char>(fill));
        for (const auto& [at, bytes] : writes_) file_.replace(at, bytes.size(), bytes);
        for (const auto& [at, bytes, group] : placed_) {
            file_.replace(at, bytes.size(), bytes);
            for (const Move* move : group)
                for (const PointerPlace& place : move->prepared->string.pointers) rewrite(place, at);
        }
        report();
    }

    void rewrite(const PointerPlace& place, std::uint64_t target) {
        const PointerFormat format = formatAt(place);
        const std::uint64_t value = *relocation_.map.valueOf(target, place.at, *valueAt(file_, place, format), format);
        const std::string bytes = bytesOfValue(value, format);
        const std::vector<std::uint64_t> offsets = place.byteOffsets(format);
        for (std::size_t k = 0; k < offsets.size(); ++k) file_[offsets[k]] = bytes[k];
    }

    void report() {
        const bool banked = relocation_.map.banked(relocation_.format);
        std::uint64_t movedBytes = 0;
        for (const Move& move : moves_) movedBytes += move.bytes.size();
        result_.report.push_back(text::kKept + std::to_string(kept_) + text::kMoved + std::to_string(moved_) + " (" +
                                 std::to_string(movedBytes) + text::kMovedBytes);
        std::map<std::pair<std::size_t, std::optional<std::uint64_t>>, std::pair<std::uint64_t, std::uint64_t>> used;
        for (const Block& block : blocks_) {
            auto& [taken, left] = used[{block.range, relocation_.map.context(block.start, relocation_.format)}];
            taken += block.used - block.start;
            left += block.end - block.used;
        }
        for (const auto& [where, space] : used) {
            if (where.first >= relocation_.free.size()) continue;
            const FreeRange& range = relocation_.free[where.first];
            result_.report.push_back(text::kFree + rangeText(range.start, range.end) +
                                     (where.second && banked ? text::kInBank + offsetText(*where.second) : "") + ": " +
                                     std::to_string(space.first) + text::kUsed + std::to_string(space.second) + text::kLeft);
        }
    }

    std::string& file_;
    const ScriptInsertion& strings_;
    const Table& table_;
    const Insertion& insertion_;
    const Relocation& relocation_;
    Relocated result_;
    std::vector<std::pair<std::uint64_t, std::string>> writes_;
    std::vector<Move> moves_;
    std::vector<Block> blocks_;
    std::vector<std::tuple<std::uint64_t, std::string, std::vector<const Move*>>> placed_;
    std::size_t kept_ = 0, moved_ = 0;
};

}  // namespace

FreeRange freeRangeOf(const std::string& given) {
    const std::size_t dash = given.find('-');
    if (dash == std::string::npos) throw Refusal(text::kBadFree + given);
    const std::int64_t start = parseNumber(given.substr(0, dash), "--free START");
    const std::int64_t end = parseNumber(given.substr(dash + 1), "--free END");
    if (start < 0 || end <= start) throw Refusal(text::kBadFree + given);
    return {static_cast<std::uint64_t>(start), static_cast<std::uint64_t>(end)};
}

Relocated relocate(std::string& file, const ScriptInsertion& strings, const Table& table, const Insertion& insertion,
                   const Relocation& relocation) {
    std::string copy = file;
    Relocated result = Relocator(copy, strings, table, insertion, relocation).run();
    if (result.problems.empty()) file.swap(copy);
    return result;
}

}  // namespace glyphound
