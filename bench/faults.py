#!/usr/bin/env python3
"""The cycles of bench/faults.sh; run it through that script (private
namespaces)."""

import argparse
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from rig_support import wait_until  # noqa: E402


def now_ms():
    return time.monotonic() * 1000


def cpu_seconds(pid):
    """utime + stime of a process, all threads, in seconds."""
    fields = open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def process_figures(pid):
    fds = len(os.listdir("/proc/%d/fd" % pid))
    status = open("/proc/%d/status" % pid).read()
    threads = int(re.search(r"Threads:\s+(\d+)", status).group(1))
    rss = int(re.search(r"VmRSS:\s+(\d+)", status).group(1))
    return fds, threads, rss


class Bench:
    def __init__(self, build, work):
        self.svc = os.path.join(build, "service/OvalixSvc")
        self.phone_path = os.path.join(build, "tools/phone/ovalix-phone")
        self.monitor = os.path.join(build, "tools/monitor/ovalix-monitor")
        self.child = os.path.join(build, "tests/service/block_consumer_child")
        for p in (self.svc, self.phone_path, self.monitor, self.child):
            if not os.access(p, os.X_OK):
                sys.exit("faults: missing %s (build the native-release preset first)" % p)
        self.work = work
        self.count = 0

    def phone(self, *argv):
        self.count += 1
        log = os.path.join(self.work, "phone%d.log" % self.count)
        proc = subprocess.Popen([self.phone_path, "--connect", "127.0.0.1:5055", "--retry-ms",
                                 "20", "--log", "--fps", "30"] + list(argv),
                                stdout=open(log, "w"), stderr=subprocess.STDOUT)
        return proc, log

    def wait_select(self, log, since_ms, limit_s=20):
        """Milliseconds from since_ms to the phone's first select after it."""
        def selected():
            for line in open(log, errors="replace"):
                m = re.match(r"select .*t_ms=(\d+)", line)
                if m and int(m.group(1)) >= since_ms:
                    return (int(m.group(1)) - since_ms,)   # 0 ms is found too
            return None
        found = wait_until(selected, limit_s, 0.01)
        return found[0] if found else None

    def streaming(self, limit_ms=10000):
        return subprocess.run([self.monitor, "--wait-state", "3", "--timeout", str(limit_ms)],
                              stdout=subprocess.DEVNULL).returncode == 0


def stop(proc, sig=signal.SIGKILL):
    if proc.poll() is None:
        os.kill(proc.pid, sig)
        if sig == signal.SIGSTOP:
            os.kill(proc.pid, signal.SIGKILL)
    proc.wait()


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--build", required=True)
    p.add_argument("--cycles", type=int, default=100)
    args = p.parse_args()
    work = tempfile.mkdtemp(prefix="ovalix-faults-")
    bench = Bench(args.build, work)
    env = dict(os.environ, STATE_DIRECTORY=os.path.join(work, "state"))
    os.makedirs(env["STATE_DIRECTORY"])
    svc = subprocess.Popen([bench.svc], env=env)
    subprocess.run([bench.monitor, "--wait-state", "0", "--timeout", "10000"], check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run([bench.monitor, "--request", "640x480"], check=True, stdout=subprocess.DEVNULL)

    current, log = bench.phone()
    if not bench.streaming():
        sys.exit("faults: the first phone did not stream")
    before = process_figures(svc.pid)

    kinds = ["killed", "stalled", "flood", "reader died"]
    recovery = {k: [] for k in kinds}
    failures = 0
    flood_cpu = 0.0
    flood_seconds = 0.0
    for cycle in range(args.cycles):
        kind = kinds[cycle % len(kinds)]
        extra = ["--bad-length"] if kind == "flood" else []
        if kind == "flood":
            # The flooding phone streams between its bad headers; it is
            # replaced like a killed one once the service has carried it.
            stop(current)
            current, log = bench.phone(*extra)
            bench.streaming()
            cpu0, t0 = cpu_seconds(svc.pid), time.monotonic()
            time.sleep(1.2)
            flood_cpu += cpu_seconds(svc.pid) - cpu0
            flood_seconds += time.monotonic() - t0
        t0 = now_ms()
        if kind == "reader died":
            # The link goes on; the next frames must reach the ring again.
            subprocess.run([bench.child, "lock-and-die"], stdout=subprocess.DEVNULL)
            ok = subprocess.run([bench.monitor, "--take", "--quiet", "--frames", "5",
                                 "--seconds", "10"], stdout=subprocess.DEVNULL).returncode == 0
            recovery[kind].append(now_ms() - t0 if ok else None)
            failures += 0 if ok else 1
            continue
        if kind == "stalled":
            os.kill(current.pid, signal.SIGSTOP)
        else:
            stop(current)
        following, following_log = bench.phone()
        took = bench.wait_select(following_log, t0)
        recovery[kind].append(took)
        if kind == "stalled":
            stop(current, signal.SIGSTOP)
        current, log = following, following_log
        if took is None or not bench.streaming():
            failures += 1

    after = process_figures(svc.pid)
    stop(current)
    svc.send_signal(signal.SIGTERM)
    rc = svc.wait(timeout=20)
    shutil.rmtree(work, ignore_errors=True)

    print("fault cycles: %d, service exit code %d, cycles without recovery: %d"
          % (args.cycles, rc, failures))
    for kind in kinds:
        times = [t for t in recovery[kind] if t is not None]
        missing = len(recovery[kind]) - len(times)
        if times:
            print("  %-12s n=%-3d recovery ms p50 %6.0f  max %6.0f%s"
                  % (kind, len(times), statistics.median(times), max(times),
                     ("  (%d without recovery)" % missing) if missing else ""))
    if flood_seconds > 0:
        print("  service CPU while a phone floods: %.2f %% of one core over %.1f s"
              % (100 * flood_cpu / flood_seconds, flood_seconds))
    print("  service before: %d descriptors, %d threads, %d kB resident" % before)
    print("  service after:  %d descriptors, %d threads, %d kB resident" % after)


if __name__ == "__main__":
    main()
