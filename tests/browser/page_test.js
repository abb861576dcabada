// The built page opened from disk in headless Chromium, against the native
// commands on the same files: its hits, table, text, shifted bytes and
// refusals must be theirs.
//   node page_test.js PAGE GLYPHOUND SAMPLE_DIR SCREENSHOT
// Exits 77 (skipped) when the page has not been built.
const assert = require("assert/strict");
const { execFileSync } = require("child_process");
const fs = require("fs");
const os = require("os");
const path = require("path");
const { openPage } = require("./chromium");

const [pagePath, glyphound, samples, screenshot] = process.argv.slice(2);
if (!fs.existsSync(pagePath)) {
  console.log(`skipped: no page at ${pagePath} (scripts/build-page.sh builds it)`);
  process.exit(77);
}
const work = fs.mkdtempSync(path.join(os.tmpdir(), "glyphound-page-"));
fs.copyFileSync(path.join(samples, "sample.rom"), path.join(work, "sample.rom"));
fs.writeFileSync(path.join(work, "bad.tbl"), "41=A\nnonsense\n");
fs.writeFileSync(path.join(work, "none.tbl"), "41=A\n"); // no run of it in the sample
fs.writeFileSync(path.join(work, "zeros.bin"), Buffer.alloc(16 << 20)); // AAA: a hit at every byte
// HELLO in 16-bit units, little-endian.
fs.writeFileSync(path.join(work, "hello16.bin"), Buffer.from(Uint16Array.from("HELLO", (c) => c.charCodeAt(0) + 0x100).buffer));
// The command's output, or its message after "glyphound[ COMMAND]: ".
const native = (...args) => execFileSync(glyphound, args, { cwd: work, stdio: ["ignore", "pipe", "pipe"], maxBuffer: 64 << 20 });
const refusal = (...args) => {
  try {
    native(...args);
  } catch (failed) {
    return failed.stderr.toString().split("\n")[0].replace(/^glyphound( \w+)?: /, "");
  }
  assert.fail(`${args.join(" ")} was not refused`);
};
const rom = path.join(work, "sample.rom");

// A font the test draws: an NES file whose one CHR bank holds 512 tiles of
// its own, each pixel's colour index a function of the tile and the place.
const drawn = Array.from({ length: 512 }, (_, tile) => Array.from({ length: 64 }, (_, at) =>
  ((at % 8) * (tile % 5 + 1) + (at >> 3) * (tile >> 5) + tile) % 4));
const nesPlanes = (tile) => {
  const bytes = Buffer.alloc(16);
  tile.forEach((index, at) => [0, 1].forEach((plane) => (bytes[plane * 8 + (at >> 3)] |= ((index >> plane) & 1) << (7 - (at % 8)))));
  return bytes;
};
const fontNes = path.join(work, "font.nes");
const prg = Buffer.alloc(16 << 10);
Buffer.from("HELLO THERE").forEach((c, at) => (prg[0x100 + at] = c === 32 ? 0 : c + 0x3f)); // 'A' at tile 80
fs.writeFileSync(fontNes, Buffer.concat([Buffer.from("NES\x1a\x01\x01", "latin1"), Buffer.alloc(10), prg, ...drawn.map(nesPlanes)]));
// The tile view's layout: tiles at 3x, 16 to a row, a band of 22 pixels
// under each for its number and text.
const kZoom = 3, kColumns = 16, kCell = 8 * kZoom, kBand = 22;
// The script's table: the hits' letters, a space, a full stop and an end token.
const scriptTable = () => native("table", "-o", "-", "HELLO", "sample.rom") + "5F= \n6D=.\n/FF=<END>\n";
const hexByte = (byte) => byte.toString(16).toUpperCase().padStart(2, "0");
// The text dump reads in a range of the sample, as the page's bytes show it:
// one run, a byte that no key reads as ".".
const tableReading = (table, start, end) => native("dump", "-t", table, "--start", start, "--end", end, "sample.rom").toString()
  .split("\n").filter(Boolean).map((line) => line.replace(/^0x[0-9A-F]+: /, "")).join("").replace(/<\$[0-9a-f]{2}>/g, ".");
// The grid's translation of a row, typed.
const translate = (row, text) => `(() => { const input = document.querySelectorAll("#script-grid tbody input")[${row}];
  input.value = ${JSON.stringify(text)}; input.dispatchEvent(new Event("input")); })()`;
const gridChecked = `!document.querySelector("#script-grid tbody tr td.bytes:empty") && document.body.dataset.state === "ready"`;

