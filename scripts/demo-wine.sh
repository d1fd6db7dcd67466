#!/usr/bin/env bash
# The live demo with the Windows build: OvalixSvc.exe runs under Wine as a
# service (installed, started with "net start", stopped with "net stop"), the
# native phone stand-in streams 1280x720 at 30 fps to it on 127.0.0.1:5055,
# ovalix-snap.exe shows five seconds of it through the capture filter (and
# saves the last picture), and ovalix-monitor.exe takes the frames.
# OvalixViewer.exe then runs on a virtual display over the same filter: the
# demo presses Play through the test driver and saves screenshots of the idle
# picture and of the playing state, and the live picture while it plays.
# Everything runs in a private namespace; the wineserver is started inside it,
# because Wine's sockets and named objects live in that server.
#
#   bash scripts/demo-wine.sh [--seconds S] [--no-build] [--browser-phone]
#
# With --browser-phone the phone is a browser instead of the stand-in: the
# Windows build's bridge ovalix-web.exe runs under Wine beside the service,
# and headless Chromium, whose fake camera shows colour bars, pairs through
# it, opens the phone's page over HTTPS and streams into OvalixSvc.exe; the
# filter's picture and the viewer show the bars, and at the end the phone's
# page, as a phone shows it, is saved with the viewer's screenshots.
#
# Ctrl-C ends it. Without a terminal on stdin, or with --seconds, it ends by
# itself (20 s unless told otherwise).
# The Windows programs are the 32-bit ones where the machine runs 32-bit code,
# and the 64-bit ones where it runs 64-bit code only (or with OVALIX_WIN32=off).
# OVALIX_WIN32_DIR, OVALIX_WIN64_DIR and OVALIX_RELEASE_DIR point at other
# build trees (win32, win64 and native-release), OVALIX_WINEPREFIX at another
# Wine prefix,
# OVALIX_DEMO_SHOTS at the folder for the screenshots (default: a new folder
# under /tmp).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

seconds=""
build=1
inside=0
browser_phone=0
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --no-build) build=0; shift ;;
    --inside) inside=1; shift ;;
    --browser-phone) browser_phone=1; shift ;;
    *) echo "usage: bash scripts/demo-wine.sh [--seconds S] [--no-build] [--browser-phone]" >&2; exit 2 ;;
  esac
done

export OVALIX_WINEPREFIX="${OVALIX_WINEPREFIX:-$root/build/wine}"
export WINEPREFIX="$OVALIX_WINEPREFIX" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

if [ "$inside" -eq 0 ]; then
  if scripts/win32-runs.sh; then
    export OVALIX_WINE_BITS=32
  else
    export OVALIX_WINE_BITS=64
    echo "== this machine runs 64-bit code only: the demo runs the 64-bit service and viewer"
  fi
  if [ "$build" -eq 1 ]; then
    bash scripts/setup.sh
    bash scripts/build.sh native-release "win$OVALIX_WINE_BITS"
  fi
  bash scripts/wine-prefix.sh
  if [ -z "$seconds" ] && [ ! -t 0 ]; then
    seconds=20
  fi
  wineserver -k 2>/dev/null || true
  exec scripts/isolate.sh bash "$root/scripts/demo-wine.sh" --inside ${seconds:+--seconds "$seconds"} \
    $([ "$browser_phone" -eq 1 ] && echo --browser-phone)
fi

# ---- inside the private namespace ----
# Built-in programs (net, regsvr32) of the demo's bitness too.
if [ "${OVALIX_WINE_BITS:-64}" = 32 ]; then
  win=${OVALIX_WIN32_DIR:-$root/build/win32}
else
  win=${OVALIX_WIN64_DIR:-$root/build/win64}
fi
svc=$win/service/OvalixSvc.exe
monitor=$win/tools/monitor/ovalix-monitor.exe
filter=$win/filter/ovalix_filter.dll
snap=$win/tools/snap/ovalix-snap.exe
bridge=$win/web/ovalix-web.exe
picture=/tmp/ovalix-demo-wine-live.png
phone=${OVALIX_RELEASE_DIR:-$root/build/native-release}/tools/phone/ovalix-phone
log=$(mktemp /tmp/ovalix-demo-wine.XXXXXX)
web_state=""
shots=${OVALIX_DEMO_SHOTS:-$(mktemp -d /tmp/ovalix-viewer-shots.XXXXXX)}
mkdir -p "$shots"
pids=()
started=0
xvfb_pid=""

# Through the loader of each program's bitness (never the `wine` command,
# which starts the 32-bit loader first).
run=$root/scripts/wine-run.sh

stop_all() {
  trap - INT TERM EXIT
  for pid in "${pids[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  if [ "$started" -eq 1 ]; then
    "$run" regsvr32 /s /u "$filter" >/dev/null 2>&1 || true
    "$run" net stop OvalixSvc >/dev/null 2>&1 || true
  fi
  wineserver -k 2>/dev/null || true
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -f "$log"
  if [ -n "$web_state" ]; then rm -rf "$web_state"; fi
}
trap 'stop_all; exit 130' INT TERM
trap stop_all EXIT

