"""What every Python rig of the tests and benchmarks shares: a failed check,
waiting for a condition, and the phone stand-in's still blocks picture."""

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
