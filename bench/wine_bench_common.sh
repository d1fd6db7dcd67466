# Pieces shared by the Wine benchmark scripts (sourced): the phone stand-in
# (the native release build's, else the native build's), the check that the
# programs were built, and running a Python bench in a private namespace and a
# prefix copy against the service and monitor of a Windows build.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
phone=$root/build/native-release/tools/phone/ovalix-phone
[ -x "$phone" ] || phone=$root/build/native/tools/phone/ovalix-phone

require_built() {   # bench preset build file...
  local bench=$1 preset=$2 build=$3 f
  shift 3
  for f in "$@" "$build/service/OvalixSvc.exe" "$phone"; do
    [ -e "$f" ] || { echo "$bench: missing $f (build $preset and native-release)" >&2; exit 1; }
  done
}

run_wine_bench() {   # bench build options...
  local bench=$1 build=$2
  shift 2
  bash "$root/scripts/wine-prefix.sh"
  exec "$root/scripts/isolate.sh" sh "$root/tests/wine_private_prefix.sh" \
    python3 "$root/bench/$bench.py" "$@" \
    --svc "$build/service/OvalixSvc.exe" \
    --monitor "$build/tools/monitor/ovalix-monitor.exe" --phone "$phone" \
    --wine-run "$root/scripts/wine-run.sh"
}

# The arguments of every Wine bench, [win32|win64] [--seconds S], and
# --subtypes LIST for a bench that takes it: sets preset, seconds, subtypes
# and build.
wine_bench_args() {   # bench args...
  local bench=$1
  shift
  preset=win32 seconds=20 subtypes=I420,MJPG,RGB24
  while [ $# -gt 0 ]; do
    case "$1" in
      win32|win64) preset=$1; shift ;;
      --seconds) seconds=$2; shift 2 ;;
      --subtypes) [ "$bench" = filter_wine ] || break; subtypes=$2; shift 2 ;;
      *) break ;;
    esac
  done
  if [ $# -gt 0 ]; then
    echo "usage: bash bench/$bench.sh [win32|win64] [--seconds S]$(
      [ "$bench" = filter_wine ] && echo " [--subtypes LIST]")" >&2
    exit 2
  fi
  build=$root/build/$preset
}
