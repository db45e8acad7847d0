// The page: recordings in, toneprint-batch's results out. The analysis runs
// in a Worker started from the script text that worker-source.js holds (a
// page opened from a file cannot start one from a URL).
/* global toneprintWorkerSource */
"use strict";

const storageKey = "toneprint-settings";
// toneprint-batch's options that a page has no use for: it reads the files
// it is given, writes every format at once, and analyses one at a time.
const notInPage = new Set(["RECORDING", "--recursive", "--output", "--format", "--force",
  "--jobs", "--quiet", "--version", "--help"]);

const $ = (id) => document.getElementById(id);
const worker = new Worker(URL.createObjectURL(
  new Blob([toneprintWorkerSource], { type: "text/javascript" })));
let options = [];
let nextId = 1;
const waiting = new Map();
let running = null;
const downloads = [];

function ask(message) {
  const id = nextId++;
  return new Promise((resolve) => {
    waiting.set(id, resolve);
    worker.postMessage({ ...message, id }, message.transfer || []);
  });
}

worker.onmessage = (event) => {
  const data = event.data;
  if (data.type === "ready") {
    // Again after the module stopped and was started afresh: the page, its
    // form and the message that says why stay as they are.
    if (options.length > 0) return;
    options = data.options;
    buildForm();
    $("status").textContent = "Ready. " + data.version.split("\n")[0] + ".";
    $("record").disabled = false;
    return;
  }
  if (data.type === "take-full") {
    if (recorder) {
      stopRecording();
      $("record-status").textContent = "The take was stopped at " + Math.round(data.seconds / 60) +
        " minutes, the longest the page keeps.";
    }
    return;
  }
  if (data.type === "progress") {
    if (running && data.frames > 0) {
      $("progress").value = (data.index + data.read / data.frames) / running.count;
    }
    return;
  }
  const resolve = waiting.get(data.id);
  waiting.delete(data.id);
  if (resolve) resolve(data);
};

// The settings the page remembered, or none where what is stored is not an
// object of them (another version's, or damaged): the defaults then.
function storedSettings() {
  try {
    const stored = JSON.parse(localStorage.getItem(storageKey) || "{}");
    return stored !== null && typeof stored === "object" && !Array.isArray(stored) ? stored : {};
  } catch {
    return {};
  }
}

// The settings form, from the module's description of the options.
function buildForm() {
  const form = $("settings");
  form.replaceChildren();
  const stored = storedSettings();
  const groups = new Map();
  for (const option of options) {
    if (option.positional || notInPage.has(option.name)) continue;
    if (!groups.has(option.group)) {
      const fieldset = document.createElement("fieldset");
      const legend = document.createElement("legend");
      legend.textContent = option.group;
      fieldset.append(legend);
      form.append(fieldset);
      groups.set(option.group, fieldset);
    }
    const row = document.createElement("div");
    row.className = "option";
    const label = document.createElement("label");
    const id = "option" + option.name.replace(/[^a-z0-9]/gi, "-");
    label.htmlFor = id;
    label.textContent = option.name;
    const input = document.createElement("input");
    input.id = id;
    input.name = option.name;
    if (option.kind === "flag") {
      input.type = "checkbox";
      input.checked = stored[option.name] === true;
    } else {
      const numeric = option.kind === "N" || option.kind === "X";
      input.type = numeric ? "number" : "text";
      if (numeric) {
        input.step = option.kind === "N" ? "1" : "any";
        if (option.minimum !== undefined) input.min = option.minimum;
        if (option.maximum !== undefined) input.max = option.maximum;
      }
      input.placeholder = option.default;
      input.value = typeof stored[option.name] === "string" ? stored[option.name] : "";
    }
    input.addEventListener("change", settingsChanged);
    const help = document.createElement("small");
    help.textContent = option.help;
    row.append(label, input, help);
    groups.get(option.group).append(row);
  }
  settingsChanged();
}

// The options as toneprint-batch's arguments, and as they are remembered.
function settingsArgs() {
  const args = [];
  const kept = {};
  for (const input of $("settings").querySelectorAll("input")) {
    if (input.type === "checkbox") {
      if (input.checked) args.push(input.name);
      kept[input.name] = input.checked;
    } else if (input.value !== "") {
      args.push(input.name + "=" + input.value);
      kept[input.name] = input.value;
    }
  }
  return { args, kept };
}

