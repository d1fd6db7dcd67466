"""Headless Chromium as the phone: its fake camera plays a Y4M file, it opens
the phone's page, and the rig reads the page's state, reloads it and takes
screenshots over the DevTools socket.

Run as a program, it is the demo's phone: it pairs through the bridge's
pairing page on this PC and streams until interrupted.

    browser_phone.py [--work DIR] [--screenshot PNG]
"""

import argparse
import base64
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

from ws_client import DevTools

# The picture the fake camera shows: the SMPTE colour bars, 1280 x 720.
CAMERA_WIDTH, CAMERA_HEIGHT = 1280, 720
# The seven bars of the top two thirds, left to right: videotestsrc's
# "smpte" pattern draws them at full strength.
SMPTE_BARS = [(255, 255, 255), (255, 255, 0), (0, 255, 255), (0, 255, 0),
              (255, 0, 255), (255, 0, 0), (0, 0, 255)]

FLAGS = ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
         "--disable-component-update", "--disable-sync", "--no-first-run",
         "--use-fake-ui-for-media-stream", "--use-fake-device-for-media-stream",
         "--ignore-certificate-errors", "--autoplay-policy=no-user-gesture-required",
         # A headless page counts as hidden to nobody, but keep timers and
         # rendering at full rate whatever the window manager thinks.
         "--disable-background-timer-throttling", "--disable-renderer-backgrounding",
         "--disable-backgrounding-occluded-windows", "--window-size=412,915"]


