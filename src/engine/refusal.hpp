#pragma once

#include <stdexcept>

namespace glyphound {

// What was asked can't be done, in words a user reads: a word that relates
// too few characters, a value out of range. Every face shows the same words.
struct Refusal : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace glyphound