async function settingsChanged() {
  const { args, kept } = settingsArgs();
  localStorage.setItem(storageKey, JSON.stringify(kept));
  const answer = await ask({ type: "check", args });
  $("settings-error").textContent = answer.error;
  placeThreshold();
  return answer.error === "";
}

$("reset").addEventListener("click", () => {
  localStorage.removeItem(storageKey);
  buildForm();
});

// The sample rate a compressed file was recorded at, where its header says
// so: the browser decodes at its context's rate, and a rate other than the
// file's would change the samples.
function recordedRate(bytes) {
  const text = (at, length) => String.fromCharCode(...bytes.subarray(at, at + length));
  if (text(0, 4) === "fLaC" && bytes.length > 20) {
    return (bytes[18] << 12) | (bytes[19] << 4) | (bytes[20] >> 4);
  }
  if (text(0, 4) === "OggS") {
    const head = text(0, Math.min(bytes.length, 200));
    const vorbis = head.indexOf("\x01vorbis");
    if (vorbis >= 0) {
      const at = vorbis + 12;
      return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) | (bytes[at + 3] * 16777216);
    }
    if (head.includes("OpusHead")) return 48000;
  }
  let at = 0;
  if (text(0, 3) === "ID3" && bytes.length > 10) {
    at = 10 + ((bytes[6] & 127) << 21 | (bytes[7] & 127) << 14 | (bytes[8] & 127) << 7 | (bytes[9] & 127));
  }
  for (const end = Math.min(bytes.length - 3, at + 65536); at < end; ++at) {
    if (bytes[at] !== 0xff || (bytes[at + 1] & 0xe0) !== 0xe0) continue;
    const version = (bytes[at + 1] >> 3) & 3;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    const index = (bytes[at + 2] >> 2) & 3;
    if (version === 1 || index === 3) continue;
    return [44100, 48000, 32000][index] / (version === 3 ? 1 : version === 2 ? 2 : 4);
  }
  return null;
}

// One file as the module takes it: a WAVE file's bytes for its own reader,
// anything else as the samples the browser decoded. A file the browser
// cannot decode goes to the reader too, which says why it cannot.
async function readInput(file) {
  const buffer = await file.arrayBuffer();
  const bytes = new Uint8Array(buffer);
  const head = String.fromCharCode(...bytes.subarray(0, 12));
  if (head.startsWith("RIFF") || head.startsWith("RF64")) return { name: file.name, bytes };
  const rate = recordedRate(bytes);
  try {
    const context = new OfflineAudioContext(1, 1, rate || 48000);
    const audio = await context.decodeAudioData(buffer.slice(0));
    const channels = audio.numberOfChannels;
    const samples = new Float32Array(audio.length * channels);
    for (let c = 0; c < channels; ++c) {
      const data = audio.getChannelData(c);
      for (let i = 0; i < data.length; ++i) samples[i * channels + c] = data[i];
    }
    const decoder = "the browser's decodeAudioData at " + audio.sampleRate + " Hz" +
      (rate ? "" : " (the file's own rate unknown)");
    return { name: file.name, samples, rate: audio.sampleRate, channels, decoder };
  } catch {
    return { name: file.name, bytes };
  }
}

// toneprint-batch's CSV as rows of cells.
function parseCsv(text) {
  const rows = [];
  let row = [], cell = "", quoted = false;
  for (let i = 0; i < text.length; ++i) {
    const c = text[i];
    if (quoted) {
      if (c === "\"" && text[i + 1] === "\"") { cell += "\""; ++i; }
      else if (c === "\"") quoted = false;
      else cell += c;
    } else if (c === "\"") quoted = true;
    else if (c === ",") { row.push(cell); cell = ""; }
    else if (c === "\n") { row.push(cell); rows.push(row); row = []; cell = ""; }
    else if (c !== "\r") cell += c;
  }
  if (cell !== "" || row.length > 0) { row.push(cell); rows.push(row); }
  return rows;
}

function showTable(csv) {
  showRows(parseCsv(csv));
}

