// Recording in the page, with Chromium's fake microphone playing the demo
// once: the demo's tones must appear as the take goes on, the take analysed
// when recording stops must give the demo's notes and cents, and the saved
// take must give, through toneprint-batch, the page's table digit for digit.
// Also: a microphone that cannot be had gives one line and leaves the page
// working, and damaged stored settings fall back to the defaults.
// Run by tools/web.sh --test, after the page and toneprint-batch are built.
"use strict";

const { spawnSync } = require("child_process");
const fs = require("fs");
const os = require("os");
const path = require("path");
const puppeteer = require("puppeteer-core");
const { check, finish } = require("./checks.cjs");

const root = path.resolve(__dirname, "../..");
const batch = path.join(root, "build/release/toneprint-batch");
// TONEPRINT_PAGE_URL names the page served over http, where the capture is
// an AudioWorklet; opened from the disk, Chromium refuses the worklet's
// module and the page captures through a ScriptProcessorNode.
const pageUrl = process.env.TONEPRINT_PAGE_URL || "file://" + path.join(root, "build/web/index.html");
const served = pageUrl.startsWith("http");
const folder = fs.mkdtempSync(path.join(os.tmpdir(), "toneprint-record-"));
const demo = path.join(folder, "demo.wav");
fs.copyFileSync(path.join(root, "demo/demo.wav"), demo);

function nativeRows(file) {
  const run = spawnSync(batch, [path.basename(file)], { cwd: path.dirname(file), encoding: "utf8" });
  return run.stdout.split("\n").filter((line) => line !== "").map((line) => line.split(","));
}

// A 16-bit PCM WAVE file's samples (its first channel of one).
function waveSamples(bytes) {
  for (let at = 12; at + 8 <= bytes.length; at += 8 + bytes.readUInt32LE(at + 4) + (bytes.readUInt32LE(at + 4) & 1)) {
    if (bytes.toString("latin1", at, at + 4) === "data") {
      const data = bytes.subarray(at + 8, at + 8 + bytes.readUInt32LE(at + 4));
      return Int16Array.from({ length: data.length >> 1 }, (_, i) => data.readInt16LE(2 * i));
    }
  }
  return new Int16Array(0);
}

// Why the take is not the demo as the fake microphone should give it (from
// its first loud sample on, each sample within 1 of the file's, since the
// browser scales positive and negative samples a little differently), or
// empty when it is.
function samplesMissing(takeBytes, demoBytes) {
  const take = waveSamples(takeBytes), demo = waveSamples(demoBytes);
  const loud = (samples) => samples.findIndex((sample) => Math.abs(sample) > 1000);
  const [t, d] = [loud(take), loud(demo)];
  if (t < 0 || d < 0) return "no loud sample in the take";
  const length = Math.min(take.length - t, demo.length - d);
  if (length < demo.length - d - 4410) return "the take ends early";
  for (let i = 0; i < length; ++i) {
    if (Math.abs(take[t + i] - demo[d + i]) > 1) return "the take departs from the demo at " + (d + i);
  }
  return "";
}


const tableRows = () => [...document.querySelectorAll("#tones tr")].map((tr) =>
  [...tr.children].map((cell) => cell.textContent));

