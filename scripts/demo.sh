#!/usr/bin/env bash
# The demo: one whole launch, from the launcher's start to the HMI logged in.
#
# Sets up the machine (scripts/setup.sh), builds the Windows program and the
# stand-in HMI, and serves the device archives that carry the stand-in as the
# HMI's runtime from the device simulator on a free loopback port, with
# auto-login enabled (no password is typed anywhere). It empties the
# launcher's cache in the Wine prefix and starts the launcher with "-host
# 127.0.0.1:PORT -autologin" on a private Xvfb display. The launcher signs in,
# downloads and installs the images, starts the stand-in, which asks to trust
# the device (accepted for the operator), moves its login window off-screen
# to (20000, 20000), types Tab, Tab, Enter into it and closes.
#
# Then it reports the requests the device received, the files now cached, the
# stand-in's journal (its command line and every key that reached its login
# window) and the time from the launcher's start to its exit. It drags the
# logged-in HMI window back into view, saves a screenshot of it, closes the
# stand-in and prints the PNG's path as the last line. Exits non-zero when the
# launch failed. Everything it starts is ended before it returns.
#
# VELTRA_DEMO_BUILD chooses the build folder (default build/win64) and
# VELTRA_WINEPREFIX the Wine prefix (see scripts/wine-env.sh).
set -euo pipefail

