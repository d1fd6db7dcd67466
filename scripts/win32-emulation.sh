#!/bin/sh
# win32-emulation.sh possible
#   Exits 0 where Wine's 32-bit loader cannot run natively but can run under
#   qemu-user: qemu-i386 and Wine's 32-bit preloader are installed and
#   binfmt_misc can be written (as root). Otherwise prints why not and exits 1.
# win32-emulation.sh run COMMAND [ARGS...]
#   Runs COMMAND while the kernel starts i386 programs through qemu-i386: a
#   binfmt_misc handler registered under a name of this run's own, removed
#   again when COMMAND ends, fails or is interrupted. COMMAND sees
#   OVALIX_WIN32_EMULATED=qemu-user, by which tests tell emulation from a
#   32-bit kernel. Exits with COMMAND's status.
#
# The handler is machine-wide: while it is registered every i386 program on
# the machine runs through qemu. So it lives exactly as long as the command
# that needs it. Handlers of other names are never touched.
#
# Wine's 32-bit loader under qemu 7.2 needs the preloader (wine32-preloader):
# qemu ignores MAP_FIXED_NOREPLACE, so the loader's own reservations land at
# other addresses and every program fails after a minute or more with "failed
# to map the shared user data"; the preloader reserves them with MAP_FIXED.
set -u
qemu=/usr/bin/qemu-i386
preloader=/usr/lib/wine/wine-preloader
binfmt=/proc/sys/fs/binfmt_misc
# i386 ELF executables and shared objects: class 32-bit, little-endian,
# machine 3 (the mask lets the ABI byte and the type's low bit vary).
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

possible() {
  if [ ! -x "$qemu" ]; then
    echo "$qemu is missing (package qemu-user; scripts/setup.sh installs it)"
    return 1
  fi
  if [ ! -f "$preloader" ]; then
    echo "$preloader is missing (package wine32-preloader:i386; scripts/setup.sh installs it)"
    return 1
  fi
  if [ "$(id -u)" -ne 0 ]; then
    echo "registering qemu-i386 with binfmt_misc needs root"
    return 1
  fi
  if [ ! -f "$binfmt/register" ] &&
    ! mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null; then
    echo "binfmt_misc cannot be mounted on $binfmt"
    return 1
  fi
  return 0
}

case "${1:-}" in
possible)
  possible
  ;;
run)
  shift
  why=$(possible) || {
    echo "win32-emulation.sh: $why" >&2
    exit 1
  }
  name=ovalix-qemu-i386-$$
  handler=$binfmt/$name
  remove() {
    [ -e "$handler" ] && echo -1 >"$handler"
    return 0
  }
  child=
  stop() {
    [ -n "$child" ] && kill -"$1" "$child" 2>/dev/null && wait "$child"
    exit "$2"
  }
  trap remove EXIT
  trap 'stop HUP 129' HUP
  trap 'stop INT 130' INT
  trap 'stop TERM 143' TERM
  # F: the kernel opens qemu-i386 now, so that it serves programs started in
  # other mount namespaces and chroots (the tests' private namespaces) too.
  printf '%s' ":$name:M::$magic:$mask:$qemu:F" >"$binfmt/register" || {
    echo "win32-emulation.sh: could not register $name with binfmt_misc" >&2
    exit 1
  }
  # In the background, so that a signal reaches the traps at once.
  # (An asynchronous command's standard input would be /dev/null.)
  exec 3<&0
  OVALIX_WIN32_EMULATED=qemu-user "$@" <&3 3<&- &
  child=$!
  wait "$child"
  ;;
*)
  echo "usage: win32-emulation.sh possible | run COMMAND [ARGS...]" >&2
  exit 2
  ;;
esac
