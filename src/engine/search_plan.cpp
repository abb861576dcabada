#include "engine/search_plan.hpp"

#include <algorithm>

#include "dialogue/texts.hpp"
#include "engine/table_search.hpp"
#include "engine/values.hpp"

namespace glyphound {
namespace {

namespace text = texts::command;

// A word given twice is searched for once, where it first came.
std::vector<std::string> withoutRepeats(const std::vector<std::string>& words) {
    std::vector<std::string> unique;
    for (const std::string& word : words)
        if (std::find(unique.begin(), unique.end(), word) == unique.end()) unique.push_back(word);
    return unique;
}

std::shared_ptr<const Alphabet> alphabetOf(const SearchRequest& request) {
    auto alphabet = std::make_shared<Alphabet>();
    for (const SearchRequest::Order& named : request.orders) {
        std::string failure;
        auto builtIn = builtInOrder(named.name);
        if (!builtIn && !named.text)
            throw Refusal("--order " + named.name + text::kUnknownOrder + kBuiltInOrderNames);
        const auto orders = builtIn ? std::vector<CharacterOrder>{*builtIn} : parseOrders(*named.text, failure);
        for (const CharacterOrder& order : orders)
            if (!alphabet->add(order, failure)) break;
        if (!failure.empty()) throw Refusal(named.name + ": " + failure);
    }
    return alphabet;
}

// Characters that only an order can place, such as kana, make a word that
// relates too few characters without one; the message says where to look.
std::string orderHint(const std::string& word, const SearchRequest& request, const Alphabet& alphabet) {
    bool valid = true;
    if (!request.orders.empty() || request.caseMode.value_or("split") != "split") return "";
    for (char32_t character : decodeUtf8(word, valid))
        if (character >= 0x80 && !alphabet.find(character))
            return text::kOrderHintStart + encodeUtf8(character) + text::kOrderHintEnd;
    return "";
}

// The words through the table, which spells them whatever classes and
// orders say, so that the rules of a relative search have no place.
void planThroughTable(SearchPlan& plan, const SearchRequest& request) {
    if (request.caseMode || request.width || request.wildcard || request.match || request.gaps ||
        !request.orders.empty())
        throw Refusal(text::kTableWithRelativeOptions);
    plan.table = request.table;
    for (const std::string& word : plan.words) {
        std::string failure;
        auto characters = unescaped(word, failure);
        if (!characters || characters->empty() || characters->size() > Pattern::kMaxLength)
            throw Refusal("word '" + word + "'" + text::kBadTableWord);
        plan.tableWords.push_back(std::move(*characters));
    }
}

void planPatterns(SearchPlan& plan, const SearchRequest& request) {
    const PatternOptions rules = patternOptions(request);
    plan.width = rules.width;
    plan.match = rules.match;
    plan.alphabet = alphabetOf(request);
    if (plan.match == MatchMode::Relative) plan.slots = plan.alphabet->orders();
    for (const std::string& word : plan.words) {
        std::string failure;
        auto pattern = Pattern::compile(word, rules, plan.alphabet, failure);
        if (!pattern) throw Refusal(failure + orderHint(word, request, *plan.alphabet));
        for (char32_t character : pattern->shownCharacters())
            if (std::none_of(plan.slots.begin(), plan.slots.end(),
                             [&](const CharacterOrder& slot) { return slot.characters.front() == character; }))
                plan.slots.push_back({std::u32string(1, character)});
        plan.patterns.push_back(std::move(*pattern));
    }
}

// A hit by order or pattern: the units of its shown characters, and the
// same by the plan's slots for the tally.
Found foundByUnits(const SearchPlan& plan, const Hit& hit, std::string preview) {
    const Pattern& pattern = plan.patterns[hit.pattern];
    Found found{hit.offset, hit.pattern, pattern.length(), ClassValues(plan.slots.size(), -1), hit.units,
                std::move(preview)};
    for (std::size_t shown = 0; shown < hit.units.size(); ++shown)
        for (std::size_t slot = 0; slot < plan.slots.size(); ++slot)
            if (plan.slots[slot].characters.front() == pattern.shownCharacters()[shown])
                found.values[slot] = static_cast<std::int32_t>(hit.units[shown]);
    return found;
}

// What a table reads around a hit, on one line: a raw byte as '.'.
std::string previewOf(const TableHit& hit) {
    Text text = hit.before + hit.match + hit.after;
    std::replace_if(text.begin(), text.end(), isRawByte, U'.');
    return escaped(text);
}

}  // namespace

std::vector<std::string> wordsOfList(std::string_view list) {
    std::vector<std::string> words;
    std::size_t start = 0;
    while (start < list.size()) {
        std::size_t end = list.find('\n', start);
        if (end == std::string_view::npos) end = list.size();
        std::string line(list.substr(start, end - start));
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") != std::string::npos) words.push_back(line);
        start = end + 1;
    }
    return words;
}

Width widthNamed(const std::string& name) {
    if (name == "16le") return Width::Little16;
    if (name == "16be") return Width::Big16;
    if (name != "8") throw Refusal(text::kBadWidth);
    return Width::Byte;
}

PatternOptions patternOptions(const SearchRequest& request) {
    PatternOptions result;
    const std::string caseMode = request.caseMode.value_or("split");
    if (caseMode == "ascii")
        result.mode = CaseMode::Ascii;
    else if (caseMode != "split")
        throw Refusal(text::kBadCase);
    if (result.mode == CaseMode::Ascii && !request.orders.empty()) throw Refusal(text::kAsciiWithOrders);
    bool valid = true;
    const std::u32string wildcard = decodeUtf8(request.wildcard.value_or("?"), valid);
    if (wildcard.size() != 1) throw Refusal(text::kBadWildcard);
    result.wildcard = wildcard.front();
    result.width = widthNamed(request.width.value_or("8"));
    const std::string match = request.match.value_or("relative");
    if (match == "order")
        result.match = MatchMode::Order;
    else if (match == "pattern")
        result.match = MatchMode::Pattern;
    else if (match != "relative")
        throw Refusal(text::kBadMatch);
    if (result.match != MatchMode::Relative && result.mode == CaseMode::Ascii) throw Refusal(text::kAsciiWithMatch);
    if (request.gaps && result.match != MatchMode::Order) throw Refusal(text::kGapsWithOrder);
    if (request.gaps) result.gaps = static_cast<int>(parseNumber(*request.gaps, "--gaps"));
    if (result.gaps < 0 || result.gaps > 16) throw Refusal(text::kBadGaps);
    return result;
}

SearchPlan planSearch(const SearchRequest& request) {
    if (request.words.empty()) throw Refusal(text::kNoWord);
    SearchPlan plan;
    plan.words = withoutRepeats(request.words);
    if (request.table)
        planThroughTable(plan, request);
    else
        planPatterns(plan, request);
    return plan;
}

bool searchSource(const SearchPlan& plan, ByteSource& source, const std::function<void(const Found&)>& onFound,
                  bool previews, const Part& part) {
    if (plan.table)
        return findTableWords(
            source, *plan.table, plan.tableWords,
            [&](const TableHit& hit) { onFound({hit.offset, hit.word, hit.length, {}, {}, previews ? previewOf(hit) : ""}); },
            VectorWidth::Best, part);
    return findPatterns(source, plan.patterns, [&](const Hit& hit) {
        const Pattern& pattern = plan.patterns[hit.pattern];
        std::string preview = previews ? pattern.preview(hit) : "";
        if (plan.match != MatchMode::Relative) return onFound(foundByUnits(plan, hit, std::move(preview)));
        onFound({hit.offset, hit.pattern, pattern.length(), hit.values, {}, std::move(preview)});
    }, VectorWidth::Best, part);
}

// Words sought by their units are sought at every offset alone; a table's
// words only where the parts can start.
bool readableInParts(const SearchPlan& plan) {
    return !plan.table || readableInParts(*plan.table, plan.tableWords);
}

std::string decodedAround(const SearchPlan& plan, const Found& found, const std::uint8_t* bytes, std::size_t size,
                          std::size_t hitStart) {
    if (plan.table) return "";
    Hit hit;
    hit.offset = found.offset;
    hit.pattern = found.word;
    hit.values = found.values;
    hit.units = found.units;
    hit.context = bytes;
    hit.contextSize = size;
    hit.hitStart = hitStart;
    return plan.patterns[found.word].preview(hit);
}

}  // namespace glyphound
