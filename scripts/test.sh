#!/usr/bin/env bash
# The whole test run:
#   1. native build (AddressSanitizer + UBSan) and its unit tests;
#   2. cross build for 64-bit Windows and its tests, run under Wine and Xvfb;
#   3. a bounded fuzzing run (about 50 s) of the readers of outside input:
#      property sets, JSON answers, Set-Cookie headers, archive item paths,
#      compound files, params.txt and the command line;
#   4. the self-tests of the Python tools;
#   5. the installer under Wine's msiexec (tests/installer/test_installer.sh,
#      in a Wine prefix of its own);
#   6. the signed installer: programs and MSI signed with a throwaway
#      certificate and checked with osslsigncode
#      (tests/installer/test_signing.sh).
# Every step runs even when an earlier one failed (a step whose build failed
# counts as failed without running). The last line says how many steps passed
# and failed; the exit code is non-zero when any failed.
#
# Build trees live in build/native and build/win64 and are reused; the Wine
# prefix is build/wineprefix (see scripts/wine-env.sh).
set -uo pipefail

cd "$(dirname "$0")/.." || exit 1
repo=$(pwd)

jobs=2
passed=0
failed=0
results=()

# step NAME COMMAND...: runs one step and records its outcome and duration.
step() {
  local name=$1 start=$SECONDS rc
  shift
  echo
  echo "=== $name"
  "$@"
  rc=$?
  local took=$((SECONDS - start))
  if [ "$rc" -eq 0 ]; then
    passed=$((passed + 1))
    results+=("passed  ${took}s  $name")
  else
    failed=$((failed + 1))
    results+=("FAILED  ${took}s  $name (exit $rc)")
  fi
  return "$rc"
}

# A step that cannot run because what it needs failed.
not_run() {
  failed=$((failed + 1))
  results+=("FAILED  0s  $1 (not run: $2)")
}

native_build() {
  cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELTRA_SANITIZE=ON &&
    cmake --build build/native -j"$jobs"
}

native_tests() {
  (cd build/native && ctest --output-on-failure -j"$jobs" --timeout 600)
}

cross_build() {
  cmake -S . -B build/win64 -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" &&
    cmake --build build/win64 -j"$jobs"
}

# In a subshell, so that the Wine environment's EXIT trap ends its Xvfb and
# wineserver as soon as the tests are done.
wine_tests() {
  (
    # shellcheck source=scripts/wine-env.sh
    source scripts/wine-env.sh || exit 1
    # File systems of their own for the tests that need them (skipped where
    # nothing can be mounted): the launcher on a read-only one, as an
    # installed copy is to a standard user, and a small one that fills up.
    local readonly_bin small_disk
    readonly_bin=$(mktemp -d)
    small_disk=$(mktemp -d)
    trap 'veltra_wine_cleanup; umount "$readonly_bin" "$small_disk" 2>/dev/null;
          rmdir "$readonly_bin" "$small_disk"' EXIT
    if mount -t tmpfs -o size=64m tmpfs "$readonly_bin" 2>/dev/null; then
      cp build/win64/VeltraDynamicRemoteHMI.exe build/win64/7z.dll "$readonly_bin"/ &&
        mount -o remount,ro "$readonly_bin" &&
        export VELTRA_READONLY_PROGRAM_DIR="$readonly_bin"
    fi
    if mount -t tmpfs -o size=8m tmpfs "$small_disk" 2>/dev/null; then
      export VELTRA_SMALL_DISK="$small_disk"
    fi
    cd build/win64 && ctest --output-on-failure --timeout 600
  )
}

python_self_test() {
  python3 "$1"
}

