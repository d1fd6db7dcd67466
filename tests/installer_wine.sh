#!/bin/sh
# The Windows installer under Wine, in a private copy of the prefix
# (wine_private_prefix.sh): an older release installed silently, the current
# one installed over it (the running service stopped, files replaced, the
# service started again), the installed pieces checked (service registered
# and running, files, uninstall entry, Start-menu shortcut and filter classes
# when the build has them, frames from the stand-in through the installed
# service), then silent uninstalls that leave nothing behind but the stored
# table, which goes only when asked for.
# Usage: installer_wine.sh INSTALLER.EXE INSTALLER.NSH SERVICE_PROBE.EXE PHONE
#                         VIEWER_DRIVER.EXE|- [PIECE...]
#   PIECE: viewer, filter32, filter64, snap — what this build packages. With
#   the viewer it runs on a display (viewer_env.sh).
set -u
installer=$1
nsh=$2
probe=$3
phone=$4
viewer_driver=$5
shift 5
pieces=" $* "
if [ ! -f "$installer" ]; then
  echo "FAIL: no $installer: build it with --target installer"
  exit 1
fi
root=$(cd "$(dirname "$0")/.." && pwd)
run="$root/scripts/wine-run.sh"
: "${OVALIX_WINEPREFIX:=$root/build/wine}"
prefix=$OVALIX_WINEPREFIX
tmp=$(mktemp -d)
failures=0
fail() { printf 'FAIL: %s\n' "$*"; failures=$((failures + 1)); }
has() { case "$pieces" in *" $1 "*) return 0 ;; esac; return 1; }
# Runs a Windows program; its output without carriage returns, its exit code.
w() {
  "$run" "$@" >"$tmp/w.out" 2>/dev/null
  wrc=$?
  tr -d '\r' <"$tmp/w.out"
  return $wrc
}
phone_pid=
cleanup() {
  [ -n "$phone_pid" ] && kill "$phone_pid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

dir="$prefix/drive_c/Program Files (x86)/Ovalix"
windir='C:\Program Files (x86)\Ovalix'
menu="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Ovalix"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Ovalix'
class='HKCR\CLSID\{5E75F4EE-128D-4972-8CD9-5B82DF38EB55}\InprocServer32'
# The filter's entry among the video input devices.
device='HKCR\CLSID\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\Instance\{5E75F4EE-128D-4972-8CD9-5B82DF38EB55}'

# The process id of the prefix's running OvalixSvc.exe, if any.
service_pid() {
  for p in $(pgrep -f 'OvalixSvc.exe'); do
    if tr '\0' '\n' 2>/dev/null <"/proc/$p/environ" | grep -qx "WINEPREFIX=$prefix"; then
      echo "$p"
      return
    fi
  done
}

# Waits until the service manager reports RUNNING.
wait_running() {
  for _ in $(seq 100); do
    w "$probe" status | grep -q '^state=4 ' && return 0
    sleep 0.1
  done
  fail "service not running: $(w "$probe" status)"
}

# Files under drive_c, without the ones Wine itself changes as it runs.
listing() {
  (cd "$prefix/drive_c" && find . | grep -v -e '/Temp\(/\|$\)' -e '^./windows/' | sort)
}

# The uninstaller copies itself away and returns at once; it removes its
# uninstall entry last.
uninstall() {
  "$run" "$windir\\uninstall.exe" /S "$@" >/dev/null 2>&1 || fail "uninstaller failed"
  for _ in $(seq 300); do
    w reg query "$uninstall_key" /reg:32 >/dev/null 2>&1 || { sleep 1; return; }
    sleep 0.1
  done
  fail "the uninstaller did not finish"
}

check_installed() {
  version=$1
  w reg query "$uninstall_key" /reg:32 >"$tmp/key"
  grep -q "DisplayVersion *REG_SZ *$version\$" "$tmp/key" || fail "uninstall entry: $(cat "$tmp/key")"
  grep -qF "REG_SZ    \"$windir\\uninstall.exe\" /S" "$tmp/key" || fail "no quiet uninstall string"
  w "$probe" config >"$tmp/config"
  grep -qxF "path=\"$windir\\OvalixSvc.exe\"" "$tmp/config" || fail "service: $(cat "$tmp/config")"
  grep -qx 'type=16 start=2 error=1' "$tmp/config" || fail "service type/start: $(cat "$tmp/config")"
  wait_running
  for f in OvalixSvc.exe ovalix-monitor.exe uninstall.exe; do
    [ -f "$dir/$f" ] || fail "$f not installed"
  done
  if has viewer; then
    [ -f "$dir/OvalixViewer.exe" ] || fail "viewer not installed"
    [ -f "$menu/Ovalix Viewer.lnk" ] || fail "no Start-menu shortcut"
  fi
  has snap && { [ -f "$dir/ovalix-snap.exe" ] || fail "ovalix-snap not installed"; }
  if has filter32; then
    w reg query "$class" /reg:32 | grep -qi 'ovalix_filter.dll' || fail "32-bit filter class missing"
    w reg query "$device" /reg:32 >/dev/null || fail "32-bit filter not among the video input devices"
  fi
  if has filter64; then
    w reg query "$class" /reg:64 | grep -qi 'x64\\ovalix_filter.dll' || fail "64-bit filter class missing"
    w reg query "$device" /reg:64 >/dev/null || fail "64-bit filter not among the video input devices"
  fi
}

listing >"$tmp/before"

# 1. An older release, installed silently.
makensis -V1 -NOCD -DVERSION=1.0.0 "-DOUTFILE=$tmp/old-setup.exe" "$nsh" >/dev/null ||
  fail "could not make the older installer"
"$run" "$tmp/old-setup.exe" /S >/dev/null 2>&1 || fail "older installer failed"
check_installed 1.0.0
old_pid=$(service_pid)
[ -n "$old_pid" ] || fail "no service process after the first install"
printf 'stale' >"$dir/ovalix-monitor.exe"

# 2. The current release over it: the service was stopped (its stop saved the
#    table), the files replaced, and a new service process runs.
"$run" "$installer" /S >/dev/null 2>&1 || fail "upgrade failed"
check_installed 2.0.0
new_pid=$(service_pid)
[ -n "$new_pid" ] && [ "$new_pid" != "$old_pid" ] || fail "service not restarted ($old_pid, $new_pid)"
[ "$(head -c 5 "$dir/ovalix-monitor.exe")" != stale ] || fail "files not replaced"
w "$probe" read-table | grep -qx 'type=3 size=352 class=config' ||
  fail "no table saved when the upgrade stopped the service"

# 3. Frames from the stand-in through the installed service and monitor.
"$phone" --connect 127.0.0.1:5055 --formats 640x480@30 >"$tmp/phone.log" 2>&1 &
phone_pid=$!
w "$windir\\ovalix-monitor.exe" --wait-state 3 --timeout 20000 >/dev/null ||
  fail "no streaming link through the installed service"
w "$windir\\ovalix-monitor.exe" --take --quiet --frames 10 --seconds 10 >"$tmp/take"
grep -q '^summary frames=1[0-9]' "$tmp/take" || fail "frames: $(cat "$tmp/take")"
# ovalix-snap finds the installed filter among the video input devices, in
# each bitness, and gets live pictures through it.
if has snap; then
  snaps="$windir\\ovalix-snap.exe"
  has filter64 && snaps="$snaps|$windir\\x64\\ovalix-snap.exe"
  IFS='|'
  for snap in $snaps; do
    unset IFS
    w "$snap" --device --seconds 3 --quiet >"$tmp/snap"
    live=$(sed -n 's/^summary .*live=\([0-9]*\).*/\1/p' "$tmp/snap")
    [ "${live:-0}" -gt 0 ] || fail "no live pictures through $snap: $(cat "$tmp/snap")"
  done
  unset IFS
fi
# The viewer, started from its Start-menu shortcut, finds the filter: its
# format probe sizes the window for the phone's one format, the control bar
# names it and offers Play. It is left running for the uninstaller to close.
if has viewer; then
  "$run" start "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Ovalix\\Ovalix Viewer.lnk" \
    >/dev/null 2>&1 || fail "the Start-menu shortcut did not start"
  w "$viewer_driver" state >"$tmp/viewer"
  /usr/bin/python3 - "$tmp/viewer" <<'END' || fail "viewer: $(cat "$tmp/viewer")"
import json, sys
state = json.loads(open(sys.argv[1], encoding="latin-1").read())
controls = state["bar"]["controls"]
ok = (state["client"][0] == 640 and controls["1008"]["text"].strip() == "640 x 480"
      and controls["1003"]["enabled"])
sys.exit(0 if ok else 1)
END
fi
kill "$phone_pid"
wait "$phone_pid" 2>/dev/null
phone_pid=

# 4. Silent uninstall: no service, no entry, no class, no files; the table
#    is kept by default.
uninstall
w "$probe" config >/dev/null && fail "service still registered"
[ -z "$(service_pid)" ] || fail "service still running"
w reg query "$class" /reg:32 >/dev/null 2>&1 && fail "32-bit filter class left behind"
w reg query "$class" /reg:64 >/dev/null 2>&1 && fail "64-bit filter class left behind"
w reg query "$device" /reg:32 >/dev/null 2>&1 && fail "32-bit device entry left behind"
w reg query "$device" /reg:64 >/dev/null 2>&1 && fail "64-bit device entry left behind"
listing >"$tmp/after"
diff "$tmp/before" "$tmp/after" >"$tmp/left" || fail "left behind: $(cat "$tmp/left")"
w "$probe" read-table >/dev/null || fail "the stored table was not kept"

# 5. Installed again and uninstalled with /DELETETABLE: the table goes too.
"$run" "$installer" /S >/dev/null 2>&1 || fail "second install failed"
wait_running
uninstall /DELETETABLE
w "$probe" read-table >/dev/null && fail "the stored table was kept"
listing >"$tmp/after"
diff "$tmp/before" "$tmp/after" >"$tmp/left" || fail "left behind: $(cat "$tmp/left")"

[ "$failures" -eq 0 ] && echo "all checks passed"
exit "$failures"
