"""The device's configuration: defaults, validation of a /config patch, and
the lookup of a per-path setting."""

import copy
import os

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
    "chunked": {},
    "unframed": {},
    "endless_body": {},
    "drip_ms": {},
    "rate_bps": {},
    "cookie_domain": None,
    "login_cookies": None,
    "info_members": 0,
}

# The misbehaviours that change how a body is framed or sent. At most one
# applies to an answer: the first of these that is set for the path.
FRAMING_KEYS = ("endless_body", "reset_mid_body", "close_without_length",
                "chunked_cut", "chunked", "unframed", "drip_ms", "rate_bps")

# A paced body goes out in pieces of this size, each when its time has come.
RATE_PIECE = 4096

DEFAULT_GARBAGE = (b"\xde\xad\xbe\xef NOT-HTTP \x00\x01\x02\x03 garbage "
                   b"\xff\xfe\xfd\xfc\r\n\r\n")


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
    if key in ("close_without_length", "chunked_cut", "chunked", "unframed",
               "endless_body"):
        return _map(key, value, lambda v: v is True, "true/false")
    if key == "drip_ms":
        return _map(key, value, lambda v: _is_num(v) and v > 0,
                    "milliseconds between two bytes")
    if key == "rate_bps":
        return _map(key, value, lambda v: _is_num(v) and v >= 1,
                    "bytes per second")
    if key == "login_cookies":
        if (not isinstance(value, dict) or set(value) != {"count", "bytes"}
                or not all(_is_int(v) for v in value.values())
                or value["count"] < 0 or value["bytes"] < 1):
            raise ConfigError('login_cookies must be null or {"count": N >= 0, "bytes": B >= 1}')
        return dict(value)
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
