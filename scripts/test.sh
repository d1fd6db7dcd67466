#!/usr/bin/env bash
# Runs every test: the native build (AddressSanitizer + UndefinedBehaviorSanitizer)
# in a private namespace, the Debian package, the fuzz targets for a bounded
# time, and the Windows build (with its installer) under Wine in a private
# namespace of its own.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/setup.sh
bash scripts/build.sh native native-release fuzz win32 win64
# The packages the installed-product tests take apart and install.
cmake --build --preset native-release --target package
cmake --build --preset win32 --target installer
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
# Both bitnesses in the same prefix, one after the other (the 64-bit filter
# tests use the 32-bit service).
scripts/isolate.sh sh -c '
  ctest --preset win32 -j2; rc=$?
  ctest --preset win64 -j2 || rc=1
  wineserver -k 2>/dev/null; exit $rc'
