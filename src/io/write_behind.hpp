#pragma once

#include <memory>

#include "platform/system.hpp"

namespace glyphound {

// Writes to `sink` on a second thread, in the order given, while the caller
// reads and shifts the next block: a pass then takes about as long as its
// slower half, not as both together. A failed write is reported by a later
// write or by close(), which returns only when everything is written. Blocks
// still queued when the sink is destroyed unclosed are dropped with it.
std::unique_ptr<ByteSink> writeBehind(std::unique_ptr<ByteSink> sink);

}  // namespace glyphound
