#pragma once

// The classes of characters a search knows, each in the order the game's
// font holds it: A-Z, a-z and 0-9, and the orders the user adds.
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace glyphound {

// Code points from UTF-8; empty, with `valid` false, for malformed text.
std::u32string decodeUtf8(std::string_view text, bool& valid);
std::string encodeUtf8(char32_t character);

struct CharacterOrder {
    std::u32string characters;
    // Values are reported under the order's first character.
    std::string key() const { return encodeUtf8(characters.front()); }
};

// The built-in order of that name (hiragana, katakana, hiragana-basic,
// katakana-basic).
std::optional<CharacterOrder> builtInOrder(std::string_view name);
constexpr const char* kBuiltInOrderNames = "hiragana, katakana, hiragana-basic and katakana-basic";
// One order per non-empty line, spaces and tabs skipped; empty with
// `failure` set when the text is not UTF-8.
std::vector<CharacterOrder> parseOrders(std::string_view text, std::string& failure);

class Alphabet {
public:
    // Upper case, lower case and digits, always classes 0, 1 and 2.
    Alphabet();

    // Refused, with `failure` set, when a character is already in a class.
    bool add(const CharacterOrder& order, std::string& failure);

    struct Place {
        int order;
        int index;  // the character's distance from the order's first one
    };
    std::optional<Place> find(char32_t character) const;
    const std::vector<CharacterOrder>& orders() const { return orders_; }

private:
    std::vector<CharacterOrder> orders_;
    std::map<char32_t, Place> places_;
};

}  // namespace glyphound
