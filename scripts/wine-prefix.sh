#!/bin/sh
# Creates the build tree's Wine prefix once. A prefix made on the fly by the
# first test would print set-up noise into that test's output.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="${OVALIX_WINEPREFIX:-$root/build/wine}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
