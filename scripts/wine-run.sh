#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's prefix for its width
# (HK4_WINE_BITS=32 or 64, see wine-env.sh), with a virtual display when none
# is there.
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
hk4_wine_prefix
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$HK4_WINE" "$@"
fi
exec "$HK4_WINE" "$@"
