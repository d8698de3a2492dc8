#!/usr/bin/env bash
# Real-time measurements of the polling tick through the real DLL in the
# host simulator, for the shipping 32-bit build (under 32-bit Wine) with the
# x64 twin's row beside each of its rows: host-thread time per tick and the
# age of the decoded report, for each kind of pendant the simulator's bench
# knows. Prints a Markdown table (figures go to docs/measurements.md).
#   bash scripts/bench.sh [SECONDS_PER_RUN]     (default 20)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
bash scripts/setup.sh
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for preset in win32 win64; do
    cmake --preset $preset >/dev/null
    cmake --build --preset $preset >/dev/null
    bits=32
    [ $preset = win64 ] && bits=64
    (
        cd build/$preset
        HK4_WINE_BITS=$bits xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
            unset WINEPREFIX HK4_WINE
            source ../../scripts/wine-env.sh; hk4_wine_prefix
            "$HK4_WINE" hostsim.exe --bench all --seconds "$1" HalvexK4.dll; rc=$?
            ../../scripts/wineserver.sh -k 2>/dev/null; exit $rc' bench "$seconds"
    ) >"$out/$preset"
done
# One table: a build column in front, each 32-bit row followed by the x64
# row of the same pendant.
python3 - "$out/win32" "$out/win64" <<'PY'
import sys
a, b = (open(p).read().splitlines() for p in sys.argv[1:3])
a = [l for l in a if l.startswith("|")]
b = [l for l in b if l.startswith("|")]
print("| build " + a[0])
print("|---" + a[1])
for ra, rb in zip(a[2:], b[2:]):
    print("| 32-bit (ships) " + ra)
    print("| x64 twin " + rb)
PY
