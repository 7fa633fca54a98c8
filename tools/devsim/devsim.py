#!/usr/bin/env python3
"""devsim - HTTPS substation-gateway device simulator for launcher tests.

Serves the device endpoints (/info.cgi, /LOGIN, /cgi-bin/infoExt.cgi,
/cgi-bin/ReadBinaryFile.cgi, /LOGOUT) over HTTPS on one or more loopback
ports, and a plain-HTTP JSON control API on another loopback port.
Python 3 standard library only (plus the `openssl` CLI for the self-signed
certificate).  See README.md next to this file.
"""

import argparse
import base64
import copy
import http.server
import json
import os
import re
import secrets
import select
import shutil
import signal
import socket
import socketserver
import ssl
import stat
import struct
import subprocess
import sys
import tempfile
import threading
import time
import traceback
from urllib.parse import parse_qsl, urlsplit

COOKIE_NAME = "R930::AuthCookieHandler_R930HMI"
MISSING = "__missing__"
LOOPBACK = "127.0.0.1"

MAX_REQUEST_BODY = 64 * 1024 * 1024
CHUNK = 64 * 1024
HANDSHAKE_TIMEOUT = 10.0
IDLE_TIMEOUT = 120.0

DEFAULT_INFOEXT = {
    "build_version": "Veltra build 1234 Release 410 (2026-01-01)",
    "schema_version": "7",
    "hw_model": "Q614-B",
    "hmi_jre": "jre_v_17.0.2.zip",
    "hmi_lib": "lib_hmi_full_410_7_r.zip",
    "dynamic_hmi_enabled": MISSING,
}

DEFAULT_CONFIG = {
    "autologin": "disabled",
    "emergency": "false",
    "users": {"admin": "Adm1n-pw"},
    "emergency_code": "EMERG-123456",
    "login_status": None,
    "login_location": "/index.html",
    "info_raw": None,
    "infoext": {},
    "infoext_raw": None,
    "files_dir": None,
    "file_status": {},
    "delay_ms": {},
    "stall": {},
    "reset_mid_body": {},
    "huge_body": {},
    "garbage": {},
    "close_without_length": {},
    "chunked_cut": {},
    "endless_body": {},
    "drip_ms": {},
    "rate_bps": {},
    "cookie_domain": None,
    "info_members": 0,
}

# The misbehaviours that change how a body is framed or sent. At most one
# applies to an answer: the first of these that is set for the path.
FRAMING_KEYS = ("endless_body", "reset_mid_body", "close_without_length",
                "chunked_cut", "drip_ms", "rate_bps")

# A paced body goes out in pieces of this size, each when its time has come.
RATE_PIECE = 4096

DEFAULT_GARBAGE = (b"\xde\xad\xbe\xef NOT-HTTP \x00\x01\x02\x03 garbage "
                   b"\xff\xfe\xfd\xfc\r\n\r\n")

VERBOSE = False


def vlog(msg):
    """Diagnostics to stderr, only with -v.  Callers never pass secrets."""
    if VERBOSE:
        try:
            sys.stderr.write("devsim: %s\n" % msg)
            sys.stderr.flush()
        except (OSError, ValueError):
            pass


# --------------------------------------------------------------------------
# Configuration

class ConfigError(ValueError):
    pass


def _is_int(v):
    return isinstance(v, int) and not isinstance(v, bool)


def _is_num(v):
    return isinstance(v, (int, float)) and not isinstance(v, bool)


def _status_ok(v):
    return _is_int(v) and 200 <= v <= 599


def _map(key, value, ok, what):
    """Validate a path->value object.  Entries set to null/false/0 are
    stored as false: off for that path, even if "*" is set."""
    if not isinstance(value, dict):
        raise ConfigError("%s must be a JSON object" % key)
    out = {}
    for k, v in value.items():
        if not isinstance(k, str) or not k:
            raise ConfigError("%s keys must be non-empty strings" % key)
        if v is None or v is False or (_is_num(v) and v == 0):
            out[k] = False
            continue
        if not ok(v):
            raise ConfigError("%s[%r] must be %s" % (key, k, what))
        out[k] = v
    return out


