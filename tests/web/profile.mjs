// Profiles the game's WebAssembly frame in headless Chromium (not a test: it
// prints figures). Started by tests/web/profile.sh, which serves a build
// linked with function names and passes SITE, LAP_KEYS and LOADS.
// The page plays the recorded lap without pacing or drawing (bench=1), then
// plays it again while the DevTools sampling profiler runs (the optimised
// code, as the measurement's second lap); the self time of each function over
// all loads is printed, largest first, as a share of the samples taken
// inside the WebAssembly module.
import fs from 'node:fs';
import { closeChromium, launchChromium } from './chromium.mjs';
import { lapQuery } from './lap.mjs';

const SITE = process.env.SITE;
const LAP_KEYS = fs.readFileSync(process.env.LAP_KEYS, 'utf8');
const LOADS = Number(process.env.LOADS || 3);
const TOP = Number(process.env.TOP || 30);

const browser = await launchChromium();
const self = new Map();
let total = 0;
const query = lapQuery(LAP_KEYS);
for (let i = 0; i < LOADS; i++) {
  const page = await browser.newPage();
  const cdp = await page.target().createCDPSession();
  await cdp.send('Profiler.enable');
  await cdp.send('Profiler.setSamplingInterval', {interval: 50});
  // The first lap untimed, as measure.mjs takes its figure from the second.
  await page.goto(`${SITE}/index.html${query}`);
  await page.waitForFunction(() => window.polydrive.state === 'over', {polling: 50, timeout: 120000});
  await cdp.send('Profiler.start');
  await page.click('#again');
  await page.waitForFunction(() => window.polydrive.state === 'over' && window.polydrive.games === 2,
                             {polling: 50, timeout: 120000});
  const {profile} = await cdp.send('Profiler.stop');
  await page.close();
  const byId = new Map(profile.nodes.map(n => [n.id, n]));
  const counts = new Map();
  for (const id of profile.samples) counts.set(id, (counts.get(id) || 0) + 1);
  for (const [id, n] of counts) {
    const node = byId.get(id);
    const url = node.callFrame.url || '';
    if (!url.includes('wasm')) continue;
    const name = node.callFrame.functionName || '(anonymous)';
    self.set(name, (self.get(name) || 0) + n);
    total += n;
  }
}
await closeChromium(browser);
const rows = [...self].sort((a, b) => b[1] - a[1]).slice(0, TOP);
console.log(`${total} samples in WebAssembly over ${LOADS} loads`);
for (const [name, n] of rows) console.log(`${((100 * n) / total).toFixed(1).padStart(5)}%  ${name}`);
