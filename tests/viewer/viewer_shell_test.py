#!/usr/bin/python3
"""The real OvalixViewer.exe under Wine on a virtual display, driven from
outside: window class, title, sizes, control places and states, the pictures
on screen, Play/Stop/Exit and the single-instance rule, over the stand-in
capture source registered in this (private) prefix.

    viewer_shell_test.py VIEWER_EXE DRIVER_EXE FILTER_DLL [SCREENSHOT_DIR]

Runs inside viewer_env.sh (display, audio) and wine_private_prefix.sh.
"""
import json
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from viewer_harness import (BADGE, EXIT, FILTER_KEY, IDLE, LABEL, NEXT, PLAY, STOP,  # noqa: E402
                            Checks, Driver, Screens, same_pixels, wine, windows_path)
import viewer_harness  # noqa: E402
from pe_bits import pe_bits  # noqa: E402
from rig_support import VIDEO_RENDERER_NEEDS_32BIT_KERNEL, without_32bit_kernel  # noqa: E402

viewer_exe, driver_exe, filter_dll = sys.argv[1:4]
check = Checks()
driver = Driver(driver_exe)
screenshot = Screens(sys.argv[4] if len(sys.argv) > 4 else None)
eventually = screenshot.eventually


def reg(*args):
    # Into the registry view the viewer reads: that of its bitness.
    wine("reg", *args, "/reg:%d" % pe_bits(viewer_exe))


def register_filter():
    reg("add", FILTER_KEY + r"\InprocServer32", "/ve", "/d", windows_path(filter_dll), "/f")
    reg("add", FILTER_KEY + r"\InprocServer32", "/v", "ThreadingModel", "/d", "Both", "/f")


class Viewer(viewer_harness.Viewer):
    """The program over the stand-in source, which takes its formats and
    behaviour from the environment and logs what is asked of it."""

    def __init__(self, formats):
        self.log = tempfile.NamedTemporaryFile(delete=False, suffix=".log").name
        super().__init__(viewer_exe, driver, {"OVALIX_TEST_FILTER": formats,
                                              "OVALIX_TEST_FILTER_LOG": windows_path(self.log)})

    def filter_log(self):
        with open(self.log) as f:
            return f.read().split("\n")

    def wait(self, timeout=20):
        try:
            return super().wait(timeout)
        finally:
            os.unlink(self.log)


def faces_drawn(viewer, expected):
    bx, by = viewer.bar_origin()
    places = {PLAY: 4, STOP: 68, EXIT: 132, NEXT: 196}
    matches = lambda shot: [same_pixels(shot, bx + places[control], by + 4, face)
                            for control, face in expected.items()]
    eventually(lambda shot: all(matches(shot)))
    for (control, face), ok in zip(expected.items(), matches(screenshot())):
        check(ok, f"button {control} shows {face}")


def label_shown_whole(viewer, shot):
    """The label's whole text on screen: within the label and left of the
    badge, one dark column run per character, the last ending before the
    edge (not cut by it), in a font well above the dialog's own (whose digits
    are about 8 pixels high)."""
    bx, by = viewer.bar_origin()
    lx, ly, lw, lh = viewer.controls()[LABEL]["rect"]
    right = lx + lw
    if viewer.controls()[BADGE]["visible"]:
        right = min(right, viewer.controls()[BADGE]["rect"][0])
    dark = lambda x, y: sum(shot.getpixel((bx + x, by + y))) < 384
    columns = [x for x in range(lx, right) if any(dark(x, y) for y in range(ly, ly + lh))]
    rows = [y for y in range(ly, ly + lh) if any(dark(x, y) for x in range(lx, right))]
    runs = sum(1 for x in columns if x - 1 not in columns)
    text = viewer.label()
    check(runs == len(text.replace(" ", "")) and columns and columns[-1] < right - 1,
          f"label {text!r} shown whole: {runs} characters, ink up to {columns[-1] if columns else None}"
          f" of {right}")
    check(rows and rows[-1] - rows[0] >= 14, f"label {text!r} in the text font ({len(rows)} rows)")


