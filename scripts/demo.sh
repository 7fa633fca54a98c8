#!/usr/bin/env bash
# The demo: the launcher's main job against the device simulator.
#
# Builds the Windows program, serves a small runtime archive and HMI library
# archive from the simulator on a free loopback port (auto-login enabled, so
# no password is typed anywhere), empties the launcher's cache in the Wine
# prefix and starts the launcher in auto-login mode on a private Xvfb
# display. Once the device has seen the end of the session (POST /LOGOUT) or
# the launcher shows an error box, it saves a screenshot of the launcher's
# window, reports what the device received and what is now in the cache, and
# prints the PNG's path as the last line. Exits non-zero when the launch
# failed. Everything it starts is ended before it returns.
set -euo pipefail

cd "$(dirname "$0")/.."
repo=$(pwd)
out="$repo/build/demo"
png="$out/launcher.png"
error_png="$out/error-box.png"
# The login window's caption (a version may follow it) and the caption of
# every message box the launcher shows.
caption='Veltra Substation Gateway'
box_caption='Veltra Dynamic Remote HMI'
# The launcher's folder under the machine-wide application data folder.
app_folder_name='Veltra Dynamic Remote HMI'
# The archive names the simulated device announces by default.
jre_archive='jre_v_17.0.2.zip'
lib_archive='lib_hmi_full_410_7_r.zip'
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
# The launcher loads the archive library from its own folder.
[ -f "$repo/build/win64/7z.dll" ] || fail "7z.dll is missing beside $exe"

# --- What the device serves ----------------------------------------------------

echo "demo: making the device's archives" >&2
files="$out/device-files"
rm -rf "$files"
mkdir -p "$files/jre" "$files/lib"
{
  python3 tools/pkgmaker/pkgmaker.py zip "$files/jre/$jre_archive" \
    --item-text 'bin/javaw.exe=demo stand-in for the Java runtime' &&
    python3 tools/pkgmaker/pkgmaker.py zip "$files/lib/$lib_archive" \
      --item-text 'config-gui.jar=demo stand-in for the HMI library'
} >"$out/pkgmaker.log" 2>&1 || {
  cat "$out/pkgmaker.log" >&2
  fail "the device's archives could not be made"
}

# Auto-login accepts an empty user and password: nothing secret is needed.
devsim_config="$out/devsim-config.json"
printf '{"autologin": "enabled"}\n' >"$devsim_config"

echo "demo: starting Xvfb and Wine" >&2
# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh || fail "the Wine environment could not be set up"

launcher_pid=""
devsim_pid=""
control_port=""

# Talks to the simulator's control API: "requests" prints one line
# "METHOD PATH" per request the device received, in order (the log also holds
# bodies and cookies, which must not leave it); "shutdown" asks it to exit.
devsim_control() {
  python3 - "$1" "$control_port" <<'PY'
import json
import sys
import urllib.request

action, port = sys.argv[1], sys.argv[2]
# Loopback only: no proxy from the environment may take these requests.
opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
base = "http://127.0.0.1:" + port
if action == "requests":
    with opener.open(base + "/requests", timeout=10) as response:
        entries = json.load(response)
    for entry in entries:
        print(entry["method"], entry["path"].split("?", 1)[0])
elif action == "shutdown":
    request = urllib.request.Request(base + "/shutdown", data=b"", method="POST")
    with opener.open(request, timeout=10) as response:
        response.read()
else:
    sys.exit("unknown action " + action)
PY
}

# Waits until process $1 has ended, for at most $2 seconds.
wait_for_exit() {
  local deadline=$((SECONDS + $2))
  while kill -0 "$1" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ]; do
    sleep 0.2
  done
  ! kill -0 "$1" 2>/dev/null
}

