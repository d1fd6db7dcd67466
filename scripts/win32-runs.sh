#!/bin/sh
# win32-runs.sh [--say]
# Exits 0 where 32-bit Windows programs can run under Wine now, 1 where not.
# With --say it also prints how, in one line:
#   natively                      the kernel runs Wine's 32-bit loader itself;
#   under emulation (qemu-user)   a binfmt_misc handler hands i386 programs to
#                                 qemu-i386 (scripts/win32-emulation.sh run);
#   not at all: WHY               e.g. a kernel that runs 64-bit code only.
# OVALIX_WIN32=off answers "not at all" on any machine, to try the 64-bit-only
# path.
binfmt=/proc/sys/fs/binfmt_misc

say() {
  [ "${say:-}" ] && echo "$1"
  return 0
}
say=
[ "${1:-}" = --say ] && say=yes

if [ "${OVALIX_WIN32:-}" = off ]; then
  say "not at all: OVALIX_WIN32=off"
  exit 1
fi

# A registered and enabled handler that runs i386 programs through qemu
# serves them before the kernel's own loader would.
emulated=
if [ "$(cat "$binfmt/status" 2>/dev/null)" = enabled ]; then
  for entry in "$binfmt"/*; do
    case "${entry##*/}" in register | status) continue ;; esac
    if [ "$(head -1 "$entry" 2>/dev/null)" = enabled ] &&
      grep -q '^interpreter .*qemu-i386' "$entry" 2>/dev/null; then
      emulated=yes
    fi
  done
fi

if [ "$emulated" ] && [ ! -f /usr/lib/wine/wine-preloader ]; then
  # Without the preloader every 32-bit program would fail only after a
  # minute or more: say so now.
  say "not at all: i386 programs run through qemu-i386 here, and Wine's 32-bit loader needs its preloader there (package wine32-preloader:i386)"
  exit 1
fi
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  if [ "$emulated" ]; then
    say "not at all: Wine's 32-bit loader fails under qemu-i386"
  elif [ -x /usr/lib/wine/wine ]; then
    say "not at all: this machine runs 64-bit code only"
  else
    say "not at all: Wine's 32-bit loader is not installed (package wine32:i386)"
  fi
  exit 1
fi
if [ "$emulated" ]; then
  say "under emulation (qemu-user)"
else
  say natively
fi
exit 0
