#!/usr/bin/env bash
# A launch of a trusted device to the HMI's login, start to the launcher's
# exit, with this tree's launcher against the launcher of an earlier commit
# (by default the one before the prompt wait ended at the login window).
#
#   bash bench/hmi-login.sh [--rounds 10] [--base REV]
#
# Builds both launchers (build/hmi-login/new, build/hmi-login/old from
# `git archive REV`), serves the stand-in HMI from the device simulator,
# writes the device's trust record (so no certificate prompt comes) and runs
# "-autologin" launches in interleaved pairs, the order swapped each round.
# The cache is filled by one launch of each beforehand, so every timed launch
# provisions warm. Each launch is also timed from the device's LOGOUT, the end
# of its warm provisioning, to the launcher's exit: what the HMI's start, the
# prompt wait and the login cost on top of provisioning. Prints the medians;
# every run is in build/hmi-login/runs.tsv.
set -euo pipefail

cd "$(dirname "$0")/.."
repo=$(pwd)
out="$repo/build/hmi-login"
rounds=10
base=""
while [ $# -gt 0 ]; do
  case $1 in
  --rounds) rounds=$2; shift 2 ;;
  --base) base=$2; shift 2 ;;
  *) echo "usage: $0 [--rounds N] [--base REV]" >&2; exit 2 ;;
  esac
done
if [ -z "$base" ]; then
  change=$(git log --format=%H -n1 --grep='certificate prompt ends once the started HMI')
  [ -n "$change" ] || { echo "hmi-login: no --base given and the change not found" >&2; exit 1; }
  base="$change~1"
fi
mkdir -p "$out"

fail() {
  echo "hmi-login: $*" >&2
  exit 1
}

# --- Builds ----------------------------------------------------------------------------

toolchain="$repo/cmake/mingw-w64.cmake"
build() { # source folder, build folder, targets...
  local src=$1 dir=$2
  shift 2
  cmake -S "$src" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" >"$dir.log" 2>&1 &&
    cmake --build "$dir" -j2 --target "$@" >>"$dir.log" 2>&1 || {
    tail -n 30 "$dir.log" >&2
    fail "building in $dir failed"
  }
}
echo "hmi-login: building this tree's launcher and the stand-in" >&2
build "$repo" "$out/new" VeltraDynamicRemoteHMI standin_hmi veltra_standin_testdata veltra_7z_dll
echo "hmi-login: building the launcher of $base" >&2
rm -rf "$out/old-src"
mkdir -p "$out/old-src"
git archive "$base" | tar -x -C "$out/old-src"
mkdir -p "$out/old-src/build"
cp -r "$repo/build/third_party" "$out/old-src/build/" 2>/dev/null || true
build "$out/old-src" "$out/old" VeltraDynamicRemoteHMI veltra_7z_dll

# --- Wine and the device ------------------------------------------------------------------

export VELTRA_WINEPREFIX="${VELTRA_WINEPREFIX:-$repo/build/wineprefix}"
# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh || fail "the Wine environment could not be set up"

devsim_pid=""
cleanup() {
  [ -n "$devsim_pid" ] && kill "$devsim_pid" 2>/dev/null && wait "$devsim_pid" 2>/dev/null
  true
}
trap cleanup EXIT

[ -f "$out/new/standin-testdata/jre/jre_v_17.0.2.zip" ] || fail "the stand-in's archives were not made"
ready="$out/devsim-ready.json"
rm -f "$ready"
echo '{"autologin": "enabled"}' >"$out/devsim-config.json"
python3 tools/devsim/devsim.py --port 0 --control-port 0 --config "$out/devsim-config.json" \
  --files-dir "$out/new/standin-testdata" --ready-file "$ready" \
  </dev/null >/dev/null 2>"$out/devsim.log" &
devsim_pid=$!
for _ in $(seq 300); do
  [ -s "$ready" ] && break
  kill -0 "$devsim_pid" 2>/dev/null || fail "the device simulator ended (see $out/devsim.log)"
  sleep 0.1
done
[ -s "$ready" ] || fail "the device simulator was not ready"
port=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["ports"][0])' "$ready")
control=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["control_port"])' "$ready")

