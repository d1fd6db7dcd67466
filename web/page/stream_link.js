// The phone's side of the stream protocol, spoken over the bridge's WebSocket.
// Every message goes out as one binary WebSocket message; the PC's bytes come
// back in pieces of any size and are put together again here.

export const MAGIC = 0xdeadc0de;
export const HEADER_SIZE = 16;
export const MSG_FRAME = 0x20002;
export const MSG_SELECT_FORMAT = 0x20003;
export const MSG_ALIVE = 0x20005;
export const MAX_MESSAGE = 200000;
export const FRAME_SUBHEADER_SIZE = 12;
export const MAX_TABLE_ENTRIES = 40;
const TABLE_PAYLOAD = 336;
// A table with this mode is taken as sent, entry 0 included.
const TABLE_MODE = 3;

// Until the PC has chosen a format the table goes out twice a second; after
// that the same message is the sign of life, since its payload is not read
// then. Should the PC ever be back at waiting for a table, it gets one. The
// PC gives up after 2.5 s of silence, so a timer the browser delays (a busy
// or hidden page) still leaves room.
const ALIVE_INTERVAL_MS = 500;
// The PC sends a keep-alive every 500 ms once it has chosen a format: this
// much silence means the link is gone even if the socket looks open.
const PC_SILENCE_MS = 3000;
// Waits between connection attempts: short first (a PC that drops the link
// to renegotiate the size expects the phone straight back), then growing.
const RETRY_FIRST_MS = 200;
const RETRY_LONGEST_MS = 3000;
// A connection or a look at the page that takes longer has gone astray (a
// network that vanished mid-way drops packets rather than refusing).
const ATTEMPT_LIMIT_MS = 5000;
const IN_USE_RETRY_MS = 3000;
// A refused token stays refused until the PC shows a new one; looking again
// now and then costs little and spares the user a reload after a mistake.
const REFUSED_RETRY_MS = 10000;
// Refusals in a row before the page says so: one may be a bridge that was
// just starting, or a burst of tries used up.
const REFUSALS_SHOWN = 3;

function putHeader(view, session, type, length) {
  view.setUint32(0, MAGIC, true);
  view.setUint32(4, session, true);
  view.setUint32(8, type, true);
  view.setUint32(12, length, true);
}

// The 352-byte table message: header, mode, two words the PC carries
// unread, the entry count, then 40 entries of a packed width/height word and
// a float frame rate. formats: [{width, height, fps}], at most 40.
export function tableMessage(session, formats) {
  const bytes = new Uint8Array(HEADER_SIZE + TABLE_PAYLOAD);
  const view = new DataView(bytes.buffer);
  putHeader(view, session, MSG_ALIVE, TABLE_PAYLOAD);
  const count = Math.min(formats.length, MAX_TABLE_ENTRIES);
  view.setUint32(16, TABLE_MODE, true);
  view.setUint32(28, count, true);
  for (let i = 0; i < count; i++) {
    const f = formats[i];
    view.setUint32(32 + 8 * i, (f.width & 0xfff) | ((f.height & 0xfff) << 12), true);
    view.setFloat32(36 + 8 * i, f.fps, true);
  }
  return bytes;
}

// The JPEG's start marker followed by a comment segment that carries the
// frame counter, so that a reader on the PC can count frames lost on the way.
const COUNTER_PREFIX = [0xff, 0xd8, 0xff, 0xfe, 0x00, 0x0a, 0x4f, 0x56, 0x58, 0x46];
const COUNTER_PREFIX_SIZE = COUNTER_PREFIX.length + 4;
// The largest JPEG (with its own start marker) that still fits one message.
export const MAX_JPEG = MAX_MESSAGE - HEADER_SIZE - FRAME_SUBHEADER_SIZE - COUNTER_PREFIX_SIZE + 2;