stop_devsim() {
  [ -n "$devsim_pid" ] || return 0
  if kill -0 "$devsim_pid" 2>/dev/null; then
    if [ -n "$control_port" ]; then
      devsim_control shutdown >/dev/null 2>&1 || true
    fi
    if ! wait_for_exit "$devsim_pid" 10; then
      echo "demo: the simulator did not stop by itself; ending it" >&2
      kill "$devsim_pid" 2>/dev/null || true
    fi
  fi
  wait "$devsim_pid" 2>/dev/null || true
  devsim_pid=""
}

demo_cleanup() {
  if [ -n "$launcher_pid" ] && kill -0 "$launcher_pid" 2>/dev/null; then
    kill "$launcher_pid" 2>/dev/null || true
    wait "$launcher_pid" 2>/dev/null || true
  fi
  stop_devsim
  veltra_wine_cleanup
}
trap demo_cleanup EXIT

# --- The simulated device --------------------------------------------------------

echo "demo: starting the device simulator" >&2
ready="$out/devsim-ready.json"
rm -f "$ready"
python3 tools/devsim/devsim.py --port 0 --control-port 0 --config "$devsim_config" \
  --files-dir "$files" --ready-file "$ready" >"$out/devsim.out" 2>"$out/devsim.log" </dev/null &
devsim_pid=$!
deadline=$((SECONDS + 30))
until [ -s "$ready" ]; do
  kill -0 "$devsim_pid" 2>/dev/null || fail "the simulator ended at start-up (see $out/devsim.log)"
  [ "$SECONDS" -lt "$deadline" ] || fail "the simulator was not ready within 30 s"
  sleep 0.1
