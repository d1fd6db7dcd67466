#!/bin/sh
# wine_private_prefix.sh COMMAND [ARGS...]
# Runs a Wine process test in a throw-away copy of the build tree's prefix, so
# that nothing one test leaves in a prefix (an installed auto-start service, a
# stored table, registered ports, COM links, a running server) can reach the
# next, and nothing the unit tests do to the shared prefix reaches this one.
#
# The copy gets a wineserver of its own, started here in the foreground mode:
# it runs inside the caller's namespace (Wine's sockets live in the server),
# its messages go to a log instead of the test's output, and, not being a
# session leader, it never takes a pseudo-terminal a test opens as its
# controlling terminal, so closing that terminal cannot send it a hang-up.
# The server and a reaper are detached from this process tree: when a test
# is killed for running too long, the reaper still ends the server (and with
# it every program of the copy) and removes the copy.
#
# One ordinary Wine process is kept alive for the whole test: Wine ends the
# prefix's services when the last one goes, and starts the auto-start ones
# again when the next one comes.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
run=$root/scripts/wine-run.sh
base=${OVALIX_WINEPREFIX:-$root/build/wine}
OVALIX_WINEPREFIX=$base "$root/scripts/wine-prefix.sh" || exit 1

work=$(mktemp -d "${TMPDIR:-/tmp}/ovalix-wine.XXXXXX") || exit 1
prefix=$work/prefix

cleanup() {
  exec 9>&-
  WINEPREFIX=$prefix wineserver -k 2>/dev/null
  WINEPREFIX=$prefix wineserver -w 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

# The shared prefix's server may be saving its registry meanwhile (into a
# temporary file renamed into place): a copy that met a vanished file is
# made again.
copies=0
until cp -a "$base" "$prefix" 2>"$work/copy.log"; do
  copies=$((copies + 1))
  if [ $copies -ge 5 ]; then
    cat "$work/copy.log" >&2
    exit 1
  fi
  rm -rf "$prefix"
  sleep 0.2
done
sh "$root/tests/wine_prefix_scrub.sh" "$prefix" || exit 1

export OVALIX_WINEPREFIX="$prefix" WINEPREFIX="$prefix" WINEDEBUG=-all
(wineserver -f -p </dev/null >/dev/null 2>"$work/wineserver.log" &)
(sh -c '
  while kill -0 "$1" 2>/dev/null; do sleep 1; done
  WINEPREFIX=$2 wineserver -k
  WINEPREFIX=$2 wineserver -w
  rm -rf "$3"' reaper $$ "$prefix" "$work" </dev/null >/dev/null 2>&1 &)

# The server's socket sits in a directory named after the prefix's device and
# inode, under /tmp/.wine-UID upstream and under a TMPDIR/wine-XXXXXX
# directory in some distributions' builds.
server_dir=server-$(printf %x "$(stat -c %d "$prefix")")-$(printf %x "$(stat -c %i "$prefix")")
server_ready() {
  for s in "/tmp/.wine-$(id -u)/$server_dir/socket" "${TMPDIR:-/tmp}"/wine-*/"$server_dir/socket"; do
    [ -S "$s" ] && return 0
  done
  return 1
}
tries=0
until server_ready; do
  tries=$((tries + 1))
  if [ $tries -gt 200 ]; then
    echo "the wineserver for $prefix did not start" >&2
    cat "$work/wineserver.log" >&2
    exit 1
  fi
  sleep 0.05
done

# The keeper reads a pipe that only this script holds open for writing. The
# prefix's session (service manager and the like) is started by it or by the
# empty command after it, never with the test's output as its own.
mkfifo "$work/hold" || exit 1
exec 9<>"$work/hold"
"$run" find ovalix <"$work/hold" >/dev/null 2>&1 9>&- &
"$run" cmd /c exit </dev/null >/dev/null 2>&1 9>&-

"$@" 9>&-
rc=$?
if [ $rc -ne 0 ] && [ -s "$work/wineserver.log" ]; then
  echo "== wineserver messages" >&2
  tail -20 "$work/wineserver.log" >&2
fi
exit $rc
