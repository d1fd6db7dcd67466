# Pieces shared by the serial link scripts (sourced). The including script sets
# work (a temporary folder), phone (the stand-in), pids (an array of the
# background programs it started) and monitor_cmd (how to run the monitor).

fail() {
  echo "FAIL: $*" >&2
  for log in "$work"/*.log; do
    [ -f "$log" ] && { echo "== $log" >&2; tail -20 "$log" >&2; }
  done
  exit 1
}

# Ends every background program, including one a scenario left stopped.
reap_pids() {
  for pid in "${pids[@]}"; do
    kill -CONT "$pid" 2>/dev/null || true
    kill -TERM "$pid" 2>/dev/null || true
  done
  for pid in "${pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
}

# A pty pair: $work/pty-service for the service, $work/pty-phone for the phone.
make_pty_pair() {
  socat pty,raw,echo=0,link="$work/pty-service" pty,raw,echo=0,link="$work/pty-phone" \
    2>"$work/socat.log" &
  pids+=($!)
  for _ in $(seq 100); do
    [ -e "$work/pty-service" ] && [ -e "$work/pty-phone" ] && break
    sleep 0.05
  done
  [ -e "$work/pty-phone" ] || fail "no pty pair"
}

serial_phone() {   # extra options
  "$phone" --serial "$work/pty-phone" --formats 640x480@30,320x240@30 --log "$@" \
    >"$work/serial-phone.log" 2>&1 &
  pids+=($!)
}

take_frames() {   # count
  local out
  out=$(timeout 60 "${monitor_cmd[@]}" --take --frames "$1" --quiet | tr -d '\r') ||
    fail "no $1 frames: $out"
  echo "$out"
  case "$out" in
    *"summary frames=$1 "*) ;;
    *) fail "took: $out" ;;
  esac
}