// The header's cells, then a row of cells per tone; and a card per tone.
function showRows(rows) {
  const table = $("tones");
  table.replaceChildren();
  showCards(rows);
  if (rows.length === 0) return;
  const head = table.createTHead().insertRow();
  for (const name of rows[0]) {
    const th = document.createElement("th");
    th.scope = "col";
    th.textContent = name;
    head.append(th);
  }
  const body = table.createTBody();
  const fundamental = rows[0].indexOf("h0");
  const note = rows[0].indexOf("note");
  const harmonic = rows[0].map((name) => /^h[0-9]+$/.test(name));
  for (const cells of rows.slice(1)) {
    const tr = body.insertRow();
    cells.forEach((cell, column) => {
      const td = tr.insertCell();
      td.textContent = cell;
      if (column === note) td.classList.add("note");
      if (harmonic[column]) drawBar(td, Number(cell), Number(cells[fundamental]));
    });
  }
}

const svgNs = "http://www.w3.org/2000/svg";

// Each tone at a glance, for someone at the bench: its note, how far it
// lies from its target, and its harmonics' levels relative to the
// fundamental as bars (0 to -60 dB), from the table's own cells.
function showCards(rows) {
  const cards = $("cards");
  cards.replaceChildren();
  if (rows.length < 2) return;
  const header = rows[0];
  const at = (name) => header.indexOf(name);
  const harmonics = header.map((name, column) => (/^h[0-9]+$/.test(name) ? column : -1))
    .filter((column) => column >= 0);
  const target = at("deviation_cents") >= 0 ? at("deviation_cents") : at("cents");
  const files = new Set(rows.slice(1).map((cells) => cells[at("file")]));
  for (const cells of rows.slice(1)) {
    const card = document.createElement("figure");
    card.className = "card";
    const note = document.createElement("div");
    note.className = "card-note";
    note.textContent = cells[at("note")] || "–";
    const cents = document.createElement("div");
    const deviation = Number(cells[target]);
    cents.className = "card-cents" + (cells[target] !== "" && Math.abs(deviation) > 5 ? " off" : "");
    cents.textContent = cells[target] === "" ? "too short" :
      (deviation > 0 ? "+" : "") + cells[target] + " ¢" +
      (at("expected_note") >= 0 ? " from " + cells[at("expected_note")] : "");
    const bars = document.createElementNS(svgNs, "svg");
    bars.setAttribute("viewBox", "0 0 " + harmonics.length * 10 + " 60");
    bars.setAttribute("preserveAspectRatio", "none");
    bars.setAttribute("class", "card-bars");
    const fundamental = Number(cells[at("h0")]);
    harmonics.forEach((column, k) => {
      const db = relativeDb(Number(cells[column]), fundamental);
      if (db === null) return;
      const height = Math.min(60, Math.max(0.5, db + 60));
      const bar = document.createElementNS(svgNs, "rect");
      bar.setAttribute("x", k * 10 + 1);
      bar.setAttribute("width", 8);
      bar.setAttribute("y", 60 - height);
      bar.setAttribute("height", height);
      const title = document.createElementNS(svgNs, "title");
      title.textContent = "h" + k + ": " + db.toFixed(1) + " dB";
      bar.append(title);
      bars.append(bar);
    });
    const caption = document.createElement("figcaption");
    caption.textContent = cells[at("frequency_hz")] + " Hz · " +
      (files.size > 1 ? cells[at("file")] + " " : "") + "at " +
      Number(cells[at("start_s")]).toFixed(1) + " s";
    card.append(note, cents, bars, caption);
    cards.append(card);
  }
}

// A harmonic's level in dB relative to the fundamental; null without both.
function relativeDb(amplitude, fundamental) {
  return amplitude > 0 && fundamental > 0 ? 20 * Math.log10(amplitude / fundamental) : null;
}

// A harmonic's cell holds a bar of its level relative to the fundamental,
// from -60 dB (empty) to 0 dB (full), so that a row reads as a spectrum; the
// cell's text stays the CSV's.
function drawBar(cell, amplitude, fundamental) {
  const db = relativeDb(amplitude, fundamental);
  if (db === null) return;
  const filled = Math.min(100, Math.max(0, (db + 60) / 60 * 100));
  cell.classList.add("bar");
  cell.style.setProperty("--level", filled.toFixed(1) + "%");
  cell.title = (db >= 0 ? "+" : "") + db.toFixed(1) + " dB re the fundamental";
}

