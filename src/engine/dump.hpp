#pragma once

// The text a table reads in a file, as `strings` finds text: runs that read
// as text throughout, or every byte of a range.
#include <cstdint>
#include <functional>
#include <optional>

#include "io/sliding_window.hpp"
#include "engine/table.hpp"
#include "platform/system.hpp"

namespace glyphound {

struct TableString {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;  // in bytes, an end token included
    Text text;
};
using StringHandler = std::function<void(const TableString&)>;

// A string stops at this many bytes and the next one goes on from there, so
// that memory stays flat whatever the file holds.
constexpr std::uint64_t kMaxStringBytes = 64 * 1024;
// The fewest bytes a string has unless the user asks for other.
constexpr std::uint64_t kDefaultMinLength = 4;

// To the first byte at or after the window's position that no entry holds,
// if there is one before `end`: where a part's reading starts.
bool toByteOutside(SlidingWindow& window, const ByteSet& inEntries, std::uint64_t end);

// Every run of at least `minLength` bytes that the table reads with no raw
// byte, in one pass over `source`: a run ends before a byte where no entry
// stands and right after an end token. False after a read error.
//
// Of a `part`, the runs between the first bytes that no entry holds at or
// after its start (the source's start for the first part) and at or after
// its end: no run crosses such a byte, so parts that follow each other find
// each run once, as one pass over the whole would. `source` is positioned at
// the source's start.
bool findStrings(ByteSource& source, const Table& table, std::uint64_t minLength, const StringHandler& onString,
                 VectorWidth width = VectorWidth::Best, const Part& part = {});

struct Range {
    std::uint64_t start = 0;
    std::optional<std::uint64_t> end;  // just past the last byte; none: the end of the data
};
// --start and --end as the user gives them, or none for neither; throws
// Refusal for an offset that is none, or an end before the start.
std::optional<Range> rangeOf(const std::optional<std::string>& start, const std::optional<std::string>& end);
// --min, 1 or more; kDefaultMinLength when not given.
std::uint64_t minimumOf(const std::optional<std::string>& given);
// A range must lie in the data: empty when it does, otherwise what says that
// it runs past the end of `size` bytes.
std::string rangeFailure(const Range& range, std::uint64_t size);

struct RangeRead {
    bool readFailed = false;
    std::uint64_t reached = 0;  // where the data ended, or the range's end
};
// Every byte of the range, a byte where no entry stands as raw, with a new
// string after each end token. Entries end within the range.
RangeRead readRange(ByteSource& source, const Table& table, const Range& range, const StringHandler& onString);

// What text reads as where no table is given: printable ASCII.
Table asciiTable();

}  // namespace glyphound
