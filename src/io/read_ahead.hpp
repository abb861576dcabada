#pragma once

#include <memory>

#include "platform/system.hpp"

namespace glyphound {

// How a file is read: a pass that only looks at the bytes gains from having
// the next ones read meanwhile; a pass that writes each block is held to the
// writing's pace anyway, and the extra copy would only cost.
enum class Reading { InStep, Ahead };

// Reads the next blocks of `source` on a second thread while the caller works
// on the one before, so a pass over a file takes about as long as reading it
// rather than reading plus working. Bytes, the end and a read error arrive in
// order, as from `source` itself. A source that lends its bytes in place is
// already as fast as reading ahead could make it, and is left as it is.
std::unique_ptr<ByteSource> readAhead(std::unique_ptr<ByteSource> source);

}  // namespace glyphound
