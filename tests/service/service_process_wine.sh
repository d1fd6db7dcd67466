#!/bin/sh
# OvalixSvc.exe under Wine's service manager: installation (case-insensitive
# word, quoted path with a space, second install changes nothing), start and
# stop with `net`, the states seen through QueryServiceStatus, the block seen
# by the monitor, and the format table saved at stop and loaded at next start.
# Usage: service_process_wine.sh OvalixSvc.exe ovalix-monitor.exe service_probe.exe
set -u
svc=$1
monitor=$2
probe=$3
root=$(cd "$(dirname "$0")/../.." && pwd)
run="$root/scripts/wine-run.sh"
: "${OVALIX_WINEPREFIX:=$root/build/wine}"
export OVALIX_WINEPREFIX
tmp=$(mktemp -d)
spaced="$OVALIX_WINEPREFIX/drive_c/Program Files/Ovalix Test"
trap 'rm -rf "$tmp" "$spaced"' EXIT
failures=0
fail() { printf 'FAIL: %s\n' "$*"; failures=$((failures + 1)); }
# Runs a Windows program; its output without carriage returns, its exit code.
w() {
  "$run" "$@" >"$tmp/w.out" 2>/dev/null
  wrc=$?
  tr -d '\r' <"$tmp/w.out"
  return $wrc
}

# The service is installed to start automatically, so a service manager that
# comes up again (Wine's does once its server has been idle) would start it
# behind the test's back. One Wine process kept alive for the whole test keeps
# the server and its service manager up.
"$run" "$probe" sleep 600000 >/dev/null 2>&1 &
keepalive=$!
# Whatever happens, leave no auto-start service behind for later tests.
cleanup() {
  "$run" net stop OvalixSvc >/dev/null 2>&1
  "$run" "$probe" delete >/dev/null 2>&1
  kill "$keepalive" 2>/dev/null
  rm -rf "$tmp" "$spaced"
}
trap cleanup EXIT
sleep 1
w net stop OvalixSvc >/dev/null
w "$probe" delete >/dev/null
w "$probe" delete-table >/dev/null

# 1. "install" as a later argument does not install; without the service
#    manager the dispatcher fails and the program ends quietly with 0.
out=$(w "$svc" run install); rc=$?
[ -z "$out" ] || fail "run install printed: $out"
w "$probe" config >/dev/null && fail "a later 'install' argument installed"

# 2. Installed from a path with a space, in mixed case: quoted path.
mkdir -p "$spaced"
cp "$svc" "$spaced/OvalixSvc.exe"
out=$("$run" 'C:\Program Files\Ovalix Test\OvalixSvc.exe' InStAlL 2>&1); rc=$?
[ "$rc" -eq 0 ] && [ -z "$out" ] || fail "install: rc=$rc output=$out"
w "$probe" config >"$tmp/config"
grep -qx 'path="C:\\Program Files\\Ovalix Test\\OvalixSvc.exe"' "$tmp/config" ||
  fail "quoted path: $(grep path= "$tmp/config")"
grep -qx 'display=OvalixSvc' "$tmp/config" || fail "display name"
grep -qx 'type=16 start=2 error=1' "$tmp/config" || fail "type/start/error: $(cat "$tmp/config")"
grep -qx 'description=Ovalix connection manager' "$tmp/config" || fail "description"
w "$probe" delete >/dev/null || fail "could not delete the registration"

# 3. Installed from the build tree (no space): the path as it is. A second
#    install, even from elsewhere, changes nothing.
w "$svc" install >/dev/null
w "$probe" config >"$tmp/config"
grep -q '^path=[^"].*OvalixSvc.exe$' "$tmp/config" || fail "plain path: $(grep path= "$tmp/config")"
cp "$tmp/config" "$tmp/config.before"
out=$("$run" 'C:\Program Files\Ovalix Test\OvalixSvc.exe' install 2>&1); rc=$?
[ "$rc" -eq 0 ] && [ -z "$out" ] || fail "second install: rc=$rc output=$out"
w "$probe" config >"$tmp/config"
cmp -s "$tmp/config" "$tmp/config.before" || fail "second install changed the registration"

