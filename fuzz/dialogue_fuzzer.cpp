// A whole run on memory streams: any bytes typed on standard input, any
// bytes in the ROM file, either mode, with or without a console. The run
// must end with 0 or 1, never change the ROM, and any Output.ROM it writes
// must be the ROM again (nothing edits Shifted.BIN in between).
#include <cstdlib>

#include "driver/driver.hpp"
#include "fuzz_input.hpp"
#include "memory_system.hpp"

using namespace glyphound;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::FuzzInput input{data, size};
    const std::uint8_t options = input.byte();
    const std::size_t chunk = 1u + input.byte();
    testing::MemorySystem system(input.part(255), chunk);
    const std::string original = input.rest();
    system.console = options & 1;
    system.files["game.rom"] = std::make_shared<std::string>(original);
    std::vector<const char*> arguments{"glyphound"};
    if (!(options & 2)) arguments.push_back("game.rom");
    if (options & 4) arguments.push_back("extra");
    const int status = runGlyphound(static_cast<int>(arguments.size()), arguments.data(), system);

    if (status != 0 && status != 1) std::abort();
    if (*system.files["game.rom"] != original) std::abort();
    const auto output = system.files.find("Output.ROM");
    if (output != system.files.end() && *output->second != original) std::abort();
    return 0;
}
