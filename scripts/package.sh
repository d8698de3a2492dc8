#!/usr/bin/env bash
# Packs the release for users: the 32-bit plug-in, the 32-bit host simulator
# and the install note, as dist/HalvexK4-<version>.zip.
set -euo pipefail
cd "$(dirname "$0")/.."
version=$(sed -n 's/^project(HalvexK4 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=HalvexK4-$version
stage=build/package/$name
rm -rf "$stage" && mkdir -p "$stage" dist
cp build/win32/HalvexK4.dll "$stage/HalvexK4.dll"
cp build/win32/hostsim.exe "$stage/hostsim-$version.exe"
sed "s/@VERSION@/$version/g" docs/INSTALL.txt | sed 's/$/\r/' >"$stage/INSTALL-$version.txt"
rm -f "dist/$name.zip"
(cd build/package && zip -q -X -r "../../dist/$name.zip" "$name")
echo "release: dist/$name.zip"