def normalize(key, value):
    """Validate one top-level config value; null means 'default'."""
    if key not in DEFAULT_CONFIG:
        raise ConfigError("unknown config key %r (known: %s)"
                          % (key, ", ".join(sorted(DEFAULT_CONFIG))))
    if value is None:
        return copy.deepcopy(DEFAULT_CONFIG[key])
    if key in ("autologin", "emergency"):
        return value                      # any JSON value
    if key == "users":
        if not isinstance(value, dict) or not all(
                isinstance(v, str) for v in value.values()):
            raise ConfigError("users must be an object user -> password string")
        return dict(value)
    if key in ("emergency_code", "login_location", "info_raw", "infoext_raw",
               "cookie_domain"):
        if not isinstance(value, str):
            raise ConfigError("%s must be a string or null" % key)
        return value
    if key == "login_status":
        if not _status_ok(value):
            raise ConfigError("login_status must be null or an int 200..599")
        return value
    if key == "infoext":
        if not isinstance(value, dict):
            raise ConfigError("infoext must be a JSON object")
        return dict(value)
    if key == "files_dir":
        if not isinstance(value, str):
            raise ConfigError("files_dir must be a string or null")
        return os.path.abspath(value)
    if key == "file_status":
        return _map(key, value, _status_ok, "an int status 200..599")
    if key == "delay_ms":
        return _map(key, value, lambda v: _is_num(v) and v > 0,
                    "a number of milliseconds")
    if key == "stall":
        return _map(key, value, lambda v: v is True or (_is_num(v) and v > 0),
                    "true (until released/stopped) or milliseconds")
    if key == "reset_mid_body":
        return _map(key, value, lambda v: v is True, "true/false")
    if key == "huge_body":
        return _map(key, value, lambda v: _is_int(v) and v > 0,
                    "a byte count")
    if key == "garbage":
        return _map(key, value, lambda v: v is True or isinstance(v, str),
                    "true or a string")
    if key in ("close_without_length", "chunked_cut", "endless_body"):
        return _map(key, value, lambda v: v is True, "true/false")
    if key == "drip_ms":
        return _map(key, value, lambda v: _is_num(v) and v > 0,
                    "milliseconds between two bytes")
    if key == "rate_bps":
        return _map(key, value, lambda v: _is_num(v) and v >= 1,
                    "bytes per second")
    if key == "info_members":
        if not _is_int(value) or value < 0:
            raise ConfigError("info_members must be a member count (int >= 0)")
        return value
    raise ConfigError("unhandled key %r" % key)  # pragma: no cover


def merged_config(base, patch):
    if not isinstance(patch, dict):
        raise ConfigError("config must be a JSON object")
    new = copy.deepcopy(base)
    for k, v in patch.items():
        new[k] = normalize(k, v)
    return new


def per_path(mapping, path):
    """Look a request path up in a path->value object ("*" = all paths)."""
    if path in mapping:
        return mapping[path]
    return mapping.get("*")


def autologin_enabled(v):
    return v is True or (isinstance(v, str) and
                         v.strip().lower() in ("enabled", "true"))


def emergency_enabled(v):
    return v is True or (isinstance(v, str) and
                         v.strip().lower() in ("true", "enabled", "yes", "1"))


# --------------------------------------------------------------------------
# Shared device state

