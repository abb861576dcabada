#include "io/write_behind.hpp"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace glyphound {
namespace {

constexpr std::size_t kBlocks = 4;

class WriteBehindSink : public ByteSink {
public:
    explicit WriteBehindSink(std::unique_ptr<ByteSink> sink)
        : sink_(std::move(sink)), blocks_(kBlocks), writer_([this] { writeBlocks(); }) {}

    ~WriteBehindSink() override {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        writer_.join();
    }

    bool write(const std::uint8_t* data, std::size_t size) override {
        return queue([&](Block& block) { block.bytes.assign(data, data + size); block.size = size; });
    }

    // The block changes places with a free one of the ring.
    bool give(std::vector<std::uint8_t>& bytes, std::size_t size) override {
        return queue([&](Block& block) {
            block.bytes.swap(bytes);
            block.size = size;
        });
    }

    bool close() override {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return queued_ == 0 || failed_; });
        // The writer is idle now: nothing is queued, or it has stopped.
        if (failed_) return false;
        if (sink_->close()) return true;
        failure_ = sink_->failure();
        return false;
    }

private:
    struct Block {
        std::vector<std::uint8_t> bytes;
        std::size_t size = 0;  // of bytes, to be written
    };

    // Fills the next free block of the ring and queues it for the writer.
    template <typename Fill>
    bool queue(const Fill& fill) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return queued_ < kBlocks || failed_; });
        if (failed_) return false;
        Block& block = blocks_[(first_ + queued_) % kBlocks];
        lock.unlock();  // the writer never touches a free block
        fill(block);
        lock.lock();
        ++queued_;
        changed_.notify_all();
        return true;
    }

    void writeBlocks() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return queued_ > 0 || stopping_; });
            if (stopping_ || failed_) return;
            Block& block = blocks_[first_];
            lock.unlock();
            const bool written = sink_->write(block.bytes.data(), block.size);
            lock.lock();
            first_ = (first_ + 1) % kBlocks;
            --queued_;
            if (!written) {
                failed_ = true;
                failure_ = sink_->failure();
            }
            changed_.notify_all();
        }
    }

    std::unique_ptr<ByteSink> sink_;
    std::vector<Block> blocks_;  // a ring: queued_ blocks from first_ on
    std::size_t first_ = 0, queued_ = 0;
    bool failed_ = false, stopping_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread writer_;  // last, so that it starts after everything it uses
};

}  // namespace

std::unique_ptr<ByteSink> writeBehind(std::unique_ptr<ByteSink> sink) {
    return std::make_unique<WriteBehindSink>(std::move(sink));
}

}  // namespace glyphound
