// Tile decoding, one row per format, from the check tiles of the formats'
// public descriptions and tiles made of their planes.
#include <gtest/gtest.h>

#include "engine/tiles.hpp"
#include "case_names.hpp"

namespace glyphound::testing {
namespace {

using namespace std::string_literals;
using std::string;

const string kNesHalf = "\x41\xC2\x44\x48\x10\x20\x40\x80\x01\x02\x04\x08\x16\x21\x42\x87";
const string kGameBoyTile = "\x3C\x7E\x42\x42\x42\x42\x42\x42\x7E\x5E\x7E\x0A\x7C\x56\x38\x7C";

struct TileRow {
    const char* what;
    const char* format;
    string bytes;
    string firstRow, lastRow;  // colour indices as digits
};

const TileRow kTiles[] = {
    {"NES, the half sign", "2bpp-nes", kNesHalf, "01000003", "30000222"},
    {"Game Boy", "2bpp-gb", kGameBoyTile, "02333320", "02333200"},
    {"1bpp, a row a byte", "1bpp", kNesHalf.substr(0, 8), "01000001", "10000000"},
    {"SNES, planes 0 and 1", "4bpp-snes", kGameBoyTile + string(16, '\0'), "02333320", "02333200"},
    {"SNES, planes 2 and 3", "4bpp-snes", string(16, '\0') + kGameBoyTile, "08CCCC80", "08CCC800"},
    {"GBA, the low nibble left", "4bpp-gba", "\x10\x32\x54\x76"s + string(24, '\0') + "\xBA\xDC\xFE\x0F",
     "01234567", "ABCDEFF0"},
};

void PrintTo(const TileRow& row, std::ostream* out) { *out << row.what; }

class Tiles : public ::testing::TestWithParam<TileRow> {};

TEST_P(Tiles, DecodeToColourIndices) {
    const TileRow& row = GetParam();
    const TileFormat format = tileFormatNamed(row.format);
    ASSERT_EQ(row.bytes.size(), tileBytes(format));
    const TilePixels pixels = decodeTile(format, reinterpret_cast<const std::uint8_t*>(row.bytes.data()));
    string first, last;
    for (std::size_t x = 0; x < kTileSide; ++x) {
        first += "0123456789ABCDEF"[pixels[x]];
        last += "0123456789ABCDEF"[pixels[7 * kTileSide + x]];
    }
    EXPECT_EQ(first, row.firstRow);
    EXPECT_EQ(last, row.lastRow);
}

INSTANTIATE_TEST_SUITE_P(Formats, Tiles, ::testing::ValuesIn(kTiles),
                         [](const auto& info) { return caseNameOf(info.param.what); });

}  // namespace
}  // namespace glyphound::testing
