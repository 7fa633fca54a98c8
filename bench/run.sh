#!/usr/bin/env bash
# The launcher's provisioning against the best tools on this machine.
#
#   bash bench/run.sh [--jre-mib 30] [--jre-files 900] [--lib-mib 6] [--lib-files 90]
#                     [--rounds 5] [--throttle-s 12] [--throttle-rounds 1] [--skip-warm]
#                     [--in-memory]
#
# Sets up what it needs (scripts/setup.sh, plus curl and GNU time when
# missing), builds the launcher and the stand-in HMI in build/win64-bench and
# the probes of bench/probes in build/win64-bench/probes, starts Wine with its
# own prefix (build/wineprefix-bench) and runs bench/bench.py, which makes the
# device's archives, serves them from the device simulator and measures the
# launcher and its references in interleaved rounds. Prints one screen of
# figures; every run is in build/bench/results.json, the logs in
# build/bench/logs. The options go to bench/bench.py (see its --help), except
# --in-memory: the Wine prefix (with the launcher's cache) and the folders the
# references and floors write to are made in /dev/shm and removed afterwards,
# so that what the files cost is the programs' work and not the disk's (a
# shared virtual disk can make the same extraction take 1.0 s or 2.7 s).
set -euo pipefail

cd "$(dirname "$0")/.."
repo=$(pwd)

in_memory=""
args=()
for arg in "$@"; do
  if [ "$arg" = "--in-memory" ]; then in_memory=1; else args+=("$arg"); fi
done
out="$repo/build/bench"
build="$repo/build/win64-bench"
mkdir -p "$out"

fail() {
  echo "bench: $*" >&2
  exit 1
}

# Runs a step with its output in a log; shows the log's end when it fails.
step() {
  local what=$1 logfile=$2
  shift 2
  echo "bench: $what (log: $logfile)" >&2
  "$@" >"$logfile" 2>&1 || {
    tail -n 30 "$logfile" >&2
    fail "$what failed"
  }
}

# --- Set-up --------------------------------------------------------------------------

step "setting up the machine" "$out/setup.log" bash scripts/setup.sh

# The native references and the memory measurement, beyond what setup.sh installs.
missing=()
command -v curl >/dev/null 2>&1 || missing+=(curl)
[ -x /usr/bin/time ] || missing+=(time)
command -v 7z >/dev/null 2>&1 || missing+=(p7zip-full)
if [ "${#missing[@]}" -gt 0 ]; then
  as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  echo "bench: installing ${missing[*]}" >&2
  "${as_root[@]}" apt-get update -q >"$out/apt.log" 2>&1
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
    --no-install-recommends "${missing[@]}" </dev/null >>"$out/apt.log" 2>&1 ||
    fail "could not install ${missing[*]} (see $out/apt.log)"
fi

# --- Builds --------------------------------------------------------------------------

toolchain="$repo/cmake/mingw-w64.cmake"
step "building the launcher and the stand-in HMI" "$out/build.log" bash -c '
  cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$2" &&
  cmake --build "$1" -j2 --target VeltraDynamicRemoteHMI standin_hmi veltra_7z_dll' \
  _ "$build" "$toolchain"
step "building the probes" "$out/build-probes.log" bash -c '
  cmake -S bench -B "$1/probes" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$2" &&
  cmake --build "$1/probes" -j2' _ "$build" "$toolchain"

for f in "$build/VeltraDynamicRemoteHMI.exe" "$build/7z.dll" \
  "$build/standin-hmi/bin/javaw.exe" "$build/probes/winprobe.exe" \
  "$build/probes/barewindow.exe" "$build/probes/httpfloor.exe" \
  "$build/probes/extractfloor.exe"; do
  [ -f "$f" ] || fail "$f was not built"
done

# --- Measuring -----------------------------------------------------------------------

export VELTRA_WINEPREFIX="$repo/build/wineprefix-bench"
scratch=()
if [ -n "$in_memory" ]; then
  memory="/dev/shm/veltra-bench-$(id -u)"
  rm -rf "$memory"
  mkdir -p "$memory/scratch"
  export VELTRA_WINEPREFIX="$memory/wineprefix"
  scratch=(--scratch "$memory/scratch")
fi
echo "bench: starting Xvfb and Wine (prefix $VELTRA_WINEPREFIX)" >&2
# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh || fail "the Wine environment could not be set up"
# The prefix in memory goes with the rest of what this run started.
[ -z "$in_memory" ] || trap 'veltra_wine_cleanup; rm -rf "$memory"' EXIT

python3 bench/bench.py --build "$build" --probes "$build/probes" \
  --standin "$build/standin-hmi/bin/javaw.exe" --out "$out" "${scratch[@]}" "${args[@]}"
