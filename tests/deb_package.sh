#!/bin/sh
# The Debian package: contents and control data, lintian without errors, then
# install, upgrade, remove and purge in a throw-away copy of this system (an
# overlay over / in private mount and network namespaces). systemd is not
# running here, so a stand-in systemctl plays its part: it runs the service
# in the foreground with its state directory as the unit says and stops it
# with SIGTERM. The unit itself is checked by systemd-analyze, the ufw
# application profile by the rules ufw reads it with.
# Usage: deb_package.sh PACKAGE.deb VERSION [PIECE...]   PIECE: gst, camera
set -u
if [ "${1:-}" != --inside ]; then
  exec unshare --mount --net --fork sh "$0" --inside "$@"
fi
shift
deb=$1
version=$2
shift 2
pieces=" $* "
if [ ! -f "$deb" ]; then
  echo "FAIL: no $deb: build it with --target package"
  exit 1
fi
failures=0
fail() { printf 'FAIL: %s\n' "$*"; failures=$((failures + 1)); }
has() { case "$pieces" in *" $1 "*) return 0 ;; esac; return 1; }
work=$(mktemp -d)
cleanup() {
  for p in "$work"/root/run/ovalix*.pid; do [ -f "$p" ] && kill "$(cat "$p")"; done
  umount -R "$work" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
unit=lib/systemd/system/OvalixSvc.service
web_unit=lib/systemd/system/ovalix-web.service
camera_unit=usr/lib/systemd/user/ovalix-camera.service
camera_wants=etc/systemd/user/default.target.wants/ovalix-camera.service
ufw_profile=etc/ufw/applications.d/ovalix
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)

# 1. Contents, ownership and control data.
dpkg-deb -c "$deb" >"$work/contents" || fail "dpkg-deb -c"
awk '$2 != "root/root" { print }' "$work/contents" | grep . && fail "files not owned by root"
expected="./usr/sbin/OvalixSvc ./usr/bin/ovalix-monitor ./$unit ./usr/bin/ovalix-web ./$web_unit
  ./usr/share/man/man8/OvalixSvc.8.gz ./usr/share/man/man1/ovalix-monitor.1.gz
  ./usr/share/man/man1/ovalix-web.1.gz
  ./usr/share/doc/ovalix/copyright ./usr/share/doc/ovalix/changelog.gz
  ./usr/share/doc/ovalix/README.Debian ./$ufw_profile"
has gst && expected="$expected ./usr/lib/$multiarch/gstreamer-1.0/libgstovalix.so"
has camera && expected="$expected ./usr/bin/ovalix-camera ./$camera_unit ./usr/share/man/man1/ovalix-camera.1.gz"
for f in $expected; do
  awk '{ print $6 }' "$work/contents" | grep -qxF "$f" || fail "not in the package: $f"
done
dpkg-deb -f "$deb" Package Version Depends Recommends >"$work/control"
grep -qx 'Package: ovalix' "$work/control" || fail "package name"
grep -qx "Version: $version" "$work/control" || fail "version: $(cat "$work/control")"
grep -q '^Depends: .*libc6' "$work/control" || fail "no library dependencies"
grep -qx 'Recommends: libavahi-compat-libdnssd1' "$work/control" || fail "DNS-SD not recommended"
dpkg-deb -I "$deb" conffiles >"$work/conffiles" 2>&1
[ "$(cat "$work/conffiles")" = "/$ufw_profile" ] || fail "conffiles: $(cat "$work/conffiles")"

# 2. lintian: warnings are shown, errors fail.
lintian --fail-on error "$deb" >"$work/lintian" 2>&1 || fail "lintian: $(cat "$work/lintian")"
grep -v '^running with root' "$work/lintian"

# 3. The throw-away root: an overlay over /, its changes in a tmpfs.
mount -t tmpfs tmpfs "$work" || exit 1
mkdir "$work/upper" "$work/scratch" "$work/root"
mount -t overlay overlay -o "lowerdir=/,upperdir=$work/upper,workdir=$work/scratch" "$work/root" ||
  exit 1
r=$work/root
mount -t proc proc "$r/proc"
mount --rbind /dev "$r/dev"
mount -t tmpfs -o mode=1777 tmpfs "$r/dev/shm"
mount -t tmpfs tmpfs "$r/run"
mount -t tmpfs -o mode=1777 tmpfs "$r/tmp"
ip link set lo up
cp "$deb" "$r/tmp/ovalix.deb"
in_root() { chroot "$r" "$@"; }

