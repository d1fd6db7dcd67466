"""What the tests of the real OvalixViewer.exe share: the Wine wrapper, the
driver (viewer_driver.exe) that reads and works the running program from
outside, screenshots and the artwork to compare them with, and a collector of
checks that goes on after a failed one."""
import io
import json
import os
import subprocess
import sys
import time

from PIL import Image

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests"))
from rig_support import wait_until  # noqa: E402
RUN = os.path.join(ROOT, "scripts", "wine-run.sh")
ART = os.path.join(ROOT, "viewer", "resources")
FILTER_KEY = r"HKCR\CLSID\{5E75F4EE-128D-4972-8CD9-5B82DF38EB55}"
IDLE = (85, 153, 187)
BLACK = (0, 0, 0)
PLAY, STOP, EXIT, NEXT, LABEL, BADGE = "1003", "1004", "1006", "1007", "1008", "1009"
STOPPED_BAR = {PLAY: True, STOP: False, EXIT: True, NEXT: True}
PLAYING_BAR = {PLAY: False, STOP: True, EXIT: True, NEXT: False}


class Checks:
    """Counts checks and keeps going after a failed one, so one run reports
    every fault it meets."""

    def __init__(self):
        self.count = 0
        self.failures = []

    def __call__(self, condition, what):
        self.count += 1
        if not condition:
            self.failures.append(what)
            print("FAIL:", what, flush=True)
        return bool(condition)

    def report(self):
        print(f"{self.count - len(self.failures)} passed, {len(self.failures)} failed")
        return 1 if self.failures else 0


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine(*args, env=None, timeout=60):
    return subprocess.run([RUN, *args], capture_output=True, text=True, errors="replace", env=env,
                          timeout=timeout)


class Driver:
    def __init__(self, exe):
        self.exe = exe

    def __call__(self, *args):
        out = wine(self.exe, *args).stdout
        try:
            return json.loads(out)
        except ValueError:
            return {}


class Screens:
    """Screenshots of the virtual display, kept in a folder when one is given."""

    def __init__(self, folder=None):
        self.folder = folder

    def __call__(self, name=None):
        xwd = subprocess.run(["xwd", "-root", "-silent"], capture_output=True, check=True).stdout
        png = subprocess.run(["/usr/bin/convert", "xwd:-", "png:-"], input=xwd,
                             capture_output=True, check=True).stdout
        image = Image.open(io.BytesIO(png)).convert("RGB")
        if self.folder and name:
            os.makedirs(self.folder, exist_ok=True)
            image.save(os.path.join(self.folder, name + ".png"))
        return image

    def eventually(self, predicate, timeout=5):
        """Screens are drawn a moment after the state changes: look again for a while."""
        return wait_until(lambda: predicate(self()), timeout, 0.3)


def same_pixels(shot, x, y, bitmap_file):
    art = Image.open(os.path.join(ART, bitmap_file)).convert("RGB")
    region = shot.crop((x, y, x + art.width, y + art.height))
    return list(region.getdata()) == list(art.getdata())


class Viewer:
    """One run of the program, started through the Wine wrapper with extra
    environment variables; the first state is read once its window shows."""

    def __init__(self, exe, driver, env=None):
        self.driver = driver
        self.process = subprocess.Popen([RUN, exe], env=dict(os.environ, **(env or {})),
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.state = driver("state")

    def refresh(self):
        self.state = self.driver("state")
        return self.state

    def controls(self):
        return self.state["bar"]["controls"]

    def enabled(self):
        return {k: self.controls()[k]["enabled"] for k in (PLAY, STOP, EXIT, NEXT)}

    def label(self):
        return self.controls()[LABEL]["text"] if self.state else None

    def labels(self):
        """Steps through every format with Next resolution until the label
        comes round again: the labels in list order from the selected one."""
        seen = [self.label()]
        for _ in range(50):
            self.command(NEXT)
            if self.label() == seen[0]:
                break
            seen.append(self.label())
        return seen

    def command(self, control, timeout=15):
        """Posts the command and waits for its visible outcome: the bar's
        new state after Play and Stop (set as their last step), a new label
        after Next resolution."""
        before = self.label()
        self.driver("command", control)
        if control == EXIT:
            return {}
        done = {PLAY: lambda: not self.enabled()[PLAY],
                STOP: lambda: not self.enabled()[STOP]}.get(control, lambda: self.label() != before)
        deadline = time.time() + timeout
        while self.refresh() and not done() and time.time() < deadline:
            time.sleep(0.2)
        time.sleep(0.3)  # the paints that follow
        return self.refresh()

    def client_origin(self):
        return self.state["origin"]

    def bar_origin(self):
        x, y = self.client_origin()
        bar = self.state["bar"]["rect"]
        return x + bar[0], y + bar[1]

    def wait(self, timeout=20):
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            return None

    def close(self):
        self.driver("close")
        return self.wait()
