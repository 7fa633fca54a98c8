#!/usr/bin/env python3
"""Measures the launcher's provisioning against the best tools on this machine.

Run by bench/run.sh, which builds everything and sets up Wine (WINEPREFIX,
DISPLAY and a running wineserver come from scripts/wine-env.sh). This script
makes the device's archives, serves them from the device simulator and runs
the launcher and its references in turns (A B C A B C ...), so that a change
in the machine's load falls on all of them alike. It writes every run to a
JSON file and prints one screen of figures.

Contenders:
  launcher      VeltraDynamicRemoteHMI.exe -autologin under Wine, the stand-in
                HMI as bin/javaw.exe in the JRE archive
  curl+7z       native curl -k with the same requests in one process (cookies
                kept in memory), then native 7z x of both archives
  WinHTTP       httpfloor.exe under the same Wine: the same requests, nothing
                else (the floor for the device conversation under Wine)
  bare window   barewindow.exe under the same Wine (the floor for start-up and
                memory)
  7z.dll        extractfloor.exe --mode extract under the same Wine: both
                archives through the same 7z.dll with the simplest callbacks
                (the floor for the launcher's extraction)
  write         extractfloor.exe --mode write: the same files, names and sizes
                from the archives, written without decompressing (the floor
                for creating the files under Wine)
"""

import argparse
import hashlib
import json
import os
import random
import shutil
import statistics
import subprocess
import sys
import time
import urllib.request
import zipfile
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent

# What the simulated device announces by default, and where the launcher puts
# the images of those archives under C:\ProgramData.
JRE_NAME = "jre_v_17.0.2.zip"
LIB_NAME = "lib_hmi_full_410_7_r.zip"
APP_FOLDER = "Veltra Dynamic Remote HMI"
JRE_CACHE = "JRECache/" + JRE_NAME
LIB_CACHE = "LIBCache/" + LIB_NAME
JRE_IMAGE = "JREImage/v17.0.2.0"
LIB_IMAGE = "LIBImage/v4.10/v410_0007"
LAUNCHER_CLASS = "TLoginForm"
BARE_CLASS = "BenchBareWindow"
TRUST_KEY = r"HKCU\SOFTWARE\Norwick\Energy\Automation\TLS"
FORM_TYPE = "Content-Type: application/x-www-form-urlencoded; charset=utf-8"
# Auto-login: empty user and password; the address field as the launcher fills it.
LOGIN_BODY = "sessID=&credential_0=&credential_1=&credential_2=127.0.0.1&destination=%2F"
RBF = "/cgi-bin/ReadBinaryFile.cgi"
COLD_REQUESTS = ["GET /info.cgi", "POST /LOGIN", "GET /cgi-bin/infoExt.cgi",
                 "POST " + RBF, "POST " + RBF, "POST /LOGOUT"]
WARM_REQUESTS = ["GET /info.cgi", "POST /LOGIN", "GET /cgi-bin/infoExt.cgi", "POST /LOGOUT"]
THROTTLED_REQUESTS = ["GET /info.cgi", "POST /LOGIN", "GET /cgi-bin/infoExt.cgi",
                      "POST " + RBF, "POST /LOGOUT"]
# The simulator's drip: the pause after each byte of a throttled answer.
DRIP_MS = 0.5
RUN_TIMEOUT = 300  # seconds for any one program run
LAUNCH_TIMEOUT = 120  # seconds for one launch, the HMI's part included
# Bump when the archive generator changes, so cached archives are made again.
GENERATOR_VERSION = 1


class BenchError(Exception):
    pass


def remove_tree(path):
    """Removes a folder and waits for the file system to finish with it. On a
    disk mounted with online discard (as virtual machines' often are) the
    blocks of a removed tree are discarded at the next journal commit: left
    pending, that work would land on whichever timed run comes next."""
    shutil.rmtree(path)
    os.sync()


def log(msg):
    print("bench: " + msg, file=sys.stderr, flush=True)


