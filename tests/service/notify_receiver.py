#!/usr/bin/env python3
"""Receives service-manager notify datagrams on a Unix socket and writes one
line per datagram field to a log, until STATUS=STOPPED arrives or time runs
out. A name starting with '@' is an abstract socket."""
import os
import socket
import sys
import time

name, log_path, ready_path = sys.argv[1], sys.argv[2], sys.argv[3]
sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
if not name.startswith("@") and os.path.exists(name):
    os.unlink(name)
sock.bind("\0" + name[1:] if name.startswith("@") else name)
open(ready_path, "w").close()
deadline = time.monotonic() + 60
with open(log_path, "w") as log:
    while time.monotonic() < deadline:
        sock.settimeout(max(0.1, deadline - time.monotonic()))
        try:
            data = sock.recv(4096).decode()
        except socket.timeout:
            break
        log.write(data if data.endswith("\n") else data + "\n")
        log.flush()
        if "STATUS=STOPPED" in data:
            break