function offer(id, text, type) {
  const url = URL.createObjectURL(new Blob([text], { type }));
  downloads.push(url);
  $(id).href = url;
}

let lastFiles = [];
let lastTake = false;

async function analyse(files, take = false) {
  if (files.length === 0 || running) return;
  lastFiles = files;
  lastTake = take;
  $("analyse").disabled = false;
  if (!(await settingsChanged())) {
    $("status").textContent = "The settings need a change first (see Settings).";
    $("settings-box").open = true;
    return;
  }
  running = { count: files.length };
  $("progress").hidden = false;
  $("progress").value = 0;
  $("status").textContent = "Reading " + files.length + " file" + (files.length === 1 ? "" : "s") + "…";
  try {
    const inputs = [];
    for (const file of files) inputs.push(await readInput(file));
    $("status").textContent = "Analysing…";
    const transfer = inputs.map((input) => (input.samples || input.bytes).buffer);
    const answer = await ask({ type: "analyse", args: settingsArgs().args, inputs, transfer });
    if (answer.type === "failed") {
      $("status").textContent = "The analysis stopped: " + answer.error;
      return;
    }
    showResult(answer.result);
  } finally {
    running = null;
    $("progress").hidden = true;
  }
}

function showResult(result) {
  $("results").hidden = false;
  $("status").dataset.seconds = result.seconds;
  $("inputs").replaceChildren(...result.inputs.map((input) => {
    const item = document.createElement("li");
    item.textContent = input.name + ": read by " + input.decoder;
    return item;
  }));
  $("errors").hidden = result.errors === "";
  $("errors").textContent = result.errors;
  showTable(result.csv);
  for (const url of downloads.splice(0)) URL.revokeObjectURL(url);
  offer("csv", result.csv, "text/csv");
  offer("json", result.json, "application/json");
  offer("html", result.html, "text/html");
  $("downloads").hidden = result.csv === "";
  $("report").srcdoc = result.html;
  const tones = Math.max(0, parseCsv(result.csv).length - 1);
  $("status").textContent = "Done: " + tones + " tone" + (tones === 1 ? "" : "s") +
    (result.status === 0 ? "." : " (see the messages below).") +
    (lastTake && tones === 0 && result.status === 0
      ? " The take has no tone: nothing held above the silence threshold long enough." : "");
}

$("analyse").addEventListener("click", () => analyse(lastFiles, lastTake));

$("open").addEventListener("change", (event) => {
  analyse([...event.target.files]);
  event.target.value = "";
});
document.addEventListener("dragover", (event) => {
  event.preventDefault();
  document.body.classList.add("dropping");
});
document.addEventListener("dragleave", () => document.body.classList.remove("dropping"));
document.addEventListener("drop", (event) => {
  event.preventDefault();
  document.body.classList.remove("dropping");
  analyse([...event.dataTransfer.files]);
});

// Recording at the bench: the microphone's first channel at the context's
// rate, as 16-bit samples (what the saved take holds, so that its analysis
// and the live one read the same values). The Worker keeps the take and,
// several times a second, analyses its open part: the tones whose closing
// silence is decided join the table, and the tone still sounding gives the
// live note.

// A block of samples (full scale 1.0) as 16-bit values, rounded and clipped.
function toSixteen(channel) {
  const out = new Int16Array(channel.length);
  let peak = 0;
  for (let i = 0; i < channel.length; ++i) {
    const value = Math.max(-32768, Math.min(32767, Math.round(channel[i] * 32768)));
    out[i] = value;
    peak = Math.max(peak, Math.abs(value));
  }
  return { samples: out, peak };
}

// The AudioWorklet that hands the samples on in blocks of 4096; "flush"
// sends what it holds. A page opened from a file cannot load a module from a
// URL, so it comes from a Blob of this text.
const captureSource = `${toSixteen.toString()}
class Capture extends AudioWorkletProcessor {
  constructor() {
    super();
    this.block = new Float32Array(4096);
    this.filled = 0;
    this.port.onmessage = () => { this.send(); this.port.postMessage({ flushed: true }); };
  }
  send() {
    if (this.filled === 0) return;
    const { samples, peak } = toSixteen(this.block.subarray(0, this.filled));
    this.port.postMessage({ samples, peak }, [samples.buffer]);
    this.filled = 0;
  }
  process(inputs) {
    const channel = inputs[0] && inputs[0][0];
    if (channel) {
      for (let i = 0; i < channel.length; ++i) {
        this.block[this.filled++] = channel[i];
        if (this.filled === this.block.length) this.send();
      }
    }
    return true;
  }
}
registerProcessor("toneprint-capture", Capture);
`;

