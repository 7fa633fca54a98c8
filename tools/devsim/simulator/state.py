"""The device state that all ports share: config, sessions and request log."""

import copy
import secrets
import threading
import time

from .config import merged_config, per_path


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
