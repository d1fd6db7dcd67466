#!/usr/bin/env bash
# Runs each libFuzzer target for a bounded time (OVALIX_FUZZ_SECONDS, default 60).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${OVALIX_FUZZ_SECONDS:-60}
shopt -s nullglob
for f in build/fuzz/fuzz/fuzz_*; do
  [ -x "$f" ] || continue
  name=$(basename "$f")
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus"
  echo "-- $name for ${seconds}s"
  "$f" -max_total_time="$seconds" -print_final_stats=1 "$corpus" 2>&1 | tail -n 12
  [ "${PIPESTATUS[0]}" -eq 0 ]
done
