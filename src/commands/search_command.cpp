// The search that `find` prints and `table` summarises.
#include <algorithm>
#include <cctype>

#include "commands/command_options.hpp"
#include "dialogue/texts.hpp"
#include "engine/table_search.hpp"

namespace glyphound::commands {
namespace {

namespace text = texts::command;

// Word lists and character orders are small; a bigger file is neither.
constexpr std::size_t kMaxListFile = 1 << 20;
// Windows editors start UTF-8 text with a byte order mark; it is no character.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string withoutByteOrderMark(std::string bytes) {
    if (bytes.compare(0, kByteOrderMark.size(), kByteOrderMark) == 0) bytes.erase(0, kByteOrderMark.size());
    return bytes;
}

std::string readList(const std::string& name, CommandIo& io) {
    return readSmallFile(name, io, kMaxListFile, text::kListTooLarge);
}

// One word per line; CR LF ends a line too, and blank lines, spaces alone
// included, are skipped.
void readWordFile(const std::string& name, CommandIo& io, std::vector<std::string>& words) {
    const std::string bytes = readList(name, io);
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") != std::string::npos) words.push_back(line);
        start = end + 1;
    }
}

// A word given twice is searched for once, where it first came.
std::vector<std::string> withoutRepeats(const std::vector<std::string>& words) {
    std::vector<std::string> unique;
    for (const std::string& word : words)
        if (std::find(unique.begin(), unique.end(), word) == unique.end()) unique.push_back(word);
    return unique;
}

}  // namespace

std::string readSmallFile(const std::string& name, CommandIo& io, std::size_t limit, const char* tooLarge) {
    auto source = io.openInput(name);
    if (!source) throw ReportedError{};
    std::string bytes;
    std::uint8_t block[4096];
    for (;;) {
        const ReadResult got = source->read(block, sizeof block);
        if (got.failed) {
            io.reportFile(name, source->failure());
            throw ReportedError{};
        }
        if (got.count == 0) return withoutByteOrderMark(std::move(bytes));
        bytes.append(reinterpret_cast<const char*>(block), got.count);
        if (bytes.size() > limit) io.fail(name + tooLarge);
    }
}

Table loadTable(const std::string& name, CommandIo& io) {
    std::string failure;
    auto table = Table::parse(readSmallFile(name, io, Table::kMaxFile, texts::table::kTooLarge), name, failure);
    if (!table) io.fail(failure);
    return std::move(*table);
}

PatternOptions patternOptions(const SearchOptions& options) {
    PatternOptions result;
    const std::string caseMode = options.caseMode.value_or("split"), width = options.width.value_or("8");
    if (caseMode == "ascii")
        result.mode = CaseMode::Ascii;
    else if (caseMode != "split")
        throw UsageError(text::kBadCase);
    if (result.mode == CaseMode::Ascii && !options.orders.empty()) throw UsageError(text::kAsciiWithOrders);
    bool valid = true;
    const std::u32string wildcard = decodeUtf8(options.wildcard.value_or("?"), valid);
    if (wildcard.size() != 1) throw UsageError(text::kBadWildcard);
    result.wildcard = wildcard.front();
    result.width = widthNamed(width);
    const std::string match = options.match.value_or("relative");
    if (match == "order")
        result.match = MatchMode::Order;
    else if (match == "pattern")
        result.match = MatchMode::Pattern;
    else if (match != "relative")
        throw UsageError(text::kBadMatch);
    if (result.match != MatchMode::Relative && result.mode == CaseMode::Ascii) throw UsageError(text::kAsciiWithMatch);
    if (options.gaps && result.match != MatchMode::Order) throw UsageError(text::kGapsWithOrder);
    if (options.gaps) result.gaps = static_cast<int>(parseNumber(*options.gaps, "--gaps"));
    if (result.gaps < 0 || result.gaps > 16) throw UsageError(text::kBadGaps);
    return result;
}

Width widthNamed(const std::string& name) {
    if (name == "16le") return Width::Little16;
    if (name == "16be") return Width::Big16;
    if (name != "8") throw UsageError(text::kBadWidth);
    return Width::Byte;
}

namespace {

// A built-in order by its name, or the orders a file holds.
std::vector<CharacterOrder> ordersNamed(const std::string& name, CommandIo& io, std::string& failure) {
    if (auto builtIn = builtInOrder(name)) return {*builtIn};
    if (!io.system().exists(name)) throw UsageError("--order " + name + text::kUnknownOrder + kBuiltInOrderNames);
    return parseOrders(readList(name, io), failure);
}

std::shared_ptr<const Alphabet> alphabetOf(const SearchOptions& options, CommandIo& io) {
    auto alphabet = std::make_shared<Alphabet>();
    for (const std::string& name : options.orders) {
        std::string failure;
        const auto orders = ordersNamed(name, io, failure);
        for (const CharacterOrder& order : orders)
            if (!alphabet->add(order, failure)) break;
        if (!failure.empty()) throw UsageError(name + ": " + failure);
    }
    return alphabet;
}

}  // namespace

