#include "driver/driver.hpp"
#include "platform/posix_environment.hpp"

int main(int argc, char** argv) {
    glyphound::PosixEnvironment environment;
    return glyphound::runGlyphound(argc, argv, environment);
}
