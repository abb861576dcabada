#include "engine/table_search.hpp"

#include <algorithm>

#include "io/sliding_window.hpp"

namespace glyphound {
namespace {

// A character of the text read so far, with the bytes of the entry it is
// read from.
struct ReadCharacter {
    char32_t character;
    std::uint64_t entryStart;
};

// Finds the words in the text as it is read, entry by entry, and lets the
// hits out in offset order: a hit is seen when its last character is read,
// after hits of longer words that start before it may still come.
class WordFinder {
public:
    using HitMaker = std::function<TableHit(std::uint64_t offset, std::uint64_t end, std::size_t word)>;

    WordFinder(const std::vector<Text>& words, const TableHitHandler& onHit) : words_(words), onHit_(onHit) {
        for (const Text& word : words) longest_ = std::max(longest_, word.size());
    }

    bool empty() const { return read_.empty(); }

    void add(const Text& reading, std::uint64_t start, std::uint64_t end, const HitMaker& makeHit) {
        for (const char32_t character : reading) {
            read_.push_back({character, start});
            for (std::size_t index = 0; index < words_.size(); ++index)
                if (endsWith(words_[index])) {
                    const std::uint64_t offset = read_[read_.size() - words_[index].size()].entryStart;
                    if (!isPending(offset, index)) pending_.push_back(makeHit(offset, end, index));
                }
        }
        // A hit still to be seen starts at one of the last characters.
        const std::size_t earliest = read_.size() >= longest_ ? read_.size() - longest_ + 1 : 0;
        if (earliest < read_.size()) release(read_[earliest].entryStart);
        if (read_.size() > 4 * longest_) read_.erase(read_.begin(), read_.end() - static_cast<std::ptrdiff_t>(longest_));
    }

    // Nothing found spans this point: the end of a string, or a raw byte
    // that no word holds.
    void breakText() {
        release(UINT64_MAX);
        read_.clear();
    }

private:
    bool endsWith(const Text& word) const {
        return read_.size() >= word.size() &&
               std::equal(word.rbegin(), word.rend(), read_.rbegin(),
                          [](char32_t expected, const ReadCharacter& read) { return expected == read.character; });
    }

    // The same word starting in the same entry is one hit, however often the
    // entry's text holds it.
    bool isPending(std::uint64_t offset, std::size_t word) const {
        return std::any_of(pending_.begin(), pending_.end(),
                           [&](const TableHit& hit) { return hit.offset == offset && hit.word == word; });
    }

    void release(std::uint64_t before) {
        std::sort(pending_.begin(), pending_.end(), [](const TableHit& a, const TableHit& b) {
            return a.offset != b.offset ? a.offset < b.offset : a.word < b.word;
        });
        const auto last = std::find_if(pending_.begin(), pending_.end(), [&](const TableHit& hit) { return hit.offset >= before; });
        std::for_each(pending_.begin(), last, onHit_);
        pending_.erase(pending_.begin(), last);
    }

    const std::vector<Text>& words_;
    const TableHitHandler& onHit_;
    std::size_t longest_ = 1;
    std::vector<ReadCharacter> read_;
    std::vector<TableHit> pending_;
};

// Where no word holds a raw byte, a byte that no key holds breaks every word,
// and a hit spans at least this many bytes: its entries read at least the
// word's characters, each at most the longest reading.
std::size_t fewestBytesOfAHit(const Table& table, const std::vector<Text>& words) {
    std::size_t longestReading = 1, shortestWord = SIZE_MAX;
    for (const TableEntry& entry : table.entries())
        longestReading = std::max(longestReading, entry.text.size() + entry.parameters);
    for (const Text& word : words) shortestWord = std::min(shortestWord, word.size());
    return std::max<std::size_t>(1, (shortestWord + longestReading - 1) / longestReading);
}

bool holdsRawByte(const std::vector<Text>& words) {
    return std::any_of(words.begin(), words.end(),
                       [](const Text& word) { return std::any_of(word.begin(), word.end(), isRawByte); });
}

// Where every key is one byte and takes no parameters, each byte is an entry
// of its own wherever a reading starts.
bool everyByteAnEntry(const Table& table) {
    return std::all_of(table.entries().begin(), table.entries().end(),
                       [](const TableEntry& entry) { return entry.span() == 1; });
}

// The bytes a hit may hold. Each entry of a hit reads a character of a word,
// or nothing; where every byte is an entry, no other byte is in one, so a
// search skips them as it skips bytes that no key holds. Else any byte of a
// key may be.
ByteSet bytesOfHits(const Table& table, const std::vector<Text>& words) {
    if (!everyByteAnEntry(table)) return table.bytesInEntries();
    const auto inWords = [&](char32_t character) {
        return std::any_of(words.begin(), words.end(),
                           [&](const Text& word) { return word.find(character) != Text::npos; });
    };
    ByteSet bytes;
    for (const TableEntry& entry : table.entries())
        if (entry.text.empty() || std::any_of(entry.text.begin(), entry.text.end(), inWords))
            bytes.add(static_cast<std::uint8_t>(entry.key[0]));
    return bytes;
}

class TableWordSearch {
public:
    TableWordSearch(ByteSource& source, const Table& table, const std::vector<Text>& words,
                    const TableHitHandler& onHit, VectorWidth width, std::uint64_t origin)
        : table_(table),
          width_(width),
          rawInWords_(holdsRawByte(words)),
          everyByteAnEntry_(everyByteAnEntry(table)),
          skipping_(!rawInWords_ && !table.bytesInEntries().full()),
          inHits_(bytesOfHits(table, words)),
          rowLength_(fewestBytesOfAHit(table, words)),
          finder_(words, onHit),
          window_(source, kTableContext + longestHit(table, words), table.longestSpan() + kTableContext, origin),
          startsAt_(kTableContext + longestHit(table, words) + table.longestSpan() + 1, UINT64_MAX) {}

