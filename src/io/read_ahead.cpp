#include "io/read_ahead.hpp"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace glyphound {
namespace {

constexpr std::size_t kBlocks = 4;
constexpr std::size_t kBlockSize = 256 * 1024;

class ReadAheadSource : public ByteSource {
public:
    explicit ReadAheadSource(std::unique_ptr<ByteSource> source)
        : source_(std::move(source)), blocks_(kBlocks), reader_([this] { readBlocks(); }) {}

    ~ReadAheadSource() override {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        reader_.join();
    }

    ReadResult read(std::uint8_t* buffer, std::size_t capacity) override {
        Block* block = nextBlock();
        if (!block) return {0, failed_};
        const std::size_t count = std::min(capacity, block->bytes.size() - block->taken);
        std::memcpy(buffer, block->bytes.data() + block->taken, count);
        block->taken += count;
        return {count, false};
    }

    // The rest of the first block, which the reader leaves alone until the
    // next call hands it back.
    LentBytes lend(std::vector<std::uint8_t>&) override {
        Block* block = nextBlock();
        if (!block) return {nullptr, {0, failed_}};
        const std::size_t taken = block->taken;
        block->taken = block->bytes.size();
        return {block->bytes.data() + taken, {block->bytes.size() - taken, false}};
    }

private:
    struct Block {
        std::vector<std::uint8_t> bytes;
        std::size_t taken = 0;
    };

    // The first block with bytes left once a wholly taken one goes back to
    // the reader; null at the end of the data.
    Block* nextBlock() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (filled_ > 0 && blocks_[first_].taken == blocks_[first_].bytes.size()) {
            first_ = (first_ + 1) % kBlocks;
            --filled_;
            changed_.notify_all();
        }
        changed_.wait(lock, [&] { return filled_ > 0 || finished_; });
        if (filled_ > 0) return &blocks_[first_];  // the reader never touches a filled block
        failure_ = failureText_;
        return nullptr;
    }

    void readBlocks() {
        for (std::size_t next = 0;; next = (next + 1) % kBlocks) {
            {
                std::unique_lock<std::mutex> lock(mutex_);
                // Once the ring is full, the reader sleeps until half of it is
                // free: waking a thread costs far more than a block's wait.
                if (filled_ == kBlocks) changed_.wait(lock, [&] { return filled_ <= kBlocks / 2 || stopping_; });
                if (stopping_) return;
            }
            Block& block = blocks_[next];
            block.bytes.resize(kBlockSize);
            const ReadResult got = source_->read(block.bytes.data(), kBlockSize);
            block.bytes.resize(got.count);
            block.taken = 0;
            const std::lock_guard<std::mutex> lock(mutex_);
            if (got.count == 0) {
                finished_ = true;
                failed_ = got.failed;
                failureText_ = source_->failure();
                changed_.notify_all();
                return;
            }
            ++filled_;
            changed_.notify_all();
        }
    }

    std::unique_ptr<ByteSource> source_;
    std::vector<Block> blocks_;  // a ring: filled_ blocks from first_ on
    std::size_t first_ = 0, filled_ = 0;
    bool finished_ = false, failed_ = false, stopping_ = false;
    std::string failureText_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread reader_;  // last, so that it starts after everything it uses
};

}  // namespace

std::unique_ptr<ByteSource> readAhead(std::unique_ptr<ByteSource> source) {
    if (source->lendsInPlace()) return source;
    return std::make_unique<ReadAheadSource>(std::move(source));
}

}  // namespace glyphound
