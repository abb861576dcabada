#include "engine/tiles.hpp"

#include <stb/stb_easy_font.h>

#include <algorithm>
#include <cstring>

#include "dialogue/texts.hpp"
#include "engine/refusal.hpp"
#include "engine/values.hpp"

namespace glyphound {
namespace {

struct FormatInfo {
    const char* name;
    TileFormat format;
    int bits;
};
constexpr FormatInfo kFormats[] = {
    {"1bpp", TileFormat::Bpp1, 1}, {"2bpp-nes", TileFormat::Nes, 2}, {"2bpp-gb", TileFormat::GameBoy, 2},
    {"4bpp-snes", TileFormat::Snes, 4}, {"4bpp-gba", TileFormat::Gba, 4},
};

// The leftmost pixel is a byte's high bit in every planar format.
int bit(std::uint8_t byte, std::size_t x) { return (byte >> (7 - x)) & 1; }

// The band under a tile holds one line of the little font, which stands in
// a cell 10 units high and at most 7 wide.
constexpr std::size_t kLabelHeight = 10;
constexpr std::uint8_t kInk = 255;

// Fills the rectangle from (x0, y0) to before (x1, y1), cut at the image's
// edges and at `right`, the end of the tile's cell.
void fill(GreyImage& image, std::size_t x0, std::size_t y0, std::size_t x1, std::size_t y1, std::size_t right) {
    x1 = std::min({x1, right, image.width});
    y1 = std::min(y1, image.height);
    for (std::size_t y = y0; y < y1; ++y)
        for (std::size_t x = x0; x < x1; ++x) image.pixels[y * image.width + x] = kInk;
}

// A box for a character that the little font lacks: the outline of a
// capital's cell.
void drawBox(GreyImage& image, std::size_t x, std::size_t y, std::size_t scale, std::size_t right) {
    const std::size_t w = 5 * scale, h = 7 * scale;
    fill(image, x, y, x + w, y + scale, right);
    fill(image, x, y + h - scale, x + w, y + h, right);
    fill(image, x, y, x + scale, y + h, right);
    fill(image, x + w - scale, y, x + w, y + h, right);
}

// One character of the little font, whose quads come four corners to a
// quad, 16 bytes to a corner: x and y as floats first.
std::size_t drawCharacter(GreyImage& image, char character, std::size_t x, std::size_t y, std::size_t scale,
                          std::size_t right) {
    char text[2] = {character, 0};
    char vertices[4096];
    const int quads = stb_easy_font_print(0, 0, text, nullptr, vertices, sizeof vertices);
    const auto corner = [&](int quad, int which, int axis) {
        float value;
        std::copy_n(vertices + (quad * 4 + which) * 16 + axis * 4, sizeof value, reinterpret_cast<char*>(&value));
        return static_cast<std::size_t>(value) * scale;
    };
    for (int quad = 0; quad < quads; ++quad)
        fill(image, x + corner(quad, 0, 0), y + corner(quad, 0, 1), x + corner(quad, 2, 0), y + corner(quad, 2, 1), right);
    return static_cast<std::size_t>(stb_easy_font_width(text)) * scale;
}

// The entry a tile's number is the key of, if any.
const TableEntry* entryOfTile(const Table& table, std::size_t number) {
    if (number > 0xFFFF) return nullptr;
    std::string key;
    if (number >= 256) key += static_cast<char>(number >> 8);
    key += static_cast<char>(number & 0xFF);
    return table.withKey(key);
}

void drawLabel(GreyImage& image, const Text& label, std::size_t x, std::size_t y, std::size_t scale,
               std::size_t right) {
    for (const char32_t character : label) {
        if (x >= right) return;
        if (character > U' ' && character < 0x7F) {
            x += drawCharacter(image, static_cast<char>(character), x, y, scale, right);
        } else if (character == U' ') {
            x += 6 * scale;
        } else {
            drawBox(image, x, y, scale, right);
            x += 6 * scale;
        }
    }
}

}  // namespace

TileFormat tileFormatNamed(const std::string& name) {
    for (const FormatInfo& info : kFormats)
        if (name == info.name) return info.format;
    throw Refusal(texts::command::kBadTileFormat);
}

int tileBits(TileFormat format) {
    for (const FormatInfo& info : kFormats)
        if (format == info.format) return info.bits;
    return 1;
}

std::size_t tileBytes(TileFormat format) { return static_cast<std::size_t>(tileBits(format)) * kTileSide; }

TilePixels decodeTile(TileFormat format, const std::uint8_t* bytes) {
    TilePixels pixels{};
    for (std::size_t y = 0; y < kTileSide; ++y) {
        for (std::size_t x = 0; x < kTileSide; ++x) {
            int index = 0;
            switch (format) {
                case TileFormat::Bpp1: index = bit(bytes[y], x); break;
                case TileFormat::Nes: index = bit(bytes[y], x) | bit(bytes[8 + y], x) << 1; break;
                case TileFormat::GameBoy: index = bit(bytes[2 * y], x) | bit(bytes[2 * y + 1], x) << 1; break;
                case TileFormat::Snes:
                    index = bit(bytes[2 * y], x) | bit(bytes[2 * y + 1], x) << 1 | bit(bytes[16 + 2 * y], x) << 2 |
                            bit(bytes[17 + 2 * y], x) << 3;
                    break;
                case TileFormat::Gba: index = bytes[4 * y + x / 2] >> (x % 2 * 4) & 15; break;
            }
            pixels[y * kTileSide + x] = static_cast<std::uint8_t>(index);
        }
    }
    return pixels;
}

std::string tileKey(std::size_t number) {
    if (number > 0xFFFF) return "";
    return number < 256 ? hexDigits(static_cast<std::uint32_t>(number))
                        : hexDigits(static_cast<std::uint32_t>(number & 0xFFFF), Width::Big16);
}

std::string tileLabel(const Table& table, std::size_t number) {
    const TableEntry* entry = entryOfTile(table, number);
    return entry ? plain(entry->text) : "";
}

std::optional<std::uint64_t> nesCharacterData(const std::uint8_t* file, std::uint64_t size) {
    constexpr std::uint64_t kHeader = 16, kTrainer = 512, kPrgBank = 16 << 10;
    if (size < kHeader || std::memcmp(file, "NES\x1A", 4) != 0 || file[5] == 0) return std::nullopt;
    const std::uint64_t start = kHeader + (file[6] & 4 ? kTrainer : 0) + file[4] * kPrgBank;
    if (start >= size) return std::nullopt;
    return start;
}

GreyImage drawTiles(const std::uint8_t* bytes, std::size_t size, TileFormat format, const TileSheet& sheet) {
    const std::size_t count = size / tileBytes(format), columns = std::max<std::size_t>(sheet.columns, 1);
    const std::size_t rows = (count + columns - 1) / columns, side = kTileSide * sheet.scale;
    const std::size_t cellHeight = side + (sheet.table ? kLabelHeight * sheet.scale : 0);
    GreyImage image{columns * side, rows * cellHeight, {}};
    image.pixels.assign(image.width * image.height, 0);
    const int top = (1 << tileBits(format)) - 1;
    for (std::size_t tile = 0; tile < count; ++tile) {
        const std::size_t left = tile % columns * side, y0 = tile / columns * cellHeight;
        const TilePixels pixels = decodeTile(format, bytes + tile * tileBytes(format));
        for (std::size_t y = 0; y < side; ++y)
            for (std::size_t x = 0; x < side; ++x)
                image.pixels[(y0 + y) * image.width + left + x] = static_cast<std::uint8_t>(
                    pixels[y / sheet.scale * kTileSide + x / sheet.scale] * 255 / top);
        const TableEntry* entry = sheet.table ? entryOfTile(*sheet.table, tile) : nullptr;
        if (entry) drawLabel(image, entry->text, left, y0 + side, sheet.scale, left + side);
    }
    return image;
}

}  // namespace glyphound
