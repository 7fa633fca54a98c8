#!/usr/bin/env python3
"""Self-test for devsim.py.  Run from the repository root:

    python3 tools/devsim/test_devsim.py
"""

import base64
import hashlib
import http.client
import json
import os
import re
import selectors
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
DEVSIM = os.path.join(HERE, "devsim.py")
COOKIE = "R930::AuthCookieHandler_R930HMI"
FORM_CT = "application/x-www-form-urlencoded; charset=utf-8"
START_TIMEOUT = 30.0


def start_sim(args, env=None, stderr=None):
    """Start devsim; return (process, ready-info) once it printed its line."""
    proc = subprocess.Popen([sys.executable, DEVSIM] + args,
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=stderr if stderr is not None else subprocess.DEVNULL,
                            env=env)
    deadline = time.monotonic() + START_TIMEOUT
    buf = b""
    with selectors.DefaultSelector() as sel:
        sel.register(proc.stdout, selectors.EVENT_READ)
        while b"\n" not in buf:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                stop_proc(proc)
                raise RuntimeError("devsim did not become ready in time")
            if not sel.select(remaining):
                continue
            data = os.read(proc.stdout.fileno(), 4096)
            if not data:
                stop_proc(proc)
                raise RuntimeError("devsim exited before becoming ready")
            buf += data
    return proc, json.loads(buf.split(b"\n", 1)[0].decode("utf-8"))


def stop_proc(proc, timeout=10):
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
    if proc.stdout:
        proc.stdout.close()


def tls_ctx():
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    ctx.check_hostname = False
    ctx.verify_mode = ssl.CERT_NONE
    return ctx


def control(port, method, path, obj=None):
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    try:
        body = None if obj is None else json.dumps(obj)
        headers = {"Content-Type": "application/json"} if body else {}
        conn.request(method, path, body=body, headers=headers)
        resp = conn.getresponse()
        return resp.status, json.loads(resp.read().decode("utf-8"))
    finally:
        conn.close()


def multipart(device_path, boundary="----devsimBoundary7MA4YWxk"):
    body = ("--%s\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\n"
            "%s\r\n--%s--\r\n" % (boundary, device_path, boundary)).encode()
    return body, "multipart/form-data; boundary=%s" % boundary


def read_pieces(response):
    """The body as the reads returned it, piece by piece."""
    pieces = []
    while True:
        piece = response.read1(65536)
        if not piece:
            return pieces
        pieces.append(piece)


def raw_tls_get(port, path, timeout=5, limit=None):
    """GET over TLS driven through memory BIOs, so the raw TCP outcome is
    visible.  Returns (plaintext received, exception that ended the read or
    None on a clean EOF).  With `limit`, stops once that many plaintext
    bytes have arrived (the exception is then None)."""
    sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    try:
        incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
        tls = tls_ctx().wrap_bio(incoming, outgoing)

        def flush():
            data = outgoing.read()
            if data:
                sock.sendall(data)
        while True:
            try:
                tls.do_handshake()
                break
            except ssl.SSLWantReadError:
                flush()
                incoming.write(sock.recv(65536))
        tls.write(("GET %s HTTP/1.1\r\nHost: device.test\r\n\r\n" % path).encode())
        flush()
        plain = b""
        while True:
            try:
                data = sock.recv(65536)
            except OSError as e:
                return plain, e
            if not data:
                return plain, None
            incoming.write(data)
            try:
                while True:
                    piece = tls.read(65536)
                    if not piece:       # the peer's close_notify
                        break
                    plain += piece
            except (ssl.SSLWantReadError, ssl.SSLZeroReturnError):
                pass
            if limit is not None and len(plain) >= limit:
                return plain, None
    finally:
        sock.close()


def split_answer(raw):
    """(head text, body bytes) of a raw HTTP answer."""
    head, _, body = raw.partition(b"\r\n\r\n")
    return head.decode("latin-1"), body


def dechunk(body):
    """(data, whether the last chunk came) of a chunked body."""
    data = b""
    while body:
        size_line, sep, rest = body.partition(b"\r\n")
        if not sep:
            break
        size = int(size_line.split(b";")[0], 16)
        if size == 0:
            return data, True
        data += rest[:size]
        body = rest[size + 2:]
    return data, False


class DevsimTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="devsim-test-")
        cls.files = os.path.join(cls.tmp, "files")
        os.makedirs(os.path.join(cls.files, "jre"))
        os.makedirs(os.path.join(cls.files, "lib"))
        cls.jre_bytes = os.urandom(200000)
        with open(os.path.join(cls.files, "jre", "jre_v_17.0.2.zip"), "wb") as f:
            f.write(cls.jre_bytes)
        with open(os.path.join(cls.files, "lib", "lib_hmi_full_410_7_r.zip"), "wb") as f:
            f.write(b"LIB")
        with open(os.path.join(cls.tmp, "secret.txt"), "wb") as f:
            f.write(b"must not be served")
        cls.stderr = open(os.path.join(cls.tmp, "stderr.txt"), "wb")
        try:
            cls.proc, cls.info = start_sim(
                ["--port", "0", "--port", "0", "--control-port", "0",
                 "--files-dir", cls.files], stderr=cls.stderr)
        except BaseException:       # tearDownClass is not run in this case
            cls.stderr.close()
            shutil.rmtree(cls.tmp, ignore_errors=True)
            raise
        cls.port, cls.port2 = cls.info["ports"]
        cls.cport = cls.info["control_port"]

    @classmethod
    def tearDownClass(cls):
        try:
            if cls.proc.poll() is None:
                control(cls.cport, "POST", "/shutdown")
                cls.proc.wait(10)
        finally:
            stop_proc(cls.proc)
            cls.stderr.close()
            shutil.rmtree(cls.tmp, ignore_errors=True)

    def setUp(self):
        status, _ = control(self.cport, "POST", "/reset")
        self.assertEqual(status, 200)

    # ---- helpers
    def config(self, **kw):
        status, res = control(self.cport, "POST", "/config", kw)
        self.assertEqual(status, 200, res)
        return res

    def conn(self, port=None, timeout=5):
        c = http.client.HTTPSConnection("127.0.0.1", port or self.port,
                                        context=tls_ctx(), timeout=timeout)
        self.addCleanup(c.close)
        return c

    def req(self, method, path, body=None, headers=None, port=None, cookie=None):
        c = self.conn(port)
        headers = dict(headers or {})
        if cookie:
            headers["Cookie"] = "%s=%s" % (COOKIE, cookie)
        c.request(method, path, body=body, headers=headers)
        r = c.getresponse()
        return r.status, r, r.read()

    def login(self, user="admin", password="Adm1n-pw", port=None):
        body = urllib.parse.urlencode([
            ("sessID", ""), ("credential_0", user), ("credential_1", password),
            ("credential_2", "127.0.0.1"), ("destination", "")])
        status, r, _ = self.req("POST", "/LOGIN", body,
                                {"Content-Type": FORM_CT}, port=port)
        token = None
        sc = r.getheader("Set-Cookie")
        if sc:
            m = re.fullmatch(r"R930::AuthCookieHandler_R930HMI=([0-9a-f]+); "
                             r"path=/; Secure; HttpOnly", sc)
            self.assertIsNotNone(m, sc)
            token = m.group(1)
        return status, token, r

    def requests_log(self):
        status, log = control(self.cport, "GET", "/requests")
        self.assertEqual(status, 200)
        return log

    # ---- tests
    def test_info_default_and_configured(self):
        status, r, body = self.req("GET", "/info.cgi")
        self.assertEqual(status, 200)
        self.assertEqual(json.loads(body), {"autologin": "disabled", "emergency": "false"})
        self.config(autologin=True, emergency="true")
        status, _, body = self.req("GET", "/info.cgi", port=self.port2)
        self.assertEqual(json.loads(body), {"autologin": True, "emergency": "true"})
        self.config(info_raw="<html>not json")
        self.assertEqual(self.req("GET", "/info.cgi")[2], b"<html>not json")

    def test_login_good_and_bad(self):
        status, token, _ = self.login()
        self.assertEqual(status, 200)
        self.assertTrue(token)
        status, token, r = self.login(password="wrong")
        self.assertEqual(status, 401)
        self.assertIsNone(token)
        self.assertEqual(self.login(user="", password="")[0], 401)
        self.assertEqual(self.login(user="", password="EMERG-123456")[0], 401)

    def test_autologin_and_emergency(self):
        self.config(autologin="enabled", emergency="true")
        status, token, _ = self.login(user="", password="")
        self.assertEqual(status, 200)
        self.assertTrue(token)
        status, token, _ = self.login(user="", password="EMERG-123456")
        self.assertEqual(status, 200)
        self.assertTrue(token)
        self.assertEqual(self.login(user="", password="EMERG-000")[0], 401)

    def test_infoext_requires_cookie(self):
        self.assertEqual(self.req("GET", "/cgi-bin/infoExt.cgi")[0], 401)
        self.assertEqual(self.req("GET", "/cgi-bin/infoExt.cgi", cookie="bogus")[0], 401)
        _, token, _ = self.login()
        status, _, body = self.req("GET", "/cgi-bin/infoExt.cgi", cookie=token,
                                   port=self.port2)   # sessions are shared
        self.assertEqual(status, 200)
        doc = json.loads(body)
        self.assertEqual(doc["build_version"], "Veltra build 1234 Release 410 (2026-01-01)")
        self.assertEqual(doc["schema_version"], "7")
        self.assertEqual(doc["hmi_jre"], "jre_v_17.0.2.zip")
        self.assertNotIn("dynamic_hmi_enabled", doc)
        self.config(infoext={"hw_model": None, "schema_version": 8,
                             "hmi_lib": "__missing__", "dynamic_hmi_enabled": True})
        doc = json.loads(self.req("GET", "/cgi-bin/infoExt.cgi", cookie=token)[2])
        self.assertIsNone(doc["hw_model"])
        self.assertEqual(doc["schema_version"], 8)
        self.assertNotIn("hmi_lib", doc)
        self.assertIs(doc["dynamic_hmi_enabled"], True)
        self.config(infoext_raw="garbled{")
        self.assertEqual(self.req("GET", "/cgi-bin/infoExt.cgi", cookie=token)[2], b"garbled{")

    def test_read_file(self):
        body, ct = multipart("/mnt/flash/hmi/jre/jre_v_17.0.2.zip")
        self.assertEqual(self.req("POST", "/cgi-bin/ReadBinaryFile.cgi", body,
                                  {"Content-Type": ct})[0], 401)
        _, token, _ = self.login()
        status, r, data = self.req("POST", "/cgi-bin/ReadBinaryFile.cgi", body,
                                   {"Content-Type": ct}, cookie=token)
        self.assertEqual(status, 200)
        self.assertEqual(int(r.getheader("Content-Length")), len(self.jre_bytes))
        self.assertEqual(data, self.jre_bytes)
        body, ct = multipart("/mnt/flash/hmi/lib/lib_hmi_full_410_7_r.zip")
        self.assertEqual(self.req("POST", "/cgi-bin/ReadBinaryFile.cgi", body,
                                  {"Content-Type": ct}, cookie=token)[2], b"LIB")
        for bad in ("/mnt/flash/hmi/jre/missing.zip", "/mnt/flash/hmi/jre/../../secret.txt",
                    "/mnt/flash/hmi/lib/..", "/etc/passwd"):
            body, ct = multipart(bad)
            self.assertEqual(self.req("POST", "/cgi-bin/ReadBinaryFile.cgi", body,
                                      {"Content-Type": ct}, cookie=token)[0], 404, bad)
        self.config(file_status={"/mnt/flash/hmi/jre/jre_v_17.0.2.zip": 500})
        body, ct = multipart("/mnt/flash/hmi/jre/jre_v_17.0.2.zip")
        self.assertEqual(self.req("POST", "/cgi-bin/ReadBinaryFile.cgi", body,
                                  {"Content-Type": ct}, cookie=token)[0], 500)

    def test_unknown_path_and_logout(self):
        self.assertEqual(self.req("GET", "/nothing/here")[0], 404)
        _, token, _ = self.login()
        self.assertEqual(self.req("POST", "/LOGOUT", b"", {"Content-Type": FORM_CT},
                                  cookie=token)[0], 200)
        self.assertEqual(self.req("POST", "/LOGOUT", b"", {"Content-Type": FORM_CT},
                                  cookie=token)[0], 401)
        self.assertEqual(self.req("GET", "/cgi-bin/infoExt.cgi", cookie=token)[0], 401)

    def test_forced_302_is_returned_as_is(self):
        self.config(login_status=302)
        status, token, r = self.login()
        self.assertEqual(status, 302)
        self.assertTrue(r.getheader("Location"))
        self.assertNotEqual(r.getheader("Location"), "/LOGIN")
        self.assertIsNone(token)
        self.assertEqual([e["path"] for e in self.requests_log()], ["/LOGIN"])
        self.config(login_status=500)
        self.assertEqual(self.login()[0], 500)

    def test_keep_alive(self):
        c = self.conn()
        for _ in range(3):
            c.request("GET", "/info.cgi")
            r = c.getresponse()
            self.assertEqual(r.status, 200)
            r.read()
        ports = {e["client_port"] for e in self.requests_log()}
        self.assertEqual(len(ports), 1)

    def test_second_certificate_on_new_connections_only(self):
        def presented(c):
            der = c.sock.getpeercert(binary_form=True)
            d = hashlib.sha256(der).hexdigest().upper()
            return ":".join(d[i:i + 2] for i in range(0, len(d), 2))

        def get(c):
            c.request("GET", "/info.cgi")
            r = c.getresponse()
            r.read()
            self.assertEqual(r.status, 200)

        kept = self.conn()
        get(kept)
        _, first = control(self.cport, "GET", "/cert/sha256")
        self.assertEqual(first["use"], "first")
        self.assertEqual(presented(kept), first["sha256"])
        self.addCleanup(control, self.cport, "POST", "/cert", {"use": "first"})
        status, switched = control(self.cport, "POST", "/cert", {"use": "second"})
        self.assertEqual(status, 200, switched)
        self.assertNotEqual(switched["sha256"], first["sha256"])
        for port in (self.port, self.port2):
            fresh = self.conn(port)
            get(fresh)
            self.assertEqual(presented(fresh), switched["sha256"])
        # A connection kept alive keeps the certificate of its handshake.
        get(kept)
        self.assertEqual(presented(kept), first["sha256"])
        self.assertEqual(control(self.cport, "POST", "/cert", {"use": "third"})[0], 400)
        # A reset leaves the certificate as it is.
        control(self.cport, "POST", "/reset")
        self.assertEqual(control(self.cport, "GET", "/cert/sha256")[1]["use"], "second")
        control(self.cport, "POST", "/cert", {"use": "first"})
        fresh = self.conn()
        get(fresh)
        self.assertEqual(presented(fresh), first["sha256"])

    def test_stall_times_out_without_blocking_others(self):
        self.config(stall={"/info.cgi": True})
        stalled = self.conn(timeout=1)
        stalled.request("GET", "/info.cgi")
        # a second connection is served while the first one stalls
        self.assertEqual(self.req("GET", "/nothing")[0], 404)
        t0 = time.monotonic()
        with self.assertRaises((socket.timeout, TimeoutError)):
            stalled.getresponse()
        self.assertGreaterEqual(time.monotonic() - t0, 0.5)
        self.assertEqual(sorted(e["path"] for e in self.requests_log()),
                         ["/info.cgi", "/nothing"])
        # a timed stall closes the connection without an answer; "false"
        # for one path overrides "*"
        self.config(stall={"*": 200, "/LOGOUT": False})
        t0 = time.monotonic()
        with self.assertRaises(http.client.RemoteDisconnected):
            self.req("GET", "/info.cgi")
        self.assertGreaterEqual(time.monotonic() - t0, 0.15)
        self.assertEqual(self.req("POST", "/LOGOUT", b"")[0], 401)

    def test_delay(self):
        self.config(delay_ms={"*": 300})
        t0 = time.monotonic()
        self.assertEqual(self.req("GET", "/info.cgi")[0], 200)
        self.assertGreaterEqual(time.monotonic() - t0, 0.29)

    def test_reset_mid_body_gives_incomplete_read(self):
        self.config(reset_mid_body={"/info.cgi": True})
        c = self.conn()
        c.request("GET", "/info.cgi")
        r = c.getresponse()
        self.assertEqual(r.status, 200)
        announced = int(r.getheader("Content-Length"))
        got, err = b"", None
        try:
            while True:
                chunk = r.read1(65536)
                if not chunk:
                    break
                got += chunk
        except (ConnectionError, ssl.SSLError, http.client.IncompleteRead) as e:
            err = e
        self.assertGreater(len(got), 0)
        self.assertLess(len(got), announced, err)
        self.assertTrue(b'{"autologin": "disabled", "emergency": "false"}'.startswith(got))
        self.assertEqual(len(self.requests_log()), 1)
        # at TCP level the connection ends with a reset (SO_LINGER 0), not a FIN
        plain, raw_error = raw_tls_get(self.port, "/info.cgi")
        self.assertIn(b"Content-Length: 47\r\n", plain)
        self.assertIsInstance(raw_error, ConnectionResetError)

    def test_huge_body_and_garbage(self):
        self.config(huge_body={"/info.cgi": 3000000}, garbage={"/LOGOUT": True})
        status, r, data = self.req("GET", "/info.cgi")
        self.assertEqual(len(data), 3000000)
        self.assertEqual(int(r.getheader("Content-Length")), 3000000)
        with self.assertRaises((http.client.HTTPException, ConnectionError)):
            self.req("POST", "/LOGOUT", b"")

    def test_answers_without_a_proper_end(self):
        info = b'{"autologin": "disabled", "emergency": "false"}'
        # No length: the half body ends with an orderly close, as a complete
        # unframed answer would.
        self.config(close_without_length={"/info.cgi": True})
        plain, err = raw_tls_get(self.port, "/info.cgi")
        self.assertIsNone(err)
        head, body = split_answer(plain)
        self.assertNotIn("Content-Length", head)
        self.assertNotIn("Transfer-Encoding", head)
        self.assertIn("Connection: close", head)
        self.assertEqual(body, info[:len(info) // 2])
        # Chunked, closed in order before the last chunk.
        self.config(close_without_length=None, chunked_cut={"/info.cgi": True})
        plain, err = raw_tls_get(self.port, "/info.cgi")
        self.assertIsNone(err)
        head, body = split_answer(plain)
        self.assertIn("Transfer-Encoding: chunked", head)
        self.assertNotIn("Content-Length", head)
        self.assertEqual(dechunk(body), (info[:len(info) // 2], False))
        # A file read without a length: an ordinary client takes the half for
        # the whole.
        self.config(chunked_cut=None,
                    close_without_length={"/cgi-bin/ReadBinaryFile.cgi": True})
        _, token, _ = self.login()
        mp, ct = multipart("/mnt/flash/hmi/jre/jre_v_17.0.2.zip")
        status, r, data = self.req("POST", "/cgi-bin/ReadBinaryFile.cgi", mp,
                                   {"Content-Type": ct}, cookie=token)
        self.assertEqual(status, 200)
        self.assertIsNone(r.getheader("Content-Length"))
        self.assertEqual(data, self.jre_bytes[:len(self.jre_bytes) // 2])

    def test_whole_answers_streamed_without_a_length(self):
        # Chunked with its last chunk, and unframed ended by an orderly close:
        # the whole file either way.
        _, token, _ = self.login()
        mp, ct = multipart("/mnt/flash/hmi/jre/jre_v_17.0.2.zip")
        path = "/cgi-bin/ReadBinaryFile.cgi"
        for key, framing in (("chunked", "Transfer-Encoding: chunked"),
                             ("unframed", "Connection: close")):
            with self.subTest(key):
                self.config(**{"chunked": None, "unframed": None, key: {path: True}})
                status, r, data = self.req("POST", path, mp, {"Content-Type": ct},
                                           cookie=token)
                self.assertEqual(status, 200)
                self.assertIsNone(r.getheader("Content-Length"))
                self.assertIn(framing, str(r.headers))
                self.assertEqual(data, self.jre_bytes)
        # A whole chunked answer keeps the connection for the next request.
        self.config(chunked={"/info.cgi": True}, unframed=None)
        c = self.conn()
        for _ in range(2):
            c.request("GET", "/info.cgi")
            r = c.getresponse()
            self.assertEqual(r.getheader("Transfer-Encoding"), "chunked")
            self.assertEqual(r.read(), b'{"autologin": "disabled", "emergency": "false"}')

    def test_endless_body_goes_on_until_the_client_leaves(self):
        self.config(endless_body={"/info.cgi": True})
        want = 1024 * 1024
        plain, err = raw_tls_get(self.port, "/info.cgi", limit=want)
        self.assertIsNone(err)
        head, body = split_answer(plain)
        self.assertIn("Transfer-Encoding: chunked", head)
        data, ended = dechunk(body)
        self.assertFalse(ended)
        self.assertGreater(len(data), want - 64 * 1024)
        self.assertTrue(data.startswith(b"0123456789abcdef0123"))
        # The simulator serves on once the client has gone.
        self.config(endless_body=None)
        self.assertEqual(self.req("GET", "/info.cgi")[0], 200)

    def test_drip_sends_one_byte_at_a_time(self):
        self.config(drip_ms={"/info.cgi": 5})
        c = self.conn()
        c.request("GET", "/info.cgi")
        r = c.getresponse()
        self.assertEqual(int(r.getheader("Content-Length")), 47)
        pieces = read_pieces(r)
        self.assertEqual(b"".join(pieces), b'{"autologin": "disabled", "emergency": "false"}')
        self.assertTrue(all(len(p) == 1 for p in pieces), pieces)

    def test_rate_paces_a_whole_body(self):
        # 200,000 bytes at 400,000 B/s: about fifty pieces, half a second.
        self.config(rate_bps={"/cgi-bin/ReadBinaryFile.cgi": 400000})
        _, token, _ = self.login()
        body, ct = multipart("/mnt/flash/hmi/jre/jre_v_17.0.2.zip")
        c = self.conn()
        c.request("POST", "/cgi-bin/ReadBinaryFile.cgi", body=body,
                  headers={"Content-Type": ct, "Cookie": "%s=%s" % (COOKIE, token)})
        r = c.getresponse()
        self.assertEqual(r.status, 200)
        self.assertEqual(int(r.getheader("Content-Length")), len(self.jre_bytes))
        pieces = read_pieces(r)
        self.assertEqual(b"".join(pieces), self.jre_bytes)
        self.assertGreater(len(pieces), 10)
        self.assertTrue(all(len(p) <= 4096 for p in pieces), [len(p) for p in pieces])
        self.assertEqual(control(self.cport, "POST", "/config", {"rate_bps": {"*": 0.5}})[0], 400)

    def test_planted_cookie_domain_and_huge_info_object(self):
        self.config(cookie_domain="0.1", info_members=200000)
        body = urllib.parse.urlencode([("credential_0", "admin"), ("credential_1", "Adm1n-pw")])
        status, r, _ = self.req("POST", "/LOGIN", body, {"Content-Type": FORM_CT})
        self.assertEqual(status, 200)
        self.assertRegex(r.getheader("Set-Cookie"),
                         r"^R930::AuthCookieHandler_R930HMI=[0-9a-f]{32}; path=/; Secure; "
                         r"HttpOnly; Domain=0\.1$")
        status, _, data = self.req("GET", "/info.cgi")
        doc = json.loads(data)
        self.assertEqual(len(doc), 200002)
        self.assertEqual(list(doc)[-2:], ["autologin", "emergency"])
        self.assertEqual(doc["m199999"], 199999)
        for bad in ({"info_members": -1}, {"info_members": "many"}, {"drip_ms": {"*": "x"}},
                    {"cookie_domain": 5}, {"chunked_cut": {"*": 3}}):
            self.assertEqual(control(self.cport, "POST", "/config", bad)[0], 400, bad)

    def test_login_can_flood_the_client_with_cookies(self):
        self.config(login_cookies={"count": 3, "bytes": 5})
        body = urllib.parse.urlencode([("credential_0", "admin"), ("credential_1", "Adm1n-pw")])
        status, r, _ = self.req("POST", "/LOGIN", body, {"Content-Type": FORM_CT})
        self.assertEqual(status, 200)
        cookies = r.headers.get_all("Set-Cookie")
        self.assertEqual(len(cookies), 4)
        self.assertTrue(cookies[0].startswith(COOKIE + "="))
        self.assertEqual(cookies[1:], ["c%d=vvvvv; path=/" % i for i in range(3)])
        for bad in ({"count": 1}, {"count": -1, "bytes": 1}, {"count": 1, "bytes": 0}, 7):
            self.assertEqual(control(self.cport, "POST", "/config", {"login_cookies": bad})[0],
                             400, bad)

    def test_request_log_records_headers_and_body(self):
        _, token, _ = self.login()
        self.req("GET", "/cgi-bin/infoExt.cgi", headers={"X-Probe": "1"}, cookie=token,
                 port=self.port2)
        log = self.requests_log()
        self.assertEqual([(e["method"], e["path"]) for e in log],
                         [("POST", "/LOGIN"), ("GET", "/cgi-bin/infoExt.cgi")])
        login, info = log
        self.assertEqual(login["port"], self.port)
        self.assertEqual(info["port"], self.port2)
        self.assertIn(["Content-Type", FORM_CT], login["headers"])
        self.assertIn("credential_1=Adm1n-pw", login["body_text"])
        self.assertEqual(base64.b64decode(login["body_b64"]).decode(), login["body_text"])
        self.assertEqual(info["cookies"], {COOKIE: token})
        self.assertIn(["X-Probe", "1"], info["headers"])

    def test_reset_and_config_validation(self):
        _, token, _ = self.login()
        self.config(autologin="enabled", users={"bob": "pw"})
        self.assertEqual(self.login("bob", "pw")[0], 200)
        self.assertEqual(self.login()[0], 401)
        status, res = control(self.cport, "POST", "/config", {"no_such_key": 1})
        self.assertEqual(status, 400)
        status, res = control(self.cport, "POST", "/config", {"login_status": "x"})
        self.assertEqual(status, 400)
        self.assertEqual(control(self.cport, "POST", "/reset")[0], 200)
        self.assertEqual(self.requests_log(), [])
        self.assertEqual(control(self.cport, "GET", "/config")[1]["autologin"], "disabled")
        self.assertEqual(self.req("GET", "/cgi-bin/infoExt.cgi", cookie=token)[0], 401)
        self.assertEqual(self.login()[0], 200)


class LifecycleTest(unittest.TestCase):
    def test_sigterm_ready_file_redaction_and_cleanup(self):
        tmp = tempfile.mkdtemp(prefix="devsim-life-")
        self.addCleanup(shutil.rmtree, tmp, True)
        env = dict(os.environ, TMPDIR=tmp)
        ready = os.path.join(tmp, "ready.json")
        errpath = os.path.join(tmp, "stderr.txt")
        with open(errpath, "wb") as err:
            proc, info = start_sim(["--port", "0", "-v", "--ready-file", ready],
                                   env=env, stderr=err)
            self.addCleanup(stop_proc, proc)
            with open(ready) as f:
                self.assertEqual(json.load(f), info)
            self.assertEqual(sorted(info), ["control_port", "pid", "ports"])
            self.assertEqual(info["pid"], proc.pid)
            certdirs = [n for n in os.listdir(tmp) if n.startswith("devsim-cert-")]
            self.assertEqual(len(certdirs), 1)
            port = info["ports"][0]
            body = urllib.parse.urlencode({"sessID": "", "credential_0": "admin",
                                           "credential_1": "Adm1n-pw",
                                           "credential_2": "127.0.0.1", "destination": ""})
            c = http.client.HTTPSConnection("127.0.0.1", port, context=tls_ctx(), timeout=5)
            c.request("POST", "/LOGIN", body, {"Content-Type": FORM_CT})
            r = c.getresponse()
            r.read()
            token = r.getheader("Set-Cookie").split("=", 1)[1].split(";")[0]
            c.request("GET", "/cgi-bin/infoExt.cgi",
                      headers={"Cookie": "%s=%s" % (COOKIE, token)})
            self.assertEqual(c.getresponse().status, 200)
            c.close()
            proc.send_signal(signal.SIGTERM)
            self.assertEqual(proc.wait(10), 0)
        with open(errpath, "rb") as f:
            log = f.read()
        self.assertIn(b"/LOGIN", log)
        self.assertNotIn(b"Adm1n-pw", log)
        self.assertNotIn(token.encode(), log)
        self.assertEqual(os.listdir(tmp), ["stderr.txt"])   # cert dir + ready file gone
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection(("127.0.0.1", port), timeout=2).close()

    def test_shutdown_endpoint_releases_stall(self):
        proc, info = start_sim(["--port", "0"])
        self.addCleanup(stop_proc, proc)
        cport = info["control_port"]
        self.assertEqual(control(cport, "POST", "/config", {"stall": {"*": True}})[0], 200)
        c = http.client.HTTPSConnection("127.0.0.1", info["ports"][0],
                                        context=tls_ctx(), timeout=10)
        self.addCleanup(c.close)
        c.request("GET", "/info.cgi")
        # make sure the request has arrived (and is stalled) before shutting down
        deadline = time.monotonic() + 5
        while not control(cport, "GET", "/requests")[1]:
            self.assertLess(time.monotonic(), deadline, "request never recorded")
        self.assertEqual(control(cport, "POST", "/shutdown")[0], 200)
        self.assertEqual(proc.wait(10), 0)
        with self.assertRaises((http.client.HTTPException, ConnectionError, ssl.SSLError)):
            c.getresponse()


if __name__ == "__main__":
    unittest.main(verbosity=2)
