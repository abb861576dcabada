// The worker: the core's module, and each request of the page answered with
// what the engine says. Runs after the core's script in the same Blob.
"use strict";
const ready = GlyphoundCore({
  onProgress: (done, total) => postMessage({ progress: done / total }),
});
const answer = (text) => JSON.parse(text);
// What the last dump or shift wrote, copied out of the module's memory.
const withOutput = (core, result) => (result.error ? result : { ...result, bytes: core.output().slice() });
const requests = {
  hello: () => ({}),
  open: (core, { which, name, bytes }) => {
    core.buffer(which, name, bytes.byteLength).set(new Uint8Array(bytes));
    return which === "table" ? answer(core.loadTable(name)) : {};
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
