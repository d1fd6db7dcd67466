"""A small WebSocket client on the standard library: enough to drive a
browser over its DevTools socket and to play misbehaving clients of the
bridge (raw frames, oversized lengths, handshakes left half done)."""

import base64
import json
import os
import socket
import ssl
import struct
import urllib.parse

OP_TEXT, OP_BINARY, OP_CLOSE, OP_PING, OP_PONG = 1, 2, 8, 9, 10


class HandshakeRefused(Exception):
    def __init__(self, status, head):
        super().__init__("upgrade refused with HTTP %s" % status)
        self.status = status
        self.head = head


def open_stream(host, port, tls, timeout, source=None):
    """A connection, over TLS (certificate not checked) when tls; source: the
    local address to connect from (any 127.x.y.z on loopback)."""
    sock = socket.create_connection((host, port), timeout=timeout,
                                    source_address=(source, 0) if source else None)
    if tls:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        sock = context.wrap_socket(sock, server_hostname=host)
    return sock


def frame(opcode, payload, fin=True, length=None):
    """One masked client frame; length overrides the length field (for
    frames that claim more than they carry)."""
    n = len(payload) if length is None else length
    head = bytes([(0x80 if fin else 0) | opcode])
    if n < 126:
        head += bytes([0x80 | n])
    elif n < 1 << 16:
        head += bytes([0x80 | 126]) + struct.pack(">H", n)
    else:
        head += bytes([0x80 | 127]) + struct.pack(">Q", n)
    mask = os.urandom(4)
    body = bytes(b ^ mask[i & 3] for i, b in enumerate(payload)) if len(payload) < 4096 \
        else _mask_fast(payload, mask)
    return head + mask + body


def _mask_fast(payload, mask):
    n = len(payload)
    key = int.from_bytes((mask * (n // 4 + 1))[:n], "little")
    return (int.from_bytes(payload, "little") ^ key).to_bytes(n, "little")


class WebSocket:
    def __init__(self, url, timeout=10, headers=None, source=None):
        u = urllib.parse.urlsplit(url)
        tls = u.scheme == "wss"
        port = u.port or (443 if tls else 80)
        self.sock = open_stream(u.hostname, port, tls, timeout, source)
        path = u.path + ("?" + u.query if u.query else "")
        key = base64.b64encode(os.urandom(16)).decode()
        lines = ["GET %s HTTP/1.1" % path, "Host: %s:%d" % (u.hostname, port),
                 "Upgrade: websocket", "Connection: Upgrade",
                 "Sec-WebSocket-Key: " + key, "Sec-WebSocket-Version: 13"]
        lines += ["%s: %s" % kv for kv in (headers or {}).items()]
        self.sock.sendall(("\r\n".join(lines) + "\r\n\r\n").encode())
        head = b""
        while b"\r\n\r\n" not in head:
            chunk = self.sock.recv(4096)
            if not chunk:
                break
            head += chunk
        head, _, self.pending = head.partition(b"\r\n\r\n")
        status = head.split(b" ", 2)[1].decode() if head.count(b" ") >= 1 else "?"
        if status != "101":
            self.sock.close()
            raise HandshakeRefused(status, head.decode(errors="replace"))

    def send(self, payload, opcode=OP_BINARY):
        if isinstance(payload, str):
            payload, opcode = payload.encode(), OP_TEXT
        self.sock.sendall(frame(opcode, payload))

    def send_raw(self, data):
        self.sock.sendall(data)

    def _read(self, n):
        while len(self.pending) < n:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise ConnectionError("closed by peer")
            self.pending += chunk
        out, self.pending = self.pending[:n], self.pending[n:]
        return out

    def recv(self):
        """The next whole data message (text as str); answers pings."""
        parts, kind = [], None
        while True:
            b0, b1 = self._read(2)
            n = b1 & 0x7F
            if n == 126:
                n = struct.unpack(">H", self._read(2))[0]
            elif n == 127:
                n = struct.unpack(">Q", self._read(8))[0]
            payload = self._read(n)
            opcode = b0 & 0x0F
            if opcode == OP_PING:
                self.send(payload, OP_PONG)
                continue
            if opcode == OP_CLOSE:
                raise ConnectionError("closed by peer")
            if opcode in (OP_TEXT, OP_BINARY):
                kind = opcode
            parts.append(payload)
            if b0 & 0x80:
                data = b"".join(parts)
                return data.decode() if kind == OP_TEXT else data

    def close(self):
        try:
            self.sock.sendall(frame(OP_CLOSE, b""))
        except OSError:
            pass
        self.sock.close()


class DevTools:
    """A page of a browser started with --remote-debugging-port, driven over
    its DevTools socket: evaluate script, reload, capture the screen."""

    def __init__(self, ws_url, timeout=10):
        self.ws = WebSocket(ws_url, timeout=timeout)
        self.next_id = 0

    def call(self, method, **params):
        self.next_id += 1
        mine = self.next_id
        self.ws.send(json.dumps({"id": mine, "method": method, "params": params}))
        while True:
            reply = json.loads(self.ws.recv())
            if reply.get("id") == mine:
                if "error" in reply:
                    raise RuntimeError("%s: %s" % (method, reply["error"]))
                return reply.get("result", {})

    def evaluate(self, expression):
        r = self.call("Runtime.evaluate", expression=expression, returnByValue=True,
                      awaitPromise=True)
        return r.get("result", {}).get("value")

    def close(self):
        self.ws.close()
