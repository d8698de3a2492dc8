#!/usr/bin/env bash
# The simulator demo: the shipping 32-bit plug-in in the 32-bit host
# simulator under 32-bit Wine (the x64 pair under wine64 where this machine
# cannot run 32-bit programs), with a virtual display. With no argument it runs the demo
# scenario (tests/scenarios/demo.scn); give another scenario file to run that
# one, or "plain" for the host's real-time run with a virtual pendant.
set -euo pipefail
demo=${1:-}
[ -n "$demo" ] && [ "$demo" != plain ] && demo=$(realpath "$demo")
cd "$(dirname "$0")/.."
[ -z "$demo" ] && demo=$PWD/tests/scenarios/demo.scn
# Whether 32-bit programs run here is found by running one.
bits=32
if ! HK4_WINE_BITS=32 bash -c '
    source scripts/wine-env.sh
    hk4_wine_runs build/win32/hk4_win_tests.exe --gtest_list_tests; rc=$?
    scripts/wineserver.sh -k 2>/dev/null; exit $rc'; then
    echo "32-bit Windows programs do not run on this machine: the demo runs the x64 twin"
    bits=64
fi
export HK4_WINE_BITS=$bits
source scripts/wine-env.sh
emu=$(hk4_wine_emulation)
name=x64
[ "$bits" = 32 ] && name=32-bit
echo "demo: the $name build (build/win$bits)${emu:+, run through emulation ($emu)}"
cd build/win$bits
args=(hostsim.exe)
[ "$demo" != plain ] && args+=(--scenario "$demo")
args+=(HalvexK4.dll)
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    source ../../scripts/wine-env.sh; hk4_wine_prefix
    "$HK4_WINE" "$@"; rc=$?
    ../../scripts/wineserver.sh -k 2>/dev/null; exit $rc' demo "${args[@]}"
