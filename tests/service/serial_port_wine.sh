#!/bin/sh
# Runs the serial worker's test program under Wine. Each test case gets a
# fresh pseudo-terminal pair (a case may hang up its end): COM7 and COM107
# name one end, COM8 the other; COM9 is /dev/null, a device that is no serial
# line; COM42 does not exist. The pair itself outlives a closed end, so a
# case that hangs up creates the file named by OVALIX_SERIAL_HANGUP and the
# pair is torn down here, as a pulled cable would.
set -u
exe=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
: "${OVALIX_WINEPREFIX:=$root/build/wine}"
export OVALIX_WINEPREFIX
run="$root/scripts/wine-run.sh"
"$root/scripts/wine-prefix.sh" || exit 1
dos="$OVALIX_WINEPREFIX/dosdevices"
work=$(mktemp -d)
socat_pid=
watch_pid=
export OVALIX_SERIAL_HANGUP="Z:$(echo "$work/hangup" | tr / '\\')"

stop_pair() {
  [ -z "$watch_pid" ] || { kill "$watch_pid" 2>/dev/null; wait "$watch_pid" 2>/dev/null; }
  watch_pid=
  if [ -n "$socat_pid" ]; then
    kill "$socat_pid" 2>/dev/null
    wait "$socat_pid" 2>/dev/null
    socat_pid=
  fi
  rm -f "$dos/com7" "$dos/com8" "$dos/com9" "$dos/com107"
}
trap 'stop_pair; rm -rf "$work"' EXIT

cases=$("$run" "$exe" --gtest_list_tests | tr -d '\r' | awk '
  /^[^ ]/ { suite = $1 }
  /^  [^ ]/ { print suite $1 }')
[ -n "$cases" ] || { echo "no test cases listed" >&2; exit 1; }

failed=0
for case in $cases; do
  rm -f "$work/a" "$work/b" "$work/hangup"
  socat pty,raw,echo=0,link="$work/a" pty,raw,echo=0,link="$work/b" 2>>"$work/socat.log" &
  socat_pid=$!
  tries=0
  while [ ! -e "$work/a" ] || [ ! -e "$work/b" ]; do
    tries=$((tries + 1))
    [ $tries -le 100 ] || { echo "socat made no pty pair" >&2; exit 1; }
    sleep 0.05
  done
  ln -sfn "$work/a" "$dos/com7"
  ln -sfn "$work/a" "$dos/com107"
  ln -sfn "$work/b" "$dos/com8"
  ln -sfn /dev/null "$dos/com9"
  rm -f "$dos/com42"
  (while [ ! -e "$work/hangup" ]; do sleep 0.05; done; kill "$socat_pid") &
  watch_pid=$!
  "$run" "$exe" --gtest_filter="$case" || failed=1
  stop_pair
done
exit $failed
