#!/usr/bin/env bash
# Real-time measurements of the polling tick through the real x64 DLL in the
# host simulator: host-thread time per tick and the age of the decoded
# report, for a silent pendant and pendants reporting on change, every 8 ms
# and every 1 ms. Prints a Markdown table (figures go to docs/measurements.md).
#   bash scripts/bench.sh [SECONDS_PER_RUN]     (default 20)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
bash scripts/setup.sh
cmake --preset win64 >/dev/null
cmake --build --preset win64 >/dev/null
source scripts/wine-env.sh
cd build/win64
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    source ../../scripts/wine-env.sh; hk4_wine_prefix
    "$HK4_WINE" hostsim.exe --bench all --seconds "$1" HalvexK4.dll; rc=$?
    ../../scripts/wineserver.sh -k 2>/dev/null; exit $rc' bench "$seconds"
