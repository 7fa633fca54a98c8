#!/usr/bin/env bash
# The installer under Wine's msiexec, in a Wine prefix of its own
# (build/wineprefix-installer), so that the other Wine tests never see an
# installed launcher:
#   0. the portable zip holds the program files as the MSI does;
#   1. a silent install of an older package (same binaries, version 0.9.0.0):
#      the files in Program Files, the Start-menu shortcut, one entry in
#      Add/Remove Programs with publisher, version and icon;
#   2. the installed launcher, started as the shortcut points, runs one whole
#      launch against the device simulator with the stand-in HMI; its window
#      at 96 and 144 DPI: screenshots in build/win64/screenshots, no control
#      outside the window and no caption clipped;
#   3. the current package upgrades it in place: one entry, the new version,
#      the image cache and an administrator's settings file untouched; at
#      install and upgrade the helper makes the cache's folders and sets
#      their access lists;
#   4. the older package over the newer one is refused with its message;
#   5. removal: no program file, no shortcut, no entry; cache and settings
#      stay;
#   6. a fleet install with PACKAGEFOLDER: the settings file holds the folder
#      (XML-escaped), the launcher starts in package mode showing it; and
#      PACKAGEFOLDER over an existing settings file changes only the value.
# Install and removal times go to build/installer-test/timings.txt.
#
# Needs the Release cross build in build/win64 (scripts/test.sh makes it):
# the launcher, 7z.dll, InstallSettings.exe and the stand-in's device
# archives (build/win64/standin-testdata). Everything it starts is ended
# before it returns.
set -euo pipefail

cd "$(dirname "$0")/../.."
repo=$(pwd)
build="$repo/build/win64"
out="$repo/build/installer-test"
rm -rf "$out"
mkdir -p "$out"

failures=0
check() { # check DESCRIPTION COMMAND...: one assertion
  local what=$1
  shift
  if "$@"; then
    echo "  ok    $what"
  else
    echo "  FAIL  $what"
    failures=$((failures + 1))
  fi
}
fail() {
  echo "test_installer: $*" >&2
  exit 1
}

# --- The packages -----------------------------------------------------------------

version=$(tr -d '[:space:]' <"$build/version.txt")
old_version=0.9.0.0
made=$(bash scripts/make-installer.sh --no-setup --no-build --out "$out/new") ||
  fail "the current package could not be made"
new_msi=$(sed -n 1p <<<"$made")
new_zip=$(sed -n 2p <<<"$made")
old_msi=$(bash scripts/make-installer.sh --no-setup --no-build --no-zip --out "$out/old" \
  --version "$old_version" | tail -n 1) || fail "the older package could not be made"
[ -d "$build/standin-testdata/jre" ] || fail "no stand-in device archives in $build/standin-testdata"

# A probe that reads the running launcher's window: its caption, the
# package-folder box and whether Import Package shows.
probe="$out/probe-window.exe"
cat >"$out/probe-window.c" <<'C'
#include <windows.h>
#include <stdio.h>

static void print(const char* key, HWND window) {
  wchar_t text[1024] = L"";
  char utf8[4096] = "";
  /* WM_GETTEXT itself: GetWindowTextW reads only the name a control of
     another process was created with. */
  if (window)
    SendMessageTimeoutW(window, WM_GETTEXT, 1024, (LPARAM)text, SMTO_ABORTIFHUNG, 5000, NULL);
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, NULL, NULL);
  printf("%s=%s\n", key, utf8);
}

