#!/bin/sh
# Exits 0 where 32-bit Windows programs can run under Wine here, 1 where not:
# on a machine whose kernel runs 64-bit code only, Wine's 32-bit loader (an
# i386 program itself) cannot start. OVALIX_WIN32=off answers 1 on any
# machine, to try the 64-bit-only path.
[ "${OVALIX_WIN32:-}" != off ] && /usr/lib/wine/wine --version >/dev/null 2>&1
