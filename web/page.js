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
    options = data.options;
    buildForm();
    $("status").textContent = "Ready. " + data.version.split("\n")[0] + ".";
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

// The settings form, from the module's description of the options.
function buildForm() {
  const form = $("settings");
  form.replaceChildren();
  const stored = JSON.parse(localStorage.getItem(storageKey) || "{}");
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
  const table = $("tones");
  table.replaceChildren();
  const rows = parseCsv(csv);
  if (rows.length === 0) return;
  const head = table.createTHead().insertRow();
  for (const name of rows[0]) {
    const th = document.createElement("th");
    th.scope = "col";
    th.textContent = name;
    head.append(th);
  }
  const body = table.createTBody();
  for (const cells of rows.slice(1)) {
    const tr = body.insertRow();
    for (const cell of cells) tr.insertCell().textContent = cell;
  }
}

function offer(id, text, type) {
  const url = URL.createObjectURL(new Blob([text], { type }));
  downloads.push(url);
  $(id).href = url;
}

async function analyse(files) {
  if (files.length === 0 || running) return;
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
    (result.status === 0 ? "." : " (see the messages below).");
}

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
