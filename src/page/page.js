// The page: its controls, and the requests they make of the engine, which
// runs in a worker made from the core and the glue inlined above.
"use strict";
const $ = (id) => document.getElementById(id);
const kShownText = 1 << 20; // bytes of a dump shown; the download holds all

const opened = { rom: null, edited: null, table: false }; // table: the open table reads
let tableName = "table.tbl";
let worker = null;
let pending = new Map();
let nextId = 1;
let busy = false;
let running = 0; // the latest run: only it may end the busy state
let tableText = null; // the hits' table
let dumpText = null;
let pointedScript = null; // the last script of a table of pointers
let letterA = -1; // where the last search or guess puts 'A', for the font
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
  if (opened.rom)
    send("rom", opened.rom).catch(() => {
      opened.rom = null;
      updateButtons();
    });
  if (opened.table) sendTable().catch(() => {});
  // An order file is read again only when chosen again.
  orderFile = "";
  $("order-file-status").textContent = "";
}

// --- What the page shows while the engine works ---

const actions = ["find", "guess", "table-download", "table-use", "show-font", "dump", "dump-download", "dump-script",
  "script-insert", "script-download", "encode", "at-insert", "table-text-download", "shift-download", "shift-back-download",
  "patch-make", "apply-download", "pointers", "pointed-dump", "pointed-script", "pointed-download"];
const statuses = ["status", "guess-status", "dump-status", "shift-status", "script-status", "at-status", "encode-status",
  "patch-status", "apply-status", "pointers-status", "pointed-status"];
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
    "table-use": tableText !== null,
    "show-font": has.rom && letterA >= 0,
    dump: has.rom && has.table,
    "dump-download": dumpText !== null,
    "dump-script": has.rom && has.table,
    "script-insert": has.rom && has.table && scriptRows.length > 0,
    "script-download": has.rom && has.table && scriptRows.length > 0,
    encode: has.table,
    "at-insert": has.rom && has.table,
    "table-text-download": $("table-text").value !== "",
    "shift-download": has.rom,
    "shift-back-download": has.edited,
    "patch-make": has.rom && !!patchFiles["patch-translated"],
    "apply-download": !!patchFiles["apply-rom"] && !!patchFiles["apply-patch"],
    pointers: has.rom,
    "pointed-dump": has.rom && has.table,
    "pointed-script": has.rom && has.table,
    "pointed-download": pointedScript !== null,
  };
  for (const id of actions) $(id).disabled = busy || !enabled[id];
  // A table is read by the engine in turn with the other requests.
  $("table-file").disabled = busy;
  $("script-file").disabled = busy || !has.rom || !has.table;
  $("use-table").disabled = !has.table;
  for (const id of ["bytes-show", "bytes-back", "bytes-on"]) $(id).disabled = busy || !has.rom;
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
  pointedScript = null;
  $("dump-result").textContent = "";
}

