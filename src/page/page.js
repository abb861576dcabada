// The page: its controls, and the requests they make of the engine, which
// runs in a worker made from the core and the glue inlined above.
"use strict";
const $ = (id) => document.getElementById(id);
const kShownText = 1 << 20; // bytes of a dump shown; the download holds all

const opened = { rom: null, edited: null, table: null };
let worker = null;
let pending = new Map();
let nextId = 1;
let busy = false;
let running = 0; // the latest run: only it may end the busy state
let tableText = null;
let dumpText = null;
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
    // What a request writes comes in parts, kept as one Blob rather than
    // whole in this tab's memory.
    if ("part" in data) return void (waiting.output = new Blob([waiting.output, data.part]));
    pending.delete(data.id);
    if (data.failure) return waiting.reject(new Error(data.failure));
    // From the page's request to the answer in its hands.
    data.result.seconds = (performance.now() - waiting.started) / 1000;
    data.result.output = waiting.output;
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
    pending.set(id, { resolve, reject, started: performance.now(), output: new Blob() });
    worker.postMessage({ id, op, args });
  });
}

// The worker reads the file itself: a File passes by reference.
const send = (which, file) => ask("open", { which, file });

// Ends whatever the engine does: a fresh worker reads the files still open
// again before anything asked after it. A file it can no longer read is
// closed.
function restartEngine() {
  worker.terminate();
  stopPending(new Cancelled());
  startWorker();
  for (const which of ["rom", "table"]) {
    if (!opened[which]) continue;
    send(which, opened[which]).catch(() => {
      opened[which] = null;
      updateButtons();
    });
  }
}

// --- What the page shows while the engine works ---

const actions = ["find", "guess", "table-download", "dump", "dump-download", "shift-download", "shift-back-download"];
const statuses = ["status", "guess-status", "dump-status", "shift-status"];
let progressTimer = 0;

function setBusy(status, label) {
  busy = !!label;
  document.body.dataset.state = busy ? "busy" : "ready";
  $("cancel").disabled = !busy;
  if (busy) $(status).textContent = label + "…";
  clearTimeout(progressTimer);
  $("progress").hidden = true;
  $("progress").removeAttribute("value");
  // Files that take more than a moment show how far the pass has come.
  if (busy) progressTimer = setTimeout(() => ($("progress").hidden = false), 300);
  updateButtons();
}

function showProgress(fraction) {
  $("progress").value = fraction;
}

function updateButtons() {
  const has = { rom: !!opened.rom, table: !!opened.table, edited: !!opened.edited };
  const enabled = {
    find: has.rom,
    guess: has.rom,
    "table-download": tableText !== null,
    dump: has.rom && has.table,
    "dump-download": dumpText !== null,
    "shift-download": has.rom,
    "shift-back-download": has.edited,
  };
  for (const id of actions) $(id).disabled = busy || !enabled[id];
  // A table is read by the engine in turn with the other requests.
  $("table-file").disabled = busy;
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

// Runs one request at a time, its words in `status` beside the control that
// asked. A cancel ends it, and so does a file opened meanwhile, whose own run
// then owns the page.
async function run(status, label, task) {
  const mine = ++running;
  clearErrors();
  setBusy(status, label);
  let said;
  try {
    said = (await task()) || "";
  } catch (failure) {
    said = failure instanceof Cancelled ? "Cancelled." : "Failed: " + failure.message;
  }
  if (mine !== running) return;
  $(status).textContent = said;
  setBusy(null);
}

// The fresh engine no longer knows the last search, so its hits can't be
// opened: they go.
function cancel() {
  restartEngine();
  showHits(null);
}

function download(name, data) {
  const link = document.createElement("a");
  link.href = URL.createObjectURL(new Blob([data], { type: "application/octet-stream" }));
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 60000);
}

const baseName = (name) => name.replace(/\.[^.]*$/, "") || name;
// NAME.EXT becomes NAME.TAG.EXT, and a name without extension NAME.TAG.
const taggedName = (name, tag) => name.replace(/(\.[^.]*)?$/, (extension) => `.${tag}${extension}`);
const seconds = (result) => ` in ${result.seconds.toFixed(3)} s`;

// The file a file input holds, taken out of it: choosing the same file
// again, edited meanwhile, is a change that reads it anew.
function takeFile(input) {
  const file = input.files[0];
  input.value = "";
  return file;
}

// --- The file ---

