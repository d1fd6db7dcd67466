# Pieces shared by the serial link scripts (sourced). The including script sets
# work (a temporary folder), phone (the stand-in), pids (an array of the
# background programs it started), monitor_cmd (how to run the monitor) and
# plug (makes the phone's port appear).

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

# The cable phone's port appears and a TCP phone connects while the service
# (its process id given) stands still, so that both wait for the same step.
plug_beside_tcp_phone() {   # service pid
  kill -STOP "$1"
  plug
  "$phone" --connect 127.0.0.1:5055 --formats 640x480@30 --log >"$work/tcp-phone.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    grep -q "link up" "$work/tcp-phone.log" && break
    sleep 0.02
  done
  grep -q "link up" "$work/tcp-phone.log" || fail "the TCP phone did not connect"
  kill -CONT "$1"
}

# The serial phone got the format request; the TCP phone never did: its link
# was not the one.
check_serial_phone_served() {
  grep -q "select" "$work/serial-phone.log" || fail "the serial phone got no request"
  if grep -q "select" "$work/tcp-phone.log"; then
    fail "the TCP phone was served"
  fi
}