// A frame message around an encoded picture: header, the sub-header (flags,
// stamp, frame counter), then the JPEG with the counter's comment put in
// behind its start marker. null when the JPEG is too big for a message.
export function frameMessage(session, stamp, counter, jpeg) {
  if (jpeg.length > MAX_JPEG || jpeg[0] !== 0xff || jpeg[1] !== 0xd8) return null;
  const payload = FRAME_SUBHEADER_SIZE + COUNTER_PREFIX_SIZE + jpeg.length - 2;
  const bytes = new Uint8Array(HEADER_SIZE + payload);
  const view = new DataView(bytes.buffer);
  putHeader(view, session, MSG_FRAME, payload);
  view.setUint32(16, 0, true);
  view.setUint32(20, stamp >>> 0, true);
  view.setUint32(24, counter >>> 0, true);
  const at = HEADER_SIZE + FRAME_SUBHEADER_SIZE;
  bytes.set(COUNTER_PREFIX, at);
  view.setUint32(at + COUNTER_PREFIX.length, counter >>> 0, true);
  bytes.set(jpeg.subarray(2), at + COUNTER_PREFIX_SIZE);
  return bytes;
}

// Puts the PC's messages together from the pieces they arrive in. The PC
// sends only 16- and 20-byte messages; a header that claims more is not one
// of them, so its magic is skipped and the search goes on.
export class Reassembler {
  constructor(onMessage) {
    this.onMessage = onMessage;   // (type, session, payload DataView)
    this.buffer = new Uint8Array(4096);
    this.fill = 0;
  }

  reset() {
    this.fill = 0;
  }

  push(piece) {
    let offset = 0;
    while (offset < piece.length) {
      const n = Math.min(piece.length - offset, this.buffer.length - this.fill);
      this.buffer.set(piece.subarray(offset, offset + n), this.fill);
      this.fill += n;
      offset += n;
      this.drain();
    }
  }

  drain() {
    const view = new DataView(this.buffer.buffer);
    let at = 0;
    for (;;) {
      while (at + 4 <= this.fill && view.getUint32(at, true) !== MAGIC) at++;
      if (at + 4 > this.fill) {
        // Up to three bytes may be the start of a magic still arriving.
        at = Math.max(at, this.fill - 3, 0);
        break;
      }
      if (this.fill - at < HEADER_SIZE) break;
      const length = view.getUint32(at + 12, true);
      if (length > this.buffer.length - HEADER_SIZE) {
        at += 4;
        continue;
      }
      if (this.fill - at < HEADER_SIZE + length) break;
      this.onMessage(view.getUint32(at + 8, true), view.getUint32(at + 4, true),
                     new DataView(this.buffer.buffer, at + HEADER_SIZE, length));
      at += HEADER_SIZE + length;
    }
    this.buffer.copyWithin(0, at, this.fill);
    this.fill -= at;
  }
}

// One WebSocket to the bridge at a time, opened again after every loss.
// Events for the page: state(name) with name one of "connecting",
// "waiting", "reconnecting", "in use", "refused"; select(index) when the PC
// chooses a format; down() when a link that had a format ends.
export class StreamLink {
  constructor(url, probeUrl, events) {
    this.url = url;
    this.probeUrl = probeUrl;
    this.events = events;
    this.table = null;
    this.session = (Math.random() * 0x100000000) >>> 0;
    this.socket = null;
    this.selected = -1;
    this.lastHeard = 0;
    this.retryMs = RETRY_FIRST_MS;
    this.retryTimer = 0;
    this.aliveTimer = 0;
    this.stopped = true;
    this.failing = false;   // the last attempt failed: say "reconnecting", not "connecting"
    this.refusals = 0;      // upgrades refused in a row by a bridge that serves the page
    this.losses = [];       // "ms:code reason" of each socket that ended, for a look from outside
    this.reassembler = new Reassembler((type, session, payload) =>
      this.onMessage(type, payload));
  }

  // formats: the table to offer. A different table while linked makes a new
  // link, since the PC reads the table only at the start of one.
  start(formats) {
    const table = tableMessage(this.session, formats);
    const changed = this.table && !sameBytes(this.table, table);
    this.table = table;
    if (this.stopped) {
      this.stopped = false;
      this.connect();
    } else if (changed && this.socket) {
      this.drop(0);
    }
  }

  stop() {
    this.stopped = true;
    clearTimeout(this.retryTimer);
    this.close();
  }

  isOpen() {
    return this.socket !== null && this.socket.readyState === WebSocket.OPEN;
  }

  bufferedAmount() {
    return this.socket ? this.socket.bufferedAmount : Infinity;
  }

  send(bytes) {
    if (!this.isOpen()) return false;
    this.socket.send(bytes);
    return true;
  }

