#!/usr/bin/python3
"""The real OvalixViewer.exe over the real capture filter (registered with
regsvr32) and the real OvalixSvc.exe running as a service under Wine, fed by
the native phone stand-in; driven from outside with viewer_driver.exe.

    viewer_live_test.py --case service|no_service --viewer EXE --driver EXE
                        --filter DLL --svc EXE --monitor EXE --phone PATH
                        --wine-run WRAPPER [--shots DIR]

Whether the viewer's graph streams is read from the shared camera block:
nobody else takes frames, so the ring stays full and its current slot stands
still unless the filter in the viewer takes them.

Runs inside scripts/isolate.sh, viewer_env.sh (display, audio) and
wine_private_prefix.sh.
"""
import argparse
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
TESTS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:0] = [TESTS, os.path.join(TESTS, "filter")]
from filter_process_test import FilterRig  # noqa: E402
from pe_bits import pe_bits  # noqa: E402
from rig_support import (SKIPPED, VIDEO_RENDERER_NEEDS_32BIT_KERNEL, Failure,  # noqa: E402
                         wait_until, without_32bit_kernel)
from viewer_harness import (BADGE, BLACK, EXIT, IDLE, NEXT, PLAY, PLAYING_BAR,  # noqa: E402
                            STOP, STOPPED_BAR, Checks, Driver, Screens, Viewer, same_pixels)

RING_SLOTS = 20
# 640 x 480 twice, at two rates: the filter's stream caps hold both, and the
# viewer's Next resolution still meets each size once.
FORMATS = "1280x720@30,640x480@30,640x480@15,320x240@30"

check = Checks()


def label_of(width, height):
    return "%4d x %3d" % (width, height)


def ring_full(rig, seconds):
    """True once the ring has filled up: no reader takes frames."""
    def full():
        b = rig.block()
        return bool(b and b["occupied"] == RING_SLOTS)
    return wait_until(full, seconds, 0.2)


def frames_taken(rig, seconds):
    """True when, over two seconds in a row, the current slot moves on and
    the ring is not full: a reader takes the frames as they come. (A new link
    alone fills a free ring within a second.)"""
    end = time.monotonic() + seconds
    last = rig.block()
    good = 0
    while time.monotonic() < end and good < 2:
        time.sleep(1.0)
        b = rig.block()
        moving = (b and last and b["link"] == 3 and b["current"] != last["current"]
                  and b["occupied"] < RING_SLOTS)
        good = good + 1 if moving else 0
        last = b
    return good == 2


def requested(rig, width, height, seconds):
    def written():
        b = rig.block()
        return bool(b and "requested: %d x %d" % (width, height) in b["text"])
    return wait_until(written, seconds, 0.2)


def start_viewer(args, driver):
    viewer = Viewer(args.viewer, driver)
    if not check(bool(viewer.state), "the viewer's window appears"):
        viewer.wait(1)
        raise Failure("no viewer window")
    return viewer


