#pragma once

// Files read side by side, one worker per processor, with what each yields
// handed over in the files' order and memory bounded.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "commands/command_io.hpp"
#include "dialogue/texts.hpp"

namespace glyphound::commands {

// A file to read, or a failure of the walk to report in its place.
struct Job {
    std::string name, failure;
    bool walked = false;  // found in a directory rather than named
    // The part of the file that is this job's, where a file is read in parts.
    std::uint64_t start = 0, end = UINT64_MAX;
};

// The files named, and when walking, every regular file under a directory,
// in name order; as grep does, a walk with no file named walks the current
// folder, and names its files without "./".
std::vector<Job> jobsFor(const std::vector<std::string>& files, bool walk, CommandIo& io);
// The jobs again, with one big file cut into parts that the processors read
// side by side, each in a pass of its own, as they would several files. A
// work given these jobs reads only each job's part.
std::vector<Job> inParts(std::vector<Job> jobs, CommandIo& io);

template <typename Item>
using ItemHandler = std::function<void(const Item&)>;
// Reads one file, or the job's part of it, handing over what it finds;
// returns what went wrong, or nothing.
template <typename Item>
using FileWork = std::function<std::string(ByteSource&, const Job&, const ItemHandler<Item>&)>;

// The source's reason for a failed read.
std::string readFailure(const ByteSource& source);
template <typename Item>
using FileItemHandler = std::function<void(const std::string& file, const Item&)>;

// Lets the results of files read side by side out in the files' order: a
// job hands its results over only in its turn, which comes when every job
// before it is done. Jobs are taken in order, so the job whose turn it is
// always has a worker.
class Turns {
public:
    bool isTurnOf(std::size_t job) const { return turn_ == job; }
    void waitFor(std::size_t job);
    void pass(std::size_t job);

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::atomic<std::size_t> turn_{0};
};

// Memory a job may fill with what it found while it waits for its turn; past
// this it stops reading until its turn comes, so memory stays bounded.
constexpr std::size_t kMaxKeptPerJob = 4 << 20;
// The size of the parts a big file is read in.
constexpr std::uint64_t kPartBytes = 16 << 20;

// Runs `work` on every job; returns kFound, kNothingFound or kError (some
// file could not be read). `keptSize` tells what an item costs while kept.
template <typename Item>
class FileJobs {
public:
    FileJobs(std::vector<Job> jobs, CommandIo& io, const FileWork<Item>& work, const FileItemHandler<Item>& onItem,
             std::size_t (*keptSize)(const Item&))
        : jobs_(std::move(jobs)), io_(io), work_(work), onItem_(onItem), keptSize_(keptSize) {}

    int run() {
        const auto workers = static_cast<unsigned>(std::min<std::size_t>(io_.system().processors(), jobs_.size()));
        // Reading ahead takes a processor of its own; with a worker on every
        // processor there is none to spare.
        reading_ = workers > 1 ? Reading::InStep : Reading::Ahead;
        std::vector<std::thread> threads;
        for (unsigned w = 1; w < workers; ++w) threads.emplace_back([this] { work(); });
        work();
        for (std::thread& thread : threads) thread.join();
        io_.progress().erase();
        if (failed_) return kError;
        return found_ ? kFound : kNothingFound;
    }

private:
    void work() {
        for (std::size_t job = next_++; job < jobs_.size(); job = next_++) read(job);
    }

    void read(std::size_t job) {
        const std::string& name = jobs_[job].name;
        std::string failure = jobs_[job].failure;
        std::vector<Item> kept;
        std::size_t keptBytes = 0;
        bool inTurn = false, passedBy = false;
        const auto takeTurn = [&] {
            turns_.waitFor(job);
            inTurn = true;
            // One pass would have stopped at a failure: what comes after it
            // in the same file is neither shown nor reported again.
            passedBy = jobs_[job].start > 0 && previousFailed_;
            if (!passedBy)
                for (const Item& item : kept) hand(name, item);
            kept.clear();
        };
        const Waiting waiting = jobs_[job].walked ? Waiting::No : Waiting::ForWriter;
        auto source = failure.empty() ? io_.openInput(name, reading_, waiting, failure) : nullptr;
        // A file the run writes, met on a walk, is no input: the walk passes it by.
        if (jobs_[job].walked && failure == kSameFile) failure.clear();
        if (source)
            failure = work_(*source, jobs_[job], [&](const Item& item) {
                if (!inTurn && (turns_.isTurnOf(job) || keptBytes > kMaxKeptPerJob)) takeTurn();
                if (inTurn) {
                    if (!passedBy) hand(name, item);
                    return;
                }
                kept.push_back(item);
                keptBytes += keptSize_(item);
            });
        source.reset();
        takeTurn();
        if (!failure.empty() && !passedBy) {
            io_.reportFile(name, failure);
            failed_ = true;
        }
        previousFailed_ = passedBy || !failure.empty();
        turns_.pass(job);
    }

    // Only the job in its turn hands items over, one job at a time.
    void hand(const std::string& name, const Item& item) {
        found_ = true;
        onItem_(name, item);
    }

    const std::vector<Job> jobs_;
    CommandIo& io_;
    const FileWork<Item>& work_;
    const FileItemHandler<Item>& onItem_;
    std::size_t (*keptSize_)(const Item&);
    Turns turns_;
    Reading reading_ = Reading::Ahead;
    std::atomic<std::size_t> next_{0};
    std::atomic<bool> found_{false}, failed_{false};
    bool previousFailed_ = false;  // read and written only in a job's turn
};

}  // namespace glyphound::commands