class DeviceState:
    def __init__(self, startup_config):
        self.cond = threading.Condition()
        self.startup = copy.deepcopy(startup_config)
        self.config = copy.deepcopy(startup_config)
        self.sessions = {}          # token -> user name
        self.requests = []
        self.seq = 0
        self.stopping = False

    def apply(self, patch):
        with self.cond:
            self.config = merged_config(self.config, patch)
            self.cond.notify_all()
            return copy.deepcopy(self.config)

    def reset(self):
        with self.cond:
            self.config = copy.deepcopy(self.startup)
            self.sessions.clear()
            self.requests = []
            self.seq = 0
            self.cond.notify_all()

    def snapshot(self):
        with self.cond:
            return copy.deepcopy(self.config)

    def record(self, entry):
        with self.cond:
            self.requests.append(dict({"seq": self.seq}, **entry))
            self.seq += 1

    def list_requests(self, since=0):
        with self.cond:
            return [e for e in self.requests if e["seq"] >= since]

    def new_session(self, user):
        token = secrets.token_hex(16)
        with self.cond:
            self.sessions[token] = user
        return token

    def session_valid(self, token):
        with self.cond:
            return token is not None and token in self.sessions

    def drop_session(self, token):
        with self.cond:
            return self.sessions.pop(token, None) is not None

    def stop(self):
        with self.cond:
            self.stopping = True
            self.cond.notify_all()

    def sleep(self, seconds):
        """Interruptible delay; False if the simulator is stopping."""
        deadline = time.monotonic() + seconds
        with self.cond:
            while not self.stopping:
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    return True
                self.cond.wait(remaining)
            return False

    def still_set(self, key, path):
        """True while the misbehaviour `key` is still configured for `path`
        and the simulator is not stopping."""
        with self.cond:
            return (not self.stopping
                    and bool(per_path(self.config[key], path)))

    def stall(self, path, deadline):
        """Block until the deadline passes (None = never), the stall for
        this path is removed from the config, or the simulator stops."""
        with self.cond:
            while True:
                if self.stopping:
                    return "stopped"
                if not per_path(self.config["stall"], path):
                    return "released"
                remaining = None
                if deadline is not None:
                    remaining = deadline - time.monotonic()
                    if remaining <= 0:
                        return "expired"
                self.cond.wait(remaining)


# --------------------------------------------------------------------------
# Helpers

class BodyError(Exception):
    def __init__(self, status, msg):
        Exception.__init__(self, msg)
        self.status = status


def parse_cookies(header_values):
    out = {}
    for hv in header_values:
        for piece in hv.split(";"):
            piece = piece.strip()
            if not piece:
                continue
            name, _, val = piece.partition("=")
            name, val = name.strip(), val.strip()
            if len(val) >= 2 and val[0] == val[-1] == '"':
                val = val[1:-1]
            out.setdefault(name, val)
    return out


def parse_multipart(content_type, body):
    """Return a list of (name, content bytes).  Raises BodyError(400)."""
    m = re.match(r"\s*multipart/form-data\s*;(.*)$", content_type or "",
                 re.I | re.S)
    if not m:
        raise BodyError(400, "expected Content-Type multipart/form-data")
    b = re.search(r'boundary\s*=\s*(?:"([^"]+)"|([^;\s]+))', m.group(1), re.I)
    if not b:
        raise BodyError(400, "multipart boundary missing")
    delim = b"--" + (b.group(1) or b.group(2)).encode("latin-1")
    segments = body.split(delim)
    if len(segments) < 3 or not segments[-1].startswith(b"--"):
        raise BodyError(400, "malformed multipart body")
    parts = []
    for seg in segments[1:-1]:
        if not seg.startswith(b"\r\n") or not seg.endswith(b"\r\n"):
            raise BodyError(400, "malformed multipart part framing")
        seg = seg[2:-2]
        if seg.startswith(b"\r\n"):
            head, content = b"", seg[2:]
        else:
            head, sep, content = seg.partition(b"\r\n\r\n")
            if not sep:
                raise BodyError(400, "malformed multipart part headers")
        name = None
        for line in head.split(b"\r\n"):
            hname, _, hval = line.decode("latin-1").partition(":")
            if hname.strip().lower() == "content-disposition":
                nm = re.search(r'(?:^|;)\s*name\s*=\s*(?:"([^"]*)"|([^;\s]*))',
                               hval, re.I)
                if nm:
                    name = nm.group(1) if nm.group(1) is not None else nm.group(2)
        parts.append((name, content))
    return parts


