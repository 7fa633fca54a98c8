"""Start-up, the ready line, and an orderly stop."""

import argparse
import copy
import hashlib
import json
import os
import select
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading

from . import log
from .config import DEFAULT_CONFIG, ConfigError, merged_config
from .control import ControlServer
from .log import vlog
from .server import ConnTracker, DeviceServer
from .state import DeviceState


def make_cert(dirpath):
    key = os.path.join(dirpath, "key.pem")
    crt = os.path.join(dirpath, "cert.pem")
    cmd = ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
           "-keyout", key, "-out", crt, "-days", "30", "-sha256",
           "-subj", "/CN=device.test",
           "-addext", "subjectAltName=DNS:device.test,IP:127.0.0.1"]
    r = subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, timeout=120)
    if r.returncode != 0:
        raise RuntimeError("openssl failed: %s"
                           % r.stderr.decode("utf-8", "replace").strip())
    return crt, key


def write_ready_file(path, text_):
    d = os.path.dirname(os.path.abspath(path))
    fd, tmp = tempfile.mkstemp(prefix=".devsim-ready-", dir=d)
    try:
        with os.fdopen(fd, "w") as f:
            f.write(text_ + "\n")
            f.flush()
            os.fsync(f.fileno())
        os.replace(tmp, path)
    except BaseException:
        try:
            os.unlink(tmp)
        except OSError:
            pass
        raise


class App:
    def __init__(self, args):
        self.args = args
        self.stop_requested = False
        self.wake_r, self.wake_w = socket.socketpair()
        self.wake_w.setblocking(False)
        self.ready_info = {}
        self.cert_pem = b""
        self.state = None
        # The certificate the device ports present: "first" (the one made
        # or given at start-up) or "second" (made when first asked for), as
        # a replaced device, or another host in its place, would.
        self.ctx = None
        self.certdir = None
        self.certs = {}
        self.cert_lock = threading.Lock()
        self.active_cert = "first"

    def use_cert(self, which):
        """Presents `which` ("first" or "second") on every new connection;
        connections kept alive keep the certificate they were made with."""
        if which not in ("first", "second"):
            raise ValueError('"use" must be "first" or "second"')
        with self.cert_lock:
            if which not in self.certs:
                d = os.path.join(self.certdir, "second")
                os.mkdir(d)
                self.certs[which] = make_cert(d)
            crt, key = self.certs[which]
            self.ctx.load_cert_chain(crt, key)
            with open(crt, "rb") as f:
                self.cert_pem = f.read()
            self.active_cert = which
        vlog("presenting the %s certificate" % which)

    def cert_sha256(self):
        """The active certificate's SHA-256 as upper-case hex pairs joined by
        colons."""
        with self.cert_lock:
            der = ssl.PEM_cert_to_DER_cert(self.cert_pem.decode("ascii"))
        digest = hashlib.sha256(der).hexdigest().upper()
        return ":".join(digest[i:i + 2] for i in range(0, len(digest), 2))

    def request_stop(self, *_):
        self.stop_requested = True
        try:
            self.wake_w.send(b"\0")
        except OSError:
            pass

    def run(self):
        args = self.args
        for sig in (signal.SIGTERM, signal.SIGINT):
            signal.signal(sig, self.request_stop)
        signal.set_wakeup_fd(self.wake_w.fileno())

        config = copy.deepcopy(DEFAULT_CONFIG)
        if args.config:
            try:
                with open(args.config, "r", encoding="utf-8") as f:
                    config = merged_config(config, json.load(f))
            except (OSError, ValueError) as e:
                raise RuntimeError("--config %s: %s" % (args.config, e))
        if args.files_dir:
            config["files_dir"] = os.path.abspath(args.files_dir)
        self.state = DeviceState(config)

        ports = args.port or [0]
        nonzero = [p for p in ports if p]
        if len(set(nonzero)) != len(nonzero):
            raise RuntimeError("a port is given twice")
        if args.ready_file:
            try:
                os.unlink(args.ready_file)
            except FileNotFoundError:
                pass

        servers, threads = [], []
        control = None
        tracker = ConnTracker()
        try:
            self.certdir = tempfile.mkdtemp(prefix="devsim-cert-")
            if args.cert:
                crt, key = args.cert, args.key or args.cert
            else:
                crt, key = make_cert(self.certdir)
            self.certs["first"] = (crt, key)
            with open(crt, "rb") as f:
                self.cert_pem = f.read()
            ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            ctx.minimum_version = ssl.TLSVersion.TLSv1_2
            ctx.load_cert_chain(crt, key)
            self.ctx = ctx
            if args.second_cert:
                self.use_cert("second")

            for p in ports:
                try:
                    servers.append(DeviceServer(p, self.state, ctx, tracker))
                except OSError as e:
                    raise RuntimeError("cannot listen on 127.0.0.1:%d: %s"
                                       % (p, e.strerror or e))
            try:
                control = ControlServer(args.control_port, self)
            except OSError as e:
                raise RuntimeError("cannot listen on control port 127.0.0.1:%d: %s"
                                   % (args.control_port, e.strerror or e))
            for srv in servers + [control]:
                t = threading.Thread(target=srv.serve_forever,
                                     kwargs={"poll_interval": 0.1},
                                     name="serve-%d" % srv.port, daemon=True)
                t.start()
                threads.append((srv, t))

            self.ready_info = {"ports": [s.port for s in servers],
                               "control_port": control.port,
                               "pid": os.getpid()}
            line = json.dumps(self.ready_info)
            if args.ready_file:
                write_ready_file(args.ready_file, line)
            try:
                sys.stdout.write(line + "\n")
                sys.stdout.flush()
            except (OSError, ValueError):
                pass
            vlog("ready: %s" % line)

            while not self.stop_requested:
                try:
                    select.select([self.wake_r], [], [])
                    self.wake_r.recv(64)
                except InterruptedError:
                    pass
            vlog("stopping")
        finally:
            self.state.stop()
            stoppers = [threading.Thread(target=srv.shutdown)
                        for srv, _ in threads]
            for t in stoppers:
                t.start()
            for t in stoppers:
                t.join(5)
            for srv in servers + ([control] if control else []):
                srv.server_close()
            tracker.abort_all()
            tracker.wait_empty(3.0)
            if self.certdir:
                shutil.rmtree(self.certdir, ignore_errors=True)
            if args.ready_file and self.ready_info:
                try:
                    os.unlink(args.ready_file)
                except OSError:
                    pass
            signal.set_wakeup_fd(-1)
        return 0


