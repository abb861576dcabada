// Files read through the system: where it lends them through mappings, the
// mappings join into the file's bytes, and a file cut short under them is a
// read error, never the end of the program.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/system.hpp"

namespace glyphound::testing {
namespace {

class MappedFile : public ::testing::Test {
protected:
    void SetUp() override {
        // Longer than two of the windows a source lends, and not a whole page.
        for (std::size_t at = 0; at < 9'000'001; ++at) bytes_ += static_cast<char>(at * 7 % 251);
        open();
    }
    void open() {
        file_ = {};
        std::ofstream(path_, std::ios::binary) << bytes_;
        file_ = system_->openForReading(path_.string(), Waiting::No);
        ASSERT_TRUE(file_.source);
        if (!file_.source->lendsInPlace()) GTEST_SKIP() << "this system reads files rather than maps them";
    }
    void TearDown() override {
        file_.source.reset();
        std::filesystem::remove(path_);
    }

    // One file per test, as tests may run side by side.
    std::filesystem::path path_ = std::filesystem::temp_directory_path() /
                                  (std::string("glyphound-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::unique_ptr<System> system_ = makeSystem();
    std::string bytes_;
    OpenedFile file_;
    std::vector<std::uint8_t> scratch_ = std::vector<std::uint8_t>(1024);
};

TEST_F(MappedFile, LentWindowsJoinIntoTheFileFromWhereverItIs) {
    ASSERT_TRUE(file_.source->skip(5));
    std::string lent;
    for (LentBytes block; (block = file_.source->lend(scratch_)).read.count > 0;)
        lent.append(reinterpret_cast<const char*>(block.bytes), block.read.count);
    EXPECT_TRUE(lent == bytes_.substr(5));
}

std::uint64_t sumOf(const std::uint8_t* bytes, std::size_t count) {
    std::uint64_t sum = 0;
    for (std::size_t at = 0; at < count; ++at) sum += bytes[at];
    return sum;
}

TEST_F(MappedFile, AFileCutShortUnderItsMappingIsAReadError) {
    enum class Mapping { Window, Whole };
    for (const Mapping mapping : {Mapping::Window, Mapping::Whole}) {
        SCOPED_TRACE(mapping == Mapping::Window ? "a lent window" : "the whole file");
        open();
        ByteSource& source = *file_.source;
        const std::uint8_t* bytes = nullptr;
        std::size_t count = 0;
        if (mapping == Mapping::Window) {
            const LentBytes block = source.lend(scratch_);
            bytes = block.bytes;
            count = block.read.count;
        } else {
            const std::string_view whole = *source.mapped();
            bytes = reinterpret_cast<const std::uint8_t*>(whole.data());
            count = whole.size();
        }
        ASSERT_GT(count, 0u);
        // A source opened and closed meanwhile, which mapped nothing, leaves
        // this one's guard in place.
        system_->openForReading(path_.string(), Waiting::No);
        std::filesystem::resize_file(path_, 0);
        EXPECT_EQ(sumOf(bytes, count), 0u) << "bytes the file no longer has are read as zeros";
        EXPECT_TRUE(source.cutShort());
        const LentBytes next = source.lend(scratch_);
        EXPECT_TRUE(next.read.failed);
        EXPECT_EQ(source.failure(), kShrankWhileRead);
    }
}

}  // namespace
}  // namespace glyphound::testing
