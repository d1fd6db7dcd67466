#!/usr/bin/env python3
"""Process tests of ovalix-web, the browser phone's bridge: the real program
between a TLS WebSocket client written here (the page's side) and a stand-in
for the service's phone port 5055 (bytes in, bytes out). The page itself and
a real browser are the end-to-end tests' business.

    bridge_process_test.py --case NAME --bridge PATH [--wine-run scripts/wine-run.sh]

Run inside scripts/isolate.sh (a private loopback: ports 5055-5057 are the
test's own; every 127.x.y.z address is a different phone). With --wine-run
the bridge is the .exe under Wine (in the prefix the wrapper names); the
checks of POSIX file modes are then left out.
"""

import argparse
import hashlib
import os
import re
import shutil
import socket
import ssl
import struct
import subprocess
import sys
import tempfile
import threading
import time

TESTS = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, TESTS)
from rig_support import Failure, check, run_case, wait_for  # noqa: E402

PHONE_PORT, PAIR_PORT, SERVICE_PORT = 5056, 5057, 5055
LIMIT = 256 * 1024


class ServiceStandIn:
    """Port 5055: takes one connection at a time, keeps what arrives."""

    def __init__(self):
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", SERVICE_PORT))
        self.listener.listen(4)
        self.lock = threading.Lock()
        self.conn = None
        self.received = bytearray()
        self.connections = 0
        self.closed = 0
        self.running = True
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while self.running:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            with self.lock:
                if self.conn is not None:
                    self.conn.close()
                self.conn = conn
                self.received = bytearray()
                self.connections += 1
            threading.Thread(target=self._read, args=(conn,), daemon=True).start()

    def _read(self, conn):
        while True:
            try:
                data = conn.recv(1 << 16)
            except OSError:
                data = b""
            with self.lock:
                if not data:
                    self.closed += 1
                    if self.conn is conn:
                        self.conn = None
                    return
                if self.conn is conn:
                    self.received += data

    def count(self):
        with self.lock:
            return len(self.received)

    def data(self):
        with self.lock:
            return bytes(self.received)

    def send(self, data):
        with self.lock:
            conn = self.conn
        check(conn is not None, "no service connection to send on")
        conn.sendall(data)

    def drop(self):
        with self.lock:
            conn, self.conn = self.conn, None
        if conn is not None:
            conn.shutdown(socket.SHUT_RDWR)
            conn.close()

    def stop(self):
        self.running = False
        self.drop()
        self.listener.close()


def tls_context():
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    ctx.check_hostname = False
    ctx.verify_mode = ssl.CERT_NONE
    return ctx


# How long a TLS client waits on the bridge. Under Wine every socket call goes
# through Wine's server, and a bridge holding the hostile case's 140 clients
# takes seconds over a handshake on a busy machine.
TLS_TIMEOUT = {"native": 5, "wine": 20}
tls_timeout = TLS_TIMEOUT["native"]


def connect_tls(source="127.0.0.1", timeout=None):
    raw = socket.socket()
    raw.settimeout(timeout or tls_timeout)
    raw.bind((source, 0))
    raw.connect(("127.0.0.1", PHONE_PORT))
    return tls_context().wrap_socket(raw, server_hostname="localhost")


def read_response(sock):
    """Status code, headers text and body of an HTTP/1.1 response."""
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = sock.recv(4096)
        if not chunk:
            break
        data += chunk
    head, _, body = data.partition(b"\r\n\r\n")
    m = re.match(rb"HTTP/1\.[01] (\d+)", head)
    check(m, "no HTTP status line: %r" % data[:200])
    length = re.search(rb"(?i)content-length: *(\d+)", head)
    if length:
        while len(body) < int(length.group(1)):
            chunk = sock.recv(65536)
            if not chunk:
                break
            body += chunk
    return int(m.group(1)), head.decode(errors="replace"), body


def http_get(path, source="127.0.0.1", extra=""):
    with connect_tls(source) as s:
        s.sendall(("GET %s HTTP/1.1\r\nHost: pc\r\n%s\r\n" % (path, extra)).encode())
        return read_response(s)