# start_stop CHECK: net start, CHECK while running, net stop; the states seen.
start_stop() {
  "$run" "$probe" watch 15000 2>/dev/null | tr -d '\r' >"$tmp/states" &
  watcher=$!
  sleep 1
  w net start OvalixSvc >/dev/null
  # Wine's net start returns once the service has been started, which may be
  # before it has left START_PENDING; wait for the pending state to end.
  for _ in $(seq 100); do
    w "$probe" status | grep -q '^state=2 ' || break
    sleep 0.1
  done
  w "$probe" status | grep -q '^state=4 checkpoint=0 wait_hint=0 accepted=1' ||
    fail "not RUNNING after net start: $(w "$probe" status)"
  $1
  w net stop OvalixSvc >/dev/null
  for _ in $(seq 100); do
    w "$probe" status | grep -q '^state=1 ' && break
    sleep 0.1
  done
  w "$probe" status | grep -q '^state=1 checkpoint=0' || fail "not STOPPED after net stop"
  w "$monitor" >/dev/null && fail "block still there after stop"
  wait "$watcher"
  grep -q '^state=2 checkpoint=1 wait_hint=3000 accepted=0' "$tmp/states" ||
    grep -q '^state=4 ' "$tmp/states" || fail "states seen: $(cat "$tmp/states")"
  grep -q '^state=4 checkpoint=0 wait_hint=0 accepted=1' "$tmp/states" || fail "RUNNING not seen"
  grep -q '^state=1 checkpoint=0 wait_hint=0 accepted=1' "$tmp/states" || fail "STOPPED not seen"
  grep -q '^state=3 checkpoint=[1-9]' "$tmp/states" || echo "note: STOP_PENDING too short to see"
}

# 4. First start without a stored table: defaults, no requested size; the
#    table is saved at stop.
check_first() {
  w "$monitor" >"$tmp/view" || fail "monitor failed"
  grep -q '^requested: 0 x 0' "$tmp/view" || fail "view: $(cat "$tmp/view")"
  grep -q '^formats: mode 3, count 1' "$tmp/view" || fail "not the default table"
}
start_stop check_first
w "$probe" read-table >"$tmp/table" || fail "no table saved at stop"
grep -qx 'type=3 size=352 class=config' "$tmp/table" || fail "saved value: $(head -1 "$tmp/table")"
grep -q '^0\{32\}03000000000000000000000001000000' "$tmp/table" || fail "saved defaults"

# 5. A stored three-entry table with header words is offered at the next
#    start and saved back unchanged.
table=$(python3 -c '
import struct
t = struct.pack("<4I", 0xDEADC0DE, 0x01020304, 0x20005, 336)
t += struct.pack("<4I", 2, 0xA5A5A5A5, 0x5A5A5A5A, 3)
for w, h, fps, flags in ((320, 240, 30.0, 0), (640, 480, 15.0, 1), (1280, 720, 10.0, 0)):
    t += struct.pack("<If", w | (h << 12) | (flags << 24), fps)
t += bytes(352 - len(t))
print(t.hex())')
w "$probe" write-table "$table" || fail "could not store the table"
check_table() {
  w "$monitor" >"$tmp/view" || fail "monitor failed"
  grep -q '^requested: 1280 x 720' "$tmp/view" || fail "view: $(cat "$tmp/view")"
  grep -q '^formats: mode 2, count 3' "$tmp/view" || fail "stored table not loaded"
}
start_stop check_table
[ "$(w "$probe" read-table | tail -1)" = "$table" ] || fail "saved table differs from the loaded one"

w "$probe" delete >/dev/null
w "$probe" delete-table >/dev/null
[ "$failures" -eq 0 ] && echo "all checks passed"
exit "$failures"
