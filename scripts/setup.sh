#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
# Quiet and quick when everything is there.
#
# A package index that fails to download (a mirror in the middle of a sync)
# does not end the set-up: the install goes on with the indexes that did
# download. When the install then cannot be resolved because one architecture
# lost a suite's index and the other did not (the amd64 libraries stand at
# the security suite's versions, their i386 twins cannot be found there), it
# is tried once more with the failed suites set aside for both
# architectures, so that both take the same versions from the suites that
# did download. When that fails too, it stops and says which packages could
# not be installed, the likely cause and what to run later.
set -euo pipefail
packages=(
    build-essential cmake ninja-build python3 git zip unzip file clang-format
    googletest libgtest-dev libbenchmark-dev
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools binutils-mingw-w64
    wine64 wine32:i386 fonts-wine xvfb xauth imagemagick
    python3-pil fonts-dejavu-core
    locales  # the source of the comma-decimal locale one unit test builds
)
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
say() { echo "setup: $*"; }
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# Once the packages are there: 32-bit programs made to run where the kernel
# refuses them (emulate32.sh; quick when nothing is to be done).
done_ok() {
    [ -n "${HK4_SETUP_NO_EMULATION:-}" ] || $SUDO bash "$here/emulate32.sh"
    exit 0
}

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && done_ok

# The shipping plug-in is 32-bit: its tests run under 32-bit Wine, which
# comes from the i386 architecture. The update below then reads its lists.
added_i386=false
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    say "adding the i386 architecture"
    $SUDO dpkg --add-architecture i386
    added_i386=true
fi

say "installing ${missing[*]}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The suites whose index failed to download, from apt's "Failed to fetch"
# lines (.../dists/SUITE/COMPONENT/binary-ARCH/...), one line each.
failed_suites=()
if ! $SUDO apt-get update -qq >"$work/update.log" 2>&1; then
    while read -r suite index; do
        say "the package index $index could not be downloaded (a mirror in the middle of a sync?); going on with the indexes that did"
        failed_suites+=("$suite")
    done < <(sed -n 's|.*Failed to fetch [^ ]*/dists/\([^/ ]*\)/\([^ ]*\)/binary-\([^/ ]*\)/.*|\1 \1/\2/\3|p' "$work/update.log" | sort -u)
    if [ ${#failed_suites[@]} -eq 0 ]; then
        say "apt-get update failed; going on with the package lists this machine has:"
        sed 's/^/    /' "$work/update.log" | head -n 10
    fi
    mapfile -t failed_suites < <(printf '%s\n' "${failed_suites[@]}" | sort -u | sed '/^$/d')
fi

install_missing() {  # install_missing [APT OPTIONS...]: the missing packages, output kept
    $SUDO apt-get install -y -qq --no-install-recommends "$@" "${missing[@]}" >"$work/install.log" 2>&1
}

installed=false
if install_missing; then
    installed=true
elif [ ${#failed_suites[@]} -gt 0 ]; then
    # The failed suites at priority 1: chosen by neither architecture, never
    # a downgrade of what is installed.
    for suite in "${failed_suites[@]}"; do
        printf 'Package: *\nPin: release n=%s\nPin-Priority: 1\n\n' "$suite"
    done >"$work/preferences"
    say "the install could not be resolved with ${failed_suites[*]} known for only some architectures; trying once more with both architectures taking their versions from the suites that downloaded"
    if install_missing -o Dir::Etc::Preferences="$work/preferences"; then
        installed=true
        say "installed; ${failed_suites[*]} was set aside: once the mirror has finished its sync, 'apt-get update && apt-get upgrade' brings its updates"
    fi
fi
$installed && done_ok

# Which of the packages could not be had, each tried alone.
unresolved=()
for p in "${missing[@]}"; do
    apt-get install -s -qq --no-install-recommends "$p" >/dev/null 2>&1 || unresolved+=("$p")
done
[ ${#unresolved[@]} -gt 0 ] || unresolved=("${missing[@]}")
{
    say "could not install: ${unresolved[*]}"
    say "apt said:"
    grep -E '^(E:| [^ ].* : |  +Depends:)' "$work/install.log" | head -n 12 | sed 's/^/    /'
    if [ ${#failed_suites[@]} -gt 0 ]; then
        say "likely cause: the package mirror is in the middle of a sync (the index of ${failed_suites[*]} failed to download), so the architectures' versions do not match"
    else
        say "likely cause: the package lists do not offer these packages at versions that fit together (a mirror in the middle of a sync, or the amd64 and i386 architectures at different versions)"
    fi
    if grep -q 'dpkg was interrupted\|returned an error code' "$work/install.log"; then
        say "the package manager stopped part way through the install: some packages may be left unconfigured; run '${SUDO:+sudo }dpkg --configure -a' first"
    else
        say "nothing was installed"
    fi
    $added_i386 && say "the i386 architecture was added and stays (harmless; the next try needs it)"
    say "try again later (a mirror sync usually ends within hours): ${SUDO:+sudo }apt-get update && bash scripts/setup.sh"
} >&2
exit 1
