#!/usr/bin/env bash
# The serial link end to end: OvalixSvc finds the phone's port in a fake
# device database (OVALIX_DEVICE_ROOT) whose dev/ttyACM0 leads to one end of a
# pty pair; the phone stand-in sits on the other end.
#
#   serial_link_native.sh SCENARIO OvalixSvc ovalix-phone ovalix-monitor
#
# Scenarios:
#   stream     the link comes up on the serial port and frames arrive
#   beats-tcp  a phone on the cable wins over a TCP connection waiting on 5055
#   vanish     a port that vanishes while the table is awaited ends the link at
#              the next step; once the link is up, only silence ends it
#   latency S  streams 1280x720 at 30 fps for S seconds and prints the
#              monitor's summary (frames, drops, latency percentiles)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
if [ "${OVALIX_ISOLATED:-}" != 1 ]; then
  # A private /dev/shm and loopback: no other service, test or port 5055.
  exec env OVALIX_ISOLATED=1 "$here/../../scripts/isolate.sh" bash "$0" "$@"
fi

scenario=$1
svc=$2
phone=$3
monitor=$4

work=$(mktemp -d /tmp/ovalix-serial.XXXXXX)
root=$work/root
pids=()

monitor_cmd=("$monitor")
. "$here/serial_link_common.sh"

cleanup() {
  reap_pids
  rm -rf "$work"
}
trap cleanup EXIT

# The phone as the kernel would show it: a USB device with a modem interface
# (ttyACM0, COM201) and a serial interface (ttyACM1, COM202). Only the serial
# one has a device node: it leads to the service's end of the pty pair.
usb=$root/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1
make_interface() {   # number tty text protocol
  local dir=$usb/1-1:1.$1
  mkdir -p "$dir/tty/$2"
  echo "0$1" >"$dir/bInterfaceNumber"
  echo "$3" >"$dir/interface"
  echo 02 >"$dir/bInterfaceClass"
  echo 02 >"$dir/bInterfaceSubClass"
  echo "$4" >"$dir/bInterfaceProtocol"
  echo 166:0 >"$dir/tty/$2/dev"
  ln -s "../../../1-1:1.$1" "$dir/tty/$2/device"
}
mkdir -p "$usb" "$root/sys/class/tty" "$root/dev"
echo abcd >"$usb/idVendor"
echo Nokia >"$usb/manufacturer"
echo "Nokia Phone" >"$usb/product"
make_interface 0 ttyACM0 "Nokia Phone USB Modem" 01
make_interface 2 ttyACM1 "Nokia Phone Serial" ff
ln -s "$work/pty-service" "$root/dev/ttyACM1"
ln -s "../../devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/tty/ttyACM0" \
  "$root/sys/class/tty/ttyACM0"

plug() {
  ln -s "../../devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.2/tty/ttyACM1" \
    "$root/sys/class/tty/ttyACM1"
}
unplug() {
  rm -f "$root/sys/class/tty/ttyACM1"
}

make_pty_pair

start_service() {
  mkdir -p "$work/state"
  STATE_DIRECTORY=$work/state OVALIX_DEVICE_ROOT=$root "$svc" >"$work/service.log" 2>&1 &
  svc_pid=$!
  pids+=("$svc_pid")
  "$monitor" --wait-state 0 --timeout 10000 >/dev/null || fail "service did not come up"
  "$monitor" --request 640x480
}

case "$scenario" in
stream)
  plug
  serial_phone
  start_service
  "$monitor" --wait-state 3 --timeout 15000 || fail "serial link not streaming"
  take_frames 30
  grep -q "link up" "$work/serial-phone.log" || fail "phone saw no link"
  ;;

beats-tcp)
  start_service
  # The listening socket exists after the first idle step; a phone that
  # connects now would be accepted within 500 ms.
  serial_phone
  sleep 1.5
  plug_beside_tcp_phone "$svc_pid"
  "$monitor" --wait-state 3 --timeout 15000 || fail "no link"
  take_frames 10
  grep -q "link up" "$work/serial-phone.log" || fail "the serial phone has no link"
  check_serial_phone_served
  ;;

vanish)
  start_service
  # No phone yet: the port opens, and the link waits for a table that never
  # comes. A vanished port ends that wait at the next step, long before the
  # 1500 ms time-out.
  "$monitor" --wait-state 1 --timeout 15000 >"$work/wait1.log" 2>&1 &
  waiter=$!
  plug
  wait "$waiter" || fail "the serial link did not start"
  unplug
  start_ms=$(date +%s%3N)
  "$monitor" --wait-state 0 --timeout 1000 || fail "link still up after the port vanished"
  echo "idle $(( $(date +%s%3N) - start_ms )) ms after the port vanished"

  # Once the table has come, the port's presence is no longer checked: frames
  # keep coming with the port gone, and only silence ends the link.
  plug
  serial_phone
  "$monitor" --wait-state 3 --timeout 15000 || fail "serial link not streaming"
  unplug
  take_frames 20
  "$monitor" --wait-state 3 --timeout 100 || fail "link dropped with the phone still sending"
  phone_pid=${pids[-1]}
  kill -STOP "$phone_pid"
  "$monitor" --wait-state 0 --timeout 10000 || fail "silent link not dropped"
  kill -CONT "$phone_pid"
  ;;

latency)
  seconds=${5:-20}
  plug
  start_service
  "$monitor" --request 1280x720
  "$phone" --serial "$work/pty-phone" --formats 1280x720@30,640x480@30 \
    >"$work/serial-phone.log" 2>&1 &
  pids+=($!)
  "$monitor" --wait-state 3 --timeout 15000 || fail "serial link not streaming"
  "$monitor" --take --seconds "$seconds" --quiet | grep '^summary' || fail "no summary"
  ;;

*)
  echo "unknown scenario $scenario" >&2
  exit 2
  ;;
esac
echo "PASS $scenario"
