#!/bin/sh
# Runs a Windows program under Wine with the build tree's own prefix
# (never the user's ~/.wine). OVALIX_WINEPREFIX overrides the default.
: "${OVALIX_WINEPREFIX:=$(cd "$(dirname "$0")/.." && pwd)/build/wine}"
export WINEPREFIX="$OVALIX_WINEPREFIX"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
exec wine "$@"
