// The page in headless Chromium, opened from the disk as a user opens it:
// its table must hold toneprint-batch's CSV of the same files, cell for
// cell; a hostile WAVE must get toneprint-batch's own refusal and leave the
// page working; and the page must fetch nothing but its own files.
// Run by tools/web.sh --test, after the page and toneprint-batch are built.
"use strict";

const { execFileSync, spawnSync } = require("child_process");
const fs = require("fs");
const os = require("os");
const path = require("path");
const puppeteer = require("puppeteer-core");
const { check, finish } = require("./checks.cjs");

const root = path.resolve(__dirname, "../..");
const batch = path.join(root, "build/release/toneprint-batch");
// TONEPRINT_PAGE names another copy of the page, such as an installed one.
const page_url =
  "file://" + path.resolve(process.env.TONEPRINT_PAGE || path.join(root, "build/web/index.html"));
const corpus = path.join(root, "tests/corpus/files");

// Each recording copied to one folder, so that the page and toneprint-batch
// see the same names.
const folder = fs.mkdtempSync(path.join(os.tmpdir(), "toneprint-web-"));
const copy = (from) => {
  const to = path.join(folder, path.basename(from));
  fs.copyFileSync(from, to);
  return to;
};
const demo = copy(path.join(root, "demo/demo.wav"));
const tone = copy(path.join(corpus, "block_align_0_tone.wav"));
const hostile = copy(path.join(corpus, "fmt_size_near_max.wav"));
// The demo losslessly compressed, which the browser decodes. Its decoder
// need not scale the samples as toneprint-batch (through libsndfile) does:
// Chromium takes a positive 16-bit sample over 32767, a negative one over
// 32768. So the tones and their pitches must agree to the digit, the
// amplitudes and what is computed from them within a part in 10^4.
const flac = path.join(folder, "demo.flac");
const compressed = spawnSync("sox", [demo, flac]);
const wave_reader = "read by toneprint's WAVE reader";

// toneprint-batch's CSV and standard error for files of `folder`.
function native(files) {
  const run = spawnSync(batch, files.map((f) => path.basename(f)), { cwd: folder, encoding: "utf8" });
  return { csv: run.stdout, errors: run.stderr, status: run.status };
}

function csvRows(text) {
  // toneprint-batch quotes only file names; these have no comma or quote.
  return text.split("\n").filter((line) => line !== "").map((line) => line.split(","));
}

// Where two tables part, for the failure's message.
function firstDifference(shown, expected) {
  for (let r = 0; r < Math.max(shown.length, expected.length); ++r) {
    const a = shown[r] || [], b = expected[r] || [];
    for (let c = 0; c < Math.max(a.length, b.length); ++c) {
      if (a[c] !== b[c]) return `row ${r} column ${c}: page ${a[c]}, toneprint-batch ${b[c]}`;
    }
  }
  return "";
}


