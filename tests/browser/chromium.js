// Debian's Chromium, headless with a fresh profile and nothing that reaches
// the network, driven over the DevTools protocol on a pipe: no package to
// install. Opens the page from disk and drives it as a person would.
const { spawn } = require("child_process");
const fs = require("fs");
const os = require("os");
const path = require("path");

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function openPage(pagePath, { downloads } = {}) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), "glyphound-chromium-"));
  const chromium = spawn(process.env.CHROMIUM || "/usr/bin/chromium", ["--headless", "--no-sandbox", "--disable-gpu",
    "--disable-quic", "--no-first-run", "--disable-background-networking", "--disable-component-update",
    "--disable-sync", "--remote-debugging-pipe", `--user-data-dir=${profile}`, "about:blank"],
    { stdio: ["ignore", "ignore", "ignore", "pipe", "pipe"] });
  // Messages are JSON, each ended by a NUL byte.
  let nextId = 1, received = "";
  const waiting = new Map(), listeners = [];
  chromium.stdio[4].on("data", (chunk) => {
    const parts = (received + chunk.toString("utf8")).split("\0");
    received = parts.pop();
    for (const message of parts.map((part) => JSON.parse(part))) {
      if (!message.id) listeners.forEach((listen) => listen(message));
      else if (message.error) waiting.get(message.id).reject(new Error(message.error.message));
      else waiting.get(message.id).resolve(message.result);
    }
  });
  const send = (method, params = {}, sessionId) =>
    new Promise((resolve, reject) => {
      const id = nextId++;
      waiting.set(id, { resolve, reject });
      chromium.stdio[3].write(JSON.stringify({ id, method, params, sessionId }) + "\0");
    });
  const { targetId } = await send("Target.createTarget", { url: "about:blank" });
  const { sessionId } = await send("Target.attachToTarget", { targetId, flatten: true });
  const page = (method, params) => send(method, params, sessionId);
  // Every request the page makes beyond its own file, blobs and data.
  const outside = [];
  listeners.push(({ method, params }) => {
    if (method === "Runtime.exceptionThrown") console.error("page error:", params.exceptionDetails);
    if (method === "Network.requestWillBeSent" && !/^(file|blob|data):/.test(params.request.url))
      outside.push(params.request.url);
  });
  await page("Runtime.enable");
  await page("Network.enable");
  // Each download is saved under its guid, so that names never clash.
  if (downloads) fs.mkdirSync(downloads, { recursive: true });
  if (downloads) await send("Browser.setDownloadBehavior", { behavior: "allowAndName", downloadPath: downloads, eventsEnabled: true });

  const evaluate = async (expression) => {
    const { result, exceptionDetails } = await page("Runtime.evaluate", { expression, returnByValue: true, awaitPromise: true });
    if (exceptionDetails) throw new Error(`${expression}: ${exceptionDetails.exception?.description}`);
    return result.value;
  };
  const until = async (expression, seconds = 60) => {
    for (const end = Date.now() + seconds * 1000; Date.now() < end; await sleep(20)) if (await evaluate(expression)) return;
    throw new Error("timed out waiting for " + expression);
  };
  const ready = "document.body.dataset.state === 'ready'";
  // What the page says in its statuses and beside its controls.
  const saying = `[...document.querySelectorAll("[role=status], .error")].map((said) => said.textContent).join(" ")`;
  // Runs what a click starts and waits until the page is ready again.
  const settle = async (expression) => {
    await evaluate(`document.body.dataset.state = 'clicked'; ${expression}`);
    await until(ready, 600);
  };
  const choose = async (selector, file) => {
    const { root } = await page("DOM.getDocument");
    const { nodeId } = await page("DOM.querySelector", { nodeId: root.nodeId, selector });
    // Heard after the page's own listener, which starts what the choice does;
    // a choice that fires no change fails here, not after a long wait.
    await evaluate(`window.chosen = false;
      document.querySelector(${JSON.stringify(selector)}).addEventListener("change", () => (window.chosen = true), { once: true })`);
    await page("DOM.setFileInputFiles", { nodeId, files: [path.resolve(file)] });
    await until("window.chosen", 10);
    await until(ready, 600);
  };
  // The file a click downloads and the name the page gave it, once written
  // whole and the page is ready; a click that downloads nothing fails with
  // what the page says.
  const download = async (expression) => {
    let name = null;
    const saved = new Promise((resolve) => {
      const listen = ({ method, params }) => {
        if (method === "Browser.downloadWillBegin") name = params.suggestedFilename;
        if (method !== "Browser.downloadProgress" || params.state !== "completed") return;
        listeners.splice(listeners.indexOf(listen), 1);
        resolve(path.join(downloads, params.guid));
      };
      listeners.push(listen);
    });
    await evaluate(expression);
    await until(ready, 600);
    for (const end = Date.now() + 10000; name === null; await sleep(20))
      if (Date.now() > end) throw new Error("no download: " + (await evaluate(saying)));
    return { bytes: fs.readFileSync(await saved), name };
  };
  // A click at a point of an element, and keys pressed, as a person's.
  const click = async (selector, x, y) => {
    const box = await evaluate(`(() => { const element = document.querySelector(${JSON.stringify(selector)});
      element.scrollIntoView({ block: "start" });
      const r = element.getBoundingClientRect();
      return { left: r.left, top: r.top }; })()`);
    for (const type of ["mousePressed", "mouseReleased"])
      await page("Input.dispatchMouseEvent", { type, x: box.left + x, y: box.top + y, button: "left", clickCount: 1 });
  };
  const codes = { Enter: 13, ArrowRight: 39, ArrowLeft: 37, ArrowUp: 38, ArrowDown: 40 };
  const press = async (key) => {
    const named = key in codes;
    const event = named ? { key, code: key, windowsVirtualKeyCode: codes[key] } : { key, text: key };
    await page("Input.dispatchKeyEvent", { type: named ? "rawKeyDown" : "keyDown", ...event });
    if (named && key === "Enter") await page("Input.dispatchKeyEvent", { type: "char", key, text: "\r" });
    await page("Input.dispatchKeyEvent", { type: "keyUp", ...event });
  };
  const reload = async () => {
    await page("Page.reload", {});
    await sleep(200);
    await until(`document.readyState === 'complete' && ${ready}`);
  };
  const screenshot = async (file, width) => {
    await page("Emulation.setDeviceMetricsOverride", { width, height: 800, deviceScaleFactor: 1, mobile: false });
    const { cssContentSize } = await page("Page.getLayoutMetrics");
    const height = Math.ceil(cssContentSize.height);
    await page("Emulation.setDeviceMetricsOverride", { width, height, deviceScaleFactor: 1, mobile: false });
    fs.writeFileSync(file, Buffer.from((await page("Page.captureScreenshot", { format: "png" })).data, "base64"));
  };
  const close = async () => {
    await send("Browser.close").catch(() => {});
    await new Promise((resolve) => (chromium.exitCode !== null ? resolve() : chromium.on("exit", resolve)));
    fs.rmSync(profile, { recursive: true, force: true });
  };

  await page("Page.navigate", { url: "file://" + path.resolve(pagePath) });
  await until(`document.readyState === 'complete' && ${ready}`);
  return { evaluate, until, settle, choose, download, screenshot, close, outside, click, press, reload };
}

module.exports = { openPage };
