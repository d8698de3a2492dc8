#!/usr/bin/env bash
# Builds the plug-in (32-bit, build/win32/HalvexK4.dll) and its 64-bit test
# twin with the host simulator, then runs the simulator demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
for preset in win32 win64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
echo "plug-in: build/win32/HalvexK4.dll"
bash scripts/package.sh
bash scripts/demo.sh
