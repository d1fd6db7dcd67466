#!/usr/bin/env python3
"""ovalix-camera figures into a real browser (private namespaces, as the
browser test runs it): the phone stand-in streams 1280x720 at 30 fps, headless
Chromium opens "Ovalix Camera" at 1280x720 through the desktop portal for S
seconds (60 by default), closes it, waits an idle time and opens it again.
Prints the frames Chromium showed and the largest gap between them, the frames
its track received, the frames the camera queued, the camera's latency from
the phone's send stamp to the queued buffer p50/p99, the age of the first
frame of each stream, and the camera's CPU share with the browser (and the
part of it spent by the thread that takes and decodes the frames, the rest
being PipeWire's threads) and with no consumer. Never fails on timing.

    python3 bench/camera_chromium.py BUILD_DIR [--seconds S] [--idle S]
"""

import argparse
import os
import re
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "pipewire"))
import camera_browser_test as browser  # noqa: E402
import camera_pipewire_test as rigmod  # noqa: E402
from camera_pipewire import cpu_seconds, idle_cpu, start_hd_camera  # noqa: E402


def decoding_thread_seconds(pid):
    """CPU of the camera's main thread, which takes the frames from the block
    and decodes them into PipeWire's buffers."""
    with open("/proc/%d/task/%d/stat" % (pid, pid)) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def measure(rig, server, args):
    rig.start_session_bus()
    rig.start_pipewire()
    rig.start_portal()
    pid = start_hd_camera(rig, "1280x720@30,640x480@30")

    rig.browse(server.url + "?bench=%d&idle=%d" % (args.seconds, args.idle))
    rigmod.check(server.expect("/listed", 30)["ours"], "Chromium did not list the camera")
    server.expect("/counting", 30)
    c0, d0, t0 = cpu_seconds(pid), decoding_thread_seconds(pid), time.monotonic()
    result = server.expect("/bench", args.seconds + 30)
    elapsed = time.monotonic() - t0
    streaming_cpu = (cpu_seconds(pid) - c0) / elapsed
    decoding_cpu = (decoding_thread_seconds(pid) - d0) / elapsed
    server.expect("/reopened", args.idle + 30)
    rig.stop("chromium", expect_zero=False)

    idle = idle_cpu(pid)
    rig.stop("camera")

    out = open(rig.path("camera.out")).read()
    runs = re.findall(r"camera run frames=(\d+) ms=(\d+) first_frame_age_ms=(-?\d+)", out)
    stats = dict(re.findall(r"(\w+)=(-?\d+)", out.strip().splitlines()[-1]))
    rate = result["rate"]
    print("camera_chromium 1280x720@30 seconds=%d shown=%d (%.1f fps) max_gap_ms=%.0f "
          "track_received=%s camera_queued=%s (%.1f fps) latency_p50_ms=%s latency_p99_ms=%s "
          "first_frame_age_ms=%s after_idle_first_frame_age_ms=%s cpu_streaming=%.1f%% "
          "(decoding_thread=%.1f%%) cpu_idle=%.2f%%"
          % (args.seconds, rate["frames"], rate["frames"] * 1000.0 / max(rate["ms"], 1),
             rate["maxGap"], (result.get("received") or {}).get("total"),
             runs[0][0] if runs else "?",
             int(runs[0][0]) * 1000.0 / max(int(runs[0][1]), 1) if runs else 0,
             stats.get("latency_p50_ms"), stats.get("latency_p99_ms"),
             runs[0][2] if runs else "?", runs[1][2] if len(runs) > 1 else "?",
             streaming_cpu * 100, decoding_cpu * 100, idle * 100))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("bin")
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("--idle", type=int, default=5)
    parser.add_argument("--inside", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if not args.inside:
        rigmod.run_isolated(__file__, sys.argv[1:])
    args.shots = None
    server = browser.PageServer()
    rig = browser.BrowserRig(args)
    try:
        measure(rig, server, args)
    except rigmod.Failure as e:
        print("FAIL: %s" % e)
        for name in ("portal", "chromium", "camera"):
            print("--- %s:\n%s" % (name, rig.log(name)[-1500:]))
        return 1
    finally:
        server.close()
        rig.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
