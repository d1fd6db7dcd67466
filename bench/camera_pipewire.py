#!/usr/bin/env python3
"""ovalix-camera figures against a real PipeWire daemon (private namespaces,
as the tests run it): the phone stand-in streams 1280x720 at 30 fps, one
pipewiresrc consumer takes I420 for S seconds (60 by default). Prints the
frames the consumer received, the camera's own counts, the largest gap between
the camera's queued frames, latency from the phone's send stamp to the
buffer's queueing p50/p99, and the camera's CPU share while streaming and with
no consumer. Never fails on timing.

    python3 bench/camera_pipewire.py BUILD_DIR [--seconds S]
"""

import argparse
import os
import re
import signal
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "pipewire"))
import camera_pipewire_test as rigmod  # noqa: E402


def cpu_seconds(pid):
    return rigmod.cpu_ticks(pid) / os.sysconf("SC_CLK_TCK")


def start_hd_camera(rig, formats):
    """The service, the phone streaming 1280x720 at 30 fps (that size asked
    for from the start, so that the figures are of a steady link rather than
    of a renegotiation) and the camera counting; returns the camera's pid."""
    rig.start_service()
    rig.monitor("--request", "1280x720")
    rig.start("phone", [rig.program("tools", "phone", "ovalix-phone"), "--connect",
                        "127.0.0.1:5055", "--mode", "3", "--formats", formats])
    rig.wait_streaming()
    rig.start_camera("--stats")
    rig.wait_node()
    return rig.procs["camera"].pid


def idle_cpu(pid):
    """The camera's CPU share over 10 s with no consumer, from 2 s after the
    last one went."""
    time.sleep(2.0)
    c0, t0 = cpu_seconds(pid), time.monotonic()
    time.sleep(10.0)
    return (cpu_seconds(pid) - c0) / (time.monotonic() - t0)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("bin")
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("--inside", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if not args.inside:
        rigmod.run_isolated(__file__, sys.argv[1:])
    args.shots = None
    rig = rigmod.Rig(args)
    try:
        rig.start_session_bus()
        rig.start_pipewire()
        pid = start_hd_camera(rig, "1280x720@30,640x480@30,320x240@30")

        pipeline = ("pipewiresrc target-object=%s ! video/x-raw,format=I420,width=1280,height=720"
                    " ! fakesink silent=false" % rigmod.NODE)
        consumer = rig.start("consumer", ["gst-launch-1.0", "-v"] + pipeline.split())
        # Measured once frames flow.
        rigmod.wait_until(lambda: rig.log("consumer").count("chain") > 0, 15)
        c0, t0 = cpu_seconds(pid), time.monotonic()
        start_count = rig.log("consumer").count("chain")
        time.sleep(args.seconds)
        streaming_cpu = (cpu_seconds(pid) - c0) / (time.monotonic() - t0)
        received = rig.log("consumer").count("chain") - start_count
        consumer.send_signal(signal.SIGINT)
        rig.stop("consumer", expect_zero=False)

        idle = idle_cpu(pid)

        stats = {}
        rig.stop("camera")
        out = open(rig.path("camera.out")).read()
        stats = dict(re.findall(r"(\w+)=(-?\d+)", out))
        print("camera_pipewire 1280x720@30 seconds=%d consumer_frames=%d (%.1f fps) "
              "camera_frames=%s drops=%s placeholders=%s largest_gap_ms=%s "
              "latency_p50_ms=%s latency_p99_ms=%s cpu_streaming=%.1f%% cpu_idle=%.2f%%"
              % (args.seconds, received, received / float(args.seconds),
                 stats.get("frames"), stats.get("drops"), stats.get("placeholders"),
                 stats.get("largest_gap_ms"), stats.get("latency_p50_ms"),
                 stats.get("latency_p99_ms"), streaming_cpu * 100, idle * 100))
    finally:
        rig.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