def resources():
    r = json.loads(wine(driver_exe, "resources", viewer_exe).stdout)
    check(r["strings"] == {"103": "Ovalix Viewer", "109": "OVALIXSETUP"}, "string table")
    d = r["dialog"]
    check((d["version"], d["signature"], d["exstyle"], d["style"]) == (1, 0xFFFF, 0, 0x40000048),
          "extended dialog template, WS_CHILD | DS_SETFONT | DS_FIXEDSYS")
    check((d["count"], d["box"], d["menu"], d["class"], d["title"]) ==
          (6, [0, 0, 358, 44], "", "", ""), "dialog box, menu, class, title")
    check(d["font"] == [8, 400, 0, 0, "MS Shell Dlg"], "dialog font")
    expected = [
        (0x5801008B, [40, 6, 38, 36], 1004, 0x80, ""),
        (0x5001008B, [120, 6, 24, 18], 1006, 0x80, ""),
        (0x5001008B, [2, 4, 42, 36], 1003, 0x80, ""),
        (0x5001008B, [152, 5, 24, 18], 1007, 0x80, ""),
        (0x50020000, [181, 8, 106, 20], 1008, 0x82, "1280 x 720"),
        (0x5000000E, [186, 19, 73, 30], 1009, 0x82, 145),
    ]
    got = [(c["style"], c["box"], c["id"], c["class"], c["text"]) for c in d["controls"]]
    check(got == expected, f"dialog controls {got}")
    check(all(c["exstyle"] == 0 for c in d["controls"]), "controls without extended style")
    # fAlt (0x10), no FVIRTKEY; the last entry carries the end mark (0x80).
    check(r["accelerators"] == [[0x10, ord("?"), 104], [0x90, ord("/"), 104]], "accelerators")
    faces = {str(i): [60, 60, 8] for i in (135, 136, 139, 140, 141, 142, 143, 144, 147, 148, 149)}
    faces["145"] = [110, 48, 4]
    faces["150"] = [469, 144, 4]
    check(r["bitmaps"] == faces, f"bitmap sizes and depths {r['bitmaps']}")
    check(r["icons"] == {"107": [[48, 48, 24]], "108": [[48, 48, 24]]}, "icons")
    m = r["manifest"] or ""
    check('level="asInvoker"' in m and 'uiAccess="false"' in m, "manifest")
    v = r["version"]
    check(v.get("file") == [0x10000, 1] and v.get("product") == [0x10000, 1]
          and v.get("FileDescription") == "Ovalix Viewer" and v.get("ProductName") == "Ovalix Viewer",
          f"version record {v}")


