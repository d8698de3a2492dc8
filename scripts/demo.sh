#!/usr/bin/env bash
# The simulator demo: the 64-bit twin of the plug-in in the host simulator,
# under Wine with a virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh
demo=${1:-}
cd build/win64
args=(hostsim.exe)
[ -n "$demo" ] && args+=(--scenario "$demo")
args+=(HalvexK4.dll)
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    source ../../scripts/wine-env.sh; hk4_wine_prefix
    "$HK4_WINE" "$@"; rc=$?
    ../../scripts/wineserver.sh -k 2>/dev/null; exit $rc' demo "${args[@]}"
