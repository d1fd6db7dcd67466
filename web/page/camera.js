// The phone's camera: which picture sizes it really delivers, switching it
// to the size the PC chose, and each new picture as a JPEG of exactly that
// size.

// Sizes worth offering, largest first. The PC takes widths of 320 to 1280
// and heights of 144 to 720.
const CANDIDATES = [
  [1280, 720], [960, 720], [960, 540], [800, 600], [640, 480], [640, 360],
  [352, 288], [320, 240],
];
const MIN_FPS = 10;
const MAX_FPS = 30;

// JPEG quality: start here, and move so that frames stay well inside the
// largest message while looking as good as that allows.
const QUALITY_START = 0.8;
const QUALITY_LOWEST = 0.3;
const QUALITY_HIGHEST = 0.85;

export class Camera {
  // video: the <video> element that shows the camera and is drawn from.
  // maxJpeg: the largest JPEG a frame message can hold.
  constructor(video, maxJpeg) {
    this.video = video;
    this.maxJpeg = maxJpeg;
    this.stream = null;
    this.facing = "environment";
    this.width = 0;
    this.height = 0;
    this.canvas = typeof OffscreenCanvas === "function" ? new OffscreenCanvas(1, 1)
                                                        : document.createElement("canvas");
    this.context = this.canvas.getContext("2d", { alpha: false });
    this.quality = QUALITY_START;
    this.encoding = false;
    this.waitingStamp = 0;   // a picture that came during the encode: when it came
    this.onPicture = null;   // (stamp, Uint8Array jpeg) for each encoded picture
    this.wantPicture = null; // () => bool: would a picture be sent now?
    this.running = false;
    this.runs = 0;           // counts starts, so that a reader of an earlier run ends
    // What became of the camera's pictures, for the page to show.
    this.stats = { pictures: 0, busy: 0, behind: 0, encodeMs: 0 };
    this.probeLog = [];      // what each size tried gave, for a look from outside
  }

  track() {
    return this.stream ? this.stream.getVideoTracks()[0] : null;
  }

  async open(facing) {
    this.close();
    this.facing = facing;
    this.stream = await navigator.mediaDevices.getUserMedia({
      audio: false,
      video: {
        facingMode: { ideal: facing },
        width: { ideal: this.width || 1280 },
        height: { ideal: this.height || 720 },
        frameRate: { ideal: MAX_FPS },
      },
    });
    this.video.srcObject = this.stream;
    await this.video.play().catch(() => {});
  }

  close() {
    this.running = false;
    if (this.stream) this.stream.getTracks().forEach((t) => t.stop());
    this.stream = null;
    this.video.srcObject = null;
  }

  // The sizes the open camera delivers, each tried on the running track:
  // [{width, height, fps}], largest first. A camera held upright delivers
  // the size turned; the picture is cut to the landscape size when drawn.
  async probe() {
    const track = this.track();
    const caps = track.getCapabilities ? track.getCapabilities() : {};
    const longest = Math.max(caps.width ? caps.width.max : 1280, caps.height ? caps.height.max : 720);
    const found = [];
    this.probeLog = [];
    for (const [width, height] of CANDIDATES) {
      if (width > longest) continue;
      // A camera busy with the last change may refuse or lag behind the
      // next one: each size gets a second try before it is left out.
      let s = null;
      for (let attempt = 0; attempt < 2 && !fits(s, width, height); attempt++) {
        if (attempt) await new Promise((r) => setTimeout(r, 150));
        s = await this.tryConstraints(width, height, true);
      }
      this.probeLog.push(`${width}x${height}:${s ? `${s.width}x${s.height}` : "refused"}`);
      if (fits(s, width, height)) found.push({ width, height, fps: clampFps(s.frameRate) });
    }
    // Back to the largest, which the preview shows until the PC chooses.
    if (found.length) await this.tryConstraints(found[0].width, found[0].height, true);
    if (found.length === 0) {
      // A camera that takes no exact size at all: offer what it gives,
      // scaled into the PC's limits.
      const s = track.getSettings();
      const scale = Math.min(1, 1280 / Math.max(s.width, s.height), 720 / Math.min(s.width, s.height));
      found.push({
        width: Math.max(320, Math.round((Math.max(s.width, s.height) * scale) / 16) * 16),
        height: Math.max(144, Math.round((Math.min(s.width, s.height) * scale) / 16) * 16),
        fps: clampFps(s.frameRate),
      });
    }
    return found;
  }

  async tryConstraints(width, height, exact) {
    const track = this.track();
    const want = exact ? { exact: width } : { ideal: width };
    const wantH = exact ? { exact: height } : { ideal: height };
    try {
      await track.applyConstraints({ width: want, height: wantH, frameRate: { ideal: MAX_FPS } });
      return track.getSettings();
    } catch (e) {
      this.lastRefusal = `${e.name} ${e.constraint || e.message}`;
      return null;
    }
  }

