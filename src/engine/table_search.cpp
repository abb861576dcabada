#include "engine/table_search.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

#include "io/sliding_window.hpp"

namespace glyphound {
namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

bool spells(const TableEntry& entry) { return entry.kind == TableEntry::Kind::Text && !entry.text.empty(); }

// Spells words at offsets, remembering which (character, byte) pairs led
// nowhere, so that a word whose letters each have several keys takes time
// in proportion to its length, not to the number of its spellings.
class Speller {
public:
    Speller(const Table& table, const Text& word) : table_(table), word_(word) {}

    std::size_t at(const std::uint8_t* bytes, std::size_t available) {
        bytes_ = bytes;
        available_ = std::min(available, word_.size() * Table::kMaxKey);
        deadEnds_.assign((word_.size() + 1) * (available_ + 1), false);
        return from(0, 0);
    }

    // The first bytes of the spellings of the word from character `at` on;
    // all bytes when the word ends there.
    ByteSet firstBytes(std::size_t at) const {
        ByteSet bytes;
        if (at == word_.size()) bytes.addAll();
        for (const auto& [key, next] : firstSteps(at)) bytes.add(static_cast<std::uint8_t>(key.front()));
        return bytes;
    }
    // The bytes that can follow the first of a spelling.
    ByteSet secondBytes() const {
        ByteSet bytes;
        for (const auto& [key, next] : firstSteps(0)) {
            if (key.size() > 1) {
                bytes.add(static_cast<std::uint8_t>(key[1]));
                continue;
            }
            const ByteSet after = firstBytes(next);
            for (int byte = 0; byte < 256; ++byte)
                if (after.has(static_cast<std::uint8_t>(byte))) bytes.add(static_cast<std::uint8_t>(byte));
        }
        return bytes;
    }

private:
    // Each first step of a spelling from character `at`: its bytes, and the
    // character after it.
    std::vector<std::pair<std::string, std::size_t>> firstSteps(std::size_t at) const {
        std::vector<std::pair<std::string, std::size_t>> steps;
        if (at < word_.size() && isRawByte(word_[at]))
            steps.emplace_back(std::string(1, static_cast<char>(word_[at] - kRawByte)), at + 1);
        else
            for (const TableEntry& entry : table_.entries())
                if (spells(entry) && word_.compare(at, entry.text.size(), entry.text) == 0)
                    steps.emplace_back(entry.key, at + entry.text.size());
        return steps;
    }

    std::size_t from(std::size_t character, std::size_t byte) {
        if (character == word_.size()) return 0;
        if (byte == available_ || deadEnds_[character * (available_ + 1) + byte]) return kNone;
        const std::size_t found = step(character, byte);
        if (found == kNone) deadEnds_[character * (available_ + 1) + byte] = true;
        return found;
    }

    std::size_t step(std::size_t character, std::size_t byte) {
        const std::uint8_t* bytes = bytes_ + byte;
        if (isRawByte(word_[character])) {
            if (bytes[0] != word_[character] - kRawByte) return kNone;
            const std::size_t rest = from(character + 1, byte + 1);
            return rest == kNone ? kNone : rest + 1;
        }
        for (std::uint32_t index : table_.startingWith(bytes[0])) {
            const TableEntry& entry = table_.entries()[index];
            if (!spells(entry) || entry.key.size() > available_ - byte ||
                std::memcmp(entry.key.data(), bytes, entry.key.size()) != 0 ||
                word_.compare(character, entry.text.size(), entry.text) != 0)
                continue;
            const std::size_t rest = from(character + entry.text.size(), byte + entry.key.size());
            if (rest != kNone) return rest + entry.key.size();
        }
        return kNone;
    }

    const Table& table_;
    const Text& word_;
    const std::uint8_t* bytes_ = nullptr;
    std::size_t available_ = 0;
    std::vector<bool> deadEnds_;
};

}  // namespace

std::size_t spellingAt(const Table& table, const Text& word, const std::uint8_t* bytes, std::size_t available) {
    const std::size_t found = Speller(table, word).at(bytes, available);
    return found == kNone ? 0 : found;
}

Text readAll(const Table& table, const std::uint8_t* bytes, std::size_t size) {
    Text text;
    for (std::size_t at = 0; at < size;) {
        const TableEntry* entry = table.longestAt(bytes + at, size - at);
        if (entry)
            appendReading(*entry, bytes + at, text);
        else
            text += kRawByte + bytes[at];
        at += entry ? entry->span() : 1;
    }
    return text;
}

bool findTableWords(ByteSource& source, const Table& table, const std::vector<Text>& words,
                    const TableHitHandler& onHit, VectorWidth width) {
    std::vector<Speller> spellers;
    ByteSet first, second;
    std::size_t longest = 0;
    for (const Text& word : words) {
        spellers.emplace_back(table, word);
        const ByteSet starts = spellers.back().firstBytes(0), follows = spellers.back().secondBytes();
        for (int byte = 0; byte < 256; ++byte) {
            if (starts.has(static_cast<std::uint8_t>(byte))) first.add(static_cast<std::uint8_t>(byte));
            if (follows.has(static_cast<std::uint8_t>(byte))) second.add(static_cast<std::uint8_t>(byte));
        }
        longest = std::max(longest, word.size() * Table::kMaxKey);
    }
    const std::size_t need = longest + kTableContext;
    SlidingWindow window(source, kTableContext, need + 1);
    const auto test = [&](std::size_t at) {
        const std::uint8_t* bytes = window.position() + at;
        for (std::size_t index = 0; index < words.size(); ++index) {
            const std::size_t length = spellers[index].at(bytes, window.ahead() - at);
            if (length == kNone) continue;
            const std::size_t before = std::min(window.behind() + at, kTableContext);
            const std::size_t after = std::min(window.ahead() - at - length, kTableContext);
            onHit({window.offset() + at, index, length, readAll(table, bytes - before, before),
                   readAll(table, bytes, length), readAll(table, bytes + length, after)});
        }
    };
    while (window.fill()) {
        const std::size_t testable = window.ended() ? window.ahead() : window.ahead() - need;
        const std::size_t scanned = std::min(testable, window.ahead() - 1);
        for (std::size_t at = 0; (at = first.firstPair(window.position(), at, scanned, second, width)) < scanned; ++at)
            test(at);
        if (scanned < testable) test(scanned);
        window.advance(testable);
    }
    return !window.failed();
}

}  // namespace glyphound
