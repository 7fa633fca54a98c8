#!/usr/bin/env bash
# Signing in scripts/make-installer.sh, against a throwaway certificate
# authority made here with openssl (a code-signing certificate and a
# time-stamping one), checked with osslsigncode verify:
#   1. without VELTRA_SIGN_PFX: one line on stderr says the build is
#      unsigned, and the MSI carries no signature;
#   2. with the PKCS#12 and its password file: the three programs as packed
#      in the MSI, the two in the zip and the MSI itself verify against the
#      authority with SHA-256; one changed byte in a signed program or in the
#      MSI fails verification; the build tree's programs stay as built; the
#      password shows in no command line, log or output of the script;
#   3. with VELTRA_SIGN_TIMESTAMP_URL (a local RFC 3161 server, openssl ts):
#      every signature carries a time-stamp that verifies;
#   4. a certificate that cannot be used fails the script, with a message
#      that names the cause, and leaves no MSI or zip: wrong password, a
#      missing PKCS#12 or password file, no password file named, a PEM
#      certificate instead of a PKCS#12, a time-stamp server that answers
#      with an error; a failed run also removes the packages an earlier run
#      left in the same folder.
# Prints the sizes of the unsigned, signed and time-stamped MSI.
#
# Needs the Release cross build in build/win64 (scripts/test.sh makes it) and
# the packages of scripts/setup.sh. Works in a temporary folder, which it
# removes, with the time-stamp server it starts, when it ends.
set -euo pipefail

cd "$(dirname "$0")/../.."
repo=$(pwd)
build="$repo/build/win64"

fail() {
  echo "test_signing: $*" >&2
  exit 1
}
for f in VeltraDynamicRemoteHMI.exe InstallSettings.exe 7z.dll version.txt; do
  [ -f "$build/$f" ] || fail "$build/$f is missing (make the Release cross build first)"
done
for tool in osslsigncode openssl msiextract python3; do
  command -v "$tool" >/dev/null || fail "$tool not found; run scripts/setup.sh"
done
osslsigncode=$(command -v osslsigncode)
version=$(tr -d '[:space:]' <"$build/version.txt")
name="VeltraDynamicRemoteHMI-$version-x64"
programs=(VeltraDynamicRemoteHMI.exe 7z.dll InstallSettings.exe)

