#!/bin/sh
# A Windows installer under Wine, in a private copy of the prefix
# (wine_private_prefix.sh), with stand-ins for netsh that log what they are
# asked (the prefix has no firewall):
#   1. an older release installed silently, of the installer's bitness, or
#      a 32-bit one before the 64-bit installer where this machine runs
#      32-bit programs;
#   2. the installer under test over it: the running service stopped (its stop
#      saves the table), the files replaced, the new service started, the
#      stored table kept; over a 32-bit installation the 64-bit one stays in its
#      folder and takes over its uninstall entry;
#   3. frames from the phone stand-in through the installed service, monitor,
#      ovalix-snap and viewer; the 32-bit installer refuses to replace the
#      64-bit programs;
#   4. a silent uninstall that leaves nothing behind but the stored table;
#   5. a first installation into the default folder, uninstalled with
#      /DELETETABLE, which takes the table too;
#   6. with the camera source packaged: Windows 11 (the build number in the
#      registry set to 22000) and a stand-in mfsensorgroup.dll that logs its
#      calls: the virtual camera registered and the filter out of the video
#      input devices, again on an upgrade, removed by the uninstaller.
# Steps 1 to 5 run as Windows 10 (build 19045) with the same stand-in in
# place: the filter among the video input devices, and no virtual camera.
# After every installation: service registered with its restart actions and
# running in the installer's bitness, files, uninstall entry in the registry
# view of that bitness, shortcut, filter classes, and one firewall rule.
# Usage: installer_wine.sh --bits 32|64 --installer EXE --nsh NSH --probe EXE
#          --phone PROGRAM --netsh EXE [--nsh32 NSH --netsh32 EXE]
#          [--viewer-driver EXE] [--sensorgroup DLL] [PIECE...]
#   NSH: the installer's generated script, compiled again for an older
#   release (NSH32, NETSH32: the 32-bit build's, for a 64-bit installer).
#   PIECE: viewer, filter, snap, vcam — what the installer's build packages.
#   DLL: the stand-in mfsensorgroup.dll of the installer's bitness.
#   OVALIX_WIN32=off: as on a machine that runs 64-bit programs only.
set -u
nsh32=
netsh32=
viewer_driver=
sensorgroup=
while [ $# -gt 0 ]; do
  case "$1" in
    --bits) bits=$2 ;;
    --installer) installer=$2 ;;
    --nsh) nsh=$2 ;;
    --nsh32) nsh32=$2 ;;
    --probe) probe=$2 ;;
    --phone) phone=$2 ;;
    --netsh) netsh=$2 ;;
    --netsh32) netsh32=$2 ;;
    --viewer-driver) viewer_driver=$2 ;;
    --sensorgroup) sensorgroup=$2 ;;
    *) break ;;
  esac
  shift 2
done
pieces=" $* "
root=$(cd "$(dirname "$0")/.." && pwd)
run="$root/scripts/wine-run.sh"
: "${OVALIX_WINEPREFIX:=$root/build/wine}"
prefix=$OVALIX_WINEPREFIX

# Asked before any 32-bit step: where 32-bit programs cannot start (or would
# start only after minutes, as under qemu without Wine's preloader), the
# answer comes at once, and the 32-bit steps are left out rather than timed out.
runs32=yes
how32=$("$root/scripts/win32-runs.sh" --say) || runs32=
echo "32-bit programs here: $how32"
if [ "$bits" = 32 ] && [ -z "$runs32" ]; then
  echo "32-bit installer skipped: 32-bit programs here: $how32"
  exit 77
fi
for f in "$installer" "$netsh" ${runs32:+$nsh32 $netsh32}; do
  if [ ! -f "$f" ]; then
    echo "FAIL: no $f: build the installers (--target installer) of both Windows builds"
    exit 1
  fi
