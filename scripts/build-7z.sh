#!/bin/bash
# Builds the 64-bit Windows archive library 7z.dll from Debian's "7zip"
# source package with the MinGW-w64 cross compiler.
#
# Usage: scripts/build-7z.sh [OUTDIR]
#   OUTDIR defaults to $OUT, then to <repo>/build/third_party.
#   The finished library is OUTDIR/7z.dll; its path is printed last.
#
# The build is skipped when OUTDIR/7z.dll already exists and is newer than
# this script. Sources are fetched into OUTDIR/src with a private apt
# configuration (own source list, own list and cache directories), so the
# machine's apt set-up is never modified. Fetching sources needs network
# access to the Debian archive; a second run reuses the unpacked sources.
#
# Needs (Debian 12): gcc-mingw-w64-x86-64, g++-mingw-w64-x86-64,
# binutils-mingw-w64-x86-64, make, dpkg-dev (apt-get source calls
# dpkg-source), xz-utils.
#
# Toolchain notes: the plain (win32 thread model) x86_64-w64-mingw32-gcc/g++
# are enough; the -posix variants are not needed. The library uses only
# Win32 threads, and the makefile links libgcc/libstdc++ statically, so the
# result imports system DLLs only. DISABLE_RAR=1 leaves out the RAR codecs,
# which Debian strips from its source anyway (+dfsg).
set -euo pipefail

script_dir=$(cd "$(dirname "$0")" && pwd)
script_path="$script_dir/$(basename "$0")"
repo_dir=$(cd "$script_dir/.." && pwd)

out_dir=${1:-${OUT:-$repo_dir/build/third_party}}
mkdir -p "$out_dir"
out_dir=$(cd "$out_dir" && pwd)
dll="$out_dir/7z.dll"

if [ -f "$dll" ] && [ "$dll" -nt "$script_path" ]; then
    echo "7z.dll is up to date" >&2
    echo "$dll"
    exit 0
fi

cross=x86_64-w64-mingw32-
for tool in "${cross}gcc" "${cross}g++" "${cross}windres" make; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "error: $tool not found (install the MinGW-w64 toolchain and make)" >&2
        exit 1
    fi
done
if ! command -v dpkg-source >/dev/null 2>&1; then
    echo "error: dpkg-source not found (install dpkg-dev)" >&2
    exit 1
fi

work="$out_dir/src"
apt_dir="$work/apt"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/archives/partial"

# Find an already unpacked source tree (apt-get source names it 7zip-<upstream>).
find_tree() {
    for d in "$work"/7zip-*/; do
        if [ -f "$d/CPP/7zip/Bundles/Format7zF/makefile.gcc" ]; then
            printf '%s\n' "${d%/}"
            return 0
        fi
    done
    return 1
}

if ! tree=$(find_tree); then
    sources_in=/etc/apt/sources.list.d/debian.sources
    sources="$apt_dir/sources.sources"
    if [ -f "$sources_in" ]; then
        # Same archives as the machine uses, plus source indices.
        sed 's/^Types:.*$/Types: deb deb-src/' "$sources_in" >"$sources"
        list_opt="-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts=$apt_dir/parts"
        mkdir -p "$apt_dir/parts"
        cp "$sources" "$apt_dir/parts/debian.sources"
    elif [ -f /etc/apt/sources.list ]; then
        # Older one-line format: mirror every deb line as deb-src.
        sed -n 's/^deb[[:space:]]/deb-src /p' /etc/apt/sources.list >"$apt_dir/sources.list"
        list_opt="-o Dir::Etc::SourceList=$apt_dir/sources.list -o Dir::Etc::SourceParts=/dev/null"
    else
        echo "error: no apt source configuration found" >&2
        exit 1
    fi
    # shellcheck disable=SC2086  # list_opt is a list of words on purpose
    set -- $list_opt \
        -o Dir::State::Lists="$apt_dir/lists" \
        -o Dir::Cache="$apt_dir/cache" \
        -o Dir::Cache::archives="$apt_dir/archives" \
        -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache= \
        -o APT::Sandbox::User=root
    mkdir -p "$apt_dir/cache"
    echo "fetching 7zip sources into $work" >&2
    apt-get -q "$@" update >&2
    (cd "$work" && apt-get -q "$@" source 7zip >&2)
    tree=$(find_tree) || {
        echo "error: unpacked 7zip source tree not found in $work" >&2
        exit 1
    }
fi
echo "building in $tree" >&2

bundle="$tree/CPP/7zip/Bundles/Format7zF"
jobs=$(nproc 2>/dev/null || echo 2)
# IS_MINGW selects the Windows build; MSYSTEM makes the makefile use Unix
# shell commands (rm, mkdir) instead of cmd.exe ones when cleaning.
make -C "$bundle" -f makefile.gcc -j"$jobs" \
    IS_MINGW=1 MSYSTEM=1 IS_X64=1 DISABLE_RAR=1 \
    CROSS_COMPILE="$cross" \
    CC="${cross}gcc" CXX="${cross}g++" RC="${cross}windres" >&2

built=$(find "$bundle" -name 7z.dll -type f | head -n 1)
if [ -z "$built" ]; then
    echo "error: build finished without producing 7z.dll" >&2
    exit 1
fi
cp "$built" "$dll.tmp"
mv "$dll.tmp" "$dll"
echo "$dll"