def filler_chunks(total):
    block = (b"0123456789abcdef" * (CHUNK // 16))
    left = total
    while left > 0:
        n = min(left, len(block))
        yield block[:n]
        left -= n


def endless_chunks():
    block = (b"0123456789abcdef" * (CHUNK // 16))
    while True:
        yield block


def file_chunks(f):
    try:
        while True:
            data = f.read(CHUNK)
            if not data:
                return
            yield data
    finally:
        f.close()


def redact_target(target):
    path, q, _ = target.partition("?")
    return path + ("?<query redacted>" if q else "")


class Response:
    def __init__(self, status, body=b"", ctype="text/plain; charset=utf-8",
                 headers=None, chunks=None, length=None, note=""):
        if isinstance(body, str):
            body = body.encode("utf-8")
        self.status = status
        self.ctype = ctype
        self.headers = list(headers or [])
        if chunks is None:
            self.chunks = iter([body] if body else [])
            self.length = len(body)
        else:
            self.chunks = chunks
            self.length = length
        self.note = note        # for the verbose log; never secrets

    def close(self):
        close = getattr(self.chunks, "close", None)
        if close:
            close()


def text(status, msg, **kw):
    return Response(status, msg + "\n", **kw)


def json_response(obj):
    return Response(200, json.dumps(obj), ctype="application/json")


# --------------------------------------------------------------------------
# Device (HTTPS) side

class DeviceHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "devsim"
    sys_version = ""
    timeout = IDLE_TIMEOUT
    disable_nagle_algorithm = True

    def log_message(self, fmt, *args):      # default logging is off
        pass

    def version_string(self):
        return self.server_version

    def log_error(self, fmt, *args):
        vlog("port %d: %s" % (self.server.port, fmt % args))

    # every method goes through one dispatcher
    def do_GET(self):
        self._dispatch()

    do_POST = do_PUT = do_DELETE = do_HEAD = do_OPTIONS = do_PATCH = do_GET

    # ---- request body
    def _read_body(self):
        te = (self.headers.get("Transfer-Encoding") or "").strip().lower()
        if te and te != "identity":
            if te.split(",")[-1].strip() != "chunked":
                raise BodyError(501, "unsupported Transfer-Encoding")
            return self._read_chunked()
        cl = self.headers.get("Content-Length")
        if cl is None:
            return b""
        try:
            n = int(cl.strip())
        except ValueError:
            raise BodyError(400, "bad Content-Length")
        if n < 0:
            raise BodyError(400, "bad Content-Length")
        if n > MAX_REQUEST_BODY:
            raise BodyError(413, "request body too large")
        data = self.rfile.read(n)
        if len(data) < n:
            self._partial_body = data
            raise BodyError(0, "client sent an incomplete body")
        return data

    def _read_chunked(self):
        out = bytearray()
        while True:
            line = self.rfile.readline(1024)
            if not line:
                self._partial_body = bytes(out)
                raise BodyError(0, "incomplete chunked body")
            try:
                size = int(line.split(b";")[0].strip(), 16)
            except ValueError:
                raise BodyError(400, "bad chunk size")
            if size == 0:
                while True:             # trailers
                    t = self.rfile.readline(8192)
                    if t in (b"\r\n", b"\n", b""):
                        return bytes(out)
            if len(out) + size > MAX_REQUEST_BODY:
                raise BodyError(413, "request body too large")
            data = self.rfile.read(size)
            out += data
            if len(data) < size:
                self._partial_body = bytes(out)
                raise BodyError(0, "incomplete chunked body")
            self.rfile.readline(16)     # CRLF after the chunk

    # ---- main flow
    def _dispatch(self):
        st = self.server.state
        self._partial_body = b""
        body_error = None
        try:
            body = self._read_body()
        except BodyError as e:
            body_error = e
            body = self._partial_body
        except (OSError, ValueError) as e:
            body_error = BodyError(0, "error reading body: %s" % e.__class__.__name__)
            body = self._partial_body

        target = self.path
        if target.startswith("/"):
            path = target.split("?", 1)[0].split("#", 1)[0]
        else:                                   # absolute-form target
            path = urlsplit(target).path or "/"
        cookies = parse_cookies(self.headers.get_all("Cookie") or [])
        entry = {
            "time": time.time(),
            "port": self.server.port,
            "client_port": self.client_address[1],
            "method": self.command,
            "path": target,
            "version": self.request_version,
            "headers": [[k, v] for k, v in self.headers.items()],
            "cookies": cookies,
            "body_b64": base64.b64encode(body).decode("ascii"),
            "body_text": body.decode("utf-8", "replace"),
        }
        if body_error is not None:
            entry["body_error"] = str(body_error)
        st.record(entry)
        where = "port %d: %s %s" % (self.server.port, self.command,
                                     redact_target(target))

        if body_error is not None:
            vlog("%s: %s" % (where, body_error))
            self.close_connection = True
            if body_error.status:
                self._send(text(body_error.status, str(body_error)), {}, path)
            return

        cfg = st.snapshot()
        delay = per_path(cfg["delay_ms"], path)
        if delay:
            vlog("%s: delaying %s ms" % (where, delay))
            if not st.sleep(delay / 1000.0):
                self._drop()
                return
        stall = per_path(cfg["stall"], path)
        if stall:
            deadline = None if stall is True else time.monotonic() + stall / 1000.0
            vlog("%s: stalling" % where)
            why = st.stall(path, deadline)
            vlog("%s: stall ended (%s), closing without an answer" % (where, why))
            self._drop()
            return
        garbage = per_path(cfg["garbage"], path)
        if garbage:
            vlog("%s: sending garbage" % where)
            data = DEFAULT_GARBAGE if garbage is True else garbage.encode("utf-8")
            try:
                self.wfile.write(data)
            except OSError:
                pass
            self._drop()
            return

        try:
            resp = self._route(cfg, path, body, cookies)
        except BodyError as e:
            resp = text(e.status, str(e))
        vlog("%s -> %d%s" % (where, resp.status,
                             (" (%s)" % resp.note) if resp.note else ""))
        self._send(resp, cfg, path)

    def _drop(self):
        """End the connection without (further) answer; FIN, not RST."""
        self.close_connection = True

    def _abort(self):
        """Close abruptly: SO_LINGER 0 makes close() send a TCP RST."""
        self.close_connection = True
        conn = self.connection
        try:
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                            struct.pack("ii", 1, 0))
        except OSError:
            pass
        for obj in (self.rfile, conn):
            try:
                obj.close()
            except (OSError, ValueError):
                pass

    def _close_cleanly(self):
        """End the connection in order, as a complete answer would end: TLS
        close_notify, then FIN. Waits at most a second for the client's own
        close_notify."""
        self.close_connection = True
        conn = self.connection
        try:
            conn.settimeout(1.0)
            plain = conn.unwrap()
            plain.shutdown(socket.SHUT_RDWR)
        except (OSError, ValueError):
            pass

    def _framing(self, cfg, path):
        """(key, value) of the framing misbehaviour for this path, or
        (None, None)."""
        for key in FRAMING_KEYS:
            value = per_path(cfg.get(key, {}), path)
            if value:
                return key, value
        return None, None

    @staticmethod
    def _first_bytes(chunks, count):
        """The first `count` bytes of the body, chunk by chunk."""
        left = count
        for chunk in chunks:
            if left <= 0:
                return
            part = chunk[:left]
            left -= len(part)
            yield part

    def _write_chunked(self, data):
        self.wfile.write(b"%x\r\n" % len(data) + data + b"\r\n")

    def _send(self, resp, cfg, path):
        state = self.server.state
        try:
            chunks, length = resp.chunks, resp.length
            huge = per_path(cfg.get("huge_body", {}), path)
            if huge:
                resp.close()
                chunks, length = filler_chunks(huge), huge
            kind, value = self._framing(cfg, path)
            if kind == "endless_body":
                resp.close()
                chunks = endless_chunks()
            announced = length
            if kind in ("reset_mid_body", "close_without_length", "chunked_cut"):
                # Half of a body needs a body of two bytes at least.
                if announced < 2:
                    announced = 1024
                    chunks = iter([b"".join(chunks) + b"x" * 1024])
            if kind == "close_without_length":
                # Without a length the close is what ends the body.
                self.close_connection = True
            self.send_response(resp.status)
            for name, hvalue in resp.headers:
                self.send_header(name, hvalue)
            self.send_header("Content-Type", resp.ctype)
            if kind in ("chunked_cut", "endless_body"):
                self.send_header("Transfer-Encoding", "chunked")
            elif kind != "close_without_length":
                self.send_header("Content-Length", str(announced))
            if self.close_connection:
                self.send_header("Connection", "close")
            self.end_headers()
            if self.command == "HEAD":
                return
            half = max(1, announced // 2)
            if kind == "reset_mid_body":
                for part in self._first_bytes(chunks, half):
                    self.wfile.write(part)
                vlog("port %d: reset after %d of %d body bytes"
                     % (self.server.port, half, announced))
                self._abort()
                return
            if kind == "close_without_length":
                for part in self._first_bytes(chunks, half):
                    self.wfile.write(part)
                vlog("port %d: closed after %d of %d body bytes, no length sent"
                     % (self.server.port, half, announced))
                self._close_cleanly()
                return
            if kind == "chunked_cut":
                for part in self._first_bytes(chunks, half):
                    self._write_chunked(part)
                vlog("port %d: closed after %d of %d body bytes, no last chunk"
                     % (self.server.port, half, announced))
                self._close_cleanly()
                return
            if kind == "endless_body":
                sent = 0
                for chunk in chunks:
                    if not state.still_set("endless_body", path):
                        break
                    self._write_chunked(chunk)
                    sent += len(chunk)
                vlog("port %d: endless body ended after %d bytes" % (self.server.port, sent))
                self._drop()
                return
            if kind == "drip_ms":
                for chunk in chunks:
                    for i in range(len(chunk)):
                        if not state.still_set("drip_ms", path):
                            vlog("port %d: drip released" % self.server.port)
                            self._drop()
                            return
                        self.wfile.write(chunk[i:i + 1])
                        if not state.sleep(value / 1000.0):
                            self._drop()
                            return
                return
            if kind == "rate_bps":
                # A whole, properly framed body over a slow line.
                start, sent = time.monotonic(), 0
                for chunk in chunks:
                    for i in range(0, len(chunk), RATE_PIECE):
                        piece = chunk[i:i + RATE_PIECE]
                        due = start + sent / float(value) - time.monotonic()
                        if due > 0 and not state.sleep(due):
                            self._drop()
                            return
                        self.wfile.write(piece)
                        self.wfile.flush()
                        sent += len(piece)
                return
            for chunk in chunks:
                if state.stopping:
                    self.close_connection = True
                    return
                self.wfile.write(chunk)
        except OSError as e:
            vlog("port %d: send failed: %s" % (self.server.port, e.__class__.__name__))
            self.close_connection = True
        finally:
            resp.close()

    # ---- device endpoints
    def _route(self, cfg, path, body, cookies):
        m = self.command
        token = cookies.get(COOKIE_NAME)
        if path == "/info.cgi":
            if m != "GET":
                return self._not_allowed("GET")
            if cfg["info_raw"] is not None:
                return Response(200, cfg["info_raw"])
            # Extra members first, so that a reader must get past all of
            # them to the two that matter.
            info = {"m%d" % i: i for i in range(cfg["info_members"])}
            for key in ("autologin", "emergency"):
                if cfg[key] != MISSING:
                    info[key] = cfg[key]
            return json_response(info)
        if path == "/LOGIN":
            if m != "POST":
                return self._not_allowed("POST")
            return self._login(cfg, body)
        if path == "/cgi-bin/infoExt.cgi":
            if m != "GET":
                return self._not_allowed("GET")
            if not self.server.state.session_valid(token):
                return text(401, "Unauthorized", note="no valid session cookie")
            if cfg["infoext_raw"] is not None:
                return Response(200, cfg["infoext_raw"])
            members = dict(DEFAULT_INFOEXT)
            members.update(cfg["infoext"])
            return json_response({k: v for k, v in members.items() if v != MISSING})
        if path == "/cgi-bin/ReadBinaryFile.cgi":
            if m != "POST":
                return self._not_allowed("POST")
            if not self.server.state.session_valid(token):
                return text(401, "Unauthorized", note="no valid session cookie")
            return self._read_file(cfg, body)
        if path == "/LOGOUT":
            if m != "POST":
                return self._not_allowed("POST")
            if self.server.state.drop_session(token):
                return text(200, "Logged out")
            return text(401, "Unauthorized", note="no valid session cookie")
        return text(404, "Not Found")

    @staticmethod
    def _not_allowed(allow):
        return text(405, "Method Not Allowed", headers=[("Allow", allow)])

    def _login(self, cfg, body):
        fields = {}
        for k, v in parse_qsl(body.decode("utf-8", "replace"),
                              keep_blank_values=True):
            fields.setdefault(k, v)
        user = fields.get("credential_0", "")
        secret = fields.get("credential_1", "")
        shown = "user=%r credential_1=<redacted> credential_2=%r" % (
            user, fields.get("credential_2", ""))
        forced = cfg["login_status"]
        mode = None
        if forced is None:
            users = cfg["users"]
            if user and users.get(user) == secret:
                mode = "password"
            elif (user == "" and secret == ""
                  and autologin_enabled(cfg["autologin"])):
                mode = "autologin"
            elif (user == "" and secret != ""
                  and emergency_enabled(cfg["emergency"])
                  and secret == cfg["emergency_code"]):
                mode = "emergency"
            if mode is None:
                return text(401, "Login failed", note=shown + " rejected")
        elif forced != 200:
            headers = []
            if 300 <= forced < 400:
                headers.append(("Location", cfg["login_location"]))
            return text(forced, "Forced login status",
                        headers=headers, note=shown + " forced")
        else:
            mode = "forced"
        token = self.server.state.new_session(user)
        cookie = "%s=%s; path=/; Secure; HttpOnly" % (COOKIE_NAME, token)
        if cfg["cookie_domain"] is not None:
            cookie += "; Domain=%s" % cfg["cookie_domain"]
        return Response(200, "<html><body>Login OK</body></html>\n",
                        ctype="text/html; charset=utf-8",
                        headers=[("Set-Cookie", cookie)],
                        note="%s accepted (%s), cookie set" % (shown, mode))

    def _read_file(self, cfg, body):
        parts = parse_multipart(self.headers.get("Content-Type"), body)
        if len(parts) != 1 or parts[0][0] != "file":
            raise BodyError(400, "expected exactly one multipart part named 'file'")
        try:
            dev_path = parts[0][1].decode("utf-8")
        except UnicodeDecodeError:
            return text(404, "Not Found", note="undecodable device path")
        if ".." in dev_path:
            return text(404, "Not Found", note="refused %r" % dev_path)
        forced = per_path(cfg["file_status"], dev_path)
        if forced and forced != 200:
            return text(forced, "Forced status", note="forced for %r" % dev_path)
        files_dir = cfg["files_dir"]
        for sub in ("jre", "lib"):
            prefix = "/mnt/flash/hmi/%s/" % sub
            if not dev_path.startswith(prefix):
                continue
            name = dev_path[len(prefix):]
            if (not name or "/" in name or "\\" in name or "\0" in name
                    or name in (".", "..") or files_dir is None):
                break
            local = os.path.join(files_dir, sub, name)
            try:
                f = open(local, "rb")
            except OSError:
                break
            try:
                st = os.fstat(f.fileno())
            except OSError:
                f.close()
                break
            if not stat.S_ISREG(st.st_mode):
                f.close()
                break
            return Response(200, ctype="application/octet-stream",
                            chunks=file_chunks(f), length=st.st_size,
                            note="%r, %d bytes" % (dev_path, st.st_size))
        return text(404, "Not Found", note="no file for %r" % dev_path)


class ConnTracker:
    def __init__(self):
        self.cond = threading.Condition()
        self.conns = set()

    def add(self, c):
        with self.cond:
            self.conns.add(c)

    def remove(self, c):
        with self.cond:
            self.conns.discard(c)
            self.cond.notify_all()

    def abort_all(self):
        with self.cond:
            conns = list(self.conns)
        for c in conns:
            try:
                # plain-socket shutdown on the fd; wakes a blocked reader
                # without touching the SSL object of the owning thread
                socket.socket.shutdown(c, socket.SHUT_RDWR)
            except (OSError, ValueError):
                pass

    def wait_empty(self, timeout):
        deadline = time.monotonic() + timeout
        with self.cond:
            while self.conns:
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    return False
                self.cond.wait(remaining)
            return True


class LoopbackServer(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def server_bind(self):
        # skip HTTPServer.server_bind: it does a (possibly slow) getfqdn()
        socketserver.TCPServer.server_bind(self)
        self.server_name = LOOPBACK
        self.server_port = self.port = self.server_address[1]

    def handle_error(self, request, client_address):
        if VERBOSE:
            vlog("unexpected error for %s:%s" % client_address)
            traceback.print_exc(file=sys.stderr)


class DeviceServer(LoopbackServer):
    def __init__(self, port, state, ssl_ctx, tracker):
        self.state = state
        self.ssl_ctx = ssl_ctx
        self.tracker = tracker
        LoopbackServer.__init__(self, (LOOPBACK, port), DeviceHandler)

    def finish_request(self, request, client_address):
        # TLS handshake happens here, in the per-connection thread, so a
        # client that stalls its handshake does not block the accept loop.
        request.settimeout(HANDSHAKE_TIMEOUT)
        try:
            conn = self.ssl_ctx.wrap_socket(request, server_side=True)
        except (OSError, ValueError) as e:
            vlog("port %d: TLS handshake failed: %s" % (self.port, e))
            request.close()
            return
        self.tracker.add(conn)
        try:
            self.RequestHandlerClass(conn, client_address, self)
        finally:
            self.tracker.remove(conn)
            try:
                conn.close()
            except OSError:
                pass


# --------------------------------------------------------------------------
# Control (plain HTTP) side

class ControlHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "devsim-control"
    sys_version = ""
    timeout = 30

    def log_message(self, fmt, *args):
        pass

    def version_string(self):
        return self.server_version

    def _json(self, status, obj):
        body = (json.dumps(obj, indent=None) + "\n").encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True
        if self.command != "HEAD":
            self.wfile.write(body)

    def _split(self):
        u = urlsplit(self.path)
        q = dict(parse_qsl(u.query))
        return u.path.rstrip("/") or "/", q

    def do_GET(self):
        app = self.server.app
        path, q = self._split()
        vlog("control GET %s" % path)
        if path == "/requests":
            try:
                since = int(q.get("since", "0"))
            except ValueError:
                return self._json(400, {"error": "since must be an integer"})
            return self._json(200, app.state.list_requests(since))
        if path == "/config":
            return self._json(200, app.state.snapshot())
        if path in ("/ready", "/status"):
            return self._json(200, app.ready_info)
        if path == "/cert":
            body = app.cert_pem
            self.send_response(200)
            self.send_header("Content-Type", "application/x-pem-file")
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Connection", "close")
            self.end_headers()
            self.close_connection = True
            self.wfile.write(body)
            return
        return self._json(404, {"error": "unknown control path"})

    def do_POST(self):
        app = self.server.app
        path, _ = self._split()
        try:
            n = int(self.headers.get("Content-Length") or "0")
        except ValueError:
            return self._json(400, {"error": "bad Content-Length"})
        raw = self.rfile.read(n) if n > 0 else b""
        if path == "/config":
            try:
                patch = json.loads(raw.decode("utf-8")) if raw.strip() else {}
                cfg = app.state.apply(patch)
            except (ValueError, ConfigError) as e:
                vlog("control POST /config rejected: %s" % e)
                return self._json(400, {"error": str(e)})
            vlog("control POST /config keys=%s" % sorted(patch))
            return self._json(200, {"ok": True, "config": cfg})
        if path == "/reset":
            app.state.reset()
            vlog("control POST /reset")
            return self._json(200, {"ok": True})
        if path == "/shutdown":
            vlog("control POST /shutdown")
            self._json(200, {"ok": True})
            app.request_stop()
            return
        return self._json(404, {"error": "unknown control path"})


class ControlServer(LoopbackServer):
    def __init__(self, port, app):
        self.app = app
        LoopbackServer.__init__(self, (LOOPBACK, port), ControlHandler)


# --------------------------------------------------------------------------
# Application

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

        certdir = None
        servers, threads = [], []
        control = None
        tracker = ConnTracker()
        try:
            if args.cert:
                crt, key = args.cert, args.key or args.cert
            else:
                certdir = tempfile.mkdtemp(prefix="devsim-cert-")
                crt, key = make_cert(certdir)
            with open(crt, "rb") as f:
                self.cert_pem = f.read()
            ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            ctx.minimum_version = ssl.TLSVersion.TLSv1_2
            ctx.load_cert_chain(crt, key)

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
            if certdir:
                shutil.rmtree(certdir, ignore_errors=True)
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
    ap.add_argument("-v", "--verbose", action="store_true",
                    help="log to stderr (secrets redacted)")
    return ap.parse_args(argv)


def main(argv=None):
    global VERBOSE
    args = parse_args(sys.argv[1:] if argv is None else argv)
    VERBOSE = args.verbose
    try:
        return App(args).run()
    except (OSError, RuntimeError, ConfigError, ValueError,
            subprocess.SubprocessError) as e:
        sys.stderr.write("devsim: error: %s\n" % e)
        return 2


if __name__ == "__main__":
    sys.exit(main())