done

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
# reg query, run again (up to three times) when reg.exe gave no answer:
# 0 is a key or value found, 1 none; anything else means the program did not
# start or died, as a Wine program now and then does on a busy machine.
rq() {
  for _ in 1 2 3; do
    w reg query "$@" >"$tmp/rq.out"
    [ $wrc -le 1 ] && break
    sleep 1
  done
  cat "$tmp/rq.out"
  return $wrc
}
phone_pid=
cleanup() {
  [ -n "$phone_pid" ] && kill "$phone_pid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

# The netsh stand-ins, in the system directory of each bitness; Wine runs its
# own program for a name it knows unless the prefix says otherwise.
windows="$prefix/drive_c/windows"
cp "$netsh" "$windows/system32/netsh.exe" || exit 1
[ -n "$netsh32" ] && { cp "$netsh32" "$windows/syswow64/netsh.exe" || exit 1; }
[ "$bits" = 32 ] && { cp "$netsh" "$windows/syswow64/netsh.exe" || exit 1; }
w reg add 'HKCU\Software\Wine\DllOverrides' /v netsh.exe /d native /f >/dev/null || exit 1
netsh_log="$windows/netsh.log"
rm -f "$netsh_log"
# The number of netsh commands so far, to tell that a step asked for some.
netsh_count() { cat "$netsh_log" 2>/dev/null | wc -l; }

# The Windows build the installer reads, and a stand-in mfsensorgroup.dll in
# the system folder of the installer's bitness (ovalix-vcam's), which logs
# every call: from here on as Windows 10.
version_key='HKLM\Software\Microsoft\Windows NT\CurrentVersion'
set_windows_build() {
  for view in 32 64; do
    w reg add "$version_key" /v CurrentBuildNumber /d "$1" /f /reg:$view >/dev/null ||
      fail "could not set the build number"
  done
}
sg_log=
if has vcam && [ -n "$sensorgroup" ]; then
  system=$windows/system32
  [ "$bits" = 32 ] && system=$windows/syswow64
  cp "$sensorgroup" "$system/mfsensorgroup.dll" || exit 1
  sg_log=$system/mfsensorgroup.log
  rm -f "$sg_log"
  set_windows_build 19045
fi

menu="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Ovalix"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Ovalix'
service_key='HKLM\SYSTEM\CurrentControlSet\Services\OvalixSvc'
class='HKCR\CLSID\{5E75F4EE-128D-4972-8CD9-5B82DF38EB55}\InprocServer32'
# The camera source's class, and the uninstall entry's note of a registered
# virtual camera.
source_class='HKLM\Software\Classes\CLSID\{4D34993D-67BD-4538-9C88-5F514A70AB14}\InprocServer32'
# The filter's entry among the video input devices.
device='HKCR\CLSID\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\Instance\{5E75F4EE-128D-4972-8CD9-5B82DF38EB55}'

# Where an installer of a bitness installs by default, in Windows and in
# Unix terms; set_folder sets windir and dir.
set_folder() {
  case "$1" in
    32) windir='C:\Program Files (x86)\Ovalix' ;;
    64) windir='C:\Program Files\Ovalix' ;;
  esac
  dir="$prefix/drive_c/$(printf '%s' "${windir#C:\\}" | tr '\\' /)"
}

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

