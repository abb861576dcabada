#include "engine/encoder.hpp"

#include <algorithm>
#include <cstring>
#include <map>
#include <queue>
#include <set>
#include <tuple>

#include "dialogue/texts.hpp"

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
            farthest_ = std::max(farthest_, next.state.settled);
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

    // The first character the search could not read back.
    std::size_t farthest() const { return farthest_; }
    // A table whose control codes take many parameters can leave so much
    // unsettled that the ways to go on multiply; the search gives up then
    // rather than take hours and gigabytes.
    bool tooCostly() const { return pushed_ > kMostSteps; }

private:
    std::vector<Token> tokensAt(std::size_t at) const {
        std::vector<Token> tokens;
        for (const TableEntry& entry : table_.entries()) {
            if (text_.compare(at, entry.text.size(), entry.text) != 0 && !entry.text.empty()) continue;
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
    // start of `pending`.
    bool mayGrow(const std::string& pending, const TableEntry* found) const {
        const std::size_t shortest = found ? found->key.size() : 0;
        for (const TableEntry& entry : table_.entries()) {
            if (entry.key.size() <= shortest || entry.span() <= pending.size()) continue;
            const std::size_t shared = std::min(entry.key.size(), pending.size());
            if (entry.key.compare(0, shared, pending, 0, shared) == 0) return true;
        }
        return false;
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
    std::size_t farthest_ = 0, pushed_ = 0;
};

}  // namespace

std::optional<std::string> encode(const Table& table, const Text& text, const TableEntry* ending,
                                  std::string& failure) {
    Text target = text;
    if (ending) target += ending->text;
    Encoder encoder(table, target, ending);
    if (auto bytes = encoder.shortest()) return bytes;
    if (encoder.tooCostly()) return failure = texts::table::kTooCostly, std::nullopt;
    const std::size_t at = std::min(encoder.farthest(), text.size() - (text.empty() ? 0 : 1));
    const std::string character = text.empty() ? "" : escaped(Text(1, text[at]));
    failure = texts::table::kCantSpell + character + texts::table::kAtPosition + std::to_string(at + 1);
    return std::nullopt;
}

}  // namespace glyphound
