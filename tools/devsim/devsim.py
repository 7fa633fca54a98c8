#!/usr/bin/env python3
"""devsim - HTTPS substation-gateway device simulator for launcher tests.

Serves the device endpoints (/info.cgi, /LOGIN, /cgi-bin/infoExt.cgi,
/cgi-bin/ReadBinaryFile.cgi, /LOGOUT) over HTTPS on one or more loopback
ports, and a plain-HTTP JSON control API on another loopback port.
Python 3 standard library only (plus the `openssl` CLI for the self-signed
certificate).  See README.md next to this file; the code is the package
`simulator` beside it.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from simulator.app import main  # noqa: E402  (after the path is set)

if __name__ == "__main__":
    sys.exit(main())