def three_formats():
    viewer = Viewer("1280x720,640x480,320x240;stream")
    s = viewer.state
    check(bool(s), "the viewer's window appears")
    if not s:
        viewer.wait(1)
        return
    bar = s["bar"]
    bar_h = bar["rect"][3]
    check(bar_h > 0 and s["client"] == [1280, 720 + bar_h], f"client size {s['client']}")
    check(bar["rect"] == [0, 720, 1280, bar_h] and bar["visible"], f"bar docked {bar['rect']}")
    style = s["style"] & 0xFFFF0000
    check(style & 0x02CA0000 == 0x02CA0000 and not style & 0x00050000,
          f"caption, system menu, minimise box, clip children; no sizing, no maximise ({s['style']:#x})")
    places = {PLAY: [4, 4, 60, 60], STOP: [68, 4, 60, 60], EXIT: [132, 4, 60, 60],
              NEXT: [196, 4, 60, 60], BADGE: [442, 8, 110, 48]}
    for control, rect in places.items():
        check(viewer.controls()[control]["rect"] == rect, f"control {control} at {rect}")
    check(viewer.label() == "1280 x 720" and viewer.controls()[BADGE]["visible"],
          "label and badge for 1280 x 720")
    check(viewer.enabled() == {PLAY: True, STOP: False, EXIT: True, NEXT: True}, "stopped state")
    check(not s["video"]["visible"], "video window hidden at start")

    ox, oy = viewer.client_origin()
    eventually(lambda shot: same_pixels(shot, ox + 405, oy + 144, "logo.bmp"))
    shot = screenshot("idle")
    check(shot.getpixel((ox + 2, oy + 2)) == IDLE, "idle background")
    check(same_pixels(shot, ox + 405, oy + 144, "logo.bmp"), "logo at (405, 144)")
    for top in (328, 368):
        rows = [shot.getpixel((x, y)) for y in range(oy + top, oy + top + 36)
                for x in range(ox + 300, ox + 980)]
        check((255, 255, 255) in rows, f"a text line at y {top}")
    gap = {shot.getpixel((x, y)) for y in range(oy + 290, oy + 326) for x in range(ox, ox + 1280)}
    check(gap == {IDLE}, "nothing but background between logo and text")
    label_shown_whole(viewer, shot)
    faces_drawn(viewer, {PLAY: "button_play_normal.bmp", STOP: "button_stop_disabled.bmp",
                               EXIT: "button_exit_normal.bmp", NEXT: "button_next_normal.bmp"})

    # Pressed wins over disabled: the disabled Stop button shown pressed.
    driver("press", STOP, "1")
    faces_drawn(viewer, {STOP: "button_stop_pressed.bmp"})
    driver("press", STOP, "0")

    labels = []
    for _ in range(3):
        viewer.command(NEXT)
        labels.append((viewer.label(), viewer.controls()[BADGE]["visible"]))
        label_shown_whole(viewer, screenshot("label-" + viewer.label().strip().replace(" ", "")))
    check(labels == [(" 640 x 480", False), (" 320 x 240", False), ("1280 x 720", True)],
          f"Next resolution cycles and wraps {labels}")

    viewer.command(NEXT)
    s = viewer.command(PLAY)
    check(s["video"]["visible"] and s["video"]["rect"] == [320, 120, 640, 480],
          f"video window centred {s['video']}")
    check(viewer.enabled() == {PLAY: False, STOP: True, EXIT: True, NEXT: False}, "playing state")
    log = viewer.filter_log()
    check("setformat 640x480" in log and "connected 640x480" in log,
          f"the filter plays the selected size {log}")
    faces_drawn(viewer, {PLAY: "button_play_disabled.bmp", STOP: "button_stop_normal.bmp",
                         NEXT: "button_next_disabled.bmp"})
    screenshot("playing")
    driver("press", STOP, "1")
    driver("press", EXIT, "1")
    faces_drawn(viewer, {STOP: "button_stop_pressed.bmp",
                                       EXIT: "button_exit_pressed.bmp"})
    driver("press", STOP, "0")
    driver("press", EXIT, "0")

    s = viewer.command(STOP)
    check(not s["video"]["visible"], "Stop hides the video window")
    check(viewer.enabled() == {PLAY: True, STOP: False, EXIT: True, NEXT: True}, "stopped again")
    check(viewer.label() == " 640 x 480", "the selection stays")
    check(eventually(lambda shot: shot.getpixel((ox + 330, oy + 130)) == IDLE),
          "idle picture back after Stop")

    viewer.command(PLAY)
    viewer.command(EXIT)
    check(viewer.wait() == 0, "Exit while playing ends with code 0")


def single_instance():
    viewer = Viewer("640x480")
    result = driver("second", viewer_exe)
    check(result.get("ended") and result.get("exit") == 0, f"a second start exits 0 {result}")
    check(result.get("foregroundAfter"), f"the first comes to the foreground {result}")
    found = driver("state")
    check(found.get("pid") == viewer.state.get("pid"), "the first viewer still runs")
    check(viewer.close() == 0, "closing the window ends with code 0")


