"""How an answer's body goes out when a misbehaviour is set for its path:
cut, reset, unframed, chunked, without end, dripped or paced. At most one of
them shapes an answer (config.FRAMING_KEYS, first set wins); without one the
body goes out whole with its Content-Length."""

import time

from .config import FRAMING_KEYS, RATE_PIECE
from .config import per_path
from .log import vlog
from .wire import endless_chunks, filler_chunks

# How each framing misbehaviour tells the end of the body: by the chunked
# encoding, by closing the connection, or (all others) by the Content-Length.
CHUNKED = ("chunked_cut", "chunked", "endless_body")
UNFRAMED = ("close_without_length", "unframed")
# Those that send only the first half of the body.
HALVED = ("reset_mid_body", "close_without_length", "chunked_cut")


class BodyPlan:
    """What goes out for one answer: the misbehaviour that shapes it (None
    for none) with its setting, the body's pieces and the length its head
    announces."""

    def __init__(self, kind, value, chunks, announced):
        self.kind = kind
        self.value = value
        self.chunks = chunks
        self.announced = announced

    @property
    def chunked(self):
        return self.kind in CHUNKED

    @property
    def unframed(self):
        return self.kind in UNFRAMED


def framing(cfg, path):
    """(key, value) of the framing misbehaviour for this path, or
    (None, None)."""
    for key in FRAMING_KEYS:
        value = per_path(cfg.get(key, {}), path)
        if value:
            return key, value
    return None, None


def plan_body(resp, cfg, path):
    """The body of `resp` as the path's misbehaviours have it go out."""
    chunks, length = resp.chunks, resp.length
    huge = per_path(cfg.get("huge_body", {}), path)
    if huge:
        resp.close()
        chunks, length = filler_chunks(huge), huge
    kind, value = framing(cfg, path)
    if kind == "endless_body":
        resp.close()
        chunks = endless_chunks()
    if kind in HALVED and length < 2:
        # Half of a body needs a body of two bytes at least.
        length = 1024
        chunks = iter([b"".join(chunks) + b"x" * 1024])
    return BodyPlan(kind, value, chunks, length)


def first_bytes(chunks, count):
    """The first `count` bytes of the body, chunk by chunk."""
    left = count
    for chunk in chunks:
        if left <= 0:
            return
        part = chunk[:left]
        left -= len(part)
        yield part


def write_chunk(handler, data):
    handler.wfile.write(b"%x\r\n" % len(data) + data + b"\r\n")


# ---- one sender per misbehaviour; each ends the connection as it must

def send_whole(handler, plan, path):
    state = handler.server.state
    for chunk in plan.chunks:
        if state.stopping:
            handler.close_connection = True
            return
        handler.wfile.write(chunk)


def send_reset_mid_body(handler, plan, path):
    half = max(1, plan.announced // 2)
    for part in first_bytes(plan.chunks, half):
        handler.wfile.write(part)
    vlog("port %d: reset after %d of %d body bytes"
         % (handler.server.port, half, plan.announced))
    handler.abort()


def send_close_without_length(handler, plan, path):
    half = max(1, plan.announced // 2)
    for part in first_bytes(plan.chunks, half):
        handler.wfile.write(part)
    vlog("port %d: closed after %d of %d body bytes, no length sent"
         % (handler.server.port, half, plan.announced))
    handler.close_cleanly()


def send_chunked_cut(handler, plan, path):
    half = max(1, plan.announced // 2)
    for part in first_bytes(plan.chunks, half):
        write_chunk(handler, part)
    vlog("port %d: closed after %d of %d body bytes, no last chunk"
         % (handler.server.port, half, plan.announced))
    handler.close_cleanly()


def send_chunked(handler, plan, path):
    for chunk in plan.chunks:
        if chunk:               # an empty chunk would end the body
            write_chunk(handler, chunk)
    handler.wfile.write(b"0\r\n\r\n")


def send_unframed(handler, plan, path):
    for chunk in plan.chunks:
        handler.wfile.write(chunk)
    handler.close_cleanly()


def send_endless_body(handler, plan, path):
    state = handler.server.state
    sent = 0
    for chunk in plan.chunks:
        if not state.still_set("endless_body", path):
            break
        write_chunk(handler, chunk)
        sent += len(chunk)
    vlog("port %d: endless body ended after %d bytes" % (handler.server.port, sent))
    handler.drop()


def send_drip(handler, plan, path):
    state = handler.server.state
    for chunk in plan.chunks:
        for i in range(len(chunk)):
            if not state.still_set("drip_ms", path):
                vlog("port %d: drip released" % handler.server.port)
                handler.drop()
                return
            handler.wfile.write(chunk[i:i + 1])
            if not state.sleep(plan.value / 1000.0):
                handler.drop()
                return


def send_paced(handler, plan, path):
    """A whole, properly framed body over a slow line."""
    state = handler.server.state
    start, sent = time.monotonic(), 0
    for chunk in plan.chunks:
        for i in range(0, len(chunk), RATE_PIECE):
            piece = chunk[i:i + RATE_PIECE]
            due = start + sent / float(plan.value) - time.monotonic()
            if due > 0 and not state.sleep(due):
                handler.drop()
                return
            handler.wfile.write(piece)
            handler.wfile.flush()
            sent += len(piece)


SENDERS = {
    None: send_whole,
    "reset_mid_body": send_reset_mid_body,
    "close_without_length": send_close_without_length,
    "chunked_cut": send_chunked_cut,
    "chunked": send_chunked,
    "unframed": send_unframed,
    "endless_body": send_endless_body,
    "drip_ms": send_drip,
    "rate_bps": send_paced,
}


def send_body(handler, plan, path):
    SENDERS[plan.kind](handler, plan, path)
