#!/usr/bin/env bash
# End-to-end figures under Wine (see e2e_wine.py) for the service and monitor
# of the 32-bit or the 64-bit build; the phone stand-in is the native release
# build's. Runs in a private namespace and a prefix copy.
#
#   bash bench/e2e_wine.sh [win32|win64] [--seconds S]
set -euo pipefail
. "$(dirname "$0")/wine_bench_common.sh"
wine_bench_args e2e_wine "$@"
require_built e2e_wine "$preset" "$build" "$build/tools/monitor/ovalix-monitor.exe"
run_wine_bench e2e_wine "$build" --seconds "$seconds"
