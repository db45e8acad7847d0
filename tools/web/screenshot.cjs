// Photographs the page as a user first sees its results: the demo opened,
// from the page's top to its cards of tones, in the light scheme.
//   node tools/web/screenshot.cjs OUT.png [WIDTH HEIGHT]
// Run by tools/web.sh --screenshot, which builds the page first.
"use strict";

const path = require("path");
const puppeteer = require("puppeteer-core");

const root = path.resolve(__dirname, "../..");
const [out, width = "900", height = "1000"] = process.argv.slice(2);

(async () => {
  const browser = await puppeteer.launch({ executablePath: "/usr/bin/chromium", headless: true,
    args: ["--no-sandbox"] });
  try {
    const page = await browser.newPage();
    await page.setViewport({ width: Number(width), height: Number(height) });
    await page.emulateMediaFeatures([{ name: "prefers-color-scheme", value: "light" }]);
    await page.goto("file://" + path.join(root, "build/web/index.html"));
    await page.waitForFunction(() => document.getElementById("status").textContent.startsWith("Ready"));
    await (await page.$("#open")).uploadFile(path.join(root, "demo/demo.wav"));
    await page.waitForFunction(() => document.getElementById("status").textContent.startsWith("Done"));
    // Let the report's frame draw.
    await new Promise((resolve) => setTimeout(resolve, 500));
    // From the page's top to its cards: the part a newcomer reads.
    const bottom = await page.evaluate(() => document.getElementById("cards").getBoundingClientRect().bottom);
    await page.screenshot({ path: path.resolve(out),
      clip: { x: 0, y: 0, width: Number(width), height: Math.min(Number(height), Math.ceil(bottom) + 16) } });
  } finally {
    await browser.close();
  }
})().catch((error) => {
  console.error(error);
  process.exit(1);
});
