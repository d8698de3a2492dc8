#!/usr/bin/env bash
# Makes 32-bit x86 programs (32-bit Wine, so the shipping plug-in and its
# tests) run on a machine whose kernel refuses them, through user-mode
# emulation: a static qemu-i386 of version 10 or later, registered in
# binfmt_misc for i386 ELF files. Run by setup.sh on every run; quiet and
# quick when 32-bit programs already run (natively, or through a handler that
# is in place). A registration does not survive a reboot, so it is checked
# every time and made again when it is gone.
#
# Earlier qemu releases (7.2, Debian 12's own) start 32-bit Wine but crash
# inside it, so only 10 or later is used. Nothing is installed as a package:
# the qemu-i386 binary is unpacked from Debian's qemu-user package, fetched
# with a private package list (the machine's sources and apt state stay as
# they are), into a folder of the project's own, so that a qemu the user
# installed is never replaced. Where it cannot be done (not root, no
# binfmt_misc, the package cannot be had) one line says why and the script
# still succeeds: the 32-bit tests then count as skipped, never as passed.
set -uo pipefail
say() { echo "setup: $*"; }

BINFMT=${HK4_BINFMT_DIR:-/proc/sys/fs/binfmt_misc}
DEST=${HK4_QEMU_DIR:-/usr/local/libexec/halvexk4}
NAME=hk4-i386
MIN_MAJOR=10
# Debian's own magic and mask for i386 ELF executables and shared objects.
MAGIC='\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
MASK='\xff\xff\xff\xff\xff\xfe\xfe\xfc\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The smallest i386 Linux program: exit(0) through int 0x80. Whether it runs
# is the question; kernel settings are not read.
probe=$work/exit0-i386
printf '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"
chmod +x "$probe"
runs32() { "$probe" >/dev/null 2>&1; }

# qemu_major FILE: the major version a qemu binary reports, or nothing.
qemu_major() { "$1" --version 2>/dev/null | sed -n '1s/.*version \([0-9]*\)\..*/\1/p'; }
qemu_version() { "$1" --version 2>/dev/null | sed -n '1s/.*version \([0-9.]*\).*/\1/p'; }

# The enabled binfmt_misc handlers for i386 ELF files, one interpreter a line
# as "NAME INTERPRETER".
i386_handlers() {
    local f
    for f in "$BINFMT"/*; do
        case ${f##*/} in register | status) continue ;; esac
        [ -f "$f" ] || continue
        grep -qx enabled "$f" || continue
        grep -q '^magic 7f454c46010101[0-9a-f]*02000300$' "$f" || continue
        echo "${f##*/} $(sed -n 's/^interpreter //p' "$f")"
    done
}

if runs32; then
    # Natively, or through a handler already registered: nothing to do, unless
    # that handler is a qemu too old to run Wine.
    old=""
    while read -r name interp; do
        major=$(qemu_major "$interp")
        if [ -n "$major" ] && [ "$major" -lt $MIN_MAJOR ]; then old="$name ($interp, qemu $major)"; fi
        if [ -n "$major" ] && [ "$major" -ge $MIN_MAJOR ]; then old=""; break; fi
    done < <(i386_handlers 2>/dev/null)
    [ -z "$old" ] && exit 0
    say "32-bit programs run here through the handler $old, which crashes 32-bit Wine; a qemu-i386 $MIN_MAJOR is registered in front of it (it stays registered)"
fi

# From here on this machine needs the emulator.
if [ "$(id -u)" -ne 0 ]; then
    say "32-bit programs do not run here, and registering an emulator for them needs root: the 32-bit tests will be skipped (run 'sudo bash scripts/setup.sh' once after each reboot)"
    exit 0
fi
if [ ! -e "$BINFMT/register" ]; then
    mount -t binfmt_misc binfmt_misc "$BINFMT" >/dev/null 2>&1
    if [ ! -e "$BINFMT/register" ]; then
        say "32-bit programs do not run here and binfmt_misc cannot be mounted at $BINFMT: the 32-bit tests will be skipped"
        exit 0
    fi
fi
if [ "$(cat "$BINFMT/status" 2>/dev/null)" != enabled ]; then
    say "32-bit programs do not run here and binfmt_misc is switched off ($BINFMT/status): the 32-bit tests will be skipped"
    exit 0
fi

# A qemu-i386 of the right version: ours from an earlier run, else the one the
# user installed, else unpacked from Debian's package.
qemu=""
for candidate in "$DEST/qemu-i386" /usr/bin/qemu-i386-static /usr/bin/qemu-i386; do
    [ -x "$candidate" ] || continue
    file -L "$candidate" 2>/dev/null | grep -q 'static' || continue
    major=$(qemu_major "$candidate")
    if [ -n "$major" ] && [ "$major" -ge $MIN_MAJOR ]; then
        qemu=$candidate
        break
    fi