function forgetDump() {
  dumpText = null;
  $("dump-result").textContent = "";
}

// Everything the page shows of the file open, gone when another opens; a
// value of A that the user typed stays.
function forgetResults() {
  showHits(null);
  tableText = null;
  forgetDump();
  $("guess-result").textContent = "";
  for (const status of statuses) $(status).textContent = "";
  if (letterAFilled) $("shift-a").value = "";
}

// A file opened while the engine works ends that work first: its answers
// belong to the old file.
function openRom(file) {
  opened.rom = null;
  forgetResults();
  $("file-info").textContent = "";
  if (busy) restartEngine();
  run("status", "Reading " + file.name, async () => {
    await send("rom", file);
    opened.rom = file;
    $("file-info").textContent = `${file.name}: ${file.size.toLocaleString("en")} bytes, here in this tab only.`;
    return "Opened " + file.name + ".";
  });
}

$("file").addEventListener("change", () => {
  const file = takeFile($("file"));
  if (file) openRom(file);
});
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
  $("hit-count").textContent = "No search yet.";
  if (!result) return;
  result.hits.forEach((hit, index) => {
    const row = body.insertRow();
    row.dataset.json = hit.json.trim();
    row.dataset.index = index;
    const pick = document.createElement("button");
    pick.type = "button";
    pick.textContent = hit.offset;
    pick.setAttribute("aria-label", `Show the bytes around ${hit.offset}`);
    pick.addEventListener("click", () => run("status", "Reading the bytes", () => showBytes(row)));
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
  run("status", "Searching", async () => {
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
  run("guess-status", "Guessing", async () => {
    const result = await ask("guess", { width: $("guess-width").value });
    if (result.error) return showError(result.control, result.error);
    $("guess-result").textContent = (result.note ? result.note + "\n\n" : "") + (result.text || "Nothing reads as text.");
    return "Guessed" + seconds(result) + ".";
  })
);

// --- Tables ---

$("table-file").addEventListener("change", () => {
  const file = takeFile($("table-file"));
  if (!file) return;
  opened.table = null;
  forgetDump();
  $("use-table").checked = false;
  run("dump-status", "Reading the table", async () => {
    const result = await send("table", file);
    if (result.error) return showError("table-file", result.error);
    opened.table = file;
    return "Table " + file.name + " loaded.";
  });
});

$("dump").addEventListener("click", () =>
  run("dump-status", "Reading the text", async () => {
    const table = opened.table.name;
    const result = await ask("dump");
    if (result.error) return showError(result.control, result.error);
    // As dump's exit status 1 says.
    if (!result.output.size) return `No text found through ${table}${seconds(result)}.`;
    dumpText = result.output;
    const shown = await dumpText.slice(0, kShownText).text();
    $("dump-result").textContent = dumpText.size > kShownText ? shown + "\n… (the download holds the rest)" : shown;
    return `Read through ${table}${seconds(result)}.`;
  })
);
$("dump-download").addEventListener("click", () => download(baseName(opened.rom.name) + ".txt", dumpText));

// --- Shift ---

$("shift-a").addEventListener("input", () => (letterAFilled = false));

// The download is named after the ROM, or after the edited file when no ROM
// is open; the engine reads the edited file anew at every shift back. The
// file inputs are emptied once chosen, so the status names the file.
function shiftAndDownload(back) {
  run("shift-status", back ? "Shifting back" : "Shifting", async () => {
    const edited = back ? opened.edited : null;
    const name = taggedName((opened.rom || edited).name, back ? "out" : "shifted");
    const result = await ask("shift", { letterA: $("shift-a").value.trim(), back, edited });
    if (result.error) return showError(result.control, result.error);
    download(name, result.output);
    return (back ? `Shifted ${edited.name} back` : "Shifted") + seconds(result) + ".";
  });
}
$("shift-download").addEventListener("click", () => shiftAndDownload(false));
$("shift-back-download").addEventListener("click", () => shiftAndDownload(true));
$("edited-file").addEventListener("change", () => {
  const file = takeFile($("edited-file"));
  if (!file) return;
  opened.edited = file;
  updateButtons();
  $("shift-status").textContent = file.name + " is the file to shift back.";
});

startWorker();
run("status", "Starting the engine", async () => {
  await ask("hello").catch((failure) => {
    throw new Error(`${failure.message} (the engine needs WebAssembly SIMD and exceptions, as current browsers have)`);
  });
  return "Ready. Open a ROM.";
});
