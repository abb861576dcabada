#include "driver/driver.hpp"

int main(int argc, char** argv) {
    const auto system = glyphound::makeSystem();
    return glyphound::runGlyphound(argc, argv, *system);
}
