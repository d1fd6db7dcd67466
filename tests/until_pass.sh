#!/bin/sh
# Runs a test command up to N times and passes at its first pass. Only for a
# scenario whose set-up cannot be placed exactly from outside: the serial
# phone's race with a TCP phone holds the service still with SIGSTOP, which
# is meant to land between two connection steps but can land inside one, after
# that step has already looked at the serial port; that step then rightly
# serves the TCP phone. A service that did not prefer the cable would fail
# every attempt.
#   until_pass.sh N command [args...]
attempts=$1
shift
n=1
while :; do
  "$@" && exit 0
  [ "$n" -ge "$attempts" ] && exit 1
  echo "== attempt $n failed; again"
  n=$((n + 1))
done
