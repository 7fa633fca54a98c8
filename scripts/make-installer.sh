#!/usr/bin/env bash
# Makes the launcher's installer and its portable zip:
#   build/installer/VeltraDynamicRemoteHMI-<version>-x64.msi
#   build/installer/VeltraDynamicRemoteHMI-<version>-x64.zip
# and prints their paths.
#
# Sets up the machine (scripts/setup.sh, which brings wixl and the 7-Zip
# library), makes the Release cross build in build/win64 and packs from it:
# the launcher, 7z.dll and ThirdPartyNotices.txt (7-Zip's licence, taken
# from the 7-Zip sources that scripts/build-7z.sh fetches). The MSI also
# carries InstallSettings.exe, the helper that writes the settings file of a
# fleet install (PACKAGEFOLDER); the zip leaves it out. The version is the
# project's (CMakeLists.txt), as the build wrote it to build/win64/version.txt.
#
# Signing (Authenticode, SHA-256, with osslsigncode): when VELTRA_SIGN_PFX
# names a PKCS#12 file (certificate and private key), the launcher, 7z.dll
# and InstallSettings.exe are signed in the staging folder before they are
# packed, and then the MSI; the zip gets the signed files too. The build
# tree's files stay as built.
#   VELTRA_SIGN_PFX            the PKCS#12 file
#   VELTRA_SIGN_PASSWORD_FILE  a file whose first line is its password (the
#                              password never goes on a command line)
#   VELTRA_SIGN_TIMESTAMP_URL  optional: an RFC 3161 time-stamp server, so
#                              the signatures stay valid after the
#                              certificate expires
# Relative paths are taken from the folder the script is started in. A
# certificate that cannot be used (missing file, wrong password, no answer
# from the time-stamp server) fails the script and leaves no package behind.
# Without VELTRA_SIGN_PFX the packages are unsigned, said in one line on
# stderr.
#
# Options (for the installer tests):
#   --no-setup         skip scripts/setup.sh
#   --no-build         pack what build/win64 holds, without building
#   --build DIR        the Release cross build to pack (default build/win64)
#   --out DIR          where the MSI and the zip go (default build/installer)
#   --version X.Y.Z.W  stamp the MSI with another version (the files stay as
#                      built): an older or newer package from the same binaries
#   --no-zip           make the MSI only
set -euo pipefail

started_in=$(pwd)
cd "$(dirname "$0")/.."
repo=$(pwd)

setup=1
build_it=1
zip_it=1
build="$repo/build/win64"
out="$repo/build/installer"
version=""
while [ $# -gt 0 ]; do
  case $1 in
    --no-setup) setup="" ;;
    --no-build) build_it="" ;;
    --no-zip) zip_it="" ;;
    --build) build=$2; shift ;;
    --out) out=$2; shift ;;
    --version) version=$2; shift ;;
    *) echo "make-installer: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
case $build in /*) ;; *) build="$repo/$build" ;; esac
case $out in /*) ;; *) out="$repo/$out" ;; esac

fail() {
  echo "make-installer: $*" >&2
  exit 1
}

# --- The signing certificate, checked before anything is built ------------------------

sign_pfx=${VELTRA_SIGN_PFX:-}
sign_pass=${VELTRA_SIGN_PASSWORD_FILE:-}
sign_ts=${VELTRA_SIGN_TIMESTAMP_URL:-}
if [ -n "$sign_pfx" ]; then
  case $sign_pfx in /*) ;; *) sign_pfx="$started_in/$sign_pfx" ;; esac
  if [ ! -f "$sign_pfx" ] || [ ! -r "$sign_pfx" ]; then
    fail "VELTRA_SIGN_PFX: $sign_pfx is not a readable file"
  fi
  [ -n "$sign_pass" ] ||
    fail "VELTRA_SIGN_PFX is set but VELTRA_SIGN_PASSWORD_FILE is not (the file with its password)"
  case $sign_pass in /*) ;; *) sign_pass="$started_in/$sign_pass" ;; esac
  if [ ! -f "$sign_pass" ] || [ ! -r "$sign_pass" ]; then
    fail "VELTRA_SIGN_PASSWORD_FILE: $sign_pass is not a readable file"
  fi
else
  echo "make-installer: VELTRA_SIGN_PFX is not set: building UNSIGNED packages" >&2
fi

mkdir -p "$out"
log="$out/make-installer.log"
: >"$log"

if [ -n "$setup" ]; then
  echo "make-installer: setting up the machine (log: $log)" >&2
  bash scripts/setup.sh >>"$log" 2>&1 </dev/null || { tail -n 30 "$log" >&2; fail "set-up failed"; }
fi
command -v wixl >/dev/null || fail "wixl not found; run scripts/setup.sh"
if [ -n "$sign_pfx" ]; then
  command -v osslsigncode >/dev/null || fail "osslsigncode not found; run scripts/setup.sh"
fi

if [ -n "$build_it" ]; then
  echo "make-installer: Release cross build in $build (log: $log)" >&2
  {
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" &&
      cmake --build "$build" -j2 --target VeltraDynamicRemoteHMI InstallSettings veltra_7z_dll
  } >>"$log" 2>&1 || { tail -n 30 "$log" >&2; fail "build failed"; }
fi

for f in VeltraDynamicRemoteHMI.exe InstallSettings.exe 7z.dll version.txt; do
  [ -f "$build/$f" ] || fail "$build/$f is missing (build first)"
done
[ -n "$version" ] || version=$(tr -d '[:space:]' <"$build/version.txt")
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+(\.[0-9]+)?$ ]] || fail "not a version: $version"

name="VeltraDynamicRemoteHMI-$version-x64"
msi="$out/$name.msi"
zip="$out/$name.zip"
# A failed run leaves no package of an earlier one that could pass for its own.
rm -f "$msi"
[ -z "$zip_it" ] || rm -f "$zip"

# --- Third-party notices --------------------------------------------------------------

# The 7-Zip source tree that scripts/build-7z.sh unpacked; fetched here
# (without building) when the library came from elsewhere.
sevenzip_src() {
  local d
  for d in "$repo"/build/third_party/src/7zip-*/; do
    [ -f "$d/DOC/License.txt" ] && { printf '%s\n' "${d%/}"; return 0; }
  done
  return 1
}
if ! src=$(sevenzip_src); then
  echo "make-installer: fetching the 7-Zip sources for their licence (log: $log)" >&2
  work="$repo/build/third_party/src"
  apt_dir="$work/apt"
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/archives/partial" "$apt_dir/parts" "$apt_dir/cache"
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types:.*$/Types: deb deb-src/' /etc/apt/sources.list.d/debian.sources \
      >"$apt_dir/parts/debian.sources"
    list_opts=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$apt_dir/parts")
  else
    sed -n 's/^deb[[:space:]]/deb-src /p' /etc/apt/sources.list >"$apt_dir/sources.list"
    list_opts=(-o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts=/dev/null)
  fi
  apt_opts=("${list_opts[@]}" -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache"
    -o Dir::Cache::archives="$apt_dir/archives" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=
    -o APT::Sandbox::User=root)
  {
    apt-get -q "${apt_opts[@]}" update && (cd "$work" && apt-get -q "${apt_opts[@]}" source 7zip)
  } >>"$log" 2>&1 || { tail -n 30 "$log" >&2; fail "the 7-Zip sources could not be fetched"; }
  src=$(sevenzip_src) || fail "no DOC/License.txt in the 7-Zip sources under build/third_party/src"
