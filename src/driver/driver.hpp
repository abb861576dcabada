#pragma once

#include "io/environment.hpp"

namespace glyphound {

// One whole run, from the command line to the exit status (0 or 1).
int runGlyphound(int argc, const char* const* argv, Environment& environment);

}  // namespace glyphound
