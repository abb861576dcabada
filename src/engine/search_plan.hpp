#pragma once

// A search as every face asks for it: words, their rules and the orders or
// the table they are read by, compiled once and run over any source.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/dump.hpp"
#include "engine/refusal.hpp"
#include "engine/table.hpp"
#include "platform/system.hpp"
#include "search/word_matcher.hpp"

namespace glyphound {

struct SearchRequest {
    std::vector<std::string> words;  // as given; one given twice is searched for once
    // As given; none: the default, and a search through a table takes none.
    std::optional<std::string> caseMode, wildcard, width, match, gaps;
    // Each order: a built-in name, or a file's name with what it holds.
    struct Order {
        std::string name;
        std::optional<std::string> text;
    };
    std::vector<Order> orders;
    std::optional<Table> table;
};

// A hit as the faces show it.
struct Found {
    std::uint64_t offset = 0;
    std::size_t word = 0;  // index into the plan's words
    std::uint64_t length = 0;  // in bytes
    ClassValues values;  // by the plan's slots; none through a table
    std::vector<std::uint32_t> units;  // of the pattern's shown characters, by order or pattern
    std::string preview;  // when asked for
};

struct SearchPlan {
    std::shared_ptr<const Alphabet> alphabet;
    // What hits give a value for: the alphabet's classes, or by order or
    // pattern, each character shown, in the order the words first have them.
    std::vector<CharacterOrder> slots;
    Width width = Width::Byte;
    MatchMode match = MatchMode::Relative;
    std::vector<std::string> words;  // each once
    std::vector<Pattern> patterns;
    std::optional<Table> table;
    std::vector<Text> tableWords;
};

// The words of a list, one a line: CR LF ends a line too, and blank lines,
// spaces alone included, are skipped. A word file and the page's box of
// words read the same.
std::vector<std::string> wordsOfList(std::string_view list);

// Throws Refusal, in the words the commands print, when it can't be searched for.
SearchPlan planSearch(const SearchRequest& request);
// The search's rules, from the request alone.
PatternOptions patternOptions(const SearchRequest& request);
Width widthNamed(const std::string& name);

// Hands over every hit in `source`, in offset order, then word order; the
// previews only when asked, as they cost. False after a read error. Of a
// `part` where `readableInParts`.
bool searchSource(const SearchPlan& plan, ByteSource& source, const std::function<void(const Found&)>& onFound,
                  bool previews, const Part& part = {});
// Whether a big file may be searched in parts side by side: always by units,
// and through a table where no hit can cross some byte.
bool readableInParts(const SearchPlan& plan);

// What a hit proves about the bytes around it, as its preview says it: a
// character for each whole unit of `bytes`, which hold the hit from
// `hitStart` on, or '.' for a unit it proves nothing of. Empty through a
// table, whose entries are not units.
std::string decodedAround(const SearchPlan& plan, const Found& found, const std::uint8_t* bytes, std::size_t size,
                          std::size_t hitStart);

}  // namespace glyphound
