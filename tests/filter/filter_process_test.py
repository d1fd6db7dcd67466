#!/usr/bin/env python3
"""Process tests of the capture filter under Wine: the real OvalixSvc.exe as a
service, the native phone stand-in streaming to port 5055, and ovalix-snap
running the filter in a graph (Sample Grabber + Null Renderer, or VMR-9).

    filter_process_test.py --case NAME --filter DLL --snap EXE --svc EXE
                           --monitor EXE --phone PATH --wine-run WRAPPER

Run inside scripts/isolate.sh and tests/wine_private_prefix.sh (a prefix copy
with its own wineserver in the namespace).
"""

import argparse
import os
import re
import subprocess
import sys
import time

TESTS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, TESTS)
from pe_bits import pe_bits  # noqa: E402
from rig_support import (BLOCK_COLOURS, SKIPPED, VIDEO_RENDERER_NEEDS_32BIT_KERNEL, Rig,  # noqa: E402
                         WineDll, check, run_case, seconds, summary, without_32bit_kernel)

CLSID = "{5E75F4EE-128D-4972-8CD9-5B82DF38EB55}"
VIDEO_INPUT = "{860BB310-5D01-11D0-BD3B-00A0C911CE86}"

JPEG_TOLERANCE = 40


class FilterRig(WineDll, Rig):
    def __init__(self, args):
        super().__init__(args)
        self.use_bits_of(args.filter)
        self.register()

    def register(self, undo=False):
        self.regsvr32(self.args.filter, undo)

    def snap(self, *argv, timeout=120):
        return self.wine_run(self.args.snap, *argv, timeout=timeout)

    def snap_background(self, *argv):
        return self.wine_background(self.args.snap, *argv)

    def phone_streaming(self, *argv):
        proc, log = self.phone("--stamp-clock", "raw", *argv)
        check(self.wait_state(3, 15000), "the link did not reach streaming")
        return proc


def read_bmp(path):
    """(width, height, pixel(x, y) -> (r, g, b)) of a 24-bit bottom-up BMP."""
    data = open(path, "rb").read()
    check(data[:2] == b"BM", "%s is not a BMP" % path)
    offset = int.from_bytes(data[10:14], "little")
    width = int.from_bytes(data[18:22], "little", signed=True)
    height = int.from_bytes(data[22:26], "little", signed=True)
    check(int.from_bytes(data[28:30], "little") == 24 and height > 0, "not a bottom-up RGB24 BMP")
    stride = (width * 3 + 3) & ~3

    def pixel(x, y):
        i = offset + (height - 1 - y) * stride + x * 3
        return data[i + 2], data[i + 1], data[i]
    return width, height, pixel


def yuv_to_rgb(y, u, v):
    """BT.601 at video levels, as DirectShow reads I420 and YUY2."""
    c, d, e = (y - 16) * 298, u - 128, v - 128
    clamp = lambda x: max(0, min(255, x >> 8))  # noqa: E731
    return clamp(c + 409 * e + 128), clamp(c - 100 * d - 208 * e + 128), clamp(c + 516 * d + 128)


