// Alternates loads of two builds of the page (OLD and NEW, folder URLs) and
// prints the second lap's frame of each and their ratio per pair; started by
// tests/web/compare.sh. The frame is taken as measure.mjs takes it.
import fs from 'node:fs';
import { closeChromium, launchChromium } from './chromium.mjs';
import { lapQuery, median, playedLaps } from './lap.mjs';

const LAP_KEYS = fs.readFileSync(process.env.LAP_KEYS, 'utf8');
const LAP_FRAMES = Number(process.env.LAP_FRAMES);
const PAIRS = Number(process.env.PAIRS || 8);
const browser = await launchChromium();
async function secondLap(site) {
  const page = await browser.newPage();
  await page.goto(`${site}/index.html${lapQuery(LAP_KEYS)}`);
  const laps = await playedLaps(page, LAP_FRAMES, 2);
  await page.close();
  return laps[1].median;
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
