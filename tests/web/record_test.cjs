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

const root = path.resolve(__dirname, "../..");
const batch = path.join(root, "build/release/toneprint-batch");
const pageUrl = "file://" + path.join(root, "build/web/index.html");
const folder = fs.mkdtempSync(path.join(os.tmpdir(), "toneprint-record-"));
const demo = path.join(folder, "demo.wav");
fs.copyFileSync(path.join(root, "demo/demo.wav"), demo);

function nativeRows(file) {
  const run = spawnSync(batch, [path.basename(file)], { cwd: path.dirname(file), encoding: "utf8" });
  return run.stdout.split("\n").filter((line) => line !== "").map((line) => line.split(","));
}

let passed = 0, failed = 0;
function check(name, ok, detail) {
  if (ok) {
    ++passed;
    console.log("ok   " + name);
  } else {
    ++failed;
    console.log("FAIL " + name + (detail ? "\n     " + detail : ""));
  }
}

const tableRows = () => [...document.querySelectorAll("#tones tr")].map((tr) =>
  [...tr.children].map((cell) => cell.textContent));

(async () => {
  const expected = nativeRows(demo);
  const column = (name) => expected[0].indexOf(name);
  const browser = await puppeteer.launch({
    executablePath: "/usr/bin/chromium",
    headless: true,
    args: ["--no-sandbox", "--use-fake-ui-for-media-stream", "--use-fake-device-for-media-stream",
      // The fake device plays the file once, then silence.
      "--use-file-for-fake-audio-capture=" + demo + "%noloop",
      "--autoplay-policy=no-user-gesture-required"],
  });
  const started = Date.now();
  try {
    const page = await browser.newPage();
    const errors = [];
    page.on("pageerror", (error) => errors.push(String(error)));
    await page.goto(pageUrl);
    const ready = () => page.waitForFunction(
      () => document.getElementById("status").textContent.startsWith("Ready"), { timeout: 60000 });
    await ready();

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

    // The take: live rows as the tones are decided, and the live note meanwhile.
    await page.evaluate(() => {
      window.notesSeen = [];
      new MutationObserver(() => {
        const text = document.getElementById("live-note").textContent;
        if (text) window.notesSeen.push(text);
      }).observe(document.getElementById("live-note"), { childList: true, characterData: true, subtree: true });
    });
    await page.click("#record");
    await page.waitForFunction((count) => document.querySelectorAll("#tones tbody tr").length >= count,
      { timeout: 60000 }, expected.length - 1);
    const live = await page.evaluate(tableRows);
    const notesSeen = await page.evaluate(() => window.notesSeen);
    await page.click("#record");
    await page.waitForFunction(() => document.getElementById("status").textContent.startsWith("Done"),
      { timeout: 60000 });
    const final = await page.evaluate(tableRows);

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
    const take = await page.evaluate(async () => {
      const link = document.getElementById("take");
      const bytes = new Uint8Array(await (await fetch(link.href)).arrayBuffer());
      return { name: link.download, bytes: Array.from(bytes) };
    });
    check("the take is named by its time", /^take-\d{8}-\d{6}\.wav$/.test(take.name), take.name);
    const saved = path.join(folder, take.name);
    fs.writeFileSync(saved, Buffer.from(take.bytes));
    const batchRows = nativeRows(saved);
    check("toneprint-batch's analysis of the saved take is the page's table",
      JSON.stringify(batchRows) === JSON.stringify(final),
      JSON.stringify(batchRows[1]) + " vs " + JSON.stringify(final[1]));
    check("no error in the page", errors.length === 0, errors.join("\n     "));
  } finally {
    await browser.close();
    fs.rmSync(folder, { recursive: true, force: true });
  }
  console.log("record test: " + ((Date.now() - started) / 1000).toFixed(1) + " s");
  console.log(passed + " passed, " + failed + " failed");
  process.exit(failed === 0 ? 0 : 1);
})().catch((error) => {
  console.log(String(error && error.stack ? error.stack : error));
  console.log(passed + " passed, " + (failed + 1) + " failed");
  process.exit(1);
});
