# Sourced by the scripts that run Windows programs: one private Wine prefix
# per build (32-bit programs under 32-bit Wine, x64 ones under wine64), quiet
# logs, no installer prompts. HK4_WINE_BITS=32 selects the 32-bit side; the
# default is 64.
HK4_ROOT=${HK4_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
HK4_WINE_BITS=${HK4_WINE_BITS:-64}
if [ "$HK4_WINE_BITS" = 32 ]; then
    export WINEPREFIX=${WINEPREFIX:-$HK4_ROOT/build/wineprefix32}
    export WINEARCH=win32
    HK4_WINE=${HK4_WINE:-/usr/lib/wine/wine}
else
    export WINEPREFIX=${WINEPREFIX:-$HK4_ROOT/build/wineprefix}
    export WINEARCH=win64
    HK4_WINE=${HK4_WINE:-/usr/lib/wine/wine64}
fi
export HK4_WINE_BITS
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree=;mshtml=;winemenubuilder.exe="}

# Creates the prefix once; later calls return at once. A prefix is marked
# ready only when a program has run in it: a first wineboot that failed (a
# machine busy installing packages) leaves a prefix without its system DLLs,
# which is made again once; a second failure is reported in one line.
hk4_wine_prefix() {
    [ -f "$WINEPREFIX/.hk4-ready" ] && return 0
    mkdir -p "$WINEPREFIX"
    (
        flock 9
        [ -f "$WINEPREFIX/.hk4-ready" ] && exit 0
        for try in 1 2; do
            if [ "$try" = 2 ]; then
                # Only a prefix of the project's own is made again.
                case $WINEPREFIX in "$HK4_ROOT"/build/*) ;; *) break ;; esac
                "$HK4_ROOT/scripts/wineserver.sh" -k 2>/dev/null
                "$HK4_ROOT/scripts/wineserver.sh" -w 2>/dev/null
                find "$WINEPREFIX" -mindepth 1 -delete
            fi
            "$HK4_WINE" wineboot.exe --init </dev/null >/dev/null 2>&1
            # Without a window manager Wine waits ~2 s whenever a dialog
            # closes unless its windows are unmanaged.
            "$HK4_WINE" reg.exe add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 &&
                "$HK4_WINE" reg.exe query 'HKCU\Software\Wine\X11 Driver' /v Managed </dev/null 2>/dev/null | grep -q 'Managed.*N' &&
                ok=true || ok=false
            "$HK4_ROOT/scripts/wineserver.sh" -w
            if $ok; then
                touch "$WINEPREFIX/.hk4-ready"
                exit 0
            fi
        done
        echo "the Wine prefix $WINEPREFIX does not work (a program cannot run in it); delete it and try again" >&2
        exit 1
    ) 9>"$WINEPREFIX.lock"
}

# Whether programs of the selected width run through emulation (a binfmt_misc
# handler for i386 ELF files, as scripts/emulate32.sh registers): prints the
# emulator and its version, or nothing where they run natively.
hk4_wine_emulation() {
    [ "$HK4_WINE_BITS" = 32 ] || return 0
    local f interp v
    for f in /proc/sys/fs/binfmt_misc/*; do
        grep -qx enabled "$f" 2>/dev/null || continue
        grep -q '^magic 7f454c46010101[0-9a-f]*02000300$' "$f" || continue
        interp=$(sed -n 's/^interpreter //p' "$f")
        v=$("$interp" --version 2>/dev/null | sed -n '1s/ version \([0-9.]*\).*/ \1/p')
        echo "${v:-the binfmt_misc handler ${f##*/}}"
        return 0
    done
}

# Starts a persistent Wine server and its services with their output detached,
# so that a test runner waiting for a program's output is not kept waiting by
# services that outlive it. Stop them with: scripts/wineserver.sh -k
hk4_wine_services() {
    "$HK4_ROOT/scripts/wineserver.sh" -p >/dev/null 2>&1
    "$HK4_WINE" cmd.exe /c exit </dev/null >/dev/null 2>&1
}

# Whether this machine runs programs of the selected width, found by running
# one: `hk4_wine_runs PROGRAM.exe [ARGS...]` succeeds when the program ran and
# exited 0.
hk4_wine_runs() {
    [ -x "$HK4_WINE" ] || return 1
    hk4_wine_prefix || return 1
    "$HK4_WINE" "$@" </dev/null >/dev/null 2>&1
}

# The prefix for the tests on Wine's own HID stack, with the virtual pendant
# (tools/vpendant) installed: build/wineprefix32-hid (32-bit) or
# build/wineprefix-hid (64-bit), apart from the ordinary test prefixes.
# Select it before sourcing this file: WINEPREFIX=$(hk4_hid_prefix_of BITS).
hk4_hid_prefix_of() {
    if [ "$1" = 32 ]; then echo "$HK4_ROOT/build/wineprefix32-hid"; else echo "$HK4_ROOT/build/wineprefix-hid"; fi
}

# Installs the virtual pendant built in BUILD_DIR/vpendant into $WINEPREFIX
# (once; later calls only bring newer drivers in, which Wine loads when its
# server next starts). Succeeds when the bus's control device answers.
hk4_vpendant_install() {
    local vp=$1/vpendant drivers="$WINEPREFIX/drive_c/windows/system32/drivers" d
    hk4_wine_prefix || return 1
    if [ -f "$WINEPREFIX/.hk4-vpendant" ]; then
        for d in vpbus.sys vphid.sys; do
            if ! cmp -s "$vp/$d" "$drivers/$d"; then
                "$HK4_ROOT/scripts/wineserver.sh" -k 2>/dev/null
                "$HK4_ROOT/scripts/wineserver.sh" -w 2>/dev/null
                cp "$vp/$d" "$drivers/$d" || return 1
            fi
        done
    else
        "$HK4_WINE" "$vp/vpinstall.exe" </dev/null >/dev/null 2>&1 || return 1
        touch "$WINEPREFIX/.hk4-vpendant"
    fi
    "$HK4_WINE" "$vp/vpctl.exe" wait 0 started 10000 </dev/null >/dev/null 2>&1
}
