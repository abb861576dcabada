// The worker: the core's module, and each request of the page answered with
// what the engine says, one after another in the order asked. Runs after the
// core's script in the same Blob.
"use strict";
const ready = GlyphoundCore({
  onProgress: (done, total) => postMessage({ progress: done / total }),
});
const kSlice = 16 << 20; // files are read, and shifts written, this much at a time
const reader = new FileReaderSync();
const sizes = { rom: 0 };

// The engine's answer; a failure of its own, such as memory that ran out,
// is thrown in its words.
function answer(text) {
  const result = JSON.parse(text);
  if (result.failure) throw new Error(result.failure);
  return result;
}

const progress = (done, total) => postMessage({ progress: Math.min(done, total) / total });
const sliceOf = (file, at) => new Uint8Array(reader.readAsArrayBuffer(file.slice(at, at + kSlice)));

// `file` read into the engine's buffer `which` a slice at a time, so that
// it is never whole outside the module.
function readInto(core, which, file) {
  answer(core.reserve(which, file.name, file.size));
  for (let at = 0; at < file.size; at += kSlice) {
    core.buffer(which).set(sliceOf(file, at), at);
    progress(at + kSlice, file.size);
  }
}

// The file opened, or the edited one read a slice at a time, shifted slice
// by slice, each slice handed to the page as it is written: no shifted copy
// is ever whole here.
function shift(core, { letterA, by, back, edited }, sendPart) {
  const result = answer(core.shiftAmount(letterA, by, back));
  if (result.error) return result;
  const size = back ? edited.size : sizes.rom;
  for (let at = 0; at < size; at += kSlice) {
    if (back) {
      const slice = sliceOf(edited, at);
      answer(core.reserve("edited", edited.name, slice.length));
      core.buffer("edited").set(slice);
    }
    answer(core.shiftSlice(back ? "edited" : "rom", back ? 0 : at, kSlice, result.amount));
    sendPart(core.output().slice());
    progress(at + kSlice, size);
  }
  return {};
}

// What a request wrote, handed to the page unless it was refused.
function written(result, core, sendPart) {
  if (!result.error) sendPart(core.output().slice());
  return result;
}

const requests = {
  hello: () => ({}),
  // Read here, in order with the requests after it.
  open: (core, { which, file }) => {
    readInto(core, which, file);
    sizes[which] = file.size;
    return which === "table" ? answer(core.loadTable(file.name)) : {};
  },
  find: (core, { request }) => answer(core.find(JSON.stringify(request))),
  hexView: (core, { index }) => answer(core.hexView(index)),
  guess: (core, { width, top }) => answer(core.guess(width, top)),
  dump: (core, { request }, sendPart) => written(answer(core.dump(JSON.stringify(request))), core, sendPart),
  pointers: (core, { request }) => answer(core.pointers(JSON.stringify(request))),
  dumpPointers: (core, { request }, sendPart) => written(answer(core.dumpPointers(JSON.stringify(request))), core, sendPart),
  openScript: (core, { name }) => answer(core.openScript(name)),
  // The rows checked, or with `write` the file with them in it.
  insertRows: (core, { request, write }, sendPart) => {
    const result = answer(core.insertRows(JSON.stringify(request), write));
    return write && !result.error && !result.problems.length ? written(result, core, sendPart) : result;
  },
  scriptText: (core, { request }, sendPart) => written(answer(core.scriptText(JSON.stringify(request))), core, sendPart),
  encode: (core, { text, end }) => answer(core.encode(text, end)),
  insertAt: (core, { request }, sendPart) => written(answer(core.insertAt(JSON.stringify(request))), core, sendPart),
  tableFromValues: (core, { request }) => answer(core.tableFromValues(JSON.stringify(request))),
  tiles: (core, { format, start, count }) => {
    const result = answer(core.tiles(format, start, count));
    result.pixels = core.output().slice();
    return result;
  },
  tileLabels: (core, { first, count }) => answer(core.tileLabels(first, count)),
  withEntry: (core, { key, text }) => answer(core.withEntry(key, text)),
  fileFacts: (core, { crc }) => answer(core.fileFacts(crc)),
  fileRows: (core, { start, rows }) => answer(core.fileRows(start, rows)),
  // The files a patch is made or applied with, read here for each request;
  // the engine lets them go once it has used them.
  makePatch: (core, { request, translated }, sendPart) => {
    readInto(core, "second", translated);
    return written(answer(core.makePatch(JSON.stringify({ ...request, name: translated.name }))), core, sendPart);
  },
  applyPatch: (core, { request, rom, patch }, sendPart) => {
    readInto(core, "second", rom);
    readInto(core, "patch", patch);
    return written(answer(core.applyPatch(JSON.stringify({ ...request, rom: rom.name, patch: patch.name }))), core, sendPart);
  },
  shift,
};
onmessage = async ({ data: { id, op, args } }) => {
  // What a request writes goes to the page in parts, before its answer.
  const sendPart = (bytes) => postMessage({ id, part: bytes.buffer }, [bytes.buffer]);
  try {
    const core = await ready;
    postMessage({ id, result: requests[op](core, args, sendPart) });
  } catch (failure) {
    postMessage({ id, failure: failure instanceof Error ? failure.message : "the engine stopped with no word of why" });
  }
};
