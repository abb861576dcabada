// The page: its controls, and the requests they make of the engine, which
// runs in a worker made from the core and the glue inlined above.
"use strict";
const $ = (id) => document.getElementById(id);
const kShownText = 1 << 20; // bytes of a dump shown; the download holds all

const opened = { rom: null, edited: null, table: null };
let worker = null;
let pending = new Map();
let nextId = 1;
let tableText = null;
let dumpBytes = null;
let letterAFilled = true; // the value of A is the last search's until the user types one

class Cancelled extends Error {}

function startWorker() {
  const source = new Blob([$("core").textContent, "\n", $("worker").textContent], { type: "text/javascript" });
  const url = URL.createObjectURL(source);
  worker = new Worker(url);
  worker.onmessage = ({ data }) => {
    URL.revokeObjectURL(url);
    if ("progress" in data) return showProgress(data.progress);
    const waiting = pending.get(data.id);
    pending.delete(data.id);
    if (data.failure) return waiting.reject(new Error(data.failure));
    // From the page's request to the answer in its hands.
    data.result.seconds = (performance.now() - waiting.started) / 1000;
    waiting.resolve(data.result);
  };
  worker.onerror = (event) => {
    event.preventDefault();
    stopPending(new Error(event.message || "the engine stopped"));
  };
}

function stopPending(reason) {
  for (const waiting of pending.values()) waiting.reject(reason);
  pending.clear();
}

function ask(op, args = {}) {
  return new Promise((resolve, reject) => {
    const id = nextId++;
    pending.set(id, { resolve, reject, started: performance.now() });
    worker.postMessage({ id, op, args });
  });
}

// The worker reads the file itself: a File passes by reference.
const send = (which, file) => ask("open", { which, file });

// --- What the page shows while the engine works ---

const actions = ["find", "guess", "table-download", "dump", "dump-download", "shift-download", "shift-back-download"];
let progressTimer = 0;

function setBusy(label) {
  document.body.dataset.state = label ? "busy" : "ready";
  $("cancel").disabled = !label;
  $("status").textContent = label ? label + "…" : $("status").textContent;
  clearTimeout(progressTimer);
  $("progress").hidden = true;
  $("progress").removeAttribute("value");
  // Files that take more than a moment show how far the pass has come.
  if (label) progressTimer = setTimeout(() => ($("progress").hidden = false), 300);
  updateButtons(!!label);
}

function showProgress(fraction) {
  $("progress").value = fraction;
}

function updateButtons(busy) {
  const has = { rom: !!opened.rom, table: !!opened.table, edited: !!opened.edited };
  const enabled = {
    find: has.rom,
    guess: has.rom,
    "table-download": tableText !== null,
    dump: has.rom && has.table,
    "dump-download": dumpBytes !== null,
    "shift-download": has.rom,
    "shift-back-download": has.edited,
  };
  for (const id of actions) $(id).disabled = busy || !enabled[id];
  $("use-table").disabled = !has.table;
}

function clearErrors() {
  for (const error of document.querySelectorAll(".error")) error.textContent = "";
  for (const control of document.querySelectorAll("[aria-invalid]")) control.removeAttribute("aria-invalid");
}

// A refusal in the command's own words, beside the control that caused it.
function showError(control, message) {
  ($(control + "-error") || $("status")).textContent = message;
  const input = $(control);
  if (input) input.setAttribute("aria-invalid", "true");
}

// Runs one request at a time; a cancel ends it.
async function run(label, task) {
  clearErrors();
  setBusy(label);
  try {
    const done = await task();
    $("status").textContent = done || "";
  } catch (failure) {
    $("status").textContent = failure instanceof Cancelled ? "Cancelled." : "Failed: " + failure.message;
  } finally {
    setBusy(null);
  }
}

// A fresh worker reads the files again before anything asked after.
function cancel() {
  worker.terminate();
  stopPending(new Cancelled());
  startWorker();
  for (const which of ["rom", "edited", "table"]) if (opened[which]) send(which, opened[which]).catch(() => {});
}

function download(name, bytes) {
  const link = document.createElement("a");
  link.href = URL.createObjectURL(new Blob([bytes], { type: "application/octet-stream" }));
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 60000);
}

const baseName = (name) => name.replace(/\.[^.]*$/, "") || name;
const seconds = (result) => ` in ${result.seconds.toFixed(3)} s`;

// --- The file ---

function forgetDump() {
  dumpBytes = null;
  $("dump-result").textContent = "";
}

async function openRom(file) {
  opened.rom = null;
  tableText = null;
  forgetDump();
  showHits(null);
  $("guess-result").textContent = "";
  await run("Reading " + file.name, async () => {
    await send("rom", file);
    opened.rom = file;
    $("file-info").textContent = `${file.name}: ${file.size.toLocaleString("en")} bytes, here in this tab only.`;
    return "Opened " + file.name + ".";
  });
}

$("file").addEventListener("change", () => $("file").files[0] && openRom($("file").files[0]));
document.addEventListener("dragover", (event) => {
  event.preventDefault();
  document.body.classList.add("dragging");
});
document.addEventListener("dragleave", () => document.body.classList.remove("dragging"));
document.addEventListener("drop", (event) => {
  event.preventDefault();
  document.body.classList.remove("dragging");
  const file = event.dataTransfer.files[0];
  if (file) openRom(file);
});

// --- Find ---

function searchRequest() {
  const value = (id) => $(id).value;
  return {
    words: value("words"),
    case: value("case"),
    width: value("width"),
    order: value("order"),
    match: value("match"),
    wildcard: value("wildcard"),
    gaps: value("gaps"),
    useTable: $("use-table").checked,
  };
}

