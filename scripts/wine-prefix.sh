#!/bin/sh
# Creates the build tree's Wine prefix once. A prefix made on the fly by the
# first test would print set-up noise into that test's output.
# The prefix is a 64-bit one made by Wine's 64-bit loader, which runs on every
# machine; where 32-bit code runs too, 32-bit programs run in it as well.
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="${OVALIX_WINEPREFIX:-$root/build/wine}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$WINEPREFIX/system.reg" ] && exit 0

log=$(mktemp "${TMPDIR:-/tmp}/ovalix-wineboot.XXXXXX") || exit 1
mkdir -p "$WINEPREFIX" &&
  WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64 /usr/lib/wine/wine64 wineboot -i >"$log" 2>&1 &&
  wineserver -w >>"$log" 2>&1
rc=$?
if [ $rc -ne 0 ] || [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine-prefix.sh: making the Wine prefix $WINEPREFIX with /usr/lib/wine/wine64 wineboot -i failed (exit $rc):" >&2
  tail -20 "$log" >&2
  rm -f "$log"
  # A half-made prefix would pass the check above next time.
  rm -f "$WINEPREFIX/system.reg"
  exit 1
fi
rm -f "$log"
