#!/bin/sh
# discovery_hosts.sh DIR [RUNNER] PROGRAM ARGS...
# Runs PROGRAM in DIR inside a private mount namespace whose /etc/hosts gives
# the name ovalix-multi.test three IPv4 addresses, and tells it which comes
# first. Exits 77 (skip) when the namespace cannot be made.
dir=$1; shift
cd "$dir" || exit 1
hosts=$(mktemp) || exit 1
trap 'rm -f "$hosts"' EXIT
cat /etc/hosts >"$hosts" 2>/dev/null
cat >>"$hosts" <<'HOSTS'
127.0.1.2 ovalix-multi.test
127.0.1.3 ovalix-multi.test
127.0.1.4 ovalix-multi.test
HOSTS
if ! unshare --mount true 2>/dev/null; then
  echo "cannot create a mount namespace; skipping" >&2
  exit 77
fi
OVALIX_MULTI_HOST=ovalix-multi.test OVALIX_MULTI_FIRST=7F000102 \
HOSTS_FILE=$hosts unshare --mount -- sh -c '
  mount --bind "$HOSTS_FILE" /etc/hosts || exit 77
  # Without "multi on" the C library would give the name one address only.
  [ "$(getent hosts ovalix-multi.test | head -n1 | cut -d" " -f1)" = 127.0.1.2 ] || {
    echo "the hosts file is not consulted; skipping" >&2; exit 77; }
  exec "$@"' hosts-ns "$@"
