// What both backends share: the standard library already reaches the
// system's directories portably, and takes UTF-8 names on every system.
#include <algorithm>
#include <filesystem>
#include <system_error>
#include <thread>

#include "platform/system.hpp"

namespace glyphound {

namespace fs = std::filesystem;

namespace {

EntryKind kindOf(const fs::directory_entry& entry) {
    std::error_code ignored;
    const fs::file_status status = entry.symlink_status(ignored);
    if (fs::is_regular_file(status)) return EntryKind::File;
    return fs::is_directory(status) ? EntryKind::Directory : EntryKind::Other;
}

}  // namespace

DirectoryListing System::listDirectory(const std::string& name) {
    DirectoryListing listing;
    std::error_code error;
    const fs::path path = fs::u8path(name);
    if (!fs::is_directory(path, error)) return listing;
    listing.isDirectory = true;
    listing.identity = identify(name);
    fs::directory_iterator entry(path, error);
    for (; !error && entry != fs::directory_iterator(); entry.increment(error))
        listing.entries.push_back({entry->path().filename().u8string(), kindOf(*entry)});
    if (error) listing.failure = error.message();
    return listing;
}

bool System::exists(const std::string& name) {
    std::error_code ignored;
    return fs::exists(fs::symlink_status(fs::u8path(name), ignored));
}

LentBytes ByteSource::lend(std::vector<std::uint8_t>& scratch) {
    if (scratch.empty()) scratch.resize(kDefaultBlockSize);
    return {scratch.data(), read(scratch.data(), scratch.size())};
}

bool ByteSource::skip(std::uint64_t count) {
    std::vector<std::uint8_t> discarded(64 * 1024);
    while (count > 0) {
        const ReadResult got = read(discarded.data(), static_cast<std::size_t>(std::min<std::uint64_t>(count, discarded.size())));
        if (got.count == 0) return !got.failed;
        count -= got.count;
    }
    return true;
}

OpenedFile System::openStandardInput() {
    OpenedFile opened;
    opened.source = standardInput();
    return opened;
}

unsigned System::processors() { return std::max(1u, std::thread::hardware_concurrency()); }

std::vector<std::string> System::arguments(int argc, const char* const* argv) {
    std::vector<std::string> words;
    for (int i = 0; i < argc; ++i) words.emplace_back(argv[i] ? argv[i] : "");
    return words;
}

}  // namespace glyphound