tmp=$(mktemp -d)
tsa_pid=""
cleanup() {
  if [ -n "$tsa_pid" ]; then
    kill "$tsa_pid" 2>/dev/null || true
    wait "$tsa_pid" 2>/dev/null || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT

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

# --- A throwaway certificate authority ----------------------------------------------------

pki="$tmp/pki"
mkdir -p "$pki"
(
  cd "$pki"
  umask 077
  openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
    -subj "/CN=Veltra Test Root" -addext "basicConstraints=critical,CA:true" \
    -addext "keyUsage=critical,keyCertSign,cRLSign"
  # issue NAME EXTENDED-KEY-USAGE: a certificate of the authority's.
  issue() {
    openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=Veltra Test $1"
    printf '%s\n' "basicConstraints=CA:false" "keyUsage=critical,digitalSignature" \
      "extendedKeyUsage=$2" >"$1.ext"
    openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
      -extfile "$1.ext" -out "$1.pem"
  }
  issue codesign codeSigning
  issue tsa critical,timeStamping
  # A password with a blank, written as an editor or echo leaves it: with a
  # line end.
  printf 'test %s\n' "$(openssl rand -hex 12)" >password.txt
  printf 'not the password\n' >wrong-password.txt
  openssl pkcs12 -export -inkey codesign.key -in codesign.pem -certfile ca.pem \
    -name "Veltra Test codesign" -out codesign.p12 -passout file:password.txt
) >"$tmp/pki.log" 2>&1 || {
  cat "$tmp/pki.log" >&2
  fail "the test certificates could not be made"
}
password=$(head -n 1 "$pki/password.txt")

# --- A local RFC 3161 time-stamp server -------------------------------------------------

cat >"$pki/tsa.cnf" <<'CNF'
[tsa]
default_tsa = tsa_config
[tsa_config]
serial = tsa.serial
crypto_device = builtin
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512, sha1
accuracy = secs:1
ordering = no
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha256
CNF
echo 01 >"$pki/tsa.serial"
# Answers every POST with openssl ts's reply, except on /broken, which
# answers 500. Writes its port to the file "port" once it listens.
cat >"$tmp/tsa.py" <<'PY'
import http.server, os, subprocess, sys, tempfile

pki = sys.argv[1]


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        if self.path == "/broken":
            self.send_error(500)
            return
        with tempfile.TemporaryDirectory(dir=pki) as work:
            with open(os.path.join(work, "query"), "wb") as f:
                f.write(query)
            made = subprocess.run(
                ["openssl", "ts", "-reply", "-config", "tsa.cnf", "-queryfile",
                 os.path.join(work, "query"), "-inkey", "tsa.key", "-signer", "tsa.pem",
                 "-chain", "ca.pem", "-out", os.path.join(work, "reply")],
                cwd=pki, capture_output=True)
            if made.returncode != 0:
                sys.stderr.write(made.stderr.decode(errors="replace"))
                self.send_error(500)
                return
            with open(os.path.join(work, "reply"), "rb") as f:
                reply = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
with open(os.path.join(pki, "port.part"), "w") as f:
    f.write(str(server.server_address[1]))
os.replace(os.path.join(pki, "port.part"), os.path.join(pki, "port"))
server.serve_forever()
PY
python3 "$tmp/tsa.py" "$pki" 2>"$tmp/tsa.log" &
tsa_pid=$!
deadline=$((SECONDS + 20))
until [ -s "$pki/port" ]; do
  kill -0 "$tsa_pid" 2>/dev/null || {
    cat "$tmp/tsa.log" >&2
    fail "the time-stamp server ended"
  }
  [ "$SECONDS" -lt "$deadline" ] || fail "the time-stamp server did not listen within 20 s"
  sleep 0.1
done
tsa_url="http://127.0.0.1:$(cat "$pki/port")"

# --- Helpers ------------------------------------------------------------------------------

# osslsigncode, as make-installer runs it, with each command line kept.
mkdir -p "$tmp/bin"
cat >"$tmp/bin/osslsigncode" <<SH
#!/bin/sh
printf '%s\n' "\$*" >>"$tmp/osslsigncode-command-lines"
exec "$osslsigncode" "\$@"
SH
chmod +x "$tmp/bin/osslsigncode"

# package RUN [VARIABLE=VALUE...]: make-installer with only these signing
# variables, into $tmp/out/RUN; its stdout, stderr and exit code go to
# $tmp/runs/RUN.{out,err,rc}.
mkdir -p "$tmp/out" "$tmp/runs"
package() {
  local run=$1 rc=0
  shift
  env -u VELTRA_SIGN_PFX -u VELTRA_SIGN_PASSWORD_FILE -u VELTRA_SIGN_TIMESTAMP_URL \
    PATH="$tmp/bin:$PATH" "$@" \
    bash scripts/make-installer.sh --no-setup --no-build --out "$tmp/out/$run" \
    >"$tmp/runs/$run.out" 2>"$tmp/runs/$run.err" </dev/null || rc=$?
  echo "$rc" >"$tmp/runs/$run.rc"
}
exit_code() { cat "$tmp/runs/$1.rc"; }

# verify FILE [timestamped]: the file's signature verifies against the
# throwaway authority, with a SHA-256 digest (and a time-stamp that verifies).
verify() {
  local report
  report=$("$osslsigncode" verify -CAfile "$pki/ca.pem" -TSA-CAfile "$pki/ca.pem" -in "$1" \
    2>&1 </dev/null) || return 1
  grep -qi 'message digest algorithm *: *sha256' <<<"$report" || return 1
  if [ "${2:-}" = timestamped ]; then
    grep -q 'Timestamp Server Signature verification: ok' <<<"$report" || return 1
  fi
}
not_verify() { ! verify "$@"; }

# unpack RUN: the MSI's files into $tmp/unpacked/RUN/msi, the zip's into .../zip.
unpack() {
  local dir="$tmp/unpacked/$1"
  mkdir -p "$dir/msi" "$dir/zip"
  msiextract -C "$dir/msi" "$tmp/out/$1/$name.msi" >/dev/null
  python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' \
    "$tmp/out/$1/$name.zip" "$dir/zip"
}
in_msi() { echo "$tmp/unpacked/$1/msi/Veltra Dynamic Remote HMI/$2"; }
in_zip() { echo "$tmp/unpacked/$1/zip/$name/$2"; }

# flipped FILE OFFSET COPY: COPY is FILE with the byte at OFFSET inverted.
flipped() {
  python3 - "$@" <<'PY'
import sys
source, offset, target = sys.argv[1], int(sys.argv[2], 0), sys.argv[3]
data = bytearray(open(source, "rb").read())
data[offset] ^= 0xFF
open(target, "wb").write(data)
PY
}

size() { stat -c %s "$1"; }

one_line_unsigned() {
  [ "$(wc -l <"$tmp/runs/unsigned.err")" = 1 ] && grep -q UNSIGNED "$tmp/runs/unsigned.err"
}
# no_package RUN: the run's folder holds no MSI and no zip.
no_package() {
  [ -z "$(find "$tmp/out/$1" \( -name '*.msi' -o -name '*.zip' \) 2>/dev/null)" ]
}
# absent PATH...: the password is in none of these files.
absent() { ! grep -rqF -- "$password" "$@"; }

build_before=$(cd "$build" && sha256sum "${programs[@]}")

# --- 1. Unsigned --------------------------------------------------------------------------

echo "--- without VELTRA_SIGN_PFX"
package unsigned
check "make-installer succeeds" [ "$(exit_code unsigned)" = 0 ]
check "one line on stderr, saying the build is unsigned" one_line_unsigned
check "the MSI carries no signature" not_verify "$tmp/out/unsigned/$name.msi"

# --- 2. Signed ----------------------------------------------------------------------------

echo "--- signed with a PKCS#12 and its password file"
package signed VELTRA_SIGN_PFX="$pki/codesign.p12" VELTRA_SIGN_PASSWORD_FILE="$pki/password.txt"
check "make-installer succeeds" [ "$(exit_code signed)" = 0 ]
if [ "$(exit_code signed)" = 0 ]; then
  unpack signed
  for f in "${programs[@]}"; do
    check "$f in the MSI verifies" verify "$(in_msi signed "$f")"
  done
  for f in VeltraDynamicRemoteHMI.exe 7z.dll; do
    check "$f in the zip verifies" verify "$(in_zip signed "$f")"
  done
  check "the MSI verifies" verify "$tmp/out/signed/$name.msi"

  # One changed byte: in the launcher's DOS stub (covered by the PE hash) and
  # in the MSI's embedded cabinet (a stream the MSI hash covers).
  launcher=$(in_msi signed VeltraDynamicRemoteHMI.exe)
  flipped "$launcher" 0x50 "$tmp/launcher-changed.exe"
  check "the launcher with one byte changed fails verification" \
    not_verify "$tmp/launcher-changed.exe"
  cab=$(python3 -c 'import sys; print(open(sys.argv[1], "rb").read().find(b"MSCF"))' \
    "$tmp/out/signed/$name.msi")
  check "the MSI holds its cabinet" [ "$cab" -gt 0 ]
  flipped "$tmp/out/signed/$name.msi" $((cab + 100)) "$tmp/changed.msi"
  check "the MSI with one byte changed fails verification" not_verify "$tmp/changed.msi"
fi

# --- 3. Signed and time-stamped -----------------------------------------------------------

echo "--- signed and time-stamped (VELTRA_SIGN_TIMESTAMP_URL)"
package timestamped VELTRA_SIGN_PFX="$pki/codesign.p12" \
  VELTRA_SIGN_PASSWORD_FILE="$pki/password.txt" VELTRA_SIGN_TIMESTAMP_URL="$tsa_url/"
check "make-installer succeeds" [ "$(exit_code timestamped)" = 0 ]
if [ "$(exit_code timestamped)" = 0 ]; then
  unpack timestamped
  for f in "${programs[@]}"; do
    check "$f in the MSI carries a time-stamp that verifies" \
      verify "$(in_msi timestamped "$f")" timestamped
  done
  check "the MSI carries a time-stamp that verifies" \
    verify "$tmp/out/timestamped/$name.msi" timestamped
fi

# --- 4. Certificates that cannot be used --------------------------------------------------

echo "--- a certificate that cannot be used"
# run|what stderr names|variables (the PKCS#12 file, the password file, the
# time-stamp server; "-" leaves one unset)
cases=(
  "wrong-password|could not sign|$pki/codesign.p12|$pki/wrong-password.txt|-"
  "missing-pkcs12|VELTRA_SIGN_PFX|$pki/missing.p12|$pki/password.txt|-"
  "no-password-file|VELTRA_SIGN_PASSWORD_FILE|$pki/codesign.p12|-|-"
  "missing-password-file|VELTRA_SIGN_PASSWORD_FILE|$pki/codesign.p12|$pki/missing.txt|-"
  "pem-not-pkcs12|could not sign|$pki/codesign.pem|$pki/password.txt|-"
  "time-stamp-error|could not sign|$pki/codesign.p12|$pki/password.txt|$tsa_url/broken"
)
for c in "${cases[@]}"; do
  IFS='|' read -r run message pfx pass ts <<<"$c"
  vars=(VELTRA_SIGN_PFX="$pfx")
  [ "$pass" = - ] || vars+=(VELTRA_SIGN_PASSWORD_FILE="$pass")
  [ "$ts" = - ] || vars+=(VELTRA_SIGN_TIMESTAMP_URL="$ts")
  package "$run" "${vars[@]}"
  check "$run: make-installer fails" [ "$(exit_code "$run")" != 0 ]
  check "$run: stderr says \"$message\"" grep -q "make-installer: .*$message" "$tmp/runs/$run.err"
  check "$run: no MSI or zip" no_package "$run"
done

echo "--- the same in a folder where an earlier run left its packages"
cp -r "$tmp/out/unsigned" "$tmp/out/earlier"
package earlier VELTRA_SIGN_PFX="$pki/codesign.p12" \
  VELTRA_SIGN_PASSWORD_FILE="$pki/wrong-password.txt"
check "make-installer fails" [ "$(exit_code earlier)" != 0 ]
check "the earlier run's MSI and zip are gone" no_package earlier

# --- Everywhere ---------------------------------------------------------------------------

echo "--- the build tree and the password"
check "the build tree's programs are as built (the staged copies were signed)" \
  [ "$(cd "$build" && sha256sum "${programs[@]}")" = "$build_before" ]
check "osslsigncode was given the password file" \
  grep -qF -- "-readpass $pki/password.txt" "$tmp/osslsigncode-command-lines"
check "the password is on no command line of osslsigncode" \
  absent "$tmp/osslsigncode-command-lines"
check "the password is in no log, output or package" absent "$tmp/out" "$tmp/runs"

echo "--- MSI sizes"
for run in unsigned signed timestamped; do
  if [ -f "$tmp/out/$run/$name.msi" ]; then
    printf '  %-12s %9d bytes\n' "$run" "$(size "$tmp/out/$run/$name.msi")"
  fi
done

if [ "$failures" -gt 0 ]; then
  echo "test_signing: $failures check(s) failed"
  exit 1
fi
echo "test_signing: all checks passed"