def windows_path(path):
    """A Linux path as Wine's drive Z: shows it."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


# --- The device's archives -----------------------------------------------------

def _text_block(rng, size):
    words = ["class", "module", "java", "lang", "object", "string", "value", "return", "public",
             "static", "final", "import", "package", "runtime", "native", "method", "field",
             "interface", "resource", "config", "gateway", "substation", "operator", "signal"]
    out = bytearray()
    while len(out) < size:
        line = " ".join(rng.choice(words) for _ in range(rng.randint(4, 12)))
        out += line.encode() + b";\n"
    return bytes(out[:size])


def make_tree(root, total_bytes, files, seed, fixed):
    """Writes `files` files of mixed sizes summing to about `total_bytes` under
    `root`. `fixed` maps relative paths to bytes that are written as they are
    and count among the files. The content is partly compressible: blocks of
    random bytes between blocks of text."""
    rng = random.Random(seed)
    root.mkdir(parents=True)
    for rel, data in fixed.items():
        (root / rel).parent.mkdir(parents=True, exist_ok=True)
        (root / rel).write_bytes(data)
    count = max(0, files - len(fixed))
    remaining = max(0, total_bytes - sum(len(d) for d in fixed.values()))
    if count == 0:
        return
    # Log-normal sizes: many small files, a few large ones, as in a runtime.
    weights = [rng.lognormvariate(0, 1.6) for _ in range(count)]
    scale = remaining / sum(weights)
    text = _text_block(rng, 1 << 20)
    dirs = max(1, count // 40)
    exts = [".jar", ".dll", ".dat", ".properties", ".class", ".txt"]
    for i, w in enumerate(weights):
        size = max(64, int(w * scale))
        d = i % dirs
        rel = Path("lib") / ("p%02d" % (d // 10)) / ("q%d" % (d % 10)) / (
            "f%05d%s" % (i, exts[i % len(exts)]))
        path = root / rel
        path.parent.mkdir(parents=True, exist_ok=True)
        with open(path, "wb") as f:
            left = size
            while left > 0:
                n = min(left, 16384)
                if rng.random() < 0.55:
                    f.write(rng.randbytes(n))
                else:
                    off = rng.randrange(0, len(text) - n)
                    f.write(text[off:off + n])
                left -= n


def pkgmaker_zip(out, tree):
    subprocess.run([sys.executable, str(REPO / "tools/pkgmaker/pkgmaker.py"), "zip", str(out),
                    "--tree", str(tree)], check=True, stdout=subprocess.DEVNULL)


def make_archives(args, standin, out):
    """The device's files_dir with both archives. Made again only when the
    sizes, counts, generator or stand-in change."""
    standin_bytes = standin.read_bytes()
    # The text blocks compress to about a tenth, the random ones not at all:
    # an archive comes out at about 0.65 of its content.
    ratio = 0.65
    recipe = {"jre_mib": args.jre_mib, "jre_files": args.jre_files, "lib_mib": args.lib_mib,
            "lib_files": args.lib_files, "generator": GENERATOR_VERSION,
            "standin": hashlib.sha256(standin_bytes).hexdigest()}
    key = hashlib.sha256(json.dumps(recipe, sort_keys=True).encode()).hexdigest()[:16]
    files_dir = out / "archives" / key
    stamp = files_dir / "recipe.json"
    if stamp.exists():
        return files_dir
    # Archives of other sizes are not kept: one set at a time.
    if files_dir.parent.exists():
        shutil.rmtree(files_dir.parent)
    log("making the device's archives in %s (JRE %.0f MiB / %d files, HMI %.0f MiB / %d files)"
        % (files_dir, args.jre_mib, args.jre_files, args.lib_mib, args.lib_files))
    trees = files_dir / "trees"
    make_tree(trees / "jre", int(args.jre_mib * (1 << 20) / ratio), args.jre_files, 1,
              {"bin/javaw.exe": standin_bytes})
    make_tree(trees / "lib", int(args.lib_mib * (1 << 20) / ratio), args.lib_files, 2,
              {"config-gui.jar": b"PK stand-in HMI binaries, benchmark build\n"})
    (files_dir / "jre").mkdir()
    (files_dir / "lib").mkdir()
    pkgmaker_zip(files_dir / "jre" / JRE_NAME, trees / "jre")
    pkgmaker_zip(files_dir / "lib" / LIB_NAME, trees / "lib")
    shutil.rmtree(trees)
    stamp.write_text(json.dumps(recipe, indent=1))
    return files_dir


def archive_facts(files_dir):
    facts = {}
    for kind, name in (("jre", JRE_NAME), ("lib", LIB_NAME)):
        path = files_dir / kind / name
        with zipfile.ZipFile(path) as z:
            infos = z.infolist()
        facts[kind] = {"name": name, "archive_bytes": path.stat().st_size,
                       "files": sum(1 for i in infos if not i.is_dir()),
                       "content_bytes": sum(i.file_size for i in infos)}
    return facts


# --- The device simulator --------------------------------------------------------

class Device:
    def __init__(self, out, files_dir):
        self.out = out
        ready = out / "devsim-ready.json"
        if ready.exists():
            ready.unlink()
        config = out / "devsim-config.json"
        config.write_text('{"autologin": "enabled"}\n')
        self.log_file = open(out / "devsim.log", "wb")
        self.proc = subprocess.Popen(
            [sys.executable, str(REPO / "tools/devsim/devsim.py"), "--port", "0",
             "--control-port", "0", "--config", str(config), "--files-dir", str(files_dir),
             "--ready-file", str(ready)],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=self.log_file)
        deadline = time.time() + 30
        while not (ready.exists() and ready.stat().st_size > 0):
            if self.proc.poll() is not None:
                raise BenchError("the device simulator ended at start-up (see %s)"
                                 % (out / "devsim.log"))
            if time.time() > deadline:
                raise BenchError("the device simulator was not ready within 30 s")
            time.sleep(0.05)
        info = json.loads(ready.read_text())
        self.port = info["ports"][0]
        self.control = "http://127.0.0.1:%d" % info["control_port"]
        self.files_dir = files_dir
        # Loopback only: no proxy from the environment may take these requests.
        self.opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
        self.seen = 0

    def _call(self, path, body=None):
        data = None if body is None else json.dumps(body).encode()
        req = urllib.request.Request(self.control + path, data=data,
                                     method="GET" if body is None else "POST")
        with self.opener.open(req, timeout=30) as r:
            return json.load(r)

    def configure(self, patch):
        self._call("/config", patch)

    def new_requests(self):
        """The requests since the last call, as (method path, time) pairs."""
        entries = self._call("/requests?since=%d" % self.seen)
        if entries:
            self.seen = entries[-1]["seq"] + 1
        return [(e["method"] + " " + e["path"].split("?", 1)[0], e["time"]) for e in entries]

    def stop(self):
        if self.proc.poll() is None:
            try:
                self._call("/shutdown", {})
            except OSError:
                pass
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.log_file.close()


def check_requests(who, seen, expected):
    names = [n for n, _ in seen]
    if names != expected:
        raise BenchError("%s: the device saw %s, expected %s" % (who, names, expected))


def request_times(seen):
    """Offsets of the requests by name; file reads numbered in order."""
    times, reads = {}, 0
    for name, t in seen:
        if name.endswith(RBF):
            reads += 1
            times["read_%d" % reads] = t
        else:
            times[name.split()[1].rsplit("/", 1)[-1].replace(".cgi", "")] = t
    return times


# --- Running programs ----------------------------------------------------------------

class Timed:
    """A program run under /usr/bin/time, for its exit code, wall time and
    maximum resident set (for a Wine program: the Windows process itself, as
    the wine loader execs into it)."""

    def __init__(self, argv, log_path, cwd=None, env=None, stdout_path=None):
        self.time_file = Path(str(log_path) + ".time")
        self.log_path = log_path
        out = open(stdout_path, "wb") if stdout_path else open(log_path, "wb")
        err = open(log_path, "ab") if stdout_path else subprocess.STDOUT
        self.start = time.time()
        self.proc = subprocess.Popen(["/usr/bin/time", "-f", "%e %M", "-o", str(self.time_file)]
                                     + [str(a) for a in argv], cwd=cwd, env=env,
                                     stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        out.close()
        if err is not subprocess.STDOUT:
            err.close()

    def wait(self, timeout=RUN_TIMEOUT):
        try:
            self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise BenchError("%s did not end within %d s (log: %s)"
                             % (self.proc.args[5], timeout, self.log_path))
        self.end = time.time()
        lines = self.time_file.read_text().split("\n")
        last = [ln for ln in lines if ln.strip()][-1].split()
        self.max_rss_kib = int(last[1])
        self.code = self.proc.returncode
        return self.code

    def kill(self):
        """Ends the program this run started (the child of /usr/bin/time), by id."""
        try:
            children = Path("/proc/%d/task/%d/children" % (self.proc.pid, self.proc.pid))
            for pid in children.read_text().split():
                os.kill(int(pid), 9)
        except OSError:
            pass
        self.proc.wait()


class Bench:
    def __init__(self, args):
        self.args = args
        self.out = Path(args.out).resolve()
        self.build = Path(args.build).resolve()
        self.probes = Path(args.probes).resolve()
        self.exe = self.build / "VeltraDynamicRemoteHMI.exe"
        prefix = os.environ.get("WINEPREFIX")
        if not prefix:
            raise BenchError("WINEPREFIX is not set: run bench/run.sh")
        self.app = Path(prefix) / "drive_c" / "ProgramData" / APP_FOLDER
        self.work = self.out / "work"
        self.logs = self.out / "logs"
        # Where the references and the floors write their files (the
        # launcher writes into the Wine prefix).
        self.scratch = Path(args.scratch).resolve() if args.scratch else self.out
        self.ref = self.scratch / "reference"
        self.journal = self.out / "standin-journal.txt"
        self.runs = {}
        self.device = None

    # -- helpers

    def env(self):
        env = dict(os.environ)
        # The stand-in HMI answers its certificate prompt by itself and ends
        # soon after the launcher has typed into it; its journal stays outside
        # the JRE image, so the image holds only what was extracted.
        env.update({"VELTRA_STANDIN_AUTO_ACCEPT": "1", "VELTRA_STANDIN_PROMPT_MS": "100",
                    "VELTRA_STANDIN_LIFETIME_MS": "3000",
                    "VELTRA_STANDIN_JOURNAL": windows_path(self.journal)})
        return env

    def logfile(self, name):
        return self.logs / name

    def wine_quiet(self, *argv):
        with open(self.logfile("wine-tools.log"), "ab") as f:
            subprocess.run(["wine", *argv], stdin=subprocess.DEVNULL, stdout=f, stderr=f,
                           timeout=120)

    def untrust(self):
        """Removes the HMI's trust record, so every launch meets the stand-in's
        certificate prompt as a first launch does (outside the timed part)."""
        self.wine_quiet("reg", "delete", TRUST_KEY, "/f")

    def clear_cache(self):
        if self.app.exists():
            remove_tree(self.app)

    def record(self, figure, who, run):
        self.runs.setdefault(figure, {}).setdefault(who, []).append(run)

    def start_probe(self, mode, cls, name, *extra):
        out = self.logfile(name + ".jsonl")
        out.write_bytes(b"")
        proc = Timed(["wine", self.probes / "winprobe.exe", mode, "--class", cls, *extra],
                     self.logfile(name + ".log"), stdout_path=out)
        deadline = time.time() + 60
        while b'"ready"' not in out.read_bytes():
            if proc.proc.poll() is not None:
                raise BenchError("the probe ended before it was ready (%s)" % out)
            if time.time() > deadline:
                proc.kill()
                raise BenchError("the probe was not ready within 60 s")
            time.sleep(0.01)
        return proc, out

    @staticmethod
    def probe_lines(path):
        return [json.loads(ln) for ln in path.read_text().splitlines() if ln.strip()]

    def launcher(self, name, *extra):
        self.work.mkdir(parents=True, exist_ok=True)
        return Timed(["wine", self.exe, "-host", "127.0.0.1:%d" % self.device.port, *extra],
                     self.logfile(name + ".log"), cwd=self.work, env=self.env())

    def finish_launcher(self, run, who, timeout=LAUNCH_TIMEOUT):
        # A launch that fails shows an error box and waits for an operator.
        code = run.wait(timeout)
        if code != 0:
            raise BenchError("%s exited with %d (log: %s)" % (who, code, run.log_path))
        self.wait_for_standin_exit()

    def wait_for_standin_exit(self):
        """The stand-in HMI that a launch started lives on after the launcher
        has gone; the next timed run starts once it has ended (each start and
        exit is a line of its journal)."""
        deadline = time.time() + 30
        while True:
            text = self.journal.read_text(errors="replace") if self.journal.exists() else ""
            if text.count("\tstart\t") <= text.count("\texit\t"):
                return
            if time.time() > deadline:
                raise BenchError("the stand-in HMI did not end within 30 s (%s)" % self.journal)
            time.sleep(0.05)

    @staticmethod
    def ctime(path):
        return path.stat().st_ctime_ns / 1e9

    def last_ctime(self, folder):
        times = [self.ctime(p) for p in folder.rglob("*") if p.is_file()]
        if not times:
            raise BenchError("nothing was extracted into %s" % folder)
        return max(times)

    # -- the contenders

    def launcher_cold(self):
        self.clear_cache()
        self.untrust()
        self.device.new_requests()
        run = self.launcher("launcher-cold", "-autologin")
        self.finish_launcher(run, "the launcher (cold)")
        seen = self.device.new_requests()
        check_requests("launcher cold", seen, COLD_REQUESTS)
        t = request_times(seen)
        jre_arch, lib_arch = self.ctime(self.app / JRE_CACHE), self.ctime(self.app / LIB_CACHE)
        jre_done, lib_done = self.last_ctime(self.app / JRE_IMAGE), self.last_ctime(
            self.app / LIB_IMAGE)
        return {"start_to_logout": t["LOGOUT"] - run.start,
                "start_to_first_request": t["info"] - run.start,
                "download_jre": jre_arch - t["read_1"], "extract_jre": jre_done - jre_arch,
                "download_lib": lib_arch - t["read_2"], "extract_lib": lib_done - lib_arch,
                "extract_both": jre_done - jre_arch + lib_done - lib_arch,
                "start_to_exit": run.end - run.start, "max_rss_kib": run.max_rss_kib,
                "requests": {k: v - run.start for k, v in t.items()}}

    def curl_requests(self, cold):
        """One curl process, the launcher's requests in its order; the cookie
        engine is on (-b '') and keeps the session cookie in memory only."""
        base = "https://127.0.0.1:%d" % self.device.port
        common = ["-k", "-s", "--noproxy", "*", "-b", ""]
        argv = ["curl"]

        def add(name, url, *opts, out="/dev/null"):
            if len(argv) > 1:
                argv.append("--next")
            argv.extend(common + list(opts) + ["-o", out, "-w",
                                               name + " %{http_code} %{time_total}\\n", url])
        add("info", base + "/info.cgi")
        add("login", base + "/LOGIN", "-H", FORM_TYPE, "--data-raw", LOGIN_BODY)
        add("infoext", base + "/cgi-bin/infoExt.cgi")
        if cold:
            add("read_jre", base + RBF, "-F", "file=/mnt/flash/hmi/jre/" + JRE_NAME,
                out=str(self.ref / JRE_NAME))
            add("read_lib", base + RBF, "-F", "file=/mnt/flash/hmi/lib/" + LIB_NAME,
                out=str(self.ref / LIB_NAME))
        add("logout", base + "/LOGOUT", "-X", "POST", "-H", FORM_TYPE, "--data-raw", "")
        return argv

    def parse_curl(self, path):
        times = {}
        for ln in path.read_text().splitlines():
            parts = ln.split()
            if len(parts) == 3 and parts[1].isdigit():
                if parts[1] != "200":
                    raise BenchError("curl: %s answered %s" % (parts[0], parts[1]))
                times[parts[0]] = float(parts[2])
        return times

    def seven_zip(self, archive, folder, name):
        run = Timed(["7z", "x", "-y", "-bd", "-o" + str(folder), archive],
                    self.logfile(name + ".log"))
        if run.wait() != 0:
            raise BenchError("7z x %s failed (log: %s)" % (archive, run.log_path))
        return run

    def curl_cold(self):
        if self.ref.exists():
            remove_tree(self.ref)
        self.ref.mkdir(parents=True)
        self.device.new_requests()
        stdout = self.logfile("curl-cold.out")
        curl = Timed(self.curl_requests(True), self.logfile("curl-cold.log"), stdout_path=stdout)
        if curl.wait() != 0:
            raise BenchError("curl failed (log: %s)" % curl.log_path)
        c = self.parse_curl(stdout)
        jre = self.seven_zip(self.ref / JRE_NAME, self.ref / "jre", "7z-jre")
        lib = self.seven_zip(self.ref / LIB_NAME, self.ref / "lib", "7z-lib")
        seen = self.device.new_requests()
        check_requests("curl cold", seen, COLD_REQUESTS)
        t = request_times(seen)
        return {"start_to_done": lib.end - curl.start, "start_to_logout": t["LOGOUT"] - curl.start,
                "start_to_first_request": t["info"] - curl.start,
                "download_jre": self.ctime(self.ref / JRE_NAME) - t["read_1"],
                "download_lib": self.ctime(self.ref / LIB_NAME) - t["read_2"],
                "curl_time_total": c,
                "extract_jre": jre.end - jre.start, "extract_lib": lib.end - lib.start,
                "extract_both": jre.end - jre.start + lib.end - lib.start,
                "max_rss_kib": max(curl.max_rss_kib, jre.max_rss_kib, lib.max_rss_kib),
                "requests": {k: v - curl.start for k, v in t.items()}}

    def floor_http(self, cold):
        folder = self.scratch / "floor"
        if folder.exists():
            remove_tree(folder)
        folder.mkdir(parents=True)
        name = "httpfloor-" + ("cold" if cold else "warm")
        self.device.new_requests()
        stdout = self.logfile(name + ".jsonl")
        run = Timed(["wine", self.probes / "httpfloor.exe", "--port", self.device.port, "--mode",
                     "cold" if cold else "warm", "--jre", JRE_NAME, "--lib", LIB_NAME, "--out",
                     windows_path(folder)], self.logfile(name + ".log"), stdout_path=stdout)
        if run.wait() != 0:
            raise BenchError("httpfloor.exe failed (see %s)" % stdout)
        lines = {d["name"]: d for d in self.probe_lines(stdout) if d["event"] == "request"}
        seen = self.device.new_requests()
        check_requests(name, seen, COLD_REQUESTS if cold else WARM_REQUESTS)
        t = request_times(seen)
        result = {"start_to_logout": t["LOGOUT"] - run.start,
                  "start_to_first_request": t["info"] - run.start,
                  "start_to_exit": run.end - run.start, "max_rss_kib": run.max_rss_kib,
                  "requests": {k: v - run.start for k, v in t.items()},
                  # From the probe's own start of its first request to the
                  # device's LOGOUT: the requests without Wine's process start.
                  "requests_phase": t["LOGOUT"] - lines["info"]["start"]}
        if cold:
            result["download_jre"] = self.ctime(folder / JRE_NAME) - t["read_1"]
            result["download_lib"] = self.ctime(folder / LIB_NAME) - t["read_2"]
            result["own_request_times"] = {
                k: v["end"] - v["start"] for k, v in lines.items()}
        return result

    def floor_extract(self, mode):
        """Both archives, as the device serves them, extracted (or only their
        files written) by extractfloor.exe; the times are the probe's own, from
        before the library is loaded (JRE) or the archive opened (HMI) to the
        last file closed, as the launcher's are from its archive's arrival to
        its last file."""
        folder = self.scratch / ("floor-" + mode)
        if folder.exists():
            remove_tree(folder)
        name = "extractfloor-" + mode
        stdout = self.logfile(name + ".jsonl")
        files = self.device.files_dir
        run = Timed(["wine", self.probes / "extractfloor.exe", "--mode", mode, "--dll",
                     windows_path(self.build / "7z.dll"), "--out", windows_path(folder),
                     windows_path(files / "jre" / JRE_NAME), windows_path(files / "lib" / LIB_NAME)],
                    self.logfile(name + ".log"), stdout_path=stdout)
        if run.wait() != 0:
            raise BenchError("extractfloor.exe --mode %s failed (see %s)" % (mode, stdout))
        lines = {d["n"]: d for d in self.probe_lines(stdout) if d["event"] == "archive"}
        result = {"extract_jre": lines[1]["end"] - lines[1]["start"],
                  "extract_lib": lines[2]["end"] - lines[2]["start"],
                  "open_jre": lines[1]["opened"] - lines[1]["start"],
                  "open_lib": lines[2]["opened"] - lines[2]["start"],
                  "start_to_exit": run.end - run.start, "max_rss_kib": run.max_rss_kib}
        result["extract_both"] = result["extract_jre"] + result["extract_lib"]
        remove_tree(folder)
        return result

    def launcher_warm(self):
        for p in (JRE_CACHE, LIB_CACHE, JRE_IMAGE + "/bin/javaw.exe", LIB_IMAGE + "/config-gui.jar"):
            if not (self.app / p).exists():
                raise BenchError("warm launch: the cache holds no %s" % p)
        self.untrust()
        self.device.new_requests()
        run = self.launcher("launcher-warm", "-autologin")
        self.finish_launcher(run, "the launcher (warm)")
        seen = self.device.new_requests()
        check_requests("launcher warm", seen, WARM_REQUESTS)
        t = request_times(seen)
        return {"start_to_logout": t["LOGOUT"] - run.start,
                "start_to_first_request": t["info"] - run.start,
                "start_to_exit": run.end - run.start, "max_rss_kib": run.max_rss_kib,
                "requests": {k: v - run.start for k, v in t.items()}}

    def curl_warm(self):
        self.device.new_requests()
        stdout = self.logfile("curl-warm.out")
        curl = Timed(self.curl_requests(False), self.logfile("curl-warm.log"), stdout_path=stdout)
        if curl.wait() != 0:
            raise BenchError("curl failed (log: %s)" % curl.log_path)
        self.parse_curl(stdout)
        seen = self.device.new_requests()
        check_requests("curl warm", seen, WARM_REQUESTS)
        t = request_times(seen)
        return {"start_to_logout": t["LOGOUT"] - curl.start,
                "start_to_first_request": t["info"] - curl.start,
                "start_to_exit": curl.end - curl.start, "max_rss_kib": curl.max_rss_kib,
                "requests": {k: v - curl.start for k, v in t.items()}}

    def window_run(self, who):
        """Start to window: a probe watches for the window's class, then reads
        the process's memory after a settling second and closes the window."""
        launcher = who == "launcher"
        cls = LAUNCHER_CLASS if launcher else BARE_CLASS
        probe, out = self.start_probe("window", cls, "probe-window-" + who, "--settle-ms", "1000",
                                      "--close", "--timeout", "60000")
        try:
            if launcher:
                run = self.launcher("launcher-window")  # no -autologin: it only starts
            else:
                run = Timed(["wine", self.probes / "barewindow.exe"],
                            self.logfile("barewindow.log"))
            probe.wait()
        except BaseException:
            probe.kill()
            raise
        code = run.wait()
        lines = {d["event"]: d for d in self.probe_lines(out)}
        if "window" not in lines or code != 0:
            raise BenchError("%s: no window or a failed exit (see %s)" % (who, out))
        w = lines["window"]
        result = {"start_to_window": w["exists"] - run.start,
                  "start_to_visible": w["visible"] - run.start,
                  "max_rss_kib": run.max_rss_kib}
        if "peak_working_set" in w:
            result["peak_working_set"] = w["peak_working_set"]
            result["working_set"] = w["working_set"]
        return result

    # -- responsiveness

    def drip_rate(self):
        """Bytes per second of the simulator's drip on this machine now,
        measured with curl on a small file."""
        sample = self.out / "throttled" / "jre" / "drip-sample.bin"
        sample.parent.mkdir(parents=True, exist_ok=True)
        sample.write_bytes(random.Random(3).randbytes(1500))
        self.device.configure({"files_dir": str(self.out / "throttled"),
                               "drip_ms": {RBF: DRIP_MS}})
        base = "https://127.0.0.1:%d" % self.device.port
        argv = ["curl", "-k", "-s", "--noproxy", "*", "-b", "", "-H", FORM_TYPE, "--data-raw",
                LOGIN_BODY, "-o", "/dev/null", base + "/LOGIN", "--next", "-k", "-s", "--noproxy",
                "*", "-b", "", "-F", "file=/mnt/flash/hmi/jre/drip-sample.bin", "-o", "/dev/null",
                "-w", "%{time_total}", base + RBF]
        out = subprocess.run(argv, check=True, capture_output=True, text=True, timeout=120).stdout
        self.device.configure({"files_dir": str(self.device.files_dir), "drip_ms": None})
        self.device.new_requests()
        return 1500 / float(out)

    def throttled_run(self, lib_size):
        """The launcher fetching only the HMI binaries archive, dripped by the
        simulator, while a probe sends its window WM_NULL every second."""
        for p in (JRE_CACHE, JRE_IMAGE + "/bin/javaw.exe"):
            if not (self.app / p).exists():
                raise BenchError("throttled run: the cache holds no %s" % p)
        for p in (self.app / LIB_CACHE, self.app / "LIBImage"):
            if p.is_dir():
                shutil.rmtree(p)
            elif p.exists():
                p.unlink()
        self.untrust()
        self.device.configure({"files_dir": str(self.out / "throttled"), "drip_ms": {RBF: DRIP_MS}})
        self.device.new_requests()
        probe = None
        try:
            probe, out = self.start_probe("respond", LAUNCHER_CLASS, "probe-respond-launcher",
                                          "--interval-ms", "1000", "--answer-ms", "100")
            run = self.launcher("launcher-throttled", "-autologin")
            self.finish_launcher(run, "the launcher (throttled download)",
                                 LAUNCH_TIMEOUT + 3 * self.args.throttle_s)
            probe.wait()
        except BaseException:
            if probe is not None:
                probe.kill()
            raise
        finally:
            self.device.configure({"files_dir": str(self.device.files_dir), "drip_ms": None})
        seen = self.device.new_requests()
        check_requests("launcher throttled", seen, THROTTLED_REQUESTS)
        t = request_times(seen)
        begin, end = t["read_1"], self.ctime(self.app / LIB_CACHE)
        probes = [d for d in self.probe_lines(out) if d["event"] == "probe"]
        during = [d for d in probes if begin <= d["time"] <= end]
        peaks = [d["peak_working_set"] for d in probes if "peak_working_set" in d]
        return {"download_s": end - begin, "archive_bytes": lib_size,
                "probes": len(during), "answered": sum(1 for d in during if d["answered"]),
                "errors": sorted({d["error"] for d in during if not d["answered"]}),
                "max_rss_kib": run.max_rss_kib,
                "peak_working_set": max(peaks) if peaks else None}

    def bare_responds(self, seconds):
        run = Timed(["wine", self.probes / "barewindow.exe"], self.logfile("barewindow-probed.log"))
        probe, out = self.start_probe("respond", BARE_CLASS, "probe-respond-bare", "--interval-ms",
                                      "1000", "--answer-ms", "100", "--duration-ms",
                                      str(int(seconds * 1000)), "--close")
        probe.wait()
        run.wait()
        probes = [d for d in self.probe_lines(out) if d["event"] == "probe"]
        return {"probes": len(probes), "answered": sum(1 for d in probes if d["answered"]),
                "max_rss_kib": run.max_rss_kib}

    # -- the whole run

    def rounds(self, figure, contenders, count):
        # Each round starts one contender later, so that none of them always
        # runs right after the same one: what a run leaves behind (files the
        # disk is still writing, a program still ending) falls on every
        # contender in turn.
        for i in range(count):
            shift = i % len(contenders)
            for who, fn in contenders[shift:] + contenders[:shift]:
                log("%s round %d/%d: %s" % (figure, i + 1, count, who))
                self.record(figure, who, fn())

    def run(self, files_dir, facts):
        a = self.args
        for d in (self.logs, self.work):
            d.mkdir(parents=True, exist_ok=True)
        # The stand-in appends to its journal; each benchmark starts a new one.
        if self.journal.exists():
            self.journal.unlink()
        self.device = Device(self.out, files_dir)
        load_before = os.getloadavg()
        started = time.time()
        try:
            log("warm-up round (not counted)")
            cold = [("launcher", self.launcher_cold), ("curl+7z", self.curl_cold),
                    ("WinHTTP", lambda: self.floor_http(True)),
                    ("7z.dll", lambda: self.floor_extract("extract")),
                    ("write", lambda: self.floor_extract("write"))]
            for _, fn in cold:
                fn()
            self.rounds("cold", cold, a.rounds)
            # The cold launch's floors include the bare window: its rounds run
            # whenever the cold ones do.
            if not a.skip_warm:
                self.rounds("warm", [("launcher", self.launcher_warm), ("curl", self.curl_warm),
                                     ("WinHTTP", lambda: self.floor_http(False))], a.rounds)
            self.rounds("window", [("launcher", lambda: self.window_run("launcher")),
                                   ("bare window", lambda: self.window_run("bare"))], a.rounds)
            if a.throttle_s > 0:
                rate = self.drip_rate()
                size = max(2048, int(rate * a.throttle_s))
                lib = self.out / "throttled" / "lib"
                tree = self.out / "throttled" / "tree"
                for p in (lib, tree):
                    if p.exists():
                        shutil.rmtree(p)
                tree.mkdir(parents=True)
                lib.mkdir(parents=True)
                (tree / "config-gui.jar").write_bytes(random.Random(4).randbytes(size))
                pkgmaker_zip(lib / LIB_NAME, tree)
                archive = (lib / LIB_NAME).stat().st_size
                log("throttled download: %d bytes at about %.0f B/s" % (archive, rate))
                for i in range(a.throttle_rounds):
                    log("responsiveness round %d/%d" % (i + 1, a.throttle_rounds))
                    r = self.throttled_run(archive)
                    r["drip_rate"] = rate
                    self.record("responsive", "launcher", r)
                    self.record("responsive", "bare window", self.bare_responds(r["download_s"]))
        finally:
            self.device.stop()
        return {"started": started, "seconds": time.time() - started,
                "loadavg_before": load_before, "loadavg_after": os.getloadavg(),
                "cpus": os.cpu_count(), "archives": facts,
                "settings": {"rounds": a.rounds, "throttle_s": a.throttle_s,
                             "skip_warm": a.skip_warm,
                             "file_systems": {"prefix": file_system(self.app.parent),
                                              "scratch": file_system(self.scratch)},
                             "throttle_rounds": a.throttle_rounds, "drip_ms": DRIP_MS},
                "runs": self.runs}


