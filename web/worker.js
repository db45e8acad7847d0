// The page's Worker: the module above analyses here, so that the page
// stays responsive. Messages: {type: "analyse", id, args, inputs} and
// {type: "check", id, args}; answers: "ready" (the options), "progress",
// "result", "checked". A take from the microphone is kept here too:
// "take-start" {rate, name}, "take-chunk" {samples: Int16Array}, "take-live"
// {id, args} (answer "live") and "take-stop" {id} (answer "take": the WAVE
// file as a Blob); "take-full" {seconds} says that the take is as long as
// it may be.
/* global createToneprint */
"use strict";

let module = null;

function start() {
  return createToneprint().then((loaded) => {
    module = loaded;
    postMessage({ type: "ready", options: loaded.options(), version: loaded.version() });
  });
}
let loading = start();

// The take: 16-bit samples in the chunks they came in (an hour is never one
// huge array), and what the live display has decided of it. `from` is where
// the open part starts: the take's start, or where the tone loop goes on
// after a decided tone's closing silence.
let take = null;

// The longest take kept: 2^29 samples, 1 GiB, over three hours at 48000 Hz.
// Past it a take is stopped rather than left to exhaust the browser's memory.
const longestTake = 2 ** 29;

function takeSamples(from) {
  const parts = [];
  let at = 0;
  for (const chunk of take.chunks) {
    const end = at + chunk.length;
    if (end > from) parts.push(from > at ? chunk.subarray(from - at) : chunk);
    at = end;
  }
  return parts;
}

// A mono 16-bit PCM WAVE file's header for `frames` samples at `rate`.
function waveHeader(frames, rate) {
  const header = new DataView(new ArrayBuffer(44));
  const text = (at, word) => { for (let i = 0; i < 4; ++i) header.setUint8(at + i, word.charCodeAt(i)); };
  text(0, "RIFF");
  header.setUint32(4, 36 + frames * 2, true);
  text(8, "WAVE");
  text(12, "fmt ");
  header.setUint32(16, 16, true);
  header.setUint16(20, 1, true);  // PCM
  header.setUint16(22, 1, true);
  header.setUint32(24, rate, true);
  header.setUint32(28, rate * 2, true);
  header.setUint16(32, 2, true);
  header.setUint16(34, 16, true);
  text(36, "data");
  header.setUint32(40, frames * 2, true);
  return new Uint8Array(header.buffer);
}

// The open part analysed; each tone whose closing silence lies whole in it
// is decided (more samples cannot change it), and the open part then starts
// where the tone loop reads on, after that silence.
function live(args) {
  const parts = takeSamples(take.from);
  const frames = take.length - take.from;
  const bytes = new Uint8Array(44 + frames * 2);
  bytes.set(waveHeader(frames, take.rate));
  let at = 44;
  for (const part of parts) {
    bytes.set(new Uint8Array(part.buffer, part.byteOffset, part.byteLength), at);
    at += part.byteLength;
  }
  const answer = module.analyseLive(args, { name: take.name, bytes }, take.from);
  const decided = [];
  const rows = answer.csv.split("\n").filter((line) => line !== "");
  const end = take.length;
  let tone = 0;
  for (; tone < answer.tones.length; ++tone) {
    const resume = answer.tones[tone].end + answer.silence + 1;
    if (answer.status !== 0 || resume > end) break;
    decided.push(rows[tone + 1]);
    take.from = resume;
  }
  if (answer.tones.length === 0 && answer.status === 0) {
    // No tone yet: the quiet before the first loud sample can be dropped,
    // since the tone loop only looks for that sample there.
    let first = -1;
    for (let i = 0, base = take.from; i < parts.length && first < 0; base += parts[i].length, ++i) {
      const index = parts[i].findIndex((sample) => Math.abs(sample) > answer.threshold);
      if (index >= 0) first = base + index;
    }
    take.from = first < 0 ? end : first;
  }
  // Chunks wholly before the open part stay for the saved file.
  const open = tone < answer.tones.length ? rows[tone + 1] : null;
  return {
    header: rows[0] || "", decided, open, status: answer.status, errors: answer.errors,
    pass: open ? answer.pass : null,
  };
}

onmessage = async (event) => {
  await loading;
  const { type, id, args } = event.data;
  if (type === "take-start") {
    take = { rate: event.data.rate, name: event.data.name, chunks: [], length: 0, from: 0 };
    return;
  }
  if (type === "take-chunk") {
    if (take && take.length + event.data.samples.length > longestTake) {
      if (!take.full) postMessage({ type: "take-full", seconds: take.length / take.rate });
      take.full = true;
    } else if (take) {
      take.chunks.push(event.data.samples);
      take.length += event.data.samples.length;
    }
    return;
  }
  if (type === "take-live") {
    try {
      postMessage({ type: "live", id, live: take && take.length > take.from ? live(args) : null });
    } catch (error) {
      postMessage({ type: "live", id, live: null, error: String(error && error.message ? error.message : error) });
      loading = start();
    }
    return;
  }
  if (type === "take-stop") {
    const done = take;
    take = null;
    const blob = done ? new Blob([waveHeader(done.length, done.rate), ...done.chunks], { type: "audio/wav" }) : null;
    postMessage({ type: "take", id, blob, frames: done ? done.length : 0 });
    return;
  }
  if (type === "check") {
    postMessage({ type: "checked", id, error: module.check(args) });
    return;
  }
  let last = 0;
  const progress = (index, read, frames) => {
    const now = Date.now();
    if (now - last < 100) return;
    last = now;
    postMessage({ type: "progress", id, index, read, frames });
  };
  try {
    const started = performance.now();
    const result = module.analyse(args, event.data.inputs, progress);
    // The module's own time, for timing it apart from the page's drawing.
    result.seconds = (performance.now() - started) / 1000;
    postMessage({ type: "result", id, result });
  } catch (error) {
    // A module that stopped (no more memory) is started afresh for the next files.
    postMessage({ type: "failed", id, error: String(error && error.message ? error.message : error) });
    loading = start();
  }
};
