// Writes the bundled sample ROM: made-up "code" bytes around a text table in
// which every character sits 63 above its ASCII value (so 'A' is 0x80), the
// way many games place their letters wherever the font tiles happen to be.
#include <cstdint>
#include <cstdio>
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

void appendFiller(std::vector<std::uint8_t>& rom, std::size_t count, std::uint32_t& state) {
    for (std::size_t i = 0; i < count; ++i) {
        state = state * 1664525u + 1013904223u;
        rom.push_back(static_cast<std::uint8_t>(state >> 24));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: %s output-file\n", argc > 0 ? argv[0] : "make_sample");
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

    std::FILE* file = std::fopen(argv[1], "wb");
    if (!file) return 1;
    const bool written = std::fwrite(rom.data(), 1, rom.size(), file) == rom.size();
    return std::fclose(file) == 0 && written ? 0 : 1;
}