# --- Results ---------------------------------------------------------------------------

def source_state():
    """The commit that was built and how many tracked files differed from it:
    others may be changing the working tree while the benchmark builds."""
    def git(*argv):
        r = subprocess.run(["git", "-C", str(REPO), *argv], capture_output=True, text=True)
        return r.stdout if r.returncode == 0 else ""
    # Porcelain lines are two status letters, a blank and the path.
    changed = [ln[3:] for ln in git("status", "--porcelain", "--untracked-files=no").splitlines()
               if len(ln) > 3]
    return {"commit": git("rev-parse", "HEAD").strip(), "changed_files": changed}


def stats(values):
    values = [v for v in values if v is not None]
    if not values:
        return None
    return {"min": min(values), "median": statistics.median(values), "max": max(values),
            "n": len(values)}


# (figure id, title, run group, contenders with the key to read, unit)
FIGURES = [
    ("cold_total", "cold: start to LOGOUT", "cold",
     [("launcher", "start_to_logout"), ("curl+7z", "start_to_done"),
      ("WinHTTP", "start_to_logout")], "s"),
    ("cold_startup", "cold: start to 1st request", "cold",
     [("launcher", "start_to_first_request"), ("curl+7z", "start_to_first_request"),
      ("WinHTTP", "start_to_first_request")], "s"),
    ("download_jre", "cold: JRE download", "cold",
     [("launcher", "download_jre"), ("curl+7z", "download_jre"), ("WinHTTP", "download_jre")], "s"),
    ("extract_jre", "cold: JRE extraction", "cold",
     [("launcher", "extract_jre"), ("curl+7z", "extract_jre"), ("7z.dll", "extract_jre"),
      ("write", "extract_jre")], "s"),
    ("download_lib", "cold: HMI download", "cold",
     [("launcher", "download_lib"), ("curl+7z", "download_lib"), ("WinHTTP", "download_lib")], "s"),
    ("extract_lib", "cold: HMI extraction", "cold",
     [("launcher", "extract_lib"), ("curl+7z", "extract_lib"), ("7z.dll", "extract_lib"),
      ("write", "extract_lib")], "s"),
    ("extract_both", "cold: both extractions", "cold",
     [("launcher", "extract_both"), ("curl+7z", "extract_both"), ("7z.dll", "extract_both"),
      ("write", "extract_both")], "s"),
    ("warm_total", "warm: start to LOGOUT", "warm",
     [("launcher", "start_to_logout"), ("curl", "start_to_logout"),
      ("WinHTTP", "start_to_logout")], "s"),
    ("window", "start to window exists", "window",
     [("launcher", "start_to_window"), ("bare window", "start_to_window")], "s"),
    ("visible", "start to window visible", "window",
     [("launcher", "start_to_visible"), ("bare window", "start_to_visible")], "s"),
    ("mem_cold", "memory: cold launch", "cold",
     [("launcher", "max_rss_kib"), ("curl+7z", "max_rss_kib"), ("WinHTTP", "max_rss_kib"),
      ("7z.dll", "max_rss_kib"), ("write", "max_rss_kib")], "MiB"),
    ("mem_warm", "memory: warm launch", "warm",
     [("launcher", "max_rss_kib"), ("curl", "max_rss_kib"), ("WinHTTP", "max_rss_kib")], "MiB"),
    ("mem_idle", "memory: idle window", "window",
     [("launcher", "max_rss_kib"), ("bare window", "max_rss_kib")], "MiB"),
    ("ws_idle", "working set: idle (probe)", "window",
     [("launcher", "peak_working_set"), ("bare window", "peak_working_set")], "MiB"),
    ("mem_throttled", "memory: throttled download", "responsive",
     [("launcher", "max_rss_kib"), ("bare window", "max_rss_kib")], "MiB"),
]


