#!/usr/bin/env bash
# Photographs the configuration dialog of the x64 plug-in under Xvfb, as a
# first Config shows it, into docs/images/config-dialog.png (or $1).
# Needs what scripts/setup.sh installs (Wine, Wine's fonts, Xvfb, ImageMagick).
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs/images/config-dialog.png}")
mkdir -p "$(dirname "$out")"
cmake --preset win64 >/dev/null
cmake --build --preset win64 >/dev/null
export WINEPREFIX=$PWD/build/wineprefix
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    set -euo pipefail
    source scripts/wine-env.sh; hk4_wine_prefix; hk4_wine_services
    cd build/win64
    rm -f shot-rect.txt shot-done
    HK4_SHOT_RECT=shot-rect.txt HK4_SHOT_DONE=shot-done "$HK4_WINE" hk4_win_tests.exe \
        --gtest_also_run_disabled_tests --gtest_filter="DISABLED_ConfigDialogScreenshot.*" \
        >shot-log.txt 2>&1 &
    program=$!
    for _ in $(seq 150); do [ -s shot-rect.txt ] && break; sleep 0.2; done
    status=0
    if read -r x y w h <shot-rect.txt 2>/dev/null; then
        import -window root -crop "${w}x${h}+${x}+${y}" +repage "$1"
        echo "$1: ${w}x${h}"
    else
        echo "the dialog did not appear; see build/win64/shot-log.txt" >&2
        status=1
    fi
    touch shot-done
    wait "$program" || status=1
    rm -f shot-rect.txt shot-done
    "$HK4_ROOT/scripts/wineserver.sh" -k 2>/dev/null || true
    exit $status' shot "$out"
