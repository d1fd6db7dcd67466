#!/bin/sh
# wine-run.sh PROGRAM [ARGS...]
# Runs a Windows program under Wine with the build tree's own prefix (never
# the user's ~/.wine; OVALIX_WINEPREFIX overrides the default), through the
# loader of the program's bitness. The `wine` command would start the 32-bit
# loader first, which a machine that runs 64-bit code only refuses.
# An existing .exe file's bitness is read from its PE header; any other
# program (a built-in such as regsvr32, net, reg, sc or msiexec, or a
# Windows path) runs with OVALIX_WINE_BITS (32 or 64; 64 unless told).
: "${OVALIX_WINEPREFIX:=$(cd "$(dirname "$0")/.." && pwd)/build/wine}"
export WINEPREFIX="$OVALIX_WINEPREFIX"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# pe_bits FILE: 32 or 64 from the machine field of a PE file's header;
# fails for anything else.
pe_bits() {
  # The PE header's offset sits at 0x3c; the machine field follows "PE\0\0".
  offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ') || return 1
  [ -n "$offset" ] || return 1
  header=$(od -An -tx1 -j"$offset" -N6 "$1" 2>/dev/null | tr -d ' \n') || return 1
  case "$header" in
    504500004c01) echo 32 ;;
    504500006486) echo 64 ;;
    *) return 1 ;;
  esac
}

bits=${OVALIX_WINE_BITS:-64}
case "${1:-}" in
  *.exe | *.EXE)
    if [ -f "$1" ]; then
      bits=$(pe_bits "$1") || {
        echo "wine-run.sh: $1 is not a 32-bit or 64-bit x86 Windows program" >&2
        exit 126
      }
    fi
    ;;
esac

case "$bits" in
  32) loader=/usr/lib/wine/wine ;;
  64) loader=/usr/lib/wine/wine64 ;;
  *)
    echo "wine-run.sh: OVALIX_WINE_BITS must be 32 or 64, not $bits" >&2
    exit 2
    ;;
esac
# Programs this one starts find the loader of the other bitness beside this
# one, by its name's "64" suffix; a WINELOADER from outside would override it.
unset WINELOADER

# Under qemu-user (scripts/win32-emulation.sh run), a 32-bit program's Unix
# process lingers after its Windows process has ended, and Wine's server kills
# it (SIGKILL) when it has not vanished a second later: its exit status would
# then be lost. So the 64-bit loader's start program starts it, waits for it
# and ends with its Windows exit code; output and input pass through.
if [ "$bits" = 32 ] && [ -n "${OVALIX_WIN32_EMULATED:-}" ] && [ $# -gt 0 ]; then
  program=$1
  shift
  if [ -f "$program" ]; then
    # start takes a Unix path only whole.
    exec /usr/lib/wine/wine64 start /wait /b /unix "$(realpath "$program")" "$@"
  fi
  case "$program" in
    *[\\/:]*) ;;
    *.exe | *.EXE) program='C:\windows\syswow64\'$program ;;
    *) program='C:\windows\syswow64\'$program.exe ;;
  esac
  exec /usr/lib/wine/wine64 start /wait /b "$program" "$@"
fi
exec "$loader" "$@"
