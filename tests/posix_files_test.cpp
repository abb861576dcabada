// The POSIX platform's files on a real file system: the sharing rules must
// hold whatever name, hard link or symlink reaches a file, and must be
// checked before anything is emptied.
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/posix_environment.hpp"
#include "process.hpp"

namespace glyphound {
namespace {

using testing::readFile;
using testing::TempDir;
using testing::writeFile;

class PosixFiles : public ::testing::Test {
protected:
    void SetUp() override { writeFile(rom, "precious bytes"); }
    TempDir dir;
    const std::string rom = dir.file("game.rom");
    PosixEnvironment environment;
};

TEST_F(PosixFiles, AFileBeingReadCannotBeWrittenByAnyName) {
    ASSERT_EQ(::link(rom.c_str(), dir.file("hard").c_str()), 0);
    ASSERT_EQ(::symlink(rom.c_str(), dir.file("soft").c_str()), 0);
    auto reading = environment.openForReading(rom);
    ASSERT_TRUE(reading);
    for (const char* name : {"game.rom", "hard", "soft"})
        EXPECT_FALSE(environment.openForWriting(dir.file(name))) << name;
    EXPECT_TRUE(environment.openForReading(dir.file("soft")));
    EXPECT_EQ(readFile(rom), "precious bytes");

    reading.reset();
    EXPECT_TRUE(environment.openForWriting(dir.file("soft")));
    EXPECT_EQ(readFile(rom), "");
}

TEST_F(PosixFiles, AFileBeingWrittenCannotBeOpenedAtAll) {
    auto writing = environment.openForWriting(rom);
    ASSERT_TRUE(writing);
    EXPECT_FALSE(environment.openForReading(rom));
    EXPECT_FALSE(environment.openForWriting(rom));
}

TEST_F(PosixFiles, DirectoriesAreNeitherReadNorWritten) {
    EXPECT_FALSE(environment.openForReading(dir.path()));
    EXPECT_FALSE(environment.openForWriting(dir.path()));
    EXPECT_FALSE(environment.openForReading(dir.file("missing")));
}

}  // namespace
}  // namespace glyphound
