#!/usr/bin/env bash
# The simulator demo: the 64-bit twin of the plug-in in the host simulator,
# under Wine with a virtual display. With no argument it runs the demo
# scenario (tests/scenarios/demo.scn); give another scenario file to run that
# one, or "plain" for the host's real-time run with a virtual pendant.
set -euo pipefail
demo=${1:-}
[ -n "$demo" ] && [ "$demo" != plain ] && demo=$(realpath "$demo")
cd "$(dirname "$0")/.."
[ -z "$demo" ] && demo=$PWD/tests/scenarios/demo.scn
source scripts/wine-env.sh
cd build/win64
args=(hostsim.exe)
[ "$demo" != plain ] && args+=(--scenario "$demo")
args+=(HalvexK4.dll)
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    source ../../scripts/wine-env.sh; hk4_wine_prefix
    "$HK4_WINE" "$@"; rc=$?
    ../../scripts/wineserver.sh -k 2>/dev/null; exit $rc' demo "${args[@]}"
