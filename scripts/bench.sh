#!/usr/bin/env bash
# Builds an optimised program and prints its speed against cat, cp and dd, and
# its peak memory; and the page's find against the native one, when the page
# is built. Argument: size of the test file in MiB (default 1024).
set -euo pipefail
cd "$(dirname "$0")/.."
# The program as the release archives hold it.
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DGLYPHOUND_TESTS=OFF -DGLYPHOUND_RELEASE=ON >/dev/null
cmake --build build-bench -j2 --target glyphound glyphound_bench >/dev/null
# The page's row, where scripts/build-page.sh has built it.
if [ -f build-page/glyphound.html ]; then
  export GLYPHOUND_PAGE=$PWD/build-page/glyphound.html GLYPHOUND_PAGE_BENCH=$PWD/tests/browser/bench_page.js
fi
build-bench/glyphound_bench "$PWD/build-bench/glyphound" "${1:-1024}"