def summarise(results):
    figures = {}
    for fid, title, group, contenders, unit in FIGURES:
        runs = results["runs"].get(group, {})
        rows = []
        for who, key in contenders:
            values = [r.get(key) for r in runs.get(who, [])]
            if unit == "MiB":
                scale = 1024.0 if key == "max_rss_kib" else float(1 << 20)
                values = [None if v is None else v / scale for v in values]
            s = stats(values)
            if s is not None:
                rows.append({"who": who, **s})
        if not rows or rows[0]["who"] != "launcher":
            continue
        base = rows[0]["median"]
        for row in rows[1:]:
            row["launcher_ratio"] = base / row["median"] if row["median"] else None
        figures[fid] = {"title": title, "unit": unit, "rows": rows}
    add_warm_goal(results, figures)
    add_cold_goal(results, figures)
    resp = results["runs"].get("responsive", {})
    if resp:
        figures["responsive"] = {
            "title": "window answers WM_NULL (100 ms) during a throttled download",
            "rows": [{"who": who, "answered": sum(r["answered"] for r in rs),
                      "probes": sum(r["probes"] for r in rs)} for who, rs in resp.items()],
            "download_s": [r["download_s"] for r in resp.get("launcher", [])]}
    return figures


def add_warm_goal(results, figures):
    """The warm launch's goal reference: a bare window program's start to its
    window on screen, plus the minimal WinHTTP program's four requests
    without its own process start."""
    warm = figures.get("warm_total")
    runs = results["runs"]
    visible = [r.get("start_to_visible") for r in runs.get("window", {}).get("bare window", [])]
    phase = [r.get("requests_phase") for r in runs.get("warm", {}).get("WinHTTP", [])]
    a, b = stats(visible), stats(phase)
    if not warm or a is None or b is None:
        return
    row = {"who": "window+reqs", "min": a["min"] + b["min"], "median": a["median"] + b["median"],
           "max": a["max"] + b["max"], "n": min(a["n"], b["n"])}
    row["launcher_ratio"] = warm["rows"][0]["median"] / row["median"] if row["median"] else None
    warm["rows"].append(row)


