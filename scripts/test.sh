#!/usr/bin/env bash
# Runs every test: the native build (AddressSanitizer + UndefinedBehaviorSanitizer)
# in a private namespace, the Debian package, the fuzz targets for a bounded
# time, and both Windows builds (with the installer) under Wine in a private
# namespace of their own. Where the machine runs 64-bit code only, or with
# OVALIX_WIN32=off, the 32-bit Windows suite is skipped and the 64-bit one
# runs alone.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/setup.sh

echo "== C++ format of the changed files"
bash scripts/check-format.sh

# Asked once, after set-up has installed Wine; the Windows tests that pair the
# two bitnesses ask the same.
if scripts/win32-runs.sh; then
  windows_suites=(win32 win64)
else
  windows_suites=(win64)
  export OVALIX_WIN32=off
fi

bash scripts/build.sh native native-release fuzz win32 win64
# The packages the installed-product tests take apart and install.
cmake --build --preset native-release --target package
cmake --build --preset win32 --target installer
cmake --build --preset win64 --target installer
bash scripts/wine-prefix.sh

echo "== native tests"
scripts/isolate.sh ctest --preset native -j"$(nproc)"

echo "== Debian package"
ctest --test-dir build/native-release --output-on-failure -R "^package_"

echo "== fuzz targets"
bash scripts/fuzz.sh

echo "== Windows tests under Wine"
# Wine's sockets live in its server: start it inside the namespace.
export WINEPREFIX="$root/build/wine"
wineserver -k 2>/dev/null || true
if [ "${#windows_suites[@]}" -eq 1 ]; then
  echo "32-bit Windows tests skipped: this machine runs 64-bit code only"
fi
# The suites in the same prefix, one after the other.
scripts/isolate.sh sh -c '
  rc=0
  for suite in "$@"; do
    echo "== $suite"
    ctest --preset "$suite" -j2 || rc=1
  done
  wineserver -k 2>/dev/null; exit $rc' windows-tests "${windows_suites[@]}"
