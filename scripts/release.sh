#!/usr/bin/env bash
# Builds the release archives with CPack into dist/, each with its SHA-256
# sum: Linux x86_64 (only the C runtime shared, checked with ldd) and
# Windows x86_64 and i686 (from the MinGW-w64 cross builds); and the page,
# dist/glyphound-VERSION.html.
set -euo pipefail
cd "$(dirname "$0")/.."
rm -rf dist
for target in linux:build-release win64:build-release-win64 win32:build-release-win32; do
  name=${target%%:*} dir=${target#*:}
  toolchain=()
  case $name in
    win64) toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake) ;;
    win32) toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake) ;;
  esac
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DGLYPHOUND_TESTS=OFF -DGLYPHOUND_RELEASE=ON \
    "${toolchain[@]}" >/dev/null
  cmake --build "$dir" >/dev/null
  (cd "$dir" && cpack >/dev/null)
done

# Only the C runtime and the loader may be shared.
extra=$(ldd build-release/glyphound | grep -vE 'linux-vdso|libc\.so|libm\.so|ld-linux' || true)
if [ -n "$extra" ]; then
  echo "build-release/glyphound needs more than the C runtime:"
  echo "$extra"
  exit 1
fi
# The page, one file beside the archives, with its sum.
scripts/build-page.sh >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-page/CMakeCache.txt)
cp build-page/glyphound.html "dist/glyphound-$version.html"
(cd dist && sha256sum "glyphound-$version.html" >"glyphound-$version.html.sha256")
ls dist
