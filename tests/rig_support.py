"""What every Python rig of the tests and benchmarks shares: a failed check,
waiting for a condition, the phone stand-in's still blocks picture, and the
lines the capture programs (ovalix-snap, ovalix-vcam-read) print."""

import re
import time

# The stand-in's blocks picture (--pattern blocks): 4 x 2 equal cells, row by
# row, left to right.
BLOCK_COLOURS = [(255, 255, 255), (255, 255, 0), (0, 255, 255), (0, 255, 0),
                 (255, 0, 255), (255, 0, 0), (0, 0, 255), (0, 0, 0)]


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_until(predicate, timeout, step=0.1):
    """The first true value of predicate() within timeout seconds, else its
    last value."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()


def wait_for(predicate, timeout, what, step=0.05):
    """As wait_until, but a condition that never comes true is a Failure."""
    value = wait_until(predicate, timeout, step)
    if not value:
        raise Failure("timed out waiting for " + what)
    return value


def summary(out):
    """The fields of a capture program's "summary k=v ..." line, numbers as
    numbers."""
    m = re.search(r"^summary (.*)$", out, re.M)
    check(m, "no summary line:\n" + out)
    def value(v):
        if re.fullmatch(r"-?\d+", v):
            return int(v)
        return float(v) if re.fullmatch(r"-?\d+\.\d+", v) else v
    return {k: value(v) for k, v in re.findall(r"(\w+)=(\S+)", m.group(1))}


def seconds(out):
    """The counts of each "second=N k=v ..." line."""
    return [dict((k, int(v)) for k, v in re.findall(r"(\w+)=(\d+)", line))
            for line in out.splitlines() if line.startswith("second=")]
