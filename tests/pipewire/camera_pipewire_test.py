#!/usr/bin/env python3
"""ovalix-camera against a real PipeWire daemon: each case runs in private
namespaces of its own (mount and network: /dev/shm, loopback, a tmpfs as
XDG_RUNTIME_DIR, a private session bus) with pipewire and wireplumber started
here and stopped by their ids, the real OvalixSvc, the phone stand-in sending
the still blocks picture, and GStreamer's pipewiresrc as the consumer.

    camera_pipewire_test.py --case NAME --bin BUILD_DIR [--shots DIR]
"""

import argparse
import json
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import zlib

TESTS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, TESTS)
from rig_support import (BLOCK_COLOURS, Failure, check, native_service_env,  # noqa: E402
                         run_case, wait_until)

NODE = "ovalix-camera"

# The placeholder card: its background at the left edge half way down, and
# the colour of the missing step.
PLACEHOLDER_BACKGROUND = (26, 32, 45)
PLACEHOLDER_MISSING = (255, 168, 48)
PLACEHOLDER_KINDS = {"no-service": 0, "no-phone": 1, "no-picture": 2}


# The moving picture's colour bars (--pattern moving), as high or low per
# channel; each frame moves them 4 pixels to the left.
BAR_CODES = [(1, 1, 1), (1, 1, 0), (0, 1, 1), (0, 1, 0), (1, 0, 1), (1, 0, 0), (0, 0, 1),
             (0, 0, 0)]
BAR_STEP = 4
FRAME_SLOT_COUNT = 20  # the block's ring


def near(a, b, tolerance):
    return all(abs(x - y) <= tolerance for x, y in zip(a, b))


def write_png(path, width, height, rgb):
    """A plain 8-bit RGB PNG, so the test needs no image library."""
    raw = b"".join(b"\x00" + rgb[y * width * 3:(y + 1) * width * 3] for y in range(height))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 6)))
        f.write(chunk(b"IEND", b""))


