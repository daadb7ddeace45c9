// Measures the web page in headless Chromium (not a test: it prints figures).
// Started by tests/web/measure.sh, which serves the build on 127.0.0.1 and
// passes SITE (the page's folder URL, served cross-origin isolated so the
// clock reads to 5 µs), LAP_KEYS (the recorded lap's key script) and
// LAP_FRAMES (its length).
//   - game frames a second over 10 s of play, and over 55 s (drift);
//   - time from navigation to the first game frame (median of 5 loads);
//   - the time of one game frame in WebAssembly over the lap, drawing nothing,
//     beside the same frame natively (NATIVE_BENCH, bench_game's --lap-times)
//     taken the same way in the same run, the second of two laps: see below. The last lines are
//     "wasm frame <µs>", "native frame <µs>" and "paired ratio <x>", for
//     measure.sh.
import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import { closeChromium, launchChromium } from './chromium.mjs';
import { RUN, lapFigure, lapQuery, median, playedLaps } from './lap.mjs';

const SITE = process.env.SITE;
const LAP_KEYS = fs.readFileSync(process.env.LAP_KEYS, 'utf8');
const LAP_FRAMES = Number(process.env.LAP_FRAMES);
const LONG = process.env.LONG !== '0';
const LOADS = Number(process.env.LOADS || 9);
const NATIVE_BENCH = process.env.NATIVE_BENCH;

const browser = await launchChromium();
const sleep = ms => new Promise(resolve => setTimeout(resolve, ms));
async function open(query = '', from = browser) {
  const page = await from.newPage();
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
await closeChromium(browser);

// One frame of the lap, in WebAssembly and natively, paired load by load.
// Both sides give the wall-clock time at the end of every frame of the lap,
// and one function takes the figure from either: the frames in runs of 16,
// the median run's time per frame. A page load plays the lap twice, two
// games in a row, as does a native run (NATIVE_BENCH --lap-times 2: the same
// key script through the same game loop, headless); the figure is the second
// lap's. In a fresh page the first lap runs partly in the code of V8's
// baseline compiler, until the optimising compiler, in a background thread
// that the busy machine slows, has taken the hot functions over; a 60 s game
// spends a few hundred milliseconds so, the rest in the optimised code that
// the second lap measures. The first lap's figures are printed as well. A
// page load and a native run go back to back, in alternating order, so each
// pair sees the same load from the rest of the machine, and the ratio is
// taken per pair. Each page load has a browser of its own, closed before the
// native run, so that nothing of the browser runs beside the native lap.
const LAPS = 2;
let isolated = false;
// Each lap's figure, first to last.
async function pageLaps() {
  const own = await launchChromium();
  const page = await open(lapQuery(LAP_KEYS), own);
  const laps = await playedLaps(page, LAP_FRAMES, LAPS);
  isolated = await page.evaluate(() => window.crossOriginIsolated);
  await page.close();
  await closeChromium(own);
  return laps;
}
function nativeLaps() {
  const out = execFileSync(NATIVE_BENCH, ['--lap-times', String(LAPS)], {encoding: 'utf8', maxBuffer: 1 << 24});
  const lines = out.trim().split('\n');
  if (lines[0] !== `lap-times ${LAP_FRAMES} ${LAPS}`) throw new Error(`${NATIVE_BENCH} --lap-times: ${lines[0]}`);
  const ms = lines.slice(1).map(ns => Number(ns) / 1e6);
  return Array.from({length: LAPS}, (_, g) => lapFigure(ms.slice(g * LAP_FRAMES, (g + 1) * LAP_FRAMES), LAP_FRAMES));
}
const pairs = [];
for (let i = 0; i < LOADS; i++) {
  let wasm, native;
  if (i % 2 === 0) {
    wasm = await pageLaps();
    native = nativeLaps();
  } else {
    native = nativeLaps();
    wasm = await pageLaps();
  }
  const w = wasm[LAPS - 1].median, n = native[LAPS - 1].median;
  pairs.push({wasm, native, ratio: w / n, first: wasm[0].median / native[0].median});
  console.log(`  load ${i + 1}: WebAssembly ${w.toFixed(1)} µs, native ${n.toFixed(1)} µs, ${(w / n).toFixed(2)} x ` +
              `(first lap ${wasm[0].median.toFixed(1)} and ${native[0].median.toFixed(1)} µs)`);
}
const lap = (side, k, what = 'median') => median(pairs.map(p => p[side][k][what]));
const ratios = pairs.map(p => p.ratio);
const range = v => `${Math.min(...v).toFixed(2)}-${Math.max(...v).toFixed(2)}`;
console.log(`one frame of the lap in WebAssembly (clock ${isolated ? '5' : '100'} µs): median ${lap('wasm', LAPS - 1).toFixed(1)} µs ` +
            `(runs of ${RUN} frames, median of ${LOADS} loads), mean ${lap('wasm', LAPS - 1, 'mean').toFixed(1)} µs; ` +
            `first lap ${lap('wasm', 0).toFixed(1)} µs`);
console.log(`the same natively (the game loop, headless, wall clock): median ${lap('native', LAPS - 1).toFixed(1)} µs, ` +
            `mean ${lap('native', LAPS - 1, 'mean').toFixed(1)} µs; first lap ${lap('native', 0).toFixed(1)} µs`);
console.log(`WebAssembly / native, per pair: median ${median(ratios).toFixed(2)} x (range ${range(ratios)}); ` +
            `first lap ${median(pairs.map(p => p.first)).toFixed(2)} x (range ${range(pairs.map(p => p.first))})`);
console.log(`wasm frame ${lap('wasm', LAPS - 1).toFixed(2)}`);
console.log(`native frame ${lap('native', LAPS - 1).toFixed(2)}`);
console.log(`paired ratio ${median(ratios).toFixed(3)}`);
