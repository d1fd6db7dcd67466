#!/usr/bin/env bash
# The serial link end to end under Wine: OvalixSvc.exe runs as a service and
# finds the phone's port through SetupAPI, where register_port.exe has put a
# present "Ports" device with the port name COM21; the prefix's COM21 leads to
# one end of a pty pair, the native phone stand-in sits on the other end.
#
#   serial_link_wine.sh SCENARIO OvalixSvc.exe ovalix-monitor.exe \
#                       register_port.exe ovalix-phone
#
# Scenarios as in serial_link_native.sh: stream, beats-tcp, vanish. Runs
# inside the test run's private namespace, with the wineserver started there.
set -euo pipefail

scenario=$1
svc=$2
monitor_exe=$3
register_exe=$4
phone=$5

root=$(cd "$(dirname "$0")/../.." && pwd)
: "${OVALIX_WINEPREFIX:=$root/build/wine}"
export OVALIX_WINEPREFIX
run="$root/scripts/wine-run.sh"
"$root/scripts/wine-prefix.sh"
dos=$OVALIX_WINEPREFIX/dosdevices
port=COM21

work=$(mktemp -d /tmp/ovalix-serial-wine.XXXXXX)
pids=()
svc_pid=

monitor_cmd=("$run" "$monitor_exe")
monitor() { "${monitor_cmd[@]}" "$@"; }
. "$root/tests/service/serial_link_common.sh"
register() { "$run" "$register_exe" "$@"; }

cleanup() {
  [ -n "$svc_pid" ] && kill -CONT "$svc_pid" 2>/dev/null || true
  "$run" net stop OvalixSvc >/dev/null 2>&1 || true
  "$run" sc delete OvalixSvc >/dev/null 2>&1 || true
  register clear >/dev/null 2>&1 || true
  rm -f "$dos/com21"
  reap_pids
  rm -rf "$work"
}
trap cleanup EXIT

make_pty_pair
ln -sfn "$work/pty-service" "$dos/com21"

# The phone's modem port is listed too; it must never be chosen.
register clear
register add COM20 "Nokia Phone USB Modem" >/dev/null || fail "cannot register COM20"
plug() { register add "$port" "Nokia Phone Serial" >/dev/null || fail "cannot register $port"; }

start_service() {
  # Installed afresh, so that the service runs this build's program.
  "$run" sc delete OvalixSvc >/dev/null 2>&1 || true
  "$run" "$svc" install >/dev/null 2>&1 || true
  "$run" net start OvalixSvc >"$work/net.log" 2>&1 || fail "net start OvalixSvc failed"
  monitor --wait-state 0 --timeout 10000 >/dev/null || fail "service did not come up"
  # Wine ends the prefix's services a moment after the last other program of
  # the prefix has ended; a watching monitor keeps one running.
  "$run" "$monitor_exe" --watch >/dev/null 2>&1 &
  pids+=($!)
  monitor --request 640x480 || fail "cannot request a size"
}

# The service's process under this prefix (for holding it still): a process
# whose program is OvalixSvc.exe, not one (like this script) that merely names
# it among its arguments. Under qemu-user the command line is the emulator's,
# and the program follows qemu-i386, Wine's preloader and its loader.
service_pid() {
  local pid program
  for pid in $(pgrep -f 'OvalixSvc\.exe' || true); do
    program=$(tr '\0' '\n' <"/proc/$pid/cmdline" 2>/dev/null |
              grep -v -m 1 -e '/qemu-i386$' -e '/wine-preloader$' -e '/wine$')
    case "$program" in
      *[Oo]valix[Ss]vc.exe) ;;
      *) continue ;;
    esac
    if grep -qxz "WINEPREFIX=$OVALIX_WINEPREFIX" "/proc/$pid/environ" 2>/dev/null; then
      echo "$pid"
      return 0
    fi
  done
  return 1
}

case "$scenario" in
stream)
  plug
  serial_phone
  start_service
  monitor --wait-state 3 --timeout 20000 || fail "serial link not streaming"
  take_frames 30
  ;;

beats-tcp)
  start_service
  serial_phone
  sleep 1.5
  svc_pid=$(service_pid) || fail "service process not found"
  plug_beside_tcp_phone "$svc_pid"
  svc_pid=
  monitor --wait-state 3 --timeout 20000 || fail "no link"
  take_frames 10
  check_serial_phone_served
  ;;

vanish)
  start_service
  # No phone: the link waits for a table that never comes. The port taken
  # away ends that wait at the next step, long before the 1500 ms time-out.
  "$run" "$register_exe" vanish "$port" 1000 >"$work/vanish.log" 2>&1 &
  vanish_pid=$!
  sleep 1
  plug
  wait "$vanish_pid" || fail "link not ended by the vanished port"
  tr -d '\r' <"$work/vanish.log"

  # Once the table has come, presence is no longer checked: frames keep
  # coming with the port gone, and only silence ends the link.
  plug
  serial_phone
  monitor --wait-state 3 --timeout 20000 || fail "serial link not streaming"
  register remove "$port"
  take_frames 20
  monitor --wait-state 3 --timeout 100 || fail "link dropped with the phone still sending"
  phone_pid=${pids[-1]}
  kill -STOP "$phone_pid"
  monitor --wait-state 0 --timeout 15000 || fail "silent link not dropped"
  kill -CONT "$phone_pid"
  ;;

*)
  echo "unknown scenario $scenario" >&2
  exit 2
  ;;
esac
echo "PASS $scenario"