# The service's restart actions in the words of `sc failure`, from the value
# the service manager keeps them in: reset period, three unused words, then
# (type, delay) pairs; type 1 is a restart.
failure_actions() {
  rq "$service_key" /v FailureActions | /usr/bin/python3 -c '
import re, struct, sys
found = re.search(r"FailureActions\s+REG_BINARY\s+([0-9A-Fa-f]+)", sys.stdin.read())
data = bytes.fromhex(found.group(1)) if found else b""
if len(data) < 20:
    sys.exit("no FailureActions value")
reset, _, _, count, _ = struct.unpack_from("<5I", data)
actions = [struct.unpack_from("<2I", data, 20 + 8 * i) for i in range(min(count, (len(data) - 20) // 8))]
names = {0: "none", 1: "restart", 2: "reboot", 3: "run"}
print("reset= %d actions= %s" % (reset, "/".join("%s/%d" % (names.get(t, t), d) for t, d in actions)))
'
}

# The firewall rules that the logged netsh commands leave, one line each.
# A rule's fields are compared with what the installed service needs; any
# other command is reported.
firewall_rules() {
  /usr/bin/python3 - "$netsh_log" <<'END'
import os, sys

def arguments(line):
    """Splits a command line as Windows programs do (no escaped quotes here)."""
    args, word, quoted, started = [], "", False, False
    for c in line.rstrip("\r\n"):
        if c == '"':
            quoted, started = not quoted, True
        elif c == " " and not quoted:
            if started:
                args.append(word)
            word, started = "", False
        else:
            word, started = word + c, True
    if started:
        args.append(word)
    return args

rules = {}
log = sys.argv[1]
for line in open(log, encoding="utf-8") if os.path.exists(log) else []:
    args = arguments(line)[1:]
    verb = " ".join(a.lower() for a in args[:4])
    fields = dict(a.split("=", 1) for a in args[4:] if "=" in a)
    if verb == "advfirewall firewall add rule" and len(fields) == len(args) - 4:
        rules.setdefault(fields.get("name"), []).append(fields)
    elif verb == "advfirewall firewall delete rule" and list(fields) == ["name"]:
        rules.pop(fields["name"], None)
    else:
        print("unexpected netsh command: " + line.strip())
for name, copies in rules.items():
    for fields in copies:
        print(";".join("%s=%s" % (k, fields[k]) for k in sorted(fields)
                       if k != "description") + (";described" if fields.get("description") else ""))
END
}

# Runs an installer or uninstaller silently, after noting how many netsh
# commands came before it.
silently() {
  asked=$(netsh_count)
  exe=$1
  shift
  "$run" "$exe" /S "$@" >/dev/null 2>&1
}

check_firewall() {
  [ "$(netsh_count)" -gt "$asked" ] || fail "netsh not asked when $1"
  firewall_rules >"$tmp/rules"
  expected="action=allow;dir=in;enable=yes;localport=5055;name=Ovalix connection manager;profile=private,domain;program=$windir\\OvalixSvc.exe;protocol=TCP;described"
  has web && expected="$expected
action=allow;dir=in;enable=yes;localport=5056;name=Ovalix phone page;profile=private,domain;program=$windir\\ovalix-web.exe;protocol=TCP;described"
  printf '%s\n' "$expected" | cmp -s - "$tmp/rules" ||
    fail "firewall rules after $1: $(cat "$tmp/rules")"
}

# check_installed VERSION BITS: what an installer of BITS leaves in $dir.
check_installed() {
  version=$1
  b=$2
  other=$((96 - b))
  rq "$uninstall_key" /reg:"$b" >"$tmp/key"
  grep -q "DisplayVersion *REG_SZ *$version\$" "$tmp/key" || fail "uninstall entry: $(cat "$tmp/key")"
  grep -qF "REG_SZ    \"$windir\\uninstall.exe\" /S" "$tmp/key" || fail "no quiet uninstall string"
  rq "$uninstall_key" /reg:"$other" >/dev/null && fail "uninstall entry in the $other-bit view"
  w "$probe" config >"$tmp/config"
  grep -qxF "path=\"$windir\\OvalixSvc.exe\"" "$tmp/config" || fail "service: $(cat "$tmp/config")"
  grep -qx 'type=16 start=2 error=1' "$tmp/config" || fail "service type/start: $(cat "$tmp/config")"
  actions=$(failure_actions)
  [ "$actions" = "reset= 86400 actions= restart/5000/restart/5000/restart/30000" ] ||
    fail "restart actions: $actions"
  wait_running
  pid=$(service_pid)
  case "$(readlink "/proc/$pid/exe" 2>/dev/null)" in
    */wine64) loader=64 ;;
    */wine) loader=32 ;;
    # Under emulation the process is qemu running Wine's 32-bit loader.
    */qemu-i386) loader=32 ;;
    *) loader=none ;;
  esac
  [ "$loader" = "$b" ] || fail "the service runs as a $loader-bit program, not $b-bit"
  for f in OvalixSvc.exe ovalix-monitor.exe uninstall.exe; do
    [ -f "$dir/$f" ] || fail "$f not installed"
  done
  if has web; then
    [ -f "$dir/ovalix-web.exe" ] || fail "ovalix-web.exe not installed"
    tr -d '\r' <"$menu/Connect a phone.url" 2>/dev/null | grep -qx 'URL=http://127.0.0.1:5057/' ||
      fail "no \"Connect a phone\" entry in the Start menu"
  fi
  if has viewer; then
    [ -f "$dir/OvalixViewer.exe" ] || fail "viewer not installed"
    [ -f "$menu/Ovalix Viewer.lnk" ] || fail "no Start-menu shortcut"
  fi
  otherdir=x64
  [ "$b" = 64 ] && otherdir=x86
  has snap && for f in ovalix-snap.exe "$otherdir/ovalix-snap.exe"; do
    [ -f "$dir/$f" ] || fail "$f not installed"
  done
  if has filter; then
    filters="$b=$windir\\ovalix_filter.dll"
    # Without 32-bit programs there is nothing to register the 32-bit
    # filter for, nor a way to.
    [ "$other" = 64 ] || [ -n "$runs32" ] && filters="$filters|$other=$windir\\$otherdir\\ovalix_filter.dll"
    IFS='|'
    for f in $filters; do
      unset IFS
      view=${f%%=*}
      rq "$class" /reg:"$view" | grep -qiF "REG_SZ    ${f#*=}" ||
        fail "$view-bit filter class: $(rq "$class" /reg:"$view")"
      rq "$device" /reg:"$view" >/dev/null ||
        fail "$view-bit filter not among the video input devices"
    done
    unset IFS
  fi
  if has vcam; then
    rq "$source_class" /reg:"$b" | grep -qiF "REG_SZ    $windir\ovalix_vcam.dll" ||
      fail "$b-bit camera source class: $(rq "$source_class" /reg:"$b")"
    [ -f "$dir/ovalix-vcam.exe" ] || fail "ovalix-vcam.exe not installed"
    rq "$uninstall_key" /v VirtualCamera /reg:"$b" >/dev/null &&
      fail "a virtual camera noted before Windows 11"
    [ -n "$sg_log" ] && [ -f "$sg_log" ] && fail "virtual camera calls before Windows 11: $(cat "$sg_log")"
  fi
  [ -d "$dir/x64" ] && [ "$b" = 64 ] && fail "the 32-bit installation's x64 folder is left"
  check_firewall "installing $version ($b-bit)"
}

