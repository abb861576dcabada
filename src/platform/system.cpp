// What both backends share: the standard library already reaches the
// system's directories portably, and takes UTF-8 names on every system.
#include <algorithm>
#include <filesystem>
#include <system_error>
#include <thread>

#include "platform/system.hpp"

namespace glyphound {

namespace fs = std::filesystem;

DirectoryListing System::listDirectory(const std::string& name) {
    DirectoryListing listing;
    std::error_code error;
    const fs::path path = fs::u8path(name);
    if (!fs::is_directory(path, error)) return listing;
    listing.isDirectory = true;
    fs::directory_iterator entry(path, error);
    for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
        std::error_code ignored;
        // A link to a directory is not followed, so a loop of links can't
        // make a walk endless.
        const bool isDirectory = entry->is_directory(ignored) && !entry->is_symlink(ignored);
        listing.entries.push_back({entry->path().filename().u8string(), isDirectory});
    }
    if (error) listing.failure = error.message();
    return listing;
}

unsigned System::processors() { return std::max(1u, std::thread::hardware_concurrency()); }

std::vector<std::string> System::arguments(int argc, const char* const* argv) {
    std::vector<std::string> words;
    for (int i = 0; i < argc; ++i) words.emplace_back(argv[i] ? argv[i] : "");
    return words;
}

}  // namespace glyphound