    bool run(const Part& part) {
        const ByteSet& inEntries = table_.bytesInEntries();
        // A part reads from its first byte that no key holds, with the bytes
        // before it at hand for the context of a hit.
        if (part.start > 0) {
            window_.fill();
            window_.advance(std::min<std::size_t>(window_.ahead(), part.start - window_.offset()));
            if (!toByteOutside(window_, inEntries, part.end)) return !window_.failed();
        }
        while (window_.offset() < part.end && window_.fill()) {
            // Between words, a row of entries too short for a hit is passed
            // over; the byte before a row holds no key, or is an entry of its
            // own, so reading starts anew there just as a reading from the
            // file's start would.
            if (skipping_ && finder_.empty()) {
                const auto to = static_cast<std::size_t>(std::min<std::uint64_t>(window_.ahead(), part.end - window_.offset()));
                const std::size_t skip = inHits_.firstRow(window_.position(), 0, to, rowLength_, width_);
                if (skip > 0) {
                    window_.advance(skip);
                    continue;
                }
            }
            readEntry();
        }
        // Past its end, a part reads on to where the next one starts.
        while (window_.fill() && inEntries.has(*window_.position())) readEntry();
        finder_.breakText();
        return !window_.failed();
    }

private:
    static std::size_t longestHit(const Table& table, const std::vector<Text>& words) {
        std::size_t longest = 0;
        for (const Text& word : words) longest = std::max(longest, word.size());
        return longest * table.longestSpan();
    }

    void readEntry() {
        const std::uint8_t* bytes = window_.position();
        const std::uint64_t start = window_.offset();
        const TableEntry* entry = table_.longestAt(bytes, window_.ahead());
        const std::size_t span = entry ? entry->span() : 1;
        startsAt_[start % startsAt_.size()] = start;
        const auto makeHit = [&](std::uint64_t offset, std::uint64_t end, std::size_t word) {
            return hitAt(offset, end, word);
        };
        if (entry || rawInWords_) {
            Text reading;
            if (entry)
                appendReading(*entry, bytes, reading);
            else
                reading = Text(1, kRawByte + bytes[0]);
            finder_.add(reading, start, start + span, makeHit);
        }
        if (!entry ? !rawInWords_ : entry->kind == TableEntry::Kind::End) finder_.breakText();
        // No hit holds such a byte: the words found up to it are let out,
        // and the search skips on from it.
        if (skipping_ && !inHits_.has(bytes[0])) finder_.breakText();
        window_.advance(span);
    }

    // The hit with what the table reads around it. Entries that read as
    // nothing can stretch a hit past what the window keeps; its text then
    // starts where the window does.
    TableHit hitAt(std::uint64_t offset, std::uint64_t end, std::size_t word) const {
        const std::uint64_t first = window_.offset() - window_.behind();
        const std::uint64_t from = std::max(offset, first);
        const std::uint8_t* bytes = window_.position() - (window_.offset() - from);
        const auto kept = static_cast<std::size_t>(from - first);
        const std::size_t after = std::min(kTableContext, window_.ahead() - static_cast<std::size_t>(end - window_.offset()));
        const std::size_t before = contextBefore(from, bytes, std::min(kept, kTableContext), kept);
        const auto length = static_cast<std::size_t>(end - from);
        return {offset,
                word,
                end - offset,
                readAll(table_, bytes - before, before),
                readAll(table_, bytes, length),
                readAll(table_, bytes + length, after)};
    }

    // How far before `bytes`, at most `most`, an entry is known to start:
    // the file's first byte, a byte that no key holds or the byte after one,
    // as such a byte reads as raw wherever it stands, or an entry read lately
    // in the hit's own run of bytes that keys hold. Those are known alike
    // whichever part of the file a reading starts in. Where every byte is an
    // entry, the whole run is, read or skipped.
    std::size_t contextBefore(std::uint64_t from, const std::uint8_t* bytes, std::size_t most, std::size_t kept) const {
        const ByteSet& inEntries = table_.bytesInEntries();
        const auto at = [&](std::size_t before) { return bytes[-static_cast<std::ptrdiff_t>(before)]; };
        std::size_t known = 0;
        bool sameRun = true;
        for (std::size_t before = 1; before <= most; ++before) {
            const std::uint64_t offset = from - before;
            const bool outside = !inEntries.has(at(before));
            sameRun = sameRun && !outside;
            if (offset == 0 || outside || (before < kept && !inEntries.has(at(before + 1))) ||
                (sameRun && (everyByteAnEntry_ || startsAt_[offset % startsAt_.size()] == offset)))
                known = before;
        }
        return known;
    }

    const Table& table_;
    VectorWidth width_;
    bool rawInWords_, everyByteAnEntry_, skipping_;
    ByteSet inHits_;
    std::size_t rowLength_;
    WordFinder finder_;
    SlidingWindow window_;
    // Where the entries read lately start, each at its offset modulo the
    // size: as far back as the window keeps.
    std::vector<std::uint64_t> startsAt_;
};

}  // namespace

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
                    const TableHitHandler& onHit, VectorWidth width, const Part& part) {
    // The context of a hit at a part's start lies before the part.
    const std::uint64_t origin = part.start - std::min<std::uint64_t>(part.start, kTableContext);
    if (origin > 0 && !source.skip(origin)) return false;
    return TableWordSearch(source, table, words, onHit, width, origin).run(part);
}

bool readableInParts(const Table& table, const std::vector<Text>& words) {
    return !holdsRawByte(words) && !table.bytesInEntries().full();
}

}  // namespace glyphound
