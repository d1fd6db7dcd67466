#!/usr/bin/env bash
# ovalixsrc figures on loopback: the service, the phone stand-in streaming
# 1280x720 JPEG at 30 fps for 20 s, and `ovalixsrc ! fakesink` (no decoding)
# in bench_gst_source. Prints the share of the stand-in's frames that left
# the source, the latency from the phone's send stamp to the buffer leaving
# the source (p50/p99), the pipeline process's CPU share while frames flow,
# and the number of pooled buffers that carried them. Reports numbers, never
# fails on timing.
#
#   bash bench/gst_source.sh [BUILD_DIR] [--seconds S]
#
# BUILD_DIR defaults to build/native-release. Runs itself inside
# scripts/isolate.sh (private /dev/shm and loopback); needs root for that.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

build=$root/build/native-release
seconds=20
inside=0
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --inside) inside=1; shift ;;
    -*) echo "usage: bash bench/gst_source.sh [BUILD_DIR] [--seconds S]" >&2; exit 2 ;;
    *) build=$(cd "$1" && pwd); shift ;;
  esac
done

if [ "$inside" -eq 0 ]; then
  exec "$root/scripts/isolate.sh" bash "$root/bench/gst_source.sh" "$build" --inside \
    --seconds "$seconds"
fi

svc=$build/service/OvalixSvc
phone=$build/tools/phone/ovalix-phone
monitor=$build/tools/monitor/ovalix-monitor
bench=$build/bench/bench_gst_source
for p in "$svc" "$phone" "$monitor" "$bench"; do
  [ -x "$p" ] || { echo "gst_source: missing $p (build the native-release preset first)" >&2; exit 1; }
done

work=$(mktemp -d /tmp/ovalix-gst-bench.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/state"
STATE_DIRECTORY=$work/state "$svc" 2>"$work/service.err" &
pids=($!)
"$monitor" --wait-state 0 --timeout 5000 >/dev/null
"$monitor" --request 1280x720 >/dev/null

# The pipeline first (placeholders until the phone is there), then the phone
# for exactly the measured time; the pipeline ends a few seconds after it.
GST_REGISTRY=$work/registry.bin "$bench" --seconds $((seconds + 6)) >"$work/bench.out" &
bench_pid=$!
pids=("$bench_pid" "${pids[@]}")
sleep 2
"$phone" --connect 127.0.0.1:5055 --mode 3 --formats 1280x720@30,640x480@30,320x240@30 \
  --seconds "$seconds" >"$work/phone.out"
wait "$bench_pid"
pids=("${pids[@]:1}")

sent=$(sed -n 's/^phone frames=\([0-9]*\).*/\1/p' "$work/phone.out")
line=$(grep '^source ' "$work/bench.out")
field() { sed -n "s/.* $1=\([-0-9.]*\).*/\1/p" <<<"$line"; }
live=$(field live)
delivered=$(awk -v t="$live" -v s="$sent" 'BEGIN { if (s > 0) printf "%.2f", 100 * t / s; else print "n/a" }')

echo "ovalixsrc: 1280x720 JPEG at 30 fps for ${seconds} s over TCP loopback, ovalixsrc ! fakesink ($(basename "$build"))"
printf '  frames sent %s, left the source %s, gaps in the counter %s\n' "$sent" "$live" "$(field gaps)"
printf '  delivered            %7s %%   (budget >= 99.5 %%)\n' "$delivered"
printf '  latency p50          %7s ms  (budget <= 12 ms)\n' "$(field latency_p50_ms)"
printf '  latency p99          %7s ms  (budget <= 30 ms)\n' "$(field latency_p99_ms)"
printf '  pipeline CPU         %7s %%   of one core over %s s of frames (budget <= 1 %%)\n' "$(field cpu_percent)" "$(field over_s)"
printf '  pooled buffers used  %7s\n' "$(field buffers)"
printf '  to NULL from playing %7s ms  (budget <= 20 ms)\n' "$(field stop_ms)"
echo "  ($line)"