# The stand-in systemctl logs every call and runs the package's two system
# units' programs for the running system, each with a pid file of its own;
# unit-file work (enable, preset, is-enabled) goes to the real one, which does
# it offline.
mv "$r/usr/bin/systemctl" "$r/usr/bin/systemctl.real"
cat >"$r/usr/bin/systemctl" <<'EOF'
#!/bin/sh
echo "$*" >>/run/systemctl.log
case " $* " in
*" OvalixSvc.service "*) program=/usr/sbin/OvalixSvc pid=/run/ovalix.pid ;;
*" ovalix-web.service "*) program=/usr/bin/ovalix-web pid=/run/ovalix-web.pid ;;
*) program= pid=/run/ovalix.pid ;;
esac
stop() {
  [ -f $pid ] || return 0
  kill -TERM "$(cat $pid)"
  while kill -0 "$(cat $pid)" 2>/dev/null; do sleep 0.1; done
  rm -f $pid
}
start() {
  mkdir -p /var/lib/ovalix
  STATE_DIRECTORY=/var/lib/ovalix setsid $program </dev/null >$pid.log 2>&1 &
  echo $! >$pid
}
case " $* " in
*" daemon-reload "*) ;;
*" is-enabled "*) for unit; do :; done; exec /usr/bin/systemctl.real --root=/ is-enabled "$unit" ;;
*" is-active "*) [ -f $pid ] ;;
*" stop "*) stop ;;
*" start "* | *" restart "*)
  [ -n "$program" ] || exit 0
  stop
  start ;;
*) exec /usr/bin/systemctl.real "$@" ;;
esac
exit 0
EOF
chmod 755 "$r/usr/bin/systemctl"
# A container's policy that forbids starting services would hide the start.
rm -f "$r/usr/sbin/policy-rc.d"
mkdir -p "$r/run/systemd/system"
log=$r/run/systemctl.log
wants=$r/etc/systemd/system/multi-user.target.wants/OvalixSvc.service
web_wants=$r/etc/systemd/system/multi-user.target.wants/ovalix-web.service
state=$r/var/lib/ovalix/Software/Ovalix/Setup
svc_pid() { cat "$r/run/ovalix.pid" 2>/dev/null; }

# 4. Install: files, unit enabled, service started and publishing.
in_root dpkg -i /tmp/ovalix.deb >"$work/dpkg.log" 2>&1 || fail "dpkg -i: $(cat "$work/dpkg.log")"
[ -x "$r/usr/sbin/OvalixSvc" ] || fail "service not installed"
[ "$(readlink "$wants")" = "/$unit" ] || fail "unit not enabled: $(ls -l "$wants" 2>&1)"
grep -q " start OvalixSvc.service" "$log" || fail "not started: $(cat "$log")"
grep -q 'daemon-reload' "$log" || fail "no daemon-reload on install"
in_root systemd-analyze verify "/$unit" >"$work/verify" 2>&1 || fail "unit: $(cat "$work/verify")"
# The phone page: enabled, started, its unit valid and naming the program.
[ "$(readlink "$web_wants")" = "/$web_unit" ] || fail "web unit not enabled: $(ls -l "$web_wants" 2>&1)"
grep -q " start ovalix-web.service" "$log" || fail "phone page not started: $(cat "$log")"
in_root systemd-analyze verify "/$web_unit" >"$work/verify" 2>&1 ||
  fail "web unit: $(cat "$work/verify")"
grep -qx 'ExecStart=/usr/bin/ovalix-web' "$r/$web_unit" ||
  fail "web unit: $(grep ExecStart "$r/$web_unit")"
# The installed bridge serves its pairing page on loopback, and keeps its key
# with the service's state, readable by root alone.
pairing() { python3 -c 'import urllib.request as u; u.urlopen("http://127.0.0.1:5057/", timeout=2)' 2>/dev/null; }
for _ in $(seq 100); do pairing && break; sleep 0.1; done
pairing || fail "the installed bridge serves no pairing page: $(cat "$r/run/ovalix-web.pid.log" 2>&1)"
key=$(find "$r/var/lib/ovalix" -name key.pem -type f)
[ -n "$key" ] && [ "$(stat -c %a "$key")" = 600 ] || fail "bridge key: $(ls -lR "$r/var/lib/ovalix")"
first=$(svc_pid)
for _ in $(seq 50); do in_root ovalix-monitor >/dev/null 2>&1 && break; sleep 0.1; done
in_root ovalix-monitor >/dev/null 2>&1 || fail "the installed service publishes no block"
grep -qx 'ExecStart=/usr/sbin/OvalixSvc' "$r/$unit" || fail "unit: $(grep ExecStart "$r/$unit")"
if has camera; then
  # Enabled for every user's session, naming the installed program.
  [ "$(readlink "$r/$camera_wants")" = "/$camera_unit" ] ||
    fail "camera not enabled for users: $(ls -l "$r/$camera_wants" 2>&1)"
  grep -qx 'ExecStart=/usr/bin/ovalix-camera' "$r/$camera_unit" ||
    fail "camera unit: $(grep ExecStart "$r/$camera_unit")"
