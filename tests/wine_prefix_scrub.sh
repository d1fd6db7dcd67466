#!/bin/sh
# wine_prefix_scrub.sh [PREFIX]
# Removes from a Wine prefix's registry what the programs under test leave in
# it: the service's registration (installed to start automatically, it would
# start with the prefix's next session and hold port 5055 and the named block),
# the stored format table, and the phone ports the tests register (under
# PORTS\PHONE; the server may have saved one while a test had it registered).
# Edits the registry file, so the prefix's server is ended first.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
prefix=${1:-${OVALIX_WINEPREFIX:-$root/build/wine}}
[ -f "$prefix/system.reg" ] || exit 0
WINEPREFIX=$prefix wineserver -k 2>/dev/null
WINEPREFIX=$prefix wineserver -w 2>/dev/null
awk '
  /^\[/ {
    key = tolower($0)
    skip = key ~ /^\[system\\\\(currentcontrolset|controlset[0-9]+)\\\\services\\\\ovalixsvc(\\\\|\])/ ||
           key ~ /^\[system\\\\(currentcontrolset|controlset[0-9]+)\\\\enum\\\\ports\\\\phone(\\\\|\])/ ||
           key ~ /^\[software\\\\(wow6432node\\\\)?ovalix(\\\\|\])/
  }
  !skip' "$prefix/system.reg" >"$prefix/system.reg.scrub" &&
  mv "$prefix/system.reg.scrub" "$prefix/system.reg"
