// Prints the median seconds of a find of one word over FILE in the page,
// timed inside the page:  node bench_page.js PAGE FILE [WORD] [ROUNDS]
const { openPage } = require("./chromium");

(async () => {
  const [pagePath, file, word = "HELLO", rounds = "7"] = process.argv.slice(2);
  const page = await openPage(pagePath);
  await page.choose("#file", file);
  await page.evaluate(`document.getElementById("words").value = ${JSON.stringify(word)}`);
  const seconds = [];
  for (let round = 0; round < Number(rounds); ++round) {
    await page.settle(`document.getElementById("find").click()`);
    seconds.push(Number(await page.evaluate(`document.getElementById("status").dataset.seconds`)));
  }
  await page.close();
  seconds.sort((a, b) => a - b);
  console.log(seconds[seconds.length >> 1].toFixed(3));
})().catch((failure) => {
  console.error(failure.message);
  process.exit(1);
});
