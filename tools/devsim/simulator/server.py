"""The loopback servers: one thread per connection, TLS on the device ports,
and a record of the open connections so that a stop can release them."""

import http.server
import socket
import socketserver
import sys
import threading
import time
import traceback

from . import log
from .config import HANDSHAKE_TIMEOUT, LOOPBACK
from .device import DeviceHandler


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
        if log.VERBOSE:
            log.vlog("unexpected error for %s:%s" % client_address)
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
            log.vlog("port %d: TLS handshake failed: %s" % (self.port, e))
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
