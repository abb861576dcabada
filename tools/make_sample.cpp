// Writes the bundled samples. The ROM: made-up "code" bytes around a text
// table in which every character sits 63 above its ASCII value (so 'A' is
// 0x80), the way many games place their letters wherever the font tiles
// happen to be. The kana sample: a message in 16-bit big-endian units with
// the hiragana in Unicode order from 0x2421, as JIS X 0208 has them. The
// sample with no word given: a game's messages in mixed case with 'A' at
// 0x0A and 'a' right after 'Z' at 0x24, the space at 0x00 and punctuation
// after the letters, between pseudo-random bytes and a padding of 0xFF.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kShift = 63;
constexpr std::uint8_t kEndOfMessage = 0xFF;

const char* const kMessages[] = {
    "HELLO TRAVELER.",
    "WELCOME TO THE CASTLE OF GLYPHS.",
    "THE KING IS WAITING FOR YOU.",
    "SAY HELLO TO THE GUARDS!",
};

const char* const kGameMessages[] = {
    "Welcome to the village of Glyphound. The road to the north is closed until the snow melts.",
    "Our blacksmith can mend your sword, but he asks for gold. Come back when you have enough.",
    "Have you seen the old tower? People say a dragon sleeps there. Nobody who went inside has come back.",
    "Thank you for rescuing my cat! Please take this key. It opens the gate behind the inn.",
};
constexpr std::uint8_t kUpperA = 0x0A, kLowerA = 0x24, kSpace = 0x00, kPadding = 0xFF;
constexpr const char* kPunctuation = ".,!?";
constexpr std::uint8_t kFirstPunctuation = 0x3E;

std::uint8_t gameUnit(char c) {
    if (c >= 'A' && c <= 'Z') return static_cast<std::uint8_t>(kUpperA + (c - 'A'));
    if (c >= 'a' && c <= 'z') return static_cast<std::uint8_t>(kLowerA + (c - 'a'));
    if (c == ' ') return kSpace;
    return static_cast<std::uint8_t>(kFirstPunctuation + (std::strchr(kPunctuation, c) - kPunctuation));
}

// こんにちは、ぼうけんしゃさん。 with the two punctuation marks at their JIS places.
const char16_t kKanaMessage[] = u"こんにちは、ぼうけんしゃさん。";
constexpr std::uint16_t kSmallA = 0x2421;

std::uint16_t jisUnit(char16_t c) {
    if (c == u'、') return 0x2122;
    if (c == u'。') return 0x2123;
    return static_cast<std::uint16_t>(kSmallA + (c - u'ぁ'));
}

bool writeFile(const char* name, const std::vector<std::uint8_t>& bytes) {
    std::FILE* file = std::fopen(name, "wb");
    if (!file) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

void appendFiller(std::vector<std::uint8_t>& rom, std::size_t count, std::uint32_t& state) {
    for (std::size_t i = 0; i < count; ++i) {
        state = state * 1664525u + 1013904223u;
        rom.push_back(static_cast<std::uint8_t>(state >> 24));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "Usage: %s sample.rom [kana.bin [noword.rom]]\n", argc > 0 ? argv[0] : "make_sample");
        return 1;
    }
    std::vector<std::uint8_t> rom;
    std::uint32_t state = 2026;
    appendFiller(rom, 512, state);
    for (const char* message : kMessages) {
        for (const char* c = message; *c; ++c)
            rom.push_back(static_cast<std::uint8_t>(*c + kShift));
        rom.push_back(kEndOfMessage);
    }
    appendFiller(rom, 1024 - rom.size(), state);
    if (!writeFile(argv[1], rom)) return 1;
    if (argc == 2) return 0;

    std::vector<std::uint8_t> kana;
    appendFiller(kana, 255, state);
    for (const char16_t* c = kKanaMessage; *c; ++c) {
        kana.push_back(static_cast<std::uint8_t>(jisUnit(*c) >> 8));
        kana.push_back(static_cast<std::uint8_t>(jisUnit(*c)));
    }
    appendFiller(kana, 512 - kana.size(), state);
    if (!writeFile(argv[2], kana)) return 1;
    if (argc == 3) return 0;

    std::vector<std::uint8_t> game;
    appendFiller(game, 768, state);
    for (const char* message : kGameMessages) {
        for (const char* c = message; *c; ++c) game.push_back(gameUnit(*c));
        game.push_back(kEndOfMessage);
    }
    game.resize(1536, kPadding);
    appendFiller(game, 512, state);
    return writeFile(argv[3], game) ? 0 : 1;
}