cd "$(dirname "$0")/.."
repo=$(pwd)
out="$repo/build/demo"
build=${VELTRA_DEMO_BUILD:-build/win64}
case $build in
  /*) ;;
  *) build="$repo/$build" ;;
esac
png="$out/hmi.png"
error_png="$out/error-box.png"
screen_png="$out/screen.png"
# The caption of every message box the launcher shows.
box_caption='Veltra Dynamic Remote HMI'
# The launcher's folder under the machine-wide application data folder.
app_folder_name='Veltra Dynamic Remote HMI'
host=127.0.0.1
mkdir -p "$out"

fail() {
  echo "demo: $*" >&2
  exit 1
}

# --- Set-up and build ----------------------------------------------------------------

echo "demo: setting up the machine (log: $out/setup.log)" >&2
bash scripts/setup.sh >"$out/setup.log" 2>&1 </dev/null || {
  tail -n 30 "$out/setup.log" >&2
  fail "set-up failed"
}

echo "demo: building the launcher and the stand-in HMI (log: $out/build.log)" >&2
{
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" &&
    cmake --build "$build" -j2 --target VeltraDynamicRemoteHMI veltra_standin_testdata
} >"$out/build.log" 2>&1 || {
  tail -n 30 "$out/build.log" >&2
  fail "build failed"
}
exe="$build/VeltraDynamicRemoteHMI.exe"
files="$build/standin-testdata"
[ -f "$exe" ] || fail "$exe was not built"
# The launcher loads the archive library from its own folder.
[ -f "$build/7z.dll" ] || fail "7z.dll is missing beside $exe"
if [ ! -d "$files/jre" ] || [ ! -d "$files/lib" ]; then
  fail "no device archives in $files"
fi

# A helper that moves a top-level window, found by its whole title, to the
# middle of the screen: the HMI's login window is moved off-screen during the
# launch and keeps that place after the login.
mover="$out/move-window.exe"
cat >"$out/move-window.c" <<'C'
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2)
    return 2;
  HWND window = FindWindowW(NULL, argv[1]);
  RECT rect;
  if (!window || !GetWindowRect(window, &rect))
    return 1;
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  return MoveWindow(window, x, y, width, height, TRUE) ? 0 : 3;
}
C
x86_64-w64-mingw32-gcc-posix -O2 -Wall -Wextra -municode -mwindows -static \
  -o "$mover" "$out/move-window.c" >>"$out/build.log" 2>&1 || {
  tail -n 30 "$out/build.log" >&2
  fail "the window helper could not be built"
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
port=""
standin_pid=""
journal="$out/standin-journal.txt"

# Talks to the simulator's control API: "requests [T0]" prints one line
# "METHOD PATH" per request the device received, in order, each after the
# seconds since T0 (a time in seconds since the epoch) when given (the log
# also holds bodies and cookies, which must not leave it); "shutdown" asks it
# to exit.
devsim_control() {
  python3 - "$control_port" "$@" <<'PY'
import json
import sys
import urllib.request

port, action = sys.argv[1], sys.argv[2]
since = float(sys.argv[3]) if len(sys.argv) > 3 else None
# Loopback only: no proxy from the environment may take these requests.
opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
base = "http://127.0.0.1:" + port
if action == "requests":
    with opener.open(base + "/requests", timeout=10) as response:
        entries = json.load(response)
    for entry in entries:
        line = entry["method"] + " " + entry["path"].split("?", 1)[0]
        if since is not None:
            line = "%+6.2f s  %s" % (entry["time"] - since, line)
        print(line)
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

# The stand-in's journal without its process ids, a line's fields apart by
# blanks instead of tabs and its doubled backslashes single.
journal_lines() {
  [ -f "$journal" ] || return 0
  cut -f2- "$journal" | tr '\t' ' ' | sed 's/\\\\/\\/g'
}

# Whether the journal holds a line of the event $1.
journal_has() {
  [ -f "$journal" ] && cut -f3 "$journal" | grep -qx "$1"
}

# Waits until the journal holds the event $1, for at most $2 seconds.
wait_for_journal() {
  local deadline=$((SECONDS + $2))
  until journal_has "$1"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.2
  done
}

# Closes the stand-in as an operator closing its window would (its journal
# then ends with "exit ... reason=closed"), and forces it when it will not go.
stop_standin() {
  [ -n "$standin_pid" ] || return 0
  if ! journal_has exit; then
    wine taskkill /pid "$standin_pid" >>"$out/taskkill.log" 2>&1 </dev/null || true
    if ! wait_for_journal exit 10; then
      echo "demo: the stand-in did not close; ending it" >&2
      wine taskkill /f /pid "$standin_pid" >>"$out/taskkill.log" 2>&1 </dev/null || true
    fi
  fi
  standin_pid=""
}

# The trust record the stand-in wrote for the device when it was accepted.
trust_name=""
forget_trust() {
  [ -n "$trust_name" ] || return 0
  wine reg delete 'HKCU\SOFTWARE\Norwick\Energy\Automation\TLS' /v "$trust_name" /f \
    >>"$out/reg.log" 2>&1 </dev/null || true
  trust_name=""
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
  stop_standin
  forget_trust
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
echo "demo: device at $host:$port" >&2

# --- An empty cache, no trust ----------------------------------------------------------

programdata="${WINEPREFIX:?}/drive_c/ProgramData"
[ -d "$programdata" ] || fail "no ProgramData folder in the Wine prefix ($programdata)"
app_dir="$programdata/$app_folder_name"
rm -rf "$app_dir"
# The simulator makes a new certificate at every start: a port recorded by an
# earlier run with the old one would be asked about.
rm -f "${WINEPREFIX:?}/drive_c/users/$(id -un)/AppData/Local/$app_folder_name/KnownDevices.txt"
# A port used before in this prefix may have been trusted then.
trust_name="$host:$port"
forget_trust
trust_name="$host:$port"

# --- The launcher -------------------------------------------------------------------

# A fresh working directory: no params.txt, so the launcher starts plainly.
work="$out/work"
rm -rf "$work"
mkdir -p "$work"
rm -f "$png" "$error_png" "$screen_png" "$journal"

# Prints the ids of the top-level windows whose name is exactly $1.
windows_named() {
  xwininfo -root -children 2>/dev/null | awk -v c="\"$1\":" 'index($0, c) { print $1 }'
}

# Prints the id of the first mapped top-level window whose name is exactly $1.
first_viewable_window() {
  local id
  for id in $(windows_named "$1"); do
    if xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable'; then
      echo "$id"
      return 0
    fi
  done
}

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

# The launcher passes its environment on to the HMI: the stand-in writes its
# journal into the demo's folder, accepts the device's certificate as the
# operator would, and ends by itself should the demo not close it.
echo "demo: starting the launcher with -host $host:$port -autologin" >&2
# Wine shows the Linux root as drive Z:.
journal_windows="Z:${journal//\//\\}"
# EPOCHREALTIME follows the locale's decimal separator.
started=${EPOCHREALTIME/,/.}
(cd "$work" &&
  VELTRA_STANDIN_JOURNAL="$journal_windows" \
    VELTRA_STANDIN_AUTO_ACCEPT=1 VELTRA_STANDIN_LIFETIME_MS=300000 \
    exec wine "$exe" -host "$host:$port" -autologin) \
  >"$out/launcher.log" 2>&1 </dev/null &
launcher_pid=$!

# "-autologin" presses Launch by itself, and a launch that gets through ends
# with the launcher closing itself. A failure shows a message box instead.
echo "demo: waiting for the launcher to finish (at most 90 s)" >&2
outcome=""
box_id=""
ended=""
deadline=$((SECONDS + 90))
while :; do
  if ! kill -0 "$launcher_pid" 2>/dev/null; then
    ended=${EPOCHREALTIME/,/.}
    outcome="closed"
    break
  fi
  box_id=$(first_viewable_window "$box_caption")
  if [ -n "$box_id" ]; then
    outcome="error box"
    break
  fi
  if [ "$SECONDS" -ge "$deadline" ]; then
    outcome="timeout"
    break
  fi
  sleep 0.05
done

launcher_rc=""
run_time=""
if [ "$outcome" = closed ]; then
  launcher_rc=0
  wait "$launcher_pid" || launcher_rc=$?
  launcher_pid=""
  run_time=$(awk -v a="$started" -v b="$ended" 'BEGIN { printf "%.1f", b - a }')
elif [ -n "$box_id" ]; then
  capture_settled "$box_id" "$error_png" || rm -f "$error_png"
fi

# The stand-in takes the Enter that the launcher posted just before it closed.
if [ "$outcome" = closed ]; then
  wait_for_journal logged-in 15 || true
fi
standin_pid=$(awk -F'\t' '$3 == "start" { print $1; exit }' "$journal" 2>/dev/null || true)

# The HMI's window is off-screen at (20000, 20000), where nothing is drawn.
# Bring it back to the middle of the screen, as an operator would, and take
# its picture.
if [ -n "$standin_pid" ] && ! journal_has exit; then
  if wine "$mover" "HMI ($host)" >>"$out/move-window.log" 2>&1 </dev/null; then
    hmi_window=""
    deadline=$((SECONDS + 15))
    until hmi_window=$(first_viewable_window "HMI ($host)") && [ -n "$hmi_window" ]; do
      [ "$SECONDS" -lt "$deadline" ] || break
      sleep 0.2
    done
    if [ -n "$hmi_window" ]; then
      capture_settled "$hmi_window" "$png" || rm -f "$png"
    fi
  else
    echo "demo: the HMI window could not be brought into view" >&2
  fi
fi
[ -f "$png" ] || [ -f "$error_png" ] ||
  capture_settled root "$screen_png" || rm -f "$screen_png"

# --- Report --------------------------------------------------------------------------

requests=$(devsim_control requests "$started") || fail "the simulator's request log could not be read"
cached=""
if [ -d "$app_dir" ]; then
  cached=$(cd "$app_dir" && find . -type f -printf '%P\n' | LC_ALL=C sort)
fi

# The stand-in's lines for what reached its login window.
typed_keys=$(awk -F'\t' '$3 == "key-down" { print $4, $5 }' "$journal" 2>/dev/null || true)
typed_chars=$(awk -F'\t' '$3 == "char"' "$journal" 2>/dev/null || true)
typed_on_screen=$(awk -F'\t' '$3 ~ /^key-/ && $6 !~ /^rect=20000,20000,/' "$journal" \
  2>/dev/null || true)

failure=""
case $outcome in
  closed)
    for expected in "JREImage/v17.0.2.0/bin/javaw.exe" "LIBImage/v4.10/v410_0007/config-gui.jar"; do
      grep -qxF "$expected" <<<"$cached" || failure="the cache holds no $expected"
    done
    if [ "$launcher_rc" != 0 ]; then
      failure="the launcher ended with exit code $launcher_rc"
    elif [ -z "$standin_pid" ]; then
      failure="the launcher started no HMI"
    elif ! journal_has logged-in; then
      failure="the HMI was not logged in"
    elif [ "$typed_keys" != $'key=9 field=user\nkey=9 field=password\nkey=13 field=ok' ] ||
      [ -n "$typed_chars" ]; then
      failure="the HMI's login window got other keys than Tab, Tab, Enter"
    elif [ -n "$typed_on_screen" ]; then
      failure="keys reached the HMI's login window while it was on screen"
    fi
    ;;
  "error box") failure="the launcher showed an error box${error_png:+ (see $error_png)}" ;;
  *) failure="the launcher did not finish within 90 s" ;;
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

echo "Requests the device received (seconds after the launcher's start):"
indented "$requests"
echo "Files in the cache (C:\\ProgramData\\$app_folder_name):"
indented "$cached"
echo "The stand-in HMI's journal (ms since its start, event, fields):"
indented "$(journal_lines)"
if [ -n "$run_time" ]; then
  echo "The launcher ran $run_time s from its start to its exit (exit code $launcher_rc)."
fi
if [ -z "$failure" ]; then
  echo "Launch: verified, images installed, HMI started and logged in (Tab, Tab, Enter" \
    "typed into its login window off-screen); the launcher closed itself."
else
  echo "Launch: FAILED, $failure."
fi

# --- Clean-up ------------------------------------------------------------------------

if [ -n "$standin_pid" ]; then
  echo "demo: closing the stand-in HMI" >&2
  stop_standin
fi
if [ -n "$launcher_pid" ]; then
  echo "demo: ending the launcher" >&2
  kill "$launcher_pid" 2>/dev/null || true
  wait "$launcher_pid" 2>/dev/null || true
  launcher_pid=""
fi
forget_trust
echo "demo: stopping the device simulator" >&2
stop_devsim

shown=""
for candidate in "$png" "$error_png" "$screen_png"; do
  if [ -f "$candidate" ]; then
    shown=$candidate
    break
  fi
done
[ -n "$shown" ] || fail "launch failed: ${failure:-no screenshot}; no screenshot was taken"
[ -z "$failure" ] || echo "demo: launch failed: $failure" >&2
echo "$shown"
[ -z "$failure" ] || exit 1
