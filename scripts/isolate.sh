#!/bin/sh
# Runs a command in a private mount and network namespace: a fresh tmpfs on
# /dev/shm and on /run/ovalix (the camera socket's directory), and a loopback
# of its own, so it never meets a real service, another test run, or the
# machine's port 5055.
#   scripts/isolate.sh [--host-network] COMMAND...
# --host-network keeps the machine's network (for a demo that a real phone
# reaches); the named objects stay private all the same.
net=--net
if [ "${1:-}" = --host-network ]; then
  net=
  shift
fi
mkdir -p /run/ovalix
exec unshare --mount $net --fork -- sh -c '
  mount -t tmpfs -o mode=1777 tmpfs /dev/shm &&
  mount -t tmpfs -o mode=0755 tmpfs /run/ovalix &&
  { [ -z "$0" ] || ip link set lo up; } &&
  exec "$@"' "$net" "$@"
