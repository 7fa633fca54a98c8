"""The control API: plain HTTP on its own loopback port."""

import http.server
import json
from urllib.parse import parse_qsl, urlsplit

from .config import LOOPBACK, ConfigError
from .log import vlog
from .server import LoopbackServer


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
        if path == "/cert/sha256":
            return self._json(200, {"sha256": app.cert_sha256(),
                                    "use": app.active_cert})
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
        if path == "/cert":
            try:
                patch = json.loads(raw.decode("utf-8")) if raw.strip() else {}
                app.use_cert(patch.get("use") if isinstance(patch, dict) else None)
            except (ValueError, RuntimeError) as e:
                return self._json(400, {"error": str(e)})
            vlog("control POST /cert")
            return self._json(200, {"ok": True, "sha256": app.cert_sha256()})
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
