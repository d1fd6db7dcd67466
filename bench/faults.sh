#!/usr/bin/env bash
# Reliability figures: the real service through many phone faults in a row
# (a phone killed while streaming, a phone that stalls, a phone that floods
# garbage, a reader killed holding the mutex). After each fault a fresh phone
# connects; the time from the fault until the service asks that phone for a
# format is the recovery time. Prints recovery times per kind and the
# service's open descriptors, threads and resident memory before the first
# and after the last cycle. Reports numbers, never fails on timing.
#
# With --readers, the cycles hit the readers instead, all running at once
# (ovalix-monitor, an ovalixsrc pipeline, ovalix-camera with a PipeWire
# consumer): the service killed, the named objects cut, the camera's consumer
# killed. Prints each reader's recovery per fault (fault to its next live
# frame) and its descriptors, threads and resident memory before and after.
#
#   bash bench/faults.sh [BUILD_DIR] [--cycles N] [--readers]
#
# BUILD_DIR defaults to build/native-release (the test child comes from the
# same tree). Runs itself inside scripts/isolate.sh; needs root for that.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

build=$root/build/native-release
cycles=100
inside=0
readers=
while [ $# -gt 0 ]; do
  case "$1" in
    --cycles) cycles=$2; shift 2 ;;
    --inside) inside=1; shift ;;
    --readers) readers=--readers; shift ;;
    -*) echo "usage: bash bench/faults.sh [BUILD_DIR] [--cycles N] [--readers]" >&2; exit 2 ;;
    *) build=$(cd "$1" && pwd); shift ;;
  esac
done

if [ "$inside" -eq 0 ]; then
  exec "$root/scripts/isolate.sh" bash "$root/bench/faults.sh" "$build" --inside --cycles "$cycles" \
    $readers
fi
if [ -n "$readers" ]; then
  exec python3 "$root/bench/reader_faults.py" --build "$build" --cycles "$cycles"
fi
exec python3 "$root/bench/faults.py" --build "$build" --cycles "$cycles"