namespace {

// Characters that only an order can place, such as kana, make a word that
// relates too few characters without one; the message says where to look.
std::string orderHint(const std::string& word, const SearchOptions& options, const Alphabet& alphabet) {
    bool valid = true;
    if (!options.orders.empty() || options.caseMode.value_or("split") != "split") return "";
    for (char32_t character : decodeUtf8(word, valid))
        if (character >= 0x80 && !alphabet.find(character))
            return text::kOrderHintStart + encodeUtf8(character) + text::kOrderHintEnd;
    return "";
}

}  // namespace

namespace {

// The words through the table, which spells them whatever classes and
// orders say, so that the options of a relative search have no place.
void planThroughTable(SearchPlan& plan, const SearchOptions& options, CommandIo& io, const std::string& table) {
    if (options.caseMode || options.width || options.wildcard || options.match || options.gaps || !options.orders.empty())
        throw UsageError(text::kTableWithRelativeOptions);
    plan.table = loadTable(table, io);
    for (const std::string& word : plan.words) {
        std::string failure;
        auto characters = unescaped(word, failure);
        if (!characters || characters->empty() || characters->size() > Pattern::kMaxLength)
            throw UsageError("word '" + word + "'" + text::kBadTableWord);
        plan.tableWords.push_back(std::move(*characters));
    }
}

void planRelative(SearchPlan& plan, const SearchOptions& options, CommandIo& io) {
    const PatternOptions patternRules = patternOptions(options);
    plan.width = patternRules.width;
    plan.match = patternRules.match;
    plan.alphabet = alphabetOf(options, io);
    if (plan.match == MatchMode::Relative) plan.slots = plan.alphabet->orders();
    for (const std::string& word : plan.words) {
        std::string failure;
        auto pattern = Pattern::compile(word, patternRules, plan.alphabet, failure);
        if (!pattern) throw UsageError(failure + orderHint(word, options, *plan.alphabet));
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

std::size_t keptSize(const Found& found) {
    return sizeof found + found.preview.size() + found.values.size() * sizeof found.values[0];
}

// What a table reads around a hit, on one line: a raw byte as '.'.
std::string previewOf(const TableHit& hit) {
    Text text = hit.before + hit.match + hit.after;
    std::replace_if(text.begin(), text.end(), isRawByte, U'.');
    return escaped(text);
}

}  // namespace

SearchPlan planSearch(const SearchOptions& options, CommandIo& io, const std::string& table) {
    SearchPlan plan;
    std::vector<std::string> words = options.expressions;
    plan.files = options.operands;
    for (const std::string& wordFile : options.wordFiles) readWordFile(wordFile, io, words);
    if (options.expressions.empty() && options.wordFiles.empty() && !plan.files.empty()) {
        words.push_back(plan.files.front());
        plan.files.erase(plan.files.begin());
    }
    if (words.empty()) throw UsageError(text::kNoWord);
    plan.words = withoutRepeats(words);
    if (table.empty())
        planRelative(plan, options, io);
    else
        planThroughTable(plan, options, io, table);
    plan.namesShown = plan.files.size() > 1 || options.recursive;
    if (plan.files.empty() && !options.recursive) plan.files.push_back(kStandardStream);
    return plan;
}

int searchFiles(const SearchPlan& plan, const SearchOptions& options, CommandIo& io,
                const FileItemHandler<Found>& onFound, bool previews) {
    const FileWork<Found> work = [&](ByteSource& source, const ItemHandler<Found>& onItem) {
        const bool read = plan.table ? findTableWords(source, *plan.table, plan.tableWords, [&](const TableHit& hit) {
            onItem({hit.offset, hit.word, hit.length, {}, {}, previews ? previewOf(hit) : ""});
        }) : findPatterns(source, plan.patterns, [&](const Hit& hit) {
            const Pattern& pattern = plan.patterns[hit.pattern];
            std::string preview = previews ? pattern.preview(hit) : "";
            if (plan.match != MatchMode::Relative) return onItem(foundByUnits(plan, hit, std::move(preview)));
            onItem({hit.offset, hit.pattern, pattern.length(), hit.values, {}, std::move(preview)});
        });
        return read ? std::string() : readFailure(source);
    };
    return FileJobs<Found>(jobsFor(plan.files, options.recursive, io), io, work, onFound, keptSize).run();
}

std::int64_t parseNumber(const std::string& text, const std::string& what) {
    std::size_t at = text.size() > 1 && text[0] == '-' ? 1 : 0;
    const bool hex = text.compare(at, 2, "0x") == 0 || text.compare(at, 2, "0X") == 0;
    at += hex ? 2 : 0;
    const int base = hex ? 16 : 10;
    if (at == text.size() || text.size() - at > 15) throw UsageError(what + text::kBadNumber);
    std::int64_t value = 0;
    for (; at < text.size(); ++at) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[at])));
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : 99;
        if (digit >= base) throw UsageError(what + text::kBadNumber);
        value = value * base + digit;
    }
    return text[0] == '-' ? -value : value;
}

}  // namespace glyphound::commands
