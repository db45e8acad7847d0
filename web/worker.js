// The page's Worker: the module above analyses here, so that the page
// stays responsive. Messages: {type: "analyse", id, args, inputs} and
// {type: "check", id, args}; answers: "ready" (the options), "progress",
// "result", "checked".
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

onmessage = async (event) => {
  await loading;
  const { type, id, args } = event.data;
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
    postMessage({ type: "result", id, result: module.analyse(args, event.data.inputs, progress) });
  } catch (error) {
    // A module that stopped (no more memory) is started afresh for the next files.
    postMessage({ type: "failed", id, error: String(error && error.message ? error.message : error) });
    loading = start();
  }
};
