#!/bin/sh
# wine_shared_prefix.sh open|close
# The Windows unit tests all run in the build tree's prefix (OVALIX_WINEPREFIX
# or build/wine).
#   open:  cleans it (wine_prefix_scrub.sh) and starts one Wine session in it
#          that lasts until "close": a keeper process reading a pipe that never
#          ends. Without it every test program would start the prefix's
#          service manager and device services afresh and wait for them, and
#          those would hold the test's output open until they ended.
#   close: ends the prefix's server and with it every program in it.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
prefix=${OVALIX_WINEPREFIX:-$root/build/wine}
export OVALIX_WINEPREFIX="$prefix" WINEPREFIX="$prefix"

case "${1:-}" in
open)
  "$root/scripts/wine-prefix.sh" || exit 1
  sh "$root/tests/wine_prefix_scrub.sh" "$prefix" || exit 1
  # Beside the prefix, not in it: the process tests copy the prefix.
  hold=$prefix.session-hold
  rm -f "$hold"
  mkfifo "$hold" || exit 1
  # Opened for reading and writing, the pipe never reports its end.
  "$root/scripts/wine-run.sh" find ovalix <>"$hold" >/dev/null 2>&1 &
  # Done once a program can run in the session the keeper started.
  "$root/scripts/wine-run.sh" cmd /c exit </dev/null >/dev/null 2>&1
  ;;
close)
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  rm -f "$prefix.session-hold"
  ;;
*)
  echo "usage: wine_shared_prefix.sh open|close" >&2
  exit 2
  ;;
esac
