#include "search/word_matcher.hpp"

#include <algorithm>

namespace glyphound {
namespace {

constexpr std::size_t kReadBlock = 64 * 1024;
// Positions tested before their hits are sorted and handed over; it bounds
// the memory a flood of hits can take.
constexpr std::size_t kStretch = 4096;

std::uint8_t differenceOf(std::uint8_t later, std::uint8_t earlier) {
    return static_cast<std::uint8_t>(later - earlier);
}

}  // namespace

int classOf(char character) {
    if (character >= 'A' && character <= 'Z') return kUpperCase;
    if (character >= 'a' && character <= 'z') return kLowerCase;
    if (character >= '0' && character <= '9') return kDigits;
    return kClassCount;
}

std::optional<Pattern> Pattern::compile(std::string_view word, PatternOptions options, std::string& failure) {
    const std::string quoted = "'" + std::string(word) + "'";
    if (word.size() > kMaxLength) {
        failure = std::string("word ") + quoted + " is longer than " + std::to_string(kMaxLength) + " characters";
        return std::nullopt;
    }
    Pattern pattern;
    pattern.word_ = word;
    pattern.mode_ = options.mode;
    // Each group's characters keep their distances; a relation ties each
    // member to the group's previous one.
    std::array<int, kClassCount + 1> lastInGroup;
    lastInGroup.fill(-1);
    for (std::size_t position = 0; position < word.size(); ++position) {
        const char character = word[position];
        if (static_cast<unsigned char>(character) >= 0x80) {
            failure = std::string("word ") + quoted + " has a character outside ASCII";
            return std::nullopt;
        }
        const int characterClass = classOf(character);
        if (characterClass < kClassCount && pattern.firstOfClass_[characterClass] < 0)
            pattern.firstOfClass_[characterClass] = static_cast<int>(position);
        if (character == options.wildcard) continue;
        const int group = options.mode == CaseMode::Ascii ? 0 : characterClass;
        if (group == kClassCount) continue;
        const int previous = lastInGroup[group];
        if (previous < 0)
            pattern.firstRelated_ = static_cast<int>(position);  // only read in ASCII mode, with one group
        else
            pattern.relations_.push_back({static_cast<std::uint16_t>(position), static_cast<std::uint16_t>(previous),
                                          differenceOf(character, word[previous])});
        lastInGroup[group] = static_cast<int>(position);
    }
    if (pattern.relations_.size() < kMinRelations) {
        failure = std::string("word ") + quoted + " relates too few characters: give at least 3 of one class, or 2 of each of two";
        return std::nullopt;
    }
    std::stable_sort(pattern.relations_.begin(), pattern.relations_.end(), [](const Relation& a, const Relation& b) {
        return a.position - a.base < b.position - b.base;
    });
    return pattern;
}

bool Pattern::matchesAt(const std::uint8_t* bytes) const {
    for (const Relation& relation : relations_)
        if (differenceOf(bytes[relation.position], bytes[relation.base]) != relation.difference) return false;
    return true;
}

ClassValues Pattern::valuesAt(const std::uint8_t* bytes) const {
    ClassValues values;
    for (int c = 0; c < kClassCount; ++c) {
        const int position = firstOfClass_[c];
        values[c] = position < 0 ? -1 : differenceOf(bytes[position], differenceOf(word_[position], kClassFirst[c]));
    }
    return values;
}

std::string Pattern::preview(const Hit& hit) const {
    std::string text;
    const std::uint8_t* hitBytes = hit.context + hit.hitStart;
    const std::uint8_t shift = differenceOf(hitBytes[firstRelated_], word_[firstRelated_]);
    for (std::size_t i = 0; i < hit.contextSize; ++i) {
        const std::uint8_t byte = hit.context[i];
        char shown = '.';
        if (mode_ == CaseMode::Ascii) {
            const std::uint8_t character = differenceOf(byte, shift);
            if (character >= 0x20 && character < 0x7F) shown = static_cast<char>(character);
        }
        for (int c = 0; c < kClassCount; ++c) {
            const int index = differenceOf(byte, static_cast<std::uint8_t>(hit.values[c]));
            if (mode_ == CaseMode::Split && hit.values[c] >= 0 && index < kClassSize[c])
                shown = static_cast<char>(kClassFirst[c] + index);
        }
        text += shown;
    }
    return text;
}

namespace {

// A sliding window over the source: the bytes of every position still to be
// tested, the longest word after it, and kContext bytes on both sides.
class Window {
public:
    explicit Window(std::size_t longest) : bytes_(kReadBlock + 2 * (longest + kContext)), keep_(longest + kContext) {}

