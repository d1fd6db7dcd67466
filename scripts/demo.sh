#!/usr/bin/env bash
# The live demo (as root): installs what is needed, builds the native,
# native-release and win32 presets, then runs in a private namespace (its own
# /dev/shm and loopback) the service from native-release in the foreground,
# the phone stand-in streaming 1280x720 at 30 fps to 127.0.0.1:5055, the
# monitor taking the frames and showing link state, rate, drops and latency,
# and the picture through the GStreamer source element. When a PipeWire daemon
# runs for the user, ovalix-camera also publishes the phone in it as the
# camera "Ovalix Camera", so it shows up in camera pickers. The picture:
#
# - with a display ($DISPLAY set and reachable), in a window:
#   ovalixsrc ! jpegdec ! videoconvert ! autovideosink
# - without one (CI, a plain console), or with --snapshots: a PNG snapshot
#   every second into build/demo-snapshots/, and at the end a contact sheet of
#   them, build/demo-snapshots/contact-sheet.png.
#
#   bash scripts/demo.sh [--seconds S] [--no-build] [--snapshots] [--browser-phone | --my-phone]
#
# The phone page's bridge ovalix-web runs beside the service in every mode.
# With --browser-phone the phone is a browser instead of the stand-in:
# headless Chromium, whose fake camera shows colour bars, opens the phone's
# page through the bridge (paired by its token, over HTTPS) and streams into
# the service, the whole way a real phone's browser goes.
# With --my-phone your own phone is the camera: the demo runs on this
# machine's network instead of a private loopback, prints the pairing address
# and its QR code, and waits for the phone's browser (ports 5055 to 5057 must
# be free: no installed Ovalix running).
#
# Ctrl-C ends it. Without a terminal on stdin, or with --seconds, it ends by
# itself (20 s unless told otherwise).
# OVALIX_RELEASE_DIR points at another native-release build tree.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

seconds=""
build=1
inside=0
snapshots=0
browser_phone=0
my_phone=0
usage="usage: bash scripts/demo.sh [--seconds S] [--no-build] [--snapshots] [--browser-phone | --my-phone]"
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --no-build) build=0; shift ;;
    --snapshots) snapshots=1; shift ;;
    --inside) inside=1; shift ;;
    --browser-phone) browser_phone=1; shift ;;
    --my-phone) my_phone=1; shift ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
done
if [ "$browser_phone" -eq 1 ] && [ "$my_phone" -eq 1 ]; then
  echo "$usage" >&2
  exit 2
fi

if [ "$inside" -eq 0 ]; then
  if [ "$build" -eq 1 ]; then
    bash scripts/setup.sh
    bash scripts/build.sh native native-release win32
  fi
  if [ -z "$seconds" ] && [ ! -t 0 ]; then
    seconds=20
  fi
  # The user's PipeWire daemon (the one who called sudo, when run that way).
  # Its socket is a file, so the camera reaches it from the private namespace.
  for dir in "${PIPEWIRE_RUNTIME_DIR:-}" "${XDG_RUNTIME_DIR:-}" "/run/user/${SUDO_UID:-$(id -u)}"; do
    if [ -n "$dir" ] && [ -S "$dir/pipewire-0" ]; then
      export OVALIX_PIPEWIRE_DIR=$dir
      break
    fi
  done
  # A window needs a display that answers; the private namespace still
  # reaches a local X server through its socket.
  if [ "$snapshots" -eq 0 ] && { [ -z "${DISPLAY:-}" ] || ! xwd -root -silent >/dev/null 2>&1; }; then
    snapshots=1
  fi
  network=
  if [ "$my_phone" -eq 1 ]; then
    # The phone reaches the bridge over this machine's network.
    if ss -Hltn 'sport >= :5055 and sport <= :5057' | grep -q .; then
      echo "demo: ports 5055 to 5057 are in use here (an installed Ovalix?); stop it for --my-phone" >&2
      exit 1
    fi
    network=--host-network
  fi
  exec scripts/isolate.sh $network bash "$root/scripts/demo.sh" --inside \
    ${seconds:+--seconds "$seconds"} $([ "$snapshots" -eq 1 ] && echo --snapshots) \
    $([ "$browser_phone" -eq 1 ] && echo --browser-phone) $([ "$my_phone" -eq 1 ] && echo --my-phone)
fi

# ---- inside the private namespace ----
rel=${OVALIX_RELEASE_DIR:-$root/build/native-release}
svc=$rel/service/OvalixSvc
phone=$rel/tools/phone/ovalix-phone
monitor=$rel/tools/monitor/ovalix-monitor
camera=$rel/pipewire/ovalix-camera
state=$(mktemp -d /tmp/ovalix-demo.XXXXXX)
shots=$root/build/demo-snapshots
pids=()
picture_pid=""
bridge_pid=""