// Everything the page shows of the file open, gone when another opens; a
// value of A that the user typed stays.
function forgetResults() {
  showHits(null);
  tableText = null;
  letterA = -1;
  forgetDump();
  showScript([]);
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
  $("work-status").textContent = "";
  run("status", "Reading " + file.name, async () => {
    await send("rom", file);
    opened.rom = file;
    $("file-info").textContent = `${file.name}: ${file.size.toLocaleString("en")} bytes, here in this tab only.`;
    await openTiles();
    await restoreWork();
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
  // A file dropped on a step's own place is that step's; anywhere else, it
  // is the ROM to open.
  const file = event.dataTransfer.files[0];
  const step = event.target instanceof Element && event.target.closest("[data-drop]");
  if (file && step) choosePatchFile(step.dataset.drop, file);
  else if (file) openRom(file);
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
    orderFile: orderFile,
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
    row.dataset.length = hit.length;
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

// Rows of bytes in hex, each with its offset and the text they read as;
// `marked` says which bytes to show as the hit's.
function bytesTable(caption, rows, marked) {
  const table = document.createElement("table");
  table.createCaption().textContent = caption;
  for (const line of rows) {
    const row = table.insertRow();
    const offset = document.createElement("th");
    offset.scope = "row";
    offset.textContent = line.offset;
    row.append(offset);
    line.cells.forEach((cell, at) => {
      const byte = row.insertCell();
      byte.textContent = cell.hex;
      if (marked(line, cell, at)) byte.className = "in-hit";
    });
    const text = row.insertCell();
    text.className = "text";
    text.textContent = line.cells.map((cell) => cell.text).join("");
  }
  return table;
}

async function showBytes(row) {
  for (const other of $("hits").querySelectorAll("tr[aria-selected]")) other.removeAttribute("aria-selected");
  row.setAttribute("aria-selected", "true");
  const view = await ask("hexView", { index: Number(row.dataset.index) });
  const hit = Number(view.offset);
  await showFileBytes(hit - 32, [hit, hit + Number(row.dataset.length)]);
  const table = bytesTable(`The bytes around ${view.offset}, and what the hit proves they read as`, view.rows,
    (line, cell) => cell.hit);
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
    letterA = result.letterA ? Number(result.letterA) : -1;
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
    const result = await ask("guess", { width: $("guess-width").value, top: $("guess-top").value.trim() });
    if (result.error) return showError(result.control, result.error);
    letterA = result.letterA;
    $("guess-result").textContent = (result.note ? result.note + "\n\n" : "") + (result.text || "Nothing reads as text.");
    return "Guessed" + seconds(result) + ".";
  })
);

// --- The open table ---

// The table's text goes to the engine as a file would; the engine's word
// on it shows under whichever control gave it.
// An empty table is no table: the engine forgets the one before, and the
// page says nothing of it.
async function sendTable(control = "table-text") {
  const text = $("table-text").value;
  opened.table = false;
  const result = await send("table", new File([text], tableName));
  if (result.error && text) showError(control, result.error);
  opened.table = !result.error && text !== "";
  updateButtons();
  return result;
}

// A new table text: read by the engine, then everything that reads
// through it shown anew, and the work kept.
async function useTable(text, name, control) {
  $("table-text").value = text;
  tableName = name || tableName;
  forgetDump();
  const result = await sendTable(control);
  await drawTiles();
  if (scriptRows.length) await checkScript();
  saveWork();
  return opened.table ? `Table ${tableName} is the open table.` : "";
}

$("table-file").addEventListener("change", async () => {
  const file = takeFile($("table-file"));
  if (!file) return;
  $("use-table").checked = false;
  run("dump-status", "Reading the table", async () => {
    const text = await file.text();
    return useTable(text, file.name, "table-file");
  });
});

let tableTimer = 0;
$("table-text").addEventListener("input", () => {
  clearTimeout(tableTimer);
  tableTimer = setTimeout(() => run("table-status", "Reading the table", () => useTable($("table-text").value)), 400);
});
$("table-text-download").addEventListener("click", () => download(tableName, $("table-text").value));
$("table-use").addEventListener("click", () =>
  run("table-status", "Reading the table", () => useTable(tableText, baseName(opened.rom.name) + ".tbl"))
);

$("values-table").addEventListener("click", () =>
  run("table-status", "Making the table", async () => {
    const value = (id) => $(id).value.trim();
    const request = { A: value("values-A"), a: value("values-a"), 0: value("values-0"), width: $("values-width").value };
    const result = await ask("tableFromValues", { request });
    if (result.error) return showError(result.control, result.error);
    return useTable(result.table, "values.tbl");
  })
);

// --- The tile view ---

const kTileRows = 12; // rows of tiles in view
const kBand = 22; // the band under each tile: its key, then its text
const palettes = {
  grey: (level) => [level, level, level],
  inverted: (level) => [255 - level, 255 - level, 255 - level],
  green: (level) => [15 + (level * 140) / 255, 56 + (level * 132) / 255, 15],
  warm: (level) => [level, (level * 200) / 255, (level * 120) / 255],
};
const tileView = { first: 0, pick: -1, count: 0, tileBytes: 16 };

function tileStart() {
  const text = $("tile-start").value.trim();
  const value = /^0x[0-9a-f]+$/i.test(text) ? parseInt(text, 16) : /^\d+$/.test(text) ? Number(text) : NaN;
  return Number.isSafeInteger(value) ? value : 0;
}
const tileColumns = () => Math.max(1, Math.min(64, Number($("tile-columns").value) || 16));
const tileZoom = () => Number($("tile-zoom").value);
const hex = (value) => "0x" + value.toString(16).toUpperCase();

// An NES file opens on its CHR data; any other at its first byte.
async function openTiles() {
  const facts = await ask("fileFacts", { crc: false });
  if (facts.chr !== null) {
    $("tile-format").value = "2bpp-nes";
    $("tile-start").value = hex(facts.chr);
  } else {
    $("tile-start").value = "0x0";
  }
  tileView.first = 0;
  tileView.pick = -1;
  await drawTiles();
}

// The tiles in view, drawn from the colour indices the engine decodes,
// each with its number and the open table's text beneath.
async function drawTiles() {
  const canvas = $("tile-canvas");
  if (!opened.rom) return;
  const columns = tileColumns(), zoom = tileZoom(), side = 8 * zoom;
  const format = $("tile-format").value;
  const view = await ask("tiles", { format, start: tileStart() + tileView.first * tileView.tileBytes, count: columns * kTileRows });
  tileView.tileBytes = view.tileBytes;
  const total = Math.floor(Math.max(0, opened.rom.size - tileStart()) / view.tileBytes);
  $("tile-scroll").max = Math.max(0, Math.ceil(total / columns) - kTileRows);
  $("tile-scroll").value = tileView.first / columns;
  const labels = await ask("tileLabels", { first: tileView.first, count: view.count });
  canvas.width = columns * side;
  canvas.height = kTileRows * (side + kBand);
  const context = canvas.getContext("2d");
  context.fillStyle = "#000";
  context.fillRect(0, 0, canvas.width, canvas.height);
  const image = context.createImageData(canvas.width, canvas.height);
  const top = (1 << view.bits) - 1, colour = palettes[$("tile-palette").value];
  for (let tile = 0; tile < view.count; ++tile) {
    const left = (tile % columns) * side, upper = Math.floor(tile / columns) * (side + kBand);
    for (let y = 0; y < side; ++y)
      for (let x = 0; x < side; ++x) {
        const index = view.pixels[tile * 64 + Math.floor(y / zoom) * 8 + Math.floor(x / zoom)];
        const [r, g, b] = colour(Math.floor((index * 255) / top));
        const at = ((upper + y) * canvas.width + left + x) * 4;
        image.data.set([r, g, b, 255], at);
      }
  }
  for (let at = 3; at < image.data.length; at += 4) image.data[at] = 255;
  context.putImageData(image, 0, 0);
  context.textBaseline = "top";
  for (let tile = 0; tile < view.count; ++tile) {
    const left = (tile % columns) * side, upper = Math.floor(tile / columns) * (side + kBand) + side;
    context.fillStyle = "#9aa";
    context.font = "9px monospace";
    context.fillText(labels.keys[tile], left + 1, upper + 1, side - 2);
    context.fillStyle = "#fff";
    context.font = "11px sans-serif";
    context.fillText(labels.labels[tile], left + 1, upper + 10, side - 2);
  }
  tileView.count = view.count;
  tileView.labels = labels;
  showPick();
}

// The picked tile: outlined, named, and its text ready to change.
function showPick() {
  const frame = $("tile-pick"), within = tileView.pick - tileView.first;
  const visible = tileView.pick >= 0 && within >= 0 && within < tileView.count;
  frame.hidden = !visible;
  $("tile-text").disabled = $("tile-set").disabled = tileView.pick < 0;
  if (tileView.pick < 0) return ($("tile-info").textContent = "Click a tile, or move to one with the arrow keys.");
  const columns = tileColumns(), side = 8 * tileZoom();
  if (visible) {
    frame.style.left = (within % columns) * side + "px";
    frame.style.top = Math.floor(within / columns) * (side + kBand) + "px";
    frame.style.width = frame.style.height = side + "px";
  }
  const offset = tileStart() + tileView.pick * tileView.tileBytes;
  const label = visible ? tileView.labels.labels[within] : "";
  const key = visible ? tileView.labels.keys[within] : "";
  tileView.key = key;
  $("tile-info").textContent = `Tile ${key} at ${hex(offset)}` + (label ? `, which the table reads as "${label}".` : ", not in the table.");
}

// Picks a tile by its number, scrolling it into view.
async function pickTile(number) {
  const columns = tileColumns();
  const total = Math.floor(Math.max(0, opened.rom.size - tileStart()) / tileView.tileBytes);
  number = Math.max(0, Math.min(total - 1, number));
  tileView.pick = number;
  if (number < tileView.first || number >= tileView.first + columns * kTileRows) {
    tileView.first = Math.max(0, Math.floor(number / columns) - Math.floor(kTileRows / 2)) * columns;
    await drawTiles();
  }
  showPick();
}

// Gives the picked tile its text: the table gains or changes the line of
// its key.
async function setTileText() {
  // A tile scrolled out of view, or numbered past what a key holds, gets no entry.
  if (tileView.pick < 0 || !tileView.key) return;
  const text = $("tile-text").value;
  await run("table-status", "Changing the table", async () => {
    await send("table", new File([$("table-text").value], tableName));
    const result = await ask("withEntry", { key: tileView.key, text });
    await useTable(result.table);
    return `${tileView.key}=${text} is in the table.`;
  });
  $("tile-text").value = "";
  await pickTile(tileView.pick + 1);
  $("tile-canvas").focus();
}

const redrawTiles = () => run("status", "Drawing the tiles", drawTiles);
for (const id of ["tile-format", "tile-columns", "tile-zoom", "tile-palette"]) $(id).addEventListener("change", () => {
  tileView.first = 0;
  redrawTiles();
});
$("tile-start").addEventListener("change", () => {
  tileView.first = 0;
  tileView.pick = -1;
  redrawTiles();
});
$("tile-scroll").addEventListener("input", () => {
  tileView.first = Number($("tile-scroll").value) * tileColumns();
  redrawTiles();
});
$("tile-canvas").addEventListener("wheel", (event) => {
  event.preventDefault();
  const rows = Math.sign(event.deltaY) * 2;
  const scroll = Math.max(0, Math.min(Number($("tile-scroll").max), Number($("tile-scroll").value) + rows));
  tileView.first = scroll * tileColumns();
  redrawTiles();
});
$("tile-canvas").addEventListener("click", (event) => {
  const canvas = $("tile-canvas"), box = canvas.getBoundingClientRect();
  const side = 8 * tileZoom(), x = event.clientX - box.left, y = event.clientY - box.top;
  const tile = Math.floor(y / (side + kBand)) * tileColumns() + Math.floor(x / side);
  if (tile >= tileView.count) return;
  pickTile(tileView.first + tile).then(() => $("tile-text").focus());
});
$("tile-canvas").addEventListener("keydown", (event) => {
  const columns = tileColumns();
  const moves = { ArrowLeft: -1, ArrowRight: 1, ArrowUp: -columns, ArrowDown: columns,
    PageUp: -columns * kTileRows, PageDown: columns * kTileRows };
  if (event.key in moves) {
    event.preventDefault();
    pickTile(Math.max(0, tileView.pick) + (tileView.pick < 0 ? 0 : moves[event.key]));
  } else if (tileView.pick >= 0 && (event.key === "Enter" || (event.key.length === 1 && !event.ctrlKey && !event.metaKey))) {
    // Typing on a picked tile starts its text.
    event.preventDefault();
    $("tile-text").value = event.key === "Enter" ? "" : event.key;
    $("tile-text").focus();
  }
});
$("tile-text").addEventListener("keydown", (event) => {
  if (event.key === "Enter") setTileText();
  if (event.key === "Escape") $("tile-canvas").focus();
});
$("tile-set").addEventListener("click", setTileText);
$("show-font").addEventListener("click", () =>
  run("status", "Finding the font", async () => {
    await pickTile(letterA);
    $("tile-canvas").focus();
    return `'A' is tile ${hex(letterA).slice(2)}, if the font lies from tile 00 at ${$("tile-start").value}.`;
  })
);

// --- The text, and the script ---

let scriptRows = []; // { offset, room, was, text, bytes, problem }
let scriptName = "script.txt";
const dumpRequest = (script) => ({ start: $("dump-start").value.trim(), end: $("dump-end").value.trim(),
  min: $("dump-min").value.trim(), script });

$("dump").addEventListener("click", () =>
  run("dump-status", "Reading the text", async () => {
    const result = await ask("dump", { request: dumpRequest(false) });
    if (result.error) return showError(result.control, result.error);
    // As dump's exit status 1 says.
    if (!result.output.size) return `No text found through ${tableName}${seconds(result)}.`;
    dumpText = result.output;
    const shown = await dumpText.slice(0, kShownText).text();
    $("dump-result").textContent = dumpText.size > kShownText ? shown + "\n… (the download holds the rest)" : shown;
    return `Read through ${tableName}${seconds(result)}.`;
  })
);
$("dump-download").addEventListener("click", () => download(baseName(opened.rom.name) + ".txt", dumpText));

$("dump-script").addEventListener("click", () =>
  run("script-status", "Reading the script", async () => {
    const result = await ask("dump", { request: dumpRequest(true) });
    if (result.error) return showError(result.control, result.error);
    scriptName = baseName(opened.rom.name) + ".script.txt";
    showScript(result.rows.map((row) => ({ ...row, was: row.text })));
    await checkScript();
    saveWork();
    return `${result.rows.length.toLocaleString("en")} strings to translate.`;
  })
);

$("script-file").addEventListener("change", () => {
  const file = takeFile($("script-file"));
  if (!file) return;
  run("script-status", "Reading the script", async () => {
    await send("text", file);
    const result = await ask("openScript", { name: file.name });
    if (result.error) return showError(result.control, result.error);
    scriptName = file.name;
    showScript(result.rows);
    await checkScript();
    saveWork();
    return `${file.name}: ${result.rows.length.toLocaleString("en")} strings.`;
  });
});

// --- Tables of pointers ---

$("pointers").addEventListener("click", () =>
  run("pointers-status", "Finding tables of pointers", async () => {
    const request = { map: $("pointers-map").value.trim(), ptr: $("pointers-ptr").value,
      endian: $("pointers-endian").value, min: $("pointers-min").value.trim() };
    const result = await ask("pointers", { request });
    if (result.error) return showError(result.control, result.error);
    $("pointers-result").textContent = result.text;
    $("pointers-tables").replaceChildren(...result.tables.map((table) => {
      const item = document.createElement("li");
      const button = document.createElement("button");
      button.type = "button";
      button.textContent = `Read the table at ${table.at}, ${table.map} ${table.ptr} ${table.endian}`;
      button.addEventListener("click", () => fillPointed(table));
      item.append(button);
      return item;
    }));
    if (result.tables.length) fillPointed(result.tables[0]);
    const through = opened.table ? tableName : "printable ASCII";
    const left = result.leftOut ? `, ${result.leftOut.toLocaleString("en")} more left out` : "";
    return `${result.tables.length.toLocaleString("en")} tables to text read through ${through}${left}${seconds(result)}.`;
  })
);

// A table found, into the controls that read its strings.
function fillPointed(table) {
  for (const name of ["at", "map", "ptr", "endian", "split", "stride"]) $("pointed-" + name).value = table[name];
}

const pointedRequest = (script) => ({ at: $("pointed-at").value.trim(), map: $("pointed-map").value.trim(),
  ptr: $("pointed-ptr").value, endian: $("pointed-endian").value, split: $("pointed-split").value.trim(),
  stride: $("pointed-stride").value.trim(), untilNext: $("pointed-until").checked, script });

for (const script of [false, true])
  $(script ? "pointed-script" : "pointed-dump").addEventListener("click", () =>
    run("pointed-status", "Reading the strings", async () => {
      const result = await ask("dumpPointers", { request: pointedRequest(script) });
      if (result.error) return showError(result.control, result.error);
      if (script) pointedScript = result.output;
      $("pointed-result").textContent = await result.output.text();
      return `Read through ${tableName}${seconds(result)}.`;
    })
  );
$("pointed-download").addEventListener("click", () =>
  download(baseName(opened.rom.name) + ".script.txt", pointedScript));

// The grid: a row a string, its translation editable.
function showScript(rows) {
  scriptRows = rows;
  const body = $("script-grid").tBodies[0];
  body.replaceChildren();
  $("script-problems").replaceChildren();
  rows.forEach((row, index) => {
    const line = body.insertRow();
    const offset = "0x" + row.offset.toString(16).toUpperCase().padStart(8, "0");
    const pick = document.createElement("button");
    pick.type = "button";
    pick.textContent = offset;
    pick.setAttribute("aria-label", `Show the bytes of the string at ${offset}`);
    pick.addEventListener("click", () => bytesAt(row.offset - 32, [row.offset, row.offset + row.room]));
    line.insertCell().append(pick);
    line.insertCell().textContent = row.room;
    line.insertCell().textContent = row.was;
    const input = document.createElement("input");
    input.value = row.text;
    input.spellcheck = false;
    input.setAttribute("aria-label", `Translation of the string at ${offset}`);
    input.addEventListener("input", () => {
      row.text = input.value;
      scheduleCheck();
    });
    line.insertCell().append(input);
    line.insertCell().className = "bytes";
    row.cells = line;
    showRowCheck(row, index);
  });
  updateButtons();
}

function showRowCheck(row) {
  const cell = row.cells.cells[4];
  const over = row.bytes !== undefined && row.bytes > row.room;
  cell.textContent = row.bytes === undefined ? (row.unspelt ? "can't spell" : "") : `${row.bytes} / ${row.room}`;
  if (row.problem || row.unspelt) cell.textContent += ": " + (row.problem || row.unspelt);
  row.cells.classList.toggle("wrong", !!(row.problem || row.unspelt || over));
  row.cells.cells[3].firstChild.setAttribute("aria-invalid", row.cells.classList.contains("wrong") ? "true" : "false");
}

const rowsRequest = () => ({ name: scriptName, rows: scriptRows.map(({ offset, room, text }) => ({ offset, room, text })) });

// The bytes of each translation against its room, as insert --script
// would find them.
async function checkScript() {
  const result = await ask("insertRows", { request: rowsRequest(), write: false });
  if (result.error) return showError(result.control, result.error);
  result.rows.forEach((check, index) => {
    Object.assign(scriptRows[index], { bytes: check.bytes, unspelt: check.unspelt, problem: check.problem });
    showRowCheck(scriptRows[index]);
  });
  return result;
}

let checkTimer = 0;
function scheduleCheck() {
  clearTimeout(checkTimer);
  checkTimer = setTimeout(() => {
    if (!busy) run("script-status", "Checking", async () => ((await checkScript()), saveWork(), ""));
    else scheduleCheck();
  }, 250);
}

// All or nothing: the translated ROM downloads only when no string has a
// problem; otherwise every problem shows, as insert prints them.
$("script-insert").addEventListener("click", () =>
  run("script-status", "Inserting", async () => {
    const result = await ask("insertRows", { request: rowsRequest(), write: true });
    if (result.error) return showError(result.control, result.error);
    $("script-problems").replaceChildren(...result.problems.map((problem) => {
      const item = document.createElement("li");
      item.textContent = problem;
      return item;
    }));
    if (result.problems.length) return `Nothing written: ${result.problems.length} ${result.problems.length === 1 ? "problem" : "problems"}.`;
    keepInserted(taggedName(opened.rom.name, "translated"), result.output);
    return "Inserted" + seconds(result) + ".";
  })
);
$("script-download").addEventListener("click", () =>
  run("script-status", "Writing the script", async () => {
    const result = await ask("scriptText", { request: rowsRequest() });
    if (result.error) return showError(result.control, result.error);
    download(scriptName, result.output);
    return "";
  })
);

// --- The file's bytes ---

const kByteRows = 16;
const fileBytes = { start: 0, mark: null }; // mark: [start, end) of the hit or string picked

// The bytes from `start` with the open table's reading beside them, the
// picked hit or string marked.
async function showFileBytes(start, mark = fileBytes.mark) {
  if (!opened.rom) return;
  fileBytes.start = Math.max(0, Math.min(start, opened.rom.size - 1));
  fileBytes.mark = mark;
  $("bytes-offset").value = hex(fileBytes.start);
  const view = await ask("fileRows", { start: fileBytes.start, rows: kByteRows });
  const table = bytesTable(`The bytes from ${view.rows[0]?.offset ?? ""}, and the text the open table reads there`,
    view.rows, (line, cell, at) => mark && line.at + at >= mark[0] && line.at + at < mark[1]);
  $("file-bytes").replaceChildren(table);
}

const bytesAt = (start, mark) => run("status", "Reading the bytes", () => showFileBytes(start, mark));
$("bytes-show").addEventListener("click", () => bytesAt(parseInt($("bytes-offset").value, /^0x/i.test($("bytes-offset").value) ? 16 : 10) || 0));
$("bytes-back").addEventListener("click", () => bytesAt(fileBytes.start - kByteRows * 16));
$("bytes-on").addEventListener("click", () => bytesAt(fileBytes.start + kByteRows * 16));

// --- Encode, and insert at an offset ---

$("encode").addEventListener("click", () =>
  run("encode-status", "Encoding", async () => {
    const result = await ask("encode", { text: $("encode-text").value, end: $("encode-end").checked });
    $("encode-hex").value = "";
    $("encode-copy").disabled = true;
    if (result.error) return showError(result.control, result.error);
    $("encode-hex").value = result.hex;
    $("encode-copy").disabled = false;
    return "";
  })
);
$("encode-copy").addEventListener("click", async () => {
  try {
    await navigator.clipboard.writeText($("encode-hex").value);
    $("encode-status").textContent = "Copied.";
  } catch {
    $("encode-status").textContent = "This browser keeps the clipboard from the page: select the bytes and copy them.";
  }
});
$("at-insert").addEventListener("click", () =>
  run("at-status", "Inserting", async () => {
    const value = (id) => $(id).value.trim();
    const request = { at: value("at-offset"), room: value("at-room"), fill: value("at-fill"), text: $("at-text").value };
    const result = await ask("insertAt", { request });
    if (result.error) return showError(result.control, result.error);
    keepInserted(taggedName(opened.rom.name, "out"), result.output);
    return "Inserted" + seconds(result) + ".";
  })
);

// --- Word files and order files ---

let orderFile = "";
$("word-file").addEventListener("change", async () => {
  const file = takeFile($("word-file"));
  if (file) $("words").value = await file.text();
});
$("order-file").addEventListener("change", () => {
  const file = takeFile($("order-file"));
  if (!file) return;
  run("status", "Reading the orders", async () => {
    await send("orders", file);
    orderFile = file.name;
    $("order-file-status").textContent = file.name + " is searched with the words.";
    return "";
  });
});

// --- The work kept between visits ---

// The table and the script, under the ROM's name, size and CRC32, in this
// browser's storage for the page. A browser may refuse it for pages opened
// from disk: the downloads keep the work then.
const work = { key: null, crc32: null };
const workKey = () => `glyphound:${opened.rom.name}:${opened.rom.size}:${work.crc32}`;

function storage() {
  try {
    const store = window.localStorage;
    store.getItem("glyphound:");
    return store;
  } catch {
    $("work-status").textContent =
      "This browser keeps nothing for a page opened from disk: download the table and the script to keep them.";
    return null;
  }
}

// The CRC32 is read only when work is kept or may have been: it takes a
// pass over the whole file.
async function saveWork() {
  const store = opened.rom && storage();
  if (!store) return;
  if (!work.crc32) work.crc32 = (await ask("fileFacts", { crc: true })).crc32;
  const kept = { table: $("table-text").value, tableName, scriptName,
    rows: scriptRows.map(({ offset, room, was, text }) => ({ offset, room, was, text })) };
  try {
    store.setItem(workKey(), JSON.stringify(kept));
    $("forget-work").disabled = false;
  } catch (failure) {
    $("work-status").textContent = `The work could not be kept (${failure.message}): download the table and the script.`;
  }
}

async function restoreWork() {
  work.crc32 = null;
  const store = storage();
  const prefix = `glyphound:${opened.rom.name}:${opened.rom.size}:`;
  const candidates = store ? Object.keys(store).filter((key) => key.startsWith(prefix)) : [];
  if (candidates.length) work.crc32 = (await ask("fileFacts", { crc: true })).crc32;
  const saved = candidates.includes(workKey()) && store.getItem(workKey());
  $("forget-work").disabled = !saved;
  if (!saved) return;
  const kept = JSON.parse(saved);
  scriptName = kept.scriptName;
  await useTable(kept.table, kept.tableName);
  if (kept.rows.length) {
    showScript(kept.rows);
    await checkScript();
  }
  $("work-status").textContent = `The work kept for ${opened.rom.name} is back: its table and ${kept.rows.length} strings of its script.`;
}

$("forget-work").addEventListener("click", () => {
  const store = storage();
  if (store) store.removeItem(workKey());
  $("forget-work").disabled = true;
  $("work-status").textContent = `Nothing is kept for ${opened.rom.name} any more.`;
});

// --- Shift ---

$("shift-a").addEventListener("input", () => (letterAFilled = false));

// The download is named after the ROM, or after the edited file when no ROM
// is open; the engine reads the edited file anew at every shift back. The
// file inputs are emptied once chosen, so the status names the file.
function shiftAndDownload(back) {
  run("shift-status", back ? "Shifting back" : "Shifting", async () => {
    const edited = back ? opened.edited : null;
    const name = taggedName((opened.rom || edited).name, back ? "out" : "shifted");
    const result = await ask("shift", { letterA: $("shift-a").value.trim(), by: $("shift-by").value.trim(), back, edited });
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

// --- Patches ---

// The files of steps 9 and 10 by their inputs' ids: each chosen, dropped on
// its place, or for the translated ROM the last insert's.
const patchFiles = { "patch-translated": null, "apply-rom": null, "apply-patch": null };

function choosePatchFile(id, file, note = file.name) {
  patchFiles[id] = file;
  $(id + "-name").textContent = note;
  // Another ROM may have no header to strip: the engine offers it anew.
  if (id === "apply-rom") {
    $("apply-strip-choice").hidden = true;
    $("apply-strip").checked = false;
  }
  updateButtons();
}
for (const id of Object.keys(patchFiles))
  $(id).addEventListener("change", () => {
    const file = takeFile($(id));
    if (file) choosePatchFile(id, file);
  });

// The ROM an insert wrote, downloaded and kept as the translated ROM of a
// patch, as a Blob rather than a copy.
function keepInserted(name, output) {
  download(name, output);
  choosePatchFile("patch-translated", new File([output], name), `${name}, from the last insert`);
}

$("patch-make").addEventListener("click", () =>
  run("patch-status", "Making the patch", async () => {
    const format = $("patch-format").value;
    const request = { format, metadata: $("patch-metadata").value };
    const result = await ask("makePatch", { request, translated: patchFiles["patch-translated"] });
    if (result.error) return showError(result.control, result.error);
    download(`${baseName(opened.rom.name)}.${format}`, result.output);
    return `Made the ${format.toUpperCase()} patch${seconds(result)}.`;
  })
);
$("apply-download").addEventListener("click", () =>
  run("apply-status", "Applying the patch", async () => {
    const rom = patchFiles["apply-rom"];
    const request = { force: $("apply-force").checked, stripHeader: $("apply-strip").checked };
    const result = await ask("applyPatch", { request, rom, patch: patchFiles["apply-patch"] });
    if (result.error) {
      if (result.copierHeader) $("apply-strip-choice").hidden = false;
      return showError(result.control, result.error);
    }
    download(taggedName(rom.name, "patched"), result.output);
    return "Patched" + seconds(result) + ".";
  })
);

startWorker();
run("status", "Starting the engine", async () => {
  await ask("hello").catch((failure) => {
    throw new Error(`${failure.message} (the engine needs WebAssembly SIMD and exceptions, as current browsers have)`);
  });
  return "Ready. Open a ROM.";
});