fi

stage="$out/stage"
rm -rf "$stage"
mkdir -p "$stage"
cp "$build/VeltraDynamicRemoteHMI.exe" "$build/InstallSettings.exe" "$build/7z.dll" "$stage/"
cp platform/win32/main/VeltraDynamicRemoteHMI.ico "$stage/"
{
  cat packaging/ThirdPartyNotices.txt
  printf '\n\n==== 7-Zip: DOC/License.txt ====\n\n'
  cat "$src/DOC/License.txt"
  if [ -f "$src/DOC/copying.txt" ]; then
    printf '\n\n==== 7-Zip: DOC/copying.txt (GNU LGPL 2.1) ====\n\n'
    cat "$src/DOC/copying.txt"
  fi
  if [ -f "$src/debian/copyright" ]; then
    printf '\n\n==== 7-Zip: the Debian source package'"'"'s copyright file ====\n\n'
    cat "$src/debian/copyright"
  fi
} | sed 's/\r$//; s/$/\r/' >"$stage/ThirdPartyNotices.txt"

# --- Signing --------------------------------------------------------------------------

# sign FILE: signs FILE in place, or deletes it and fails the script.
# osslsigncode reads the password from its file itself (-readpass), so it
# never shows in the process list.
sign() {
  local file=$1 signed="$1.signed"
  local args=(sign -pkcs12 "$sign_pfx" -readpass "$sign_pass" -h sha256
    -n "Veltra Dynamic Remote HMI")
  [ -z "$sign_ts" ] || args+=(-ts "$sign_ts")
  local sign_log="$out/osslsigncode.log"
  rm -f "$signed"
  local ok=1
  osslsigncode "${args[@]}" -in "$file" -out "$signed" >"$sign_log" 2>&1 </dev/null || ok=""
  { echo "--- osslsigncode: ${file##*/}" && cat "$sign_log"; } >>"$log"
  if [ -z "$ok" ] || [ ! -s "$signed" ]; then
    rm -f "$signed" "$file"
    cat "$sign_log" >&2
    local why="wrong password in $sign_pass or not a PKCS#12 file with a key"
    [ -z "$sign_ts" ] || why="$why, or no time-stamp from $sign_ts"
    fail "could not sign ${file##*/} with $sign_pfx ($why)"
  fi
  mv -f "$signed" "$file"
}

if [ -n "$sign_pfx" ]; then
  echo "make-installer: signing with $sign_pfx${sign_ts:+, time-stamped by $sign_ts}" >&2
  for f in VeltraDynamicRemoteHMI.exe 7z.dll InstallSettings.exe; do
    sign "$stage/$f"
  done
fi

# --- MSI and zip ----------------------------------------------------------------------

wixl_log="$out/wixl.log"
(cd "$stage" && wixl -a x64 -D Version="$version" -o "$msi" \
  "$repo/packaging/VeltraDynamicRemoteHMI.wxs") >"$wixl_log" 2>&1 ||
  { cat "$wixl_log" >&2; fail "wixl failed"; }
# wixl reports an attribute or element it does not know only as a warning:
# the package must not come out without a part of it.
if grep -q 'CRITICAL\|WARNING' "$wixl_log"; then
  cat "$wixl_log" >&2
  rm -f "$msi"
  fail "wixl warned"
fi
if [ -n "$sign_pfx" ]; then
  sign "$msi"
fi
echo "$msi"

if [ -n "$zip_it" ]; then
  python3 - "$stage" "$zip" "$name" <<'PY'
import os, sys, zipfile
stage, target, folder = sys.argv[1:4]
partial = target + ".part"
with zipfile.ZipFile(partial, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
    for name in ("VeltraDynamicRemoteHMI.exe", "7z.dll", "ThirdPartyNotices.txt"):
        z.write(os.path.join(stage, name), folder + "/" + name)
os.replace(partial, target)
PY
  echo "$zip"
fi
