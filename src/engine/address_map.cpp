#include "engine/address_map.hpp"

#include "dialogue/texts.hpp"
#include "engine/refusal.hpp"
#include "engine/values.hpp"

namespace glyphound {
namespace {

constexpr std::uint64_t kInesHeader = 16, kTrainer = 512, kCopierHeader = 512;
constexpr std::uint64_t kNesBank = 16 << 10, kNes8Bank = 8 << 10, kNesWindow = 0x8000, kNromPrg = 32 << 10;
constexpr std::uint64_t kGameBoyBank = 16 << 10;
constexpr std::uint64_t kLoRomBank = 32 << 10, kHiRomBank = 64 << 10;
// A GBA ROM's pointers lead into the cartridge at 0x08000000.
constexpr std::uint64_t kGbaBase = 0x08000000;

bool isInes(const std::string& header) { return header.size() >= kInesHeader && header.compare(0, 4, "NES\x1A") == 0; }

// "0x8000000": a number as a user types it.
std::string hexNumber(std::uint64_t value) {
    std::string digits;
    do digits.insert(digits.begin(), "0123456789abcdef"[value & 15]);
    while (value >>= 4);
    return "0x" + digits;
}

std::uint64_t mask(int bits) { return bits >= 64 ? UINT64_MAX : (std::uint64_t{1} << bits) - 1; }

// A distance stored in `bits`, as a signed number.
std::int64_t signedOf(std::uint64_t value, int bits) {
    const std::uint64_t sign = std::uint64_t{1} << (bits - 1);
    return static_cast<std::int64_t>((value ^ sign) - sign);
}

}  // namespace

std::string PointerFormat::name() const {
    const std::string text = std::to_string(bits) + (bigEndian ? " be" : " le");
    if (!split) return text;
    return text + " split " + offsetText(split->high) + (split->bank ? "," + offsetText(*split->bank) : "");
}

PointerFormat pointerFormatOf(const std::optional<std::string>& bits, const std::optional<std::string>& endian,
                              const std::optional<std::string>& split) {
    namespace text = texts::pointers;
    PointerFormat format;
    if (bits) {
        if (*bits != "16" && *bits != "24" && *bits != "32") throw Refusal(text::kBadWidth);
        format.bits = std::stoi(*bits);
    }
    if (endian && *endian != "le" && *endian != "be") throw Refusal(text::kBadEndian);
    format.bigEndian = endian == std::optional<std::string>("be");
    if (split) {
        if (format.bits == 32 || format.bigEndian) throw Refusal(text::kBadSplit);
        const std::size_t comma = split->find(',');
        const auto offset = [](const std::string& given) {
            const std::int64_t value = parseNumber(given, "--split");
            if (value < 0) throw Refusal(std::string("--split") + texts::command::kBadOffset);
            return static_cast<std::uint64_t>(value);
        };
        format.split = PointerFormat::Split{offset(split->substr(0, comma)), std::nullopt};
        if (comma != std::string::npos) format.split->bank = offset(split->substr(comma + 1));
        if (format.split->bank.has_value() != (format.bits == 24)) throw Refusal(text::kSplitArrays);
    }
    return format;
}

std::optional<AddressMap> AddressMap::named(const std::string& name, std::uint64_t size, const std::string& header,
                                            std::string& failure) {
    namespace text = texts::pointers;
    const std::string kind = name.substr(0, name.find(':'));
    std::optional<AddressMap> map;
    if (kind == "linear") {
        map = AddressMap(MapKind::Linear, size);
        if (name.size() > kind.size()) {
            const std::int64_t base = parseNumber(name.substr(kind.size() + 1), "--map linear:BASE");
            if (base < 0) return failure = text::kBadBase, std::nullopt;
            map->base_ = static_cast<std::uint64_t>(base);
        }
        map->length_ = size;
        return map;
    }
    if (name.size() != kind.size()) return failure = text::kUnknownMap + name, std::nullopt;
    if (kind == "relative") {
        map = AddressMap(MapKind::Relative, size);
        map->length_ = size;
    } else if (kind == "nes" || kind == "nes8") {
        if (!isInes(header)) return failure = text::kNotInes, std::nullopt;
        map = AddressMap(kind == "nes" ? MapKind::Nes : MapKind::Nes8, size);
        map->start_ = kInesHeader + ((static_cast<std::uint8_t>(header[6]) & 4) ? kTrainer : 0);
        map->length_ = static_cast<std::uint8_t>(header[4]) * kNesBank;
    } else if (kind == "gb") {
        map = AddressMap(MapKind::GameBoy, size);
        map->length_ = size;
    } else if (kind == "snes-lorom" || kind == "snes-hirom") {
        map = AddressMap(kind == "snes-lorom" ? MapKind::SnesLoRom : MapKind::SnesHiRom, size);
        map->start_ = size % 1024 == kCopierHeader ? kCopierHeader : 0;
        map->length_ = size - map->start_;
    } else {
        return failure = text::kUnknownMap + name, std::nullopt;
    }
    return map;
}

std::vector<AddressMap> AddressMap::all(std::uint64_t size, const std::string& header) {
    std::vector<AddressMap> maps;
    std::string ignored;
    for (const char* name : {"nes", "nes8", "gb", "snes-lorom", "snes-hirom", "relative", "linear"})
        if (auto map = named(name, size, header, ignored)) maps.push_back(*map);
    AddressMap gba(MapKind::Linear, size);
    gba.base_ = kGbaBase;
    gba.length_ = size;
    maps.push_back(gba);
    return maps;
}

std::string AddressMap::name() const {
    switch (kind_) {
        case MapKind::Linear:
            return base_ == 0 ? "linear" : "linear:" + hexNumber(base_);
        case MapKind::Nes:
            return "nes";
        case MapKind::Nes8:
            return "nes8";
        case MapKind::GameBoy:
            return "gb";
        case MapKind::SnesLoRom:
            return "snes-lorom";
        case MapKind::SnesHiRom:
            return "snes-hirom";
        case MapKind::Relative:
            return "relative";
    }
    return "";
}

std::optional<std::uint64_t> AddressMap::context(std::uint64_t at, const PointerFormat& format) const {
    switch (kind_) {
        case MapKind::Relative:
            return std::nullopt;
        case MapKind::Nes:
        case MapKind::Nes8:
            return length_ <= kNromPrg ? std::optional<std::uint64_t>(0) : bankStart(at);
        case MapKind::GameBoy:
            return std::max<std::uint64_t>(1, at / kGameBoyBank) * kGameBoyBank;
        case MapKind::SnesLoRom:
        case MapKind::SnesHiRom:
            return format.bits == 16 ? bankStart(at) : std::optional<std::uint64_t>(0);
        case MapKind::Linear:
            return 0;
    }
    return std::nullopt;
}

std::pair<std::uint64_t, std::uint64_t> AddressMap::valueRange(const PointerFormat& format) const {
    switch (kind_) {
        case MapKind::Linear:
            return {base_, base_ + size_ - 1};
        case MapKind::Nes:
        case MapKind::Nes8:
            return {kNesWindow, 0xFFFF};
        case MapKind::GameBoy:
            return {0, 2 * kGameBoyBank - 1};
        case MapKind::SnesLoRom:
            return {0x8000, format.bits == 16 ? 0xFFFF : 0xFFFFFF};
        default:
            return {0, mask(format.bits)};
    }
}

bool AddressMap::banked(const PointerFormat& format) const {
    switch (kind_) {
        case MapKind::Nes:
        case MapKind::Nes8:
            return length_ > kNromPrg;
        case MapKind::GameBoy:
            return true;
        case MapKind::SnesLoRom:
        case MapKind::SnesHiRom:
            return format.bits == 16;
        default:
            return false;
    }
}

std::vector<int> AddressMap::widths() const {
    switch (kind_) {
        case MapKind::Linear:
            return {16, 24, 32};
        case MapKind::Relative:
            return {16, 32};
        case MapKind::SnesLoRom:
        case MapKind::SnesHiRom:
            return {16, 24};
        default:
            return {16};
    }
}

std::optional<std::uint64_t> AddressMap::inFile(std::uint64_t offset) const {
    if (offset < start_ || offset - start_ >= length_ || offset >= size_) return std::nullopt;
    return offset;
}

std::uint64_t AddressMap::bankSize() const {
    switch (kind_) {
        case MapKind::Nes:
            return kNesBank;
        case MapKind::Nes8:
            return kNes8Bank;
        case MapKind::GameBoy:
            return kGameBoyBank;
        case MapKind::SnesLoRom:
            return kLoRomBank;
        case MapKind::SnesHiRom:
            return kHiRomBank;
        default:
            return 0;
    }
}

std::optional<std::uint64_t> AddressMap::bankStart(std::uint64_t at) const {
    if (at < start_ || at - start_ >= length_) return std::nullopt;
    return start_ + (at - start_) / bankSize() * bankSize();
}

std::optional<std::uint64_t> AddressMap::offsetOf(std::uint64_t value, std::uint64_t at, const PointerFormat& format) const {
    switch (kind_) {
        case MapKind::Linear:
            return value < base_ ? std::nullopt : inFile(value - base_);
        case MapKind::Relative: {
            const std::int64_t distance = signedOf(value, format.bits);
            if (distance < 0 && static_cast<std::uint64_t>(-distance) > at) return std::nullopt;
            return inFile(at + static_cast<std::uint64_t>(distance));
        }
        case MapKind::Nes:
        case MapKind::Nes8: {
            if (value < kNesWindow || value > 0xFFFF) return std::nullopt;
            // A small game's PRG fills 0x8000 on, mirrored where it is 16 KiB.
            if (length_ <= kNromPrg) return length_ == 0 ? std::nullopt : inFile(start_ + (value - kNesWindow) % length_);
            const auto bank = bankStart(at);
            return bank ? inFile(*bank + value % bankSize()) : std::nullopt;
        }
        case MapKind::GameBoy: {
            if (value < kGameBoyBank) return inFile(value);
            if (value >= 2 * kGameBoyBank) return std::nullopt;
            // Bank 0 leads to the bank the cartridge starts with, bank 1.
            const std::uint64_t bank = std::max<std::uint64_t>(1, at / kGameBoyBank);
            return inFile(bank * kGameBoyBank + value - kGameBoyBank);
        }
        case MapKind::SnesLoRom: {
            const std::uint64_t address = value & 0xFFFF;
            if (address < 0x8000) return std::nullopt;
            std::uint64_t bank = (value >> 16) & 0x7F;
            if (format.bits == 16) {
                const auto stored = bankStart(at);
                if (!stored) return std::nullopt;
                bank = (*stored - start_) / kLoRomBank;
            } else if ((value >> 16 & 0x7F) > 0x7D || value > 0xFFFFFF) {
                return std::nullopt;
            }
            return inFile(start_ + bank * kLoRomBank + address - 0x8000);
        }
        case MapKind::SnesHiRom: {
            if (format.bits == 16) {
                const auto stored = bankStart(at);
                return stored ? inFile(*stored + (value & 0xFFFF)) : std::nullopt;
            }
            const std::uint64_t bank = value >> 16, address = value & 0xFFFF;
            if (bank >= 0xC0 && bank <= 0xFF) return inFile(start_ + value - 0xC00000);
            if (bank >= 0x40 && bank <= 0x7D) return inFile(start_ + value - 0x400000);
            if ((bank <= 0x3F || (bank >= 0x80 && bank <= 0xBF)) && address >= 0x8000)
                return inFile(start_ + (bank & 0x3F) * kHiRomBank + address);
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<std::uint64_t> AddressMap::valueOf(std::uint64_t target, std::uint64_t at, std::uint64_t was,
                                                 const PointerFormat& format) const {
    if (!inFile(target)) return std::nullopt;
    std::optional<std::uint64_t> value;
    switch (kind_) {
        case MapKind::Linear:
            value = target + base_;
            break;
        case MapKind::Relative:
            value = (target - at) & mask(format.bits);
            if (static_cast<std::int64_t>(target - at) != signedOf(*value, format.bits)) return std::nullopt;
            break;
        case MapKind::Nes:
        case MapKind::Nes8:
            if (length_ <= kNromPrg) {
                // In the window the old value was in: a 16 KiB PRG shows twice.
                const std::uint64_t window = was - (was - kNesWindow) % length_;
                value = window + target - start_;
            } else {
                if (bankStart(at) != bankStart(target)) return std::nullopt;
                value = (was & ~(bankSize() - 1)) + (target - *bankStart(target));
            }
            break;
        case MapKind::GameBoy:
            if (target < kGameBoyBank) {
                value = target;
            } else {
                if (target / kGameBoyBank != std::max<std::uint64_t>(1, at / kGameBoyBank)) return std::nullopt;
                value = kGameBoyBank + target % kGameBoyBank;
            }
            break;
        case MapKind::SnesLoRom: {
            const std::uint64_t bank = (target - start_) / kLoRomBank, address = 0x8000 + (target - start_) % kLoRomBank;
            if (format.bits == 16) {
                if (bankStart(at) != bankStart(target)) return std::nullopt;
                value = address;
            } else {
                if (bank > 0x7D) return std::nullopt;
                value = ((bank | (was >> 16 & 0x80)) << 16) | address;
            }
            break;
        }
        case MapKind::SnesHiRom: {
            const std::uint64_t offset = target - start_, bank = offset >> 16, address = offset & 0xFFFF;
            const std::uint64_t wasBank = was >> 16;
            if (format.bits == 16) {
                if (bankStart(at) != bankStart(target)) return std::nullopt;
                value = address;
            } else if (wasBank >= 0x40 && wasBank <= 0x7D && offset < 0x3E0000) {
                value = 0x400000 + offset;
            } else if (wasBank < 0xC0 && (wasBank < 0x40 || wasBank > 0x7D) && address >= 0x8000 && bank <= 0x3F) {
                value = ((bank | (wasBank & 0x80)) << 16) | address;
            } else {
                // Every bank from 0xC0 shows all of its 64 KiB: where the old
                // value's mirror can't reach, a long pointer leads there.
                value = 0xC00000 + offset;
            }
            break;
        }
    }
    if (!value || *value > mask(format.bits) || offsetOf(*value, at, format) != target) return std::nullopt;
    return value;
}

std::uint64_t valueOfBytes(const std::uint8_t* bytes, const PointerFormat& format) {
    std::uint64_t value = 0;
    const std::size_t count = format.bytes();
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t place = format.bigEndian && !format.split ? k : count - 1 - k;
        value = value << 8 | bytes[place];
    }
    return value;
}

std::string bytesOfValue(std::uint64_t value, const PointerFormat& format) {
    std::string bytes(format.bytes(), '\0');
    for (std::size_t k = 0; k < bytes.size(); ++k) {
        const std::size_t place = format.bigEndian && !format.split ? bytes.size() - 1 - k : k;
        bytes[place] = static_cast<char>(value >> (8 * k));
    }
    return bytes;
}

AddressMap mapOf(const std::optional<std::string>& name, std::uint64_t size, const std::string& header) {
    std::string failure;
    auto map = AddressMap::named(name.value_or("linear"), size, header, failure);
    if (!map) throw Refusal(failure);
    return *map;
}

AddressMap mapOf(const std::optional<std::string>& name, const std::string& file) {
    return mapOf(name, file.size(), headerOf(file));
}

}  // namespace glyphound
