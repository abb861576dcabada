// The worker: the core's module, and each request of the page answered with
// what the engine says, one after another in the order asked. Runs after the
// core's script in the same Blob.
"use strict";
const ready = GlyphoundCore({
  onProgress: (done, total) => postMessage({ progress: done / total }),
});
const answer = (text) => JSON.parse(text);
const kSlice = 16 << 20; // a file is read into the module's memory this much at a time
// What the last dump or shift wrote, copied out of the module's memory.
const withOutput = (core, result) => (result.error ? result : { ...result, bytes: core.output().slice() });
const requests = {
  hello: () => ({}),
  // Read here, in order with the requests after it, and never whole
  // outside the module.
  open: (core, { which, file }) => {
    const bytes = core.buffer(which, file.name, file.size);
    const reader = new FileReaderSync();
    for (let at = 0; at < file.size; at += kSlice) {
      bytes.set(new Uint8Array(reader.readAsArrayBuffer(file.slice(at, at + kSlice))), at);
      postMessage({ progress: Math.min(at + kSlice, file.size) / file.size });
    }
    return which === "table" ? answer(core.loadTable(file.name)) : {};
  },
  find: (core, { request }) => answer(core.find(JSON.stringify(request))),
  hexView: (core, { index }) => answer(core.hexView(index)),
  guess: (core, { width }) => answer(core.guess(width)),
  dump: (core) => withOutput(core, answer(core.dump())),
  shift: (core, { letterA, back }) => withOutput(core, answer(core.shift(letterA, back))),
};
onmessage = async ({ data: { id, op, args } }) => {
  try {
    const core = await ready;
    const result = requests[op](core, args);
    postMessage({ id, result }, result.bytes ? [result.bytes.buffer] : []);
  } catch (failure) {
    postMessage({ id, failure: String((failure && failure.message) || failure) });
  }
};
