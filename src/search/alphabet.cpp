#include "search/alphabet.hpp"

namespace glyphound {
namespace {

std::u32string range(char32_t first, char32_t last) {
    std::u32string characters;
    for (char32_t c = first; c <= last; ++c) characters += c;
    return characters;
}

// The 46 basic kana in gojuon order, as offsets from the first kana of the
// script: a i u e o, ka ... n, without small or voiced ones.
std::u32string basicKana(char32_t smallA) {
    static const unsigned char kOffsets[] = {
        1,  3,  5,  7,  9,  10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30, 32, 35, 37, 39, 41, 42, 43,
        44, 45, 46, 49, 52, 55, 58, 61, 62, 63, 64, 65, 67, 69, 71, 72, 73, 74, 75, 76, 78, 81, 82};
    std::u32string characters;
    for (unsigned char offset : kOffsets) characters += static_cast<char32_t>(smallA + offset);
    return characters;
}

}  // namespace

std::u32string decodeUtf8(std::string_view text, bool& valid) {
    std::u32string characters;
    valid = true;
    for (std::size_t at = 0; at < text.size();) {
        const auto lead = static_cast<unsigned char>(text[at]);
        const int length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
        if (length == 0 || at + length > text.size()) return valid = false, std::u32string();
        char32_t character = length == 1 ? lead : lead & (0x7F >> length);
        for (int k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[at + k]);
            if ((next >> 6) != 2) return valid = false, std::u32string();
            character = character << 6 | (next & 0x3F);
        }
        static const char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (character < kSmallest[length] || character > 0x10FFFF || (character >= 0xD800 && character < 0xE000))
            return valid = false, std::u32string();
        characters += character;
        at += length;
    }
    return characters;
}

std::string encodeUtf8(char32_t c) {
    if (c < 0x80) return {static_cast<char>(c)};
    if (c < 0x800) return {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 0x3F))};
    if (c < 0x10000)
        return {static_cast<char>(0xE0 | c >> 12), static_cast<char>(0x80 | (c >> 6 & 0x3F)),
                static_cast<char>(0x80 | (c & 0x3F))};
    return {static_cast<char>(0xF0 | c >> 18), static_cast<char>(0x80 | (c >> 12 & 0x3F)),
            static_cast<char>(0x80 | (c >> 6 & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
}

std::optional<CharacterOrder> builtInOrder(std::string_view name) {
    if (name == "hiragana") return CharacterOrder{range(0x3041, 0x3093)};
    if (name == "katakana") return CharacterOrder{range(0x30A1, 0x30F4)};
    if (name == "hiragana-basic") return CharacterOrder{basicKana(0x3041)};
    if (name == "katakana-basic") return CharacterOrder{basicKana(0x30A1)};
    return std::nullopt;
}

std::vector<CharacterOrder> parseOrders(std::string_view text, std::string& failure) {
    bool valid = true;
    const std::u32string characters = decodeUtf8(text, valid);
    if (!valid) {
        failure = std::string("not UTF-8 text");
        return {};
    }
    std::vector<CharacterOrder> orders(1);
    for (char32_t c : characters) {
        if (c == '\n' && !orders.back().characters.empty()) orders.emplace_back();
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') orders.back().characters += c;
    }
    if (orders.back().characters.empty()) orders.pop_back();
    return orders;
}

Alphabet::Alphabet() {
    std::string unused;
    for (const auto& [first, last] : {std::pair{U'A', U'Z'}, std::pair{U'a', U'z'}, std::pair{U'0', U'9'}})
        add({range(first, last)}, unused);
}

bool Alphabet::add(const CharacterOrder& order, std::string& failure) {
    const int number = static_cast<int>(orders_.size());
    std::map<char32_t, Place> places = places_;
    for (std::size_t index = 0; index < order.characters.size(); ++index) {
        if (!places.emplace(order.characters[index], Place{number, static_cast<int>(index)}).second) {
            failure = std::string("'") + encodeUtf8(order.characters[index]) + "' is in two orders";
            return false;
        }
    }
    places_ = std::move(places);
    orders_.push_back(order);
    return true;
}

std::optional<Alphabet::Place> Alphabet::find(char32_t character) const {
    const auto found = places_.find(character);
    if (found == places_.end()) return std::nullopt;
    return found->second;
}

}  // namespace glyphound