wine reg add 'HKCU\SOFTWARE\Norwick\Energy\Automation\TLS' /v "127.0.0.1:$port" /t REG_SZ \
  /d trusted /f >/dev/null 2>&1 || fail "the trust record could not be written"

# --- Launches --------------------------------------------------------------------------------

journal="$out/standin-journal.txt"
work="$out/work"
mkdir -p "$work"
export VELTRA_STANDIN_JOURNAL
VELTRA_STANDIN_JOURNAL=$(winepath -w "$journal")
# The stand-in ends itself after the launch; the next launch waits for that.
export VELTRA_STANDIN_LIFETIME_MS=4000

# The device's log time of the last LOGOUT from request number $1 on; prints
# "<time> <next request number>" (time "-" when there was none).
last_logout() {
  python3 - "$control" "$1" <<'EOF'
import json, sys, urllib.request
opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
url = "http://127.0.0.1:%s/requests?since=%s" % (sys.argv[1], sys.argv[2])
entries = json.load(opener.open(url, timeout=30))
times = [e["time"] for e in entries if e["path"].split("?", 1)[0] == "/LOGOUT"]
seq = entries[-1]["seq"] + 1 if entries else int(sys.argv[2])
print("%s %d" % ("%.6f" % times[-1] if times else "-", seq))
EOF
}

# One launch; prints its seconds from start to the launcher's exit, and from
# the device's LOGOUT to the launcher's exit.
launch() { # new|old
  local exe="$out/$1/VeltraDynamicRemoteHMI.exe" t0 t1 starts ends logout seen
  starts=$(grep -c $'\tstart\t' "$journal" 2>/dev/null || true)
  starts=${starts:-0}
  # Only this launch's LOGOUT counts: the requests so far are skipped.
  read -r _ seen < <(last_logout 0)
  t0=$(date +%s.%N)
  (cd "$work" && wine "$exe" -host "127.0.0.1:$port" -autologin >>"$out/launcher.log" 2>&1) ||
    fail "the $1 launcher exited with an error (see $out/launcher.log)"
  t1=$(date +%s.%N)
  # Its stand-in has typed, and ended, before the next launch begins.
  for _ in $(seq 200); do
    ends=$(grep -c $'\texit\t' "$journal" 2>/dev/null || true)
    [ "${ends:-0}" -gt "$starts" ] && break
    sleep 0.1
  done
  read -r logout seen < <(last_logout "$seen")
  [ "$logout" != "-" ] || fail "the $1 launcher's session was not logged out"
  python3 -c 'import sys; t0, t1, lo = map(float, sys.argv[1:]); print("%.3f\t%.3f" % (t1 - t0, t1 - lo))' \
    "$t0" "$t1" "$logout"
}

echo "hmi-login: filling the cache" >&2
launch new >/dev/null
launch old >/dev/null

printf 'round\twho\tseconds\tafter_logout\n' >"$out/runs.tsv"
for r in $(seq "$rounds"); do
  if [ $((r % 2)) -eq 1 ]; then order="old new"; else order="new old"; fi
  for who in $order; do
    s=$(launch "$who")
    printf '%s\t%s\t%s\n' "$r" "$who" "$s" >>"$out/runs.tsv"
    echo "hmi-login: round $r $who ${s%%$'\t'*} s" >&2
  done
done

submits=$(grep -c $'\tsubmit\t' "$journal" || true)
python3 - "$out/runs.tsv" "$submits" <<'EOF'
import statistics, sys
rows = [l.rstrip("\n").split("\t") for l in open(sys.argv[1])][1:]
by, after = {}, {}
for _, who, s, a in rows:
    by.setdefault(who, []).append(float(s))
    after.setdefault(who, []).append(float(a))
for who in ("old", "new"):
    v, a = by.get(who, []), after.get(who, [])
    print("%-4s %2d launches, start to exit: median %.2f s (min %.2f, max %.2f); "
          "the device's LOGOUT to exit: median %.2f s (min %.2f, max %.2f)"
          % (who, len(v), statistics.median(v), min(v), max(v),
             statistics.median(a), min(a), max(a)))
print("logins submitted in the stand-in's journal: %s" % sys.argv[2])
EOF
