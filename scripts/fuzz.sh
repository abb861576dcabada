#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) and runs each
# for the given number of seconds (default 20), starting from the seed corpus
# in fuzz/corpus. Fails on any finding; prints executions and coverage.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
CXX=${FUZZ_CXX:-clang++} cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DGLYPHOUND_FUZZ=ON -DGLYPHOUND_TESTS=OFF >/dev/null
cmake --build build-fuzz --target fuzz_scan fuzz_stream fuzz_dialogue fuzz_table fuzz_patch >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for target in scan stream dialogue table patch; do
  mkdir -p "$work/$target"
  log="$work/$target.log"
  if ! build-fuzz/fuzz_$target -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$work/" "$work/$target" "fuzz/corpus/$target" >"$log" 2>&1; then
    tail -40 "$log"
    echo "fuzz_$target: FOUND A FAULT (input kept in $work only while this runs)"
    exit 1
  fi
  stats=$(grep -E '^#[0-9]+' "$log" | tail -1)
  echo "fuzz_$target: ${seconds}s, $(grep -oE 'Done [0-9]+ runs' "$log" | tail -1 | cut -d' ' -f2) executions; last: $stats"
done
