#!/usr/bin/env bash
# The demo: builds the Windows program, runs it under Wine on a private Xvfb
# display, saves a screenshot of its window and prints the PNG's path as the
# last line. Everything it starts is ended before it returns.
set -euo pipefail

cd "$(dirname "$0")/.."
repo=$(pwd)
out="$repo/build/demo"
png="$out/launcher.png"
caption='Veltra Substation Gateway'
mkdir -p "$out"

fail() {
  echo "demo: $*" >&2
  exit 1
}

echo "demo: building the Windows program (log: $out/build.log)" >&2
{
  cmake -S . -B build/win64 -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" &&
    cmake --build build/win64 -j2 --target VeltraDynamicRemoteHMI
} >"$out/build.log" 2>&1 || {
  tail -n 30 "$out/build.log" >&2
  fail "build failed"
}
exe="$repo/build/win64/VeltraDynamicRemoteHMI.exe"
[ -f "$exe" ] || fail "$exe was not built"

echo "demo: starting Xvfb and Wine" >&2
# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh || fail "the Wine environment could not be set up"

launcher_pid=""
demo_cleanup() {
  if [ -n "$launcher_pid" ] && kill -0 "$launcher_pid" 2>/dev/null; then
    kill "$launcher_pid" 2>/dev/null || true
    wait "$launcher_pid" 2>/dev/null || true
  fi
  veltra_wine_cleanup
}
trap demo_cleanup EXIT

# A fresh working directory: no params.txt, so the launcher starts plainly.
work="$out/work"
rm -rf "$work"
mkdir -p "$work"
rm -f "$png"

echo "demo: starting the launcher" >&2
(cd "$work" && exec wine "$exe" -host 127.0.0.1 -port 8443 -username operator) \
  >"$out/launcher.log" 2>&1 </dev/null &
launcher_pid=$!

# The window is mapped once start-up has finished.
window_id=""
deadline=$((SECONDS + 60))
while :; do
  window_id=$(xwininfo -root -tree 2>/dev/null | awk -v c="\"$caption" 'index($0, c) { print $1; exit }')
  if [ -n "$window_id" ] && xwininfo -id "$window_id" 2>/dev/null | grep -q 'Map State: IsViewable'; then
    break
  fi
  kill -0 "$launcher_pid" 2>/dev/null || fail "the launcher ended before its window appeared"
  [ "$SECONDS" -lt "$deadline" ] || fail "no launcher window within 60 s"
  sleep 0.2
done

# Painting follows mapping: capture until two shots in a row are identical.
shot="$out/shot.png"
previous=""
deadline=$((SECONDS + 30))
while :; do
  import -window "$window_id" "$shot" 2>>"$out/import.log" ||
    fail "screenshot failed (see $out/import.log)"
  # The pixels' signature: the file itself also carries its creation time.
  current=$(identify -format '%#' "$shot")
  [ "$current" = "$previous" ] && break
  previous=$current
  [ "$SECONDS" -lt "$deadline" ] || break
  sleep 0.3
done
mv "$shot" "$png"

echo "demo: closing the launcher" >&2
wine taskkill /im VeltraDynamicRemoteHMI.exe >>"$out/launcher.log" 2>&1 </dev/null || true
deadline=$((SECONDS + 20))
while kill -0 "$launcher_pid" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ]; do
  sleep 0.2
done
if kill -0 "$launcher_pid" 2>/dev/null; then
  echo "demo: the launcher did not close by itself; ending it" >&2
else
  wait "$launcher_pid" 2>/dev/null || true
  launcher_pid=""
fi

echo "$png"
