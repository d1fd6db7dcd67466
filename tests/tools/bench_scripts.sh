#!/bin/sh
# The benchmarks are run by hand, so nothing else notices when a move of the
# tests' rigs leaves one pointing at a path that is gone: every Python
# benchmark must find its modules (its --help runs after its imports), and
# every script of the tree a shell benchmark names must exist.
root=$(cd "$(dirname "$0")/../.." && pwd)
errors=$(mktemp) || exit 1
trap 'rm -f "$errors"' EXIT
failures=0
for script in "$root"/bench/*.py; do
  if ! python3 "$script" --help >/dev/null 2>"$errors"; then
    echo "FAIL: $script does not load:"; cat "$errors"
    failures=$((failures + 1))
  fi
done
for path in $(grep -ho '\$root/\(bench\|scripts\|tests\)/[A-Za-z0-9_./-]*\.\(sh\|py\)' "$root"/bench/*.sh | sort -u); do
  if [ ! -f "$root/${path#\$root/}" ]; then
    echo "FAIL: a benchmark names $path, which does not exist"
    failures=$((failures + 1))
  fi
done
[ "$failures" -eq 0 ] && echo "every benchmark finds what it runs"
exit "$failures"
