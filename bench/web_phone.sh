#!/usr/bin/env bash
# The browser phone's figures: headless Chromium's fake camera (colour bars,
# 1280x720 at 30 fps) as the phone, through the bridge into the real service,
# for 60 s with the monitor as the consumer: frames per second published,
# page stamp to consumer p50/p99, the bridge's CPU and resident memory over
# the run, then its memory and the link's rate under hostile clients (half-open
# connections, slow handshakes, garbage). Reports numbers, never fails on timing.
#
#   bash bench/web_phone.sh [BUILD_DIR] [--seconds S]
#
# BUILD_DIR defaults to build/native-release. Runs itself inside
# scripts/isolate.sh; needs root for that.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

build=$root/build/native-release
seconds=60
inside=0
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --inside) inside=1; shift ;;
    -*) echo "usage: bash bench/web_phone.sh [BUILD_DIR] [--seconds S]" >&2; exit 2 ;;
    *) build=$(cd "$1" && pwd); shift ;;
  esac
done

if [ "$inside" -eq 0 ]; then
  exec "$root/scripts/isolate.sh" bash "$root/bench/web_phone.sh" "$build" --inside \
    --seconds "$seconds"
fi
exec python3 "$root/bench/web_phone.py" --build "$build" --seconds "$seconds"
