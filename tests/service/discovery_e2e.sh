#!/bin/sh
# discovery_e2e.sh native|wine SERVICE DOUBLE PHONE MONITOR [RUNNER]
# Runs the real service against the scripted DNS-SD library and a phone
# stand-in, three times:
#   1. discovery reports the stand-in's listening port: the service connects
#      out to it and the link streams;
#   2. discovery reports a port where nothing listens: each refused attempt is
#      followed by a fresh resolve, and a stand-in connecting in to 5055 still
#      gets the link;
#   3. no DNS-SD library at all: the service runs and 5055 still works.
# Expects a private network namespace and /dev/shm (the project runs its tests
# under scripts/isolate.sh); under Wine the wineserver must run in it too.
# Exits 77 (skip) when a program it needs has not been built.
mode=$1 service=$2 double=$3 phone=$4 monitor=$5 runner=$6

for program in "$service" "$double" "$phone" "$monitor"; do
  if [ ! -f "$program" ]; then
    echo "missing $program; skipping" >&2
    exit 77
  fi
done

work=$(mktemp -d) || exit 1
phone_pid=
service_pid=
keeper_pid=
failures=0

fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

cleanup() {
  [ -n "$phone_pid" ] && kill "$phone_pid" 2>/dev/null
  stop_service
  rm -rf "$work"
}
trap cleanup EXIT

run_monitor() {
  if [ "$mode" = wine ]; then "$runner" "$monitor" "$@"; else "$monitor" "$@"; fi
}

# start_service DIR: runs the service from DIR, where the library (if any) is.
start_service() {
  dir=$1
  if [ "$mode" = wine ]; then
    # Wine shuts its services down once no ordinary program is left running,
    # so a waiting monitor keeps the session up while the service is tested.
    "$runner" "$monitor" --wait-state 99 >/dev/null 2>&1 &
    keeper_pid=$!
    cp "$service" "$dir/OvalixSvc.exe"
    "$runner" sc delete OvalixSvc >/dev/null 2>&1
    "$runner" "$dir/OvalixSvc.exe" install || { fail "install"; return 1; }
    "$runner" net start OvalixSvc >/dev/null 2>&1 || { fail "net start"; return 1; }
    service_pid=wine
  else
    mkdir -p "$dir/state"
    if [ -f "$dir/libdns_sd.so.1" ]; then
      STATE_DIRECTORY=$dir/state LD_LIBRARY_PATH=$dir "$service" &
    else
      # The system's own library is hidden from this process only.
      STATE_DIRECTORY=$dir/state unshare --mount -- sh -c '
        for lib in /usr/lib/*/libdns_sd.so.1 /usr/lib/libdns_sd.so.1 /lib/*/libdns_sd.so.1; do
          [ -e "$lib" ] && mount --bind /dev/null "$lib"
        done
        exec "$0"' "$service" &
    fi
    service_pid=$!
  fi
}

stop_service() {
  if [ "$service_pid" = wine ]; then
    "$runner" net stop OvalixSvc >/dev/null 2>&1
    "$runner" sc delete OvalixSvc >/dev/null 2>&1
    kill "$keeper_pid" 2>/dev/null
    wait "$keeper_pid" 2>/dev/null
    keeper_pid=
  elif [ -n "$service_pid" ]; then
    kill -TERM "$service_pid" 2>/dev/null
    wait "$service_pid" || fail "service exit status $?"
  fi
  service_pid=
}

stop_phone() {
  [ -n "$phone_pid" ] && kill "$phone_pid" 2>/dev/null && wait "$phone_pid" 2>/dev/null
  phone_pid=
}

# wait_lines FILE N: waits up to 10 s for FILE to hold N lines.
wait_lines() {
  i=0
  while [ "$(wc -l <"$1")" -lt "$2" ]; do
    i=$((i + 1))
    [ $i -gt 100 ] && return 1
    sleep 0.1
  done
}

# scenario DIR: a directory with the library, its script and its log.
library_dir() {
  dir=$work/$1
  mkdir -p "$dir"
  cp "$double" "$dir/"
  echo "$2" >"$dir/dnssd_double.txt"
  : >"$dir/dnssd_double.log"
}

echo "== the service connects out to the discovered stand-in"
library_dir out "reply 127.0.0.1 47001"
"$phone" --listen 47001 --no-advertise --log >"$work/out/phone.log" 2>&1 &
phone_pid=$!
start_service "$work/out"
run_monitor --wait-state 3 --timeout 10000 || fail "no streaming link to the discovered stand-in"
grep -q "link up" "$work/out/phone.log" || fail "the stand-in saw no connection"
grep -qv "^0 0 mobile _ovalix._tcp. local null\$" "$work/out/dnssd_double.log" &&
  fail "resolve arguments: $(sort -u "$work/out/dnssd_double.log")"
[ -s "$work/out/dnssd_double.log" ] || fail "no resolve was made"
if [ "$mode" = native ]; then
  grep -q "$work/out/libdns_sd.so.1" "/proc/$service_pid/maps" ||
    fail "the service did not load the library by its name"
fi
stop_service
stop_phone

echo "== a discovered phone that refuses does not block the listening port"
library_dir refuse "reply 127.0.0.1 47002"
start_service "$work/refuse"
# Three resolves: the first reply, the one whose address was tried and
# refused, and the fresh one that follows.
wait_lines "$work/refuse/dnssd_double.log" 3 || fail "no fresh resolve after a refused attempt"
"$phone" --connect 127.0.0.1:5055 --log >"$work/refuse/phone.log" 2>&1 &
phone_pid=$!
run_monitor --wait-state 3 --timeout 10000 || fail "no link on 5055 while discovery reports a refusing phone"
stop_service
stop_phone

echo "== without a DNS-SD library the other transports work"
mkdir -p "$work/none"
start_service "$work/none"
"$phone" --connect 127.0.0.1:5055 --log >"$work/none/phone.log" 2>&1 &
phone_pid=$!
run_monitor --wait-state 3 --timeout 10000 || fail "no link on 5055 without a library"
if [ "$mode" = native ] && grep -q libdns_sd "/proc/$service_pid/maps"; then
  fail "a DNS-SD library was loaded although none should be found"
fi
stop_service
stop_phone

[ $failures -eq 0 ] && echo "all discovery scenarios passed"
exit $((failures != 0))
