#!/usr/bin/env python3
"""The run of bench/web_phone.sh; start it through that script (private
namespaces). Uses the rig of the browser phone's tests."""

import argparse
import os
import re
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "web"))
from rig_support import summary  # noqa: E402
from web_phone_test import Hostile, Rig  # noqa: E402

HOSTILE_SECONDS = 15


def cpu_seconds(pid):
    fields = open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def int32(v):
    v &= 0xFFFFFFFF
    return v - (1 << 32) if v >= 1 << 31 else v


def take_while(rig, seconds, during):
    """A monitor taking frames for `seconds` while during() runs; its summary.
    No consumer reads between the runs, so the ring holds the first twenty
    frames since the link started (seconds old) and the service drops all
    later ones until someone frees it: --fresh leaves those out, or they
    would count as late and their gap as lost."""
    reader = subprocess.Popen([rig.args.monitor, "--take", "--quiet", "--fresh",
                               "--seconds", str(seconds)],
                              env=rig.env, stdout=subprocess.PIPE, text=True)
    during(seconds)
    out, _ = reader.communicate(timeout=seconds + 60)
    return summary(out)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--build", required=True)
    p.add_argument("--seconds", type=int, default=60)
    a = p.parse_args()
    args = argparse.Namespace(svc=os.path.join(a.build, "service/OvalixSvc"),
                              monitor=os.path.join(a.build, "tools/monitor/ovalix-monitor"),
                              bridge=os.path.join(a.build, "web/ovalix-web"),
                              scheme="https", keep=False)
    for path in (args.svc, args.monitor, args.bridge):
        if not os.access(path, os.X_OK):
            sys.exit("web_phone: missing %s (build the native-release preset first)" % path)
    rig = Rig(args)
    try:
        rig.start()
        time.sleep(2)
        pid = rig.bridge.pid
        rss = []

        def sample(seconds):
            end = time.monotonic() + seconds
            while time.monotonic() < end:
                rss.append(rig.bridge_rss_kib())
                time.sleep(min(5, max(0, end - time.monotonic())))

        cpu0, t0 = cpu_seconds(pid), time.monotonic()
        # The monitor's latency is its CLOCK_MONOTONIC take time minus the
        # page's stamp, which is the phone's wall clock: add the difference.
        offset = round((time.time() - time.monotonic()) * 1000)
        s = take_while(rig, a.seconds, sample)
        cpu = (cpu_seconds(pid) - cpu0) / (time.monotonic() - t0) * 100
        page = rig.browser.state()

        hostile = Hostile(rig)
        before = rig.bridge_rss_kib()
        peak = [before]

        def attack(seconds):
            hostile.half_open(100)
            for fn in (hostile.garbage, hostile.garbage_in_tls, hostile.refused_then_frames,
                       hostile.oversized_request, hostile.slow_handshake):
                hostile.loop(fn)
            end = time.monotonic() + seconds
            while time.monotonic() < end:
                peak.append(rig.bridge_rss_kib())
                time.sleep(0.5)
            hostile.finish()

        h = take_while(rig, HOSTILE_SECONDS, attack)
        time.sleep(2)
        after = rig.bridge_rss_kib()

        print("browser phone, %d s of 1280x720 colour bars from headless Chromium's fake camera:"
              % a.seconds)
        print("  published to the consumer: %.1f fps, %d frames, %d lost on the way"
              % (s["fps"], s["frames"], s["drops"]))
        print("  page stamp to consumer's take: p50 %d ms, p99 %d ms"
              % (int32(s["latency_p50_ms"] + offset), int32(s["latency_p99_ms"] + offset)))
        print("  bridge CPU: %.2f %% of a core" % cpu)
        print("  bridge resident memory over the run (every 5 s): %s KiB"
              % " ".join(str(v) for v in rss))
        print("  page: %s; %s" % (page["text"], page["camera"]))
        print("under hostile clients for %d s (100 half-open connections, slow handshakes, "
              "garbage, oversized frames):" % HOSTILE_SECONDS)
        print("  link kept at %.1f fps; bridge %d KiB before, %d KiB peak, %d KiB after"
              % (h["fps"], before, max(peak), after))
    finally:
        rig.close()


if __name__ == "__main__":
    main()
