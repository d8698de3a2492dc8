#!/usr/bin/env bash
# Runs Wine's server program with the project's prefix.
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
for s in /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver; do
    [ -x "$s" ] && exec "$s" "$@"
done
exit 1
