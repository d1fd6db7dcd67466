#!/bin/sh
# discovery_avahi.sh SERVICE PHONE MONITOR
# The real service finds the phone stand-in through a real mDNS responder: in
# a namespace of its own (mounts, network, host name) the test starts a system
# message bus and the mDNS daemon on a veth pair with a link-local address, the
# stand-in listens and advertises instance "mobile" of "_ovalix._tcp", and the
# service must resolve it, connect out and stream. Exits 77 (skip), saying
# why, when the namespace or the daemons cannot be set up.
service=$1 phone=$2 monitor=$3

skip() { echo "skipping: $*" >&2; exit 77; }

for program in "$service" "$phone" "$monitor"; do
  [ -x "$program" ] || skip "$program has not been built"
done
for tool in unshare ip dbus-daemon avahi-daemon getent; do
  command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
done
unshare --mount --net --uts --fork true 2>/dev/null || skip "cannot create a namespace"

exec unshare --mount --net --uts --fork -- sh -c '
service=$1 phone=$2 monitor=$3
skip() { echo "skipping: $*" >&2; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }
PORT=47123
HOST=ovxphone

work=$(mktemp -d) || exit 1
cleanup() {
  [ -n "$service_pid" ] && kill -TERM "$service_pid" 2>/dev/null && wait "$service_pid"
  [ -n "$phone_pid" ] && kill "$phone_pid" 2>/dev/null && wait "$phone_pid" 2>/dev/null
  avahi-daemon -k 2>/dev/null
  [ -n "$bus_pid" ] && kill "$bus_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

mount -t tmpfs tmpfs /run || skip "cannot mount /run"
mkdir -p /run/dbus /run/avahi-daemon
mount -t tmpfs -o mode=1777 tmpfs /dev/shm || skip "cannot mount /dev/shm"
hostname "$HOST" || skip "cannot set the host name"
ip link set lo up || skip "no loopback"
ip link add ovx0 type veth peer name ovx1 2>/dev/null || skip "cannot create a veth pair"
ip link set ovx0 multicast on up && ip link set ovx1 multicast on up &&
  ip addr add 169.254.77.1/16 dev ovx0 || skip "cannot configure the veth pair"

bus_pid=$(dbus-daemon --system --fork --nopidfile --print-pid) || skip "the message bus does not start"
avahi-daemon --no-drop-root --no-chroot -D --no-rlimits >/dev/null 2>&1 ||
  skip "the mDNS daemon does not start"
i=0
until getent hosts "$HOST.local" >/dev/null 2>&1; do
  i=$((i + 1)); [ $i -gt 100 ] && skip "$HOST.local does not resolve through the mDNS daemon"
  sleep 0.1
done
echo "$HOST.local is $(getent hosts "$HOST.local" | head -n1)"

"$phone" --listen "$PORT" --log >"$work/phone.log" 2>&1 &
phone_pid=$!
mkdir -p "$work/state"
# The system library and the bus library it pulls in keep allocations in their
# globals; unloading them at shut-down orphans those. The suppressions name
# exactly those, so the service's own leaks are still reported.
LSAN_OPTIONS="suppressions=$(cd "$(dirname "$0")/.." && pwd)/lsan.supp:fast_unwind_on_malloc=0" \
  STATE_DIRECTORY=$work/state "$service" &
service_pid=$!

"$monitor" --wait-state 3 --timeout 20000 || {
  cat "$work/phone.log" >&2
  fail "the service did not stream from the advertised stand-in"
}
grep -q "link up" "$work/phone.log" || fail "the stand-in saw no connection"
grep -q libdns_sd "/proc/$service_pid/maps" || fail "the service did not load the DNS-SD library"
kill -TERM "$service_pid"
wait "$service_pid" || fail "the service did not stop cleanly (status $?)"
service_pid=
echo "the service resolved \"mobile\" through the mDNS daemon, connected out and streams"
' discovery-avahi "$service" "$phone" "$monitor"