// The options that the live analysis leaves out: the modes (some need the
// whole take, and they are applied when the take is analysed once
// recording stops) and the expected notes, counted from the take's start.
function liveArgs() {
  const modes = new Set(options.filter((option) => option.group === "Modes").map((option) => option.name));
  return settingsArgs().args.filter((arg) => {
    const name = arg.split("=")[0];
    return !modes.has(name) && name !== "--expect";
  });
}

// The silence threshold in dBFS: the form's value, else the analysis's
// default, in 16-bit sample units as the analysis takes it.
function thresholdDb() {
  const input = $("settings").querySelector("input[name='--threshold']");
  const option = options.find((o) => o.name === "--threshold");
  const given = Number(input && input.value !== "" ? input.value : NaN);
  const value = Number.isFinite(given) && given > 0 ? given : Number(option ? option.default : 3200);
  return 20 * Math.log10(value / 32768);
}

const meterFloor = -90;  // dBFS at the meter's left edge
const meterPlace = (db) => Math.max(0, Math.min(100, (db - meterFloor) / -meterFloor * 100)) + "%";
let recorder = null;
let takeUrl = null;

function takeName(now) {
  const two = (n) => String(n).padStart(2, "0");
  return "take-" + now.getFullYear() + two(now.getMonth() + 1) + two(now.getDate()) + "-" +
    two(now.getHours()) + two(now.getMinutes()) + two(now.getSeconds()) + ".wav";
}

function drawMeter() {
  if (!recorder) return;
  const db = recorder.peak > 0 ? 20 * Math.log10(recorder.peak / 32768) : -Infinity;
  recorder.peak = 0;
  $("meter-bar").style.width = meterPlace(db);
  $("meter-level").textContent = (db === -Infinity ? "−∞" : db.toFixed(1).replace("-", "−")) + " dBFS";
  placeThreshold();
}

// The silence threshold's line on the meter, from the settings as they are.
function placeThreshold() {
  const threshold = thresholdDb();
  $("meter-threshold").style.left = meterPlace(threshold);
  $("meter").title = "Peak level; the line is the silence threshold, " + threshold.toFixed(1) + " dBFS";
}

function captured(samples, peak) {
  if (!recorder) return;
  recorder.peak = Math.max(recorder.peak, peak);
  worker.postMessage({ type: "take-chunk", samples }, [samples.buffer]);
}

// The samples' way from the microphone to the page: an AudioWorklet, or a
// ScriptProcessorNode where a worklet cannot be loaded.
async function captureNode(context, source) {
  try {
    const url = URL.createObjectURL(new Blob([captureSource], { type: "text/javascript" }));
    await context.audioWorklet.addModule(url);
    URL.revokeObjectURL(url);
    const node = new AudioWorkletNode(context, "toneprint-capture");
    node.port.onmessage = (event) => {
      if (event.data.samples) captured(event.data.samples, event.data.peak);
    };
    source.connect(node);
    return {
      node,
      flush: () => new Promise((resolve) => {
        node.port.onmessage = (event) => {
          if (event.data.samples) captured(event.data.samples, event.data.peak);
          if (event.data.flushed) resolve();
        };
        node.port.postMessage("flush");
      }),
    };
  } catch {
    const node = context.createScriptProcessor(4096, 2, 1);
    node.onaudioprocess = (event) => {
      const { samples, peak } = toSixteen(event.inputBuffer.getChannelData(0));
      captured(samples, peak);
    };
    source.connect(node);
    return { node, flush: () => Promise.resolve() };
  }
}

