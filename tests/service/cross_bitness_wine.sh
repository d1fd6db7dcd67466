#!/bin/sh
# cross_bitness_wine.sh SVC64 MONITOR64 PROBE WIN32_DIR PHONE
# The 32-bit and the 64-bit service take turns under Wine's service manager,
# as an upgrade or a downgrade would have them, each streaming from the
# native phone stand-in with a format table of its own:
#   32-bit service, 64-bit reader; then 64-bit service, 32-bit reader; then
#   the 32-bit service again.
# Each reader is the monitor of the other bitness, taking frames from the
# block; each service starts with the table the one before it saved at stop
# (both keep it in the 32-bit registry view, nothing in the 64-bit one), and
# each install registers the path of the program that ran it.
# Runs where 32-bit programs run, natively or under qemu-user
# (scripts/win32-emulation.sh); exits 77 (skip) elsewhere, or when the 32-bit
# build is missing.
set -u
svc64=$1 monitor64=$2 probe=$3 win32=$4 phone=$5
root=$(cd "$(dirname "$0")/../.." && pwd)
run=$root/scripts/wine-run.sh
svc32=$win32/service/OvalixSvc.exe
monitor32=$win32/tools/monitor/ovalix-monitor.exe

if ! how32=$("$root/scripts/win32-runs.sh" --say); then
  echo "cross-bitness test skipped: 32-bit programs here: $how32"
  exit 77
fi
echo "32-bit programs here: $how32"
for program in "$svc32" "$monitor32" "$phone"; do
  if [ ! -f "$program" ]; then
    echo "cross-bitness test skipped: $program has not been built"
    exit 77
  fi
done

work=$(mktemp -d) || exit 1
phone_pid=
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# Runs a Windows program; its output without carriage returns, its exit code.
w() {
  "$run" "$@" >"$work/w.out" 2>/dev/null
  wrc=$?
  tr -d '\r' <"$work/w.out"
  return $wrc
}

stop_phone() {
  [ -n "$phone_pid" ] && kill "$phone_pid" 2>/dev/null && wait "$phone_pid" 2>/dev/null
  phone_pid=
}
cleanup() {
  stop_phone
  "$run" net stop OvalixSvc >/dev/null 2>&1
  "$run" "$probe" delete >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

# wait_state N: until the service manager reports state N (4 running,
# 1 stopped), for up to 10 s.
wait_state() {
  for _ in $(seq 100); do
    w "$probe" status | grep -q "^state=$1 " && return 0
    sleep 0.1
  done
  return 1
}

# table READER: the format table of the block as READER shows it.
table() {
  w "$1" | sed -n '/^formats:/,/^currentSlot:/p' | grep -v '^currentSlot:'
}

# turn BITS SERVICE READER FORMATS: installs and starts SERVICE, checks that
# it loaded the table the service before it held ($work/table), streams from
# the stand-in with FORMATS through READER, and stops it.
turn() {
  bits=$1 service=$2 reader=$3 formats=$4
  echo "== $bits-bit service, $((96 - bits))-bit reader"
  w "$probe" delete >/dev/null
  # A deleted service goes only once its process has ended, which can come
  # well after it reported "stopped" (on a busy machine, or under qemu-user);
  # installed before that, the new one would not replace it.
  for _ in $(seq 100); do
    w "$probe" status >/dev/null || break
    sleep 0.1
  done
  w "$service" install >/dev/null
  windows_path="Z:$(printf %s "$service" | tr / '\\')"
  w "$probe" config | grep -qixF "path=$windows_path" ||
    fail "registered $(w "$probe" config | grep path=), not $windows_path"
  w net start OvalixSvc >/dev/null
  wait_state 4 || fail "the $bits-bit service is not running"
  table "$reader" >"$work/loaded"
  cmp -s "$work/loaded" "$work/table" ||
    fail "the $bits-bit service did not load the stored table: $(cat "$work/loaded") instead of $(cat "$work/table")"

  "$phone" --connect 127.0.0.1:5055 --mode 2 --formats "$formats" >"$work/phone.log" 2>&1 &
  phone_pid=$!
  w "$reader" --wait-state 3 --timeout 15000 >/dev/null || fail "no streaming link for the $bits-bit service"
  frames=$(w "$reader" --take --seconds 2 --quiet | sed -n 's/^summary frames=\([0-9]*\).*/\1/p')
  [ "${frames:-0}" -gt 0 ] || fail "the reader took no frames from the $bits-bit service"
  table "$reader" >"$work/table"
  cmp -s "$work/table" "$work/loaded" && fail "the phone's table did not replace the loaded one"
  stop_phone

  w "$probe" delete-table >/dev/null
  w net stop OvalixSvc >/dev/null
  wait_state 1 || fail "the $bits-bit service did not stop"
  w "$probe" read-table | head -1 | grep -q '^type=3 size=352' || fail "the $bits-bit service saved no table"
  OVALIX_WINE_BITS=64 "$run" reg query 'HKLM\Software\Ovalix' /reg:64 >/dev/null 2>&1 &&
    fail "a table in the 64-bit registry view after the $bits-bit service"
}

# The first turn starts from the default table; each later one from the
# table the turn before saved at stop (its phone's).
w "$probe" delete-table >/dev/null
printf 'formats: mode 3, count 1\n  [ 0] 640 x 480 @ 30 flags 0\n' >"$work/table"
turn 32 "$svc32" "$monitor64" 800x600@15,320x240@30
turn 64 "$svc64" "$monitor32" 640x480@30,176x144@10,1280x720@30
turn 32 "$svc32" "$monitor64" 320x240@30

[ "$failures" -eq 0 ] && echo "all cross-bitness checks passed"
exit "$failures"