int wmain(void) {
  /* The real DPI, as the launcher sees it. */
  SetProcessDPIAware();
  HWND form = FindWindowW(L"TLoginForm", NULL);
  if (!form)
    return 1;
  printf("visible=%d\n", IsWindowVisible(form) ? 1 : 0);
  print("caption", form);
  print("package-folder", GetDlgItem(form, 113));
  HWND import = GetDlgItem(form, 108);
  printf("import-visible=%d\n", import && (GetWindowLongW(import, GWL_STYLE) & WS_VISIBLE) ? 1 : 0);
  /* Every visible control inside the client area, and every caption of a
     label, a push button or a radio item within its control, in the
     control's own font: the ids that are not. */
  RECT client;
  GetClientRect(form, &client);
  /* The window's font is Tahoma 8 point; another process's font handle
     cannot be selected here, so the probe makes its own at the DPI. */
  HDC dc = GetDC(NULL);
  HFONT font = CreateFontW(-MulDiv(11, GetDeviceCaps(dc, LOGPIXELSY), 96), 0, 0, 0, FW_NORMAL,
                           FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                           L"Tahoma");
  HGDIOBJ previous = SelectObject(dc, font);
  printf("cut-off=");
  for (HWND child = GetWindow(form, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (!(GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE))
      continue;
    RECT box;
    GetWindowRect(child, &box);
    MapWindowPoints(NULL, form, (POINT*)&box, 2);
    int id = GetDlgCtrlID(child);
    int outside = box.left < 0 || box.top < 0 || box.right > client.right || box.bottom > client.bottom;
    wchar_t name[32] = L"", text[256] = L"";
    GetClassNameW(child, name, 32);
    LONG style = GetWindowLongW(child, GWL_STYLE);
    int captioned = (!lstrcmpiW(name, L"Button") && (style & 0xF) != BS_GROUPBOX) ||
                    (!lstrcmpiW(name, L"Static") && (style & 0x1F) != SS_OWNERDRAW);
    int clipped = 0;
    if (captioned && SendMessageTimeoutW(child, WM_GETTEXT, 256, (LPARAM)text, SMTO_ABORTIFHUNG,
                                         5000, NULL) && text[0]) {
      SIZE extent;
      GetTextExtentPoint32W(dc, text, lstrlenW(text), &extent);
      /* A button's frame and a radio item's mark take room beside the text. */
      int room = box.right - box.left;
      if (!lstrcmpiW(name, L"Button"))
        room -= (style & 0xF) == BS_RADIOBUTTON ? GetSystemMetrics(SM_CXMENUCHECK) + 4 : 6;
      clipped = extent.cx > room || extent.cy > box.bottom - box.top;
    }
    if (outside || clipped)
      printf("%d ", id);
  }
  printf("\n");
  SelectObject(dc, previous);
  DeleteObject(font);
  ReleaseDC(NULL, dc);
  return 0;
}
C
x86_64-w64-mingw32-gcc-posix -O2 -Wall -Wextra -municode -static -o "$probe" \
  "$out/probe-window.c" -lgdi32 >"$out/probe-build.log" 2>&1 || fail "the probe could not be built"

# The helper that gives the cache its access lists ran (this Wine keeps no
# access list: what it reads back is made from the Unix mode, so the lists
# themselves are checked by the Wine unit tests and decided on the fakes).
check_cache_secured() { # check_cache_secured WHEN
  # Deferred: it runs, and ends well, inside InstallFinalize's script.
  check "$1: the helper set the cache's access lists" awk '
    /Action start .*: InstallFinalize\./ { inside = 1 }
    inside && /Action ended .*: SecureCache\. Return value 1\./ { ran = 1 }
    /Action ended .*: InstallFinalize\./ { inside = 0 }
    END { exit !ran }' "$last_log"
  for f in JRECache LIBCache PackageCache JREImage LIBImage; do
    check "$1: the helper made $f" [ -d "$app_dir/$f" ]
  done
}

# --- Wine, its own prefix ---------------------------------------------------------------

export VELTRA_WINEPREFIX="$repo/build/wineprefix-installer"
# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh || fail "the Wine environment could not be set up"

program_dir="$WINEPREFIX/drive_c/Program Files/Veltra Dynamic Remote HMI"
# The Start menu of all users, as Windows puts a per-machine shortcut; this
# Wine puts it in the installing user's.
shortcuts=("$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Veltra Dynamic Remote HMI.lnk"
  "$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Veltra Dynamic Remote HMI.lnk")
# The shortcut that is there; empty when none is.
find_shortcut() {
  local s
  for s in "${shortcuts[@]}"; do
    [ -f "$s" ] && { echo "$s"; return 0; }
  done
  return 0
}
app_dir="$WINEPREFIX/drive_c/ProgramData/Veltra Dynamic Remote HMI"
settings="$app_dir/ApplicationSettings.xml"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

devsim_pid=""
launcher_pid=""
installer_cleanup() {
  if [ -n "$launcher_pid" ] && kill -0 "$launcher_pid" 2>/dev/null; then
    kill "$launcher_pid" 2>/dev/null || true
    wait "$launcher_pid" 2>/dev/null || true
  fi
  # The stand-in HMI, the launcher's windows: every Wine process of this prefix.
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "$devsim_pid" ]; then
    kill "$devsim_pid" 2>/dev/null || true
    wait "$devsim_pid" 2>/dev/null || true
  fi
  veltra_wine_cleanup
}
trap installer_cleanup EXIT

