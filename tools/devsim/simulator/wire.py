"""Request bodies and cookies as they come in, answers as they go out."""

import json
import re

from .config import CHUNK


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
