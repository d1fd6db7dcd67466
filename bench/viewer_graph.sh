#!/bin/sh
# The viewer's graph timings under Wine (win32 build): format probe and
# build + run until the first sample reaches the video renderer, median of 10.
#   sh bench/viewer_graph.sh     (as root: private namespace and prefix)
root=$(cd "$(dirname "$0")/.." && pwd)
exec "$root/scripts/isolate.sh" sh "$root/tests/viewer/viewer_env.sh" \
  sh "$root/tests/wine_private_prefix.sh" \
  "$root/scripts/wine-run.sh" "${OVALIX_WIN32_DIR:-$root/build/win32}/tests/viewer/viewer_graph_bench.exe"
