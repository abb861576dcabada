// The console text rules against a plain rewrite of the whole text: CR LF
// read as LF whatever the block edges, LF written as CR LF whatever the
// buffer size.
#include <cstdlib>

#include "fuzz_input.hpp"
#include "platform/streams.hpp"

using namespace glyphound;

namespace {

// Cuts the data into reads of the given sizes, in turn.
class ChoppedSource : public ByteSource {
public:
    ChoppedSource(std::vector<std::uint8_t> bytes, std::vector<std::size_t> cuts)
        : bytes_(std::move(bytes)), cuts_(std::move(cuts)) {}
    ReadResult read(std::uint8_t* buffer, std::size_t capacity) override {
        const std::size_t cut = cuts_[reads_++ % cuts_.size()];
        const std::size_t count = std::min({capacity, cut, bytes_.size() - at_});
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(at_), count, buffer);
        at_ += count;
        return {count, false};
    }

private:
    std::vector<std::uint8_t> bytes_;
    std::vector<std::size_t> cuts_;
    std::size_t at_ = 0, reads_ = 0;
};

std::string withoutCrBeforeLf(const std::vector<std::uint8_t>& in) {
    std::string out;
    for (std::size_t i = 0; i < in.size(); ++i)
        if (!(in[i] == '\r' && i + 1 < in.size() && in[i + 1] == '\n')) out += static_cast<char>(in[i]);
    return out;
}

std::string withCrBeforeLf(const std::vector<std::uint8_t>& in) {
    std::string out;
    for (std::uint8_t c : in) {
        if (c == '\n') out += '\r';
        out += static_cast<char>(c);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::FuzzInput input(data, size);
    const std::vector<std::size_t> cuts{1u + input.byte() % 16, 1u + input.byte(), 1u + input.byte() % 3};
    const std::size_t block = 1u + input.byte() % 64;
    const std::vector<std::uint8_t> bytes = input.rest();

    InputStream reader(std::make_unique<ChoppedSource>(bytes, cuts), {true, nullptr, block});
    std::string read;
    while (reader.fill()) {
        read.append(reinterpret_cast<const char*>(reader.data()), reader.available());
        reader.consume(reader.available());
    }
    if (read != withoutCrBeforeLf(bytes)) std::abort();

    auto written = std::make_shared<std::vector<std::uint8_t>>();
    {
        OutputStream writer(std::make_unique<MemorySink>(written), {Buffering::Line, true, block});
        for (std::size_t at = 0; at < bytes.size(); at += cuts[0])
            writer.write(bytes.data() + at, std::min(cuts[0], bytes.size() - at));
    }
    if (std::string(written->begin(), written->end()) != withCrBeforeLf(bytes)) std::abort();
    return 0;
}
