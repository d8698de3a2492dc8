#!/usr/bin/env bash
# Runs every test: the core's unit tests (sanitizers); the static checks of
# the shipping 32-bit plug-in; the Windows tests and scenarios against both
# builds, the 32-bit DLL with the 32-bit simulator under 32-bit Wine and the
# x64 twin under wine64, each in its own prefix; the same pairs on Wine's own
# HID stack with the virtual pendant (tools/vpendant) installed in a prefix
# of their own; and the comparison of the
# two builds' host-callback traces of the same random sessions; and a
# release built twice comes out the same. Exits
# non-zero when any test fails. Where this machine cannot run 32-bit Windows
# programs, their tests count as skipped, never as passed.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh || exit 1
log=$(mktemp)
status=0
skipped=0
ran32=false
compared_ok=0 compared_failed=0

run() {  # run NAME COMMAND...
    echo "== $1"
    shift
    "$@" 2>&1 | tee -a "$log"
    local rc=${PIPESTATUS[0]}
    [ "$rc" -eq 0 ] || status=1
    return "$rc"
}

# ctest for a Windows preset under Wine of its width, in its own prefix, with
# a virtual display: wine_ctest BITS PRESET [CTEST ARGS...]
wine_ctest() {
    local bits=$1 preset=$2
    shift 2
    HK4_WINE_BITS=$bits xvfb-run -a -n $((bits * 10)) -s "-screen 0 1024x768x24" bash -c '
        unset WINEPREFIX HK4_WINE
        source scripts/wine-env.sh; hk4_wine_prefix || exit 1
        hk4_wine_services
        ctest --preset "$1" "${@:2}"; rc=$?
        scripts/wineserver.sh -k 2>/dev/null; exit $rc' ctest "$preset" "$@"
}

# The real-stack tests of a Windows preset (ctest label realstack), in the
# prefix with the virtual pendant, installed first. Where it cannot be
# installed one line says so, and the tests skip (exit 77), never pass:
# realstack_ctest BITS PRESET
realstack_ctest() {
    local bits=$1 preset=$2
    HK4_WINE_BITS=$bits xvfb-run -a -n $((bits * 10 + 1)) -s "-screen 0 1024x768x24" bash -c '
        unset HK4_WINE
        source scripts/wine-env.sh
        export WINEPREFIX=$(hk4_hid_prefix_of "$HK4_WINE_BITS")
        start=$(date +%s)
        if ! hk4_vpendant_install "build/$1"; then
            n=$(ctest --preset "$1" -N -L realstack | sed -n "s/^Total Tests: //p")
            echo "the virtual pendant cannot be installed in $WINEPREFIX: ${n:-0} real-stack tests of the $HK4_WINE_BITS-bit build skipped"
        fi
        ctest --preset "$1" -L realstack; rc=$?
        scripts/wineserver.sh -k 2>/dev/null
        echo "real-stack tests of the $HK4_WINE_BITS-bit build: $(( $(date +%s) - start )) s"
        exit $rc' ctest "$preset"
}

# Whether 32-bit Windows programs run here: try one (the Windows test
# program listing its tests).
runs32() {
    HK4_WINE_BITS=32 bash -c '
        unset WINEPREFIX HK4_WINE
        source scripts/wine-env.sh
        hk4_wine_runs build/win32/hk4_win_tests.exe --gtest_list_tests; rc=$?
        scripts/wineserver.sh -k 2>/dev/null; exit $rc'
}

rm -f build/win32/records/*.rec build/win64/records/*.rec
built=" "
for preset in native win32 win64; do
    cmake --preset "$preset" >/dev/null || { status=1; continue; }
    run "build $preset" cmake --build --preset "$preset" && built+="$preset "
done
built() { [[ $built == *" $1 "* ]]; }

# The 32-bit side runs in the background beside the native and x64 tests: it
# is the longer one (through emulation 2-5 times slower), and the two share
# the machine's cores. Its output is shown whole once it has ended.
pid32=""
out32=$(mktemp)
if built win32; then
    if runs32; then
        ran32=true
        emu=$(HK4_WINE_BITS=32 bash -c 'source scripts/wine-env.sh; hk4_wine_emulation')
        [ -z "$emu" ] || echo "32-bit Windows programs run on this machine through emulation ($emu)"
        (
            log=$out32.log
            # Two at a time: the x64 side ends first, and the 32-bit one
            # would otherwise leave a core idle until its own end.
            run "tests win32" wine_ctest 32 win32 -LE realstack -j2
            run "real-stack tests win32" realstack_ctest 32 win32
            exit $status
        ) >"$out32" 2>&1 &
        pid32=$!
    else
        n=$(ctest --preset win32 -N -L 'wine|realstack' | sed -n 's/^Total Tests: //p')
        echo "32-bit Windows programs do not run on this machine: ${n:-0} tests of the 32-bit build and the cross-build comparison skipped"
        skipped=$((skipped + ${n:-0} + 1))
        run "tests win32" ctest --preset win32 -LE 'wine|realstack'
    fi
fi
built native && run "tests native" ctest --preset native
if built win64; then
    run "tests win64" wine_ctest 64 win64 -LE realstack
    run "real-stack tests win64" realstack_ctest 64 win64
fi
if [ -n "$pid32" ]; then
    wait "$pid32" || status=1
    cat "$out32"
    cat "$out32.log" >>"$log"
fi
rm -f "$out32" "$out32.log"

# The same seeded sessions through both builds: identical host callbacks.
if $ran32; then
    echo "== cross-build trace comparison"
    if python3 scripts/compare-records.py build/win32/records build/win64/records; then
        compared_ok=1
    else
        compared_failed=1
        status=1
    fi
fi

# The release, built twice in two other folders, comes out byte for byte the same.
run "reproducible release" bash scripts/check-reproducible.sh

read -r total failed < <(grep -oE '[0-9]+ tests failed out of [0-9]+' "$log" |
    awk '{ f += $1; t += $6 } END { print t + 0, f + 0 }')
# Tests ctest skipped (exit 77) ran as far as they could, but did not pass.
ctest_skipped=$(grep -cE '^[[:space:]]*[0-9]+ - .*\(Skipped\)$' "$log")
rm -f "$log"
[ "$failed" -eq 0 ] || status=1
passed=$((total - failed - ctest_skipped + compared_ok))
failed=$((failed + compared_failed))
skipped=$((skipped + ctest_skipped))
summary="all: $passed passed, $failed failed"
[ "$skipped" -eq 0 ] || summary+=", $skipped skipped"
echo "$summary"
exit $status
