#!/usr/bin/env bash
# Builds the release twice from the same sources, in two scratch folders at
# paths of different lengths, and checks that the plug-in, the pendant check
# window, the simulator, their symbols files, both zips and SHA256SUMS come
# out byte for byte the same. The sources are the working tree's files that
# git tracks or would track; the zips are dated at the last commit. Only the
# release targets are built. Prints one line per file and a summary; exits
# non-zero on a difference.
set -euo pipefail
cd "$(dirname "$0")/.."
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/hk4-reproducible.XXXXXX")
# HK4_KEEP_SCRATCH=1 keeps the two builds for a closer look.
[ -n "${HK4_KEEP_SCRATCH:-}" ] || trap 'rm -rf "$scratch"' EXIT
copies=("$scratch/a" "$scratch/second-build")

for copy in "${copies[@]}"; do
    mkdir -p "$copy"
    git ls-files -z --cached --others --exclude-standard |
        tar --null --ignore-failed-read -T - -cf - 2>/dev/null | tar -xf - -C "$copy"
    echo "building the release in $copy"
    (cd "$copy" && cmake --preset win32 >/dev/null &&
        cmake --build --preset win32 --target HalvexK4 hostsim pendantcheck >"$copy.log" 2>&1 &&
        bash scripts/package.sh >/dev/null) || { cat "$copy.log" 2>/dev/null; exit 1; }
done

version=$(sed -n 's/^#define HK4_VERSION_TEXT "\(.*\)"$/\1/p' "${copies[0]}/build/win32/generated/hk4_version.h")
files=(build/win32/HalvexK4.dll build/win32/hostsim.exe build/win32/PendantCheck.exe
       build/win32/HalvexK4.dll.debug build/win32/hostsim.exe.debug build/win32/PendantCheck.exe.debug
       "dist/HalvexK4-$version.zip" "dist/HalvexK4-$version-symbols.zip" dist/SHA256SUMS)
differ=0
for f in "${files[@]}"; do
    if cmp -s "${copies[0]}/$f" "${copies[1]}/$f"; then
        echo "same      $(sha256sum <"${copies[0]}/$f" | cut -c1-16)  $f"
    else
        echo "DIFFERENT $f ($(cmp -l "${copies[0]}/$f" "${copies[1]}/$f" 2>/dev/null | wc -l) bytes; first: offset, octal bytes)"
        cmp -l "${copies[0]}/$f" "${copies[1]}/$f" 2>&1 | head -n 3
        differ=$((differ + 1))
    fi
done
# The summary in the form the test command counts.
if [ "$differ" -eq 0 ]; then
    echo "reproducible release: 0 tests failed out of 1"
else
    echo "reproducible release: 1 tests failed out of 1 ($differ of ${#files[@]} files differ)"
    exit 1
fi
