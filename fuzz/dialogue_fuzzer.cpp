// A whole run on memory streams: any bytes typed on standard input, any
// bytes in the ROM file, either mode, with or without a console. The run
// must end with 0 or 1, never change the ROM, and any Output.ROM it writes
// must be the ROM again (nothing edits Shifted.BIN in between).
#include <cstdlib>

#include "driver/driver.hpp"
#include "fuzz_input.hpp"
#include "memory_environment.hpp"

using namespace glyphound;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::FuzzInput input(data, size);
    const std::uint8_t options = input.byte();
    const std::size_t chunk = 1u + input.byte();
    const std::string typed = input.part(255);
    const auto rom = std::make_shared<testing::Bytes>(input.rest());
    const testing::Bytes original = *rom;

    testing::MemoryEnvironment environment(typed, chunk);
    environment.console = options & 1;
    environment.files["game.rom"] = rom;
    std::vector<const char*> arguments{"glyphound"};
    if (!(options & 2)) arguments.push_back("game.rom");
    if (options & 4) arguments.push_back("extra");
    const int status = runGlyphound(static_cast<int>(arguments.size()), arguments.data(), environment);

    if (status != 0 && status != 1) std::abort();
    if (*environment.files["game.rom"] != original) std::abort();
    const auto output = environment.files.find("Output.ROM");
    if (output != environment.files.end() && *output->second != original) std::abort();
    return 0;
}
