// The page that makes this phone the PC's camera: it opens the camera, offers
// the PC the sizes it delivers, and sends the pictures over the bridge for
// as long as the page is open, linking again by itself after any loss.

import { Camera } from "./camera.js";
import { MAX_JPEG, StreamLink, frameMessage } from "./stream_link.js";

// More than this waiting in the socket when a picture is ready (more than
// signs of life: the last picture is not on its way yet) means the network
// is behind: the new picture is dropped rather than queued behind the last,
// which would only make every later one later too. The socket is looked at
// then and not before the picture is drawn: the last one, sent a moment
// ago, is on its way long before the next is encoded.
const MAX_BUFFERED = 4096;

const ui = {
  state: document.getElementById("state"),
  detail: document.getElementById("detail"),
  video: document.getElementById("preview"),
  flip: document.getElementById("flip"),
  retry: document.getElementById("retry"),
};

const TEXTS = {
  starting: ["Starting the camera", ""],
  connecting: ["Connecting", "Reaching the PC…"],
  waiting: ["Waiting", "Waiting for the PC to take the camera."],
  linked: ["Linked", "The PC has chosen a picture size."],
  streaming: ["Streaming", "The PC receives this camera's picture."],
  reconnecting: ["Reconnecting", "The PC cannot be reached. Trying again…"],
  "in use": ["In use", "Another phone is this PC's camera. Trying again…"],
  refused: ["Not paired", "The PC no longer accepts this page's pairing. Scan the QR code on the PC again."],
  "no token": ["Not paired", "Open this page by scanning the QR code on the PC."],
  "no camera": ["No camera", "Allow this page to use the camera, then try again."],
  paused: ["Paused", "The camera is off while the page is hidden."],
};

const params = new URLSearchParams(location.search);
const token = params.get("t") || "";
const camera = new Camera(ui.video, MAX_JPEG);
const scheme = location.protocol === "https:" ? "wss:" : "ws:";
const link = new StreamLink(
  `${scheme}//${location.host}/link?t=${encodeURIComponent(token)}`,
  location.href,
  { state: onLinkState, select: onSelect, down: onLinkDown },
);

let formats = [];        // the table offered, largest first
let chosen = null;       // the format the PC chose, while linked
let counter = 0;         // frames sent since the page opened
let sentTimes = [];      // when the frames of the last second left
let wakeLock = null;
let shownState = "";
let linkState = "connecting";   // the link's last word, shown when nothing says more
let starting = null;     // the camera start under way

function show(name, extra) {
  shownState = name;
  const [title, detail] = TEXTS[name];
  ui.state.textContent = extra ? `${title} ${extra}` : title;
  ui.detail.textContent = detail;
  document.body.dataset.state = name;
  ui.retry.hidden = name !== "no camera";
}

function onLinkState(name) {
  linkState = name;
  if (!document.hidden) show(name);
}

async function onSelect(index) {
  // The index is into this phone's own table; one beyond it means entry 0.
  chosen = formats[index] || formats[0];
  show("linked", `at ${chosen.width} × ${chosen.height}`);
  await camera.configure(chosen.width, chosen.height);
  if (!document.hidden && chosen) camera.start();
  keepAwake(true);
}

function onLinkDown() {
  chosen = null;
  camera.stop();
  keepAwake(false);
}

camera.wantPicture = () => link.isOpen() && chosen !== null;

camera.onPicture = (stamp, jpeg) => {
  if (!chosen) return;
  if (link.bufferedAmount() > MAX_BUFFERED) {
    camera.stats.behind++;
    return;
  }
  const message = frameMessage(link.session, stamp, counter, jpeg);
  if (!message || !link.send(message)) return;
  counter++;
  const now = performance.now();
  sentTimes.push(now);
  while (sentTimes.length && now - sentTimes[0] > 1000) sentTimes.shift();
};

// The rate shown is the frames that left in the last second.
setInterval(() => {
  const now = performance.now();
  while (sentTimes.length && now - sentTimes[0] > 1000) sentTimes.shift();
  document.body.dataset.fps = String(sentTimes.length);
  document.body.dataset.frames = String(counter);
  document.body.dataset.losses = link.losses.slice(-5).join(", ");
  const c = camera.stats;
  document.body.dataset.camera = `pictures=${c.pictures} busy=${c.busy} behind=${c.behind} ` +
    `encode_ms=${c.encodeMs.toFixed(1)} quality=${camera.quality.toFixed(2)}`;
  if (chosen && !document.hidden && link.isOpen() && sentTimes.length > 0)
    show("streaming", `at ${sentTimes.length} fps`);
  else if (chosen && shownState === "streaming")
    show("linked", `at ${chosen.width} × ${chosen.height}`);
}, 500);

// Opens the camera facing the given way and offers its sizes to the PC
// (found afresh for a camera not tried yet). A camera whose sizes differ
// from the last one's makes the link start over.
function startCamera(facing, probe) {
  const run = async () => {
    show("starting");
    try {
      await camera.open(facing);
      if (probe) formats = await camera.probe();
      if (chosen) await camera.configure(chosen.width, chosen.height);
    } catch (e) {
      show("no camera");
      return false;
    }
    document.body.dataset.formats = formats.map((f) => `${f.width}x${f.height}`).join(" ");
    document.body.dataset.probe = camera.probeLog.join(" ") + (camera.lastRefusal ? ` (${camera.lastRefusal})` : "");
    link.start(formats);
    if (chosen) {
      show("linked", `at ${chosen.width} × ${chosen.height}`);
      camera.start();
    } else {
      show(linkState);
    }
    return true;
  };
  starting = (starting || Promise.resolve()).then(run);
  return starting;
}

async function keepAwake(on) {
  if (!("wakeLock" in navigator)) return;
  try {
    if (on && !wakeLock && !document.hidden) {
      wakeLock = await navigator.wakeLock.request("screen");
      wakeLock.addEventListener("release", () => { wakeLock = null; });
    } else if (!on && wakeLock) {
      await wakeLock.release();
      wakeLock = null;
    }
  } catch (e) {
    wakeLock = null;   // refused (battery saver, no user activation): stay without
  }
}

// A hidden page gives the camera back; the link stays up on its signs of
// life, so the picture returns as soon as the page is shown again.
document.addEventListener("visibilitychange", () => {
  if (document.hidden) {
    camera.close();
    show("paused");
  } else if (formats.length) {
    startCamera(camera.facing, false).then(() => keepAwake(chosen !== null));
  }
});

ui.flip.addEventListener("click", () => {
  const facing = camera.facing === "environment" ? "user" : "environment";
  ui.flip.textContent = facing === "environment" ? "Use front camera" : "Use back camera";
  startCamera(facing, true);
});

ui.retry.addEventListener("click", () => location.reload());

if (!token) {
  show("no token");
} else if (!navigator.mediaDevices || !navigator.mediaDevices.getUserMedia) {
  show("no camera");
} else {
  startCamera("environment", true);
}