def make_camera_file(path):
    """Two seconds of colour bars at 30 fps as Y4M; the fake camera loops it."""
    if os.path.exists(path):
        return path
    subprocess.run(["gst-launch-1.0", "-q", "videotestsrc", "num-buffers=60", "pattern=smpte",
                    "!", "video/x-raw,width=%d,height=%d,framerate=30/1,format=I420"
                    % (CAMERA_WIDTH, CAMERA_HEIGHT), "!", "y4menc", "!", "filesink",
                    "location=" + path], check=True, timeout=60,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return path


def chromium_program():
    for name in ("chromium", "chromium-browser"):
        path = shutil.which(name)
        if path:
            return path
    return None


class Browser:
    def __init__(self, work, camera_file, name="phone"):
        self.work = work
        self.camera_file = camera_file
        self.profile = os.path.join(work, name + "-profile")
        self.log = os.path.join(work, name + ".log")
        self.proc = None
        self.page = None

    def open(self, url, timeout=20):
        shutil.rmtree(self.profile, ignore_errors=True)
        os.makedirs(self.profile)
        argv = [chromium_program()] + FLAGS + [
            "--user-data-dir=" + self.profile,
            "--use-file-for-fake-video-capture=" + self.camera_file,
            "--remote-debugging-port=0", url]
        self.proc = subprocess.Popen(argv, stdout=open(self.log, "w"), stderr=subprocess.STDOUT,
                                     stdin=subprocess.DEVNULL)
        active = os.path.join(self.profile, "DevToolsActivePort")
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if self.proc.poll() is not None:
                raise RuntimeError("chromium ended: " + open(self.log).read()[-2000:])
            if os.path.exists(active) and open(active).read().count("\n") >= 1:
                port = int(open(active).read().split("\n")[0])
                pages = [t for t in self._targets(port) if t.get("type") == "page"]
                if pages:
                    self.page = DevTools(pages[0]["webSocketDebuggerUrl"])
                    self.wait_loaded(end - time.monotonic())
                    return
            time.sleep(0.1)
        raise RuntimeError("chromium's DevTools did not come up")

    def wait_loaded(self, timeout):
        """Until the page (not the blank one before it) runs its script."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if self.evaluate("!!(document.body && document.body.dataset.state)"):
                return
            time.sleep(0.1)
        raise RuntimeError("the phone's page did not load")

    @staticmethod
    def _targets(port):
        with urllib.request.urlopen("http://127.0.0.1:%d/json/list" % port, timeout=5) as r:
            return json.load(r)

    def evaluate(self, expression):
        return self.page.evaluate(expression)

    def state(self):
        """The page's state word, shown text, frames sent and rate ({} while
        the page is loading)."""
        return self.evaluate("({state: document.body.dataset.state, "
                             "text: document.getElementById('state').textContent, "
                             "frames: +(document.body.dataset.frames || 0), "
                             "fps: +(document.body.dataset.fps || 0), "
                             "camera: document.body.dataset.camera || '', "
                             "formats: document.body.dataset.formats || '', "
                             "probe: document.body.dataset.probe || '', "
                             "losses: document.body.dataset.losses || ''})") or {}

    def reload(self):
        self.page.call("Page.reload", ignoreCache=True)
        time.sleep(0.2)
        self.wait_loaded(10)

    def screenshot(self, path, width=412, height=915, scale=2):
        """The page as a phone of that size shows it, as a PNG."""
        self.page.call("Emulation.setDeviceMetricsOverride", width=width, height=height,
                       deviceScaleFactor=scale, mobile=True)
        time.sleep(0.5)
        shot = self.page.call("Page.captureScreenshot", format="png")
        with open(path, "wb") as f:
            f.write(base64.b64decode(shot["data"]))
        return path

    def close(self):
        if self.page is not None:
            try:
                self.page.close()
            except OSError:
                pass
            self.page = None
        if self.proc is not None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(timeout=10)
            self.proc = None


def pairing_token(pair_port=5057, token_file=None):
    """The token the bridge's pairing page offers (in the phone's address it
    shows), else the one in token_file once the page is up; None while the
    bridge does not answer."""
    try:
        with urllib.request.urlopen("http://127.0.0.1:%d/" % pair_port, timeout=2) as r:
            text = r.read().decode(errors="replace")
    except OSError:
        return None
    m = re.search(r"[?&]t=([A-Za-z0-9_\-]+)", text)
    if m:
        return m.group(1)
    if token_file and os.path.exists(token_file):
        return open(token_file).read().strip() or None
    return None


def main():
    p = argparse.ArgumentParser(description="Headless Chromium with colour bars as its camera, "
                                "paired with this PC's bridge, as the phone.")
    p.add_argument("--work", help="folder for the browser's profile and camera file")
    p.add_argument("--screenshot", help="PNG of the phone's page, taken at the end")
    p.add_argument("--token-file", help="where the bridge keeps its token, for a PC whose "
                   "pairing page shows no address (no network but loopback)")
    args = p.parse_args()
    if chromium_program() is None:
        sys.exit("browser_phone: chromium is not installed")
    work = args.work or tempfile.mkdtemp(prefix="ovalix-browser-phone-")
    os.makedirs(work, exist_ok=True)
    token = None
    end = time.monotonic() + 15
    while token is None and time.monotonic() < end:
        token = pairing_token(token_file=args.token_file)
        time.sleep(0.2)
    if token is None:
        sys.exit("browser_phone: no pairing on 127.0.0.1:5057 (is ovalix-web running?)")
    url = "https://127.0.0.1:5056/?t=" + token
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(1))
    signal.signal(signal.SIGINT, lambda *_: stop.append(1))
    browser = Browser(work, make_camera_file(os.path.join(work, "bars.y4m")))
    try:
        browser.open(url)
        print("browser phone: headless Chromium opened %s" % url.split("?")[0], flush=True)
        shown = None
        while not stop:
            text = browser.state()["text"]
            if text != shown and not text.startswith("Streaming"):
                print("browser phone: %s" % text, flush=True)
            elif text.startswith("Streaming") and not (shown or "").startswith("Streaming"):
                print("browser phone: %s" % text, flush=True)
            shown = text
            time.sleep(0.5)
        if args.screenshot:
            browser.screenshot(args.screenshot)
            print("browser phone: its page as a phone shows it: %s" % args.screenshot)
    finally:
        browser.close()
        if not args.work:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
