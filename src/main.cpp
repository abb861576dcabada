#include "driver/driver.hpp"
#include "platform/system.hpp"

int main(int argc, char** argv) {
    const auto environment = glyphound::makeSystemEnvironment();
    return glyphound::runGlyphound(argc, argv, *environment);
}