# run_msiexec ACTION MSI [PROPERTY=VALUE...]: msiexec, silent, with a log of
# its own; sets msi_rc (its exit code) and last_log.
msiexec_runs=0
msi_rc=""
last_log=""
run_msiexec() {
  local action=$1 msi=$2
  shift 2
  msiexec_runs=$((msiexec_runs + 1))
  last_log="$out/msiexec-$msiexec_runs.log"
  msi_rc=0
  wine msiexec "$action" "$(winepath -w "$msi")" /qn /l*v "$(winepath -w "$last_log")" "$@" \
    >>"$out/msiexec.out" 2>&1 </dev/null || msi_rc=$?
}

# Our entries in Add/Remove Programs, one line each:
# "version|publisher|icon|product code", the icon being the product icon the
# installer registered for it.
arp_entries() {
  wine reg query "$uninstall_key" /s >"$out/uninstall.reg" 2>/dev/null </dev/null || true
  wine reg query 'HKLM\Software\Classes\Installer\Products' /s >"$out/products.reg" 2>/dev/null \
    </dev/null || true
  python3 - "$out/uninstall.reg" "$out/products.reg" <<'PY'
import re, sys

def blocks(path):
    entries, key = {}, None
    for line in open(path, encoding="utf-8", errors="replace").read().splitlines():
        line = line.rstrip("\r")
        if line.startswith("HKEY_"):
            key = line
            entries[key] = {}
        elif key and line.strip():
            parts = re.split(r"\s{2,}|\t", line.strip(), maxsplit=2)
            if len(parts) >= 2:
                entries[key][parts[0]] = parts[2] if len(parts) == 3 else ""
    return entries

icons = {v.get("ProductName"): v.get("ProductIcon", "") for v in blocks(sys.argv[2]).values()}
for key, values in blocks(sys.argv[1]).items():
    if values.get("DisplayName") == "Veltra Dynamic Remote HMI":
        icon = values.get("DisplayIcon") or icons.get("Veltra Dynamic Remote HMI", "")
        print("%s|%s|%s|%s" % (values.get("DisplayVersion", ""), values.get("Publisher", ""), icon,
                               key.rsplit("\\", 1)[-1]))
PY
}
arp_versions() { arp_entries | cut -d'|' -f1; }

# The path a shortcut points to: the local base path of its link information.
shortcut_target() {
  python3 - "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
flags = struct.unpack_from("<I", data, 20)[0]
at = 76
if flags & 1:  # an item id list comes first
    at += 2 + struct.unpack_from("<H", data, at)[0]
if not flags & 2:
    sys.exit("no link information")
info = data[at:]
header = struct.unpack_from("<I", info, 4)[0]
if header >= 0x24:
    offset = struct.unpack_from("<I", info, 28)[0]
    end = offset
    while info[end:end + 2] != b"\0\0":
        end += 2
    print(info[offset:end].decode("utf-16-le"))
else:
    offset = struct.unpack_from("<I", info, 16)[0]
    print(info[offset:info.index(b"\0", offset)].decode("latin-1"))
PY
}

timings="$out/timings.txt"
: >"$timings"
timed_msiexec() { # timed_msiexec NAME ARGS...: run_msiexec ARGS, its time noted under NAME
  local name=$1 started=${EPOCHREALTIME/,/.}
  shift
  run_msiexec "$@"
  awk -v n="$name" -v a="$started" -v b="${EPOCHREALTIME/,/.}" \
    'BEGIN { printf "%s %.1f s\n", n, b - a }' >>"$timings"
}

# Nothing of ours from an earlier, interrupted run.
for code in $(arp_entries | cut -d'|' -f4); do
  wine msiexec /x "$code" /qn >>"$out/msiexec.out" 2>&1 </dev/null || true
done
rm -rf "$app_dir"

# --- 0. The portable zip ---------------------------------------------------------------

echo "portable zip"
check "the zip holds the launcher, 7z.dll and the notices as packed, in one folder" python3 -c '
import sys, zipfile
stage, zip_path = sys.argv[1], sys.argv[2]
folder = zip_path.rsplit("/", 1)[-1][:-len(".zip")]
names = ["VeltraDynamicRemoteHMI.exe", "7z.dll", "ThirdPartyNotices.txt"]
with zipfile.ZipFile(zip_path) as z:
    assert sorted(z.namelist()) == sorted(folder + "/" + n for n in names), z.namelist()
    for n in names:
        assert z.read(folder + "/" + n) == open(stage + "/" + n, "rb").read(), n
