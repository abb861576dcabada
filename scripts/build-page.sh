#!/usr/bin/env bash
# Builds the page, build-page/glyphound.html: the engine in WebAssembly with
# the page around it, one file that works opened from disk; and the engine's
# differential tests in WebAssembly (ctest --test-dir build-page runs them
# under Node.js). Extra arguments go to CMake.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh page
# Debian's emscripten 3.1.6 finds its acorn only there.
export NODE_PATH=/usr/share/nodejs
emcmake cmake -S . -B build-page -G Ninja -DCMAKE_BUILD_TYPE=Release -DGLYPHOUND_TESTS=ON \
  -DCMAKE_COMPILE_WARNING_AS_ERROR="${CMAKE_COMPILE_WARNING_AS_ERROR:-OFF}" "$@" >/dev/null
cmake --build build-page -j2