done

fetch_qemu() {
    # The mirror this machine takes its own suite from, and its codename.
    local codename site list=$work/sources.list lists=$work/lists cache=$work/cache best="" v suite
    codename=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
    site=$(apt-get indextargets --format '$(SITE) $(RELEASE)' 'Identifier: Packages' 2>/dev/null |
        awk -v c="$codename" '$2 == c { print $1; exit }')
    if [ -z "$codename" ] || [ -z "$site" ]; then
        say "no Debian mirror for this machine's release found in its package lists, so no qemu-i386 $MIN_MAJOR can be had: the 32-bit tests will be skipped"
        return 1
    fi
    mkdir -p "$lists/partial" "$cache/archives/partial"
    printf 'deb [arch=amd64] %s %s main\n' "$site" "$codename" "$site" "$codename-backports" >"$list"
    local apt=(-o Dir::Etc::SourceList="$list" -o Dir::Etc::SourceParts=/nonexistent
        -o Dir::State::Lists="$lists" -o Dir::Cache="$cache" -o Dir::State::status=/dev/null
        -o APT::Architectures::=amd64 -o Debug::NoLocking=1 -o APT::Sandbox::User=root -qq)
    apt-get "${apt[@]}" update >"$work/update.log" 2>&1
    # The newest version on offer, from the release or its backports.
    while IFS='|' read -r _ v suite; do
        v=$(echo "$v" | tr -d ' ')
        [ -z "$best" ] || dpkg --compare-versions "$v" gt "$best" || continue
        best=$v
    done < <(apt-cache "${apt[@]}" madison qemu-user 2>/dev/null)
    local upstream=${best#*:}
    if [ -z "$best" ] || [ "${upstream%%.*}" -lt $MIN_MAJOR ] 2>/dev/null; then
        say "no qemu-user of version $MIN_MAJOR or later in $codename or $codename-backports${best:+ (newest: $best)}, and earlier ones crash 32-bit Wine: the 32-bit tests will be skipped"
        return 1
    fi
    if ! (cd "$work" && apt-get "${apt[@]}" download "qemu-user=$best" >"$work/download.log" 2>&1); then
        say "the qemu-user package $best could not be downloaded: the 32-bit tests will be skipped (try again later: bash scripts/setup.sh)"
        return 1
    fi
    mkdir -p "$work/deb" "$DEST"
    dpkg-deb --fsys-tarfile "$work"/qemu-user_*.deb | tar -x -C "$work/deb" ./usr/bin/qemu-i386 || return 1
    install -m 0755 "$work/deb/usr/bin/qemu-i386" "$DEST/qemu-i386.new" && mv -f "$DEST/qemu-i386.new" "$DEST/qemu-i386" || return 1
    origin=$(apt-cache "${apt[@]}" madison qemu-user 2>/dev/null | awk -F'|' -v b="$best" '{ gsub(/ /, "", $2) } $2 == b { print $3; exit }' | awk '{ print $2 }')
    say "qemu-i386 $(qemu_version "$DEST/qemu-i386") unpacked from Debian's qemu-user $best (${origin%%/*}) into $DEST, to run 32-bit programs; no package was installed and the package configuration is unchanged"
    qemu=$DEST/qemu-i386
}

if [ -z "$qemu" ]; then
    fetch_qemu || exit 0
fi

# Register: a stale registration of ours (another interpreter, or disabled) is
# removed first. The F flag opens the interpreter now, so the handler works
# whatever the mount namespace or root of the 32-bit program.
if [ -e "$BINFMT/$NAME" ]; then
    echo -1 >"$BINFMT/$NAME" 2>/dev/null
fi
if ! echo ":$NAME:M::$MAGIC:$MASK:$qemu:F" >"$BINFMT/register" 2>"$work/register.log"; then
    say "registering $qemu in binfmt_misc failed ($(head -c 200 "$work/register.log")): the 32-bit tests will be skipped"
    exit 0
fi
if runs32; then
    say "32-bit programs run here through emulation: qemu-i386 $(qemu_version "$qemu") ($qemu), registered in binfmt_misc as $NAME until the next reboot"
else
    say "$qemu is registered for i386 ELF files, but a 32-bit program still does not run: the 32-bit tests will be skipped"
    echo -1 >"$BINFMT/$NAME" 2>/dev/null
fi
exit 0
