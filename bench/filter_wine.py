#!/usr/bin/env python3
"""Capture filter figures under Wine: the phone stand-in streams 1280 x 720
JPEG at 30 fps to OvalixSvc.exe (a service under Wine), and ovalix-snap runs
the filter → Sample Grabber → Null Renderer graph for the given time, once
for each subtype asked for. Reports frames delivered (against the phone's own
send stamps), latency from the phone's send stamp to the sample's delivery
(p50/p99), decode (or copy) time per frame (median) and the CPU share of the
graph's process (one core = 100 %). Reports numbers and never fails on
timing. Run through bench/filter_wine.sh.
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "filter"))
from filter_process_test import FilterRig, summary  # noqa: E402


def main():
    p = argparse.ArgumentParser()
    for name in ("filter", "snap", "svc", "monitor", "phone", "wine-run"):
        p.add_argument("--" + name, required=True)
    p.add_argument("--seconds", type=float, default=20)
    p.add_argument("--subtypes", default="I420,MJPG,RGB24")
    args = p.parse_args()
    args.filter_win = "Z:" + os.path.abspath(args.filter).replace("/", "\\")
    rig = FilterRig(args)
    try:
        rig.start_service()
        # Asked for before the phone comes, so that the graph's own request
        # for the same size does not make the service renegotiate mid-run.
        rig.request(1280, 720)
        rig.phone_streaming("--mode", "3", "--formats", "1280x720@30")
        for subtype in args.subtypes.split(","):
            rc, out = rig.snap("--size", "1280x720", "--subtype", subtype,
                               "--seconds", str(args.seconds), "--quiet",
                               timeout=args.seconds + 120)
            if rc != 0:
                print(out)
                return 1
            s = summary(out)
            print("filter %d-bit, %s 1280x720 at 30 fps for %.0f s"
                  % (rig.bits, s["subtype"], s["seconds"]))
            print("  frames delivered:   %d (%.1f %% of the phone's, budget >= 99.5 %%)"
                  % (s["live"], 100 * s["live_share"]))
            print("  frames skipped:     %d, other size: %d, placeholder pictures: %d"
                  % (s["skipped"], s["other_size"], s["placeholder"]))
            print("  latency send->sample p50 %d ms, p99 %d ms (budget 15 / 35)"
                  % (s["latency_p50_ms"], s["latency_p99_ms"]))
            print("  decode median:      %.1f ms (budget <= 3; none for MJPG)"
                  % s["decode_median_ms"])
            print("  graph process CPU:  %.1f %% of one core (budget <= 8 for I420)"
                  % s["cpu_percent"])
            print("  Stop took:          %d ms" % s["stop_ms"])
            print(out.strip().splitlines()[-1])
    finally:
        rig.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