(async () => {
  const browser = await puppeteer.launch({
    executablePath: "/usr/bin/chromium",
    headless: true,
    args: ["--no-sandbox"],
  });
  try {
    const page = await browser.newPage();
    const requests = [];
    const errors = [];
    page.on("request", (request) => requests.push(request.url()));
    page.on("pageerror", (error) => errors.push(String(error)));
    page.on("console", (message) => {
      if (message.type() === "error") errors.push(message.text());
    });
    await page.goto(page_url);
    await page.waitForFunction(() => document.getElementById("status").textContent.startsWith("Ready"),
      { timeout: 60000 });

    // Opens `files` through the file input and waits for their result.
    let runs = 0;
    async function open(files) {
      ++runs;
      const input = await page.$("#open");
      await page.evaluate((n) => { document.getElementById("status").dataset.run = n; }, runs);
      await input.uploadFile(...files);
      await page.waitForFunction(() => document.getElementById("status").textContent.startsWith("Done"),
        { timeout: 120000 });
      const shown = await page.evaluate(() => ({
        rows: [...document.querySelectorAll("#tones tr")].map((tr) =>
          [...tr.children].map((cell) => cell.textContent)),
        errors: document.getElementById("errors").textContent,
        inputs: [...document.querySelectorAll("#inputs li")].map((li) => li.textContent),
        cards: [...document.querySelectorAll("#cards .card")].map((card) => ({
          note: card.querySelector(".card-note").textContent,
          bars: [...card.querySelectorAll("rect")].map((bar) =>
            [bar.textContent.split(":")[0], Number(bar.getAttribute("height"))]),
        })),
      }));
      // Cleared for the next run's wait.
      await page.evaluate(() => { document.getElementById("status").textContent = ""; });
      return shown;
    }

    const cases = [
      { name: "demo and a corpus tone", files: [demo, tone], reader: wave_reader },
      { name: "a hostile WAVE", files: [hostile], reader: wave_reader },
      { name: "a good file after it", files: [tone], reader: wave_reader },
      { name: "the demo as FLAC", files: [flac], reader: "read by the browser's decodeAudioData at 44100 Hz",
        tolerance: 1e-4 },
    ];
    for (const c of cases) {
      const expected = native(c.files);
      const shown = await open(c.files);
      const rows = csvRows(expected.csv);
      if (c.tolerance) {
        const pitch = ["file", "tone", "start_s", "end_s", "passes", "passes_used", "frequency_hz",
          "note", "cents"];
        const amplitude = (name) => !pitch.includes(name);
        const agree = shown.rows.length === rows.length && shown.rows.every((cells, r) =>
          cells.length === rows[r].length && cells.every((cell, column) =>
            cell === rows[r][column] || (r > 0 && amplitude(rows[0][column]) &&
              Math.abs(cell - rows[r][column]) <= c.tolerance * Math.abs(rows[r][column]) + 0.05)));
        check(c.name + ": the table is toneprint-batch's CSV, amplitudes within " + c.tolerance, agree,
          firstDifference(shown.rows, rows));
      } else {
        check(c.name + ": the table is toneprint-batch's CSV",
          JSON.stringify(shown.rows) === JSON.stringify(rows),
          firstDifference(shown.rows, rows));
      }
      check(c.name + ": the messages are toneprint-batch's", shown.errors === expected.errors,
        JSON.stringify(shown.errors) + " vs " + JSON.stringify(expected.errors));
      check(c.name + ": each file says its reader",
        shown.inputs.length === c.files.length &&
          shown.inputs.every((line) => line.endsWith(c.reader)),
        JSON.stringify(shown.inputs));
      // A card per tone of the table, with its note and a bar per harmonic
      // at its level relative to the fundamental, 0 to -60 dB.
      const [header, ...tones] = shown.rows;
      const expectedCards = tones.map((cells) => ({
        note: cells[header.indexOf("note")] || "–",
        bars: header.flatMap((name, column) => {
          const level = 20 * Math.log10(cells[column] / cells[header.indexOf("h0")]);
          return /^h[0-9]+$/.test(name) && cells[column] > 0
            ? [[name, Math.min(60, Math.max(0.5, level + 60))]] : [];
        }),
      }));
      const near = (a, b) => a.note === b.note && a.bars.length === b.bars.length &&
        a.bars.every(([k, height], i) => k === b.bars[i][0] && Math.abs(height - b.bars[i][1]) < 1e-9);
      check(c.name + ": a card per tone with its note and harmonic levels",
        shown.cards.length === expectedCards.length && shown.cards.every((card, i) => near(card, expectedCards[i])),
        JSON.stringify(shown.cards[0]) + " vs " + JSON.stringify(expectedCards[0]));
    }
    check("sox made the FLAC copy of the demo", compressed.status === 0, String(compressed.error || ""));
    check("the demo gives tones", csvRows(native([demo]).csv).length > 1);
    check("the hostile WAVE is refused", native([hostile]).status === 1);
    const foreign = requests.filter((url) => !/^(file|data|blob):/.test(url));
    check("nothing is fetched from elsewhere", requests.length > 0 && foreign.length === 0,
      foreign.join(" "));
    check("no error in the page", errors.length === 0, errors.join("\n     "));
  } finally {
    await browser.close();
    fs.rmSync(folder, { recursive: true, force: true });
  }
  finish();
})().catch(finish);
