#!/usr/bin/env bash
# Latency of the serial link, natively: the phone stand-in streams 1280x720
# JPEG at 30 fps over a pty pair to OvalixSvc, which finds the port in a fake
# device tree; the monitor takes every frame and reports the time from the
# phone's send (the frame's stamp) to its take, p50 and p99.
#
#   bash bench/serial_latency.sh [SECONDS] [BUILD_DIR]
#
# BUILD_DIR defaults to build/native-release (scripts/build.sh native-release).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
build=${2:-$root/build/native-release}
for program in service/OvalixSvc tools/phone/ovalix-phone tools/monitor/ovalix-monitor; do
  [ -x "$build/$program" ] || { echo "missing $build/$program: build it first" >&2; exit 1; }
done
echo "serial link, 1280x720 at 30 fps, $seconds s ($build)"
exec bash "$root/tests/service/serial_link_native.sh" latency "$build/service/OvalixSvc" \
  "$build/tools/phone/ovalix-phone" "$build/tools/monitor/ovalix-monitor" "$seconds"
