#include "engine/dump.hpp"

#include <algorithm>

#include "dialogue/texts.hpp"
#include "engine/refusal.hpp"
#include "engine/values.hpp"
#include "io/sliding_window.hpp"

namespace glyphound {
namespace {

// The string being read, handed over when it ends; one that reaches the
// longest a string may be goes on as the next.
class StringBuilder {
public:
    StringBuilder(const StringHandler& onString, std::uint64_t minLength) : onString_(onString), minLength_(minLength) {}

    bool open() const { return open_; }
    void add(std::uint64_t offset, const TableEntry* entry, const std::uint8_t* bytes) {
        if (!open_) string_.offset = offset;
        open_ = true;
        if (entry)
            appendReading(*entry, bytes, string_.text);
        else
            string_.text += kRawByte + bytes[0];
        string_.length += entry ? entry->span() : 1;
        if (entry && entry->kind == TableEntry::Kind::End) return close();
        if (string_.length < kMaxStringBytes) return;
        onString_(string_);
        clear();
        string_.offset = offset + (entry ? entry->span() : 1);
        continued_ = true;
    }
    void close() {
        // Bytes that read as nothing, such as padding, are no string.
        if (open_ && (string_.length >= minLength_ || continued_) && !string_.text.empty()) onString_(string_);
        clear();
        open_ = continued_ = false;
    }

private:
    // Keeps the text's room: a dump holds millions of strings.
    void clear() {
        string_.text.clear();
        string_.length = 0;
    }

    const StringHandler& onString_;
    std::uint64_t minLength_;
    TableString string_;
    bool open_ = false, continued_ = false;
};

// One step of the reading: the longest entry at the position joins the run,
// or the run ends before a byte where none stands.
void readEntry(SlidingWindow& window, const Table& table, StringBuilder& run) {
    const TableEntry* entry = table.longestAt(window.position(), window.ahead());
    if (entry) {
        run.add(window.offset(), entry, window.position());
        window.advance(entry->span());
    } else {
        run.close();
        window.advance(1);
    }
}

}  // namespace

bool toByteOutside(SlidingWindow& window, const ByteSet& inEntries, std::uint64_t end) {
    for (; window.offset() < end && window.fill(); window.advance(1))
        if (!inEntries.has(*window.position())) return true;
    return false;
}

bool findStrings(ByteSource& source, const Table& table, std::uint64_t minLength, const StringHandler& onString,
                 VectorWidth width, const Part& part) {
    if (part.start > 0 && !source.skip(part.start)) return false;
    SlidingWindow window(source, 0, table.longestSpan(), part.start);
    const ByteSet& inEntries = table.bytesInEntries();
    if (part.start > 0 && !toByteOutside(window, inEntries, part.end)) return !window.failed();
    StringBuilder run(onString, minLength);
    const std::size_t rowLength = static_cast<std::size_t>(std::clamp<std::uint64_t>(minLength, 1, SIZE_MAX));
    while (window.offset() < part.end && window.fill()) {
        // Between runs, rows of bytes too short for one are passed over: a
        // byte that no entry holds ends any run.
        if (!run.open()) {
            const auto to = static_cast<std::size_t>(std::min<std::uint64_t>(window.ahead(), part.end - window.offset()));
            const std::size_t skip = inEntries.firstRow(window.position(), 0, to, rowLength, width);
            if (skip > 0) {
                window.advance(skip);
                continue;
            }
        }
        readEntry(window, table, run);
    }
    // Past its end, a part goes on to where the next one starts.
    while (window.fill() && inEntries.has(*window.position())) readEntry(window, table, run);
    run.close();
    return !window.failed();
}

RangeRead readRange(ByteSource& source, const Table& table, const Range& range, const StringHandler& onString) {
    SlidingWindow window(source, 0, table.longestSpan());
    while (window.offset() < range.start && window.fill())
        window.advance(static_cast<std::size_t>(std::min<std::uint64_t>(window.ahead(), range.start - window.offset())));
    StringBuilder piece(onString, 0);
    while ((!range.end || window.offset() < *range.end) && window.fill()) {
        const std::uint64_t left = range.end ? *range.end - window.offset() : window.ahead();
        const TableEntry* entry =
            table.longestAt(window.position(), static_cast<std::size_t>(std::min<std::uint64_t>(window.ahead(), left)));
        piece.add(window.offset(), entry, window.position());
        window.advance(entry ? entry->span() : 1);
    }
    piece.close();
    return {window.failed(), window.offset()};
}

std::optional<Range> rangeOf(const std::optional<std::string>& start, const std::optional<std::string>& end) {
    if (!start && !end) return std::nullopt;
    namespace text = texts::command;
    Range range{numberIn(start, "--start", 0, 0, INT64_MAX, text::kBadOffset), std::nullopt};
    if (end) range.end = numberIn(end, "--end", 0, 0, INT64_MAX, text::kBadOffset);
    if (range.end && *range.end < range.start) throw Refusal(text::kEndBeforeStart);
    return range;
}

std::uint64_t minimumOf(const std::optional<std::string>& given) {
    const std::uint64_t minimum = numberIn(given, "--min", kDefaultMinLength, 0, INT64_MAX, texts::command::kBadOffset);
    if (minimum == 0) throw Refusal(texts::command::kBadMinimum);
    return minimum;
}

std::string rangeFailure(const Range& range, std::uint64_t size) {
    const std::uint64_t last = range.end.value_or(range.start);
    if (size >= last) return "";
    return texts::command::kRangePastTheEnd + std::to_string(size) + texts::command::kRangePastTheEndBytes;
}

Table asciiTable() {
    std::string entries;
    for (int byte = 0x20; byte < 0x7F; ++byte) entries += hexDigits(static_cast<std::uint32_t>(byte)) + "=" + static_cast<char>(byte) + "\n";
    std::string failure;
    return *Table::parse(entries, "ascii", failure);
}

}  // namespace glyphound
