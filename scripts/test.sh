#!/usr/bin/env bash
# Runs every test: the native build (AddressSanitizer + UndefinedBehaviorSanitizer)
# in a private namespace, the Debian package, the fuzz targets for a bounded
# time, and both Windows builds (with the installer) under Wine in a private
# namespace of their own.
# The 32-bit Windows suite and the cross-bitness test run natively where the
# kernel runs 32-bit code. Where it runs 64-bit code only they run under
# qemu-user (scripts/win32-emulation.sh: a binfmt_misc handler of this run's
# own, in a prefix of their own, removed again at the end), as a selection
# (see below); a case that fails there is run once more on its own, and the
# cases that passed only then are named at the end.
# OVALIX_WIN32=off skips them anywhere; one line says which way 32-bit ran.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/setup.sh

echo "== C++ format of the changed files"
bash scripts/check-format.sh

# Asked once, after set-up has installed Wine; the Windows tests that pair the
# two bitnesses ask the same.
# (Another run's qemu handler may answer for the kernel meanwhile: only
# "natively" takes the native path.)
emulated=
if how=$(scripts/win32-runs.sh --say) && [ "$how" = natively ]; then
  windows_suites=(win32 win64)
elif [ "${OVALIX_WIN32:-}" != off ] && why=$(scripts/win32-emulation.sh possible); then
  emulated=yes
  how="under emulation (qemu-user), since this machine runs 64-bit code only"
  if [ "${OVALIX_WIN32:-}" = emulate ]; then
    how+=": the unit cases, the process cases that can differ by bitness, and the cross-bitness test"
  else
    how+=": the unit cases, one process case for each part that can differ by bitness, and the cross-bitness test; more with OVALIX_WIN32=emulate"
  fi
else
  [ "${OVALIX_WIN32:-}" = off ] || how="not at all: ${how#not at all: }; and under qemu-user: $why"
  windows_suites=(win64)
  export OVALIX_WIN32=off
fi
win32_line="32-bit Windows tests: $how"

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
echo "$win32_line"
# Wine's sockets live in its server: start it inside the namespace.
export WINEPREFIX="$root/build/wine"
wineserver -k 2>/dev/null || true
# The suites in the same prefix, one after the other, in a private namespace:
# arguments N SUITE... [ARGS...], where ARGS go to the last suite's ctest.
run_suites='
  rc=0 n=$1
  shift
  while [ $n -gt 1 ]; do
    echo "== $1"
    ctest --preset "$1" -j2 || rc=1
    shift
    n=$((n - 1))
  done
  echo "== $*"
  ctest --preset "$@" -j2 || rc=1
  wineserver -k 2>/dev/null; exit $rc'
rc=0
if [ -z "$emulated" ]; then
  scripts/isolate.sh sh -c "$run_suites" windows-tests \
    "${#windows_suites[@]}" "${windows_suites[@]}" || rc=1
else
  # While qemu-i386 is registered: the prefix for 32-bit programs (made
  # then, so that its syswow64 holds the 32-bit system; kept for later runs),
  # the 32-bit selection and the cross-bitness test. The rest of the 64-bit
  # suite runs after, without the handler, in the usual prefix.
  #
  # Under qemu-user CPU-bound work runs about fifteen times slower, and the
  # whole 32-bit suite takes over 20 minutes here. So it runs every unit case
  # (the names that start with a capital) and one process case for each part
  # whose behaviour can differ by bitness: the service host and manager with
  # the stored table, a link over a socket, DNS-SD, the filter in a graph with
  # its pixels, the media source through the source reader, the viewer.
  # OVALIX_WIN32=emulate runs the other process cases too (the installer,
  # three minutes there, among them), but for the timing and recovery paths
  # of the link and the consumers, whose code is the same at both bitnesses
  # and which the 64-bit suite runs in full.
  emulated_cases='^([A-Z].*|service_process_wine|link_process\.stream|discovery_end_to_end|filter_process\.pixels|vcam_process\.formats|viewer_shell)$'
  emulated_left_out='link_process\.(ring_full|renegotiate|timeout_streaming|peer_close|alive_only|hostile_bytes|hostile_state|hung_reader|two_readers|reader_survives_restart|on_arrival)'
  emulated_left_out+='|filter_process\.(placeholder|restart|two_readers|corrupt)'
  emulated_left_out+='|vcam_process\.(renegotiate|placeholder|restart|shutdown|two_readers)'
  emulated_left_out+='|web_bridge_process\.(tls_and_pairing|one_phone|hostile|renew|service_gone)'
  emulated_left_out+='|serial_link_wine_(beats-tcp|vanish)'
  [ "${OVALIX_WIN32:-}" = emulate ] && emulated_cases=.
  # And the cases that fail under qemu-user only, each with its reason.
  emulated_left_out+="|$(grep -v '^#' tests/needs_32bit_kernel.txt | awk '{print $1}' | paste -sd'|')"
  # 32-bit Wine under qemu-user still breaks now and then in ways of its own
  # (tests/needs_32bit_kernel.txt says how), in any case: what fails there
  # runs once more, one case at a time, and what passes only then is named.
  run_emulated='
    started=build/$1/emulated-run-started
    touch "$started"
    ctest --preset "$@" -j2
    rc=$?
    failed=build/$1/Testing/Temporary/LastTestsFailed.log
    if [ $rc -ne 0 ]; then
      if [ "$failed" -nt "$started" ]; then
        names=$(cut -d: -f2 "$failed" | paste -sd" ")
        echo "== again, one at a time (32-bit Wine under qemu-user): $names"
        ctest --preset "$1" --rerun-failed --output-on-failure && rc=0
      else
        # No case ran: listing the cases of a test program failed.
        names="the listing of the cases"
        echo "== again (32-bit Wine under qemu-user): $names"
        ctest --preset "$@" -j2 && rc=0
      fi
      [ $rc -eq 0 ] && echo "$names" >>"$OVALIX_RETRIED"
    fi
    wineserver -k 2>/dev/null; exit $rc'
  export OVALIX_RETRIED=$root/build/win32-retried.txt
  rm -f "$OVALIX_RETRIED"
  emulated_prefix=$root/build/wine-qemu-i386
  OVALIX_WINEPREFIX=$emulated_prefix WINEPREFIX=$emulated_prefix \
    scripts/win32-emulation.sh run sh -c '
      bash scripts/wine-prefix.sh || exit 1
      rc=0
      echo "== win32 (under qemu-user)"
      scripts/isolate.sh sh -c "$1" emulated win32 -R "$2" -E "^($3)\$" || rc=1
      echo "== cross_bitness_wine (under qemu-user)"
      scripts/isolate.sh sh -c "$1" emulated win64 -R "^cross_bitness_wine\$" || rc=1
      exit $rc' emulated "$run_emulated" "$emulated_cases" "$emulated_left_out" || rc=1
  if [ -s "$OVALIX_RETRIED" ]; then
    win32_line+="; passed only when run again on their own: $(paste -sd' ' "$OVALIX_RETRIED")"
  fi
  scripts/isolate.sh sh -c "$run_suites" windows-tests 1 win64 -E '^cross_bitness_wine$' || rc=1
fi
echo "$win32_line"
exit $rc
