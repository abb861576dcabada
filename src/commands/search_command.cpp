// The search that `find` prints and `table` summarises.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "commands/command_options.hpp"
#include "dialogue/texts.hpp"

namespace glyphound::commands {
namespace {

namespace text = texts::command;

constexpr const char* kCurrentFolder = ".";

// Word lists and character orders are small; a bigger file is neither.
constexpr std::size_t kMaxListFile = 1 << 20;
// Windows editors start UTF-8 text with a byte order mark; it is no character.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string withoutByteOrderMark(std::string bytes) {
    if (bytes.compare(0, kByteOrderMark.size(), kByteOrderMark) == 0) bytes.erase(0, kByteOrderMark.size());
    return bytes;
}

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
        if (got.count == 0) return withoutByteOrderMark(std::move(bytes));
        bytes.append(reinterpret_cast<const char*>(block), got.count);
        if (bytes.size() > kMaxListFile) throw UsageError(name + text::kListTooLarge);
    }
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
    result.width = widthNamed(options.width);
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

// A file to search, or a failure of the walk to report in its place.
struct Job {
    std::string name, failure;
    bool walked = false;  // found in a directory rather than named
};

// The files to search: those named, and when walking, every regular file
// under a directory, in name order. Each directory is visited once.
class Walk {
public:
    Walk(bool walking, CommandIo& io) : walking_(walking), io_(io) {}

    // As grep does, a walk with no file named walks the current folder, and
    // names its files without "./".
    std::vector<Job> jobsOf(const std::vector<std::string>& files) {
        for (const std::string& file : files) add(file, walking_, false);
        if (files.empty()) addEntries(kCurrentFolder, "");
        return std::move(jobs_);
    }

private:
    void add(const std::string& name, bool walk, bool walked) {
        const std::string prefix = name.empty() || name.back() == '/' ? name : name + "/";
        if (!walk || !addEntries(name, prefix)) jobs_.push_back({name, "", walked});
    }

    // False when `folder` is no directory.
    bool addEntries(const std::string& folder, const std::string& prefix) {
        const DirectoryListing listing = io_.system().listDirectory(folder);
        if (!listing.isDirectory) return false;
        if (listing.identity && !visited_.insert(*listing.identity).second) return true;
        if (!listing.failure.empty()) jobs_.push_back({folder, listing.failure, true});
        std::vector<DirectoryEntry> entries = listing.entries;
        std::sort(entries.begin(), entries.end(),
                  [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
        for (const DirectoryEntry& entry : entries)
            if (entry.kind != EntryKind::Other) add(prefix + entry.name, entry.kind == EntryKind::Directory, true);
        return true;
    }

    bool walking_;
    CommandIo& io_;
    std::vector<Job> jobs_;
    std::set<FileIdentity> visited_;
};

// Lets the results of files searched side by side out in the files' order:
// a job hands its results over only in its turn, which comes when every
// job before it is done. Jobs are taken in order, so the job whose turn it
// is always has a worker.
class Turns {
public:
    bool isTurnOf(std::size_t job) const { return turn_ == job; }
    void waitFor(std::size_t job) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return turn_ == job; });
    }
    void pass(std::size_t job) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            turn_ = job + 1;
        }
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::atomic<std::size_t> turn_{0};
};

// Memory a job may fill with hits while it waits for its turn; past this it
// stops searching until its turn comes, so memory stays bounded.
constexpr std::size_t kMaxKeptPerJob = 4 << 20;

class ParallelSearch {
public:
    ParallelSearch(const SearchPlan& plan, CommandIo& io, const FileHitHandler& onHit, std::vector<Job> jobs)
        : plan_(plan), io_(io), onHit_(onHit), jobs_(std::move(jobs)) {}

    int run() {
        const unsigned workers = static_cast<unsigned>(std::min<std::size_t>(io_.system().processors(), jobs_.size()));
        // Reading ahead takes a processor of its own; with a worker on every
        // processor there is none to spare.
        reading_ = workers > 1 ? Reading::InStep : Reading::Ahead;
        std::vector<std::thread> threads;
        for (unsigned w = 1; w < workers; ++w) threads.emplace_back([this] { work(); });
        work();
        for (std::thread& thread : threads) thread.join();
        if (failed_) return kError;
        return found_ ? kFound : kNothingFound;
    }

private:
    // A hit kept until its job's turn, with its own copy of its surroundings.
    struct KeptHit {
        Hit hit;
        std::vector<std::uint8_t> context;
    };

