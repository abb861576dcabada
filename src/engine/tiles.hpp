#pragma once

// The bytes of a file seen as 8x8 tiles, the way consoles store fonts: each
// pixel a colour index, several planes or nibbles to a row.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/table.hpp"

namespace glyphound {

enum class TileFormat { Bpp1, Nes, GameBoy, Snes, Gba };

// "1bpp", "2bpp-nes", "2bpp-gb", "4bpp-snes", "4bpp-gba"; throws Refusal
// for any other name.
TileFormat tileFormatNamed(const std::string& name);
std::size_t tileBytes(TileFormat format);
int tileBits(TileFormat format);

constexpr std::size_t kTileSide = 8;
using TilePixels = std::array<std::uint8_t, kTileSide * kTileSide>;
// The colour indices of the tile at `bytes` (tileBytes of them), row by row.
TilePixels decodeTile(TileFormat format, const std::uint8_t* bytes);

// A tile's key in a table is its number in the view, as the game's text
// numbers its tiles: one byte below 256, two (high first, as a table writes
// them) up to 0xFFFF. The key in hexadecimal, empty past 0xFFFF:
std::string tileKey(std::size_t number);
// What the table reads that key as; empty when no entry has it.
std::string tileLabel(const Table& table, std::size_t number);

// Where the tiles of an NES file in the iNES format start, after its header,
// trainer and PRG banks; none for another file, or one with no CHR banks.
std::optional<std::uint64_t> nesCharacterData(const std::uint8_t* file, std::uint64_t size);

struct TileSheet {
    std::size_t columns = 16;
    std::size_t scale = 1;
    const Table* table = nullptr;  // each tile's text drawn under it
};

struct GreyImage {
    std::size_t width = 0, height = 0;
    std::vector<std::uint8_t> pixels;  // row by row, one byte a pixel
};

// The whole tiles of `bytes`, in file order, `columns` to a row, each pixel
// `scale` pixels square and its colour index a grey level spread evenly from
// black to white; a last row that is not full is black. With a table, a band
// under each tile holds its text in white: a box stands for a character
// outside printable ASCII, and text wider than the tile is cut.
GreyImage drawTiles(const std::uint8_t* bytes, std::size_t size, TileFormat format, const TileSheet& sheet);

}  // namespace glyphound
