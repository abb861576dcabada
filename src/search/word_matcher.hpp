#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system.hpp"

namespace glyphound {

// Upper case, lower case and digits: each class keeps its characters'
// distances, and sits wherever the game's font put it.
enum CharacterClass : int { kUpperCase, kLowerCase, kDigits, kClassCount };
constexpr char kClassFirst[kClassCount] = {'A', 'a', '0'};
constexpr int kClassSize[kClassCount] = {26, 26, 10};

enum class CaseMode {
    Split,  // each class at its own place; other characters match any byte
    Ascii   // every character at its ASCII distance from every other
};

struct PatternOptions {
    CaseMode mode = CaseMode::Split;
    char wildcard = '?';
};

// For each class, the byte that stands for its first character; -1 when the
// word has none of the class.
using ClassValues = std::array<int, kClassCount>;

// One word, compiled into the byte relations that a match must satisfy,
// all modulo 256.
class Pattern {
public:
    static constexpr std::size_t kMaxLength = 255;
    static constexpr int kMinRelations = 2;

    // Empty, with `failure` set, when the word can't be searched for.
    static std::optional<Pattern> compile(std::string_view word, PatternOptions options, std::string& failure);

    const std::string& word() const { return word_; }
    std::size_t length() const { return word_.size(); }
    // `bytes` holds at least length() bytes.
    bool matchesAt(const std::uint8_t* bytes) const;
    ClassValues valuesAt(const std::uint8_t* bytes) const;
    // The hit's surroundings as text: the characters its match proves, and
    // '.' for every other byte.
    std::string preview(const struct Hit& hit) const;

    // One relation: bytes[position] - bytes[base] == difference.
    struct Relation {
        std::uint16_t position, base;
        std::uint8_t difference;
    };
    // The relation tested first at every offset, to rule most of them out.
    const Relation& leadingRelation() const { return relations_.front(); }

private:
    Pattern() = default;

    std::string word_;
    CaseMode mode_ = CaseMode::Split;
    std::vector<Relation> relations_;  // the one with the shortest span first
    std::array<int, kClassCount> firstOfClass_{-1, -1, -1};
    int firstRelated_ = 0;  // a position whose byte fixes the shift in ASCII mode
};

// The class of a character, or kClassCount for any other.
int classOf(char character);

struct Hit {
    std::uint64_t offset = 0;
    std::size_t pattern = 0;  // index into the patterns searched for
    ClassValues values{};
    // Up to kContext bytes on each side of the hit, and the hit itself.
    const std::uint8_t* context = nullptr;
    std::size_t contextSize = 0, hitStart = 0;
};

constexpr std::size_t kContext = 16;

using HitHandler = std::function<void(const Hit&)>;
using ProgressHandler = std::function<void(std::uint64_t bytesRead)>;

// Reads `source` to its end once, for every pattern at every offset: hits
// come in offset order, then pattern order. False after a read error.
bool findPatterns(ByteSource& source, const std::vector<Pattern>& patterns, const HitHandler& onHit,
                  const ProgressHandler& onProgress = {});

}  // namespace glyphound