# The uninstaller copies itself away and returns at once; it removes its
# uninstall entry last.
uninstall() {
  silently "$dir/uninstall.exe" "$@" || fail "uninstaller failed"
  for _ in $(seq 300); do
    rq "$uninstall_key" /reg:"$bits" >/dev/null 2>&1 || { sleep 1; return; }
    sleep 0.1
  done
  fail "the uninstaller did not finish"
}

check_removed() {
  w "$probe" config >/dev/null && fail "service still registered"
  [ -z "$(service_pid)" ] || fail "service still running"
  for view in 32 64; do
    rq "$class" /reg:$view >/dev/null 2>&1 && fail "$view-bit filter class left behind"
    rq "$device" /reg:$view >/dev/null 2>&1 && fail "$view-bit device entry left behind"
    rq "$source_class" /reg:$view >/dev/null 2>&1 && fail "$view-bit camera source class left behind"
    rq "$uninstall_key" /reg:$view >/dev/null 2>&1 && fail "$view-bit uninstall entry left behind"
  done
  [ "$(netsh_count)" -gt "$asked" ] || fail "netsh not asked when uninstalling"
  firewall_rules >"$tmp/rules"
  [ -s "$tmp/rules" ] && fail "firewall rules left behind: $(cat "$tmp/rules")"
  listing >"$tmp/after"
  # Kept with the table: the phone page's certificate, key and pairing code,
  # so that a paired phone still links after a reinstallation.
  if [ "${1:-}" = table-kept ] && has web; then
    for f in cert.pem key.pem token; do
      grep -qxF "./ProgramData/Ovalix/web/$f" "$tmp/after" || fail "phone page's $f not kept"
    done
    grep -v '^\./ProgramData/Ovalix\(/\|$\)' "$tmp/after" >"$tmp/after.kept"
    mv "$tmp/after.kept" "$tmp/after"
  fi
  diff "$tmp/before" "$tmp/after" >"$tmp/left" || fail "left behind: $(cat "$tmp/left")"
}

listing >"$tmp/before"

# 1. An older release, installed silently.
old_bits=$bits
old_nsh=$nsh
if [ "$bits" = 64 ]; then
  if [ -n "$runs32" ]; then
    old_bits=32
    old_nsh=$nsh32
  else
    echo "upgrade over a 32-bit installation skipped: this machine runs 64-bit code only"
  fi
fi
makensis -V1 -NOCD -DVERSION=1.0.0 "-DOUTFILE=$tmp/old-setup.exe" "$old_nsh" >/dev/null ||
  fail "could not make the older installer"
silently "$tmp/old-setup.exe" || fail "older installer failed"
set_folder "$old_bits"
check_installed 1.0.0 "$old_bits"
old_pid=$(service_pid)
[ -n "$old_pid" ] || fail "no service process after the first install"
printf 'stale' >"$dir/ovalix-monitor.exe"

# 2. The installer under test over it, in the same folder.
silently "$installer" || fail "upgrade failed"
check_installed 2.0.0 "$bits"
new_pid=$(service_pid)
[ -n "$new_pid" ] && [ "$new_pid" != "$old_pid" ] || fail "service not restarted ($old_pid, $new_pid)"
[ "$(head -c 5 "$dir/ovalix-monitor.exe")" != stale ] || fail "files not replaced"
w "$probe" read-table | grep -qx 'type=3 size=352 class=config' ||
  fail "no table saved when the upgrade stopped the service"