def layouts():
    # (formats, client width, picture height, label, badge, video rect when playing)
    cases = [
        ("none", 640, 0, "", False, None),
        ("320x240,176x144", 640, 240, " 320 x 240", False, [0, 0, 320, 240]),
        ("640x360,320x240,640x480", 640, 360, " 640 x 360", False, None),
        ("1920x1080", 1920, 1080, "1920 x 1080", False, None),
    ]
    for formats, width, height, label, badge, video in cases:
        viewer = Viewer(formats)
        s = viewer.state
        if not s:
            check(False, f"[{formats}] window appears")
            viewer.wait(1)
            continue
        bar_h = s["bar"]["rect"][3]
        check(s["client"] == [width, height + bar_h], f"[{formats}] client {s['client']}")
        screenshot("layout-" + formats.split(",")[0])
        check(viewer.label() == label, f"[{formats}] label {viewer.label()!r}")
        check(viewer.controls()[BADGE]["visible"] == badge, f"[{formats}] badge")
        if video:
            s = viewer.command(PLAY)
            check(s["video"]["rect"] == video, f"[{formats}] video at {s['video']['rect']}")
        if formats == "none":
            viewer.command(NEXT, timeout=1)
            check(viewer.label() == "", "Next without formats keeps the empty label")
            # Nothing to play: the bar goes to the playing state, no graph is
            # built and the picture area stays empty.
            viewer.command(PLAY)
            check(viewer.enabled() == {PLAY: False, STOP: True, EXIT: True, NEXT: False},
                  "Play without formats")
        check(viewer.close() == 0, f"[{formats}] exit code")


def worked_example_640():
    viewer = Viewer("640x480")
    ox, oy = viewer.client_origin()
    eventually(lambda shot: same_pixels(shot, ox + 85, oy + 84, "logo.bmp"))
    shot = screenshot("idle-640x480")
    check(same_pixels(shot, ox + 85, oy + 84, "logo.bmp"), "logo at (85, 84) for 640 x 480")
    rows = [shot.getpixel((x, y)) for y in range(oy + 268, oy + 300) for x in range(ox, ox + 640)]
    check((255, 255, 255) in rows, "first text line at y 268")
    check(viewer.close() == 0, "exit code")


def failed_build():
    # A stream that cannot be rendered: the bar plays, the picture stays idle.
    viewer = Viewer("640x480;unrenderable")
    s = viewer.command(PLAY)
    check(viewer.enabled() == {PLAY: False, STOP: True, EXIT: True, NEXT: False},
          "a failed build still shows the playing state")
    check(not s["video"]["visible"], "a failed build shows the idle picture")
    ox, oy = viewer.client_origin()
    check(eventually(lambda shot: shot.getpixel((ox + 2, oy + 2)) == IDLE),
          "idle background after a failed build")
    screenshot("failed-build")
    viewer.command(STOP)
    check(viewer.enabled()[PLAY], "Stop after a failed build")
    check(viewer.close() == 0, "exit after a failed build")


def not_registered():
    reg("delete", FILTER_KEY, "/f")
    viewer = Viewer("640x480")
    check(viewer.wait() == 0, "without the capture filter the viewer ends with code 0")
    check(not viewer.state, "and shows no window")


def main():
    register_filter()
    cases = [resources, three_formats, single_instance, layouts, worked_example_640,
             failed_build, not_registered]
    # The cases that press Play build a graph with a video renderer.
    skip = without_32bit_kernel(pe_bits(viewer_exe), VIDEO_RENDERER_NEEDS_32BIT_KERNEL)
    if skip:
        for case in (three_formats, layouts, failed_build):
            print(f"{case.__name__}: {skip}")
            cases.remove(case)
    only = os.environ.get("VIEWER_TEST_ONLY")
    for case in cases:
        if not only or case.__name__ in only.split(","):
            case()
    return check.report()


if __name__ == "__main__":
    sys.exit(main())
