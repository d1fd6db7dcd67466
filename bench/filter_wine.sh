#!/usr/bin/env bash
# Capture filter figures under Wine (see filter_wine.py), for the 32-bit or
# the 64-bit filter with the service of the same build; the phone stand-in is
# the native release build's. Runs in a private namespace and a prefix copy.
#
#   bash bench/filter_wine.sh [win32|win64] [--seconds S] [--subtypes I420,MJPG,RGB24]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
preset=win32
seconds=20
subtypes=I420,MJPG,RGB24
while [ $# -gt 0 ]; do
  case "$1" in
    win32|win64) preset=$1; shift ;;
    --seconds) seconds=$2; shift 2 ;;
    --subtypes) subtypes=$2; shift 2 ;;
    *) echo "usage: bash bench/filter_wine.sh [win32|win64] [--seconds S] [--subtypes LIST]" >&2; exit 2 ;;
  esac
done
build=$root/build/$preset
phone=$root/build/native-release/tools/phone/ovalix-phone
[ -x "$phone" ] || phone=$root/build/native/tools/phone/ovalix-phone
for f in "$build/filter/ovalix_filter.dll" "$build/tools/snap/ovalix-snap.exe" \
         "$build/service/OvalixSvc.exe" "$phone"; do
  [ -e "$f" ] || { echo "filter_wine: missing $f (build $preset and native-release)" >&2; exit 1; }
done
bash "$root/scripts/wine-prefix.sh"
exec "$root/scripts/isolate.sh" sh "$root/tests/wine_private_prefix.sh" \
  python3 "$root/bench/filter_wine.py" --seconds "$seconds" --subtypes "$subtypes" \
  --filter "$build/filter/ovalix_filter.dll" --snap "$build/tools/snap/ovalix-snap.exe" \
  --svc "$build/service/OvalixSvc.exe" \
  --monitor "$build/tools/monitor/ovalix-monitor.exe" --phone "$phone" \
  --wine-run "$root/scripts/wine-run.sh"
