#!/usr/bin/env bash
# Media Foundation camera figures under Wine (see vcam_wine.py), for the
# 32-bit or the 64-bit source with the service of the same build; the phone
# stand-in is the native release build's. Runs in a private namespace and a
# prefix copy.
#
#   bash bench/vcam_wine.sh [win32|win64] [--seconds S]
set -euo pipefail
. "$(dirname "$0")/wine_bench_common.sh"
wine_bench_args vcam_wine "$@"
source=$build/vcam/ovalix_vcam.dll
reader=$build/tests/vcam/ovalix-vcam-read.exe
require_built vcam_wine "$preset" "$build" "$source" "$reader"
run_wine_bench vcam_wine "$build" --seconds "$seconds" --source "$source" --reader "$reader"
