#!/usr/bin/env bash
# Prepares a Debian 12 machine for building and testing: installs the
# packages that are missing, then builds the third-party libraries that the
# program ships with. Safe to run again: what is already there is kept.
set -euo pipefail

cd "$(dirname "$0")/.."

packages=(
  # native build, unit tests, sanitizers and the fuzz targets
  cmake ninja-build make g++ clang libclang-rt-14-dev googletest clang-format
  # cross build and the third-party sources it compiles
  g++-mingw-w64-x86-64 dpkg-dev xz-utils
  # running the Windows program: Wine, a virtual display and its tools
  wine wine64 fonts-wine xvfb xauth x11-utils imagemagick
  # packages, archives and the device simulator
  libgsf-bin p7zip-full python3 openssl
  # the installer (scripts/make-installer.sh): wixl builds the MSI, msitools reads it,
  # osslsigncode signs the programs and the MSI and verifies signatures
  wixl msitools osslsigncode
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  as_root=()
  if [ "$(id -u)" -ne 0 ]; then
    as_root=(sudo)
  fi
  "${as_root[@]}" apt-get update -q
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    "${missing[@]}" </dev/null
else
  echo "setup: all packages present"
fi

# --- third-party libraries ---
# 7z.dll for the package store; the script keeps its own cache in
# build/third_party and returns at once when the library is current.
if [ -f scripts/build-7z.sh ]; then
  bash scripts/build-7z.sh build/third_party
fi
