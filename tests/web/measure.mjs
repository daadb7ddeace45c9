// Measures the web page in headless Chromium (not a test: it prints figures).
// Started by tests/web/measure.sh, which serves the build on 127.0.0.1 and
// passes SITE (the page's folder URL, served cross-origin isolated so the
// clock reads to 5 µs), LAP_KEYS (the recorded lap's key script) and
// LAP_FRAMES (its length).
//   - game frames a second over 10 s of play, and over 55 s (drift);
//   - time from navigation to the first game frame (median of 5 loads);
//   - the time of one game frame in WebAssembly over the lap, drawing nothing
//     (as bench_game measures the native frame): the lap's frames in runs of
//     16, the median run's time per frame (which a 5 µs clock resolves to a
//     third of a microsecond, and which the rare frame the busy machine takes
//     the thread away in does not move), median over LOADS loads (9 by
//     default: on a shared machine a load's figure swings by a third). The last line
//     is "wasm frame <µs>", for measure.sh.
import fs from 'node:fs';
import { closeChromium, launchChromium } from './chromium.mjs';

const SITE = process.env.SITE;
const LAP_KEYS = fs.readFileSync(process.env.LAP_KEYS, 'utf8');
const LAP_FRAMES = Number(process.env.LAP_FRAMES);
const LONG = process.env.LONG !== '0';
const LOADS = Number(process.env.LOADS || 9);

const browser = await launchChromium();
const median = values => {
  const s = [...values].sort((a, b) => a - b);
  return s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
};
const sleep = ms => new Promise(resolve => setTimeout(resolve, ms));
async function open(query = '') {
  const page = await browser.newPage();
  await page.setViewport({width: 1280, height: 800});
  await page.goto(`${SITE}/index.html${query}`);
  return page;
}
const sample = page => page.evaluate(() => [window.polydrive.frame, performance.now(), window.Module.webPace.skipped]);

// Pace.
async function pace(seconds) {
  const page = await open(seconds > 50 ? '?seconds=600' : '');
  await page.waitForFunction(() => window.polydrive.frame >= 10, {polling: 20});
  const [f0, t0, s0] = await sample(page);
  await sleep(seconds * 1000);
  const [f1, t1, s1] = await sample(page);
  await page.close();
  return {frames: f1 - f0, ms: t1 - t0, fps: ((f1 - f0) * 1000) / (t1 - t0), skipped: s1 - s0};
}
const short = await pace(10);
console.log(`game frames a second over ${(short.ms / 1000).toFixed(2)} s: ${short.fps.toFixed(2)} ` +
            `(${short.frames} frames; ${short.skipped} skipped after stalls)`);
if (LONG) {
  const long = await pace(55);
  const want = (long.ms / 1000) * 70.086;
  console.log(`over ${(long.ms / 1000).toFixed(2)} s: ${long.frames} frames, ${want.toFixed(1)} due at 70.086 Hz ` +
              `(${(long.frames - want).toFixed(1)} off; ${long.skipped} skipped after stalls), ${long.fps.toFixed(3)} a second`);
}

// Navigation to the first frame.
const firsts = [];
for (let i = 0; i < 5; i++) {
  const page = await open();
  await page.waitForFunction(() => window.polydrive.firstFrameMs !== null, {polling: 10});
  firsts.push(await page.evaluate(() => window.polydrive.firstFrameMs));
  await page.close();
}
console.log(`navigation to first frame: median ${median(firsts).toFixed(0)} ms (${firsts.map(t => t.toFixed(0)).join(', ')})`);

// One frame of the lap in WebAssembly.
const query = '?' + new URLSearchParams({keys: LAP_KEYS + '\n1 esc\n', bench: '1'});
const RUN = 16;
const medians = [];
const means = [];
let isolated = false;
for (let i = 0; i < LOADS; i++) {
  const page = await open(query);
  await page.waitForFunction(() => window.polydrive.state === 'over', {polling: 50, timeout: 120000});
  // The lap's frames; then Escape, held for one more frame, ends the game.
  const times = (await page.evaluate(() => window.polydrive.frameTimes)).slice(0, LAP_FRAMES);
  isolated = await page.evaluate(() => window.crossOriginIsolated);
  await page.close();
  if (times.length !== LAP_FRAMES) throw new Error(`${times.length} frames, want ${LAP_FRAMES}`);
  const runs = [];
  for (let k = RUN; k < times.length; k += RUN) runs.push((times[k] - times[k - RUN]) / RUN);
  medians.push(median(runs) * 1000);
  means.push(((times[times.length - 1] - times[0]) / (times.length - 1)) * 1000);
}
console.log(`one frame of the lap in WebAssembly (clock ${isolated ? '5' : '100'} µs): median ${median(medians).toFixed(1)} µs ` +
            `(runs of ${RUN} frames; loads: ${medians.map(m => m.toFixed(1)).join(', ')}), mean ${median(means).toFixed(1)} µs`);
console.log(`wasm frame ${median(medians).toFixed(2)}`);
await closeChromium(browser);
