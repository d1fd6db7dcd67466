"""What every Python rig of the tests and benchmarks shares: a failed check,
waiting for a condition, the phone stand-in's still blocks picture, and the
lines the capture programs (ovalix-snap, ovalix-vcam-read) print, running a
Windows program or registering a DLL under Wine, and running one case."""

import os
import re
import subprocess
import time

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
        rc, out = self.wine_run(*argv)
        check(rc == 0, "regsvr32 %s failed (%d): %s" % (" ".join(argv[1:]), rc, out))

    def wine_background(self, program, *argv):
        """A running program and the file that gathers its output."""
        log = os.path.join(self.work, "%s%d.log" % (os.path.basename(program),
                                                     time.monotonic_ns()))
        proc = subprocess.Popen(self.wine + [program] + list(argv), env=self.env,
                                stdout=open(log, "w"), stderr=subprocess.STDOUT)
        return proc, log

    def output_while(self, program, argv, lead, action):
        """Runs program, does action lead seconds into its run, and returns
        its output once it has ended."""
        proc, log = self.wine_background(program, *argv)
        time.sleep(lead)
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
