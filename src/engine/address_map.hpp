#pragma once

// How a game turns the numbers it stores into file offsets: the consoles'
// address mappings, and the forms a pointer is stored in.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace glyphound {

// A pointer's form: its width, byte order, and for a split table where the
// arrays of its high bytes and, for 24 bits, its bank bytes start.
struct PointerFormat {
    int bits = 16;  // 16, 24 or 32
    bool bigEndian = false;
    struct Split {
        std::uint64_t high = 0;
        std::optional<std::uint64_t> bank;
    };
    std::optional<Split> split;
    std::size_t bytes() const { return static_cast<std::size_t>(bits / 8); }
    // "16 le", "24 le split 0x1234,0x5678"
    std::string name() const;
};

// The form `--ptr`, `--endian` and `--split HIGH[,BANK]` give, as a user
// types them; throws Refusal in the commands' words.
PointerFormat pointerFormatOf(const std::optional<std::string>& bits, const std::optional<std::string>& endian,
                              const std::optional<std::string>& split);

enum class MapKind { Linear, Nes, Nes8, GameBoy, SnesLoRom, SnesHiRom, Relative };

class AddressMap {
public:
    // `linear[:BASE]`, `nes`, `nes8`, `gb`, `snes-lorom`, `snes-hirom` or
    // `relative`, for a file of `size` bytes that starts with `header` (its
    // first 16 bytes, for the iNES header); empty, with `failure` set, for
    // anything else.
    static std::optional<AddressMap> named(const std::string& name, std::uint64_t size, const std::string& header,
                                           std::string& failure);
    // Every mapping that `auto` tries on such a file.
    static std::vector<AddressMap> all(std::uint64_t size, const std::string& header);

    // The file offset that `value`, stored at `at`, leads to; none where it
    // leads nowhere in the file.
    std::optional<std::uint64_t> offsetOf(std::uint64_t value, std::uint64_t at, const PointerFormat& format) const;
    // The value that, stored at `at` in `format`, leads to `target`, in the
    // same window as `was` leads to; none where no such value reaches it.
    std::optional<std::uint64_t> valueOf(std::uint64_t target, std::uint64_t at, std::uint64_t was,
                                         const PointerFormat& format) const;
    // Pointers stored at places of one context lead to the same offsets by
    // the same values, as one stored at the context's offset does: the
    // start of the bank they are stored in, for a map whose short
    // pointers lead within their bank; none for a map whose pointers lead
    // by distance.
    std::optional<std::uint64_t> context(std::uint64_t at, const PointerFormat& format) const;
    // The lowest and highest values that may lead into the file: a search
    // passes over the others without mapping them.
    std::pair<std::uint64_t, std::uint64_t> valueRange(const PointerFormat& format) const;
    // Whether pointers in this format reach only the bank they are stored in.
    bool banked(const PointerFormat& format) const;
    // The widths its pointers come in, as `auto` tries them.
    std::vector<int> widths() const;
    // As `--map` takes it: "linear:0x8000000", "nes".
    std::string name() const;
    MapKind kind() const { return kind_; }

    AddressMap() = default;

private:
    AddressMap(MapKind kind, std::uint64_t size) : kind_(kind), size_(size) {}
    std::optional<std::uint64_t> inFile(std::uint64_t offset) const;
    // The bank a pointer stored at `at` sits in, and where that bank starts.
    std::uint64_t bankSize() const;
    std::optional<std::uint64_t> bankStart(std::uint64_t at) const;

    MapKind kind_ = MapKind::Linear;
    std::uint64_t size_ = 0;
    std::uint64_t base_ = 0;    // linear
    std::uint64_t start_ = 0;   // where the mapped data starts: past a header, a trainer or a copier header
    std::uint64_t length_ = 0;  // the mapped data's length (NES: the PRG banks)
};

// The value of a pointer whose bytes, in file order, are `bytes`, and the
// bytes of a value; for a split table, the bytes from each array in order,
// low, high, bank.
std::uint64_t valueOfBytes(const std::uint8_t* bytes, const PointerFormat& format);
std::string bytesOfValue(std::uint64_t value, const PointerFormat& format);

// The first 16 bytes of a file, where a console's header says how it maps.
inline std::string headerOf(const std::string& file) { return file.substr(0, 16); }
// The mapping `--map` names, linear when none; throws Refusal for a name
// that is none.
AddressMap mapOf(const std::optional<std::string>& name, std::uint64_t size, const std::string& header);
AddressMap mapOf(const std::optional<std::string>& name, const std::string& file);

}  // namespace glyphound
