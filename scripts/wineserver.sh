#!/usr/bin/env bash
# Runs Wine's server program with the project's prefix (see wine-env.sh for
# which one).
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
servers=(/usr/lib/wine/wineserver64 /usr/lib/wine/wineserver /usr/lib/wine/wineserver32)
[ "$HK4_WINE_BITS" = 32 ] && servers=(/usr/lib/wine/wineserver32 /usr/lib/wine/wineserver /usr/lib/wine/wineserver64)
for s in "${servers[@]}"; do
    [ -x "$s" ] && exec "$s" "$@"
done
exit 1
