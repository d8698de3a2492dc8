#!/usr/bin/env bash
# Redraws the pictures that are generated from the project's own code and
# committed: the sensitivity figure of the user guide and the dialog's bitmaps.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native --target sensitivity_curve
build/native/sensitivity_curve | /usr/bin/python3 tools/figures/plot_sensitivity.py docs/images/sensitivity.png
/usr/bin/python3 tools/art/make_bitmaps.py
echo "redrawn: docs/images/sensitivity.png, src/settings/*.bmp"
