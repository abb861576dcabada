#include "engine/encoder.hpp"

#include <algorithm>
#include <cstring>
#include <map>
#include <queue>
#include <set>
#include <tuple>

#include "dialogue/texts.hpp"
#include "engine/refusal.hpp"
#include "engine/table_search.hpp"
#include "engine/values.hpp"

namespace glyphound {
namespace {

// A way to go on: the bytes of an entry, or of a byte the text has raw, and
// the text they stand for.
struct Token {
    std::string bytes;
    std::size_t textLength = 0;
    bool ending = false;
};

// Bytes appended but not yet read, because what follows may still change
// what the reader makes of them; `settled` characters of the text have been
// read back already, `spelt` are what the appended bytes stand for.
struct State {
    std::size_t settled = 0, spelt = 0;
    std::string pending;
    bool ended = false;
    bool operator<(const State& other) const {
        return std::tie(settled, spelt, pending, ended) < std::tie(other.settled, other.spelt, other.pending, other.ended);
    }
};

constexpr std::size_t kMostSteps = 100000;

class Encoder {
public:
    Encoder(const Table& table, const Text& text, const TableEntry* ending)
        : table_(table), text_(text), ending_(ending) {}

    std::optional<std::string> shortest() {
        struct Queued {
            std::size_t cost, order;
            State state;
            bool operator>(const Queued& other) const { return std::tie(cost, order) > std::tie(other.cost, other.order); }
        };
        std::priority_queue<Queued, std::vector<Queued>, std::greater<>> queue;
        queue.push({0, pushed_++, {}});
        while (!queue.empty() && !tooCostly()) {
            const Queued next = queue.top();
            queue.pop();
            if (!done_.insert(next.state).second) continue;
            if (isGoal(next.state)) return path(next.state);
            for (const Token& token : tokensAt(next.state.spelt)) {
                std::optional<State> after = append(next.state, token);
                if (!after || done_.count(*after)) continue;
                if (!from_.count(*after) || cost_[*after] > next.cost + token.bytes.size()) {
                    from_[*after] = {next.state, token.bytes};
                    cost_[*after] = next.cost + token.bytes.size();
                    queue.push({cost_[*after], pushed_++, *after});
                }
            }
        }
        return std::nullopt;
    }

    // Why no bytes read back as the text: a character that no entry spells,
    // a control code without its parameters, or a spelling whose bytes the
    // reader takes for other text, as a longer key can swallow the boundary
    // between two entries.
    std::string whyNot() const {
        std::vector<std::optional<std::pair<std::size_t, std::string>>> reached(text_.size() + 1);
        reached[0] = std::pair<std::size_t, std::string>{0, ""};
        std::size_t farthest = 0;
        for (std::size_t at = 0; at < text_.size(); ++at) {
            if (!reached[at]) continue;
            farthest = at;
            for (const Token& token : tokensAt(at))
                if (!reached[at + token.textLength]) reached[at + token.textLength] = std::pair(at, token.bytes);
        }
        if (!reached[text_.size()]) return unspelt(farthest);
        std::string bytes;
        for (std::size_t at = text_.size(); at > 0; at = reached[at]->first) bytes.insert(0, reached[at]->second);
        return readsOtherwise(bytes);
    }
    // A table whose control codes take many parameters can leave so much
    // unsettled that the ways to go on multiply; the search gives up then
    // rather than take hours and gigabytes.
    bool tooCostly() const { return pushed_ > kMostSteps; }

private:
    std::vector<Token> tokensAt(std::size_t at) const {
        std::vector<Token> tokens;
        for (std::uint32_t index : candidatesAt(at)) {
            const TableEntry& entry = table_.entries()[index];
            if (text_.compare(at, entry.text.size(), entry.text) != 0) continue;
            Token token{entry.key, entry.text.size(), &entry == ending_};
            for (std::size_t k = 0; k < entry.parameters; ++k) {
                const std::size_t place = at + entry.text.size() + k;
                if (place >= text_.size() || !isRawByte(text_[place])) break;
                token.bytes += static_cast<char>(text_[place] - kRawByte);
                ++token.textLength;
            }
            if (token.textLength == entry.text.size() + entry.parameters) tokens.push_back(token);
        }
        if (at < text_.size() && isRawByte(text_[at]))
            tokens.push_back({std::string(1, static_cast<char>(text_[at] - kRawByte)), 1, false});
        return tokens;
    }

    // The entries whose text can stand at `at`, in the table's order, as
    // ties go to the entries listed first.
    std::vector<std::uint32_t> candidatesAt(std::size_t at) const {
        const std::vector<std::uint32_t>& nothing = table_.readingAsNothing();
        if (at >= text_.size()) return nothing;
        const std::vector<std::uint32_t>& starting = table_.textStartingWith(text_[at]);
        std::vector<std::uint32_t> both(starting.size() + nothing.size());
        std::merge(starting.begin(), starting.end(), nothing.begin(), nothing.end(), both.begin());
        return both;
    }