def add_cold_goal(results, figures):
    """The cold launch's floors added up: the bare window's start to visible,
    the WinHTTP program's six requests without its own process start, and
    the 7z.dll floor's extraction of both archives."""
    cold = figures.get("cold_total")
    runs = results["runs"]
    parts = [stats([r.get("start_to_visible") for r in runs.get("window", {}).get("bare window", [])]),
             stats([r.get("requests_phase") for r in runs.get("cold", {}).get("WinHTTP", [])]),
             stats([r.get("extract_both") for r in runs.get("cold", {}).get("7z.dll", [])])]
    if not cold or any(p is None for p in parts):
        return
    row = {"who": "floors", "n": min(p["n"] for p in parts)}
    for k in ("min", "median", "max"):
        row[k] = sum(p[k] for p in parts)
    row["launcher_ratio"] = cold["rows"][0]["median"] / row["median"] if row["median"] else None
    cold["rows"].append(row)


def file_system(path):
    """The type of the file system that holds `path` (ext4, tmpfs, ...)."""
    try:
        # Mounts stacked at one point come in the order they were made: the
        # last one is on top.
        found = subprocess.run(["findmnt", "-n", "-o", "FSTYPE", "-T", str(path)],
                               capture_output=True, text=True, timeout=10).stdout.split()
        return found[-1] if found else "?"
    except (OSError, subprocess.SubprocessError):
        return "?"


