#!/usr/bin/env bash
# Runs every test: the core's unit tests (sanitizers), the static checks of the
# 32-bit plug-in, and the Windows tests and scenarios of the 64-bit twin under
# Wine. Exits non-zero when any test fails.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh || exit 1
log=$(mktemp)
status=0

run() {  # run NAME COMMAND...
    echo "== $1"
    shift
    "$@" 2>&1 | tee -a "$log"
    local rc=${PIPESTATUS[0]}
    [ "$rc" -eq 0 ] || status=1
    return "$rc"
}

for preset in native win32 win64; do
    cmake --preset "$preset" >/dev/null || { status=1; continue; }
    run "build $preset" cmake --build --preset "$preset" || continue
    case $preset in
        win64)
            export WINEPREFIX=$PWD/build/wineprefix
            run "tests $preset" xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
                source scripts/wine-env.sh; hk4_wine_prefix
                hk4_wine_services
                ctest --preset win64; rc=$?
                scripts/wineserver.sh -k 2>/dev/null; exit $rc'
            ;;
        *) run "tests $preset" ctest --preset "$preset" ;;
    esac
done

# The release, built twice in two other folders, comes out byte for byte the same.
run "reproducible release" bash scripts/check-reproducible.sh

read -r passed failed < <(grep -oE '[0-9]+ tests failed out of [0-9]+' "$log" |
    awk '{ f += $1; t += $6 } END { print t - f, f + 0 }')
rm -f "$log"
[ "$failed" -eq 0 ] || status=1
echo "all: $passed passed, $failed failed"
exit $status
