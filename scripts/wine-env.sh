# Sourced by the scripts that run Windows programs: one private Wine prefix,
# quiet logs, no installer prompts.
HK4_ROOT=${HK4_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
export WINEPREFIX=${WINEPREFIX:-$HK4_ROOT/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree=;mshtml=;winemenubuilder.exe="}
export WINEARCH=win64
HK4_WINE=${HK4_WINE:-/usr/lib/wine/wine64}

# Creates the prefix once; later calls return at once.
hk4_wine_prefix() {
    [ -f "$WINEPREFIX/.hk4-ready" ] && return 0
    mkdir -p "$WINEPREFIX"
    (
        flock 9
        [ -f "$WINEPREFIX/.hk4-ready" ] && exit 0
        "$HK4_WINE" wineboot.exe --init >/dev/null 2>&1
        # Without a window manager Wine waits ~2 s whenever a dialog closes
        # unless its windows are unmanaged.
        "$HK4_WINE" reg.exe add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
        "$HK4_ROOT/scripts/wineserver.sh" -w
        touch "$WINEPREFIX/.hk4-ready"
    ) 9>"$WINEPREFIX.lock"
}

# Starts a persistent Wine server and its services with their output detached,
# so that a test runner waiting for a program's output is not kept waiting by
# services that outlive it. Stop them with: scripts/wineserver.sh -k
hk4_wine_services() {
    "$HK4_ROOT/scripts/wineserver.sh" -p >/dev/null 2>&1
    "$HK4_WINE" cmd.exe /c exit </dev/null >/dev/null 2>&1
}
