#!/usr/bin/env bash
# Installs the build into a temporary prefix, checks the tree, renders the
# manual page without warnings (where man exists), and checks that every
# option of every command's help is in the page.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
page=$prefix/share/man/man1/glyphound.1
for file in bin/glyphound share/man/man1/glyphound.1 share/doc/glyphound/README.md share/doc/glyphound/LICENSE \
  share/bash-completion/completions/glyphound; do
  [ -f "$prefix/$file" ] || { echo "not installed: $file"; exit 1; }
done
if command -v man >/dev/null; then
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || { echo "$warnings"; exit 1; }
fi
text=$(sed 's/\\-/-/g' "$page")
for command in find table dump encode insert pointers shift guess patch tiles help; do
  for option in $("$prefix/bin/glyphound" help "$command" | grep -oE '(^|[ ,])--?[A-Za-z0-9][A-Za-z0-9-]*' | tr -d ' ,' | sort -u); do
    grep -qe "$option" <<<"$text" || { echo "$command $option is not in the manual page"; exit 1; }
  done
done
