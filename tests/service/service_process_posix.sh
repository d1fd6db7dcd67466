#!/bin/sh
# OvalixSvc as a Linux process: notify protocol status sequence, stop by
# SIGTERM and SIGINT, the format table saved at stop and loaded at the next
# start, the monitor as a consumer, and installation of the systemd unit.
# Usage: service_process_posix.sh OvalixSvc ovalix-monitor
set -u
svc=$1
monitor=$2
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export STATE_DIRECTORY="$tmp/state"
export OVALIX_UNIT_DIR="$tmp/units"
mkdir -p "$STATE_DIRECTORY" "$OVALIX_UNIT_DIR"
# The DNS-SD client library keeps blocks in its globals that unloading it at
# stop orphans; only those are suppressed.
export LSAN_OPTIONS="suppressions=$here/../lsan.supp:fast_unwind_on_malloc=0:print_suppressions=0"
store="$STATE_DIRECTORY/Software/Ovalix/Setup"
failures=0
fail() { printf 'FAIL: %s\n' "$*"; failures=$((failures + 1)); }

expected_sequence='STATUS=START_PENDING checkpoint=1 wait_hint=3000
STATUS=RUNNING checkpoint=0 wait_hint=0
STATUS=STOP_PENDING checkpoint=2 wait_hint=0
STATUS=STOP_PENDING checkpoint=3 wait_hint=0
STATUS=STOPPED checkpoint=0 wait_hint=0'

# run_service NOTIFY_NAME SIGNAL CHECK_FUNCTION [args...]
run_service() {
  name=$1; sig=$2; check=$3; shift 3
  rm -f "$tmp/ready" "$tmp/notify.log"
  python3 "$here/notify_receiver.py" "$name" "$tmp/notify.log" "$tmp/ready" &
  receiver=$!
  for _ in $(seq 100); do [ -e "$tmp/ready" ] && break; sleep 0.05; done
  NOTIFY_SOCKET="$name" "$svc" "$@" >"$tmp/svc.out" 2>&1 &
  pid=$!
  "$monitor" --wait-state 0 --timeout 10000 || fail "service did not come up"
  $check
  kill -"$sig" "$pid"
  wait "$pid"; rc=$?
  wait "$receiver"
  [ "$rc" -eq 0 ] || fail "service exit code $rc"
  [ -s "$tmp/svc.out" ] && fail "service printed: $(cat "$tmp/svc.out")"
  got=$(grep '^STATUS=' "$tmp/notify.log")
  [ "$got" = "$expected_sequence" ] || fail "status sequence was:
$got"
  grep -qx 'READY=1' "$tmp/notify.log" || fail "no READY=1"
  grep -qx 'STOPPING=1' "$tmp/notify.log" || fail "no STOPPING=1"
  grep -qx 'EXTEND_TIMEOUT_USEC=3000000' "$tmp/notify.log" || fail "no EXTEND_TIMEOUT_USEC"
}

# 1. Nothing running: the monitor says so and fails.
"$monitor" >"$tmp/mon.out" 2>&1 && fail "monitor succeeded without a service"
grep -q "not running\|not there" "$tmp/mon.out" || fail "monitor message: $(cat "$tmp/mon.out")"

# 2. First start: no stored table. "install" as a later argument is ignored.
check_first() {
  "$monitor" >"$tmp/view" || fail "monitor failed"
  grep -q '^link: LINK_IDLE (0)' "$tmp/view" || fail "view: $(cat "$tmp/view")"
  grep -q '^requested: 0 x 0' "$tmp/view" || fail "requested size not 0 x 0"
  grep -q '^formats: mode 3, count 1' "$tmp/view" || fail "not the default table"
  grep -q '640 x 480 @ 30 flags 0' "$tmp/view" || fail "not the default entry"
  # Let the connection cycle run a few steps before the stop arrives.
  sleep 1.6
}
run_service "$tmp/notify" TERM check_first run install
[ -e "$OVALIX_UNIT_DIR/OvalixSvc.service" ] && fail "a later 'install' argument installed"
[ "$(stat -c %s "$store" 2>/dev/null)" = 352 ] || fail "no 352-byte table saved at stop"
"$monitor" >/dev/null 2>&1 && fail "block still there after stop"

# 3. A stored three-entry table with header words is offered at the next start
#    and saved back unchanged; notify over an abstract socket, stop by SIGINT.
python3 - "$store" <<'PY'
import struct, sys
table = struct.pack("<4I", 0xDEADC0DE, 0x01020304, 0x20005, 336)
table += struct.pack("<4I", 2, 0xA5A5A5A5, 0x5A5A5A5A, 3)
for w, h, fps, flags in ((320, 240, 30.0, 0), (640, 480, 15.0, 1), (1280, 720, 10.0, 0)):
    table += struct.pack("<If", w | (h << 12) | (flags << 24), fps)