(async () => {
  const expected = nativeRows(demo);
  const column = (name) => expected[0].indexOf(name);
  const errors = [];
  let browser = null, page = null;
  // A browser whose fake microphone plays the demo once, then silence, and
  // the page in it.
  const launch = async () => {
    if (browser) await browser.close();
    browser = await puppeteer.launch({
      executablePath: "/usr/bin/chromium",
      headless: true,
      args: ["--no-sandbox", "--use-fake-ui-for-media-stream", "--use-fake-device-for-media-stream",
        "--use-file-for-fake-audio-capture=" + demo + "%noloop",
        "--autoplay-policy=no-user-gesture-required"],
    });
    page = await browser.newPage();
    page.on("pageerror", (error) => errors.push(String(error)));
    await page.goto(pageUrl);
    await ready();
  };
  const ready = () => page.waitForFunction(
    () => document.getElementById("status").textContent.startsWith("Ready"), { timeout: 60000 });
  const started = Date.now();
  try {
    await launch();

    // Damaged stored settings: the page still builds its form, with defaults.
    await page.evaluate(() => localStorage.setItem("toneprint-settings", "{not json"));
    await page.reload();
    await ready();
    const form = await page.evaluate(() => ({
      inputs: document.querySelectorAll("#settings input").length,
      threshold: document.querySelector("#settings input[name='--threshold']").value,
    }));
    check("damaged stored settings give the default form", form.inputs > 10 && form.threshold === "",
      JSON.stringify(form));

    // A microphone that cannot be had: one line, and the button works again.
    const refusals = [
      { error: "NotAllowedError", says: "permission was denied" },
      { error: "NotFoundError", says: "No microphone was found" },
    ];
    for (const refusal of refusals) {
      const shown = await page.evaluate(async (name) => {
        const real = navigator.mediaDevices.getUserMedia;
        navigator.mediaDevices.getUserMedia = () => Promise.reject(new DOMException("refused", name));
        document.getElementById("record").click();
        await new Promise((resolve) => setTimeout(resolve, 200));
        navigator.mediaDevices.getUserMedia = real;
        const button = document.getElementById("record");
        return { line: document.getElementById("record-status").textContent, label: button.textContent,
          disabled: button.disabled };
      }, refusal.error);
      check(refusal.error + " is said in one line and recording can be tried again",
        shown.line.includes(refusal.says) && !shown.line.includes("\n") && shown.label === "Record" &&
          !shown.disabled, JSON.stringify(shown));
    }

    // The take: live rows as the tones are decided, and the live note
    // meanwhile. The fake microphone skips ahead when its thread runs late
    // (a busy machine), which cuts samples out of the take; such a take is
    // not the demo, and is recorded again, in a new browser (whose fake
    // microphone starts the file afresh).
    let live, notesSeen, final, take;
    for (let attempt = 1; ; ++attempt) {
      if (attempt > 1) await launch();
      await page.evaluate(() => {
        window.notesSeen = [];
        new MutationObserver(() => {
          const text = document.getElementById("live-note").textContent;
          if (text) window.notesSeen.push(text);
        }).observe(document.getElementById("live-note"), { childList: true, characterData: true, subtree: true });
      });
      await page.click("#record");
      await page.waitForFunction(() => document.getElementById("record").textContent === "Stop",
        { timeout: 20000 });
      const capture = await page.evaluate(() => recorder.capture.node.constructor.name);
      if (attempt === 1) {
        check("the take is captured by " + (served ? "an AudioWorklet" : "a ScriptProcessorNode"),
          capture === (served ? "AudioWorkletNode" : "ScriptProcessorNode"), capture);
      }
      // A take that lost samples may never show all the tones: it is
      // stopped all the same, and judged below.
      await page.waitForFunction((count) => document.querySelectorAll("#tones tbody tr").length >= count,
        { timeout: 30000 }, expected.length - 1).catch(() => {});
      live = await page.evaluate(tableRows);
      notesSeen = await page.evaluate(() => window.notesSeen);
      await page.click("#record");
      await page.waitForFunction(() => document.getElementById("status").textContent.startsWith("Done"),
        { timeout: 60000 });
      final = await page.evaluate(tableRows);
      take = await page.evaluate(async () => {
        const link = document.getElementById("take");
        const bytes = new Uint8Array(await (await fetch(link.href)).arrayBuffer());
        return { name: link.download, bytes: Array.from(bytes) };
      });
      const cut = samplesMissing(Buffer.from(take.bytes), fs.readFileSync(demo));
      if (cut === "" || attempt === 3) {
        check("the fake microphone gave the whole demo", cut === "", cut);
        break;
      }
      console.log("note: the fake microphone dropped samples (" + cut + "); recording again");
    }

    const notes = (rows) => rows.slice(1).map((row) => row[column("note")]);
    const demoNotes = notes(expected);
    check("the live rows are the demo's notes", JSON.stringify(notes(live)) === JSON.stringify(demoNotes),
      JSON.stringify(notes(live)));
    check("the live note showed the demo's notes",
      demoNotes.every((note) => notesSeen.some((seen) => seen.startsWith(note + " "))),
      JSON.stringify([...new Set(notesSeen)]));
    const centsApart = final.length !== expected.length ? Infinity : Math.max(...final.slice(1).map((row, i) =>
      Math.abs(Number(row[column("cents")]) - Number(expected[i + 1][column("cents")]))));
    check("the take's analysis gives the demo's notes, cents within 1",
      JSON.stringify(notes(final)) === JSON.stringify(demoNotes) && centsApart <= 1,
      JSON.stringify(final.slice(1).map((row) => [row[column("note")], row[column("cents")]])));
    check("the live rows are the whole take's rows", JSON.stringify(live) === JSON.stringify(final),
      JSON.stringify(live[1]) + " vs " + JSON.stringify(final[1]));

    // The saved take, through toneprint-batch, is the page's table.
    check("the take is named by its time", /^take-\d{8}-\d{6}\.wav$/.test(take.name), take.name);
    const saved = path.join(folder, take.name);
    fs.writeFileSync(saved, Buffer.from(take.bytes));
    const batchRows = nativeRows(saved);
    check("toneprint-batch's analysis of the saved take is the page's table",
      JSON.stringify(batchRows) === JSON.stringify(final),
      JSON.stringify(batchRows[1]) + " vs " + JSON.stringify(final[1]));
    check("no error in the page", errors.length === 0, errors.join("\n     "));
  } finally {
    if (browser) await browser.close();
    fs.rmSync(folder, { recursive: true, force: true });
  }
  console.log("record test: " + ((Date.now() - started) / 1000).toFixed(1) + " s");
  finish();
})().catch(finish);