// Why recording cannot start, as one line.
function microphoneProblem(error) {
  const name = error && error.name;
  if (name === "NotAllowedError" || name === "SecurityError") {
    return "The microphone may not be used: permission was denied (allow it in the browser's site settings).";
  }
  if (name === "NotFoundError" || name === "OverconstrainedError") return "No microphone was found.";
  if (name === "NotReadableError") return "The microphone is in use by another program or cannot be read.";
  return "The microphone could not be opened: " + (error && error.message ? error.message : String(error));
}

async function startRecording() {
  $("record-status").textContent = "";
  if (!window.isSecureContext || !navigator.mediaDevices || !navigator.mediaDevices.getUserMedia) {
    $("record-status").textContent = "Recording needs a secure page: open it from https://, localhost or a file.";
    return;
  }
  $("record").disabled = true;
  let stream = null, context = null;
  try {
    // Echo cancellation, noise suppression and gain control change the tone.
    stream = await navigator.mediaDevices.getUserMedia({
      audio: { echoCancellation: false, noiseSuppression: false, autoGainControl: false },
    });
    context = new AudioContext();
    const source = context.createMediaStreamSource(stream);
    const name = takeName(new Date());
    recorder = { stream, context, name, peak: 0, rows: [], header: null, timer: null };
    worker.postMessage({ type: "take-start", rate: context.sampleRate, name });
    const capture = await captureNode(context, source);
    // A node only runs while it leads to the output; this one adds nothing to it.
    const mute = context.createGain();
    mute.gain.value = 0;
    capture.node.connect(mute).connect(context.destination);
    recorder.capture = capture;
    recorder.meter = setInterval(drawMeter, 100);
    await context.resume();
  } catch (error) {
    if (stream) stream.getTracks().forEach((track) => track.stop());
    if (context) context.close();
    if (recorder) worker.postMessage({ type: "take-stop", id: 0 });
    recorder = null;
    $("record-status").textContent = microphoneProblem(error);
    $("record").disabled = false;
    return;
  }
  $("record").textContent = "Stop";
  $("record").classList.add("recording");
  $("record").disabled = false;
  $("live-note").textContent = "";
  $("results").hidden = false;
  $("tones").replaceChildren();
  // The last analysis's downloads and report are not the take's.
  $("downloads").hidden = true;
  $("report").srcdoc = "";
  $("status").textContent = "Recording " + recorder.name + " at " + recorder.context.sampleRate + " Hz…";
  liveTick(recorder);
}

// One look at the take's open part; the next follows its answer.
async function liveTick(take) {
  if (recorder !== take) return;
  const answer = await ask({ type: "take-live", args: liveArgs() });
  if (recorder !== take) return;
  const live = answer.live;
  if (live) {
    if (live.header) take.header = parseCsv(live.header)[0];
    for (const row of live.decided) {
      const cells = parseCsv(row)[0];
      cells[1] = String(take.rows.length + 1);  // the tone's number in the take
      take.rows.push(cells);
    }
    if (live.decided.length > 0) showRows([take.header, ...take.rows]);
    $("live-note").textContent = live.pass
      ? live.pass.note + " " + (live.pass.cents >= 0 ? "+" : "−") + Math.abs(live.pass.cents).toFixed(1) + " cents"
      : "";
    if (live.status !== 0) $("record-status").textContent = live.errors.trim();
  }
  take.timer = setTimeout(() => liveTick(take), 250);
}

async function stopRecording() {
  const take = recorder;
  $("record").disabled = true;
  await take.capture.flush();
  recorder = null;
  clearTimeout(take.timer);
  clearInterval(take.meter);
  take.stream.getTracks().forEach((track) => track.stop());
  take.context.close();
  $("record").textContent = "Record";
  $("record").classList.remove("recording");
  $("live-note").textContent = "";
  const answer = await ask({ type: "take-stop" });
  $("record").disabled = false;
  if (takeUrl) URL.revokeObjectURL(takeUrl);
  takeUrl = URL.createObjectURL(answer.blob);
  $("take").href = takeUrl;
  $("take").download = take.name;
  $("take").textContent = "Download " + take.name;
  $("take").hidden = false;
  if (answer.frames === 0) {
    $("status").textContent = "The take is empty: no sound came from the microphone.";
    return;
  }
  // The saved file, analysed as an opened one is.
  await analyse([new File([answer.blob], take.name, { type: "audio/wav" })], true);
}

$("record").addEventListener("click", () => (recorder ? stopRecording() : startRecording()));
