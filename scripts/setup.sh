#!/usr/bin/env bash
# Installs the Debian packages that are missing for a task, and nothing else:
#   scripts/setup.sh        build and test natively (the README's commands)
#   scripts/setup.sh ci     also the Windows and ARM Linux cross builds, Wine,
#                           qemu-user, the fuzzers and what the page needs
#   scripts/setup.sh page   the page's build and browser test: Emscripten,
#                           Chromium, Node.js and npm, and the browser test's
#                           accessibility checker, axe-core, from npm into
#                           tests/browser (the page itself never loads it)
# As root it runs apt-get itself, otherwise through sudo (which may ask for a
# password on a terminal); where neither can work it prints the exact apt-get
# line to run and stops with status 1.
set -euo pipefail

need=()
want_command() { command -v "$1" >/dev/null 2>&1 || need+=("$2"); }
want_file() {
  local package=$1 file
  shift
  for file in "$@"; do [ -e "$file" ] && return; done
  need+=("$package")
}

want_command cmake cmake
want_command ninja ninja-build
want_command g++ g++
want_file libgtest-dev /usr/lib/*/cmake/GTest/GTestConfig.cmake /usr/lib/cmake/GTest/GTestConfig.cmake
want_file libcli11-dev /usr/include/CLI/CLI.hpp
want_file nlohmann-json3-dev /usr/include/nlohmann/json.hpp
want_file libstb-dev /usr/include/stb/stb_image_write.h
if [ "${1:-}" = ci ]; then
  want_file googletest /usr/src/googletest/CMakeLists.txt
  want_command x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64-posix
  want_command i686-w64-mingw32-g++-posix g++-mingw-w64-i686-posix
  want_file wine64 /usr/lib/wine/wine64
  want_command aarch64-linux-gnu-g++ g++-aarch64-linux-gnu
  want_command qemu-aarch64 qemu-user
  want_command clang++ clang
  want_file libclang-rt-dev /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a
fi
if [ "${1:-}" = ci ] || [ "${1:-}" = page ]; then
  want_command emcc emscripten
  want_file googletest /usr/src/googletest/CMakeLists.txt
  want_command chromium chromium
  want_command node nodejs
  want_command npm npm
fi
# The browser test's own package, beside it; run after any Debian package.
axe() {
  if { [ "${1:-}" = ci ] || [ "${1:-}" = page ]; } && [ ! -f tests/browser/node_modules/axe-core/axe.min.js ]; then
    (cd "$(dirname "$0")/../tests/browser" && npm install --no-save --no-package-lock --prefix . axe-core@4 >/dev/null)
  fi
}
[ ${#need[@]} -eq 0 ] && { axe "${1:-}"; exit 0; }

line="apt-get update && apt-get install -y ${need[*]}"
if [ "$(id -u)" -eq 0 ]; then
  run=()
elif command -v sudo >/dev/null 2>&1 && { sudo -n true 2>/dev/null || [ -t 0 ]; }; then
  run=(sudo)
else
  echo "Missing packages: ${need[*]}. Install them as root with:" >&2
  echo "  $line" >&2
  exit 1
fi
echo "Installing ${need[*]}" >&2
"${run[@]}" apt-get update -qq
"${run[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
axe "${1:-}"
