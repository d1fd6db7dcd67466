#!/usr/bin/env python3
"""End-to-end figures under Wine: the phone stand-in streams 1280 x 720 JPEG at
30 fps over TCP to OvalixSvc.exe (a service under Wine) and ovalix-monitor.exe
takes every frame. Reports the share of frames delivered, the latency from the
phone's stamp to the monitor's take (p50/p99), the time from the phone's
connect to the service's format request, and the service process's CPU share
while streaming. Reports numbers and never fails on timing. Run through
bench/e2e_wine.sh.
"""

import argparse
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from rig_support import Rig  # noqa: E402


def cpu_seconds(pid):
    fields = open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def service_pid():
    """The Wine process that runs OvalixSvc.exe as a service: of the processes
    that name it (the install and the wrappers end early), the busiest."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            argv = open("/proc/%s/cmdline" % pid, "rb").read().split(b"\0")
            if argv and argv[0].endswith(b"OvalixSvc.exe"):
                found.append((cpu_seconds(int(pid)), int(pid)))
        except (OSError, IndexError):
            pass
    return max(found)[1] if found else None


def main():
    p = argparse.ArgumentParser()
    for name in ("svc", "monitor", "phone", "wine-run"):
        p.add_argument("--" + name, required=True)
    p.add_argument("--seconds", type=int, default=20)
    args = p.parse_args()
    args.child = None
    rig = Rig(args)
    try:
        rig.start_service()
        rig.request(1280, 720)
        time.sleep(1)
        proc, log = rig.phone("--stamp-clock", "raw", "--mode", "3", "--formats",
                              "1280x720@30,640x480@30,320x240@30", "--seconds",
                              str(args.seconds))
        take = subprocess.Popen(rig.wine + [args.monitor, "--take", "--quiet", "--seconds",
                                            str(args.seconds + 2)],
                                env=rig.env, stdout=subprocess.PIPE, text=True)
        rig.wait_state(3, 10000)
        pid = service_pid()
        time.sleep(1)
        cpu0, t0 = cpu_seconds(pid), time.monotonic()
        time.sleep(args.seconds - 4)
        share = 100 * (cpu_seconds(pid) - cpu0) / (time.monotonic() - t0)
        out, _ = take.communicate(timeout=args.seconds + 60)
        proc.wait(timeout=30)
        sent = log.summary()["frames"]
        m = re.search(r"summary frames=(\d+) drops=(\d+) .*latency_p50_ms=(-?\d+) "
                      r"latency_p99_ms=(-?\d+)", out)
        taken, drops, p50, p99 = (int(x) for x in m.groups())
        connect = log.named("select")[0][2] - log.named("link up")[0][2]
        print("e2e under Wine: 1280x720 JPEG at 30 fps for %d s over TCP loopback (%s)"
              % (args.seconds, os.path.basename(os.path.dirname(os.path.dirname(args.svc)))))
        print("  frames sent %d, taken %d, gaps seen by the monitor %d" % (sent, taken, drops))
        print("  delivered            %7.2f %%   (budget 100 %%)" % (100.0 * taken / sent))
        print("  latency p50          %7d ms  (budget <= 3 ms)" % p50)
        print("  latency p99          %7d ms  (budget <= 8 ms)" % p99)
        print("  connect to request   %7d ms  (budget <= 20 ms)" % connect)
        print("  OvalixSvc.exe CPU    %7.2f %%   of one core while streaming (budget <= 0.6 %%)"
              % share)
    finally:
        rig.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
