#!/usr/bin/env python3
"""The reader cycles of bench/faults.sh --readers; run it through that script
(private namespaces). Every reader runs at once: ovalix-monitor taking frames,
an ovalixsrc pipeline, and ovalix-camera with a pipewiresrc consumer (the
PipeWire rig of the camera tests). Each cycle makes one fault: the service
killed and started again, the three named objects cut to nothing, or the
camera's consumer killed and a new one started. A reader's recovery is the
time from the fault to its next live frame."""

import argparse
import os
import signal
import statistics
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "pipewire"))
sys.path.insert(0, os.path.join(ROOT, "bench"))

from camera_pipewire_test import Picture, Rig, check  # noqa: E402
from faults import process_figures  # noqa: E402

KINDS = ["service killed", "objects cut", "consumer killed"]
OBJECTS = ("OvalixSvcMemory", "OvalixSvcMutex", "OvalixReadyEvent")
PHONE_MARK = b"OVXF"   # the stand-in's comment segment; placeholders lack it


def newest_files(folder, since):
    """Files written after `since` (epoch seconds), oldest first."""
    try:
        entries = [(e.stat().st_mtime, e.path) for e in os.scandir(folder) if e.is_file()]
    except FileNotFoundError:
        return []
    return sorted(x for x in entries if x[0] > since)


class Reader:
    def __init__(self, name, folder, is_live):
        self.name, self.folder, self.is_live = name, folder, is_live

    def live_after(self, since):
        """The time of the first live frame written after `since`, or None."""
        for mtime, path in newest_files(self.folder, since):
            try:
                if self.is_live(path):
                    return mtime
            except OSError:
                continue
        return None

    def prune(self, before):
        for mtime, path in newest_files(self.folder, 0):
            if mtime < before:
                try:
                    os.unlink(path)
                except OSError:
                    pass


def jpeg_is_live(path):
    return PHONE_MARK in open(path, "rb").read(64)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--build", required=True)
    p.add_argument("--cycles", type=int, default=100)
    args = p.parse_args()
    args.bin, args.shots = args.build, None
    rig = Rig(args)
    try:
        run(rig, args)
    finally:
        rig.close()


def run(rig, args):
    rig.start_streaming()
    gst_env = dict(rig.env, GST_PLUGIN_PATH=os.path.join(args.build, "gst"))
    plugin = os.path.join(args.build, "gst", "libgstovalix.so")
    if "libasan" in os.popen("ldd %s" % plugin).read():
        gst_env["LD_PRELOAD"] = "%s:%s" % (os.popen("gcc -print-file-name=libasan.so").read().strip(),
                                           os.popen("gcc -print-file-name=libubsan.so").read().strip())
        gst_env["ASAN_OPTIONS"] = "detect_leaks=0"
    src_dir = rig.path("ovalixsrc")
    os.makedirs(src_dir)
    rig.start("ovalixsrc", ["gst-launch-1.0", "-q", "ovalixsrc", "!", "multifilesink",
                            "max-files=60", "location=%s/f%%06d.jpg" % src_dir], env=gst_env)
    mon_dir = rig.path("monitor")
    rig.start("monitor", [rig.program("tools", "monitor", "ovalix-monitor"), "--take", "--quiet",
                          "--save", mon_dir])
    consumer = [rig.consume(640, 480, 10 ** 9, "consumer0")]

    def camera_live(path):
        data = open(path, "rb").read()
        return len(data) == 640 * 480 * 3 and Picture(640, 480, data).blocks_mismatch() is None

    readers = [Reader("ovalix-monitor", mon_dir, jpeg_is_live),
               Reader("ovalixsrc", src_dir, jpeg_is_live),
               Reader("ovalix-camera", consumer[0][1], camera_live)]
    start = time.time()
    for r in readers:
        check(wait_until_live(r, start - 1, 20), "%s got no live frame" % r.name)
    pids = {"ovalix-monitor": rig.procs["monitor"].pid, "ovalixsrc": rig.procs["ovalixsrc"].pid,
            "ovalix-camera": rig.procs["camera"].pid}
    before = {n: process_figures(pid) for n, pid in pids.items()}

    recovery = {(k, r.name): [] for k in KINDS for r in readers}
    missed = 0
    for cycle in range(args.cycles):
        kind = KINDS[cycle % len(KINDS)]
        for r in readers:
            r.prune(time.time() - 2)
        t0 = time.time()
        since = t0
        if kind == "service killed":
            rig.stop("service", sig=signal.SIGKILL, expect_zero=False)
            rig.start_service()
            # Frames already on their way when the service died do not count.
            since = time.time()
        elif kind == "objects cut":
            for name in OBJECTS:
                os.truncate("/dev/shm/" + name, 0)
        else:
            name, _, _ = consumer[0]
            rig.stop(name, sig=signal.SIGKILL, expect_zero=False)
            consumer[0] = rig.consume(640, 480, 10 ** 9, "consumer%d" % (cycle + 1))
            readers[2].folder = consumer[0][1]
        for r in readers:
            at = wait_until_live(r, since, 30)
            recovery[(kind, r.name)].append(None if at is None else (at - t0) * 1000)
            missed += at is None
            if at is None:
                print("%s did not recover from %s in cycle %d; its log:\n%s"
                      % (r.name, kind, cycle, rig.log(r.name.replace("ovalix-", ""))[-1500:]))
        for name in ("monitor", "ovalixsrc", "camera"):
            check(rig.procs[name].poll() is None, "%s ended in cycle %d (%s)"
                  % (name, cycle, kind))
    after = {n: process_figures(pid) for n, pid in pids.items()}

    print("reader fault cycles: %d, faults a reader never recovered from: %d"
          % (args.cycles, missed))
    for kind in KINDS:
        for r in readers:
            times = [t for t in recovery[(kind, r.name)] if t is not None]
            if times:
                print("  %-16s %-15s n=%-3d recovery ms p50 %6.0f  max %6.0f"
                      % (kind, r.name, len(times), statistics.median(times), max(times)))
    for n in pids:
        print("  %-15s before: %d descriptors, %d threads, %d kB resident" % ((n,) + before[n]))
        print("  %-15s after:  %d descriptors, %d threads, %d kB resident" % ((n,) + after[n]))


def wait_until_live(reader, since, limit_s):
    end = time.monotonic() + limit_s
    while time.monotonic() < end:
        at = reader.live_after(since)
        if at is not None:
            return at
        time.sleep(0.02)
    return None


if __name__ == "__main__":
    main()
