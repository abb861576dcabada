// Offsets past 2^31 and 2^32 through the real program, on a sparse file that
// takes almost no room on disk. Labelled so it can be left out where the file
// system can't hold it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "process.hpp"

namespace glyphound::testing {
namespace {

TEST(BigFile, OffsetsBeyond4GiBAreExact) {
    TempDir dir;
    const std::string rom = dir.file("disc.img");
    const std::uint64_t first = (std::uint64_t{1} << 31) + 7;
    const std::uint64_t second = (std::uint64_t{1} << 32) + 1000;
    const int fd = ::open(rom.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    const std::string word = "\x87\x84\x8b\x8b\x8e";  // HELLO, 63 above ASCII
    ASSERT_EQ(::pwrite(fd, word.data(), word.size(), static_cast<off_t>(first)), 5);
    ASSERT_EQ(::pwrite(fd, word.data(), word.size(), static_cast<off_t>(second)), 5);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(second + 4096)), 0);
    ::close(fd);

    Child child(programCommand({"disc.img"}), dir.path());
    child.send("HELLO\nn\n");
    const Finished finished = child.finish(540);
    EXPECT_EQ(finished.status, 0);
    const std::string tail = "shifted by 63\tLetter 'A' in CHR Bank should be at position 128\r\n";
    EXPECT_NE(finished.out.find("Match found at offset " + std::to_string(first) + ", " + tail), std::string::npos);
    EXPECT_NE(finished.out.find("Match found at offset " + std::to_string(second) + ", " + tail), std::string::npos);
}

}  // namespace
}  // namespace glyphound::testing
