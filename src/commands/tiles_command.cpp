#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb/stb_image_write.h>

#include "commands/command_options.hpp"
#include "dialogue/texts.hpp"
#include "engine/tiles.hpp"

namespace glyphound::commands {
namespace {

namespace text = texts::command;

// An image past this many pixels is more than a viewer opens: a whole ROM
// of tiles is far less, a file of a gigabyte far more.
constexpr std::uint64_t kMostPixels = std::uint64_t{1} << 28;

// The bytes of the tiles asked for: from `start`, `count` tiles or up to
// the end; a tile cut by the end is left out.
std::vector<std::uint8_t> tileBytesOf(ByteSource& source, std::uint64_t start, std::uint64_t most, bool& readFailed) {
    std::vector<std::uint8_t> bytes;
    if (!source.skip(start)) {
        readFailed = true;
        return bytes;
    }
    std::uint8_t block[64 * 1024];
    while (bytes.size() < most) {
        const ReadResult result = source.read(block, static_cast<std::size_t>(std::min<std::uint64_t>(sizeof block, most - bytes.size())));
        readFailed = result.failed;
        if (result.failed || result.count == 0) break;
        bytes.insert(bytes.end(), block, block + result.count);
    }
    return bytes;
}

void appendPng(void* context, void* data, int size) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), static_cast<std::size_t>(size));
}

}  // namespace

int runTiles(const TilesOptions& options, CommandIo& io) {
    if (options.operands.size() != 1) throw UsageError(text::kTilesOperands);
    const TileFormat format = tileFormatNamed(options.format);
    const std::uint64_t start = numberIn(options.start, "--start", 0, 0, INT64_MAX, text::kBadOffset);
    const std::uint64_t count = numberIn(options.count, "--count", kMostPixels, 1, kMostPixels, text::kBadCount);
    TileSheet sheet;
    sheet.columns = numberIn(options.columns, "--columns", 16, 1, 1024, text::kBadColumns);
    sheet.scale = numberIn(options.scale, "--scale", 1, 1, 16, text::kBadScale);
    // Claimed before any file is read, so that neither the input nor the
    // table can be the image.
    CommandOutput output = io.createOutput(options.output);
    if (!output) return kError;
    std::optional<Table> table;
    if (!options.table.empty()) table = loadTable(options.table, io);
    sheet.table = table ? &*table : nullptr;
    const std::string& name = options.operands.front();
    auto source = io.openInput(name);
    if (!source) return kError;
    const std::uint64_t pixelsPerTile = kTileSide * kTileSide * sheet.scale * sheet.scale * (table ? 3 : 1);
    const std::uint64_t most = std::min(count, kMostPixels / pixelsPerTile + 1) * tileBytes(format);
    bool readFailed = false;
    const std::vector<std::uint8_t> bytes = tileBytesOf(*source, start, most, readFailed);
    if (readFailed) {
        io.reportFile(name, readFailure(*source));
        return kError;
    }
    if (bytes.size() < tileBytes(format)) io.fail(name + text::kNoTile);
    if (bytes.size() / tileBytes(format) * pixelsPerTile > kMostPixels) io.fail(name + text::kTooManyTiles);
    const GreyImage image = drawTiles(bytes.data(), bytes.size(), format, sheet);
    std::string png;
    const int width = static_cast<int>(image.width), height = static_cast<int>(image.height);
    if (!stbi_write_png_to_func(appendPng, &png, width, height, 1, image.pixels.data(), width))
        io.fail(text::kPngFailed);
    output->print(png);
    return output->close() ? kSuccess : io.failWrite(options.output, *output);
}

}  // namespace glyphound::commands
