# shellcheck shell=bash
# Wine environment for the cross-built programs. Source it from bash:
#
#   source scripts/wine-env.sh || exit 1
#
# Afterwards WINEPREFIX, WINEDEBUG, WINEDLLOVERRIDES and DISPLAY are exported,
# the prefix exists and is complete, its wineserver runs persistently and a
# private Xvfb serves DISPLAY. An EXIT trap (veltra_wine_cleanup) ends exactly
# what this file started: its Xvfb, by process id, and the wineserver of its
# prefix. A caller that needs its own EXIT trap calls veltra_wine_cleanup from it.
#
# VELTRA_WINEPREFIX chooses another prefix (default <repo>/build/wineprefix).
# Logs of Xvfb and of the prefix set-up go to <prefix>.logs/.

_veltra_repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

export WINEPREFIX=${VELTRA_WINEPREFIX:-$_veltra_repo/build/wineprefix}
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono or Gecko: their install dialogs would wait for an operator forever.
export WINEDLLOVERRIDES="mscoree,mshtml="

VELTRA_WINE_LOGS="${WINEPREFIX%/}.logs"
VELTRA_XVFB_PID=""
VELTRA_WINESERVER_STARTED=""

# Runs a Wine command with its output in the log folder and a deadline.
# Wine's background processes inherit the standard handles, so a pipe here
# could stay open long after the command itself has ended.
_veltra_wine_quiet() {
  local log="$VELTRA_WINE_LOGS/wine-setup.log"
  echo "+ $*" >>"$log"
  timeout 300 "$@" >>"$log" 2>&1 </dev/null
}

veltra_wine_cleanup() {
  if [ -n "$VELTRA_WINESERVER_STARTED" ]; then
    wineserver -k >/dev/null 2>&1 </dev/null || true
    # -w waits for this prefix's wineserver to be gone, so that a following
    # run does not meet a server that is still shutting down.
    wineserver -w >/dev/null 2>&1 </dev/null || true
    VELTRA_WINESERVER_STARTED=""
  fi
  if [ -n "$VELTRA_XVFB_PID" ]; then
    kill "$VELTRA_XVFB_PID" 2>/dev/null || true
    wait "$VELTRA_XVFB_PID" 2>/dev/null || true
    VELTRA_XVFB_PID=""
  fi
}

# Starts Xvfb on the first free display of :90..:199 and waits until it answers.
_veltra_start_xvfb() {
  local n deadline
  for n in $(seq 90 199); do
    if [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; then
      continue
    fi
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >"$VELTRA_WINE_LOGS/xvfb-$n.log" 2>&1 </dev/null &
    VELTRA_XVFB_PID=$!
    deadline=$((SECONDS + 20))
    while [ "$SECONDS" -lt "$deadline" ]; do
      if xdpyinfo -display ":$n" >/dev/null 2>&1; then
        export DISPLAY=":$n"
        return 0
      fi
      # Lost the display to someone who started at the same moment: next one.
      if ! kill -0 "$VELTRA_XVFB_PID" 2>/dev/null; then
        break
      fi
      sleep 0.1
    done
    kill "$VELTRA_XVFB_PID" 2>/dev/null || true
    wait "$VELTRA_XVFB_PID" 2>/dev/null || true
    VELTRA_XVFB_PID=""
  done
  echo "wine-env: no free X display in :90..:199 (see $VELTRA_WINE_LOGS)" >&2
  return 1
}

# Creates the prefix when it is missing or was left half-made by an earlier run.
_veltra_make_prefix() {
  local ready="$WINEPREFIX/.veltra-prefix-ready"
  if [ -f "$ready" ]; then
    return 0
  fi
  if [ -e "$WINEPREFIX" ]; then
    echo "wine-env: removing incomplete prefix $WINEPREFIX" >&2
    wineserver -k >/dev/null 2>&1 </dev/null || true
    rm -rf "$WINEPREFIX"
  fi
  echo "wine-env: creating prefix $WINEPREFIX" >&2
  mkdir -p "$(dirname "$WINEPREFIX")"
  _veltra_wine_quiet wine wineboot --init || return 1
  _veltra_wine_quiet wineserver -w || return 1
  # Without a window manager every hide or destroy of a top-level window
  # waits for an answer that never comes; unmanaged windows do not.
  _veltra_wine_quiet wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f || return 1
  _veltra_wine_quiet wineserver -w || return 1
  touch "$ready"
}

_veltra_wine_up() {
  local tool
  for tool in wine wineserver Xvfb xdpyinfo; do
    if ! command -v "$tool" >/dev/null 2>&1; then
      echo "wine-env: $tool not found; run scripts/setup.sh first" >&2
      return 1
    fi
  done
  mkdir -p "$VELTRA_WINE_LOGS" || return 1
  : >"$VELTRA_WINE_LOGS/wine-setup.log"

  trap veltra_wine_cleanup EXIT
  # Interrupted runs still clean up: exiting runs the EXIT trap.
  trap 'exit 130' INT
  trap 'exit 143' TERM

  _veltra_start_xvfb || return 1
  _veltra_make_prefix || return 1

  # A persistent wineserver keeps the prefix's system processes (services,
  # the desktop) alive between programs: each program then starts quickly,
  # and none of them inherits the output pipe of a test runner.
  if ! _veltra_wine_quiet wineserver -p; then
    # A server left over from an interrupted run holds the prefix: replace it
    # by a persistent one (it would be ended on exit all the same).
    echo "wine-env: restarting the wineserver already running for $WINEPREFIX" >&2
    _veltra_wine_quiet wineserver -k || true
    _veltra_wine_quiet wineserver -w || true
    _veltra_wine_quiet wineserver -p || return 1
  fi
  VELTRA_WINESERVER_STARTED=1
  _veltra_wine_quiet wine cmd /c exit || return 1
}

_veltra_wine_up || {
  veltra_wine_cleanup
  return 1
}