# A contact sheet of at most 24 snapshots, evenly spread over the run.
contact_sheet() {
  local all=("$shots"/snapshot-*.png)
  [ -e "${all[0]}" ] || { echo "== no snapshots were written"; return; }
  local n=${#all[@]} step=1 picked=()
  [ "$n" -gt 24 ] && step=$(( (n + 23) / 24 ))
  for ((i = 0; i < n; i += step)); do picked+=("${all[i]}"); done
  montage "${picked[@]}" -tile 6x -geometry 320x180+4+4 -background '#202020' \
    "$shots/contact-sheet.png" 2>/dev/null || true
  echo "== $n snapshots in $shots; contact sheet: $shots/contact-sheet.png"
}

stop_all() {
  trap - INT TERM EXIT
  # The picture first, with an end of stream so the last snapshot is whole;
  # then the monitor, so it prints its summary; the service last, so it sees
  # the phone leave and stores the table.
  if [ -n "$picture_pid" ]; then
    kill -INT "$picture_pid" 2>/dev/null || true
    wait "$picture_pid" 2>/dev/null || true
    picture_pid=""
    [ "$snapshots" -eq 1 ] && contact_sheet
  fi
  for pid in "${pids[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$state"
}
trap 'stop_all; exit 130' INT TERM
trap stop_all EXIT

STATE_DIRECTORY=$state "$svc" &
svc_pid=$!
"$monitor" --wait-state 0 --timeout 5000 >/dev/null
"$monitor" --request 1280x720 >/dev/null

echo "== service running (pid $svc_pid, state in $state); 1280x720 asked for"
camera_pid=""
if [ -n "${OVALIX_PIPEWIRE_DIR:-}" ]; then
  PIPEWIRE_RUNTIME_DIR=$OVALIX_PIPEWIRE_DIR "$camera" 2>"$state/camera.log" &
  camera_pid=$!
  echo "== ovalix-camera (pid $camera_pid) publishes the phone in PipeWire ($OVALIX_PIPEWIRE_DIR)" \
       "as the camera \"Ovalix Camera\" (node ovalix-camera): pick it in any application"
else
  echo "== no PipeWire daemon for this user: ovalix-camera not started"
fi
# The bridge serves the phone's page and relays it to port 5055.
"$rel/web/ovalix-web" run --state-dir "$state" >"$state/bridge.log" 2>&1 &
bridge_pid=$!
for _ in $(seq 100); do [ -s "$state/web/token" ] && break; sleep 0.1; done
phone_pid=""
if [ "$browser_phone" -eq 1 ]; then
  # The browser finds the token on the bridge's pairing page, as a person
  # would on the PC.
  mkdir -p "$shots"
  python3 "$root/tests/web/browser_phone.py" --work "$state/browser" \
    --token-file "$state/web/token" --screenshot "$shots/phone-page.png" &
  phone_pid=$!
  echo "== the phone is headless Chromium through the bridge (pairing page: http://127.0.0.1:5057/)"
elif [ "$my_phone" -eq 1 ]; then
  echo "== scan the code with your phone, or open the address in its browser; on this PC the"
  echo "   pairing page is http://127.0.0.1:5057/ (the phone's browser accepts the certificate"
  echo "   whose fingerprint is shown)"
  "$rel/web/ovalix-web" pair --state-dir "$state" || true
else
  "$phone" --connect 127.0.0.1:5055 --mode 3 --formats 1280x720@30,640x480@30,320x240@30 \
    >"$state/phone.log" &
  phone_pid=$!
  echo "== ovalix-web (pid $bridge_pid) serves the phone page; to make your own phone the camera:"
  echo "   bash scripts/demo.sh --no-build --my-phone"
fi

# The picture, through the GStreamer element of this build tree.
export GST_PLUGIN_PATH=$rel/gst GST_REGISTRY=$state/gst-registry.bin
start_snapshots() {
  mkdir -p "$shots"
  rm -f "$shots"/snapshot-*.png "$shots/contact-sheet.png"
  gst-launch-1.0 -q -e ovalixsrc ! jpegdec ! videoconvert ! videorate drop-only=true ! \
    video/x-raw,framerate=1/1 ! pngenc ! multifilesink location="$shots/snapshot-%04d.png" &
}
if [ "$snapshots" -eq 1 ]; then
  echo "== no display: a snapshot every second into $shots"
  start_snapshots
else
  echo "== the picture in a window on $DISPLAY"
  gst-launch-1.0 -q -e ovalixsrc ! jpegdec ! videoconvert ! autovideosink &
fi
picture_pid=$!
# A window that cannot open ends its pipeline at once: snapshots instead.
[ "$snapshots" -eq 0 ] && sleep 2
if [ "$snapshots" -eq 0 ] && ! kill -0 "$picture_pid" 2>/dev/null; then
  wait "$picture_pid" 2>/dev/null || true
  snapshots=1
  echo "== no window could be opened: a snapshot every second into $shots"
  start_snapshots
  picture_pid=$!
fi

# A phone stamps its pictures with its own clock (the browser with the time
# of day), so only the stand-in's stamps make the latency column meaningful.
if [ "$browser_phone" -eq 1 ] || [ "$my_phone" -eq 1 ]; then
  echo "== (the phone's page stamps with its own clock: the monitor's latency column means nothing here)"
fi
"$monitor" --take ${seconds:+--seconds "$seconds"} &
monitor_pid=$!
pids=("$monitor_pid")
if [ -n "$camera_pid" ]; then pids+=("$camera_pid"); fi
pids+=($phone_pid $bridge_pid "$svc_pid")

wait "$monitor_pid" || true
if [ -n "$camera_pid" ]; then
  kill -TERM "$camera_pid" 2>/dev/null || true
  wait "$camera_pid" 2>/dev/null || true
  cat "$state/camera.log"
fi
pids=($phone_pid $bridge_pid "$svc_pid")
if [ -n "$phone_pid" ]; then
  kill -TERM "$phone_pid" 2>/dev/null || true
  wait "$phone_pid" 2>/dev/null || true
fi
[ ! -f "$state/phone.log" ] || cat "$state/phone.log"
pids=($bridge_pid "$svc_pid")
stop_all