# A virtual display for the viewer, before the first Wine program, so the
# session's desktop belongs to it; a silent audio device for its graph.
displayfile=$(mktemp /tmp/ovalix-demo-display.XXXXXX)
Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$displayfile" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$displayfile" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$displayfile")"
rm -f "$displayfile"
demo_home=$(mktemp -d /tmp/ovalix-demo-home.XXXXXX)
printf 'pcm.!default { type null }\n' >"$demo_home/.asoundrc"
export HOME="$demo_home"

"$run" "$svc" install >/dev/null 2>&1 || true
# An installed service starts with the wineserver; restart it for a clean block.
"$run" net stop OvalixSvc >/dev/null 2>&1 || true
"$run" net start OvalixSvc >/dev/null
started=1
"$run" "$monitor" --wait-state 0 --timeout 10000 >/dev/null
"$run" "$monitor" --request 1280x720 >/dev/null

link_wait=10000
if [ "$browser_phone" -eq 1 ]; then
  # The bridge keeps its certificate, key and token in a state folder of its
  # own for the demo, not in the prefix's ProgramData.
  web_state=$(mktemp -d /tmp/ovalix-demo-web.XXXXXX)
  "$run" "$bridge" run --state-dir "Z:$web_state" >"$web_state/bridge.log" 2>&1 &
  bridge_pid=$!
  pids=("$bridge_pid")
  for _ in $(seq 150); do [ -s "$web_state/web/token" ] && break; sleep 0.1; done
  # The browser finds the token on the bridge's pairing page, as a person
  # would on the PC.
  python3 "$root/tests/web/browser_phone.py" --work "$web_state/browser" \
    --token-file "$web_state/web/token" --screenshot "$shots/phone-page.png" >"$log" 2>&1 &
  phone_pid=$!
  pids=("$phone_pid" "$bridge_pid")
  echo "== OvalixSvc.exe and ovalix-web.exe running under Wine; the phone is headless Chromium"
  echo "   streaming colour bars through the bridge (pairing page: http://127.0.0.1:5057/)"
  # A browser starting beside Wine takes a while to link.
  link_wait=40000
else
  echo "== OvalixSvc.exe running under Wine; phone streams 1280x720 at 30 fps"
  "$phone" --connect 127.0.0.1:5055 --stamp-clock raw --mode 3 --formats 1280x720@30,640x480@30,320x240@30 >"$log" &
  phone_pid=$!
  pids=("$phone_pid")
fi
phones=("${pids[@]}")

echo "== the same stream through the capture filter: ovalix-snap.exe for 5 s"
"$run" regsvr32 /s "$filter"
# The filter offers the phone's formats once its table is in the block.
"$run" "$monitor" --wait-state 3 --timeout "$link_wait" >/dev/null || true
"$run" "$snap" --size 1280x720 --seconds 5 --save-live "$picture" | tr -d '\r' || true
echo "   (last decoded picture: $picture)"

echo "== ovalix-monitor.exe takes every frame"
# A phone stamps its pictures with its own clock (the browser with the time
# of day), so only the stand-in's stamps make the latency column meaningful.
[ "$browser_phone" -eq 0 ] || echo "   (the browser's stamps are its own clock: the latency column means nothing here)"
"$run" "$monitor" --take ${seconds:+--seconds "$seconds"} &
monitor_pid=$!
pids=("$monitor_pid" "${phones[@]}")

wait "$monitor_pid" || true
pids=("${phones[@]}")

# ---- the viewer over the live stream
viewer=$win/viewer/OvalixViewer.exe
driver=$win/tests/viewer/viewer_driver.exe
shoot() { xwd -root -silent | /usr/bin/convert xwd:- "$shots/$1.png"; }
"$run" "$viewer" >/dev/null 2>&1 &
viewer_pid=$!
pids=("$viewer_pid" "${phones[@]}")
"$run" "$driver" state >"$shots/idle-state.json"
sleep 1
shoot idle
"$run" "$driver" command 1003 >/dev/null
sleep 3
"$run" "$driver" state >"$shots/playing-state.json"
shoot playing
# Under Wine VMR-9 draws nothing into the viewer's video window (a child
# window): the picture its graph receives, taken by a second reader.
"$run" "$snap" --size 1280x720 --seconds 2 --quiet --save-live "$shots/live-while-playing.png" \
  >/dev/null 2>&1 || true
"$run" "$driver" command 1004 >/dev/null
sleep 1
"$run" "$driver" close >/dev/null
wait "$viewer_pid" || true
pids=("${phones[@]}")
echo "== viewer screenshots (idle, playing), window states and the live picture while it played in $shots"
ls "$shots"
# The phone first, so the browser saves its page and the service sees it go.
kill -TERM "$phone_pid" 2>/dev/null || true
wait "$phone_pid" 2>/dev/null || true
cat "$log"
[ ! -f "$shots/phone-page.png" ] || echo "== the phone's page, as a phone shows it: $shots/phone-page.png"
pids=("${phones[@]:1}")
stop_all
