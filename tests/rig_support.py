"""What every Python rig of the tests and benchmarks shares: a failed check,
waiting for a condition, the phone stand-in's still blocks picture, the link
rig (a fresh OvalixSvc, the phone stand-in and the monitor), the lines the
capture programs (ovalix-snap, ovalix-vcam-read) print, running a Windows
program or registering a DLL under Wine, and running one case."""

import os
import re
import shutil
import signal
import subprocess
import tempfile
import time

TESTS = os.path.dirname(os.path.abspath(__file__))

# The stand-in's blocks picture (--pattern blocks): 4 x 2 equal cells, row by
# row, left to right.
BLOCK_COLOURS = [(255, 255, 255), (255, 255, 0), (0, 255, 255), (0, 255, 0),
                 (255, 0, 255), (255, 0, 0), (0, 0, 255), (0, 0, 0)]


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_until(predicate, timeout, step=0.1):
    """The first true value of predicate() within timeout seconds, else its
    last value."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()


def wait_for(predicate, timeout, what, step=0.05):
    """As wait_until, but a condition that never comes true is a Failure."""
    value = wait_until(predicate, timeout, step)
    if not value:
        raise Failure("timed out waiting for " + what)
    return value


class PhoneLog:
    """The stand-in's --log lines: '<event> key=value ... t_ms=<ms>'."""

    def __init__(self, path):
        self.path = path

    def events(self):
        out = []
        with open(self.path, errors="replace") as f:
            for line in f:
                line = line.strip()
                if not line or line.startswith("phone "):
                    continue
                fields = dict(re.findall(r"(\w+)=(\S+)", line))
                if "t_ms" not in fields:
                    continue
                name = re.split(r" \w+=", line, 1)[0]
                out.append((name, fields, int(fields["t_ms"])))
        return out

    def named(self, name):
        return [e for e in self.events() if e[0] == name]

    def summary(self):
        with open(self.path, errors="replace") as f:
            for line in f:
                if line.startswith("phone "):
                    return {k: int(v) for k, v in re.findall(r"(\w+)=(\d+)", line)}
        return None


def native_service_env(env, state):
    """The environment of a native service keeping its state in `state`."""
    env = dict(env, STATE_DIRECTORY=state)
    os.makedirs(state, exist_ok=True)
    # The DNS-SD library is unloaded at stop, which orphans its own blocks;
    # the suppressions name exactly those, the service's own leaks are still
    # reported.
    env.setdefault("LSAN_OPTIONS", "suppressions=%s:fast_unwind_on_malloc=0"
                   % os.path.join(TESTS, "lsan.supp"))
    return env


