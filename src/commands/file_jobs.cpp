#include "commands/file_jobs.hpp"

#include <set>

namespace glyphound::commands {
namespace {

constexpr const char* kCurrentFolder = ".";

// The files under the directories named, each directory visited once.
class Walk {
public:
    Walk(bool walking, CommandIo& io) : walking_(walking), io_(io) {}

    std::vector<Job> jobsOf(const std::vector<std::string>& files) {
        for (const std::string& file : files) add(file, walking_, false);
        if (files.empty()) addEntries(kCurrentFolder, "");
        return std::move(jobs_);
    }

private:
    void add(const std::string& name, bool walk, bool walked) {
        const std::string prefix = name.empty() || name.back() == '/' ? name : name + "/";
        if (!walk || !addEntries(name, prefix)) jobs_.push_back({name, "", walked});
    }

    // False when `folder` is no directory.
    bool addEntries(const std::string& folder, const std::string& prefix) {
        const DirectoryListing listing = io_.system().listDirectory(folder);
        if (!listing.isDirectory) return false;
        if (listing.identity && !visited_.insert(*listing.identity).second) return true;
        if (!listing.failure.empty()) jobs_.push_back({folder, listing.failure, true});
        std::vector<DirectoryEntry> entries = listing.entries;
        std::sort(entries.begin(), entries.end(),
                  [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
        for (const DirectoryEntry& entry : entries)
            if (entry.kind != EntryKind::Other) add(prefix + entry.name, entry.kind == EntryKind::Directory, true);
        return true;
    }

    bool walking_;
    CommandIo& io_;
    std::vector<Job> jobs_;
    std::set<FileIdentity> visited_;
};

}  // namespace

std::vector<Job> inParts(std::vector<Job> jobs, CommandIo& io) {
    if (jobs.size() != 1 || jobs[0].name == kStandardStream || !jobs[0].failure.empty() || io.system().processors() < 2)
        return jobs;
    // A file that streams can't be read twice; a small one is not worth it.
    const OpenedFile file = io.system().openForReading(jobs[0].name, Waiting::No);
    if (!file.source || !file.rereadable || file.size < static_cast<std::int64_t>(2 * kPartBytes)) return jobs;
    std::vector<Job> parts;
    for (std::uint64_t start = 0; start < static_cast<std::uint64_t>(file.size); start += kPartBytes) {
        parts.push_back(jobs[0]);
        parts.back().start = start;
    }
    for (std::size_t part = 0; part + 1 < parts.size(); ++part) parts[part].end = parts[part + 1].start;
    return parts;
}

std::string readFailure(const ByteSource& source) {
    return source.failure().empty() ? texts::command::kReadFailed : source.failure();
}

std::vector<Job> jobsFor(const std::vector<std::string>& files, bool walk, CommandIo& io) {
    return Walk(walk, io).jobsOf(files);
}

void Turns::waitFor(std::size_t job) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return turn_ == job; });
}

void Turns::pass(std::size_t job) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        turn_ = job + 1;
    }
    changed_.notify_all();
}

}  // namespace glyphound::commands
