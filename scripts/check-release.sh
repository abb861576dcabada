#!/usr/bin/env bash
# Runs the program from each archive in dist/, after checking its sum: the
# Linux x86_64 one natively, the aarch64 one under qemu-user, the 64-bit
# Windows one under Wine. The 32-bit Windows archive is checked for its files
# only, as no 32-bit Wine runs here.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh
trap stop_wine EXIT
# The emulator of qemu-user, or the static one of qemu-user-static.
qemu=$(command -v qemu-aarch64 || command -v qemu-aarch64-static || true)
work=$(mktemp -d)
trap 'stop_wine; rm -rf "$work"' EXIT
for archive in dist/*.tar.gz dist/*.zip; do
  (cd dist && sha256sum -c "$(basename "$archive").sha256" >/dev/null)
  name=$(basename "$archive")
  name=${name%.tar.gz}
  name=${name%.zip}
  (cd "$work" && cmake -E tar xf "$OLDPWD/$archive")
  dir=$work/$name
  for file in README.txt LICENSE.txt sample/sample.rom sample/kana.bin sample/noword.rom sample/gaps.rom sample/drawn.rom; do
    [ -f "$dir/$file" ] || { echo "$archive: no $file"; exit 1; }
  done
  case $name in
    *linux-aarch64*) run=("$qemu" -L /usr/aarch64-linux-gnu "$dir/glyphound") ;;
    *linux*) run=("$dir/glyphound") ;;
    *windows-x86_64*) run=("$WINE" "$dir/glyphound.exe") ;;
    *) [ -f "$dir/glyphound.exe" ] || { echo "$archive: no glyphound.exe"; exit 1; }; continue ;;
  esac
  found=$(cd "$dir" && "${run[@]}" find HELLO sample/sample.rom)
  grep -q "A=0x80  2 hits" <<<"$found" || { echo "$archive: find gave: $found"; exit 1; }
  echo "$archive: $("${run[@]}" help --version)"
done

# The page: its sum, and the version its name gives inside it.
pages=(dist/glyphound-*.html)
[ -f "${pages[0]}" ] || { echo "dist: no glyphound-VERSION.html"; exit 1; }
page=$(basename "${pages[0]}")
(cd dist && sha256sum -c "$page.sha256" >/dev/null)
version=${page#glyphound-}
grep -q "<title>Glyphound ${version%.html}</title>" "dist/$page" || { echo "$page: no version ${version%.html}"; exit 1; }
echo "$page: Glyphound ${version%.html}"
