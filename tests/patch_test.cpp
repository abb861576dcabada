// Patches: ones computed by hand from the formats apply exactly, and every
// patch made applies to give the file it was made from, whatever changed.
#include <gtest/gtest.h>

#include <random>

#include "engine/patch.hpp"
#include "engine/refusal.hpp"
#include "io/memory_source.hpp"
#include "memory_system.hpp"

namespace glyphound::testing {
namespace {

using namespace std::string_literals;
using std::string;

// The result of `patch` on `original`, or the problem, as "!" and its words:
// the same whether the original's size is known before it is read, as a
// file's is, and checked as the result is made, or neither.
string applied(const string& patch, const string& original) {
    string outcomes[2];
    for (const bool sized : {false, true}) {
        auto result = std::make_shared<string>();
        OutputStream out(std::make_unique<MemorySink>(result), OutputOptions{});
        const OpenOriginal open = [&]() -> std::unique_ptr<ByteSource> {
            if (sized) return std::make_unique<glyphound::MemorySource>(original);
            return std::make_unique<MemorySource>(original, 4096);
        };
        try {
            const Applied outcome = Patch(patch).apply(open, out, {false, false, sized, {}});
            out.close();
            outcomes[sized] = outcome.failure == Applied::Failure::None ? *result : "!" + outcome.problem;
        } catch (const Refusal& refusal) {
            outcomes[sized] = "!"s + refusal.what();
        }
    }
    EXPECT_EQ(outcomes[true], outcomes[false]) << "known size against a stream";
    return outcomes[false];
}

TEST(Crc32, HasTheCheckValueAndTheSameValueInEveryWidth) {
    for (const VectorWidth width : {VectorWidth::Scalar, VectorWidth::Best}) {
        Crc32 crc;
        crc.add(reinterpret_cast<const std::uint8_t*>("123456789"), 9, width);
        EXPECT_EQ(crc.value(), 0xCBF43926u);
    }
    std::mt19937 random(3);
    std::vector<std::uint8_t> bytes(5000);
    for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
    for (std::size_t length = 0; length < bytes.size(); length += 1 + length / 8)
        for (const VectorWidth width : {VectorWidth::Bits128, VectorWidth::Best}) {
            Crc32 folded, scalar;
            folded.add(bytes.data() + length % 7, length - length % 7, width);
            scalar.add(bytes.data() + length % 7, length - length % 7, VectorWidth::Scalar);
            EXPECT_EQ(folded.value(), scalar.value()) << length;
        }
}

// Each record kind of each format once, written out byte by byte; the CRC32s
// come from zlib.
struct HandPatch {
    const char* what;
    string patch, original, result;
};

const string kOriginal = "ABCDEFGHIJ";

// Bytes that don't repeat within a short shift, for long copies.
string counting(std::size_t size) {
    string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
    return bytes;
}
const string kLong = counting(1536 << 10);
const HandPatch kHandPatches[] = {
    {"IPS record", "PATCH\x00\x00\x02\x00\x03xyzEOF"s, kOriginal, "ABxyzFGHIJ"},
    {"IPS run", "PATCH\x00\x00\x01\x00\x00\x00\x04-EOF"s, kOriginal, "A----FGHIJ"},
    {"IPS record past the end, after zeros", "PATCH\x00\x00\x0C\x00\x02yzEOF"s, kOriginal, kOriginal + "\0\0yz"s},
    {"IPS cut short", "PATCH\x00\x00\x00\x00\x01" "aEOF\x00\x00\x04"s, kOriginal, "aBCD"},
    {"IPS records overlapping, the later wins", "PATCH\x00\x00\x01\x00\x02xx\x00\x00\x02\x00\x00\x00\x02=EOF"s, kOriginal,
     "Ax==EFGHIJ"},
    {"UPS run of changes", "UPS1\x8a\x8a\x82\x20\x20\x00\x05\x6d\x1e\x32\xcf\x36\xd5\x04\xb9\x4a\x0f\xf2"s, kOriginal,
     "ABcdEFGHIJ"},
    {"UPS backwards", "UPS1\x8a\x8a\x82\x20\x20\x00\x05\x6d\x1e\x32\xcf\x36\xd5\x04\xb9\x4a\x0f\xf2"s, "ABcdEFGHIJ",
     kOriginal},
    {"UPS longer, past the original's end", "UPS1\x8a\x8c\x8a\x21\x21\x00\x05\x6d\x1e\x32\xfc\xcc\x5b\xcf\xd0\x58\xd1\x89"s,
     kOriginal, kOriginal + "!!"},
    {"UPS shorter", "UPS1\x8a\x88\x88\x49\x4a\x00\x05\x6d\x1e\x32\x1c\xb6\xdc\x68\x5a\xb0\x2a\xd5"s, kOriginal, "ABCDEFGH"},
    {"UPS shorter, backwards", "UPS1\x8a\x88\x88\x49\x4a\x00\x05\x6d\x1e\x32\x1c\xb6\xdc\x68\x5a\xb0\x2a\xd5"s, "ABCDEFGH",
     kOriginal},
    {"UPS to a file of its size that it is not for",
     "UPS1\x8a\x8a\x82\x20\x20\x00\x05\x6d\x1e\x32\xcf\x36\xd5\x04\xb9\x4a\x0f\xf2"s, "ABCDEFGHIZ",
     "!this patch is for a file of CRC32 0x321E6D05 and 10 bytes; this one has CRC32 0x2FA97D61 and 10 bytes"},
    {"UPS shorter, to a file of neither size",
     "UPS1\x8a\x88\x88\x49\x4a\x00\x05\x6d\x1e\x32\x1c\xb6\xdc\x68\x5a\xb0\x2a\xd5"s, "ABCDEFGHI",
     "!this patch is for a file of CRC32 0x321E6D05 and 10 bytes; this one has CRC32 0xC96B9640 and 9 bytes"},
    {"BPS SourceRead and TargetRead",
     "BPS1\x8a\x8a\x80\x84\x89xyz\x90\x05\x6d\x1e\x32\xc4\x53\x21\xd6\x47\x91\x6c\x8e"s, kOriginal, "ABxyzFGHIJ"},
    {"BPS to a shorter file, that its actions would read past",
     "BPS1\x8a\x8a\x80\x84\x89xyz\x90\x05\x6d\x1e\x32\xc4\x53\x21\xd6\x47\x91\x6c\x8e"s, "ABCDEFGHI",
     "!this patch is for a file of CRC32 0x321E6D05 and 10 bytes; this one has CRC32 0xC96B9640 and 9 bytes"},
    {"BPS SourceCopy on and back", "BPS1\x8a\x8a\x80\x92\x8a\x92\x95\x05\x6d\x1e\x32\x6f\x5c\x04\xfb\x12\xba\x6b\xb1"s,
     kOriginal, "FGHIJABCDE"},
    {"BPS TargetCopy over what it writes", "BPS1\x8a\x8a\x80\x80\xa3\x80\x05\x6d\x1e\x32\xcf\xd0\x8e\x47\xf8\xb2\x56\x50"s,
     kOriginal, "AAAAAAAAAA"},
    {"BPS metadata and numbers of two bytes",
     "BPS1\x8a\x02\x80\x82hi\xa4\x5f\x82\x92\x05\x6d\x1e\x32\x26\x33\x70\xad\x7e\x62\xf8\x7d"s, kOriginal,
     kOriginal + string(120, 'J')},
    {"BPS TargetCopy of 512 KiB from 768 KiB on, after 1.5 MiB",
     "BPS1\x00\x7f\xde\x00\x7f\xfe\x80\x7c\x7e\x7e\x81\x7f\x7e\xfe\x00\x7f\xde\x72\x47\x71\x80\xf7\x4e\x5d\x3b\x37\x62\x9b\x16"s,
     kLong, kLong + kLong.substr(768 << 10, 512 << 10)},
};

TEST(Patches, MadeByHandApplyExactly) {
    for (const HandPatch& hand : kHandPatches) EXPECT_EQ(applied(hand.patch, hand.original), hand.result) << hand.what;
}

// A disk with no room left.
struct FullSink : ByteSink {
    FullSink() { failure_ = "No space left on device"; }
    bool write(const std::uint8_t*, std::size_t) override { return false; }
};

// An original the patch is not for: refused before a byte of the result
// reaches a stream, and, where the result is checked as it is made, refused
// for what it is even where writing failed too.
TEST(Patches, AFileTheyAreNotForIsRefusedFirstOrForWhatItIs) {
    const string wrong = "ABCDEFGHIZ";
    for (const string& patch : {"UPS1\x8a\x8a\x82\x20\x20\x00\x05\x6d\x1e\x32\xcf\x36\xd5\x04\xb9\x4a\x0f\xf2"s,
                                "BPS1\x8a\x8a\x80\x84\x89xyz\x90\x05\x6d\x1e\x32\xc4\x53\x21\xd6\x47\x91\x6c\x8e"s})
        for (const bool checkAsMade : {false, true}) {
            SCOPED_TRACE(patch.substr(0, 4) + (checkAsMade ? " as made" : " first"));
            auto written = std::make_shared<string>();
            std::unique_ptr<ByteSink> sink = std::make_unique<FullSink>();
            if (!checkAsMade) sink = std::make_unique<MemorySink>(written);
            OutputStream out(std::move(sink), OutputOptions{Buffering::None});
            const Applied outcome = Patch(patch).apply([&] { return std::make_unique<glyphound::MemorySource>(wrong); },
                                                       out, {false, false, checkAsMade, {}});
            EXPECT_EQ(outcome.failure, Applied::Failure::Original);
            EXPECT_EQ(outcome.problem, "this patch is for a file of CRC32 0x321E6D05 and 10 bytes; this one has CRC32 "
                                       "0x2FA97D61 and 10 bytes");
            EXPECT_EQ(*written, "");
        }
}

string randomBytes(std::mt19937& random, std::size_t size) {
    string bytes(size, '\0');
    // Text-like stretches too, where short windows stand in many places.
    for (char& byte : bytes) byte = static_cast<char>(random() % 3 ? random() % 8 + 'a' : random());
    return bytes;
}

// Overwrites, insertions, deletions, moved blocks, and a result cut short or
// made longer, a few at a time.
string edited(string bytes, std::mt19937& random) {
    for (int edits = random() % 6; edits-- > 0;) {
        const std::size_t at = bytes.empty() ? 0 : random() % bytes.size(), length = random() % 400;
        switch (random() % 5) {
            case 0:
                bytes.replace(at, length, randomBytes(random, length));
                break;
            case 1:
                bytes.insert(at, randomBytes(random, length));
                break;
            case 2:
                bytes.erase(at, length);
                break;
            case 3: {
                const string block = bytes.substr(at, length);
                bytes.erase(at, length);
                bytes.insert(bytes.empty() ? 0 : random() % bytes.size(), block);
                break;
            }
            default:
                bytes.resize(random() % (bytes.size() + 500));
        }
    }
    return bytes;
}

void expectRoundTrips(const string& original, const string& modified, bool ips = true) {
    for (const PatchFormat format : {PatchFormat::Ips, PatchFormat::Ups, PatchFormat::Bps}) {
        if (format == PatchFormat::Ips && !ips) continue;
        const string patch = makePatch(format, PatchFile(original), PatchFile(modified));
        EXPECT_TRUE(applied(patch, original) == modified) << patchFormatName(format);
        if (format == PatchFormat::Ups) {
            EXPECT_TRUE(applied(patch, modified) == original);
        }
    }
}

TEST(Patches, MadeOfAnyChangeApplyToGiveTheModifiedFile) {
    std::mt19937 random(29);
    for (int trial = 0; trial < 300; ++trial) {
        SCOPED_TRACE(trial);
        const string original = randomBytes(random, random() % 6000);
        expectRoundTrips(original, edited(original, random));
    }
}

// Past 16 MiB only UPS and BPS go; IPS goes up to it, and never starts a
// record at the offset that reads as its end mark.
TEST(Patches, AtTheEdgesOfIps) {
    std::mt19937 random(31);
    const string original = randomBytes(random, (17 << 20) + 5);
    string belowEdge = original;
    belowEdge[0x454F46] ^= 1;
    belowEdge[(16 << 20) - 1] ^= 1;
    expectRoundTrips(original, belowEdge);
    string longer = original + "more";
    longer.replace(0x454F40, 6, "edited");
    expectRoundTrips(original, longer, false);
    EXPECT_THROW(makePatch(PatchFormat::Ips, PatchFile(original), PatchFile(longer)), Refusal);
    string shorter = original.substr(0, 16 << 20);
    EXPECT_THROW(makePatch(PatchFormat::Ips, PatchFile(original), PatchFile(shorter)), Refusal);
    shorter.pop_back();
    shorter[0x454F46] ^= 1;
    expectRoundTrips(original, shorter);
}

// Blocks moved whole cost a copy each, not their bytes: one block moved,
// and two blocks from apart put side by side, where the bytes after the
// first in the original agree by chance with some at the start of the
// second, a byte apart: those few bytes are the second's, not a copy of
// their own; and short pieces from all over the original.
TEST(Patches, BpsCopiesBlocksMovedWhole) {
    std::mt19937 random(37);
    const string original = randomBytes(random, 1 << 20);
    string moved = original;
    const string block = moved.substr(200000, 65536);
    moved.erase(200000, 65536);
    moved.insert(700000, block);
    string chance = original;
    const string second = original.substr(600000, 65536);
    chance.replace(300000, 1, 1, second[0]);
    chance.replace(300002, 20, second, 2, 20);
    chance[300001] = static_cast<char>(~second[1]);
    const string sideBySide = chance.substr(200000, 100000) + second;
    const string small = original.substr(0, 65536);
    string pieces;
    while (pieces.size() < 40000) {
        const std::size_t length = 6 + random() % 25;
        pieces += small.substr(random() % (small.size() - length), length) + static_cast<char>(random());
    }
    const struct {
        const string &original, &modified;
        std::size_t most;
    } rows[] = {{original, moved, 100}, {chance, sideBySide, 35}, {small, pieces, 20000}};
    for (const auto& row : rows)
        EXPECT_LE(makePatch(PatchFormat::Bps, PatchFile(row.original), PatchFile(row.modified)).size(), row.most)
            << row.modified.size();
}

}  // namespace
}  // namespace glyphound::testing
