"""Diagnostics to stderr, switched on by -v."""

import sys

VERBOSE = False


def vlog(msg):
    """Diagnostics to stderr, only with -v.  Callers never pass secrets."""
    if VERBOSE:
        try:
            sys.stderr.write("devsim: %s\n" % msg)
            sys.stderr.flush()
        except (OSError, ValueError):
            pass