(async () => {
  const page = await openPage(pagePath, { downloads: path.join(work, "downloads") });
  const set = (values) =>
    page.evaluate(`for (const [id, value] of Object.entries(${JSON.stringify(values)}))
      document.getElementById(id).value = value`);
  await page.choose("#file", rom);

  const searches = [
    { words: ["HELLO"], args: [] },
    { words: ["HELLO", "GUARDS"], args: [] },
    { words: ["HELLO"], args: ["--match", "order"], controls: { match: "order" } },
  ];
  for (const { words, args, controls } of searches) {
    await set({ words: words.join("\n"), match: "", ...controls });
    await page.settle(`document.getElementById("find").click()`);
    const asked = [...args, ...words.flatMap((word) => ["-e", word]), "sample.rom"];
    const expected = native("find", "--json", ...asked).toString().trim().split("\n").map((line) => JSON.parse(line));
    const hits = await page.evaluate(`[...document.querySelectorAll("#hits tbody tr")].map((row) => row.dataset.json)`);
    assert.deepEqual(hits.map((line) => JSON.parse(line)), expected, `find ${asked.join(" ")}`);
    const { bytes: table } = await page.download(`document.getElementById("table-download").click()`);
    assert.deepEqual(table, native("table", "-o", "-", ...asked), `table ${asked.join(" ")}`);
  }

  // A table that table writes, read back: dump's text through it.
  fs.writeFileSync(path.join(work, "sample.tbl"), native("table", "-o", "-", "HELLO", "sample.rom"));
  await page.choose("#table-file", path.join(work, "sample.tbl"));
  await page.settle(`document.getElementById("dump").click()`);
  const { bytes: text } = await page.download(`document.getElementById("dump-download").click()`);
  assert.deepEqual(text, native("dump", "-t", "sample.tbl", "sample.rom"), "dump");
  // The tile view of a font the test drew: an NES file opens on its CHR
  // data, and every pixel in view is the tile's colour index in grey.
  await page.choose("#file", fontNes);
  assert.equal(await page.evaluate(`document.getElementById("tile-start").value`), "0x4010", "the view opens on CHR");
  const canvas = await page.evaluate(`(() => { const c = document.getElementById("tile-canvas");
    const data = c.getContext("2d").getImageData(0, 0, c.width, c.height).data;
    return { width: c.width, red: Array.from(data.filter((_, at) => at % 4 === 0)) }; })()`);
  for (let tile = 0; tile < kColumns * 12; ++tile)
    for (let y = 0; y < kCell; ++y)
      for (let x = 0; x < kCell; ++x) {
        const at = (Math.floor(tile / kColumns) * (kCell + kBand) + y) * canvas.width + (tile % kColumns) * kCell + x;
        const expected = drawn[tile][Math.floor(y / kZoom) * 8 + Math.floor(x / kZoom)] * 85;
        if (canvas.red[at] !== expected) assert.fail(`tile ${tile}, pixel ${x},${y}: ${canvas.red[at]}, not ${expected}`);
      }
  // A table built by clicking a tile and typing, then typing on the next,
  // from none.
  await page.evaluate(`document.getElementById("table-text").value = "";
    document.getElementById("table-text").dispatchEvent(new Event("input"))`);
  await page.until(`document.getElementById("encode").disabled && document.body.dataset.state === "ready"`);
  await page.click("#tile-canvas", kCell / 2, 8 * (kCell + kBand) + kCell / 2); // tile 80
  await page.until(`document.activeElement.id === "tile-text"`);
  for (const key of ["A", "Enter"]) await page.press(key);
  await page.until(`document.activeElement.id === "tile-canvas" && document.body.dataset.state === "ready"`);
  for (const key of ["B", "Enter"]) await page.press(key);
  await page.until(`document.getElementById("table-text").value.includes("81=B") && document.body.dataset.state === "ready"`);
  assert.equal(await page.evaluate(`document.getElementById("table-text").value`), "80=A\n81=B\n", "a table by tiles");
  // After a search, the font shows from where 'A' sits.
  await set({ words: "HELLO", match: "" });
  await page.settle(`document.getElementById("find").click()`);
  await page.settle(`document.getElementById("show-font").click()`);
  assert.match(await page.evaluate(`document.getElementById("tile-info").textContent`), /^Tile 80 at 0x4810, which the table reads as "A"/);
  if (screenshot) {
    // The whole alphabet from the value of A, its letters under the tiles,
    // and the script of the file.
    await set({ "values-A": "0x80" });
    await page.settle(`document.getElementById("values-table").click()`);
    await page.settle(`document.querySelector("#hits tbody button").click()`);
    await page.settle(`document.getElementById("dump-script").click()`);
    await page.settle(`document.getElementById("show-font").click()`);
    await page.screenshot(screenshot, 1000);
  }

  // A script read, edited in the grid and inserted: the ROM it downloads is
  // what insert --script writes from the script it downloads. A text that
  // overflows is marked, and keeps the ROM from being written.
  await page.choose("#file", rom);
  fs.writeFileSync(path.join(work, "script.tbl"), scriptTable());
  await page.choose("#table-file", path.join(work, "script.tbl"));
  await page.settle(`document.getElementById("dump-script").click()`);
  await page.evaluate(translate(0, "HI THERE.<END>"));
  await page.evaluate(translate(1, "WELCOME TO THE VERY BIG CASTLE OF GLYPHS.<END>"));
  await page.until(`document.querySelectorAll("#script-grid tr.wrong").length === 1 && ${gridChecked}`);
  const scriptOf = async () => {
    const { bytes, name } = await page.download(`document.getElementById("script-download").click()`);
    fs.writeFileSync(path.join(work, name), bytes);
    return name;
  };
  const overflowing = await scriptOf();
  await page.settle(`document.getElementById("script-insert").click()`);
  const problems = await page.evaluate(`[...document.querySelectorAll("#script-problems li")].map((item) => item.textContent)`);
  assert.deepEqual(problems, [refusal("insert", "-t", "script.tbl", "--script", overflowing, "sample.rom", "out.rom")], "overflow");
  await page.evaluate(translate(1, "WELCOME TO GLYPHS.<END>"));
  await page.until(`document.querySelectorAll("#script-grid tr.wrong").length === 0 && ${gridChecked}`);
  const script = await scriptOf();
  const inserted = await page.download(`document.getElementById("script-insert").click()`);
  assert.deepEqual(inserted, { bytes: native("insert", "-t", "script.tbl", "--script", script, "sample.rom", "-"),
    name: "sample.translated.rom" }, "insert --script");

  // The work comes back when the same ROM opens after a reload.
  await page.reload();
  await page.choose("#file", rom);
  const back = await page.evaluate(`({ table: document.getElementById("table-text").value,
    first: document.querySelector("#script-grid tbody input").value })`);
  // A text area keeps line ends as LF.
  assert.deepEqual(back, { table: scriptTable().replace(/\r/g, ""), first: "HI THERE.<END>" }, "the work kept");

  // Each command's face gives what the command gives: shown, downloaded, or
  // made the open table.
  const shown = (id) => page.evaluate(`document.getElementById("${id}").value`);
  // The file's bytes once the second hit's offset is picked: the bytes, the
  // offsets of those marked, and the text beside them.
  const bytesAtSecondHit = async () => {
    await page.settle(`document.getElementById("find").click()`);
    await page.settle(`document.querySelectorAll("#hits tbody button")[1].click()`);
    return page.evaluate(`(() => { const cells = [...document.querySelectorAll("#file-bytes td:not(.text)")];
      const start = parseInt(document.querySelector("#file-bytes th").textContent, 16);
      return { bytes: cells.map((cell) => cell.textContent).join(" "),
        marked: cells.flatMap((cell, at) => cell.className === "in-hit" ? [start + at] : []),
        text: [...document.querySelectorAll("#file-bytes td.text")].map((cell) => cell.textContent).join("") }; })()`);
  };
  // The tables of pointers in sample/pointers.nes, read through the table
  // README makes for it; the first table found fills dump --pointers.
  fs.copyFileSync(path.join(samples, "pointers.nes"), path.join(work, "pointers.nes"));
  const gameTable = native("table", "-o", "-", "HELLO", "pointers.nes") + "5F= \r\n60=!\r\n6B=,\r\n6D=.\r\n7E=?\r\n/FF=<END>\r\n";
  fs.writeFileSync(path.join(work, "game.tbl"), gameTable);
  const pointersOfNes = async () => {
    await page.choose("#file", path.join(work, "pointers.nes"));
    await set({ "table-text": gameTable });
    await page.settle(`document.getElementById("table-text").dispatchEvent(new Event("input"))`);
    await page.settle(`document.getElementById("pointers").click()`);
    await page.settle(`document.getElementById("pointed-dump").click()`);
    return page.evaluate(`({ pointers: document.getElementById("pointers-result").textContent,
      dump: document.getElementById("pointed-result").textContent })`);
  };
  const faces = [
    { what: "encode --end", controls: { "encode-text": "HI THERE." }, act: `document.getElementById("encode-end").checked = true;
      document.getElementById("encode").click()`, result: () => shown("encode-hex"),
      expected: native("encode", "-t", "script.tbl", "--end", "HI THERE.").toString().trim() },
    { what: "dump --start --end", controls: { "dump-start": "0x200", "dump-end": "0x230" }, act: `document.getElementById("dump").click()`,
      download: "dump-download", expected: native("dump", "-t", "script.tbl", "--start", "0x200", "--end", "0x230", "sample.rom") },
    { what: "insert --at", controls: { "at-offset": "0x200", "at-text": "HI.<END>" }, download: "at-insert",
      expected: native("insert", "-t", "script.tbl", "--at", "0x200", "HI.<END>", "sample.rom", "-") },
    { what: "shift --by", controls: { "shift-a": "", "shift-by": "-63" }, download: "shift-download",
      expected: native("shift", "--by", "-63", "sample.rom", "-") },
    { what: "table --A", controls: { "values-A": "0x80" }, act: `document.getElementById("values-table").click()`,
      result: () => shown("table-text"), expected: native("table", "-o", "-", "--A", "0x80").toString().replace(/\r/g, "") },
    { what: "the file's bytes at a hit, read through the open table", controls: { words: "HELLO", "table-text": scriptTable() },
      act: `document.getElementById("table-text").dispatchEvent(new Event("input"))`, result: bytesAtSecondHit,
      expected: { bytes: [...fs.readFileSync(rom).subarray(0x230, 0x330)].map(hexByte).join(" "),
        marked: [0x252, 0x253, 0x254, 0x255, 0x256], text: tableReading("script.tbl", "0x230", "0x330") } },
    { what: "pointers, and dump --pointers of the first table", controls: {}, result: pointersOfNes,
      expected: { pointers: native("pointers", "-t", "game.tbl", "pointers.nes").toString(),
        dump: native("dump", "-t", "game.tbl", "--map", "nes", "--pointers", "0x810:6", "pointers.nes").toString() } },
  ];
  for (const { what, controls, act, download, result, expected } of faces) {
    await set(controls);
    if (act) await page.settle(act);
    const got = download ? (await page.download(`document.getElementById("${download}").click()`)).bytes : await result();
    assert.deepEqual(got, expected, what);
  }
  await set({ "dump-start": "", "dump-end": "", "shift-by": "" });

  // Patches of a ROM of 32 MiB, made and applied in the page. The BPS patch
  // to a copy with a few edits and a block moved is patch create's, and
  // patch apply makes the copy from it; IPS refuses a change past 16 MiB. On
  // Apply, the original behind a copier header is refused in patch apply's
  // words, and patched once the page's offer to strip the header is taken.
  const original = Buffer.alloc(32 << 20);
  for (let at = 0; at < original.length; at += 4) original.writeUInt32LE(Math.imul(at, 2654435761) >>> 0, at);
  const modified = Buffer.from(original);
  original.copy(modified, 0x1800000, 0x20000, 0x30000);
  modified.write("HELLO", 0x100);
  modified.write("WORLD", 0x1234567);
  fs.writeFileSync(path.join(work, "original.bin"), original);
  fs.writeFileSync(path.join(work, "modified.bin"), modified);
  fs.writeFileSync(path.join(work, "headered.bin"), Buffer.concat([Buffer.alloc(512, 0xaa), original]));
  await page.choose("#file", path.join(work, "original.bin"));
  await page.choose("#patch-translated", path.join(work, "modified.bin"));
  await set({ "patch-format": "bps", "patch-metadata": "by the test" });
  const made = await page.download(`document.getElementById("patch-make").click()`);
  assert.deepEqual(made, { bytes: native("patch", "create", "--format", "bps", "--metadata", "by the test", "original.bin", "modified.bin",
    "-o", "-"), name: "original.bps" }, "patch create");
  fs.writeFileSync(path.join(work, "made.bps"), made.bytes);
  assert.ok(native("patch", "apply", "made.bps", "original.bin", "-o", "-").equals(modified), "patch apply of the page's patch");
  await set({ "patch-format": "ips", "patch-metadata": "" });
  await page.settle(`document.getElementById("patch-make").click()`);
  assert.equal(await page.evaluate(`document.getElementById("patch-translated-error").textContent`),
    refusal("patch", "create", "--format", "ips", "original.bin", "modified.bin", "-o", "-"), "IPS past 16 MiB");
  await page.choose("#apply-rom", path.join(work, "headered.bin"));
  await page.choose("#apply-patch", path.join(work, "made.bps"));
  await page.settle(`document.getElementById("apply-download").click()`);
  const offer = `[document.getElementById("apply-rom-error").textContent, document.getElementById("apply-strip-choice").hidden]`;
  assert.deepEqual(await page.evaluate(offer), [refusal("patch", "apply", "made.bps", "headered.bin", "-o", "-"), false],
    "a ROM the patch is not for, and the offer to strip its header");
  await page.evaluate(`document.getElementById("apply-strip").click()`);
  const applied = await page.download(`document.getElementById("apply-download").click()`);
  assert.ok(applied.bytes.equals(modified), "the page's patch applied in the page");
  assert.equal(applied.name, "headered.patched.bin");
  await page.choose("#file", rom);

  // Every control labelled, and the rest of what axe-core checks.
  const axe = path.join(__dirname, "node_modules", "axe-core", "axe.min.js");
  assert.ok(fs.existsSync(axe), "axe-core is missing: scripts/setup.sh page installs it");
  await page.evaluate(fs.readFileSync(axe, "utf8"));
  const violations = await page.evaluate(`axe.run(document).then((result) => result.violations.map((violation) =>
    violation.id + ": " + violation.nodes.map((node) => node.target.join(" ")).join(", ")))`);
  assert.deepEqual(violations, [], "accessibility");

  await set({ "shift-a": "128" });
  const shifted = await page.download(`document.getElementById("shift-download").click()`);
  assert.deepEqual(shifted, { bytes: native("shift", "--A", "128", "sample.rom", "-"), name: "sample.shifted.rom" }, "shift");
  // The same file edited twice, saved under its name and chosen again each
  // time: the second edit too reaches the file shifted back.
  for (const [at, letter] of [[0x200, "J"], [0x204, "Y"]]) {
    shifted.bytes[at] = letter.charCodeAt(0); // HELLO becomes JELLO, then JELLY
    fs.writeFileSync(path.join(work, "edited.bin"), shifted.bytes);
    await page.choose("#edited-file", path.join(work, "edited.bin"));
    const back = await page.download(`document.getElementById("shift-back-download").click()`);
    const expected = native("shift", "--back", "--A", "128", "edited.bin", "-");
    assert.deepEqual(back, { bytes: expected, name: "sample.out.rom" }, `shift back with ${letter}`);
  }

  const refusals = [
    { control: "words", act: () => set({ words: "AB", match: "" }), click: "find", args: ["find", "AB", "sample.rom"] },
    { control: "table-file", act: () => page.choose("#table-file", path.join(work, "bad.tbl")),
      args: ["dump", "-t", "bad.tbl", "sample.rom"] },
  ];
  for (const { control, act, click, args } of refusals) {
    await act();
    if (click) await page.settle(`document.getElementById("${click}").click()`);
    const shown = await page.evaluate(`document.getElementById("${control}-error").textContent`);
    assert.equal(shown, refusal(...args), args.join(" "));
  }

  // What the page shows after each step; a RegExp expects a text that matches.
  const state = () => page.evaluate(`({
    hits: document.querySelectorAll("#hits tbody tr").length,
    a: document.getElementById("shift-a").value,
    table: !document.getElementById("table-download").disabled,
    dump: document.getElementById("dump-status").textContent,
  })`);
  const search = (words, width = "") => async () => {
    await set({ words, width, match: "" });
    await page.settle(`document.getElementById("find").click()`);
  };
  const steps = [
    { what: "a search that fills the value of A", act: search("HELLO"), expect: { hits: 2, a: "0x80" } },
    { what: "Cancel forgets the hits the fresh engine can't open",
      act: () => page.settle(`document.getElementById("find").click(); document.getElementById("cancel").click()`),
      expect: { hits: 0 } },
    { what: "another file forgets the value of A the page filled",
      act: () => page.choose("#file", path.join(work, "hello16.bin")), expect: { a: "" } },
    { what: "a 16-bit search fills no value of A", act: search("HELLO", "16le"), expect: { hits: 1, a: "" } },
    { what: "a file opened during a search ends it and shows nothing of the old file",
      act: async () => {
        await page.choose("#file", path.join(work, "zeros.bin"));
        await set({ words: "AAA", width: "" });
        await page.evaluate(`document.getElementById("find").click()`);
        await page.choose("#file", rom);
      },
      expect: { hits: 0, a: "", table: false } },
    { what: "a dump that finds no text says so, as dump's status 1 does",
      act: async () => {
        assert.throws(() => native("dump", "-t", "none.tbl", "sample.rom"), { status: 1 });
        await page.choose("#table-file", path.join(work, "none.tbl"));
        await page.settle(`document.getElementById("dump").click()`);
      },
      expect: { dump: /^No text found/ } },
  ];
  for (const { what, act, expect } of steps) {
    await act();
    const now = await state();
    for (const [key, value] of Object.entries(expect))
      if (value instanceof RegExp) assert.match(now[key], value, what);
      else assert.equal(now[key], value, `${what}: ${key}`);
  }

  // A search of 1 GiB shows its progress, and Cancel ends it with the page
  // ready for the next. The file is 1 GiB of zeros, where AAA is a hit at
  // every byte, and HELLO in the sample's letters near its end.
  const big = path.join(work, "big.bin");
  fs.writeFileSync(big, "");
  fs.truncateSync(big, 1 << 30);
  const kHelloAt = (1 << 30) - 0x100;
  const bigFile = fs.openSync(big, "r+");
  fs.writeSync(bigFile, Buffer.from([..."HELLO"].map((c) => c.charCodeAt(0) + 0x3f)), 0, 5, kHelloAt);
  fs.closeSync(bigFile);
  await page.choose("#file", big);
  await set({ words: "AAA" });
  await page.evaluate(`document.getElementById("find").click()`);
  await page.until(`!document.getElementById("progress").hidden && document.getElementById("progress").value > 0`);
  await page.settle(`document.getElementById("cancel").click()`);
  assert.deepEqual(await page.evaluate(`[document.getElementById("status").textContent, document.querySelectorAll("#hits tbody tr").length]`),
    ["Cancelled.", 0], "a search of 1 GiB cancelled");
  await set({ words: "HELLO" });
  await page.settle(`document.getElementById("find").click()`);
  const bigHits = await page.evaluate(`[...document.querySelectorAll("#hits tbody tr")].map((row) => JSON.parse(row.dataset.json).offset)`);
  assert.deepEqual(bigHits, [kHelloAt], "a search after the cancel");

  // The same file shifts whole: the shift is written out in slices, never
  // as a second copy beside the file in the engine's memory.
  await set({ "shift-a": "128" });
  const bigShifted = await page.download(`document.getElementById("shift-download").click()`);
  const bigExpected = Buffer.alloc(1 << 30, 0xc1);
  bigExpected.write("HELLO", kHelloAt);
  assert.ok(bigShifted.bytes.equals(bigExpected), "shift of 1 GiB");
  fs.rmSync(big);

  // Words from a file and an order from a file: the hits of find -f and
  // --order FILE.
  fs.copyFileSync(path.join(samples, "kana.bin"), path.join(work, "kana.bin"));
  fs.writeFileSync(path.join(work, "kana.words"), "ぼうけん\r\nこんにちは\r\n");
  fs.writeFileSync(path.join(work, "kana.order"), String.fromCodePoint(...Array.from({ length: 0x53 }, (_, at) => 0x3041 + at)) + "\n");
  await page.choose("#file", path.join(work, "kana.bin"));
  await set({ words: "", width: "16be" });
  await page.choose("#order-file", path.join(work, "kana.order"));
  await page.choose("#word-file", path.join(work, "kana.words"));
  await page.until(`document.getElementById("words").value !== ""`);
  await page.settle(`document.getElementById("find").click()`);
  const kanaHits = await page.evaluate(`[...document.querySelectorAll("#hits tbody tr")].map((row) => JSON.parse(row.dataset.json))`);
  const kanaFound = native("find", "--json", "--width", "16be", "--order", "kana.order", "-f", "kana.words", "kana.bin");
  assert.deepEqual(kanaHits, kanaFound.toString().trim().split("\n").map((line) => JSON.parse(line)), "find -f --order FILE");

  assert.deepEqual(page.outside, [], "requests beyond the page's own file");
  await page.close();
  fs.rmSync(work, { recursive: true, force: true });
  console.log("page test: 1 passed, 0 failed");
})().catch((failure) => {
  console.error(failure.message);
  process.exit(1);
});
