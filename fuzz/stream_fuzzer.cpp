// The console text rules against a plain rewrite of the whole text: CR LF
// read as LF whatever the block edges, LF written as CR LF whatever the
// buffer size.
#include <cstdlib>

#include "fuzz_input.hpp"
#include "io/streams.hpp"
#include "memory_system.hpp"

using namespace glyphound;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::FuzzInput input{data, size};
    const std::size_t chunk = 1u + input.byte() % 16, block = 1u + input.byte() % 64;
    const std::string bytes = input.rest();
    std::string withoutCr, withCr;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\r' || i + 1 == bytes.size() || bytes[i + 1] != '\n') withoutCr += bytes[i];
        withCr += bytes[i] == '\n' ? "\r\n" : std::string(1, bytes[i]);
    }

    InputStream reader(std::make_unique<testing::MemorySource>(bytes, chunk), {true, nullptr, block});
    std::string read;
    for (; reader.fill(); reader.consume(reader.available()))
        read.append(reinterpret_cast<const char*>(reader.data()), reader.available());
    if (read != withoutCr) std::abort();

    auto written = std::make_shared<std::string>();
    {
        OutputStream writer(std::make_unique<testing::MemorySink>(written), {Buffering::Line, true, block});
        for (std::size_t at = 0; at < bytes.size(); at += chunk)
            writer.print(std::string_view(bytes).substr(at, chunk));
    }
    if (*written != withCr) std::abort();
    return 0;
}
