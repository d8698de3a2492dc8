#!/usr/bin/env bash
# Real-time measurements of the polling tick through the real DLL in the
# host simulator, for the shipping 32-bit build (under 32-bit Wine) with the
# x64 twin's row beside each of its rows: host-thread time per tick and the
# age of the decoded report, for each kind of pendant the simulator's bench
# knows. Prints a Markdown table (figures go to docs/measurements.md). Then
# a row per build on Wine's own HID stack: the tick's time with the class
# driver behind it, the virtual pendant (tools/vpendant) reporting every 8 ms
# with the wheel turning, in the prefix of the real-stack tests. Last, a
# second table: the configuration dialog's save on host profiles of 10 KB,
# 1 MB and 5 MB, each build.
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
    (
        cd build/$preset
        HK4_WINE_BITS=$bits xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
            unset WINEPREFIX HK4_WINE
            source ../../scripts/wine-env.sh; hk4_wine_prefix
            "$HK4_WINE" hostsim.exe --bench save HalvexK4.dll; rc=$?
            ../../scripts/wineserver.sh -k 2>/dev/null; exit $rc'
    ) >"$out/$preset-save"
    (
        cd build/$preset
        HK4_WINE_BITS=$bits xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
            unset HK4_WINE
            source ../../scripts/wine-env.sh
            export WINEPREFIX=$(hk4_hid_prefix_of "$HK4_WINE_BITS")
            if ! hk4_vpendant_install .; then
                echo "the virtual pendant cannot be installed in $WINEPREFIX: no real-stack row" >&2
                exit 0
            fi
            "$HK4_WINE" vpendant/vpctl.exe reset ";" sleep 1000 ";" \
                spin 0 8000 $(( ($1 + 2) * 125 )) 1 00000101000000 </dev/null >/dev/null &
            "$HK4_WINE" hostsim.exe --bench real --seconds "$1" HalvexK4.dll; rc=$?
            wait
            ../../scripts/wineserver.sh -k 2>/dev/null; exit $rc' bench "$seconds"
    ) >"$out/$preset-real"
done
# Under emulation the 32-bit rows measure the emulator, not the plug-in's
# cost on Windows: their label says so.
label32="32-bit (ships)"
emu=$(HK4_WINE_BITS=32 bash -c 'source scripts/wine-env.sh; hk4_wine_emulation')
if [ -n "$emu" ]; then
    label32="32-bit under $emu emulation (not its cost on Windows)"
    echo "bench: the 32-bit build ran through emulation ($emu): its times are the emulator's, not the shipped DLL's cost on Windows" >&2
fi
# One table: a build column in front, each 32-bit row followed by the x64
# row of the same pendant.
python3 - "$out/win32" "$out/win64" "$out/win32-real" "$out/win64-real" \
    "$out/win32-save" "$out/win64-save" "$label32" <<'PY'
import sys
a, b = (open(p).read().splitlines() for p in sys.argv[1:3])
a = [l for l in a if l.startswith("|")]
b = [l for l in b if l.startswith("|")]
print("| build " + a[0])
print("|---" + a[1])
for ra, rb in zip(a[2:], b[2:]):
    print("| %s " % sys.argv[7] + ra)
    print("| x64 twin " + rb)
# The real-stack rows: ticks, median, p99 of the tick; the rest is the
# simulator's to know.
for label, path in ((sys.argv[7], sys.argv[3]), ("x64 twin", sys.argv[4])):
    rows = [l for l in open(path).read().splitlines() if l.startswith("| ") and "ms" in l]
    for r in rows:
        ticks, median, p99 = [c.strip() for c in r.strip("|").split("|")]
        print("| %s | Wine's HID stack, virtual pendant every 8 ms | %s | %s | %s | - | - | - | - | - | - | - | - | - | - |"
              % (label, ticks, median, p99))
# The dialog's save: each 32-bit row followed by the x64 row of the same size.
a, b = ([l for l in open(p).read().splitlines() if l.startswith("|")] for p in sys.argv[5:7])
print()
print("| build " + a[0])
print("|---" + a[1])
for ra, rb in zip(a[2:], b[2:]):
    print("| %s " % sys.argv[7] + ra)
    print("| x64 twin " + rb)
PY
