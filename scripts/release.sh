#!/usr/bin/env bash
# Builds the release archives with CPack into dist/, each with its SHA-256
# sum: Linux x86_64 and aarch64 (the latter cross-built with Debian's aarch64
# g++), both linked statically, and Windows x86_64 and i686
# (from the MinGW-w64 cross builds); and the page, dist/glyphound-VERSION.html.
set -euo pipefail
cd "$(dirname "$0")/.."
rm -rf dist
for target in linux:build-release arm64:build-release-aarch64 win64:build-release-win64 win32:build-release-win32; do
  name=${target%%:*} dir=${target#*:}
  toolchain=()
  case $name in
    arm64) toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake) ;;
    win64) toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake) ;;
    win32) toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake) ;;
  esac
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DGLYPHOUND_TESTS=OFF -DGLYPHOUND_RELEASE=ON \
    "${toolchain[@]}" >/dev/null
  cmake --build "$dir" >/dev/null
  (cd "$dir" && cpack >/dev/null)
done

# Nothing may be shared. The libraries a program names are read from its
# dynamic section, as ldd can't run the ARM loader.
for program in build-release/glyphound build-release-aarch64/glyphound; do
  needed=$(readelf -d "$program" | grep NEEDED || true)
  if [ -n "$needed" ]; then
    echo "$program needs shared libraries:"
    echo "$needed"
    exit 1
  fi
done
# The page, one file beside the archives, with its sum.
scripts/build-page.sh >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-page/CMakeCache.txt)
cp build-page/glyphound.html "dist/glyphound-$version.html"
(cd dist && sha256sum "glyphound-$version.html" >"glyphound-$version.html.sha256")
ls dist
