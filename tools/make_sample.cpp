// Writes the bundled samples. The ROM: made-up "code" bytes around a text
// table in which every character sits 63 above its ASCII value (so 'A' is
// 0x80), the way many games place their letters wherever the font tiles
// happen to be. The kana sample: a message in 16-bit big-endian units with
// the hiragana in Unicode order from 0x2421, as JIS X 0208 has them. The
// sample with no word given: a game's messages in mixed case with 'A' at
// 0x0A and 'a' right after 'Z' at 0x24, the space at 0x00 and punctuation
// after the letters, between pseudo-random bytes and a padding of 0xFF. Two
// fonts that break the alphabet's order: one that lacks the G, so every
// letter after F sits one lower, and one that holds its letters in the order
// they were drawn. A game for the NES whose messages a table of pointers
// leads to, with free space for a translation that grows.
#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <iterator>
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

// The pointed game: iNES, 32 KiB of PRG mapped at 0x8000, the messages in
// sample.rom's font from 0x1000, a table of pointers to them at 0x0800, and
// 2 KiB of 0xFF free at 0x6000 (offsets in the PRG).
const char* const kPointedMessages[] = {
    "HELLO TRAVELER.", "THE BRIDGE IS OUT.", "BUY A SWORD?", "WELCOME TO THE CASTLE OF GLYPHS.", "GOOD LUCK!",
    "THE KING IS WAITING FOR YOU.",
};
constexpr std::size_t kInesHeader = 16, kPrg = 0x8000, kMessagesAt = 0x1000, kPointersAt = 0x0800;
constexpr std::size_t kFreeAt = 0x6000, kFreeSize = 0x800;
constexpr std::uint16_t kPrgWindow = 0x8000;

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

// A title screen's texts, in a font without G, from 0xA0; the space at 0x00.
const char* const kTitleTexts[] = {"PRESS START", "NEW HERO", "CONTINUE", "OPTIONS", "HERO OF THE NORTH"};
constexpr std::uint8_t kFontWithoutG = 0xA0;

std::uint8_t unitWithoutG(char c) {
    if (c == ' ') return 0x00;
    return static_cast<std::uint8_t>(kFontWithoutG + (c - 'A') - (c > 'G' ? 1 : 0));
}

// A font drawn in the order of a pangram's letters, from 0x40; the space at
// 0x7F and the full stop at 0x7E.
const char* const kDrawnTexts[] = {"THE DOOR IS LOCKED.", "FIND THE SILVER KEY IN THE CELLAR.", "THE KEY OPENS IT."};
constexpr const char* kDrawnOrder = "THEQUICKBROWNFXJMPSVLAZYDG";

std::uint8_t drawnUnit(char c) {
    if (c == ' ') return 0x7F;
    if (c == '.') return 0x7E;
    return static_cast<std::uint8_t>(0x40 + (std::strchr(kDrawnOrder, c) - kDrawnOrder));
}

bool writeFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::FILE* file = std::fopen(name.c_str(), "wb");
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

// Messages in a font, each ended by 0xFF, between pseudo-random bytes.
std::vector<std::uint8_t> messages(const char* const* texts, std::size_t count, std::uint8_t (*unit)(char),
                                   std::uint32_t& state) {
    std::vector<std::uint8_t> rom;
    appendFiller(rom, 256, state);
    for (std::size_t message = 0; message < count; ++message) {
        for (const char* c = texts[message]; *c; ++c) rom.push_back(unit(*c));
        rom.push_back(kEndOfMessage);
    }
    appendFiller(rom, 512 - rom.size(), state);
    return rom;
}

std::vector<std::uint8_t> pointedGame(std::uint32_t& state) {
    std::vector<std::uint8_t> nes = {'N', 'E', 'S', 0x1A, kPrg / 0x4000, 0};
    nes.resize(kInesHeader, 0);
    appendFiller(nes, kPrg, state);
    std::size_t at = kMessagesAt;
    for (std::size_t message = 0; message < std::size(kPointedMessages); ++message) {
        const auto value = static_cast<std::uint16_t>(kPrgWindow + at);
        nes[kInesHeader + kPointersAt + 2 * message] = static_cast<std::uint8_t>(value);
        nes[kInesHeader + kPointersAt + 2 * message + 1] = static_cast<std::uint8_t>(value >> 8);
        for (const char* c = kPointedMessages[message]; *c; ++c) nes[kInesHeader + at++] = static_cast<std::uint8_t>(*c + kShift);
        nes[kInesHeader + at++] = kEndOfMessage;
    }
    std::fill(nes.begin() + kInesHeader + kFreeAt, nes.begin() + kInesHeader + kFreeAt + kFreeSize, 0xFF);
    return nes;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: %s FOLDER\n", argc > 0 ? argv[0] : "make_sample");
        return 1;
    }
    const std::string folder = std::string(argv[1]) + "/";
    std::vector<std::uint8_t> rom;
    std::uint32_t state = 2026;
    appendFiller(rom, 512, state);
    for (const char* message : kMessages) {
        for (const char* c = message; *c; ++c)
            rom.push_back(static_cast<std::uint8_t>(*c + kShift));
        rom.push_back(kEndOfMessage);
    }
    appendFiller(rom, 1024 - rom.size(), state);

    std::vector<std::uint8_t> kana;
    appendFiller(kana, 255, state);
    for (const char16_t* c = kKanaMessage; *c; ++c) {
        kana.push_back(static_cast<std::uint8_t>(jisUnit(*c) >> 8));
        kana.push_back(static_cast<std::uint8_t>(jisUnit(*c)));
    }
    appendFiller(kana, 512 - kana.size(), state);

    std::vector<std::uint8_t> game;
    appendFiller(game, 768, state);
    for (const char* message : kGameMessages) {
        for (const char* c = message; *c; ++c) game.push_back(gameUnit(*c));
        game.push_back(kEndOfMessage);
    }
    game.resize(1536, kPadding);
    appendFiller(game, 512, state);

    const auto gaps = messages(kTitleTexts, std::size(kTitleTexts), unitWithoutG, state);
    const auto drawn = messages(kDrawnTexts, std::size(kDrawnTexts), drawnUnit, state);
    const auto pointed = pointedGame(state);
    const bool written = writeFile(folder + "sample.rom", rom) && writeFile(folder + "kana.bin", kana) &&
                         writeFile(folder + "noword.rom", game) && writeFile(folder + "gaps.rom", gaps) &&
                         writeFile(folder + "drawn.rom", drawn) && writeFile(folder + "pointers.nes", pointed);
    return written ? 0 : 1;
}