function showHits(result) {
  const body = $("hits").tBodies[0];
  body.replaceChildren();
  $("hexview").replaceChildren();
  $("tally").textContent = "";
  if (!result) return;
  result.hits.forEach((hit, index) => {
    const row = body.insertRow();
    row.dataset.json = hit.json.trim();
    row.dataset.index = index;
    const pick = document.createElement("button");
    pick.type = "button";
    pick.textContent = hit.offset;
    pick.setAttribute("aria-label", `Show the bytes around ${hit.offset}`);
    pick.addEventListener("click", () => run("Reading the bytes", () => showBytes(row)));
    row.insertCell().append(pick);
    for (const text of [hit.word, hit.values, `"${hit.preview}"`]) row.insertCell().textContent = text;
  });
  const listed = result.count > result.hits.length ? `, the first ${result.hits.length.toLocaleString("en")} listed` : "";
  $("hit-count").textContent = `${result.count.toLocaleString("en")} ${result.count === 1 ? "hit" : "hits"}${listed}.`;
  $("tally").textContent = (result.tally || "").trim();
}

async function showBytes(row) {
  for (const other of $("hits").querySelectorAll("tr[aria-selected]")) other.removeAttribute("aria-selected");
  row.setAttribute("aria-selected", "true");
  const view = await ask("hexView", { index: Number(row.dataset.index) });
  const table = document.createElement("table");
  table.createCaption().textContent = `The bytes around ${view.offset}, and what the hit proves they read as`;
  for (const line of view.rows) {
    const row = table.insertRow();
    const offset = document.createElement("th");
    offset.scope = "row";
    offset.textContent = line.offset;
    row.append(offset);
    for (const cell of line.cells) {
      const hex = row.insertCell();
      hex.textContent = cell.hex;
      if (cell.hit) hex.className = "in-hit";
    }
    const text = row.insertCell();
    text.className = "text";
    text.textContent = line.cells.map((cell) => cell.text).join("");
  }
  const preview = document.createElement("p");
  preview.textContent = `Preview: "${view.preview}"`;
  $("hexview").replaceChildren(table, preview);
}

$("find-form").addEventListener("submit", (event) => {
  event.preventDefault();
  if ($("find").disabled) return;
  run("Searching", async () => {
    const result = await ask("find", { request: searchRequest() });
    if (result.error) {
      showHits(null);
      $("hit-count").textContent = "No search.";
      showError(result.control, result.error);
      return "";
    }
    tableText = result.table ?? null;
    showHits(result);
    if (result.tableError) showError("table-download", result.tableError);
    if (result.letterA && (letterAFilled || !$("shift-a").value)) {
      $("shift-a").value = result.letterA;
      letterAFilled = true;
    }
    $("status").dataset.seconds = result.seconds;
    return "Searched" + seconds(result) + ".";
  });
});
// Enter starts a new word; Ctrl+Enter searches.
$("words").addEventListener("keydown", (event) => {
  if (event.key === "Enter" && (event.ctrlKey || event.metaKey)) $("find-form").requestSubmit();
});
$("cancel").addEventListener("click", cancel);

$("table-download").addEventListener("click", () => download(baseName(opened.rom.name) + ".tbl", tableText));

$("guess").addEventListener("click", () =>
  run("Guessing", async () => {
    const result = await ask("guess", { width: $("guess-width").value });
    if (result.error) return showError(result.control, result.error);
    $("guess-result").textContent = (result.note ? result.note + "\n\n" : "") + (result.text || "Nothing reads as text.");
    return "Guessed" + seconds(result) + ".";
  })
);

// --- Tables ---

$("table-file").addEventListener("change", () => {
  const file = $("table-file").files[0];
  if (!file) return;
  opened.table = null;
  forgetDump();
  $("use-table").checked = false;
  run("Reading the table", async () => {
    const result = await send("table", file);
    if (result.error) return showError("table-file", result.error);
    opened.table = file;
    return "Table " + file.name + " loaded.";
  });
});

$("dump").addEventListener("click", () =>
  run("Reading the text", async () => {
    const result = await ask("dump");
    if (result.error) return showError(result.control, result.error);
    dumpBytes = result.bytes;
    const shown = new TextDecoder().decode(dumpBytes.subarray(0, kShownText));
    $("dump-result").textContent = dumpBytes.length > kShownText ? shown + "\n… (the download holds the rest)" : shown;
    return "Read" + seconds(result) + ".";
  })
);
$("dump-download").addEventListener("click", () => download(baseName(opened.rom.name) + ".txt", dumpBytes));

// --- Shift ---

$("shift-a").addEventListener("input", () => (letterAFilled = false));

function shiftAndDownload(back, name) {
  run(back ? "Shifting back" : "Shifting", async () => {
    const result = await ask("shift", { letterA: $("shift-a").value.trim(), back });
    if (result.error) return showError(result.control, result.error);
    download(name, result.bytes);
    return (back ? "Shifted back" : "Shifted") + seconds(result) + ".";
  });
}
$("shift-download").addEventListener("click", () => shiftAndDownload(false, "Shifted.BIN"));
$("shift-back-download").addEventListener("click", () => shiftAndDownload(true, "Output.ROM"));
$("edited-file").addEventListener("change", () => {
  const file = $("edited-file").files[0];
  if (!file) return;
  opened.edited = null;
  run("Reading " + file.name, async () => {
    await send("edited", file);
    opened.edited = file;
    return "Opened " + file.name + " to shift back.";
  });
});

startWorker();
run("Starting the engine", async () => {
  await ask("hello").catch((failure) => {
    throw new Error(`${failure.message} (the engine needs WebAssembly SIMD and exceptions, as current browsers have)`);
  });
  return "Ready. Open a ROM.";
});
