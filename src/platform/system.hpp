#pragma once

#include <memory>

#include "platform/environment.hpp"

namespace glyphound {

// The environment of this process on the system it was built for. Each
// backend (POSIX, Windows) defines it; the build picks one.
std::unique_ptr<Environment> makeSystemEnvironment();

}  // namespace glyphound
