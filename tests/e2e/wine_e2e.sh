#!/usr/bin/env bash
# Runs the end-to-end tests against the Windows bridge under Wine.
# usage: wine_e2e.sh E2E_TESTS SORVANITE_EXE WINE_PREFIX [DOCTOR_EXE [CECP2_EXE [UCI_EXE]]]
set -euo pipefail
tests=$1 exe=$2 prefix=$3 doctor=${4:-} cecp2=${5:-} uci=${6:-}

if [ ! -f "$exe" ]; then
    echo "wine_e2e: $exe is missing; build it first: cmake --workflow --preset windows" >&2
    exit 1
fi
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)

export WINEPREFIX=$prefix WINEDEBUG=-all
# mountmgr.sys off: otherwise Wine points COM1 back at the host's /dev/ttyS0
# every time its server starts, and the tests would talk to a real port.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;mountmgr.sys=d"
if [ ! -f "$prefix/system.reg" ]; then
    mkdir -p "$prefix"
    wineboot -i >/dev/null 2>&1 </dev/null
fi
# The server that set the prefix up saves it as it leaves; let it go first.
wineserver -w
rm -f "$prefix"/dosdevices/com*

# One server for all runs, so each bridge starts in a fraction of a second;
# its output goes nowhere so no test inherits its pipes.
wineserver -p >/dev/null 2>&1 </dev/null
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

SORVANITE_E2E_WINE_BRIDGE=$exe SORVANITE_E2E_WINE_DOCTOR=$doctor SORVANITE_E2E_WINE_CECP2=$cecp2 SORVANITE_E2E_WINE_UCI=$uci SORVANITE_E2E_WINE=$wine "$tests" --gtest_filter='-EmulatorErrors.*'
