// The page's logic, checked without a browser (node): the table and frame
// messages byte for byte, the PC's messages put together from pieces of
// every size, with noise and false starts between them, and the camera's
// pacing of its encodes.
import assert from "node:assert/strict";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import url from "node:url";

// The page's modules are plain JavaScript with exports; node takes them as
// such only under a module's file name.
const here = path.dirname(url.fileURLToPath(import.meta.url));
async function importPage(name) {
  const copy = path.join(fs.mkdtempSync(path.join(os.tmpdir(), "ovalix-page-")), `${name}.mjs`);
  fs.copyFileSync(path.join(here, `../../web/page/${name}.js`), copy);
  const module = await import(copy);
  fs.rmSync(path.dirname(copy), { recursive: true });
  return module;
}
const { MAX_JPEG, MAX_MESSAGE, Reassembler, frameMessage, tableMessage } =
  await importPage("stream_link");

const hex = (bytes) => Buffer.from(bytes).toString("hex");

// The table: header (magic, session, MSG_ALIVE, 336), mode 3, two zero
// words, the count, then packed width | height << 12 and a float per entry.
{
  const t = tableMessage(0x0a1b2c3d, [
    { width: 1280, height: 720, fps: 30 },
    { width: 640, height: 480, fps: 15 },
  ]);
  assert.equal(t.length, 352);
  assert.equal(hex(t.subarray(0, 32)),
    "dec0adde" + "3d2c1b0a" + "05000200" + "50010000" + "03000000" + "00000000" + "00000000" +
    "02000000");
  assert.equal(hex(t.subarray(32, 48)), "00052d00" + "0000f041" + "80021e00" + "00007041");
  assert.ok(t.subarray(48).every((b) => b === 0));
  // Never more than the table's 40 entries.
  const many = tableMessage(0, Array.from({ length: 50 }, () => ({ width: 320, height: 240, fps: 30 })));
  assert.equal(many.length, 352);
  assert.equal(new DataView(many.buffer).getUint32(28, true), 40);
}

// A frame: header, flags 0, stamp, counter, then the JPEG with the counter's
// comment behind its start marker; a JPEG too big for one message is refused.
{
  const jpeg = Uint8Array.from([0xff, 0xd8, 0xff, 0xdb, 1, 2, 3, 0xff, 0xd9]);
  const m = frameMessage(7, 0x1_0000_0005, 0x01020304, jpeg);
  assert.equal(hex(m.subarray(0, 28)),
    "dec0adde" + "07000000" + "02000200" + "21000000" + "00000000" + "05000000" + "04030201");
  assert.equal(hex(m.subarray(28)),
    "ffd8fffe000a" + Buffer.from("OVXF").toString("hex") + "04030201" + "ffdb010203ffd9");
  assert.equal(m.length - 16, new DataView(m.buffer).getUint32(12, true));
  const biggest = new Uint8Array(MAX_JPEG);
  biggest.set([0xff, 0xd8]);
  assert.equal(frameMessage(0, 0, 0, biggest).length, MAX_MESSAGE);
  const tooBig = new Uint8Array(MAX_JPEG + 1);
  tooBig.set([0xff, 0xd8]);
  assert.equal(frameMessage(0, 0, 0, tooBig), null);
  assert.equal(frameMessage(0, 0, 0, Uint8Array.from([1, 2, 3])), null);
}

// The PC's stream: a keep-alive and a format request (the bytes written out
// for a session word of 0 and index 2), noise holding half a magic, and a
// header claiming a length no PC message has. Fed whole, byte by byte and in
// pieces of every size up to 40, it yields the same two messages.
{
  const alive = "dec0adde000000000500020000000000";
  const select = "dec0adde00000000030002000400000002000000";
  const stream = Buffer.from("5a" + "c0adde" + alive + "0102" + "dec0adde00000000030002000000f000" +
    select + "dec0", "hex");
  for (let piece = 1; piece <= 40; piece++) {
    const got = [];
    const r = new Reassembler((type, session, payload) =>
      got.push([type, session, payload.byteLength ? payload.getUint32(0, true) : null]));
    for (let at = 0; at < stream.length; at += piece)
      r.push(new Uint8Array(stream.subarray(at, at + piece)));
    assert.deepEqual(got, [[0x20005, 0, null], [0x20003, 0, 2]], `pieces of ${piece}`);
  }
}

// The camera encodes one picture at a time: pictures that come meanwhile
// are not encoded beside it; the newest of them waits and is encoded as
// soon as the encode ends, stamped when it came, not when it was taken.
{
  const encodes = [];   // the resolve of each encode under way
  globalThis.OffscreenCanvas = class {
    getContext() { return { drawImage() {} }; }
    convertToBlob() { return new Promise((resolve) => encodes.push(resolve)); }
  };
  let clock = 1000;
  Object.defineProperty(globalThis, "performance",
    { value: { timeOrigin: 0, now: () => clock }, configurable: true });
  let frameCallback = null;
  const video = { srcObject: null, videoWidth: 1280, videoHeight: 720,
                  requestVideoFrameCallback(cb) { frameCallback = cb; } };
  const { Camera } = await importPage("camera");
  const camera = new Camera(video, MAX_JPEG);
  await camera.configure(1280, 720);
  const sent = [];
  camera.onPicture = (stamp, jpeg) => sent.push([stamp, jpeg.length]);
  camera.start();
  const picture = (at) => { clock = at; frameCallback(); };
  const encoded = async (bytes) => {
    encodes.shift()(new Blob([new Uint8Array(bytes)]));
    for (let i = 0; i < 10; i++) await Promise.resolve();
  };

  picture(1000);
  picture(1033);
  picture(1066);
  assert.equal(encodes.length, 1, "a second encode started beside the first");
  clock = 1080;
  await encoded(100);
  assert.deepEqual(sent, [[1000, 100]]);
  assert.equal(encodes.length, 1, "the picture that waited was not taken when the encode ended");
  await encoded(200);
  assert.deepEqual(sent, [[1000, 100], [1066, 200]]);
  assert.equal(encodes.length, 0);
  assert.equal(camera.stats.busy, 1);
  picture(1100);
  assert.equal(encodes.length, 1, "no encode after the waiting one was done");
}

console.log("page: table, frame and reassembly bytes, and the camera's pacing as expected");
