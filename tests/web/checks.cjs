// The browser tests' checks: each prints one line, and the run ends with
// the count and an exit status that fails when any check failed (or the
// test itself stopped on an error, which counts as one more failure).
"use strict";

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

function finish(error) {
  if (error) {
    console.log(String(error.stack || error));
    ++failed;
  }
  console.log(passed + " passed, " + failed + " failed");
  process.exit(failed === 0 ? 0 : 1);
}

module.exports = { check, finish };