def pair_request(method, path, host="127.0.0.1:%d" % PAIR_PORT, extra=""):
    with socket.create_connection(("127.0.0.1", PAIR_PORT), timeout=5) as s:
        s.sendall(("%s %s HTTP/1.1\r\nHost: %s\r\nContent-Length: 0\r\n%s\r\n"
                   % (method, path, host, extra)).encode())
        return read_response(s)


class Phone:
    """The page's side of the WebSocket /link, over TLS."""

    def __init__(self, token, source="127.0.0.1"):
        self.sock = connect_tls(source)
        self.sock.sendall(("GET /link?t=%s HTTP/1.1\r\nHost: pc\r\nUpgrade: websocket\r\n"
                           "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                           "Sec-WebSocket-Version: 13\r\n\r\n" % token).encode())
        head = b""
        while b"\r\n\r\n" not in head:
            chunk = self.sock.recv(1)
            if not chunk:
                break
            head += chunk
        m = re.match(rb"HTTP/1\.[01] (\d+)", head)
        self.status = int(m.group(1)) if m else 0
        self.buffer = b""

    def send(self, payload, opcode=2, fin=True, announce=None):
        """One frame, masked as a browser's; announce overrides its length
        field (a frame that claims more than it carries)."""
        n = len(payload) if announce is None else announce
        head = bytes([(0x80 if fin else 0) | opcode])
        if n < 126:
            head += bytes([0x80 | n])
        elif n < 65536:
            head += bytes([0x80 | 126]) + struct.pack(">H", n)
        else:
            head += bytes([0x80 | 127]) + struct.pack(">Q", n)
        mask = os.urandom(4)
        masked = bytes(b ^ mask[i % 4] for i, b in enumerate(payload)) if len(payload) < 4096 \
            else _mask_fast(payload, mask)
        self.sock.sendall(head + mask + masked)

    def _need(self, n):
        while len(self.buffer) < n:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise EOFError
            self.buffer += chunk

    def frame(self, timeout=5):
        """(opcode, payload) of the next frame from the bridge."""
        self.sock.settimeout(timeout)
        self._need(2)
        opcode, n = self.buffer[0] & 15, self.buffer[1] & 127
        at = 2
        if n == 126:
            self._need(4)
            n, at = struct.unpack(">H", self.buffer[2:4])[0], 4
        elif n == 127:
            self._need(10)
            n, at = struct.unpack(">Q", self.buffer[2:10])[0], 10
        self._need(at + n)
        payload, self.buffer = self.buffer[at:at + n], self.buffer[at + n:]
        return opcode, payload

    def received(self, count, timeout=5):
        """count bytes of binary messages from the service, in any split."""
        data = b""
        while len(data) < count:
            opcode, payload = self.frame(timeout)
            check(opcode == 2, "expected a binary message, got opcode %d" % opcode)
            data += payload
        return data

    def close_code(self, timeout=8):
        """The code of the close frame the bridge sends (frames before it
        are skipped); None when the connection just ends."""
        end = time.monotonic() + timeout
        try:
            while time.monotonic() < end:
                opcode, payload = self.frame(max(0.1, end - time.monotonic()))
                if opcode == 8:
                    return struct.unpack(">H", payload[:2])[0] if len(payload) >= 2 else 1005
        except (EOFError, OSError, ssl.SSLError):
            return None
        raise Failure("the bridge did not close the link")

    def close(self):
        try:
            self.sock.close()
        except OSError:
            pass


def _mask_fast(payload, mask):
    n = len(payload)
    key = int.from_bytes((mask * (n // 4 + 1))[:n], "little")
    return (int.from_bytes(payload, "little") ^ key).to_bytes(n, "little")


def stream_message(size, seq):
    """Bytes shaped like a stream message (a header and payload)."""
    body = bytes((seq + i) & 0xFF for i in range(size - 16))
    return struct.pack("<IIII", 0xDEADC0DE, 0, 0x20002, size - 16) + body


class Rig:
    def __init__(self, args):
        self.args = args
        self.work = tempfile.mkdtemp(prefix="ovalix-web-proc-")
        self.state = os.path.join(self.work, "state")
        self.bridge = None
        self.service = None
        self.phones = []
        self.log = os.path.join(self.work, "bridge.log")
        self.wine = [args.wine_run] if args.wine_run else []

    def program(self, *argv):
        return self.wine + [self.args.bridge] + list(argv)

    def state_arg(self):
        """The state folder as the bridge names it: under Wine, the Windows
        path of the same folder."""
        return "Z:" + self.state.replace("/", "\\") if self.wine else self.state

    def start_bridge(self):
        env = dict(os.environ)
        # AddressSanitizer keeps freed memory aside and never gives it back:
        # the memory checks want what the bridge itself holds.
        env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":quarantine_size_mb=0:allocator_release_to_os_interval_ms=0"
        self.bridge = subprocess.Popen(self.program("--state-dir", self.state_arg()),
                                       stdout=open(self.log, "a"), stderr=subprocess.STDOUT,
                                       env=env)

        def up():
            try:
                socket.create_connection(("127.0.0.1", PAIR_PORT), timeout=1).close()
                return True
            except OSError:
                return False
        wait_for(up, 60 if self.wine else 10, "the bridge's pairing port")

    def start_service(self):
        self.service = ServiceStandIn()

    def token(self):
        with open(os.path.join(self.state, "web", "token")) as f:
            return f.read().strip()

    def phone(self, source="127.0.0.1", token=None):
        p = Phone(self.token() if token is None else token, source)
        self.phones.append(p)
        return p

    def linked_phone(self, source="127.0.0.1"):
        before = self.service.connections
        p = self.phone(source)
        check(p.status == 101, "link refused: %d" % p.status)
        wait_for(lambda: self.service.connections > before, 5,
                 "the service connection (had %d)" % before)
        return p

    def rss_kb(self):
        with open("/proc/%d/status" % self.bridge.pid) as f:
            return int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))

    def close(self):
        for p in self.phones:
            p.close()
        if self.service:
            self.service.stop()
        if self.bridge:
            self.bridge.terminate()
            try:
                self.bridge.wait(10)
            except subprocess.TimeoutExpired:
                self.bridge.kill()
                self.bridge.wait(10)
            # A Windows program has no SIGTERM to stop on: Wine ends it.
            check(self.wine or self.bridge.returncode == 0,
                  "the bridge ended with %s:\n%s" % (self.bridge.returncode, open(self.log).read()))
        shutil.rmtree(self.work, ignore_errors=True)


def case_tls_and_pairing(rig):
    rig.start_service()
    rig.start_bridge()
    # Private state.
    web = os.path.join(rig.state, "web")
    if not rig.wine:
        check(os.stat(web).st_mode & 0o777 == 0o700, "state folder not private")
        for name in ("cert.pem", "key.pem", "token"):
            check(os.stat(os.path.join(web, name)).st_mode & 0o777 == 0o600,
                  name + " not private")
    token = rig.token()
    check(re.fullmatch(r"[0-9a-f]{32}", token), "token: %r" % token)

    # TLS only: a plain request gets no HTTP answer.
    with socket.create_connection(("127.0.0.1", PHONE_PORT), timeout=5) as s:
        s.sendall(b"GET / HTTP/1.1\r\nHost: pc\r\n\r\n")
        try:
            answer = s.recv(100)
        except OSError:
            answer = b""
        check(not answer.startswith(b"HTTP/"), "plain HTTP answered: %r" % answer)

    status, head, _ = http_get("/no-such-file")
    check(status == 404, "unknown file: %d" % status)
    status, head, body = http_get("/?t=" + token)
    check(status in (200, 404), "page: %d" % status)
    if status == 200:
        check("text/html" in head and b"<" in body, "page is not HTML: " + head)

    # The link without the token, with a wrong one, and a plain GET of it.
    for t in ("", "0" * 32, token[:-1], token + "0", "1" * 32):
        p = rig.phone(token=t, source="127.0.0.2")
        check(p.status == 403, "token %r: status %d" % (t, p.status))
    check(rig.service.connections == 0, "a refused link reached the service")

    # Guessing is rate-limited per address: after five failures even the
    # right token waits; another address is not held up.
    p = rig.phone(source="127.0.0.2")
    check(p.status == 429, "right token while limited: %d" % p.status)
    p = rig.phone(source="127.0.0.3")
    check(p.status == 101, "another address: %d" % p.status)

    # The pairing page: its QR code, addresses and the fingerprint of the
    # certificate that the phone port really presents.
    with connect_tls() as s:
        der = s.getpeercert(binary_form=True)
    fingerprint = ":".join("%02X" % b for b in hashlib.sha256(der).digest())
    status, _, body = pair_request("GET", "/")
    page = body.decode()
    check(status == 200, "pairing page: %d" % status)
    check(fingerprint in page, "fingerprint %s not on the pairing page" % fingerprint)
    check("A phone is linked from" in page, "pairing page does not show the link")
    if "no network address" not in page:
        check("<svg" in page and ("/?t=" + token) in page, "no QR code or URL on the page")
    status, _, body = pair_request("GET", "/status")
    check(status == 200 and body.startswith(b"linked "), "status: %d %r" % (status, body))
    # Another host name (a rebinding attack) gets nothing.
    status, _, body = pair_request("GET", "/", host="evil.example:%d" % PAIR_PORT)
    check(status == 403 and token.encode() not in body, "foreign Host: %d" % status)
    # The pairing page is on loopback only: the phone port's other address
    # family or any non-loopback address is not tried here, but 5057 must
    # not be the phone port's TLS either.
    out = subprocess.run(rig.program("pair", "--state-dir", rig.state_arg()),
                         capture_output=True, text=True, timeout=60)
    check(out.returncode == 0 and fingerprint in out.stdout and "127.0.0.1:5057" in out.stdout,
          "ovalix-web pair:\n" + out.stdout + out.stderr)


def case_relay(rig):
    rig.start_service()
    rig.start_bridge()
    phone = rig.linked_phone()
    # Whole stream messages, the largest the protocol allows among them,
    # reach the service byte for byte and in order.
    sent = b""
    for seq, size in enumerate((352, 200000, 16, 54000, 199999)):
        m = stream_message(size, seq)
        phone.send(m)
        sent += m
    wait_for(lambda: rig.service.count() >= len(sent), 10, "the messages at the service")
    check(rig.service.data() == sent, "the service got other bytes than the page sent")

    # A message in fragments is relayed too; a text message is not.
    phone.send(b"AB", opcode=2, fin=False)
    phone.send(b"CD", opcode=0, fin=True)
    phone.send(b"text is reserved", opcode=1)
    phone.send(b"EF")
    wait_for(lambda: rig.service.count() >= len(sent) + 6, 5, "the fragments")
    time.sleep(0.3)
    check(rig.service.data()[len(sent):] == b"ABCDEF", "fragments/text: %r"
          % rig.service.data()[len(sent):])

    # The service's bytes reach the page as binary messages.
    reply = struct.pack("<IIIII", 0xDEADC0DE, 0, 0x20003, 4, 2) + bytes(range(200)) * 50
    rig.service.send(reply)
    check(phone.received(len(reply)) == reply, "the page got other bytes than the service sent")

    # A message over the bound ends the link before its bytes go anywhere:
    # its frame announces more than the bound, and the bridge closes with
    # 1009 without waiting for the rest.
    before = rig.service.count()
    phone.send(b"x" * 1000, announce=LIMIT + 1)
    check(phone.close_code() == 1009, "oversized message not closed with 1009")
    wait_for(lambda: rig.service.closed >= 1, 5, "the service connection to close")
    check(rig.service.count() == before, "bytes of the oversized message reached the service")

    # The same in fragments that add up past the bound.
    phone = rig.linked_phone()
    for _ in range(4):
        phone.send(b"y" * (64 * 1024), opcode=2 if _ == 0 else 0, fin=False)
    phone.send(b"y", opcode=0, fin=True)
    check(phone.close_code() == 1009, "fragmented oversized message not closed with 1009")


def case_one_phone(rig):
    rig.start_service()
    rig.start_bridge()
    first = rig.linked_phone("127.0.0.1")
    first.send(b"alive")
    # A second phone gets 409 for its link and the "in use" page for its
    # page; the first stays linked.
    second = rig.phone("127.0.0.2")
    check(second.status == 409, "second phone's link: %d" % second.status)
    status, head, body = http_get("/?t=" + rig.token(), source="127.0.0.2")
    check(status == 409 and b"In use" in body, "second phone's page: %d %r" % (status, body[:80]))
    # The first phone reloading its page is served, and its new link
    # replaces the old one, whose WebSocket is closed.
    status, _, body = http_get("/?t=" + rig.token(), source="127.0.0.1")
    check(b"In use" not in body, "the linked phone's own reload got the in-use page")
    again = rig.linked_phone("127.0.0.1")
    check(first.close_code() == 1008, "the replaced link was not closed")
    again.send(b"after reload")
    wait_for(lambda: rig.service.data() == b"after reload", 5, "the new link's bytes")
    # A phone whose page has gone silent (its network went away) gives way.
    time.sleep(3.2)
    third = rig.linked_phone("127.0.0.3")
    third.send(b"third")
    wait_for(lambda: rig.service.data() == b"third", 5, "the third phone's bytes")
    check(again.close_code() == 1008, "the silent link was not closed")


def closed_by_peer(sock, deadline):
    """Whether the peer closes SOCK before DEADLINE, reading past anything
    it sends first."""
    while True:
        sock.settimeout(max(0.1, deadline - time.monotonic()))
        try:
            if sock.recv(4096) == b"":
                return True
        except socket.timeout:
            return False
        except OSError:
            return True


def case_hostile(rig):
    """While a phone streams: half-open connections, slow and garbage TLS
    handshakes, garbage and oversized messages on other links. The stream
    keeps going and the bridge's memory stays flat over rounds."""
    rig.start_service()
    rig.start_bridge()
    phone = rig.linked_phone()
    frame = stream_message(54000, 1)
    stop = threading.Event()
    gaps = []
    sent = [0]

    def stream():
        last = time.monotonic()
        while not stop.is_set():
            phone.send(frame)
            sent[0] += len(frame)
            now = time.monotonic()
            gaps.append(now - last)
            last = now
            time.sleep(1 / 30)
    streamer = threading.Thread(target=stream, daemon=True)
    streamer.start()

    def round_of_hostiles(n):
        held = []
        for i in range(n):
            # Half-open: TCP only.
            s = socket.socket()
            s.bind(("127.0.%d.%d" % (1 + i // 200, 10 + i % 200), 0))
            s.connect(("127.0.0.1", PHONE_PORT))
            held.append(s)
        for i in range(20):
            # A TLS ClientHello that stops halfway, and plain garbage.
            s = socket.create_connection(("127.0.0.1", PHONE_PORT))
            s.sendall(b"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03" + os.urandom(20))
            held.append(s)
            g = socket.create_connection(("127.0.0.1", PHONE_PORT))
            g.sendall(os.urandom(3000))
            held.append(g)
        for i in range(5):
            # A wrong token, and garbage and an oversized message from
            # TLS clients that never pair.
            p = Phone("f" * 32, source="127.0.9.%d" % (i + 1))
            p.close()
            try:
                s = connect_tls("127.0.8.%d" % (i + 1))
                s.sendall(os.urandom(5000))
                s.close()
            except (OSError, ssl.SSLError):
                pass
        return held

    rss = []
    for rounds in range(3):
        held = round_of_hostiles(100)
        time.sleep(2)
        check(rig.bridge.poll() is None, "the bridge died")
        # The paired link is untouched: the service keeps receiving.
        count = rig.service.count()
        wait_for(lambda: rig.service.count() > count + 10 * len(frame), 5,
                 "the stream to go on beside the hostile clients")
        # They time out by themselves and leave nothing behind. Each one's
        # 10 s count starts when the bridge accepts it, which a loaded
        # machine may do seconds after the connect: wait up to three times
        # that for every one of them to be closed.
        # Garbage that happens to start like a TLS record is answered with
        # an alert before the close: read through whatever comes first.
        deadline = time.monotonic() + 30
        for s in held:
            check(closed_by_peer(s, deadline), "a half-open or slow client was not timed out")
            s.close()
        time.sleep(1)
        rss.append(rig.rss_kb())
    stop.set()
    streamer.join()
    wait_for(lambda: rig.service.count() >= sent[0], 10, "every streamed byte at the service")
    check(rig.service.count() == sent[0], "bytes lost or added: sent %d, service got %d"
          % (sent[0], rig.service.count()))
    check(max(gaps) < 1.0, "the stream stalled for %.2f s" % max(gaps))
    print("rss_kb per round: %s" % rss)
    check(rss[2] <= rss[0] + 2048, "the bridge's memory grew over the rounds: %s kB" % rss)


def case_renew(rig):
    rig.start_service()
    rig.start_bridge()
    old = rig.token()
    phone = rig.linked_phone()
    # Another site's form cannot renew the token.
    status, _, _ = pair_request("POST", "/renew", extra="Origin: http://evil.example\r\n")
    check(status == 403 and rig.token() == old, "renewal from another origin: %d" % status)
    status, head, _ = pair_request("POST", "/renew",
                                   extra="Origin: http://127.0.0.1:%d\r\n" % PAIR_PORT)
    check(status == 303 and re.search(r"(?i)location: */", head), "renew: %d %s" % (status, head))
    new = rig.token()
    check(new != old and re.fullmatch(r"[0-9a-f]{32}", new), "the token did not change")
    check(phone.close_code() == 1008, "renewal did not end the link")
    wait_for(lambda: rig.service.closed >= 1, 5, "the service connection to close")
    check(rig.phone(token=old).status == 403, "the old token still links")
    rig.linked_phone()
    # The running bridge and `pair` agree on the new token.
    out = subprocess.run(rig.program("pair", "--state-dir", rig.state_arg()),
                         capture_output=True, text=True, timeout=60)
    check(old not in out.stdout, "pair printed the old token")


def case_service_gone(rig):
    rig.start_bridge()
    # No service: the link waits for it a few seconds, then tells the page
    # to come back later (1013).
    phone = rig.phone()
    check(phone.status == 101, "link: %d" % phone.status)
    phone.send(stream_message(352, 0))
    check(phone.close_code(timeout=10) == 1013, "no 1013 without a service")
    # A service that comes up while the page links gets the bytes sent
    # before it answered.
    phone = rig.phone()
    table = stream_message(352, 7)
    phone.send(table)
    time.sleep(0.6)
    rig.start_service()
    wait_for(lambda: rig.service.data() == table, 8, "the table, once the service is up")
    # The service ending the link ends the WebSocket, and the page links anew.
    rig.service.drop()
    check(phone.close_code() == 1001, "the service's end did not close the WebSocket")
    again = rig.linked_phone()
    again.send(b"again")
    wait_for(lambda: rig.service.data() == b"again", 5, "the new link's bytes")


CASES = {name[5:]: f for name, f in globals().items() if name.startswith("case_")}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--case", required=True, choices=sorted(CASES))
    ap.add_argument("--bridge", required=True)
    ap.add_argument("--wine-run")
    args = ap.parse_args()
    global tls_timeout
    tls_timeout = TLS_TIMEOUT["wine" if args.wine_run else "native"]
    return run_case(CASES, args.case, Rig(args), "PASS: " + args.case)


if __name__ == "__main__":
    sys.exit(main())
