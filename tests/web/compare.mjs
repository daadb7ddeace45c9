// Alternates loads of two builds of the page (OLD and NEW, folder URLs) and
// prints the second lap's frame of each and their ratio per pair; started by
// tests/web/compare.sh. The frame is taken as measure.mjs takes it.
import fs from 'node:fs';
import { closeChromium, launchChromium } from './chromium.mjs';

const LAP_KEYS = fs.readFileSync(process.env.LAP_KEYS, 'utf8');
const LAP_FRAMES = Number(process.env.LAP_FRAMES);
const PAIRS = Number(process.env.PAIRS || 8);
const RUN = 16;
const browser = await launchChromium();
const median = values => {
  const s = [...values].sort((a, b) => a - b);
  return s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
};
const query = '?' + new URLSearchParams({keys: LAP_KEYS + '\n1 esc\n', bench: '1'});
async function secondLap(site) {
  const page = await browser.newPage();
  await page.goto(`${site}/index.html${query}`);
  for (let g = 1; g <= 2; g++) {
    await page.waitForFunction(g => window.polydrive.state === 'over' && window.polydrive.games === g,
                               {polling: 20, timeout: 120000}, g);
    if (g < 2) await page.click('#again');
  }
  const times = (await page.evaluate(() => window.polydrive.frameTimes)).slice(LAP_FRAMES + 1, 2 * LAP_FRAMES + 1);
  await page.close();
  if (times.length !== LAP_FRAMES) throw new Error(`${times.length} frames, want ${LAP_FRAMES}`);
  const runs = [];
  for (let k = RUN; k < times.length; k += RUN) runs.push((times[k] - times[k - RUN]) / RUN);
  return median(runs) * 1000;
}
const ratios = [], olds = [], news = [];
for (let i = 0; i < PAIRS; i++) {
  let o, n;
  if (i % 2 === 0) { o = await secondLap(process.env.OLD); n = await secondLap(process.env.NEW); }
  else { n = await secondLap(process.env.NEW); o = await secondLap(process.env.OLD); }
  ratios.push(n / o);
  olds.push(o);
  news.push(n);
  console.log(`  pair ${i + 1}: old ${o.toFixed(1)} µs, new ${n.toFixed(1)} µs, ${(n / o).toFixed(3)}`);
}
console.log(`new / old, per pair: median ${median(ratios).toFixed(3)} ` +
            `(range ${Math.min(...ratios).toFixed(3)}-${Math.max(...ratios).toFixed(3)})`);
const spread = v => `median ${median(v).toFixed(1)}, fastest ${Math.min(...v).toFixed(1)} µs`;
console.log(`old: ${spread(olds)}; new: ${spread(news)}`);
await closeChromium(browser);