# The readers of outside input on arbitrary bytes, each for a bounded time,
# starting from well-formed seeds. A finding stops that target and keeps the
# input that caused it in build/fuzz/artifacts/.
fuzz_targets() {
  CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELTRA_FUZZ=ON &&
    cmake --build build/fuzz -j"$jobs" --target fuzz_targets || return 1
  local seeds
  seeds=$(mktemp -d) || return 1
  mkdir -p "$seeds"/{propertyset,json,setcookie,itempath,compoundfile,params,commandline} \
    build/fuzz/artifacts
  python3 - "$seeds" <<'PY' || { rm -rf "$seeds"; return 1; }
import os, sys
sys.path.insert(0, "tools/pkgmaker")
import pkgmaker as p
seeds = sys.argv[1]
def seed(target, name, data):
    with open(os.path.join(seeds, target, name), "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())
props = [p.Prop(n, p.VT_LPSTR, v) for n, v in [
    ("timestamp", "2026-05-01T10:00:00Z"), ("compatibility level", "1"),
    ("package type", "VeltraDynamicRemoteHMIArchive"), ("jre version", "17.0.2.0"),
    ("product type", "full"), ("release version", "4.10")]]
props.append(p.Prop("count", p.VT_I4, 5))
propset = p.build_propset(props)
seed("propertyset", "package", propset)
seed("compoundfile", "package", p.build_cfb([("Contents", b"7z" * 3000),
                                             ("\x05DocumentSummaryInformation", propset)]))
seed("json", "info", '{"autologin": "enabled", "emergency": true}')
seed("json", "infoext", '{"build_version": "Veltra build 1234 Release 410 (2026-01-01)", '
     '"schema_version": "7", "hw_model": "Q614-B", "n": -1.5e+3, "a": [null, false, {}], '
     '"hmi_jre": "jre_v_17.0.2.zip", "hmi_jre": "again", "s": "\\u00e9\\ud83d\\ude00"}')
seed("setcookie", "session", "127.0.0.1\nR930::AuthCookieHandler_R930HMI=0123abcd; path=/; "
     "Secure; HttpOnly")
seed("setcookie", "planted", "127.0.0.1\nsid=1; path=/; Domain=0.1")
seed("setcookie", "parent", "gw.device.test\nsid=1; Path=/cgi-bin; Domain=.device.test")
seed("itempath", "plain", "jre/bin/javaw.exe")
seed("itempath", "backslash", "lib\\hmi\\..\\x.jar")
seed("params", "three", "1000\r\n600\r\nTrue\r\n")
seed("params", "bom", "\ufeff250\n100\n")
seed("params", "negative", "100\n-600")
# Arguments, program first, separated by NUL bytes.
seed("commandline", "all", "launcher.exe\0-host\0gw1\0-port\08443\0-username\0admin\0-autologin")
seed("commandline", "ports", "launcher.exe\0-port\0abc\0-port\0-2147483648\0-host")
seed("commandline", "values", "launcher.exe\0-username\0-autologin\0-host\0\0-host")
PY
  local rc=0 target seconds
  # Seconds per target: about 50 in all.
  for target in propertyset:10 json:8 setcookie:9 itempath:5 compoundfile:10 params:4 \
    commandline:4; do
    seconds=${target#*:}
    target=${target%%:*}
    echo "--- ${target}_fuzz, ${seconds} s"
    build/fuzz/"${target}"_fuzz -max_total_time="$seconds" -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix=build/fuzz/artifacts/"$target"- \
      "$seeds/$target" || rc=1
  done
  rm -rf "$seeds"
  return "$rc"
}

total_start=$SECONDS

if step "native build (sanitizers)" native_build; then
  step "native unit tests" native_tests
else
  not_run "native unit tests" "native build failed"
fi

cross_built=""
if step "cross build (win64)" cross_build; then
  cross_built=1
  step "Wine tests" wine_tests
else
  not_run "Wine tests" "cross build failed"
fi

step "fuzz: property sets, JSON, Set-Cookie, item paths, compound files, params.txt, command line (50 s)" \
  fuzz_targets

for t in tools/devsim/test_devsim.py tools/pkgmaker/test_pkgmaker.py; do
  if [ -f "$t" ]; then
    step "$t" python_self_test "$t"
  fi
done

# The MSI of the cross build: install, a launch from Program Files, upgrade,
# downgrade, removal, a fleet install, the window at two DPI.
installer_tests() {
  bash scripts/make-installer.sh --no-setup --no-build &&
    bash tests/installer/test_installer.sh
}
if [ "${cross_built:-}" = 1 ]; then
  step "installer (msiexec under Wine)" installer_tests
else
  not_run "installer (msiexec under Wine)" "cross build failed"
fi

# The signed MSI and zip: every program and the MSI verify against a
# throwaway authority; an unusable certificate fails the build.
signing_tests() {
  bash tests/installer/test_signing.sh
}
if [ "${cross_built:-}" = 1 ]; then
  step "installer signing (osslsigncode)" signing_tests
else
  not_run "installer signing (osslsigncode)" "cross build failed"
fi

echo
echo "=== summary (total $((SECONDS - total_start))s)"
for r in "${results[@]}"; do
  echo "  $r"
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
