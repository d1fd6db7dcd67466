#!/usr/bin/env python3
"""Process tests of the Media Foundation camera under Wine: the source DLL
registered with regsvr32 and read through Media Foundation's source reader
(ovalix-vcam-read), with the real OvalixSvc.exe as a service and the native
phone stand-in; and the registrar ovalix-vcam against a stand-in
mfsensorgroup.dll in the prefix's system folder.

    vcam_process_test.py --case NAME --source DLL --reader EXE --registrar EXE
                         --sensorgroup DLL --svc EXE --monitor EXE --phone PATH
                         --wine-run WRAPPER

Run inside scripts/isolate.sh and tests/wine_private_prefix.sh.
"""

import argparse
import os
import re
import shutil
import sys
import time

TESTS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:0] = [TESTS, os.path.join(TESTS, "filter")]
from filter_process_test import JPEG_TOLERANCE  # noqa: E402
from rig_support import (BLOCK_COLOURS, Failure, Rig, WineDll, check, run_case, seconds,  # noqa: E402
                         summary)

CLSID = "{4D34993D-67BD-4538-9C88-5F514A70AB14}"
SERVER_KEY = "HKLM\\Software\\Classes\\CLSID\\%s\\InprocServer32" % CLSID
TABLE = "1280x720@30,640x480@15,320x240@10"


class CameraRig(WineDll, Rig):
    def __init__(self, args):
        super().__init__(args)
        # regsvr32, reg and the like run with the loader of the source's bitness.
        self.use_bits_of(args.source)

    def register_source(self, undo=False):
        self.regsvr32(self.args.source, undo)

    def read(self, *argv, timeout=120):
        rc, out = self.wine_run(self.args.reader, *argv, timeout=timeout)
        check(rc == 0, "ovalix-vcam-read %s failed (%d):\n%s" % (" ".join(argv), rc, out))
        return out

    def read_background(self, *argv):
        return self.wine_background(self.args.reader, *argv)

    def phone_streaming(self, *argv):
        proc, log = self.phone("--stamp-clock", "raw", "--mode", "3", *argv)
        check(self.wait_state(3, 15000), "the link did not reach streaming")
        return proc

    # -- the registrar --
    def system_folder(self):
        # A 32-bit program's system folder on a 64-bit prefix is syswow64.
        windows = os.path.join(self.env["WINEPREFIX"], "drive_c", "windows")
        wow = os.path.join(windows, "syswow64")
        return wow if self.bits == 32 and os.path.isdir(wow) else os.path.join(windows, "system32")

    def registrar(self, command):
        return self.wine_run(self.args.registrar, command)


def types(out):
    return [(s, int(w), int(h), r) for s, w, h, r in
            re.findall(r"^type \d+: (\w+) (\d+)x(\d+) (\d+/\d+)(?: matrix=\S+ range=\S+)?$", out, re.M)]