    std::optional<State> append(State state, const Token& token) const {
        state.pending += token.bytes;
        state.spelt += token.textLength;
        state.ended = token.ending;
        if (state.spelt > text_.size() || !settle(state, false)) return std::nullopt;
        return state;
    }

    // Reads the pending bytes as far as their reading is certain; false when
    // it differs from the text.
    bool settle(State& state, bool atEnd) const {
        while (!state.pending.empty()) {
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(state.pending.data());
            const TableEntry* entry = table_.longestAt(bytes, state.pending.size());
            if (!atEnd && mayGrow(state.pending, entry)) return true;
            Text reading;
            if (entry)
                appendReading(*entry, bytes, reading);
            else
                reading = Text(1, kRawByte + bytes[0]);
            if (text_.compare(state.settled, reading.size(), reading) != 0) return false;
            state.settled += reading.size();
            state.pending.erase(0, entry ? entry->span() : 1);
        }
        return true;
    }

    // Whether more bytes could make a longer key than `found` stand at the
    // start of `pending`: a key that the bytes begin, or one they hold whole
    // whose parameters are still to come.
    bool mayGrow(const std::string& pending, const TableEntry* found) const {
        if (pending.size() < Table::kMaxKey && table_.beginsLongerKey(pending)) return true;
        const std::size_t shortest = found ? found->key.size() : 0;
        for (std::size_t length = shortest + 1; length <= std::min(Table::kMaxKey, pending.size()); ++length) {
            const TableEntry* entry = table_.withKey(std::string_view(pending).substr(0, length));
            if (entry && entry->span() > pending.size()) return true;
        }
        return false;
    }

    std::string unspelt(std::size_t at) const {
        namespace text = texts::table;
        for (const TableEntry& entry : table_.entries())
            if (entry.kind == TableEntry::Kind::Control && text_.compare(at, entry.text.size(), entry.text) == 0)
                return text::kControlStart + escaped(entry.text) + text::kControlNeeds + std::to_string(entry.parameters) +
                       text::kControlParameters + std::to_string(at + 1);
        return text::kCantSpell + escaped(Text(1, text_[at])) + text::kAtPosition + std::to_string(at + 1);
    }

    // The first entry where `bytes`, which spell the text entry by entry,
    // read back as something else.
    std::string readsOtherwise(const std::string& bytes) const {
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
        for (std::size_t at = 0, spelt = 0; at < bytes.size();) {
            const TableEntry* entry = table_.longestAt(data + at, bytes.size() - at);
            const std::size_t span = entry ? entry->span() : 1;
            const Text reading = readAll(table_, data + at, span);
            if (text_.compare(spelt, reading.size(), reading) != 0) {
                std::string shown;
                for (std::size_t k = at; k < at + span; ++k) shown += (shown.empty() ? "" : " ") + hexDigits(data[k]);
                return texts::table::kReadsBackOtherwise + shown + texts::table::kReadsAs + escaped(reading) + "'";
            }
            at += span;
            spelt += reading.size();
        }
        return texts::table::kNoEndingSpelling;
    }

    bool isGoal(const State& state) const {
        if (ending_ && !state.ended) return false;
        State last = state;
        return settle(last, true) && last.settled == text_.size();
    }

    std::string path(State state) const {
        std::string bytes;
        for (auto step = from_.find(state); step != from_.end(); step = from_.find(step->second.first))
            bytes.insert(0, step->second.second);
        return bytes;
    }

    const Table& table_;
    const Text& text_;
    const TableEntry* ending_;
    std::map<State, std::pair<State, std::string>> from_;
    std::map<State, std::size_t> cost_;
    std::set<State> done_;
    std::size_t pushed_ = 0;
};

}  // namespace

std::optional<std::string> encode(const Table& table, const Text& text, const TableEntry* ending,
                                  std::string& failure) {
    Text target = text;
    if (ending) target += ending->text;
    Encoder encoder(table, target, ending);
    if (auto bytes = encoder.shortest()) return bytes;
    failure = encoder.tooCostly() ? texts::table::kTooCostly : encoder.whyNot();
    return std::nullopt;
}

const TableEntry* onlyEndToken(const Table& table) {
    const std::vector<const TableEntry*> ends = table.endTokens();
    if (ends.size() != 1) throw Refusal(ends.empty() ? texts::command::kNoEndToken : texts::command::kSeveralEndTokens);
    return ends.front();
}

}  // namespace glyphound
