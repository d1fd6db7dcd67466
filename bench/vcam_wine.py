#!/usr/bin/env python3
"""Media Foundation camera figures under Wine: the phone stand-in streams
1280 x 720 JPEG at 30 fps to OvalixSvc.exe (a service under Wine), and
ovalix-vcam-read reads NV12 from the camera source through the source reader
for the given time. Reports frames delivered (against the phone's own send
stamps), conversion time per frame (median) and latency from the phone's send
stamp to the sample reaching the reader (p50/p99). Reports numbers and never
fails on timing. Run through bench/vcam_wine.sh.
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "vcam"))
from vcam_process_test import CameraRig, summary, type_index, types  # noqa: E402


def main():
    p = argparse.ArgumentParser()
    for name in ("source", "reader", "svc", "monitor", "phone", "wine-run"):
        p.add_argument("--" + name, required=True)
    p.add_argument("--seconds", type=float, default=20)
    args = p.parse_args()
    args.registrar = args.sensorgroup = None
    rig = CameraRig(args)
    try:
        rig.register_source()
        rig.start_service()
        # Asked for before the phone comes, so that the reader's own request
        # for the same size does not make the service renegotiate mid-run.
        rig.request(1280, 720)
        rig.phone_streaming("--formats", "1280x720@30")
        listed = types(rig.read("--list", "--seconds", "0"))
        out = rig.read("--type", str(type_index(listed, "NV12", 1280, 720)),
                       "--seconds", str(args.seconds), timeout=args.seconds + 120)
        s = summary(out)
        print("media source %d-bit, NV12 1280x720 at 30 fps for %.0f s" % (rig.bits, args.seconds))
        print("  frames delivered:   %d (%.1f %% of the phone's, budget >= 99.5 %%)"
              % (s["live"], 100 * s["live_share"]))
        print("  placeholder pictures: %d" % s["placeholder"])
        print("  decode median:      %.2f ms (budget <= 3)" % (s["decode_median_us"] / 1000))
        print("  latency send->sample p50 %d ms, p99 %d ms (budget p50 <= 15)"
              % (s["latency_p50_ms"], s["latency_p99_ms"]))
        print(out.strip().splitlines()[-1])
    finally:
        rig.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