class Picture:
    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, rgb

    def at(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.rgb[i:i + 3])

    def blocks_mismatch(self, tolerance=40):
        """None when every cell centre has its colour, else a description."""
        cw, ch = self.width // 4, self.height // 2
        for i, colour in enumerate(BLOCK_COLOURS):
            col, row = i % 4, i // 4
            x0, y0 = col * cw, row * ch
            w = self.width - x0 if col == 3 else cw
            h = self.height - y0 if row == 1 else ch
            got = self.at(x0 + w // 2, y0 + h // 2)
            if not near(got, colour, tolerance):
                return "cell %d: %s, expected %s" % (i, got, colour)
        return None

    def bar_shift(self):
        """How far the moving picture's bars have moved, in pixels modulo
        the width: the shift that best explains a row through the bars."""
        w, y = self.width, self.height // 4
        codes = [(x, tuple(int(c > 127) for c in self.at(x, y))) for x in range(0, w, BAR_STEP)]
        return max(range(0, w, BAR_STEP), key=lambda s: sum(
            BAR_CODES[((x + s) % w) * 8 // w] == code for x, code in codes))

    def placeholder_kind(self, tolerance=40):
        """Which step the placeholder marks as missing, or None."""
        if not near(self.at(2, self.height // 2), PLACEHOLDER_BACKGROUND, 20):
            return None
        s = max(min(self.width, self.height) // 3, 12)
        y = self.height * 75 // 100
        for name, k in PLACEHOLDER_KINDS.items():
            if near(self.at(self.width // 2 + (k - 1) * (s // 2), y), PLACEHOLDER_MISSING,
                    tolerance):
                return name
        return None


class Rig:
    def __init__(self, args):
        self.args = args
        self.work = tempfile.mkdtemp(prefix="ovalix-camera-")
        self.procs = {}
        self.consumers = []
        run = os.path.join(self.work, "run")
        home = os.path.join(self.work, "home")
        os.makedirs(run)
        os.makedirs(os.path.join(home, "state"))
        os.makedirs(os.path.join(home, "config"))
        subprocess.run(["mount", "-t", "tmpfs", "-o", "mode=700", "tmpfs", run], check=True)
        self.env = dict(os.environ)
        self.env.update({
            "XDG_RUNTIME_DIR": run, "HOME": home,
            "XDG_STATE_HOME": os.path.join(home, "state"),
            "XDG_CONFIG_HOME": os.path.join(home, "config"),
            "DBUS_SESSION_BUS_ADDRESS": "unix:path=%s/bus" % run,
            "GST_REGISTRY": os.path.join(self.work, "gst-registry.bin"),
        })
        self.env.pop("PIPEWIRE_REMOTE", None)
        self.env.pop("PIPEWIRE_RUNTIME_DIR", None)
        self.run_dir = run

    def path(self, *parts):
        return os.path.join(self.work, *parts)

    def start(self, name, argv, env=None, stdout=None):
        log = open(self.path(name + ".log"), "w")
        proc = subprocess.Popen(argv, env=env or self.env, stdout=stdout or log,
                                stderr=subprocess.STDOUT if stdout is None else log)
        self.procs[name] = proc
        return proc

    def stop(self, name, sig=signal.SIGTERM, expect_zero=True):
        proc = self.procs.pop(name, None)
        if proc is None:
            return None
        if proc.poll() is None:
            proc.send_signal(sig)
        try:
            rc = proc.wait(timeout=15)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
            raise Failure("%s did not stop" % name)
        if expect_zero:
            check(rc == 0, "%s ended with %s:\n%s" % (name, rc, self.log(name)[-3000:]))
        return rc

    def log(self, name):
        try:
            return open(self.path(name + ".log"), errors="replace").read()
        except OSError:
            return ""

    # -- the desktop's media stack --
    def start_session_bus(self):
        self.start("dbus", ["dbus-daemon", "--session", "--address",
                            self.env["DBUS_SESSION_BUS_ADDRESS"], "--nofork", "--nopidfile"])
        check(wait_until(lambda: os.path.exists(os.path.join(self.run_dir, "bus")), 10),
              "no session bus")

    def start_pipewire(self):
        sock = os.path.join(self.run_dir, "pipewire-0")
        self.start("pipewire", ["pipewire"])
        check(wait_until(lambda: os.path.exists(sock), 10), "no PipeWire socket")
        self.start("wireplumber", ["wireplumber"])
        check(wait_until(lambda: "WirePlumber" in self.pw_cli("ls", "Client"), 15),
              "WirePlumber did not connect:\n" + self.log("wireplumber"))

    def stop_pipewire(self):
        self.stop("wireplumber", expect_zero=False)
        self.stop("pipewire", expect_zero=False)

    def pw_cli(self, *argv):
        r = subprocess.run(["pw-cli"] + list(argv), env=self.env, capture_output=True,
                           text=True, timeout=20)
        return r.stdout

    def camera_node(self):
        r = subprocess.run(["pw-dump"], env=self.env, capture_output=True, text=True,
                           timeout=20)
        try:
            objects = json.loads(r.stdout or "[]")
        except ValueError:
            return None
        for o in objects:
            props = (o.get("info") or {}).get("props") or {}
            if o.get("type", "").endswith(":Node") and props.get("node.name") == NODE:
                return props
        return None

    def wait_node(self, timeout=15):
        props = wait_until(self.camera_node, timeout, 0.25)
        check(props, "the camera node did not appear:\n" + self.log("camera"))
        # WirePlumber must have seen the node before a consumer asks for it.
        time.sleep(1.0)
        return props

    # -- the service, the phone and the camera --
    def program(self, *parts):
        return os.path.join(self.args.bin, *parts)

    def monitor(self, *argv):
        return subprocess.run([self.program("tools", "monitor", "ovalix-monitor")] + list(argv),
                              env=self.env, capture_output=True, text=True, timeout=60)

    def start_service(self):
        env = native_service_env(self.env, self.path("state"))
        self.start("service", [self.program("service", "OvalixSvc")], env=env)
        check(self.monitor("--wait-state", "0", "--timeout", "10000").returncode == 0,
              "the service did not come up")

    def start_phone(self, *argv):
        self.start("phone", [self.program("tools", "phone", "ovalix-phone"), "--connect",
                             "127.0.0.1:5055", "--log", "--mode", "3", "--pattern", "blocks",
                             "--formats", "640x480@30,320x240@30"] + list(argv))

    def wait_streaming(self):
        check(self.monitor("--wait-state", "3", "--timeout", "10000").returncode == 0,
              "the link did not reach streaming")

    def start_streaming(self, *camera_args):
        """The whole chain up: media stack, service, phone streaming, and the
        camera's node seen by WirePlumber."""
        self.start_session_bus()
        self.start_pipewire()
        self.start_service()
        self.start_phone()
        self.wait_streaming()
        self.start_camera(*camera_args)
        return self.wait_node()

    def requested_size(self):
        m = re.search(r"requested: (\d+) x (\d+)", self.monitor().stdout)
        return (int(m.group(1)), int(m.group(2))) if m else None

    def start_camera(self, *argv):
        self.start("camera", [self.program("pipewire", "ovalix-camera")] + list(argv),
                   stdout=open(self.path("camera.out"), "w"))

    def stop_camera(self):
        self.stop("camera")
        err = self.log("camera")
        check("runtime error" not in err and "Sanitizer" not in err,
              "the camera reported:\n" + err[-4000:])
        out = open(self.path("camera.out")).read()
        m = re.search(r"camera frames=(\d+) drops=(\d+) placeholders=(\d+) decode_failures=(\d+)",
                      out)
        return {k: int(v) for k, v in zip(("frames", "drops", "placeholders", "failures"),
                                          m.groups())} if m else None

    # -- consumers --
    def consume(self, width, height, frames, name=None, fmt=None):
        """Starts a pipewiresrc consumer declaring raw video of that size
        (and format); its frames arrive as RGB files in a folder of its own."""
        name = name or "consumer%d" % len(self.consumers)
        folder = self.path(name)
        os.makedirs(folder)
        pipeline = ("pipewiresrc target-object=%s num-buffers=%d ! "
                    "video/x-raw%s,width=%d,height=%d ! videoconvert ! video/x-raw,format=RGB ! "
                    "multifilesink location=%s/f%%05d.rgb"
                    % (NODE, frames, ",format=" + fmt if fmt else "", width, height, folder))
        proc = self.start(name, ["gst-launch-1.0", "-q"] + pipeline.split())
        self.consumers.append(name)
        return name, folder, proc

    def frames(self, folder):
        return sorted(os.listdir(folder)) if os.path.isdir(folder) else []

    def picture(self, folder, index, width, height):
        names = self.frames(folder)
        data = open(os.path.join(folder, names[index]), "rb").read()
        check(len(data) == width * height * 3,
              "frame of %d bytes, expected %dx%d RGB" % (len(data), width, height))
        return Picture(width, height, data)

    def latest(self, folder, width, height):
        """The newest frame written out whole, or None."""
        for name in reversed(self.frames(folder)):
            data = open(os.path.join(folder, name), "rb").read()
            if len(data) == width * height * 3:
                return Picture(width, height, data)
        return None

    def finish_consumer(self, name, timeout=20):
        proc = self.procs[name]
        try:
            proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            pass
        return self.stop(name, expect_zero=False)

    def shot(self, picture, name):
        if self.args.shots:
            os.makedirs(self.args.shots, exist_ok=True)
            write_png(os.path.join(self.args.shots, name + ".png"), picture.width,
                      picture.height, picture.rgb)

    def close(self):
        for name in reversed(list(self.procs)):
            self.stop(name, sig=signal.SIGKILL, expect_zero=False)
        subprocess.run(["umount", self.run_dir], stderr=subprocess.DEVNULL)
        shutil.rmtree(self.work, ignore_errors=True)


def receive(rig, width, height, frames, name=None, fmt=None):
    """A consumer that takes `frames` frames and ends; returns its folder."""
    name, folder, _ = rig.consume(width, height, frames, name, fmt)
    rig.finish_consumer(name)
    got = rig.frames(folder)
    check(len(got) == frames, "%s received %d of %d frames:\n%s\ncamera:\n%s"
          % (name, len(got), frames, rig.log(name)[-2000:], rig.log("camera")[-2000:]))
    return folder


# ---------------------------------------------------------------- cases

def case_stream(rig):
    """The node's properties; live pixels; the requested size; two consumers
    at once; a consumer killed and the next one served at once; another size
    renegotiated through the service."""
    props = rig.start_streaming("--stats")
    check(props.get("media.class") == "Video/Source", "media.class %r" % props.get("media.class"))
    check(props.get("media.role") == "Camera", "media.role %r" % props.get("media.role"))
    check(props.get("node.description") == "Ovalix Camera",
          "node.description %r" % props.get("node.description"))

    folder = receive(rig, 640, 480, 20, "first", "I420")
    last = rig.picture(folder, -1, 640, 480)
    rig.shot(last, "camera-640x480")
    check(last.blocks_mismatch() is None, "640x480: " + str(last.blocks_mismatch()))
    check(rig.requested_size() == (640, 480), "requested size %s" % (rig.requested_size(),))

    # Two at once, with the same caps (packed BGR this time).
    a, fa, _ = rig.consume(640, 480, 30, "both_a", "BGR")
    b, fb, _ = rig.consume(640, 480, 30, "both_b", "BGR")
    for name, folder in ((a, fa), (b, fb)):
        rig.finish_consumer(name)
        check(len(rig.frames(folder)) == 30, "%s received %d frames" % (name, len(rig.frames(folder))))
        check(rig.picture(folder, -1, 640, 480).blocks_mismatch() is None, name + " pixels")

    # Killed in the middle of its stream; the next one must not stall.
    k, fk, kp = rig.consume(640, 480, 100000, "killed")
    check(wait_until(lambda: len(rig.frames(fk)) >= 10, 15), "the consumer to kill got no frames")
    rig.stop(k, sig=signal.SIGKILL, expect_zero=False)
    started = time.monotonic()
    n, fn, _ = rig.consume(640, 480, 10, "after_kill")
    first = wait_until(lambda: len(rig.frames(fn)) >= 1, 10, 0.02)
    waited = time.monotonic() - started
    print("first frame after the kill: %.2f s after the new consumer started" % waited)
    check(first, "no frame after a consumer was killed:\n" + rig.log("camera")[-2000:])
    check(waited < 2.0, "the next consumer waited %.2f s" % waited)
    rig.finish_consumer(n)

    # Another table size: the camera renegotiates and the service asks the
    # phone for it.
    selects_before = rig.log("phone").count("select ")
    folder = receive(rig, 320, 240, 45, "small", "YUY2")
    check(rig.requested_size() == (320, 240), "requested size %s" % (rig.requested_size(),))
    check(rig.log("phone").count("select ") > selects_before,
          "the service did not ask the phone again:\n" + rig.log("phone")[-1500:])
    small = rig.picture(folder, -1, 320, 240)
    rig.shot(small, "camera-320x240")
    check(small.blocks_mismatch() is None, "320x240: " + str(small.blocks_mismatch()))

    for chosen in ("I420 640x480", "BGR 640x480", "YUY2 320x240"):
        check("consumer chose " + chosen in rig.log("camera"),
              "never negotiated %s:\n%s" % (chosen, rig.log("camera")[-2000:]))
    stats = rig.stop_camera()
    check(stats and stats["frames"] > 0, "camera stats: %s" % stats)


def case_placeholder(rig):
    """No service, then a service without a phone, then a phone that stops
    sending: the consumer gets the matching placeholder at a steady rate;
    live pictures come back by themselves."""
    rig.start_session_bus()
    rig.start_pipewire()
    rig.start_camera("--stats")
    rig.wait_node()

    def expect(kind, name, frames):
        folder = receive(rig, 640, 480, frames, name)
        pic = rig.picture(folder, -1, 640, 480)
        rig.shot(pic, "placeholder-" + kind)
        check(pic.placeholder_kind() == kind, "%s: placeholder %s, corner %s"
              % (name, pic.placeholder_kind(), pic.at(2, pic.height // 2)))
        return folder

    expect("no-service", "no_service", 4)
    rig.start_service()
    # One consumer from here on: it sees the card change, the offer change
    # when the phone's table arrives, the live picture, and the card again
    # once the phone goes quiet (stopped, with its connection open).
    name, folder, _ = rig.consume(640, 480, 100000, "through")

    def latest_if(condition):
        pic = rig.latest(folder, 640, 480)
        return pic if pic is not None and condition(pic) else None

    no_phone = wait_until(lambda: latest_if(lambda p: p.placeholder_kind() == "no-phone"), 10)
    check(no_phone, "no no-phone placeholder:\n" + rig.log("camera")[-2000:])
    rig.shot(no_phone, "placeholder-no-phone")
    rig.start_phone()
    live = wait_until(lambda: latest_if(lambda p: p.blocks_mismatch() is None), 15, 0.05)
    check(live, "no live picture:\n" + rig.log("camera")[-2000:])
    rig.procs["phone"].send_signal(signal.SIGSTOP)
    stalled = wait_until(lambda: latest_if(
        lambda p: p.placeholder_kind() in ("no-picture", "no-phone")), 15, 0.05)
    check(stalled, "no placeholder after the phone went quiet")
    rig.shot(stalled, "placeholder-" + stalled.placeholder_kind() + "-after-live")
    # Steady and low: about five placeholders a second, never a frozen stream.
    before = len(rig.frames(folder))
    time.sleep(2.0)
    count = len(rig.frames(folder)) - before
    print("placeholders in 2 s after the phone went quiet: %d" % count)
    check(4 <= count <= 15, "%d frames in 2 s while the phone was quiet" % count)
    check(rig.latest(folder, 640, 480).placeholder_kind() is not None, "not a placeholder")
    rig.stop(name, expect_zero=False)
    check("placeholder no-picture" in rig.log("camera") or "placeholder no-phone" in rig.log("camera"),
          "camera log:\n" + rig.log("camera")[-2000:])
    rig.stop_camera()


def cpu_ticks(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def case_idle_restart(rig):
    """With no consumer the camera decodes nothing; PipeWire restarted, the
    camera publishes its node again by itself and serves a consumer; the
    service restarted, the camera asks the new run for its consumer's size."""
    rig.start_streaming("--stats")
    pid = rig.procs["camera"].pid
    hz = os.sysconf("SC_CLK_TCK")
    t0, c0 = time.monotonic(), cpu_ticks(pid)
    time.sleep(3.0)
    share = (cpu_ticks(pid) - c0) / hz / (time.monotonic() - t0)
    print("camera CPU with no consumer: %.2f %% of a core (sanitizer build)" % (share * 100))

    rig.stop_pipewire()
    time.sleep(1.0)
    check(rig.procs["camera"].poll() is None, "the camera ended when PipeWire went away")
    rig.start_pipewire()
    rig.wait_node(timeout=20)
    folder = receive(rig, 640, 480, 10, "after_restart")
    check(rig.picture(folder, -1, 640, 480).blocks_mismatch() is None, "pixels after restart")
    check("lost the PipeWire daemon" in rig.log("camera"), "camera log:\n" + rig.log("camera"))
    stats = rig.stop_camera()
    # Frames are decoded only for consumers: exactly the ones sent. (Its
    # failures count frames that found no free buffer too, which a loaded
    # machine makes whatever the camera does.)
    check(stats is not None and stats["frames"] <= 10 + 2,
          "camera decoded without a consumer: %s" % stats)

    # The new run starts from its stored table (its last entry is 320x240):
    # the camera, attached to the new block, writes 640x480 again.
    rig.start_camera()
    rig.wait_node()
    name, folder, _ = rig.consume(640, 480, 100000, "across_service_restart")
    check(wait_until(lambda: len(rig.frames(folder)) >= 5, 15), "no frames before the restart")
    rig.stop("service")
    rig.start_service()
    check(wait_until(lambda: rig.requested_size() == (640, 480), 10),
          "requested size after the restart: %s" % (rig.requested_size(),))
    rig.wait_streaming()
    seen = len(rig.frames(folder))

    def live_again():
        pic = rig.latest(folder, 640, 480)
        return len(rig.frames(folder)) > seen + 5 and pic is not None and \
            pic.blocks_mismatch() is None

    live = wait_until(live_again, 15, 0.05)
    check(live, "no live picture after the service restarted:\n" + rig.log("camera")[-2000:])
    rig.stop(name, expect_zero=False)
    rig.stop_camera()


def rate(rig, folder, seconds=3.0):
    """Frames per second a running consumer writes out."""
    before, t0 = len(rig.frames(folder)), time.monotonic()
    time.sleep(seconds)
    return (len(rig.frames(folder)) - before) / (time.monotonic() - t0)


def case_consumer_churn(rig):
    """Another user cutting the named objects under the camera leaves its
    consumer's picture live; consumers killed in the middle of their streams
    cost the camera nothing: after 20 of them the next one gets the phone's
    rate."""
    rig.start_streaming("--stats")
    name, folder, _ = rig.consume(640, 480, 100000, "while_cut")
    check(wait_until(lambda: len(rig.frames(folder)) >= 1, 15, 0.02), "no first consumer")
    before = rate(rig, folder)
    for obj in ("OvalixSvcMemory", "OvalixSvcMutex", "OvalixReadyEvent"):
        os.truncate("/dev/shm/" + obj, 0)
        seen = len(rig.frames(folder))
        check(wait_until(lambda: len(rig.frames(folder)) >= seen + 10, 10, 0.05),
              "no frames after %s was cut:\n%s" % (obj, rig.log("camera")[-2000:]))
        check(rig.procs["camera"].poll() is None, "the camera died after %s was cut" % obj)
    # Frames of another size while the service asks the phone again show the
    # card; the live picture follows.
    check(wait_until(lambda: rig.latest(folder, 640, 480).blocks_mismatch() is None, 10, 0.05),
          "not live after the cuts:\n" + rig.log("camera")[-2000:])
    rig.stop(name, expect_zero=False)
    for i in range(20):
        name, folder, _ = rig.consume(640, 480, 100000, "killed%d" % i)
        check(wait_until(lambda: len(rig.frames(folder)) >= 3, 15, 0.02),
              "consumer %d got no frames:\n%s" % (i, rig.log("camera")[-2000:]))
        rig.stop(name, sig=signal.SIGKILL, expect_zero=False)
    name, folder, _ = rig.consume(640, 480, 100000, "after_kills")
    check(wait_until(lambda: len(rig.frames(folder)) >= 1, 10, 0.02),
          "no frame after 20 consumers were killed:\n" + rig.log("camera")[-2000:])
    after = rate(rig, folder)
    print("consumer before the kills: %.1f fps, after 20 killed ones: %.1f fps (the phone "
          "sends 30)" % (before, after))
    # Against the same kind of consumer on the same machine a minute
    # earlier: a busy machine slows both, a pool that lost buffers only
    # the second.
    check(after >= 0.5 * before, "%.1f fps after 20 consumers were killed, %.1f before"
          % (after, before))
    rig.stop(name, expect_zero=False)
    rig.stop_camera()


def case_fresh_first_frame(rig):
    """After an idle time a new consumer's first frame is the phone's newest,
    never one from before it came: the moving bars step by one frame from
    the first frame on, as they do between the later ones. The camera's
    figures count no loss for the frames nobody took."""
    rig.start_session_bus()
    rig.start_pipewire()
    rig.start_service()
    rig.start_phone("--pattern", "moving")
    rig.wait_streaming()
    rig.start_camera("--stats")
    rig.wait_node()
    # The first consumer settles the size the phone sends.
    receive(rig, 640, 480, 30, "settle", "I420")
    for run in range(2):
        time.sleep(3.0)  # idle: with no reader the block's ring fills and stops
        folder = receive(rig, 640, 480, 12, "after_idle%d" % run, "I420")
        pictures = [rig.picture(folder, i, 640, 480) for i in range(12)]
        check(all(p.placeholder_kind() is None for p in pictures), "a placeholder after idle")
        shifts = [p.bar_shift() for p in pictures]
        steps = [(b - a) % 640 // BAR_STEP for a, b in zip(shifts, shifts[1:])]
        print("frames between a consumer's pictures after 3 s idle: %s" % steps)
        # A frame from before the consumer came is older than the idle time
        # less a turn of the ring: 70 frames and more. One filled for it may
        # wait while a loaded machine sets the consumer up: a few frames.
        check(0 < steps[0] < FRAME_SLOT_COUNT,
              "the first picture after idle is %d frames old: %s\n%s"
              % (steps[0] - 1, steps, rig.log("camera")[-1500:]))
    # Frames nobody took are no loss: counted, each idle time would add 70
    # and more. A loaded machine makes the camera skip a few of its own.
    stats = rig.stop_camera()
    check(stats is not None and stats["drops"] < 70, "camera stats: %s" % stats)


CASES = {"stream": case_stream, "fresh_first_frame": case_fresh_first_frame, "placeholder": case_placeholder,
         "idle_restart": case_idle_restart, "consumer_churn": case_consumer_churn}


def run_isolated(script, argv):
    """Runs script again in namespaces of its own (/dev/shm, loopback and
    the runtime tmpfs), with --inside added."""
    isolate = os.path.join(TESTS, "..", "scripts", "isolate.sh")
    os.execv("/bin/sh", ["sh", isolate, sys.executable, os.path.abspath(script), "--inside"]
             + argv)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--case", required=True, choices=sorted(CASES))
    parser.add_argument("--bin", required=True, help="the build tree")
    parser.add_argument("--shots", help="folder for PNG copies of what consumers received")
    parser.add_argument("--inside", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if not args.inside:
        run_isolated(__file__, sys.argv[1:])
    return run_case(CASES, args.case, Rig(args), "PASS")


if __name__ == "__main__":
    sys.exit(main())