table += b"\x00" * (352 - len(table))
open(sys.argv[1], "wb").write(table)
PY
cp "$store" "$tmp/written"
check_table() {
  "$monitor" >"$tmp/view" || fail "monitor failed"
  grep -q '^requested: 1280 x 720' "$tmp/view" || fail "requested: $(grep requested "$tmp/view")"
  grep -q '^formats: mode 2, count 3' "$tmp/view" || fail "table: $(cat "$tmp/view")"
  grep -q '640 x 480 @ 15 flags 1' "$tmp/view" || fail "second entry missing"
}
run_service "@ovalix-notify-$$" INT check_table
cmp -s "$store" "$tmp/written" || fail "saved table differs from the one loaded"

# failed_start WHAT: the service cannot create its block: START_PENDING then
# STOPPED, exit 0.
failed_start() {
  rm -f "$tmp/ready"
  python3 "$here/notify_receiver.py" "$tmp/notify" "$tmp/notify.log" "$tmp/ready" &
  receiver=$!
  for _ in $(seq 100); do [ -e "$tmp/ready" ] && break; sleep 0.05; done
  NOTIFY_SOCKET="$tmp/notify" "$svc" >"$tmp/svc.out" 2>&1 || fail "$1: exit code $?"
  wait "$receiver"
  got=$(grep '^STATUS=' "$tmp/notify.log")
  [ "$got" = 'STATUS=START_PENDING checkpoint=1 wait_hint=3000
STATUS=STOPPED checkpoint=0 wait_hint=0' ] || fail "$1 reported:
$got"
}

# 4. A block that cannot be created.
mkdir /dev/shm/OvalixSvcMemory
failed_start "name taken by a directory"
rmdir /dev/shm/OvalixSvcMemory

# 4b. A shared-memory file system too small for the block: no bus error, and
#     nothing left behind.
mount -t tmpfs -o size=1m,mode=1777 tmpfs /dev/shm
failed_start "/dev/shm of 1 MB"
[ -z "$(ls -A /dev/shm)" ] || fail "left in a small /dev/shm: $(ls -A /dev/shm)"
umount /dev/shm

# 4c. A Setup value that is a FIFO is a bad value (defaults, 640 x 480), not a
#     start that hangs; SIGHUP and SIGPIPE leave the service running, and
#     SIGQUIT stops it cleanly with the table saved over the FIFO.
rm -f "$store"
mkfifo "$store"
check_signals() {
  "$monitor" >"$tmp/view" || fail "monitor failed"
  grep -q '^requested: 640 x 480' "$tmp/view" || fail "FIFO value: $(cat "$tmp/view")"
  kill -HUP "$pid"
  kill -PIPE "$pid"
  sleep 0.3
  kill -0 "$pid" 2>/dev/null || fail "SIGHUP or SIGPIPE ended the service"
}
run_service "$tmp/notify" QUIT check_signals
[ -f "$store" ] && [ "$(stat -c %s "$store")" = 352 ] || fail "no table saved after SIGQUIT"

# 5. Without NOTIFY_SOCKET the service simply runs in the foreground.
env -u NOTIFY_SOCKET "$svc" >"$tmp/svc.out" 2>&1 &
pid=$!
"$monitor" --wait-state 0 --timeout 10000 || fail "foreground service did not come up"
"$monitor" --request 800x600 || fail "monitor --request failed"
"$monitor" | grep -q '^requested: 800 x 600' || fail "request not written"
kill -TERM "$pid"; wait "$pid" || fail "foreground service exit code $?"

# 6. Installation: case-insensitive word, quoted path with a space, enabled,
#    silent, and a second install changes nothing.
mkdir -p "$tmp/with space"
cp "$svc" "$tmp/with space/OvalixSvc"
out=$("$tmp/with space/OvalixSvc" InStAlL 2>&1); rc=$?
[ "$rc" -eq 0 ] && [ -z "$out" ] || fail "install: rc=$rc output=$out"
unit="$OVALIX_UNIT_DIR/OvalixSvc.service"
grep -qx "ExecStart=\"$tmp/with space/OvalixSvc\"" "$unit" || fail "ExecStart: $(grep ExecStart "$unit")"
for line in 'Type=notify' 'StateDirectory=ovalix' 'RuntimeDirectory=ovalix' \
            'Description=Ovalix connection manager' \
            'WantedBy=multi-user.target'; do
  grep -qx "$line" "$unit" || fail "unit lacks $line"
done
[ "$(readlink "$OVALIX_UNIT_DIR/multi-user.target.wants/OvalixSvc.service")" = "$unit" ] ||
  fail "unit not enabled"
cp "$unit" "$tmp/unit.before"
out=$("$svc" install 2>&1); rc=$?
[ "$rc" -eq 0 ] && [ -z "$out" ] || fail "second install: rc=$rc output=$out"
cmp -s "$unit" "$tmp/unit.before" || fail "second install changed the unit"

rm -rf "$tmp/units2"; mkdir "$tmp/units2"
OVALIX_UNIT_DIR="$tmp/units2" "$svc" install
grep -qx "ExecStart=$svc" "$tmp/units2/OvalixSvc.service" || fail "unquoted path: $(grep ExecStart "$tmp/units2/OvalixSvc.service")"

[ "$failures" -eq 0 ] && echo "all checks passed"
exit "$failures"
