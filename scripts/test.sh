#!/usr/bin/env bash
# Installs what is missing, then configures, builds and runs every test.
# Extra arguments go to CMake; set BUILD_DIR to build elsewhere, CTEST_ARGS to
# pass options to ctest (for example CTEST_ARGS="-LE bigfile" where the disk
# can't hold a sparse 4 GiB file).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_COMPILE_WARNING_AS_ERROR="${CMAKE_COMPILE_WARNING_AS_ERROR:-OFF}" "$@"
cmake --build "$build"
# shellcheck disable=SC2086
ctest --test-dir "$build" --output-on-failure -j2 ${CTEST_ARGS:-}