fi
# The ufw profile as ufw reads every file of its directory: an INI file whose
# sections are applications, each with a title, a description and ports
# ("port/proto" items joined by "|"); a name is a word that starts with a
# letter and is no service of /etc/services.
/usr/bin/python3 - "$r/$ufw_profile" <<'END' || fail "ufw profile: $(cat "$r/$ufw_profile")"
import configparser, re, socket, sys
profile = configparser.RawConfigParser()
profile.read(sys.argv[1])
# The name the README gives to `ufw allow`.
assert profile.sections() == ["Ovalix"], profile.sections()
name = profile.sections()[0]
assert re.match(r"^[a-zA-Z][a-zA-Z0-9 _\-\.+]*$", name) and len(name) <= 64
for proto in ("tcp", "udp"):
    try:
        socket.getservbyname(name.lower(), proto)
        sys.exit("the name is a service in /etc/services")
    except OSError:
        pass
fields = dict(profile.items(name))
assert sorted(fields) == ["description", "ports", "title"], fields
assert all(0 < len(value) <= 1024 for value in fields.values()), fields
assert fields["ports"].split("|") == ["5055/tcp", "5056/tcp"], fields["ports"]
END
if has gst; then
  in_root env HOME=/tmp gst-inspect-1.0 ovalixsrc >"$work/inspect" 2>&1 ||
    fail "GStreamer does not find ovalixsrc: $(tail -3 "$work/inspect")"
fi

# 5. Upgrade (the same package again): restarted, not stopped by prerm.
: >"$log"
in_root dpkg -i /tmp/ovalix.deb >"$work/dpkg.log" 2>&1 || fail "upgrade: $(cat "$work/dpkg.log")"
grep -q 'restart OvalixSvc.service' "$log" || fail "not restarted on upgrade: $(cat "$log")"
[ -n "$(svc_pid)" ] && [ "$(svc_pid)" != "$first" ] || fail "no new service process"

# 6. Remove: stopped (its stop saved the table), files gone, state kept.
: >"$log"
in_root dpkg -r ovalix >"$work/dpkg.log" 2>&1 || fail "dpkg -r: $(cat "$work/dpkg.log")"
grep -q 'stop OvalixSvc.service' "$log" || fail "not stopped on removal: $(cat "$log")"
grep -q 'stop ovalix-web.service' "$log" || fail "phone page not stopped on removal: $(cat "$log")"
[ -z "$(svc_pid)" ] || fail "service still running"
[ -f "$r/run/ovalix-web.pid" ] && fail "phone page still running"
[ -e "$r/usr/sbin/OvalixSvc" ] || [ -e "$r/$unit" ] && fail "files left after removal"
[ -f "$state" ] || fail "state directory not kept on removal"
[ -f "$r/$ufw_profile" ] || fail "ufw profile not kept on removal, as a conffile is"

# 7. Purge: state directory and enablement gone.
in_root dpkg -P ovalix >"$work/dpkg.log" 2>&1 || fail "dpkg -P: $(cat "$work/dpkg.log")"
[ -e "$r/var/lib/ovalix" ] && fail "state directory left after purge"
[ -e "$r/$ufw_profile" ] && fail "ufw profile left after purge"
[ -e "$wants" ] || [ -L "$wants" ] && fail "enablement left after purge"
[ -L "$r/etc/systemd/system/OvalixSvc.service" ] && fail "mask left after purge"
[ -e "$web_wants" ] || [ -L "$web_wants" ] && fail "web enablement left after purge"
[ -L "$r/etc/systemd/system/ovalix-web.service" ] && fail "web mask left after purge"
[ -e "$r/$camera_wants" ] || [ -L "$r/$camera_wants" ] && fail "camera enablement left after purge"
[ -L "$r/etc/systemd/user/ovalix-camera.service" ] && fail "camera mask left after purge"

# 8. Without systemd (a chroot, a container): enabled for later, nothing
#    started, purged cleanly.
rm -rf "$r/run/systemd/system"
: >"$log"
in_root dpkg -i /tmp/ovalix.deb >"$work/dpkg.log" 2>&1 || fail "dpkg -i without systemd"
[ "$(readlink "$wants")" = "/$unit" ] || fail "unit not enabled without systemd"
grep -Eq 'start|stop|daemon-reload' "$log" && fail "systemctl called without systemd: $(cat "$log")"
in_root dpkg -P ovalix >"$work/dpkg.log" 2>&1 || fail "dpkg -P without systemd"
[ -e "$wants" ] || [ -L "$wants" ] && fail "enablement left after purge without systemd"

[ "$failures" -eq 0 ] && echo "all checks passed"
exit "$failures"