done
read -r port control_port < <(python3 -c '
import json, sys
with open(sys.argv[1]) as f:
    ready = json.load(f)
print(ready["ports"][0], ready["control_port"])
' "$ready") || fail "the simulator's ready file could not be read"
echo "demo: device at 127.0.0.1:$port" >&2

# --- An empty cache ------------------------------------------------------------------

programdata="${WINEPREFIX:?}/drive_c/ProgramData"
[ -d "$programdata" ] || fail "no ProgramData folder in the Wine prefix ($programdata)"
app_dir="$programdata/$app_folder_name"
rm -rf "$app_dir"

# --- The launcher -------------------------------------------------------------------

# A fresh working directory: no params.txt, so the launcher starts plainly.
work="$out/work"
rm -rf "$work"
mkdir -p "$work"
rm -f "$png" "$error_png"

echo "demo: starting the launcher in auto-login mode" >&2
(cd "$work" && exec wine "$exe" -host "127.0.0.1:$port" -autologin) \
  >"$out/launcher.log" 2>&1 </dev/null &
launcher_pid=$!

# Prints the id of the first mapped top-level window whose name starts with
# $1, or, with $2 = exact, is exactly $1.
first_viewable_window() {
  local id
  for id in $(xwininfo -root -children 2>/dev/null |
    awk -v c="\"$1" -v exact="${2:-}" '
      { start = index($0, c) }
      start && (exact == "" || substr($0, start + length(c), 2) == "\":") { print $1 }'); do
    if xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable'; then
      echo "$id"
      return 0
    fi
  done
}

# The window is mapped once start-up has finished.
window_id=""
deadline=$((SECONDS + 60))
while :; do
  window_id=$(first_viewable_window "$caption")
  [ -n "$window_id" ] && break
  kill -0 "$launcher_pid" 2>/dev/null || fail "the launcher ended before its window appeared"
  [ "$SECONDS" -lt "$deadline" ] || fail "no launcher window within 60 s"
  sleep 0.2
done

# Auto-login presses Launch by itself. A finished verification ends with the
# session's logout; a failure shows a message box (after a logout, too, when
# the failure came after the sign-in, so the box is checked again below).
echo "demo: waiting for the launch to finish (at most 60 s)" >&2
outcome=""
box_id=""
deadline=$((SECONDS + 60))
while :; do
  box_id=$(first_viewable_window "$box_caption" exact)
  if [ -n "$box_id" ]; then
    outcome="error box"
    break
  fi
  seen=$(devsim_control requests 2>/dev/null) || seen=""
  if grep -qx 'POST /LOGOUT' <<<"$seen"; then
    outcome="logout"
    break
  fi
  if ! kill -0 "$launcher_pid" 2>/dev/null; then
    outcome="launcher ended"
    break
  fi
  if [ "$SECONDS" -ge "$deadline" ]; then
    outcome="timeout"
    break
  fi
  sleep 0.3
done

# Captures window $1 into $2 once two shots in a row are identical: painting
# follows mapping and every change of the window's state.
capture_settled() {
  local shot="$out/shot.png" previous="" current deadline=$((SECONDS + 30))
  while :; do
    import -window "$1" "$shot" 2>>"$out/import.log" || return 1
    # The pixels' signature: the file itself also carries its creation time.
    current=$(identify -format '%#' "$shot")
    [ "$current" = "$previous" ] && break
    previous=$current
    [ "$SECONDS" -lt "$deadline" ] || break
    sleep 0.3
  done
  mv "$shot" "$2"
}

if kill -0 "$launcher_pid" 2>/dev/null; then
  capture_settled "$window_id" "$png" || fail "screenshot failed (see $out/import.log)"
  if [ -z "$box_id" ]; then
    box_id=$(first_viewable_window "$box_caption" exact)
    [ -z "$box_id" ] || outcome="error box"
  fi
  if [ -n "$box_id" ]; then
    capture_settled "$box_id" "$error_png" || rm -f "$error_png"
  fi
fi

# --- Report --------------------------------------------------------------------------

requests=$(devsim_control requests) || fail "the simulator's request log could not be read"
cached=""
if [ -d "$app_dir" ]; then
  cached=$(cd "$app_dir" && find . -type f -printf '%P\n' | LC_ALL=C sort)
fi

[ -f "$error_png" ] || error_png=""
failure=""
case $outcome in
  logout)
    for expected in "JREImage/v17.0.2.0/bin/javaw.exe" "LIBImage/v4.10/v410_0007/config-gui.jar"; do
      grep -qxF "$expected" <<<"$cached" || failure="the cache holds no $expected"
    done
    ;;
  "error box") failure="the launcher showed an error box${error_png:+ (see $error_png)}" ;;
  "launcher ended") failure="the launcher ended during the launch (see $out/launcher.log)" ;;
  *) failure="no logout within 60 s" ;;
esac

# Prints the lines of $1 indented, or "(none)".
indented() {
  local line
  if [ -z "$1" ]; then
    echo "  (none)"
    return
  fi
  while IFS= read -r line; do
    echo "  $line"
  done <<<"$1"
}

echo "Requests the device received:"
indented "$requests"
echo "Files in the cache (C:\\ProgramData\\$app_folder_name):"
indented "$cached"
if [ -z "$failure" ]; then
  echo "Launch: verified and images installed; the launcher window stays open."
else
  echo "Launch: FAILED, $failure."
fi

# --- Clean-up ------------------------------------------------------------------------

echo "demo: closing the launcher" >&2
wine taskkill /im VeltraDynamicRemoteHMI.exe >>"$out/launcher.log" 2>&1 </dev/null || true
if wait_for_exit "$launcher_pid" 20; then
  wait "$launcher_pid" 2>/dev/null || true
  launcher_pid=""
else
  echo "demo: the launcher did not close by itself; ending it" >&2
  kill "$launcher_pid" 2>/dev/null || true
  wait "$launcher_pid" 2>/dev/null || true
  launcher_pid=""
fi

echo "demo: stopping the device simulator" >&2
stop_devsim

[ -f "$png" ] || fail "launch failed: $failure; no screenshot was taken"
[ -z "$failure" ] || echo "demo: launch failed: $failure" >&2
echo "$png"
[ -z "$failure" ] || exit 1
