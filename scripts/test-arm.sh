#!/usr/bin/env bash
# Cross-builds the 64-bit ARM Linux program and tests it under qemu-user: the
# unit tests through CTest (qemu as the cross-compiling emulator), then the
# native end-to-end suite pointed at the ARM program. There the differential
# tests check the NEON loops, instead of the x86 ones, and the scalar loops
# against the references. Needs the native test build (scripts/test.sh) in
# build/ first.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build-arm -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
  -DCMAKE_COMPILE_WARNING_AS_ERROR="${CMAKE_COMPILE_WARNING_AS_ERROR:-OFF}"
cmake --build build-arm
ctest --test-dir build-arm --output-on-failure -j2

# The same emulator and ARM C runtime as CTest's, from the toolchain file.
qemu=$(sed -n 's/^GLYPHOUND_QEMU:FILEPATH=//p' build-arm/CMakeCache.txt)
export GLYPHOUND_EXE=$PWD/build-arm/glyphound GLYPHOUND_EMULATOR="$qemu -L /usr/aarch64-linux-gnu"
filter=
case " ${CTEST_ARGS:-} " in *bigfile*) filter=--gtest_filter=-BigFile.* ;; esac
build/tests/e2e_tests $filter