def table(results, figures):
    a = results["archives"]
    lines = []
    la, lb = results["loadavg_before"], results["loadavg_after"]
    lines.append("Launcher provisioning benchmark: %d interleaved rounds, %d CPUs, load %.1f -> %.1f,"
                 " %.0f s" % (results["settings"]["rounds"], results["cpus"], la[0], lb[0],
                              results["seconds"]))
    lines.append("JRE archive %.1f MiB (%d files, %.1f MiB unpacked), HMI archive %.1f MiB "
                 "(%d files, %.1f MiB)" % (
                     a["jre"]["archive_bytes"] / 2**20, a["jre"]["files"],
                     a["jre"]["content_bytes"] / 2**20, a["lib"]["archive_bytes"] / 2**20,
                     a["lib"]["files"], a["lib"]["content_bytes"] / 2**20))
    fs = results["settings"].get("file_systems", {})
    lines.append("Files written to: the launcher's cache on %s, the references' and floors' on %s"
                 % (fs.get("prefix", "?"), fs.get("scratch", "?")))
    src = results.get("source", {})
    lines.append("Built from %s%s" % (src.get("commit", "?")[:12], (
        " with %d changed files not yet committed" % len(src["changed_files"]))
        if src.get("changed_files") else ""))
    lines.append("")
    lines.append("%-33s %-12s %8s %8s %8s  %s" % ("figure", "who", "min", "median", "max",
                                                   "launcher/this"))
    for fid, _, _, _, _ in FIGURES:
        f = figures.get(fid)
        if not f:
            continue
        for i, row in enumerate(f["rows"]):
            title = (f["title"] + " (" + f["unit"] + ")") if i == 0 else ""
            ratio = row.get("launcher_ratio")
            fmt = "%8.3f" if f["unit"] == "s" else "%8.1f"
            lines.append("%-33s %-12s %s %s %s  %s" % (
                title, row["who"], fmt % row["min"], fmt % row["median"], fmt % row["max"],
                "" if ratio is None else "%.2fx" % ratio))
    r = figures.get("responsive")
    if r:
        durations = ", ".join("%.1f s" % d for d in r["download_s"])
        lines.append("%s (download %s):" % (r["title"], durations))
        lines.append("  " + "; ".join("%s %d of %d" % (row["who"], row["answered"], row["probes"])
                                      for row in r["rows"]))
    lines.append("")
    lines.extend([
        "Start: just before the program starts from Linux (Wine programs: Wine's own start included).",
        "window+reqs: the bare window's start to visible plus WinHTTP's four warm requests (from",
        "  its own first request's start to the device's LOGOUT), medians added.",
        "floors: the bare window's start to visible, WinHTTP's six cold requests (as above) and",
        "  7z.dll's extraction of both archives, medians added.",
        "7z.dll, write: extractfloor.exe, both archives in one process; its own clock from before",
        "  the library is loaded (JRE) or the archive opened (HMI) to its last file closed. write:",
        "  the same files created and written without decompressing (names read beforehand).",
        "LOGOUT, 1st request: the simulator's log time of that request. curl+7z: one curl process",
        "  with the six requests, then 7z x of each archive; its cold total ends with the 2nd 7z x.",
        "Download: the read request's log time to the downloaded file's change time, for all three",
        "  (the launcher renames its file into place when complete). Launcher extraction: from there",
        "  to the last change time in the image folder; 7z: its run time. File times: kernel ticks.",
        "Memory: maximum resident set (/usr/bin/time; for Wine the Windows process itself; curl+7z",
        "  the largest of its three); working set: GetProcessMemoryInfo by the probe 1 s after the",
        "  window showed. Ratio: the launcher's median over that row's median.",
    ])
    return "\n".join(lines)


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--build", required=True, help="the cross build with the launcher")
    p.add_argument("--probes", required=True, help="the build of bench/probes")
    p.add_argument("--standin", required=True, help="the stand-in HMI (javaw.exe)")
    p.add_argument("--out", required=True, help="results, logs and archives")
    p.add_argument("--jre-mib", type=float, default=30, help="JRE archive size, about (MiB)")
    p.add_argument("--jre-files", type=int, default=900, help="files in the JRE archive")
    p.add_argument("--lib-mib", type=float, default=6, help="HMI archive size, about (MiB)")
    p.add_argument("--lib-files", type=int, default=90, help="files in the HMI archive")
    p.add_argument("--rounds", type=int, default=5, help="interleaved rounds per figure")
    p.add_argument("--throttle-s", type=float, default=12,
                   help="length of the throttled download (0: skip)")
    p.add_argument("--throttle-rounds", type=int, default=1)
    p.add_argument("--scratch", help="where the references and floors write their files "
                   "(default: --out)")
    p.add_argument("--skip-warm", action="store_true",
                   help="no warm launches: a quicker run for the cold launch and the extraction")
    args = p.parse_args()

    out = Path(args.out).resolve()
    out.mkdir(parents=True, exist_ok=True)
    files_dir = make_archives(args, Path(args.standin), out)
    facts = archive_facts(files_dir)
    bench = Bench(args)
    source = source_state()
    results = bench.run(files_dir, facts)
    results["source"] = source
    results["figures"] = summarise(results)
    (out / "results.json").write_text(json.dumps(results, indent=1))
    print(table(results, results["figures"]))
    print("\nResults: %s" % (out / "results.json"))


if __name__ == "__main__":
    try:
        main()
    except BenchError as e:
        print("bench: FAILED: %s" % e, file=sys.stderr)
        sys.exit(1)
