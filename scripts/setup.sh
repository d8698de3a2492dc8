#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
# Quiet and quick when everything is there.
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
# The shipping plug-in is 32-bit: its tests run under 32-bit Wine, which
# comes from the i386 architecture.
# The update before the installation below then reads its package lists.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "setup: adding the i386 architecture"
    $SUDO dpkg --add-architecture i386
fi
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "setup: installing ${missing[*]}"
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