' "$out/new/stage" "$new_zip"

# --- 1. Install the older package -----------------------------------------------------

echo "install $old_version"
timed_msiexec "install" /i "$old_msi"
check "msiexec /i of $old_version succeeds" [ "$msi_rc" = 0 ]
for f in VeltraDynamicRemoteHMI.exe 7z.dll ThirdPartyNotices.txt InstallSettings.exe; do
  check "Program Files holds $f" [ -f "$program_dir/$f" ]
  check "$f is the one packed" cmp -s "$program_dir/$f" "$out/old/stage/$f"
done
check "ThirdPartyNotices.txt carries 7-Zip's licence" grep -q "GNU LGPL" "$program_dir/ThirdPartyNotices.txt"
shortcut=$(find_shortcut)
check "the Start-menu shortcut is there" [ -n "$shortcut" ]
target=""
[ -z "$shortcut" ] || target=$(shortcut_target "$shortcut" 2>>"$out/shortcut.log" || true)
check "the shortcut points at the installed launcher ($target)" \
  [ "$target" = 'C:\Program Files\Veltra Dynamic Remote HMI\VeltraDynamicRemoteHMI.exe' ]
check "one entry in Add/Remove Programs, version $old_version" [ "$(arp_versions)" = "$old_version" ]
entry=$(arp_entries)
check "the entry names the publisher ($entry)" [ "$(cut -d'|' -f2 <<<"$entry")" = Veltra ]
check "the entry has the product's icon" [ -n "$(cut -d'|' -f3 <<<"$entry")" ]
check "no settings file without PACKAGEFOLDER" [ ! -e "$settings" ]
check_cache_secured "install"

# --- 2. One launch of the installed launcher -----------------------------------------------

echo "launch of the installed launcher"
[ -n "$target" ] || fail "no shortcut target to start"
printf '{"autologin": "enabled"}\n' >"$out/devsim-config.json"
ready="$out/devsim-ready.json"
python3 tools/devsim/devsim.py --port 0 --control-port 0 --config "$out/devsim-config.json" \
  --files-dir "$build/standin-testdata" --ready-file "$ready" >"$out/devsim.out" \
  2>"$out/devsim.log" </dev/null &
devsim_pid=$!
deadline=$((SECONDS + 30))
until [ -s "$ready" ]; do
  kill -0 "$devsim_pid" 2>/dev/null || fail "the simulator ended at start-up (see $out/devsim.log)"
  [ "$SECONDS" -lt "$deadline" ] || fail "the simulator was not ready within 30 s"
  sleep 0.1
done
port=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["ports"][0])' "$ready")
journal="$out/standin-journal.txt"
work="$out/work"
mkdir -p "$work"
(cd "$work" && VELTRA_STANDIN_JOURNAL="Z:${journal//\//\\}" VELTRA_STANDIN_AUTO_ACCEPT=1 \
  VELTRA_STANDIN_LIFETIME_MS=60000 exec wine "$target" -host "127.0.0.1:$port" -autologin) \
  >"$out/launcher.log" 2>&1 </dev/null &
launcher_pid=$!
deadline=$((SECONDS + 90))
while kill -0 "$launcher_pid" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ]; do
  sleep 0.2
done
launch_rc=timeout
if ! kill -0 "$launcher_pid" 2>/dev/null; then
  launch_rc=0
  wait "$launcher_pid" || launch_rc=$?
  launcher_pid=""
fi
logged_in() { [ -f "$journal" ] && cut -f3 "$journal" | grep -qx logged-in; }
deadline=$((SECONDS + 15))
until logged_in || [ "$SECONDS" -ge "$deadline" ]; do sleep 0.2; done
check "the installed launcher closed itself after the launch (exit $launch_rc)" [ "$launch_rc" = 0 ]
check "the stand-in HMI was logged in" logged_in
check "the launch filled the image cache" [ -f "$app_dir/JREImage/v17.0.2.0/bin/javaw.exe" ]
# The stand-in keeps running after the launcher has gone: end it now.
wine taskkill /f /im javaw.exe >>"$out/taskkill.log" 2>&1 </dev/null || true
kill "$devsim_pid" 2>/dev/null || true
wait "$devsim_pid" 2>/dev/null || true
devsim_pid=""

# --- 2b. The window at 96 and 144 DPI -------------------------------------------------

