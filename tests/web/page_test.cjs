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
      }));
      // Cleared for the next run's wait.
      await page.evaluate(() => { document.getElementById("status").textContent = ""; });
      return shown;
    }

    const cases = [
      { name: "demo and a corpus tone", files: [demo, tone] },
      { name: "a hostile WAVE", files: [hostile] },
      { name: "a good file after it", files: [tone] },
    ];
    for (const c of cases) {
      const expected = native(c.files);
      const shown = await open(c.files);
      const rows = csvRows(expected.csv);
      check(c.name + ": the table is toneprint-batch's CSV",
        JSON.stringify(shown.rows) === JSON.stringify(rows),
        firstDifference(shown.rows, rows));
      check(c.name + ": the messages are toneprint-batch's", shown.errors === expected.errors,
        JSON.stringify(shown.errors) + " vs " + JSON.stringify(expected.errors));
      check(c.name + ": each file says its reader",
        shown.inputs.length === c.files.length &&
          shown.inputs.every((line) => line.endsWith("read by toneprint's WAVE reader")),
        JSON.stringify(shown.inputs));
    }
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
  console.log(passed + " passed, " + failed + " failed");
  process.exit(failed === 0 ? 0 : 1);
})().catch((error) => {
  console.log(String(error && error.stack ? error.stack : error));
  console.log(passed + " passed, " + (failed + 1) + " failed");
  process.exit(1);
});