    void work() {
        for (std::size_t job = next_++; job < jobs_.size(); job = next_++) search(job);
    }

    void search(std::size_t job) {
        const std::string& name = jobs_[job].name;
        std::string failure = jobs_[job].failure;
        std::vector<KeptHit> kept;
        std::size_t keptBytes = 0;
        bool inTurn = false;
        const auto takeTurn = [&] {
            turns_.waitFor(job);
            inTurn = true;
            for (KeptHit& k : kept) hand(name, k.hit, k.context);
            kept.clear();
        };
        const Waiting waiting = jobs_[job].walked ? Waiting::No : Waiting::ForWriter;
        auto source = failure.empty() ? io_.openInput(name, reading_, waiting, failure) : nullptr;
        // A file the run writes, met on a walk, is no input: the walk passes it by.
        if (jobs_[job].walked && failure == kSameFile) failure.clear();
        if (source && !findPatterns(*source, plan_.patterns, [&](const Hit& hit) {
                if (!inTurn && (turns_.isTurnOf(job) || keptBytes > kMaxKeptPerJob)) takeTurn();
                if (inTurn) return hand(name, hit, {});
                kept.push_back({hit, std::vector<std::uint8_t>(hit.context, hit.context + hit.contextSize)});
                keptBytes += sizeof(KeptHit) + hit.contextSize + hit.values.size() * sizeof(hit.values[0]);
            }))
            failure = source->failure().empty() ? text::kReadFailed : source->failure();
        source.reset();
        takeTurn();
        if (!failure.empty()) {
            io_.reportFile(name, failure);
            failed_ = true;
        }
        turns_.pass(job);
    }

    // Only the job in its turn hands hits over, one job at a time.
    void hand(const std::string& name, Hit hit, const std::vector<std::uint8_t>& context) {
        if (!context.empty()) hit.context = context.data();
        found_ = true;
        onHit_(name, hit);
    }

    const SearchPlan& plan_;
    CommandIo& io_;
    const FileHitHandler& onHit_;
    const std::vector<Job> jobs_;
    Turns turns_;
    Reading reading_ = Reading::Ahead;
    std::atomic<std::size_t> next_{0};
    std::atomic<bool> found_{false}, failed_{false};
};

}  // namespace

namespace {

// Characters that only an order can place, such as kana, make a word that
// relates too few characters without one; the message says where to look.
std::string orderHint(const std::string& word, const SearchOptions& options, const Alphabet& alphabet) {
    bool valid = true;
    if (!options.orders.empty() || options.caseMode != "split") return "";
    for (char32_t character : decodeUtf8(word, valid))
        if (character >= 0x80 && !alphabet.find(character))
            return text::kOrderHintStart + encodeUtf8(character) + text::kOrderHintEnd;
    return "";
}

}  // namespace

SearchPlan planSearch(const SearchOptions& options, CommandIo& io) {
    SearchPlan plan;
    std::vector<std::string> words = options.expressions;
    plan.files = options.operands;
    for (const std::string& wordFile : options.wordFiles) readWordFile(wordFile, io, words);
    if (options.expressions.empty() && options.wordFiles.empty() && !plan.files.empty()) {
        words.push_back(plan.files.front());
        plan.files.erase(plan.files.begin());
    }
    if (words.empty()) throw UsageError(text::kNoWord);
    const PatternOptions patternRules = patternOptions(options);
    plan.width = patternRules.width;
    plan.alphabet = alphabetOf(options, io);
    for (const std::string& word : withoutRepeats(words)) {
        std::string failure;
        auto pattern = Pattern::compile(word, patternRules, plan.alphabet, failure);
        if (!pattern) throw UsageError(failure + orderHint(word, options, *plan.alphabet));
        plan.patterns.push_back(std::move(*pattern));
    }
    plan.namesShown = plan.files.size() > 1 || options.recursive;
    if (plan.files.empty() && !options.recursive) plan.files.push_back(kStandardStream);
    return plan;
}

int searchFiles(const SearchPlan& plan, const SearchOptions& options, CommandIo& io, const FileHitHandler& onHit) {
    const int status = ParallelSearch(plan, io, onHit, Walk(options.recursive, io).jobsOf(plan.files)).run();
    io.progress().erase();
    return status;
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