# Screenshots of the installed launcher's window (download mode) at 100 %
# and 150 %, kept in build/win64/screenshots, and the probe's word on
# anything cut off.
shots="$build/screenshots"
mkdir -p "$shots"
set_dpi() {
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f \
    >>"$out/reg.log" 2>&1 </dev/null
  wine reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
    /v LogPixels /t REG_DWORD /d "$1" /f >>"$out/reg.log" 2>&1 </dev/null
}
# Captures X window $1 into $2 once two shots in a row are the same.
capture_settled() {
  local shot="$out/shot.png" previous="" current deadline=$((SECONDS + 20))
  while :; do
    import -window "$1" "$shot" 2>>"$out/import.log" || return 1
    current=$(identify -format '%#' "$shot")
    [ "$current" = "$previous" ] && break
    previous=$current
    [ "$SECONDS" -lt "$deadline" ] || break
    sleep 0.3
  done
  mv "$shot" "$2"
}
for dpi in 96 144; do
  set_dpi "$dpi"
  (cd "$work" && exec wine "$program_dir/VeltraDynamicRemoteHMI.exe") >"$out/launcher-$dpi.log" 2>&1 </dev/null &
  launcher_pid=$!
  probe_out=""
  deadline=$((SECONDS + 30))
  until probe_out=$(wine "$probe" 2>/dev/null </dev/null | tr -d '\r') &&
    grep -qx "visible=1" <<<"$probe_out"; do
    [ "$SECONDS" -lt "$deadline" ] || break
    sleep 0.3
  done
  echo "$probe_out" >"$out/probe-$dpi.txt"
  window_id=$(xwininfo -root -children 2>/dev/null |
    awk '/"Veltra Substation Gateway - Dynamic Remote HMI/ { print $1; exit }')
  rm -f "$shots/window-${dpi}dpi.png"
  [ -z "$window_id" ] || capture_settled "$window_id" "$shots/window-${dpi}dpi.png" || true
  check "a screenshot at $dpi DPI" [ -f "$shots/window-${dpi}dpi.png" ]
  check "nothing is cut off at $dpi DPI ($(grep '^cut-off=' <<<"$probe_out"))" \
    grep -qx "cut-off=" <<<"$probe_out"
  kill "$launcher_pid" 2>/dev/null || true
  wait "$launcher_pid" 2>/dev/null || true
  launcher_pid=""
  wine taskkill /f /im VeltraDynamicRemoteHMI.exe >>"$out/taskkill.log" 2>&1 </dev/null || true
done
set_dpi 96
if [ -f "$shots/window-96dpi.png" ] && [ -f "$shots/window-144dpi.png" ]; then
  w96=$(identify -format '%w' "$shots/window-96dpi.png")
  w144=$(identify -format '%w' "$shots/window-144dpi.png")
  ratio=$((w144 * 100 / w96))
  check "the window is half as wide again at 144 DPI (${w96} -> ${w144} pixels)" \
    test "$ratio" -ge 140 -a "$ratio" -le 160
fi

# --- 3. Upgrade --------------------------------------------------------------------------

echo "upgrade to $version"
# An administrator's own settings file: the upgrade has no PACKAGEFOLDER and
# must leave it byte for byte.
printf '<?xml version="1.0" encoding="ISO-8859-1"?>\r\n<Site name="Umspannwerk S\xfcd">\r\n  <PackageFolder baseURI="D:\\Pakete"/>\r\n</Site>\r\n' \
  >"$settings"
cp "$settings" "$out/settings-before.xml"
find "$app_dir" -path "$settings" -prune -o -type f -print | sort >"$out/cache-before.txt"
timed_msiexec "upgrade" /i "$new_msi"
check "msiexec /i of $version over $old_version succeeds" [ "$msi_rc" = 0 ]
check "one entry in Add/Remove Programs, version $version" [ "$(arp_versions)" = "$version" ]
check "the launcher is still in place" [ -f "$program_dir/VeltraDynamicRemoteHMI.exe" ]
check "the shortcut is still in place" [ -n "$(find_shortcut)" ]
check "the settings file is unchanged" cmp -s "$settings" "$out/settings-before.xml"
find "$app_dir" -path "$settings" -prune -o -type f -print | sort >"$out/cache-after.txt"
check "the image cache is unchanged" cmp -s "$out/cache-before.txt" "$out/cache-after.txt"
check_cache_secured "upgrade"

# --- 4. Downgrade ------------------------------------------------------------------------

