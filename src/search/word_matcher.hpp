#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "io/sliding_window.hpp"
#include "platform/system.hpp"
#include "search/alphabet.hpp"
#include "search/vectors.hpp"

namespace glyphound {

// How the file stores a character: one byte, or one 16-bit unit in either
// byte order. Units start at any byte offset.
enum class Width { Byte, Little16, Big16 };
inline std::size_t bytesPerUnit(Width width) { return width == Width::Byte ? 1 : 2; }
inline std::uint32_t unitMask(Width width) { return width == Width::Byte ? 0xFF : 0xFFFF; }
inline std::uint32_t unitAt(const std::uint8_t* bytes, Width width) {
    if (width == Width::Byte) return bytes[0];
    return width == Width::Little16 ? bytes[0] | bytes[1] << 8 : bytes[0] << 8 | bytes[1];
}

enum class CaseMode {
    Split,  // each class at its own place; other characters match any unit
    Ascii   // every character at its ASCII distance from every other
};

// What a match asks of the units: the distances of the characters' codes
// (relative); only their order within each class, with up to `gaps` glyphs
// more or fewer between any two (order); or only which are equal (pattern).
enum class MatchMode { Relative, Order, Pattern };

struct PatternOptions {
    CaseMode mode = CaseMode::Split;
    char32_t wildcard = '?';
    Width width = Width::Byte;
    MatchMode match = MatchMode::Relative;
    int gaps = 2;
};

// For each order of the alphabet, the unit that stands for its first
// character; -1 when the word has none of the order.
using ClassValues = std::vector<std::int32_t>;

struct Hit;

// One word, compiled into the unit relations that a match must satisfy,
// all modulo the unit's range.
class Pattern {
public:
    static constexpr std::size_t kMaxLength = 255;
    static constexpr int kMinRelations = 2;
    // Any run of distinct units fits a word of distinct characters, so a
    // pattern needs repeats to mean anything.
    static constexpr std::size_t kMinRepeats = 3, kMinPatternLength = 6;

    // Empty, with `failure` set, when the word can't be searched for.
    static std::optional<Pattern> compile(std::string_view word, PatternOptions options,
                                          std::shared_ptr<const Alphabet> alphabet, std::string& failure);

    const std::string& word() const { return word_; }
    Width width() const { return width_; }
    MatchMode match() const { return match_; }
    // In bytes.
    std::size_t length() const { return characters_.size() * bytesPerUnit(width_); }
    ClassValues valuesAt(const std::uint8_t* bytes) const;
    // In the order and pattern modes, hits report the unit of each of these
    // characters, in the word's order: the ones a match ties down.
    const std::u32string& shownCharacters() const { return shown_; }
    std::vector<std::uint32_t> unitsAt(const std::uint8_t* bytes) const;
    // Whether the units that must differ, do.
    bool distinctAt(const std::uint8_t* bytes) const;
    // The hit's surroundings as UTF-8 text: the characters its match proves,
    // and '.' for every other unit.
    std::string preview(const Hit& hit) const;

    // One relation, at byte offsets: unit(position) - unit(base) lies in
    // [difference, difference + span], modulo the unit's range; a span of 0
    // asks for the difference itself.
    struct Relation {
        std::uint16_t position, base;
        std::uint32_t difference;
        std::uint32_t span = 0;
    };
    // The narrowest, then the shortest first: for a word without an anchor,
    // the first two are tested at every offset to rule most of them out; with
    // random data, one in 2^16 offsets passes two exact ones in 8-bit mode.
    const std::vector<Relation>& relations() const { return relations_; }

    // Three units in a row, each related to the one before: where the first
    // lies, in bytes, and the two differences. Many words can be searched for
    // together by such anchors. Of all the word's rows, the one with the
    // fewest zero low bytes, as a padding run of one repeated byte has
    // nothing but those.
    struct Anchor {
        std::size_t offset;
        std::uint32_t first, second;
    };
    const std::optional<Anchor>& anchor() const { return anchor_; }

private:
    Pattern() = default;
    bool relateCharacters(const PatternOptions& options, std::string& failure);
    bool relateRepeats(const PatternOptions& options, std::string& failure);
    void relateByOrder(const PatternOptions& options);
    void chooseAnchor();
    std::string decodeUnit(std::uint32_t unit, const ClassValues& values, std::uint32_t shift) const;

    std::string word_;
    std::u32string characters_;
    CaseMode mode_ = CaseMode::Split;
    Width width_ = Width::Byte;
    std::shared_ptr<const Alphabet> alphabet_;
    MatchMode match_ = MatchMode::Relative;
    std::vector<Relation> relations_;  // the narrowest, then the one with the shortest span first
    std::u32string shown_;
    std::vector<std::size_t> shownAt_, distinct_;  // unit positions
    // Per order: the first unit position of its characters (-1 for none), and
    // that character's index in the order.
    std::vector<std::pair<int, int>> firstOfOrder_;
    int firstRelated_ = 0;  // a position whose unit fixes the shift in ASCII mode
    std::optional<Anchor> anchor_;
};

struct Hit {
    std::uint64_t offset = 0;
    std::size_t pattern = 0;  // index into the patterns searched for
    ClassValues values;
    std::vector<std::uint32_t> units;  // of the pattern's shown characters
    // Up to kContextUnits units on each side of the hit, and the hit itself.
    const std::uint8_t* context = nullptr;
    std::size_t contextSize = 0, hitStart = 0;  // in bytes
};

constexpr std::size_t kContextUnits = 16;

using HitHandler = std::function<void(const Hit&)>;

// Reads `source` once, for every pattern (all of one width) at every offset
// of the part: hits come in offset order, then pattern order. A part reads
// the context before it and the words that start in it to their end. False
// after a read error.
bool findPatterns(ByteSource& source, const std::vector<Pattern>& patterns, const HitHandler& onHit,
                  VectorWidth width = VectorWidth::Best, const Part& part = {});

}  // namespace glyphound