  // Switches the camera to the chosen size; pictures are encoded at exactly
  // that size even when the camera gives something near it.
  async configure(width, height) {
    this.width = width;
    this.height = height;
    this.canvas.width = width;
    this.canvas.height = height;
    if (!this.track()) return;
    if (!(await this.tryConstraints(width, height, true)) &&
        !(await this.tryConstraints(height, width, true)))
      await this.tryConstraints(width, height, false);
  }

  // Draws and encodes each new picture of the camera while running: the page
  // learns of one when the preview is handed it. One picture is encoded at a
  // time: a second encode beside the first only slows both down on a phone's
  // few busy cores, so that every picture arrives later. A picture that
  // comes while one is encoded waits (the newest only) and is taken as soon
  // as the encode is done, with the time it came as its stamp.
  start() {
    if (this.running) return;
    this.running = true;
    this.waitingStamp = 0;
    const stream = this.stream;
    const run = ++this.runs;
    const video = this.video;
    const live = () => this.runs === run && this.running && video.srcObject === stream;
    const next = () => {
      if (!live()) return;
      if (video.requestVideoFrameCallback) video.requestVideoFrameCallback(each);
      else setTimeout(each, 1000 / MAX_FPS);
    };
    const take = (stamp) => {
      this.grab(video, video.videoWidth, video.videoHeight, stamp, () => {
        const waiting = this.waitingStamp;
        this.waitingStamp = 0;
        if (waiting && live()) take(waiting);
      });
    };
    const each = () => {
      // The stamp is the phone's clock in milliseconds when the picture was
      // taken from the camera, so the PC can tell how long it was on its way.
      const stamp = Math.round(performance.timeOrigin + performance.now());
      this.stats.pictures++;
      if (this.encoding) {
        if (this.waitingStamp) this.stats.busy++;
        this.waitingStamp = stamp;
      } else {
        take(stamp);
      }
      next();
    };
    next();
  }

  stop() {
    this.running = false;
  }

  // source: the picture (the video element) of sourceWidth x sourceHeight,
  // stamped; done() once it is encoded or left out.
  grab(source, sourceWidth, sourceHeight, stamp, done) {
    const stats = this.stats;
    if (!this.width || sourceWidth === 0) return;
    if (this.wantPicture && !this.wantPicture()) {
      stats.behind++;
      return;
    }
    const started = performance.now();
    drawCovering(this.context, source, sourceWidth, sourceHeight, this.width, this.height);
    this.encoding = true;
    const finish = (jpeg) => {
      this.encoding = false;
      stats.encodeMs += (performance.now() - started - stats.encodeMs) / 16;
      if (jpeg && this.running) {
        this.adaptQuality(jpeg.length);
        if (jpeg.length <= this.maxJpeg && this.onPicture) this.onPicture(stamp, jpeg);
      }
      done();
    };
    this.encode().then(async (blob) => finish(blob ? new Uint8Array(await blob.arrayBuffer()) : null),
                       () => finish(null));
  }

  // The canvas as a JPEG. An offscreen canvas is encoded at once; a page's
  // canvas waits for the page to be idle, which a busy page seldom is.
  encode() {
    if (this.canvas.convertToBlob)
      return this.canvas.convertToBlob({ type: "image/jpeg", quality: this.quality });
    return new Promise((resolve) => this.canvas.toBlob(resolve, "image/jpeg", this.quality));
  }

  adaptQuality(size) {
    if (size > this.maxJpeg) this.quality -= 0.1;
    else if (size > 0.75 * this.maxJpeg) this.quality -= 0.03;
    else if (size < 0.4 * this.maxJpeg) this.quality += 0.01;
    this.quality = Math.min(QUALITY_HIGHEST, Math.max(QUALITY_LOWEST, this.quality));
  }
}

// Whether settings s deliver width x height, either way round.
function fits(s, width, height) {
  return s !== null && ((s.width === width && s.height === height) ||
                        (s.width === height && s.height === width));
}

function clampFps(fps) {
  const f = Math.round(fps || MAX_FPS);
  return Math.min(MAX_FPS, Math.max(MIN_FPS, f));
}

// Draws the picture so that it fills width x height, cutting off what sticks
// out on either side (a camera held upright, or a size the camera rounded).
function drawCovering(context, source, sw0, sh0, width, height) {
  const scale = Math.max(width / sw0, height / sh0);
  const sw = width / scale;
  const sh = height / scale;
  context.drawImage(source, (sw0 - sw) / 2, (sh0 - sh) / 2, sw, sh, 0, 0, width, height);
}