def read_sample(path, subtype, width, height):
    """(width, height, pixel(x, y) -> (r, g, b)) of a raw sample as the filter
    lays it out: I420 planes and YUY2 pairs with unpadded rows, RGB bottom-up."""
    data = open(path, "rb").read()
    sizes = {"I420": width * height * 3 // 2, "YUY2": width * height * 2,
             "RGB32": width * height * 4, "RGB24": width * height * 3}
    check(len(data) == sizes[subtype], "%s sample of %d bytes, not %d"
          % (subtype, len(data), sizes[subtype]))

    def pixel(x, y):
        if subtype == "I420":
            u = width * height
            v = u + (width // 2) * (height // 2)
            c = (y // 2) * (width // 2) + x // 2
            return yuv_to_rgb(data[y * width + x], data[u + c], data[v + c])
        if subtype == "YUY2":
            i = y * width * 2 + (x & ~1) * 2
            return yuv_to_rgb(data[i + (x & 1) * 2], data[i + 1], data[i + 3])
        size = 4 if subtype == "RGB32" else 3
        i = ((height - 1 - y) * width + x) * size
        return data[i + 2], data[i + 1], data[i]
    return width, height, pixel


def check_blocks(path, width, height, subtype=None):
    w, h, pixel = read_sample(path, subtype, width, height) if subtype else read_bmp(path)
    check((w, h) == (width, height), "picture is %dx%d, not %dx%d" % (w, h, width, height))
    cw, ch = width // 4, height // 2
    for i, want in enumerate(BLOCK_COLOURS):
        col, row = i % 4, i // 4
        x0, y0 = col * cw, row * ch
        cell_w = width - x0 if col == 3 else cw
        cell_h = height - y0 if row == 1 else ch
        got = pixel(x0 + cell_w // 2, y0 + cell_h // 2)
        check(all(abs(a - b) <= JPEG_TOLERANCE for a, b in zip(got, want)),
              "cell %d at its centre is %s, not %s" % (i, got, want))


def check_placeholder(path, width, height):
    """The placeholder: a dark picture (under a thin accent line along its
    top) with light text in its middle band."""
    w, h, pixel = read_bmp(path)
    check((w, h) == (width, height), "placeholder is %dx%d" % (w, h))
    corners = [pixel(2, h // 10), pixel(w - 3, h // 10), pixel(2, h - 3), pixel(w - 3, h - 3)]
    check(all(max(c) < 64 for c in corners), "placeholder background not dark: %s" % corners)
    bright = sum(1 for y in range(h // 3, 2 * h // 3, 2) for x in range(0, w, 2)
                 if min(pixel(x, y)) > 180)
    check(bright > 50, "no text on the placeholder (%d light pixels)" % bright)


# -- cases --

def case_register(rig):
    """regsvr32 puts the class into this bitness's registry view and the
    camera into the video input category; /u takes both away again."""
    view = "/reg:%d" % rig.bits
    other = "/reg:%d" % (96 - rig.bits)
    win_path = rig.args.filter_win
    rc, out = rig.wine_run("reg", "query", "HKCR\\CLSID\\%s\\InprocServer32" % CLSID, view)
    check(rc == 0 and win_path.lower() in out.lower(), "class not in %s view:\n%s" % (view, out))
    check("Both" in out, "threading model: " + out)
    rc, out = rig.wine_run("reg", "query", "HKCR\\CLSID\\%s" % CLSID, view)
    check("Ovalix filter" in out, "class name: " + out)
    rc, out = rig.wine_run("reg", "query", "HKCR\\CLSID\\%s\\InprocServer32" % CLSID, other)
    check(rc != 0 or win_path.lower() not in out.lower(), "this DLL in the other view:\n" + out)
    rc, out = rig.wine_run("reg", "query", "HKCR\\CLSID\\%s\\Instance\\%s" % (VIDEO_INPUT, CLSID),
                           view)
    check(rc == 0 and "Ovalix Camera" in out, "no device category entry:\n" + out)

    # Created by class identifier and through the device category: IBaseFilter,
    # the first pin's formats (no service: the service's default entry).
    for how in ([], ["--device"]):
        rc, out = rig.snap("--list", *how)
        check(rc == 0, "snap --list %s failed:\n%s" % (how, out))
        check(re.findall(r"format \d+: (\d+) x (\d+) avgtime (\d+) bits 32", out) ==
              [("640", "480", "333333")], "formats without a service:\n" + out)
        check(re.findall(r"caps \d+: (\w+) 640 x 480 interval 333333-2000000", out) ==
              ["I420", "YUY2", "RGB32", "RGB24", "MJPG"], "stream caps:\n" + out)

    rig.register(undo=True)
    rc, out = rig.wine_run("reg", "query", "HKCR\\CLSID\\%s" % CLSID, view)
    check(rc != 0, "class still registered:\n" + out)
    rc, out = rig.wine_run("reg", "query", "HKCR\\CLSID\\%s\\Instance\\%s" % (VIDEO_INPUT, CLSID),
                           view)
    check(rc != 0, "device entry still there:\n" + out)
    rc, out = rig.snap("--list")
    check(rc != 0, "created after unregistration:\n" + out)
    rc, out = rig.snap("--list", "--device")
    check(rc != 0, "listed after unregistration:\n" + out)
    rig.register(undo=True)   # a second unregistration is harmless


def case_formats(rig):
    """One media type per size, in the table's order, with the rate as
    AvgTimePerFrame, and every subtype in the stream caps. Choosing a type
    does not touch the phone; streaming asks the service for its size, and
    the frames then come at that size. A lower rate than the phone's is
    delivered by leaving frames out."""
    rig.start_service()
    rig.phone_streaming("--mode", "3", "--formats", "1280x720@30,640x480@15,320x240@10",
                        "--pattern", "blocks")
    b = rig.block()
    before = b["text"]
    # Not the last entry, which the service sends when no size is asked for.
    target = (640, 480)
    # Listing and choosing a type leave the requested size alone.
    rc, out = rig.snap("--list", "--size", "%dx%d" % target, "--subtype", "I420")
    check(rc == 0, "snap --list failed:\n" + out)
    check(rig.block()["text"].count("requested") and
          re.search(r"requested: \d+ x \d+", rig.block()["text"]).group(0) ==
          re.search(r"requested: \d+ x \d+", before).group(0), "a probe wrote the requested size")
    listed = [(int(w), int(h), int(t)) for w, h, t in
              re.findall(r"format \d+: (\d+) x (\d+) avgtime (\d+)", out)]
    rates = {(1280, 720): 30, (640, 480): 15, (320, 240): 10}
    want = [(w, h, round(1e7 / rates[(w, h)])) for w, h in b["entries"]]
    check(listed == want, "media types %s, table %s" % (listed, want))
    caps = re.findall(r"caps \d+: (\w+) (\d+) x (\d+) interval", out)
    check(len(caps) == 15 and [c[0] for c in caps[:5]] == ["I420", "YUY2", "RGB32", "RGB24", "MJPG"],
          "stream caps:\n" + out)

    path = os.path.join(rig.work, "sized.bmp")
    rc, out = rig.snap("--size", "%dx%d" % target, "--seconds", "6", "--save-live", path)
    check(rc == 0, "snap --size failed:\n" + out)
    s = summary(out)
    check(s["connected"] == "%dx%d" % target, "connected at %s" % s["connected"])
    check("requested: %d x %d" % target in rig.block()["text"], "requested size not written")
    check(s["live"] > 0, "no live frames: " + out)
    check_blocks(path, *target)

    # 1280 x 720 at 30 asked for at 15 and at 23.976 (as a recorder's
    # -framerate does): about half and four fifths of the phone's frames.
    for fps, share in ((15, 0.5), (24000 / 1001, 0.8)):
        rc, out = rig.snap("--size", "1280x720", "--subtype", "MJPG", "--fps", str(fps),
                           "--seconds", "6", "--quiet")
        check(rc == 0, "snap --fps %s failed:\n%s" % (fps, out))
        s = summary(out)
        check(s["subtype"] == "MJPG", "connected as %s" % s["subtype"])
        sent = (s["stamps"].split("-"))
        span_s = (int(sent[1]) - int(sent[0])) / 1000.0
        phone_frames = span_s * 30
        check(phone_frames > 60 and abs(s["live"] / phone_frames - share) < 0.1,
              "at %.3f fps: %d of about %d frames" % (fps, s["live"], phone_frames))


def case_pixels(rig):
    """Stand-in → service → filter → Sample Grabber in every subtype: the
    decoded picture is the stand-in's, cell by cell, in the subtype's plane
    layout; 854 x 480 (whose RGB24 rows would need padding) comes as
    852 x 480; MJPG samples are the phone's JPEGs byte for byte."""
    rig.start_service()
    rig.phone_streaming("--mode", "3", "--formats", "854x480@30,640x480@30",
                        "--pattern", "blocks")
    for subtype in ("I420", "YUY2", "RGB32", "RGB24", "MJPG"):
        size = (854, 480) if subtype == "MJPG" else (852, 480)
        path = os.path.join(rig.work, "live-%s.raw" % subtype)
        rc, out = rig.snap("--size", "%dx%d" % size, "--subtype", subtype, "--seconds", "3",
                           "--save-live", path)
        check(rc == 0, "snap %s failed (%d):\n%s" % (subtype, rc, out))
        s = summary(out)
        check(s["subtype"] == subtype and s["connected"] == "%dx%d" % size, "summary: %s" % s)
        check(s["live"] >= 20 and s["skipped"] == 0, "summary: %s" % s)
        check(s["stop_hr"] == "0x00000000" and s["stop_ms"] < 2000, "stop: %s" % s)
        if subtype != "MJPG":
            check_blocks(path, size[0], size[1], subtype)
            continue
        # The still picture's JPEG, as the service holds it.
        folder = os.path.join(rig.work, "taken")
        os.makedirs(folder, exist_ok=True)
        rig.take("--frames", "1", "--save", folder)
        taken = [os.path.join(folder, f) for f in os.listdir(folder)]
        check(taken, "ovalix-monitor saved no frame")
        # The stand-in numbers its frames in a comment (bytes 10-13): the rest
        # of every frame of the still picture is the same.
        got, sent = open(path, "rb").read(), open(taken[0], "rb").read()
        check(len(got) == len(sent) and got[:10] == sent[:10] and got[14:] == sent[14:],
              "the MJPG sample (%d bytes) is not the phone's JPEG (%d bytes)"
              % (len(got), len(sent)))


def case_placeholder(rig):
    """No service: the placeholder at its steady rate. Service without a
    link: still the placeholder; when the phone comes, live frames follow in
    the same run by themselves; a phone that stalls brings the placeholder
    back, and its next frames end it again."""
    path = os.path.join(rig.work, "placeholder.bmp")
    rc, out = rig.snap("--seconds", "3", "--save", path)
    check(rc == 0, "snap without a service failed:\n" + out)
    s = summary(out)
    check(s["live"] == 0 and s["placeholder"] >= 8, "no service: %s" % s)
    check(all(sec["samples"] > 0 for sec in seconds(out)), "a second without samples:\n" + out)
    check_placeholder(path, 640, 480)

    rig.start_service()
    # Each link: 45 frames, then silence until the service gives up on it.
    out = rig.output_while(rig.args.snap, ["--seconds", "16"], 4, lambda: rig.phone(
        "--stamp-clock", "raw", "--mode", "3", "--formats", "640x480@30", "--pattern", "blocks",
        "--silent-after", "frames:45"))
    per = seconds(out)
    check(len(per) >= 14, "per-second lines:\n" + out)
    check(all(sec["live"] == 0 and sec["placeholder"] > 0 for sec in per[:3]),
          "link down but no placeholder:\n" + out)
    first_live = next((i for i, sec in enumerate(per) if sec["live"] > 0), None)
    check(first_live is not None, "live frames never came:\n" + out)
    stalled = next((i for i in range(first_live + 1, len(per))
                    if per[i]["live"] == 0 and per[i]["placeholder"] > 0), None)
    check(stalled is not None, "no placeholder while the phone stalled:\n" + out)
    check(any(sec["live"] > 0 for sec in per[stalled + 1:]),
          "live frames did not resume after the stall:\n" + out)


def case_restart(rig):
    """The service stops and starts again in the middle of the stream: the
    placeholder bridges the gap and the same graph gets the new run's
    frames."""
    rig.start_service()
    rig.phone_streaming("--mode", "3", "--formats", "640x480@30", "--pattern", "blocks")
    out = rig.output_while(rig.args.snap, ["--seconds", "20"], 5, rig.restart_service)
    per = seconds(out)
    check(len(per) >= 18, "per-second lines:\n" + out)
    check(sum(sec["live"] for sec in per[:4]) > 30, "no frames before the restart:\n" + out)
    check(sum(sec["placeholder"] for sec in per) > 0, "no placeholder in the gap:\n" + out)
    check(sum(sec["live"] for sec in per[-3:]) > 30, "no frames after the restart:\n" + out)


def case_two_readers(rig):
    """Two graphs read the camera at once: each gets at least 95 % of the
    phone's frames (counted against the phone's own send stamps). The second
    is built as capture applications build theirs, by the capture graph
    builder for the capture pin category."""
    rig.start_service()
    rig.phone_streaming("--mode", "3", "--formats", "640x480@30", "--pattern", "blocks")
    a = rig.snap_background("--seconds", "8", "--quiet")
    b = rig.snap_background("--seconds", "8", "--quiet", "--builder")
    for proc, log in (a, b):
        proc.wait(timeout=120)
        s = summary(open(log).read())
        check(s["live"] > 100 and s["live_share"] >= 0.95, "a reader got %s" % s)


def case_corrupt(rig):
    """Every fifth frame damaged (cut short, or a frame header of zero
    height): those are skipped and counted, every picture that goes out is
    whole."""
    rig.start_service()
    rig.phone_streaming("--mode", "3", "--formats", "640x480@30", "--pattern", "blocks",
                        "--corrupt-every", "5")
    path = os.path.join(rig.work, "live.bmp")
    rc, out = rig.snap("--seconds", "4", "--save-live", path)
    check(rc == 0, "snap failed (%d):\n%s" % (rc, out))
    s = summary(out)
    check(s["skipped"] >= 10 and s["live"] >= 60, "summary: %s" % s)
    check_blocks(path, 640, 480)


def case_vmr9(rig):
    """The graph manager renders the pin into VMR-9 (windowless, in a
    top-level window) with RenderEx to existing renderers only."""
    rig.start_service()
    rig.phone_streaming("--mode", "3", "--formats", "640x480@30", "--pattern", "blocks")
    rc, out = rig.snap("--vmr9", "--seconds", "3")
    check(rc == 0, "snap --vmr9 failed:\n" + out)
    check("renderex hr=0x00000000" in out, "RenderEx:\n" + out)
    check('downstream filter "Video Mixing Renderer 9"' in out, "connected elsewhere:\n" + out)
    s = summary(out)
    check(s["live"] > 30, "summary: %s" % s)
    shot = os.environ.get("OVALIX_SCREENSHOT")
    if shot:
        proc, log = rig.snap_background("--vmr9", "--seconds", "4")
        time.sleep(3)
        subprocess.run(["import", "-window", "root", shot], timeout=30)
        proc.wait(timeout=60)


CASES = {n[5:]: f for n, f in globals().items() if n.startswith("case_")}


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--case", required=True, choices=sorted(CASES))
    for name in ("filter", "snap", "svc", "monitor", "phone", "wine-run"):
        p.add_argument("--" + name, required=True)
    args = p.parse_args()
    args.filter_win = "Z:" + os.path.abspath(args.filter).replace("/", "\\")
    if args.case == "vmr9":
        skip = without_32bit_kernel(pe_bits(args.filter), VIDEO_RENDERER_NEEDS_32BIT_KERNEL)
        if skip:
            print(skip)
            return SKIPPED
    return run_case(CASES, args.case, FilterRig(args), "passed")


if __name__ == "__main__":
    sys.exit(main())