  connect() {
    clearTimeout(this.retryTimer);
    if (this.stopped) return;
    if (!this.failing) this.events.state("connecting");
    const socket = new WebSocket(this.url);
    socket.binaryType = "arraybuffer";
    let opened = false;
    this.socket = socket;
    const limit = setTimeout(() => {
      if (socket === this.socket && !opened) socket.onclose({ code: 0, reason: "no answer" });
    }, ATTEMPT_LIMIT_MS);
    socket.onopen = () => {
      opened = true;
      clearTimeout(limit);
      this.failing = false;
      this.refusals = 0;
      this.selected = -1;
      this.reassembler.reset();
      this.lastHeard = performance.now();
      this.events.state("waiting");
      this.sendAlive();
      this.aliveTimer = setInterval(() => this.tick(), ALIVE_INTERVAL_MS);
    };
    socket.onmessage = (e) => {
      if (socket !== this.socket) return;
      this.lastHeard = performance.now();
      if (e.data instanceof ArrayBuffer) this.reassembler.push(new Uint8Array(e.data));
    };
    socket.onclose = (e) => {
      clearTimeout(limit);
      if (socket !== this.socket) return;
      this.losses.push(`${Math.round(performance.now())}:${e.code}${e.reason ? ` ${e.reason}` : ""}`);
      this.close();
      if (!opened) this.refusedOrUnreachable();
      else this.retryAfter(this.retryMs);
    };
  }

  tick() {
    if (this.selected >= 0 && performance.now() - this.lastHeard > PC_SILENCE_MS) {
      this.losses.push(`${Math.round(performance.now())}:PC silent`);
      this.drop(RETRY_FIRST_MS);
      return;
    }
    this.sendAlive();
  }

  sendAlive() {
    if (this.table) this.send(this.table);
  }

  onMessage(type, payload) {
    if (type !== MSG_SELECT_FORMAT || payload.byteLength < 4) return;
    const index = payload.getUint32(0, true);
    // A link that got as far as a format proves the way there: the next loss
    // is tried again at once.
    this.retryMs = RETRY_FIRST_MS;
    if (index === this.selected) return;
    this.selected = index;
    this.events.select(index);
  }

  // An upgrade that never happened. The page itself is served whatever the
  // token, unless another phone holds the link: so a page that loads while
  // the upgrade keeps failing means the token (or too many tries) was
  // refused, and no page at all means the PC is out of reach.
  async refusedOrUnreachable() {
    let status = 0;
    try {
      const r = await fetch(this.probeUrl, {
        cache: "no-store",
        signal: AbortSignal.timeout ? AbortSignal.timeout(ATTEMPT_LIMIT_MS) : undefined,
      });
      status = r.status;
    } catch (e) {
      status = 0;
    }
    if (this.stopped) return;
    if (status === 409) {
      this.failing = true;
      this.refusals = 0;
      this.events.state("in use");
      this.retryTimer = setTimeout(() => this.connect(), IN_USE_RETRY_MS);
    } else if (status === 200 && ++this.refusals >= REFUSALS_SHOWN) {
      this.failing = true;
      this.events.state("refused");
      this.retryTimer = setTimeout(() => this.connect(), REFUSED_RETRY_MS);
    } else {
      if (status !== 200) this.refusals = 0;
      this.retryAfter(this.retryMs);
    }
  }

  retryAfter(ms) {
    if (this.stopped) return;
    this.failing = true;
    this.events.state("reconnecting");
    // A little spread, so that a restarted PC is not met by every retry at once.
    this.retryTimer = setTimeout(() => this.connect(), ms * (0.8 + 0.4 * Math.random()));
    this.retryMs = Math.min(this.retryMs * 2, RETRY_LONGEST_MS);
  }

  drop(retryMs) {
    this.close();
    this.retryAfter(retryMs);
  }

  close() {
    clearInterval(this.aliveTimer);
    const socket = this.socket;
    this.socket = null;
    const hadFormat = this.selected >= 0;
    this.selected = -1;
    if (socket) {
      socket.onopen = socket.onmessage = socket.onclose = null;
      try { socket.close(); } catch (e) { /* already closed */ }
    }
    if (hadFormat) this.events.down();
  }
}

function sameBytes(a, b) {
  if (a.length !== b.length) return false;
  for (let i = 0; i < a.length; i++) if (a[i] !== b[i]) return false;
  return true;
}