echo "downgrade to $old_version"
run_msiexec /i "$old_msi"
check "msiexec /i of $old_version over $version fails (exit $msi_rc)" [ "$msi_rc" != 0 ]
# A silent run shows no message and this Wine logs none: the launch
# condition stopped it, and the package carries the message for the others.
check "the launch condition stopped it" grep -q "LaunchConditions. Return value 0" "$last_log"
check "the package carries the message" \
  bash -c "msiinfo export '$old_msi' LaunchCondition | grep -q 'A newer version of Veltra Dynamic Remote HMI is already installed'"
check "version $version stays installed, alone" [ "$(arp_versions)" = "$version" ]

# --- 5. Removal --------------------------------------------------------------------------

echo "removal"
timed_msiexec "removal" /x "$new_msi"
check "msiexec /x succeeds" [ "$msi_rc" = 0 ]
check "no program folder is left" [ ! -e "$program_dir" ]
check "no shortcut is left" [ -z "$(find_shortcut)" ]
check "no entry in Add/Remove Programs" [ -z "$(arp_versions)" ]
check "the settings file stays" cmp -s "$settings" "$out/settings-before.xml"
check "the image cache stays" [ -f "$app_dir/JREImage/v17.0.2.0/bin/javaw.exe" ]

# --- 6. Fleet install -----------------------------------------------------------------------

echo "fleet install with PACKAGEFOLDER"
rm -f "$settings"
# Blanks and XML's special characters. (Wine quotes an argument with blanks
# for msiexec, which then doubles a trailing backslash, and a double quote
# cannot be given at all: the trailing backslash is tried below, without
# blanks.)
folder='\\server\share\HMI packages & <fleet> '"'"'A'"'"
run_msiexec /i "$new_msi" "PACKAGEFOLDER=$folder"
check "msiexec /i with PACKAGEFOLDER succeeds" [ "$msi_rc" = 0 ]
check "the settings file was written" [ -f "$settings" ]
read_back=$(python3 -c '
import sys, xml.etree.ElementTree as ET
print(ET.parse(sys.argv[1]).getroot().find(".//PackageFolder").get("baseURI"))' "$settings" 2>&1 || true)
check "it holds the folder ($read_back)" [ "$read_back" = "$folder" ]
check "no temporary file is left beside it" \
  [ -z "$(find "$app_dir" -maxdepth 1 -name 'ApplicationSettings.xml.*')" ]

(cd "$work" && exec wine "$program_dir/VeltraDynamicRemoteHMI.exe") >"$out/launcher-package.log" 2>&1 </dev/null &
launcher_pid=$!
probe_out=""
deadline=$((SECONDS + 30))
# The window is made hidden and shown once its start-up steps are done.
until probe_out=$(wine "$probe" 2>/dev/null </dev/null | tr -d '\r') &&
  grep -qx "visible=1" <<<"$probe_out"; do
  [ "$SECONDS" -lt "$deadline" ] || break
  sleep 0.3
done
echo "$probe_out" >"$out/probe.txt"
check "the launcher shows the folder in its package-folder box" \
  grep -qxF "package-folder=$folder" <<<"$probe_out"
check "the launcher is in package mode (Import Package hidden)" grep -qx "import-visible=0" <<<"$probe_out"
check "the caption carries the version" grep -q "^caption=.* v$version\$" <<<"$probe_out"
kill "$launcher_pid" 2>/dev/null || true
wait "$launcher_pid" 2>/dev/null || true
launcher_pid=""
wine taskkill /f /im VeltraDynamicRemoteHMI.exe >>"$out/taskkill.log" 2>&1 </dev/null || true

# PACKAGEFOLDER over an existing settings file: only the value changes.
run_msiexec /x "$new_msi"
cp "$out/settings-before.xml" "$settings"
run_msiexec /i "$new_msi" 'PACKAGEFOLDER=E:\Süd\'
check "msiexec /i with PACKAGEFOLDER over an existing file succeeds" [ "$msi_rc" = 0 ]
expected=$(sed 's/D:\\Pakete/E:\\S\xfcd\\/' "$out/settings-before.xml" | tr -d '\r\n')
check "only the value changed, in the file's own encoding" \
  [ "$(tr -d '\r\n' <"$settings" | sed 's/>[[:space:]]*</></g')" = "$(sed 's/>[[:space:]]*</></g' <<<"$expected")" ]
run_msiexec /x "$new_msi"
check "the fleet install is removed again" [ "$msi_rc" = 0 ]

echo "timings:"
sed 's/^/  /' "$timings"
if [ "$failures" -gt 0 ]; then
  echo "test_installer: $failures check(s) failed (logs in $out)"
  exit 1
fi
echo "test_installer: all checks passed"