def case_service(rig, args, driver, screenshot):
    """The probe lists each size of the service's table once; Play builds
    and runs the graph with the filter at the chosen size, Stop releases it."""
    rig.start_service()
    rig.phone_streaming("--mode", "3", "--formats", FORMATS)
    table = rig.block()["entries"]
    check(table == [(1280, 720), (640, 480), (640, 480), (320, 240)],
          f"the service's table {table}")
    sizes = [(1280, 720), (640, 480), (320, 240)]
    check(ring_full(rig, 10), "with no reader the ring fills up")

    viewer = start_viewer(args, driver)
    s = viewer.state
    bar_h = s["bar"]["rect"][3]
    check(s["client"] == [1280, 720 + bar_h], f"client sized for 1280 x 720: {s['client']}")
    check(viewer.controls()[BADGE]["visible"], "HD badge for 1280 x 720")
    check(viewer.enabled() == STOPPED_BAR, "stopped state at start")
    ox, oy = viewer.client_origin()
    screenshot.eventually(lambda shot: same_pixels(shot, ox + 405, oy + 144, "logo.bmp"))
    shot = screenshot("live-idle")
    check(same_pixels(shot, ox + 405, oy + 144, "logo.bmp")
          and shot.getpixel((ox + 2, oy + 2)) == IDLE,
          "idle picture: background and logo at (405, 144)")

    labels = viewer.labels()
    check(labels == [label_of(w, h) for w, h in sizes], f"the resolution steps {labels}")
    viewer.command(NEXT)
    check(viewer.label() == " 640 x 480", f"640 x 480 selected: {viewer.label()!r}")

    s = viewer.command(PLAY)
    check(viewer.enabled() == PLAYING_BAR, "playing state")
    check(s["video"]["visible"] and s["video"]["rect"] == [320, 120, 640, 480],
          f"video window centred: {s['video']}")
    check(requested(rig, 640, 480, 10), "the filter asked the service for 640 x 480")
    check(rig.wait_state(3, 15000), "the link streams again at the new size")
    check(frames_taken(rig, 8), "the viewer's graph takes the frames")
    shot = screenshot("live-playing")
    check(shot.getpixel((ox + 100, oy + 100)) == BLACK
          and shot.getpixel((ox + 1200, oy + 700)) == BLACK,
          "black around the video window")

    s = viewer.command(STOP)
    check(viewer.enabled() == STOPPED_BAR and not s["video"]["visible"],
          "Stop: stopped state, video window hidden")
    check(ring_full(rig, 10), "after Stop nobody takes frames")
    check(screenshot.eventually(lambda shot: shot.getpixel((ox + 330, oy + 130)) == IDLE),
          "idle picture back after Stop")

    # Play again at the largest size, then Exit while playing.
    viewer.command(NEXT)
    viewer.command(NEXT)
    viewer.command(PLAY)
    check(requested(rig, 1280, 720, 10), "the filter asked the service for 1280 x 720")
    check(frames_taken(rig, 10), "a second Play streams again")
    viewer.command(EXIT)
    check(viewer.wait() == 0, "Exit while playing ends with code 0")
    check(ring_full(rig, 10), "after Exit nobody takes frames")


def case_no_service(rig, args, driver, screenshot):
    """No service: the filter's default format; Play runs the graph on the
    placeholder, and the running graph takes the frames of a service that
    comes later, at its own size."""
    viewer = start_viewer(args, driver)
    s = viewer.state
    bar_h = s["bar"]["rect"][3]
    check(s["client"] == [640, 480 + bar_h], f"client sized for 640 x 480: {s['client']}")
    check(viewer.label() == " 640 x 480" and not viewer.controls()[BADGE]["visible"],
          "label for the default format, no badge")
    s = viewer.command(PLAY)
    check(viewer.enabled() == PLAYING_BAR, "playing state")
    check(s["video"]["visible"] and s["video"]["rect"] == [0, 0, 640, 480],
          f"video window over the picture: {s['video']}")
    screenshot("live-no-service-playing")

    rig.start_service()
    rig.phone_streaming("--mode", "3", "--formats", "640x480@30,320x240@30")
    check(frames_taken(rig, 10), "the running graph takes the frames once the service comes")
    # The new block does not know the size the graph streams: the filter asks
    # for it, so the phone sends that size instead of the service's default.
    check(requested(rig, 640, 480, 10), "the filter asked the new service for 640 x 480")
    s = viewer.command(STOP)
    check(viewer.enabled() == STOPPED_BAR and not s["video"]["visible"], "Stop")
    check(ring_full(rig, 10), "after Stop nobody takes frames")
    check(viewer.close() == 0, "closing the window ends with code 0")


CASES = {"service": case_service, "no_service": case_no_service}


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--case", required=True, choices=sorted(CASES))
    for name in ("viewer", "driver", "filter", "svc", "monitor", "phone", "wine-run"):
        p.add_argument("--" + name, required=True)
    p.add_argument("--shots")
    args = p.parse_args()
    # Every case plays the live picture through a video renderer.
    skip = without_32bit_kernel(pe_bits(args.viewer), VIDEO_RENDERER_NEEDS_32BIT_KERNEL)
    if skip:
        print(skip)
        return SKIPPED
    driver = Driver(args.driver)
    rig = FilterRig(args)   # registers the filter
    try:
        CASES[args.case](rig, args, driver, Screens(args.shots))
    except Failure as e:
        check(False, str(e))
    finally:
        rig.close()
    return check.report()


if __name__ == "__main__":
    sys.exit(main())