    // Reads one more block; false at the end of the data or on a read error.
    bool fill(ByteSource& source) {
        const std::size_t keepFrom = tested_ > kContext ? tested_ - kContext : 0;
        std::copy(bytes_.begin() + keepFrom, bytes_.begin() + end_, bytes_.begin());
        start_ += keepFrom;
        end_ -= keepFrom;
        tested_ -= keepFrom;
        const ReadResult got = source.read(bytes_.data() + end_, bytes_.size() - end_);
        end_ += got.count;
        ended_ = got.count == 0;
        failed_ = got.failed;
        return !ended_;
    }

    // Positions that can be tested now: their word and context have arrived.
    std::size_t testable() const {
        if (ended_) return end_;
        return end_ > keep_ ? end_ - keep_ : 0;
    }

    const std::uint8_t* data() const { return bytes_.data(); }
    std::size_t end() const { return end_; }
    std::uint64_t start() const { return start_; }
    std::size_t& tested() { return tested_; }
    bool failed() const { return failed_; }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t keep_;
    std::size_t end_ = 0, tested_ = 0;
    std::uint64_t start_ = 0;  // file offset of bytes_[0]
    bool ended_ = false, failed_ = false;
};

constexpr std::size_t kCandidateBlock = 64;

bool anyCandidate(const std::uint8_t* later, const std::uint8_t* earlier, std::uint8_t difference) {
    std::uint8_t found = 0;
    for (std::size_t k = 0; k < kCandidateBlock; ++k)
        found |= static_cast<std::uint8_t>(static_cast<std::uint8_t>(later[k] - earlier[k]) == difference);
    return found != 0;
}

// Tests one pattern at positions [from, to) of the window, appending hits.
void testStretch(const Window& window, const Pattern& pattern, std::size_t index, std::size_t from,
                 std::size_t to, std::vector<Hit>& hits) {
    const std::uint8_t* bytes = window.data();
    const std::size_t length = pattern.length();
    if (window.end() < length) return;
    to = std::min(to, window.end() - length + 1);
    // Offsets are ruled out a block at a time by the leading relation alone,
    // in a loop the compiler vectorizes; only blocks with a candidate are
    // stepped through.
    const Pattern::Relation& leading = pattern.leadingRelation();
    const std::uint8_t* later = bytes + leading.position;
    const std::uint8_t* earlier = bytes + leading.base;
    for (std::size_t at = from; at < to; ++at) {
        if ((at - from) % kCandidateBlock == 0 && at + kCandidateBlock <= to &&
            !anyCandidate(later + at, earlier + at, leading.difference)) {
            at += kCandidateBlock - 1;
            continue;
        }
        if (!pattern.matchesAt(bytes + at)) continue;
        Hit hit;
        hit.offset = window.start() + at;
        hit.pattern = index;
        hit.values = pattern.valuesAt(bytes + at);
        const std::size_t contextStart = at > kContext ? at - kContext : 0;
        hit.context = bytes + contextStart;
        hit.hitStart = at - contextStart;
        hit.contextSize = std::min(window.end(), at + length + kContext) - contextStart;
        hits.push_back(hit);
    }
}

}  // namespace

bool findPatterns(ByteSource& source, const std::vector<Pattern>& patterns, const HitHandler& onHit,
                  const ProgressHandler& onProgress) {
    std::size_t longest = 0;
    for (const Pattern& pattern : patterns) longest = std::max(longest, pattern.length());
    Window window(longest);
    std::vector<Hit> hits;
    bool more = true;
    while (more) {
        more = window.fill(source);
        if (onProgress) onProgress(window.start() + window.end());
        std::size_t& tested = window.tested();
        while (tested < window.testable()) {
            const std::size_t to = std::min(window.testable(), tested + kStretch);
            hits.clear();
            for (std::size_t index = 0; index < patterns.size(); ++index)
                testStretch(window, patterns[index], index, tested, to, hits);
            std::stable_sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) { return a.offset < b.offset; });
            for (const Hit& hit : hits) onHit(hit);
            tested = to;
        }
    }
    return !window.failed();
}

}  // namespace glyphound
