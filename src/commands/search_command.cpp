// The search that `find` prints and `table` summarises.
#include <algorithm>
#include <cctype>

#include "commands/command_options.hpp"
#include "dialogue/texts.hpp"

namespace glyphound::commands {
namespace {

namespace text = texts::command;

// Word lists and character orders are small; a bigger file is neither.
constexpr std::size_t kMaxListFile = 1 << 20;

std::string readList(const std::string& name, CommandIo& io) {
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
        if (got.count == 0) return bytes;
        bytes.append(reinterpret_cast<const char*>(block), got.count);
        if (bytes.size() > kMaxListFile) throw UsageError(name + text::kListTooLarge);
    }
}

// One word per line; CR LF ends a line too, and blank lines are skipped.
void readWordFile(const std::string& name, CommandIo& io, std::vector<std::string>& words) {
    const std::string bytes = readList(name, io);
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) words.push_back(line);
        start = end + 1;
    }
}

}  // namespace

PatternOptions patternOptions(const SearchOptions& options) {
    PatternOptions result;
    if (options.caseMode == "ascii")
        result.mode = CaseMode::Ascii;
    else if (options.caseMode != "split")
        throw UsageError(text::kBadCase);
    if (result.mode == CaseMode::Ascii && !options.orders.empty()) throw UsageError(text::kAsciiWithOrders);
    bool valid = true;
    const std::u32string wildcard = decodeUtf8(options.wildcard, valid);
    if (wildcard.size() != 1) throw UsageError(text::kBadWildcard);
    result.wildcard = wildcard.front();
    if (options.width == "16le")
        result.width = Width::Little16;
    else if (options.width == "16be")
        result.width = Width::Big16;
    else if (options.width != "8")
        throw UsageError(text::kBadWidth);
    return result;
}

namespace {

// A built-in order by its name, or the orders a file holds.
std::shared_ptr<const Alphabet> alphabetOf(const SearchOptions& options, CommandIo& io) {
    auto alphabet = std::make_shared<Alphabet>();
    for (const std::string& name : options.orders) {
        std::string failure;
        auto builtIn = builtInOrder(name);
        const auto orders = builtIn ? std::vector<CharacterOrder>{*builtIn} : parseOrders(readList(name, io), failure);
        for (const CharacterOrder& order : orders)
            if (!alphabet->add(order, failure)) break;
        if (!failure.empty()) throw UsageError(name + ": " + failure);
    }
    return alphabet;
}

// Calls `onFile` for a file, or for every file under a directory in name
// order when walking.
void visit(const std::string& name, bool walk, CommandIo& io, const std::function<void(const std::string&)>& onFile,
           bool& failed) {
    const DirectoryListing listing = walk ? io.system().listDirectory(name) : DirectoryListing{};
    if (!listing.isDirectory) return onFile(name);
    if (!listing.failure.empty()) {
        io.reportFile(name, listing.failure);
        failed = true;
    }
    std::vector<DirectoryEntry> entries = listing.entries;
    std::sort(entries.begin(), entries.end(),
              [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
    const std::string folder = name.empty() || name.back() == '/' ? name : name + "/";
    for (const DirectoryEntry& entry : entries) visit(folder + entry.name, true, io, onFile, failed);
}

}  // namespace

SearchPlan planSearch(const SearchOptions& options, CommandIo& io) {
    SearchPlan plan;
    std::vector<std::string> words = options.expressions;
    plan.files = options.operands;
    if (!options.wordFile.empty()) readWordFile(options.wordFile, io, words);
    if (options.expressions.empty() && options.wordFile.empty() && !plan.files.empty()) {
        words.push_back(plan.files.front());
        plan.files.erase(plan.files.begin());
    }
    if (words.empty()) throw UsageError(text::kNoWord);
    const PatternOptions patternRules = patternOptions(options);
    plan.width = patternRules.width;
    plan.alphabet = alphabetOf(options, io);
    for (const std::string& word : words) {
        std::string failure;
        auto pattern = Pattern::compile(word, patternRules, plan.alphabet, failure);
        if (!pattern) throw UsageError(failure);
        plan.patterns.push_back(std::move(*pattern));
    }
    plan.namesShown = plan.files.size() > 1 || options.recursive;
    if (plan.files.empty()) plan.files.push_back(kStandardStream);
    return plan;
}

int searchFiles(const SearchPlan& plan, const SearchOptions& options, CommandIo& io, const FileHitHandler& onHit) {
    bool found = false, failed = false;
    const auto searchOne = [&](const std::string& name) {
        auto source = io.openInput(name);
        if (!source) {
            failed = true;
            return;
        }
        const bool complete = findPatterns(*source, plan.patterns, [&](const Hit& hit) {
            found = true;
            onHit(name, hit);
        });
        if (!complete) {
            io.reportFile(name, source->failure());
            failed = true;
        }
    };
    for (const std::string& file : plan.files) visit(file, options.recursive, io, searchOne, failed);
    io.progress().erase();
    if (failed) return kError;
    return found ? kFound : kNothingFound;
}

void Tally::add(const ClassValues& values) {
    counts_.resize(std::max(counts_.size(), values.size()));
    for (std::size_t order = 0; order < values.size(); ++order)
        if (values[order] >= 0) ++counts_[order][values[order]];
}

std::vector<std::pair<std::int32_t, std::uint64_t>> Tally::ranked(std::size_t order) const {
    if (order >= counts_.size()) return {};
    std::vector<std::pair<std::int32_t, std::uint64_t>> result(counts_[order].begin(), counts_[order].end());
    std::stable_sort(result.begin(), result.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    return result;
}

std::string hexDigits(std::uint32_t unit, Width width) {
    const char* digits = "0123456789ABCDEF";
    const auto byte = [&](std::uint32_t value) { return std::string{digits[(value >> 4) & 15], digits[value & 15]}; };
    if (width == Width::Byte) return byte(unit);
    const std::string high = byte(unit >> 8), low = byte(unit);
    return width == Width::Little16 ? low + high : high + low;
}

std::string valueText(std::int32_t value, Width width) {
    return "0x" + hexDigits(static_cast<std::uint32_t>(value), width == Width::Byte ? Width::Byte : Width::Big16);
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
