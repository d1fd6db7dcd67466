#!/usr/bin/env bash
# Capture filter figures under Wine (see filter_wine.py), for the 32-bit or
# the 64-bit filter with the service of the same build; the phone stand-in is
# the native release build's. Runs in a private namespace and a prefix copy.
#
#   bash bench/filter_wine.sh [win32|win64] [--seconds S] [--subtypes I420,MJPG,RGB24]
set -euo pipefail
. "$(dirname "$0")/wine_bench_common.sh"
wine_bench_args filter_wine "$@"
filter=$build/filter/ovalix_filter.dll
snap=$build/tools/snap/ovalix-snap.exe
require_built filter_wine "$preset" "$build" "$filter" "$snap"
run_wine_bench filter_wine "$build" --seconds "$seconds" --subtypes "$subtypes" \
  --filter "$filter" --snap "$snap"