def parse_args(argv):
    ap = argparse.ArgumentParser(
        description="HTTPS device simulator for launcher tests (loopback only).")
    ap.add_argument("--port", type=int, action="append", default=[],
                    help="HTTPS port on 127.0.0.1 (repeatable; 0 = free port; "
                         "default: one free port)")
    ap.add_argument("--control-port", type=int, default=0,
                    help="plain-HTTP control port on 127.0.0.1 (0 = free port)")
    ap.add_argument("--config", help="initial config JSON file")
    ap.add_argument("--files-dir", help="folder with jre/ and lib/ subfolders")
    ap.add_argument("--ready-file",
                    help="also write the ready JSON line to this file "
                         "(atomically); removed again at exit")
    ap.add_argument("--cert", help="use this PEM certificate instead of "
                                   "generating a self-signed one")
    ap.add_argument("--key", help="PEM private key for --cert "
                                  "(default: same file as --cert)")
    ap.add_argument("--second-cert", action="store_true",
                    help="present a second self-signed certificate from the "
                         "start (see POST /cert)")
    ap.add_argument("-v", "--verbose", action="store_true",
                    help="log to stderr (secrets redacted)")
    return ap.parse_args(argv)


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    log.VERBOSE = args.verbose
    try:
        return App(args).run()
    except (OSError, RuntimeError, ConfigError, ValueError,
            subprocess.SubprocessError) as e:
        sys.stderr.write("devsim: error: %s\n" % e)
        return 2

