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
// The command's output, or its message after "glyphound[ COMMAND]: ".
const native = (...args) => execFileSync(glyphound, args, { cwd: work, stdio: ["ignore", "pipe", "pipe"] });
const refusal = (...args) => {
  try {
    native(...args);
  } catch (failed) {
    return failed.stderr.toString().split("\n")[0].replace(/^glyphound( \w+)?: /, "");
  }
  assert.fail(`${args.join(" ")} was not refused`);
};
const rom = path.join(work, "sample.rom");

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
    const table = await page.download(`document.getElementById("table-download").click()`);
    assert.deepEqual(table, native("table", "-o", "-", ...asked), `table ${asked.join(" ")}`);
  }

  // A table that table writes, read back: dump's text through it.
  fs.writeFileSync(path.join(work, "sample.tbl"), native("table", "-o", "-", "HELLO", "sample.rom"));
  await page.choose("#table-file", path.join(work, "sample.tbl"));
  await page.settle(`document.getElementById("dump").click()`);
  const text = await page.download(`document.getElementById("dump-download").click()`);
  assert.deepEqual(text, native("dump", "-t", "sample.tbl", "sample.rom"), "dump");
  if (screenshot) {
    await set({ words: "HELLO\nGUARDS", match: "" });
    await page.settle(`document.getElementById("find").click()`);
    await page.settle(`document.querySelector("#hits tbody button").click()`);
    await page.settle(`document.getElementById("guess").click()`);
    await page.screenshot(screenshot, 1000);
  }

  await set({ "shift-a": "128" });
  const shifted = await page.download(`document.getElementById("shift-download").click()`);
  assert.deepEqual(shifted, native("shift", "--A", "128", "sample.rom", "-"), "shift");
  shifted[0x200] = "J".charCodeAt(0); // an edit: HELLO becomes JELLO
  fs.writeFileSync(path.join(work, "edited.bin"), shifted);
  await page.choose("#edited-file", path.join(work, "edited.bin"));
  const back = await page.download(`document.getElementById("shift-back-download").click()`);
  assert.deepEqual(back, native("shift", "--back", "--A", "128", "edited.bin", "-"), "shift back");

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

  assert.deepEqual(page.outside, [], "requests beyond the page's own file");
  await page.close();
  fs.rmSync(work, { recursive: true, force: true });
  console.log("page test: 1 passed, 0 failed");
})().catch((failure) => {
  console.error(failure.message);
  process.exit(1);
});