def pixel_reader(data, subtype, w, h):
    """pixel(x, y) -> (r, g, b) of a raw NV12 / YUY2 / bottom-up RGB32 frame."""
    def yuv(y_, u, v):
        c, d, e = 1.164 * (y_ - 16), u - 128, v - 128
        return tuple(max(0, min(255, int(x))) for x in
                     (c + 1.596 * e, c - 0.392 * d - 0.813 * e, c + 2.017 * d))

    def nv12(x, y):
        uv = w * h + (y // 2) * w + (x & ~1)
        return yuv(data[y * w + x], data[uv], data[uv + 1])

    def yuy2(x, y):
        p = y * w * 2 + (x & ~1) * 2
        return yuv(data[p + (2 if x % 2 else 0)], data[p + 1], data[p + 3])

    def rgb32(x, y):
        p = ((h - 1 - y) * w + x) * 4
        return data[p + 2], data[p + 1], data[p]
    return {"NV12": nv12, "YUY2": yuy2, "RGB32": rgb32}[subtype]


def check_blocks(path, subtype, w, h):
    data = open(path, "rb").read()
    size = {"NV12": w * h * 3 // 2, "YUY2": w * h * 2, "RGB32": w * h * 4}[subtype]
    check(len(data) == size, "%s %dx%d frame of %d bytes, not %d" % (subtype, w, h, len(data), size))
    pixel = pixel_reader(data, subtype, w, h)
    for i, want in enumerate(BLOCK_COLOURS):
        x, y = (i % 4) * w // 4 + w // 8, (i // 4) * h // 2 + h // 4
        got = pixel(x, y)
        check(all(abs(a - b) <= JPEG_TOLERANCE for a, b in zip(got, want)),
              "%s cell %d at its centre is %s, not %s" % (subtype, i, got, want))


def type_index(listed, subtype, w, h):
    for i, t in enumerate(listed):
        if t[:3] == (subtype, w, h):
            return i
    raise Failure("no %s %dx%d among %s" % (subtype, w, h, listed))


# -- cases --

def case_formats(rig):
    """The source offers NV12 for every size of the service's table in its
    order, then YUY2, then RGB32, each at the table's rate; without a service,
    the service's default size; the stream is marked shared for the frame
    server."""
    rig.register_source()
    out = rig.read("--list", "--seconds", "0")
    check(types(out) == [(s, 640, 480, "30/1") for s in ("NV12", "YUY2", "RGB32")],
          "types without a service:\n" + out)
    check("source ex=1 shared=1 controls=0x80070492" in out,
          "IMFMediaSourceEx, the shared stream or IKsControl's answer:\n" + out)
    rig.start_service()
    rig.phone_streaming("--formats", TABLE, "--pattern", "blocks")
    out = rig.read("--list", "--seconds", "0")
    sizes = [(1280, 720, "30/1"), (640, 480, "15/1"), (320, 240, "10/1")]
    want = [(s,) + z for s in ("NV12", "YUY2", "RGB32") for z in sizes]
    check(types(out) == want, "types %s, not %s" % (types(out), want))
    # BT.601 at studio range on every YUV type, said outright: unsaid, HD
    # sizes read as BT.709.
    yuv = re.findall(r"^type \d+: (?:NV12|YUY2) .*$", out, re.M)
    check(len(yuv) == 6 and all(l.endswith(" matrix=bt601 range=16-235") for l in yuv),
          "the YUV types' colours:\n" + out)


def case_pixels(rig):
    """Stand-in → service → source → source reader: live NV12 frames of the
    phone's still picture, cell by cell, with sample times that never go
    back; YUY2 and RGB32 chosen instead carry the same picture."""
    rig.register_source()
    rig.start_service()
    rig.phone_streaming("--formats", "640x480@30,320x240@30", "--pattern", "blocks")
    listed = types(rig.read("--list", "--seconds", "0"))
    for subtype in ("NV12", "YUY2", "RGB32"):
        path = os.path.join(rig.work, subtype + ".raw")
        # Long enough for the link to come back at the size the read asks
        # for, when that is not the size it streams at.
        out = rig.read("--type", str(type_index(listed, subtype, 640, 480)), "--seconds", "4",
                       "--save", path)
        s = summary(out)
        check(s["live"] >= 20 and s["saved_live"] == 1 and s["backwards"] == 0,
              "%s: %s" % (subtype, s))
        check_blocks(path, subtype, 640, 480)


def case_renegotiate(rig):
    """A type of another size chosen through the reader makes the service ask
    the phone for that size; the live frames then come at it."""
    rig.register_source()
    rig.start_service()
    rig.phone_streaming("--formats", TABLE, "--pattern", "blocks")
    listed = types(rig.read("--list", "--seconds", "0"))
    for w, h in ((320, 240), (1280, 720)):
        path = os.path.join(rig.work, "%d.raw" % w)
        out = rig.read("--type", str(type_index(listed, "NV12", w, h)), "--seconds", "6",
                       "--save", path)
        check("requested: %d x %d" % (w, h) in rig.block()["text"],
              "the service was not asked for %dx%d:\n%s\n%s" % (w, h, out, rig.block()["text"]))
        check(summary(out)["saved_live"] == 1, "no live frame at %dx%d:\n%s" % (w, h, out))
        check_blocks(path, "NV12", w, h)


def case_placeholder(rig):
    """No service: the placeholder saying so, at its steady rate. A service
    without a phone: the one saying that. The phone comes: live frames in the
    same read. The phone stalls: the placeholder again."""
    rig.register_source()
    out = rig.read("--seconds", "3")
    s = summary(out)
    check(s["live"] == 0 and s["no_service"] >= 10 and s["no_phone"] == 0, "no service: %s" % s)
    check(all(sec["placeholder"] > 0 for sec in seconds(out)), "a second without one:\n" + out)

    rig.start_service()
    out = rig.output_while(rig.args.reader, ["--seconds", "14"], 4, lambda: rig.phone(
        "--stamp-clock", "raw", "--mode", "3", "--formats", "640x480@30", "--pattern", "blocks",
        "--silent-after", "frames:60"))
    s, per = summary(out), seconds(out)
    check(s["no_phone"] >= 10 and s["live"] >= 30, "service without phone, then phone: %s" % s)
    first_live = next((i for i, sec in enumerate(per) if sec["live"] > 0), None)
    check(first_live is not None and first_live >= 2, "live frames at the wrong time:\n" + out)
    check(any(sec["live"] == 0 and sec["placeholder"] > 0 for sec in per[first_live + 1:]),
          "no placeholder once the phone stalled:\n" + out)


def case_restart(rig):
    """The service restarts while the reader reads: the placeholder bridges
    the gap, and the same read gets the new run's frames at its size."""
    rig.register_source()
    rig.start_service()
    rig.phone_streaming("--formats", TABLE, "--pattern", "blocks")
    listed = types(rig.read("--list", "--seconds", "0"))
    out = rig.output_while(rig.args.reader, ["--type", str(type_index(listed, "NV12", 320, 240)),
                                             "--seconds", "20"], 5, rig.restart_service)
    per = seconds(out)
    check(sum(sec["live"] for sec in per[:4]) > 20, "no frames before the restart:\n" + out)
    check(sum(sec["placeholder"] for sec in per) > 0, "no placeholder in the gap:\n" + out)
    check(sum(sec["live"] for sec in per[-3:]) > 20, "no frames after the restart:\n" + out)
    check("requested: 320 x 240" in rig.block()["text"], "the new run was not asked again")


def case_shutdown(rig):
    """Shutdown from another thread while ReadSample waits (the phone has
    stalled, the placeholder is not yet due): the read ends with the end of
    the stream instead of hanging, and the process exits. A reader whose
    callback takes the end a second late (a busy machine) still gets it."""
    rig.register_source()
    rig.start_service()
    rig.phone("--stamp-clock", "raw", "--mode", "3", "--formats", "640x480@30",
              "--pattern", "blocks", "--silent-after", "frames:1")
    check(rig.wait_state(3, 15000), "the link did not reach streaming")
    time.sleep(0.5)
    out = rig.read("--seconds", "10", "--shutdown-after", "300", timeout=60)
    s = summary(out)
    check(s["ended"] != "0x00000000", "the read did not end: %s" % s)
    check(s["shutdown_to_return_ms"] < 5000, "the read came back only after %s ms" % s)
    # Shutdown gives the reader a moment to take the end of the stream: the
    # read ends with it, not with an error.
    check(s["end_of_stream"] == 1, "the read did not end with the end of the stream: %s" % s)
    late = rig.read("--late-end", "1000", timeout=60)
    check("late_end ended=1 end_of_stream=1 " in late,
          "a late reader did not get the end of the stream: %s" % late)


def case_two_readers(rig):
    """Two processes read at once: each gets most of the phone's frames (one
    that took the other's would leave it about half)."""
    rig.register_source()
    rig.start_service()
    rig.phone_streaming("--formats", "640x480@30", "--pattern", "blocks")
    runs = [rig.read_background("--seconds", "6") for _ in range(2)]
    for proc, log in runs:
        proc.wait(timeout=120)
        s = summary(open(log).read())
        check(s["live"] >= 100 and s["live_share"] >= 0.75, "a reader got %s" % s)


def case_registrar(rig):
    """ovalix-vcam against a stand-in mfsensorgroup.dll: without the DLL it
    says so (exit 2); with it, register refuses until the source is
    registered for the system's bitness, then creates the camera with the
    right arguments and starts it; unregister removes it; a refusal by the
    system is reported as a failure; status prints what the system says."""
    folder = rig.system_folder()
    double = os.path.join(folder, "mfsensorgroup.dll")
    log = os.path.join(folder, "mfsensorgroup.log")
    script = os.path.join(folder, "mfsensorgroup.txt")
    for command in ("register", "unregister", "status"):
        rc, out = rig.registrar(command)
        check(rc == 2 and "no mfsensorgroup.dll" in out, "%s without the DLL (%d):\n%s"
              % (command, rc, out))

    shutil.copy(rig.args.sensorgroup, double)
    rc, out = rig.registrar("register")
    check(rc == 1 and "not registered" in out, "register before regsvr32 (%d):\n%s" % (rc, out))
    check(not os.path.exists(log), "the system was called before the source was registered")
    rig.register_source()
    path = "C:\\Program Files\\Ovalix\\ovalix_vcam.dll"
    rc, out = rig.wine_run("reg", "add", SERVER_KEY, "/ve", "/d", path, "/f", "/reg:64")
    check(rc == 0, "reg add: " + out)

    create = ("MFCreateVirtualCamera type=0 lifetime=1 access=1 name=Ovalix Camera "
              "source=%s categories=null count=0" % CLSID)
    rc, out = rig.registrar("register")
    check(rc == 0 and "registered for all users" in out, "register (%d):\n%s" % (rc, out))
    calls = open(log).read().splitlines()
    check(calls == [create, "Start callback=null", "Shutdown", "Release"], "calls: %s" % calls)

    os.remove(log)
    rc, out = rig.registrar("unregister")
    check(rc == 0 and "removed" in out, "unregister (%d):\n%s" % (rc, out))
    calls = open(log).read().splitlines()
    check(calls == [create, "Remove", "Shutdown", "Release"], "calls: %s" % calls)

    for failing, command in (("start", "register"), ("remove", "unregister"),
                             ("create", "register")):
        open(script, "w").write(failing + "\n")
        rc, out = rig.registrar(command)
        check(rc == 1 and "0x80070005" in out and "administrator" in out,
              "%s refused at %s (%d):\n%s" % (command, failing, rc, out))
    os.remove(script)

    rc, out = rig.registrar("status")
    check(rc == 0, "status (%d):\n%s" % (rc, out))
    for line in ("mfsensorgroup.dll: present", "software camera sources: supported",
                 "media source (64-bit): " + path):
        check(line in out, "status lacks %r:\n%s" % (line, out))
    check(re.search(r"^windows: \d+\.\d+ build \d+$", out, re.M), "no build:\n" + out)
    check(re.search(r"^video capture devices: ", out, re.M), "no device list:\n" + out)


CASES = {n[5:]: f for n, f in globals().items() if n.startswith("case_")}


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--case", required=True, choices=sorted(CASES))
    for name in ("source", "reader", "registrar", "sensorgroup", "svc", "monitor", "phone",
                 "wine-run"):
        p.add_argument("--" + name, required=True)
    args = p.parse_args()
    return run_case(CASES, args.case, CameraRig(args), "passed")


if __name__ == "__main__":
    sys.exit(main())
