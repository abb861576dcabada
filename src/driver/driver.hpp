#pragma once

#include "platform/system.hpp"

namespace glyphound {

// One whole run, from the command line to the exit status: a command's
// (0, 1 or 2), or the dialogue's (0 or 1).
int runGlyphound(int argc, const char* const* argv, System& system);

}  // namespace glyphound
