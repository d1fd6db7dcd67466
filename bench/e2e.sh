#!/usr/bin/env bash
# End-to-end figures on loopback: the service, the phone stand-in streaming
# 1280x720 JPEG at 30 fps to port 5055 and the monitor taking every frame.
# Prints the share of frames delivered, the latency from the phone's send to
# the monitor's take (p50/p99), the time from the phone's connect to the
# service's format request, and the service's CPU share idle, while streaming
# and while a phone sends as fast as it can (utime+stime from
# /proc/<pid>/stat over each interval, all threads). It reports numbers and
# never fails on timing.
#
#   bash bench/e2e.sh [BUILD_DIR] [--seconds S] [--idle-seconds S]
#
# BUILD_DIR defaults to build/native-release. Runs itself inside
# scripts/isolate.sh (private /dev/shm and loopback); needs root for that.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

build=$root/build/native-release
seconds=20
idle_seconds=10
inside=0
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --idle-seconds) idle_seconds=$2; shift 2 ;;
    --inside) inside=1; shift ;;
    -*) echo "usage: bash bench/e2e.sh [BUILD_DIR] [--seconds S] [--idle-seconds S]" >&2; exit 2 ;;
    *) build=$(cd "$1" && pwd); shift ;;
  esac
done

if [ "$inside" -eq 0 ]; then
  exec "$root/scripts/isolate.sh" bash "$root/bench/e2e.sh" "$build" --inside \
    --seconds "$seconds" --idle-seconds "$idle_seconds"
fi

svc=$build/service/OvalixSvc
phone=$build/tools/phone/ovalix-phone
monitor=$build/tools/monitor/ovalix-monitor
for p in "$svc" "$phone" "$monitor"; do
  [ -x "$p" ] || { echo "e2e: missing $p (build the native-release preset first)" >&2; exit 1; }
done

work=$(mktemp -d /tmp/ovalix-e2e.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

hz=$(getconf CLK_TCK)
# utime + stime of a process, all threads, in clock ticks.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
now_ns() { date +%s%N; }
# percent of one core = 100 * (ticks / hz) / seconds
share() { awk -v t="$1" -v hz="$hz" -v ns="$2" 'BEGIN { printf "%.2f", 100 * (t / hz) / (ns / 1e9) }'; }

mkdir -p "$work/state"
STATE_DIRECTORY=$work/state "$svc" 2>"$work/service.err" &
svc_pid=$!
pids=("$svc_pid")
"$monitor" --wait-state 0 --timeout 5000 >/dev/null

# Idle: no phone anywhere; the cycle looks for one twice a second.
sleep 1
t0=$(cpu_ticks "$svc_pid"); n0=$(now_ns)
sleep "$idle_seconds"
t1=$(cpu_ticks "$svc_pid"); n1=$(now_ns)
idle_share=$(share $((t1 - t0)) $((n1 - n0)))

"$monitor" --request 1280x720 >/dev/null
"$monitor" --take --quiet --seconds $((seconds + 5)) >"$work/monitor.out" &
monitor_pid=$!
"$phone" --connect 127.0.0.1:5055 --mode 3 --formats 1280x720@30,640x480@30,320x240@30 \
  --seconds "$seconds" --log >"$work/phone.out" &
phone_pid=$!
pids=("$monitor_pid" "$phone_pid" "$svc_pid")

"$monitor" --wait-state 3 --timeout 10000 >/dev/null
sleep 1
t0=$(cpu_ticks "$svc_pid"); n0=$(now_ns)
sleep $((seconds - 3))
t1=$(cpu_ticks "$svc_pid"); n1=$(now_ns)
stream_share=$(share $((t1 - t0)) $((n1 - n0)))

wait "$phone_pid"
wait "$monitor_pid"
pids=("$svc_pid")

# Flood: frames at up to 1000 a second, each after 100,000 bytes of garbage,
# as fast as loopback takes them.
"$monitor" --wait-state 0 --timeout 5000 >/dev/null
"$phone" --connect 127.0.0.1:5055 --fps 1000 --noise 100000 --seconds 8 >/dev/null &
flood_pid=$!
pids=("$flood_pid" "$svc_pid")
"$monitor" --wait-state 3 --timeout 10000 >/dev/null
sleep 1
t0=$(cpu_ticks "$svc_pid"); n0=$(now_ns)
sleep 5
t1=$(cpu_ticks "$svc_pid"); n1=$(now_ns)
flood_share=$(share $((t1 - t0)) $((n1 - n0)))
wait "$flood_pid"
pids=("$svc_pid")

link_up=$(sed -n 's/^link up t_ms=\([0-9]*\).*/\1/p' "$work/phone.out" | head -1)
selected=$(sed -n 's/^select .*t_ms=\([0-9]*\).*/\1/p' "$work/phone.out" | head -1)
connect_ms=$(( selected - link_up ))

sent=$(sed -n 's/^phone frames=\([0-9]*\).*/\1/p' "$work/phone.out")
summary=$(grep '^summary ' "$work/monitor.out")
taken=$(sed -n 's/.*summary frames=\([0-9]*\).*/\1/p' <<<"$summary")
drops=$(sed -n 's/.* drops=\([0-9]*\).*/\1/p' <<<"$summary")
p50=$(sed -n 's/.*latency_p50_ms=\(-*[0-9]*\).*/\1/p' <<<"$summary")
p99=$(sed -n 's/.*latency_p99_ms=\(-*[0-9]*\).*/\1/p' <<<"$summary")
delivered=$(awk -v t="$taken" -v s="$sent" 'BEGIN { if (s > 0) printf "%.2f", 100 * t / s; else print "n/a" }')

echo "e2e: 1280x720 JPEG at 30 fps for ${seconds} s over TCP loopback ($(basename "$build"))"
printf '  frames sent %s, taken %s, gaps seen by the monitor %s\n' "$sent" "$taken" "$drops"
printf '  delivered            %7s %%   (budget >= 99.5 %%)\n' "$delivered"
printf '  latency p50          %7s ms  (budget <= 3 ms)\n' "$p50"
printf '  latency p99          %7s ms  (budget <= 8 ms)\n' "$p99"
printf '  connect to request   %7s ms  (budget <= 20 ms)\n' "$connect_ms"
printf '  OvalixSvc CPU idle   %7s %%   of one core over %s s (budget <= 0.5 %%)\n' "$idle_share" "$idle_seconds"
printf '  OvalixSvc CPU stream %7s %%   of one core over %s s (budget <= 0.6 %%)\n' "$stream_share" $((seconds - 3))
printf '  OvalixSvc CPU flood  %7s %%   of one core over 5 s\n' "$flood_share"
echo "  ($summary)"
