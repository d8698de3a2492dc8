#!/usr/bin/env bash
# Packs the release for users from the 32-bit build (build/win32):
#   dist/HalvexK4-<version>.zip          the plug-in, the pendant check window
#                                        PendantCheck-<version>.exe, the simulator
#                                        hostsim-<version>.exe, the install note
#                                        INSTALL-<version>.txt and SHA256SUMS of them
#   dist/HalvexK4-<version>-symbols.zip  the debug information the binaries link to
#   dist/SHA256SUMS                      checksums of the two zips
# The version is the one the build was configured with. The zips are the same
# bytes for the same build: entries in a fixed order, all dated at the last
# commit (or SOURCE_DATE_EPOCH), fixed permissions, no extra fields.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/win32
version=$(sed -n 's/^#define HK4_VERSION_TEXT "\(.*\)"$/\1/p' "$build/generated/hk4_version.h")
[ -n "$version" ] || { echo "package: no version in $build; build the win32 preset first" >&2; exit 1; }
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
export TZ=UTC

name=HalvexK4-$version
symbols=$name-symbols
rm -rf "build/package" && mkdir -p "build/package/$name" "build/package/$symbols" dist

stage=build/package/$name
cp "$build/HalvexK4.dll" "$stage/HalvexK4.dll"
cp "$build/PendantCheck.exe" "$stage/PendantCheck-$version.exe"
cp "$build/hostsim.exe" "$stage/hostsim-$version.exe"
sed "s/@VERSION@/$version/g" docs/INSTALL.txt | sed 's/$/\r/' >"$stage/INSTALL-$version.txt"
shipped=(HalvexK4.dll "PendantCheck-$version.exe" "hostsim-$version.exe" "INSTALL-$version.txt")
(cd "$stage" && sha256sum "${shipped[@]}" >SHA256SUMS)

# The debug files keep the names the binaries' links give.
cp "$build/HalvexK4.dll.debug" "$build/PendantCheck.exe.debug" "$build/hostsim.exe.debug" \
    "build/package/$symbols/"

pack() {  # pack ZIP FOLDER FILE... (the files inside build/package/FOLDER, in this order)
    local zip=$1 folder=$2
    shift 2
    chmod 0644 "${@/#/build/package/$folder/}"
    touch -d "@$epoch" "${@/#/build/package/$folder/}"
    rm -f "dist/$zip"
    (cd build/package && zip -q -X -D "../../dist/$zip" "${@/#/$folder/}")
}
pack "$name.zip" "$name" "${shipped[@]}" SHA256SUMS
pack "$symbols.zip" "$symbols" HalvexK4.dll.debug PendantCheck.exe.debug hostsim.exe.debug
(cd dist && sha256sum "$name.zip" "$symbols.zip" >SHA256SUMS)

echo "release: dist/$name.zip"
echo "symbols: dist/$symbols.zip"
echo "checksums: dist/SHA256SUMS"