class Rig:
    def __init__(self, args):
        self.args = args
        self.work = tempfile.mkdtemp(prefix="ovalix-proc-")
        self.service = None
        self.keeper = None
        self.service_err = os.path.join(self.work, "service.err")
        self.phones = []
        # Windows programs run through the tree's Wine wrapper (its prefix).
        self.wine = [args.wine_run] if args.wine_run else []
        self.env = dict(os.environ)

    # -- service --
    def start_service(self):
        if self.wine:
            subprocess.run(self.wine + [self.args.svc, "install"], env=self.env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
            # The service starts automatically with the wineserver; stop it so
            # that every case begins with a freshly started one.
            subprocess.run(self.wine + ["net", "stop", "OvalixSvc"], env=self.env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
            r = subprocess.run(self.wine + ["net", "start", "OvalixSvc"], env=self.env,
                               capture_output=True, text=True, timeout=60)
            check(r.returncode == 0, "net start OvalixSvc failed: %s" % r.stdout + r.stderr)
            self.service = "wine"
        else:
            env = native_service_env(self.env, os.path.join(self.work, "state"))
            self.service = subprocess.Popen([self.args.svc], env=env,
                                            stderr=open(self.service_err, "w"))
        check(self.monitor("--wait-state", "0", "--timeout", "10000").returncode == 0,
              "the service did not come up")
        if self.wine:
            # Wine ends its services once no ordinary Windows process is left;
            # a watching monitor keeps the service alive between the calls.
            cmd = self.wine + [self.args.monitor, "--watch"]
            self.keeper = subprocess.Popen(cmd, env=self.env, stdout=subprocess.DEVNULL,
                                           stderr=subprocess.DEVNULL)

    def stop_service(self):
        """Stops the service and checks that it ended cleanly."""
        if self.service is None:
            return
        if self.wine:
            r = subprocess.run(self.wine + ["net", "stop", "OvalixSvc"], env=self.env,
                               capture_output=True, text=True, timeout=60)
            self.service = None
            self.stop_keeper()
            check(r.returncode == 0, "net stop OvalixSvc failed: %s" % r.stdout + r.stderr)
            return
        proc, self.service = self.service, None
        if proc.poll() is None:
            proc.send_signal(signal.SIGTERM)
        try:
            rc = proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            raise Failure("the service did not stop on SIGTERM")
        err = open(self.service_err, errors="replace").read()
        check(rc == 0, "the service ended with %s:\n%s" % (rc, err[-4000:]))
        check("runtime error" not in err and "Sanitizer" not in err,
              "the service reported:\n" + err[-4000:])

    def stop_keeper(self):
        if self.keeper is not None:
            self.keeper.terminate()
            self.keeper.wait(timeout=10)
            self.keeper = None

    def service_alive(self):
        if self.wine:
            return self.block() is not None
        return self.service is not None and self.service.poll() is None

    # -- monitor --
    def monitor(self, *argv, timeout=60):
        cmd = self.wine + [self.args.monitor] + list(argv)
        return subprocess.run(cmd, env=self.env, capture_output=True, text=True, timeout=timeout)

    def block(self):
        r = self.monitor()
        if r.returncode != 0:
            return None
        text = r.stdout
        out = {"text": text}
        m = re.search(r"link: \S+ \((\d+)\)", text)
        out["link"] = int(m.group(1)) if m else None
        m = re.search(r"formats: mode (\d+), count (\d+)", text)
        out["mode"], out["count"] = (int(m.group(1)), int(m.group(2))) if m else (None, None)
        out["entries"] = [(int(w), int(h)) for w, h in re.findall(r"\]\s+(\d+) x (\d+) @", text)]
        m = re.search(r"currentSlot: (\d+)", text)
        out["current"] = int(m.group(1)) if m else None
        m = re.search(r"slots: (\d+) occupied \[([#.]+)\]", text)
        out["occupied"], out["map"] = (int(m.group(1)), m.group(2)) if m else (None, None)
        m = re.search(r"retained: size (\d+) stamp (\d+) flags 0x([0-9A-Fa-f]+)", text)
        out["retained"] = (int(m.group(1)), int(m.group(2)), int(m.group(3), 16)) if m else None
        return out

    def request(self, width, height):
        r = self.monitor("--request", "%dx%d" % (width, height))
        check(r.returncode == 0, "monitor --request failed: " + r.stderr)

    def wait_state(self, state, timeout_ms):
        return self.monitor("--wait-state", str(state), "--timeout", str(timeout_ms),
                            timeout=timeout_ms / 1000 + 60).returncode == 0

    def take(self, *argv, timeout=120):
        r = self.monitor("--take", "--quiet", *argv, timeout=timeout)
        check(r.returncode == 0, "monitor --take failed: " + r.stderr)
        m = re.search(r"summary frames=(\d+) drops=(\d+) seconds=(\S+) fps=(\S+) "
                      r"latency_p50_ms=(-?\d+) latency_p99_ms=(-?\d+)", r.stdout)
        check(m, "no summary from the monitor: " + r.stdout)
        return {"frames": int(m.group(1)), "drops": int(m.group(2)),
                "latency_p50_ms": int(m.group(5)), "latency_p99_ms": int(m.group(6))}

    def reader(self, seconds, names_only=False):
        """A monitor taking frames for `seconds` in the background, one line
        a second. names_only: in a mount namespace of its own that hides the
        camera socket, so that it opens the names as outside readers do."""
        self.readers = getattr(self, "readers", 0) + 1
        out = os.path.join(self.work, "reader%d.out" % self.readers)
        cmd = self.wine + [self.args.monitor, "--take", "--seconds", str(seconds)]
        if names_only:
            cmd = ["unshare", "--mount", "sh", "-c",
                   'mount -t tmpfs tmpfs "$(dirname "$0")" && exec "$@"',
                   "/run/ovalix/camera"] + cmd
        return subprocess.Popen(cmd, env=self.env, stdout=open(out, "w"),
                                stderr=subprocess.STDOUT), out

    @staticmethod
    def reader_fps(out):
        """The per-second frame rates a background reader printed so far."""
        return [float(x) for x in re.findall(r"^link=\d+ fps=(\S+)", open(out).read(), re.M)]

    def child(self, *argv, timeout=60):
        """The test's block consumer (block_consumer_child), as a reader that
        misbehaves."""
        cmd = self.wine + [self.args.child] + list(argv)
        r = subprocess.run(cmd, env=self.env, capture_output=True, text=True, timeout=timeout)
        check(r.returncode == 0, "block_consumer_child %s ended with %d" % (argv, r.returncode))

    # -- phone --
    def stamp_clock(self):
        """Stamps in the clock the monitor reads: under Wine, Windows' tick."""
        return ["--stamp-clock", "raw"] if self.wine else []

    def phone(self, *argv):
        log = os.path.join(self.work, "phone%d.log" % len(self.phones))
        proc = subprocess.Popen([self.args.phone, "--connect", "127.0.0.1:5055", "--log"]
                                + list(argv), stdout=open(log, "w"), stderr=subprocess.STDOUT,
                                env=self.env)
        self.phones.append(proc)
        return proc, PhoneLog(log)

    def stop_phone(self, proc):
        if proc.poll() is None:
            proc.send_signal(signal.SIGTERM)
        rc = proc.wait(timeout=10)
        check(rc == 0, "the phone stand-in ended with %s" % rc)

    def close(self):
        for p in self.phones:
            if p.poll() is None:
                p.kill()
                p.wait()
        if self.service is not None:
            try:
                self.stop_service()
            except Exception:
                pass
        self.stop_keeper()
        shutil.rmtree(self.work, ignore_errors=True)


def summary(out):
    """The fields of a capture program's "summary k=v ..." line, numbers as
    numbers."""
    m = re.search(r"^summary (.*)$", out, re.M)
    check(m, "no summary line:\n" + out)
    def value(v):
        if re.fullmatch(r"-?\d+", v):
            return int(v)
        return float(v) if re.fullmatch(r"-?\d+\.\d+", v) else v
    return {k: value(v) for k, v in re.findall(r"(\w+)=(\S+)", m.group(1))}


def seconds(out):
    """The counts of each "second=N k=v ..." line."""
    return [dict((k, int(v)) for k, v in re.findall(r"(\w+)=(\d+)", line))
            for line in out.splitlines() if line.startswith("second=")]


class WineDll:
    """What a rig that registers a COM server DLL under Wine adds to the link
    rig (self.wine, self.env, self.work): Wine runs with the loader of the
    DLL's bitness, so regsvr32 writes that bitness's registry view."""

    def use_bits_of(self, dll):
        from pe_bits import pe_bits
        self.bits = pe_bits(dll)
        self.env["OVALIX_WINE_BITS"] = str(self.bits)

    def wine_run(self, *argv, timeout=120):
        r = subprocess.run(self.wine + list(argv), env=self.env, capture_output=True,
                           timeout=timeout)
        return r.returncode, r.stdout.decode(errors="replace").replace("\r", "")

    def regsvr32(self, dll, undo=False):
        argv = ["regsvr32", "/s"] + (["/u"] if undo else []) + [dll]
        # On a busy machine Wine now and then fails to start a program at
        # all (its launcher says so), or its start hangs before the DLL is
        # loaded (seen only with the cores kept busy; the registration itself
        # is a few registry writes that take a second). Neither is an answer
        # from the DLL, and registering is idempotent, so it is asked again.
        for attempt in range(3):
            try:
                rc, out = self.wine_run(*argv, timeout=60 if attempt == 0 else 120)
            except subprocess.TimeoutExpired:
                check(attempt < 2, "regsvr32 %s hung three times" % " ".join(argv[1:]))
                continue
            if not (rc == 1 and "could not be started" in out):
                break
            time.sleep(1)
        check(rc == 0, "regsvr32 %s failed (%d): %s" % (" ".join(argv[1:]), rc, out))

    def wine_background(self, program, *argv):
        """A running program and the file that gathers its output."""
        log = os.path.join(self.work, "%s%d.log" % (os.path.basename(program),
                                                     time.monotonic_ns()))
        proc = subprocess.Popen(self.wine + [program] + list(argv), env=self.env,
                                stdout=open(log, "w"), stderr=subprocess.STDOUT)
        return proc, log

    def output_while(self, program, argv, lead, action):
        """Runs program, does action lead seconds into its counted run, and
        returns its output once it has ended. The run's clock starts with
        its first "second=1" line, not at its launch: on a busy machine or
        under emulation the launch alone can take seconds."""
        proc, log = self.wine_background(program, *argv)
        deadline = time.monotonic() + 60
        while proc.poll() is None and time.monotonic() < deadline:
            with open(log) as f:
                if any(line.startswith("second=1 ") for line in f):
                    break
            time.sleep(0.05)
        time.sleep(max(lead - 1, 0))
        action()
        proc.wait(timeout=120)
        with open(log) as f:
            return f.read()

    def restart_service(self):
        """The service stops, and starts again two seconds later."""
        self.stop_service()
        time.sleep(2)
        self.start_service()


# The exit status by which a rig's case tells ctest it skipped
# (SKIP_RETURN_CODE).
SKIPPED = 77

# Why the video renderers cannot run where 32-bit programs run under
# qemu-user: they draw through Wine's Direct3D, on OpenGL.
VIDEO_RENDERER_NEEDS_32BIT_KERNEL = (
    "VMR-9 and VMR-7 draw through Wine's Direct3D on 32-bit Mesa, whose driver "
    "qemu-i386 cannot map (\"failed to map segment from shared object\"); Wine then "
    "takes the next fault, which qemu reports without its trap number, for an "
    "illegal instruction and ends the program")


def without_32bit_kernel(bits, why):
    """The message to skip with where a case of a bits-bit program needs a
    32-bit kernel and 32-bit programs run under qemu-user instead
    (scripts/win32-emulation.sh sets OVALIX_WIN32_EMULATED); None elsewhere."""
    if int(bits) == 32 and os.environ.get("OVALIX_WIN32_EMULATED"):
        return "skipped: needs a 32-bit kernel, not qemu-user: " + why
    return None


def run_case(cases, name, rig, passed):
    """Runs one case, prints its verdict and closes the rig; the exit status."""
    try:
        cases[name](rig)
    except Failure as e:
        print("FAIL: %s" % e)
        return 1
    finally:
        rig.close()
    print(passed)
    return 0


def jpeg_dimensions(data):
    """(width, height) from the first frame header of a JPEG, else None."""
    import struct
    if data[:2] != b"\xff\xd8":
        return None
    i = 2
    while i + 9 <= len(data) and data[i] == 0xFF:
        marker = data[i + 1]
        length = struct.unpack(">H", data[i + 2:i + 4])[0]
        if marker in (0xC0, 0xC1, 0xC2):
            h, w = struct.unpack(">HH", data[i + 5:i + 9])
            return w, h
        i += 2 + length
    return None


def decode_jpeg_rgb(path):
    """The RGB bytes of a JPEG file, decoded by GStreamer (no image library
    needed)."""
    r = subprocess.run(["gst-launch-1.0", "-q", "filesrc", "location=" + path, "!", "jpegdec",
                        "!", "videoconvert", "!", "video/x-raw,format=RGB", "!", "fdsink"],
                       capture_output=True, timeout=60)
    check(r.returncode == 0, "could not decode %s: %s" % (path, r.stderr[-500:]))
    return r.stdout
