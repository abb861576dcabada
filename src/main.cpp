#include "driver/driver.hpp"
#include "platform/system.hpp"

int main(int argc, char** argv) {
    const auto system = glyphound::makeSystem();
    glyphound::Environment environment(*system);
    return glyphound::runGlyphound(argc, argv, environment);
}
