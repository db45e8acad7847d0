// Times the page's analysis of a recording in headless Chromium: the
// processor time of the Worker's run, beside toneprint-batch -j 1's on the
// same file. A figure for a person to read, not a test.
//   node tests/web/time_session.cjs FILE.wav
"use strict";

const { spawnSync } = require("child_process");
const path = require("path");
const puppeteer = require("puppeteer-core");

const root = path.resolve(__dirname, "../..");
const file = path.resolve(process.argv[2]);

(async () => {
  const browser = await puppeteer.launch({ executablePath: "/usr/bin/chromium", headless: true,
    args: ["--no-sandbox"] });
  const page = await browser.newPage();
  await page.goto("file://" + path.join(root, "build/web/index.html"));
  await page.waitForFunction(() => document.getElementById("status").textContent.startsWith("Ready"));
  const session = await page.createCDPSession();
  await session.send("Performance.enable");
  const cpu = async () => (await session.send("Performance.getMetrics")).metrics
    .find((m) => m.name === "ProcessTime").value;
  const before = await cpu();
  const started = Date.now();
  await (await page.$("#open")).uploadFile(file);
  await page.waitForFunction(() => document.getElementById("status").textContent.startsWith("Done"),
    { timeout: 600000 });
  const wall = (Date.now() - started) / 1000;
  const module = Number(await page.evaluate(() => document.getElementById("status").dataset.seconds));
  const renderer = (await cpu()) - before;
  await browser.close();

  const native = spawnSync("/usr/bin/time", ["-f", "%U %S", path.join(root, "build/release/toneprint-batch"),
    "-j", "1", "-q", file], { encoding: "utf8" });
  const [user, system] = native.stderr.trim().split("\n").pop().split(" ").map(Number);
  console.log(`page: ${wall.toFixed(2)} s from opening to the table (renderer process time ${renderer.toFixed(2)} s,` +
    ` of which the module's analysis ${module.toFixed(2)} s)`);
  console.log(`toneprint-batch -j 1: ${(user + system).toFixed(2)} s processor time`);
})();