# 3. Frames from the stand-in through the installed service and monitor.
"$phone" --connect 127.0.0.1:5055 --formats 640x480@30 >"$tmp/phone.log" 2>&1 &
phone_pid=$!
w "$dir/ovalix-monitor.exe" --wait-state 3 --timeout 20000 >/dev/null ||
  fail "no streaming link through the installed service: $(cat "$tmp/phone.log"; w "$dir/ovalix-monitor.exe")"
w "$dir/ovalix-monitor.exe" --take --quiet --frames 10 --seconds 10 >"$tmp/take"
grep -q '^summary frames=1[0-9]' "$tmp/take" || fail "frames: $(cat "$tmp/take")"
# ovalix-snap finds the installed filter among the video input devices, in
# each bitness that runs here, and gets live pictures through it.
if has snap; then
  snaps="$dir/ovalix-snap.exe"
  [ "$bits" = 32 ] && snaps="$snaps|$dir/x64/ovalix-snap.exe"
  [ "$bits" = 64 ] && [ -n "$runs32" ] && snaps="$snaps|$dir/x86/ovalix-snap.exe"
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
if has viewer && [ -n "$viewer_driver" ]; then
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
# The 32-bit installer leaves a 64-bit installation alone.
if [ "$bits" = 64 ] && [ -n "$runs32" ]; then
  makensis -V1 -NOCD "-DOUTFILE=$tmp/setup32.exe" "$nsh32" >/dev/null ||
    fail "could not make the 32-bit installer"
  silently "$tmp/setup32.exe" && fail "the 32-bit installer ran over the 64-bit one"
  w "$probe" config >"$tmp/config"
  grep -qxF "path=\"$windir\\OvalixSvc.exe\"" "$tmp/config" || fail "service: $(cat "$tmp/config")"
  rq "$uninstall_key" /reg:32 >/dev/null && fail "the 32-bit installer wrote its entry"
fi

# 4. Silent uninstall: no service, entry, class, rule or file; the table is
#    kept by default.
uninstall
check_removed table-kept
w "$probe" read-table >/dev/null || fail "the stored table was not kept"

# 5. A first installation, in the installer's own folder, uninstalled with
#    /DELETETABLE: the table goes too.
silently "$installer" || fail "second install failed"
set_folder "$bits"
check_installed 2.0.0 "$bits"
uninstall /DELETETABLE
check_removed
w "$probe" read-table >/dev/null && fail "the stored table was kept"

# 6. Windows 11: the virtual camera instead of the filter's device entry.
if [ -n "$sg_log" ]; then
  create="MFCreateVirtualCamera type=0 lifetime=1 access=1 name=Ovalix Camera source={4D34993D-67BD-4538-9C88-5F514A70AB14} categories=null count=0"
  # The calls the stand-in logged since the last look, as lines.
  calls() { tr -d '\r' <"$sg_log" 2>/dev/null; rm -f "$sg_log"; }
  set_windows_build 22000
  listing >"$tmp/before"
  set_folder "$bits"
  for round in install upgrade; do
    silently "$installer" || fail "Windows 11 $round failed"
    got=$(calls)
    [ "$got" = "$(printf '%s\nStart callback=null\nShutdown\nRelease' "$create")" ] ||
      fail "Windows 11 $round: calls $got"
    rq "$uninstall_key" /v VirtualCamera /reg:"$bits" | grep -q 'REG_DWORD *0x1' ||
      fail "Windows 11 $round: no virtual camera noted"
    rq "$source_class" /reg:"$bits" | grep -qiF "REG_SZ    $windir\ovalix_vcam.dll" ||
      fail "Windows 11 $round: no camera source class"
    if has filter; then
      rq "$class" /reg:"$bits" >/dev/null || fail "Windows 11 $round: filter class gone"
      for view in 32 64; do
        rq "$device" /reg:$view >/dev/null 2>&1 &&
          fail "Windows 11 $round: the $view-bit filter among the video input devices"
      done
    fi
  done
  uninstall
  got=$(calls)
  [ "$got" = "$(printf '%s\nRemove\nShutdown\nRelease' "$create")" ] ||
    fail "Windows 11 uninstall: calls $got"
  check_removed table-kept
fi

[ "$failures" -eq 0 ] && echo "all checks passed"
exit "$failures"
