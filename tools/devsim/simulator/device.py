"""The device's HTTPS side: reads each request, records it, applies the
misbehaviours that act before an answer (delay, stall, garbage), and answers
the five device endpoints."""

import base64
import http.server
import os
import socket
import stat
import struct
import time
from urllib.parse import parse_qsl, urlsplit

from . import misbehaviours
from .config import (COOKIE_NAME, DEFAULT_GARBAGE, DEFAULT_INFOEXT, IDLE_TIMEOUT,
                     MAX_REQUEST_BODY, MISSING, autologin_enabled, emergency_enabled,
                     per_path)
from .log import vlog
from .wire import (BodyError, Response, file_chunks, json_response, parse_cookies,
                   parse_multipart, redact_target, text)


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
                self.drop()
                return
        stall = per_path(cfg["stall"], path)
        if stall:
            deadline = None if stall is True else time.monotonic() + stall / 1000.0
            vlog("%s: stalling" % where)
            why = st.stall(path, deadline)
            vlog("%s: stall ended (%s), closing without an answer" % (where, why))
            self.drop()
            return
        garbage = per_path(cfg["garbage"], path)
        if garbage:
            vlog("%s: sending garbage" % where)
            data = DEFAULT_GARBAGE if garbage is True else garbage.encode("utf-8")
            try:
                self.wfile.write(data)
            except OSError:
                pass
            self.drop()
            return

        try:
            resp = self._route(cfg, path, body, cookies)
        except BodyError as e:
            resp = text(e.status, str(e))
        vlog("%s -> %d%s" % (where, resp.status,
                             (" (%s)" % resp.note) if resp.note else ""))
        self._send(resp, cfg, path)

    def drop(self):
        """End the connection without (further) answer; FIN, not RST."""
        self.close_connection = True

    def abort(self):
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

    def close_cleanly(self):
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

    def _send(self, resp, cfg, path):
        try:
            plan = misbehaviours.plan_body(resp, cfg, path)
            if plan.unframed:
                # Without a length the close is what ends the body.
                self.close_connection = True
            self._write_head(resp, plan)
            if self.command != "HEAD":
                misbehaviours.send_body(self, plan, path)
        except OSError as e:
            vlog("port %d: send failed: %s" % (self.server.port, e.__class__.__name__))
            self.close_connection = True
        finally:
            resp.close()

    def _write_head(self, resp, plan):
        """Status line and headers, with the framing the plan calls for."""
        self.send_response(resp.status)
        for name, hvalue in resp.headers:
            self.send_header(name, hvalue)
        self.send_header("Content-Type", resp.ctype)
        if plan.chunked:
            self.send_header("Transfer-Encoding", "chunked")
        elif not plan.unframed:
            self.send_header("Content-Length", str(plan.announced))
        if self.close_connection:
            self.send_header("Connection", "close")
        self.end_headers()

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
        headers = [("Set-Cookie", cookie)]
        flood = cfg["login_cookies"]
        if flood:
            # After the session cookie, so that it is the oldest of them.
            headers += [("Set-Cookie", "c%d=%s; path=/" % (i, "v" * flood["bytes"]))
                        for i in range(flood["count"])]
        return Response(200, "<html><body>Login OK</body></html>\n",
                        ctype="text/html; charset=utf-8",
                        headers=headers,
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
