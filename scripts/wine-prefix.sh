#!/bin/sh
# Creates the build tree's Wine prefix once. A prefix made on the fly by the
# first test would print set-up noise into that test's output.
# The prefix is a 64-bit one made by Wine's 64-bit loader, which runs on every
# machine; where 32-bit code runs too (natively, or under qemu-user while
# scripts/win32-emulation.sh runs), Wine fills its syswow64 folder with the
# 32-bit system, and 32-bit programs run in it as well.
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="${OVALIX_WINEPREFIX:-$root/build/wine}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ -f "$WINEPREFIX/system.reg" ]; then
  # A prefix made where 32-bit code could not run has no 32-bit system, and
  # every 32-bit program would fail in it (c0000135): say so now.
  if [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ] && "$root/scripts/win32-runs.sh"; then
    echo "wine-prefix.sh: $WINEPREFIX was made where 32-bit programs could not run (its syswow64 is empty); remove it, or use another prefix, for 32-bit programs" >&2
    exit 1
  fi
  exit 0
fi

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
# Under qemu-user, Wine's debugger (started for a 32-bit program's unhandled
# exception) hangs instead of printing its backtrace, and the case then runs
# into its time-out; without a debugger Wine reports the exception and ends
# the program at once.
if [ -n "${OVALIX_WIN32_EMULATED:-}" ]; then
  WINELOADER=/usr/lib/wine/wine64 /usr/lib/wine/wine64 reg add \
    'HKLM\Software\Wow6432Node\Microsoft\Windows NT\CurrentVersion\AeDebug' \
    /v Debugger /d '' /f >/dev/null 2>&1
  wineserver -w
fi
