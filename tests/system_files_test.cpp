// The system's files on a real file system: the sharing rules must hold
// whatever name, hard link or symlink reaches a file, and must be checked
// before anything is emptied.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/system.hpp"

namespace glyphound {
namespace {

namespace fs = std::filesystem;

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string readFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

class SystemFiles : public ::testing::Test {
protected:
    void SetUp() override {
        const auto unique = std::chrono::steady_clock::now().time_since_epoch().count();
        dir = fs::temp_directory_path() / ("glyphound-files-" + std::to_string(unique));
        fs::create_directories(dir);
        rom = dir / "game.rom";
        writeFile(rom, "precious bytes");
    }
    void TearDown() override {
        environment.reset();
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    std::string name(const char* file) const { return (dir / file).string(); }

    fs::path dir;
    fs::path rom;
    std::unique_ptr<Environment> environment = makeSystemEnvironment();
};

TEST_F(SystemFiles, AFileBeingReadCannotBeWrittenByAnyName) {
    std::vector<std::string> names{name("game.rom")};
    std::error_code failed;
    fs::create_hard_link(rom, dir / "hard", failed);
    if (!failed) names.push_back(name("hard"));
    fs::create_symlink(rom, dir / "soft", failed);  // needs a privilege on Windows
    if (!failed) names.push_back(name("soft"));

    auto reading = environment->openForReading(rom.string());
    ASSERT_TRUE(reading);
    for (const std::string& other : names) {
        EXPECT_FALSE(environment->openForWriting(other)) << other;
        EXPECT_TRUE(environment->openForReading(other)) << other;
    }
    EXPECT_EQ(readFile(rom), "precious bytes");

    reading.reset();
    EXPECT_TRUE(environment->openForWriting(names.back()));
    EXPECT_EQ(readFile(rom), "");
}

TEST_F(SystemFiles, AFileBeingWrittenCannotBeOpenedAtAll) {
    auto writing = environment->openForWriting(rom.string());
    ASSERT_TRUE(writing);
    EXPECT_FALSE(environment->openForReading(rom.string()));
    EXPECT_FALSE(environment->openForWriting(rom.string()));
}

TEST_F(SystemFiles, DirectoriesAreNeitherReadNorWritten) {
    EXPECT_FALSE(environment->openForReading(dir.string()));
    EXPECT_FALSE(environment->openForWriting(dir.string()));
    EXPECT_FALSE(environment->openForReading(name("missing")));
}

}  // namespace
}  // namespace glyphound
