// The web page in headless Chromium against the native recorder's frames.
// Started by tests/web/run.sh, which serves the build on 127.0.0.1 and passes:
//   SITE      URL of the page's folder          BROKEN  URL of the broken-level page
//   REF       folder of the recorder's frames as raw RGB (frame_00001.rgb, ...)
//   LAP_KEYS  the recorded lap's key script     LAP_FRAMES  its frame count
//   FATAL     the line the native game prints for the broken level
//   SITE_DIR  the page's folder on disk, opened once from file://
// Prints one line per check and "N passed, N failed"; exits 1 on a failure.
import fs from 'node:fs';
import path from 'node:path';
import { closeChromium, launchChromium } from './chromium.mjs';

const env = name => {
  if (!process.env[name]) throw new Error(`${name} is not set`);
  return process.env[name];
};
const SITE = env('SITE');
const BROKEN = env('BROKEN');
const REF = env('REF');
const LAP_KEYS = fs.readFileSync(env('LAP_KEYS'), 'utf8');
const LAP_FRAMES = Number(env('LAP_FRAMES'));
const FATAL = env('FATAL');
const SITE_DIR = env('SITE_DIR');

const browser = await launchChromium();
const origin = new URL(SITE).origin;
const foreign = [];

async function open(url, viewport = {width: 1280, height: 800}) {
  const page = await browser.newPage();
  await page.setViewport(viewport);
  page.on('request', request => {
    const u = request.url();
    if (!u.startsWith(origin + '/') && !u.startsWith('data:')) foreign.push(u);
  });
  page.on('pageerror', error => console.log(`  page error: ${error}`));
  await page.goto(url);
  return page;
}

// Waits for test(arg) to hold in the page; a timeout tells the page's state.
const until = (page, test, arg, timeout = 20000) =>
  page.waitForFunction(test, {timeout, polling: 20}, arg).catch(async error => {
    const state = await page.evaluate(() => {
      const {state, games, frame, ended, fatal, pausedAt, keyLog} = window.polydrive;
      return JSON.stringify({state, games, frame, ended, fatal, pausedAt, keys: keyLog.join(' ')});
    }).catch(() => 'unknown');
    throw new Error(`${error.message.split('\n')[0]}; page ${state}`);
  });

// The canvas as raw RGB, and the frame it shows, read at the same moment.
async function canvas(page, width = 320, height = 200) {
  const {frame, rgb} = await page.evaluate(([w, h]) => {
    const data = document.getElementById('screen').getContext('2d').getImageData(0, 0, w, h).data;
    let text = '';
    for (let i = 0; i < data.length; i += 4) text += String.fromCharCode(data[i], data[i + 1], data[i + 2]);
    return {frame: window.polydrive.frame, rgb: btoa(text)};
  }, [width, height]);
  return {frame, rgb: Buffer.from(rgb, 'base64')};
}

function reference(frame, folder = REF) {
  return fs.readFileSync(path.join(folder, `frame_${String(frame).padStart(5, '0')}.rgb`));
}

// Pixels that differ, with the first few named.
function differences(want, got) {
  if (got.length !== want.length) return {count: -1, text: `size ${got.length}, want ${want.length}`};
  let count = 0;
  const first = [];
  for (let i = 0; i < want.length; i += 3) {
    if (want[i] !== got[i] || want[i + 1] !== got[i + 1] || want[i + 2] !== got[i + 2]) {
      if (first.length < 3) {
        const p = i / 3;
        first.push(`(${p % 320},${Math.floor(p / 320)}) want ${[...want.subarray(i, i + 3)]} got ${[...got.subarray(i, i + 3)]}`);
      }
      count++;
    }
  }
  return {count, text: `${count} of 64000 pixels differ${first.length ? ': ' + first.join('; ') : ''}`};
}

function expectFrame(shot, frame) {
  const diff = differences(reference(frame), shot.rgb);
  if (diff.count !== 0) throw new Error(`canvas (game frame ${shot.frame}) against recorder frame ${frame}: ${diff.text}`);
}

const keyLog = page => page.evaluate(() => window.polydrive.keyLog.map(([s, p]) => `${s}:${p}`).join(' '));
const messageText = page => page.$eval('#message', m => (m.hidden ? '' : m.textContent.trim()));
const sleep = ms => new Promise(resolve => setTimeout(resolve, ms));

// The checks share one page for a whole game and its successor, as a person
// plays: first frame, driving, Escape, Enter.
let live;
const checks = [
  ['first frame equals the recorder\'s frame 1', async () => {
    live = await open(`${SITE}/index.html`);
    await until(live, () => window.polydrive.state === 'playing' && window.polydrive.frame >= 2);
    // No key is held: every frame is the first.
    expectFrame(await canvas(live), 1);
  }],
  ['held cursor keys change the picture and do not reach the page', async () => {
    await live.evaluate(() => {
      window.seen = [];
      addEventListener('keydown', e => window.seen.push(`${e.code}:${e.defaultPrevented}`));
    });
    const before = await canvas(live);
    await live.keyboard.down('ArrowUp');
    await live.keyboard.down('ArrowLeft');
    await sleep(1000);
    await live.keyboard.up('ArrowUp');
    await live.keyboard.up('ArrowLeft');
    await sleep(200);
    const after = await canvas(live);
    const diff = differences(before.rgb, after.rgb);
    if (diff.count < 1000) throw new Error(`picture barely changed: ${diff.text}`);
    const log = await keyLog(live);
    if (!log.includes('72:1 75:1') || !log.includes('72:0 75:0')) throw new Error(`keys received: ${log}`);
    const seen = await live.evaluate(() => window.seen.join(' '));
    if (seen !== 'ArrowUp:true ArrowLeft:true') throw new Error(`keydown events as the page saw them: ${seen}`);
  }],
  ['losing focus releases held keys', async () => {
    await live.keyboard.down('ArrowRight');
    await until(live, () => window.polydrive.keyLog.some(([s, p]) => s === 77 && p === 1));
    await live.evaluate(() => dispatchEvent(new Event('blur')));
    await until(live, () => {
      const log = window.polydrive.keyLog;
      return log.length > 0 && log[log.length - 1][0] === 77 && log[log.length - 1][1] === 0;
    });
    await live.keyboard.up('ArrowRight');
  }],
  ['Alt+Enter is the page\'s, not a key of the game', async () => {
    await live.keyboard.down('Alt');
    await live.keyboard.press('Enter');
    await live.keyboard.up('Alt');
    await sleep(200);
    const log = await keyLog(live);
    if (log.includes('28:1')) throw new Error(`the game received Enter: ${log}`);
    if (await live.evaluate(() => window.polydrive.state) !== 'playing') throw new Error('the game stopped');
  }],
  ['Escape ends the game and the page says so', async () => {
    await live.keyboard.press('Escape');
    await until(live, () => window.polydrive.state === 'over');
    const ended = await live.evaluate(() => window.polydrive.ended);
    const text = await messageText(live);
    if (ended !== 'escape' || !text.includes('Escape') || !text.includes('Enter')) {
      throw new Error(`ended ${ended}, message "${text}"`);
    }
  }],
  ['Enter starts a new game whose first frame is frame 1', async () => {
    await live.keyboard.press('Enter');
    await until(live, () => window.polydrive.games === 2 && window.polydrive.state === 'playing' &&
                            window.polydrive.frame >= 2);
    if (await messageText(live)) throw new Error('the message stays on the page');
    expectFrame(await canvas(live), 1);
    await live.close();
  }],
  ['the footer tells time left and speed; P pauses; the Map button and M show and hide the map', async () => {
    const page = await open(`${SITE}/index.html`);
    await until(page, () => window.polydrive.state === 'playing' && window.polydrive.frame >= 2);
    const footer = await page.$eval('#status', s => s.textContent);
    if (!/^\d+ s left · \d+ km\/h$/.test(footer)) throw new Error(`footer says "${footer}"`);
    await page.keyboard.press('KeyP');
    await until(page, () => window.polydrive.status.includes('paused'));
    const still = await canvas(page);
    await sleep(300);
    const diff = differences(still.rgb, (await canvas(page)).rgb);
    if (diff.count !== 0) throw new Error(`the picture moved while paused: ${diff.text}`);
    await page.keyboard.press('KeyP');
    await until(page, () => !window.polydrive.status.includes('paused'));
    const mapShown = () => page.$eval('#map', m => !m.hidden);
    if (await mapShown()) throw new Error('the map shows before it is asked for');
    await page.click('#map-button');
    await until(page, () => !document.getElementById('map').hidden);
    await page.keyboard.press('KeyM');
    await until(page, () => document.getElementById('map').hidden);
    await page.close();
  }],
  ['the recorded lap\'s key script gives the recorder\'s last frame', async () => {
    const query = new URLSearchParams({keys: LAP_KEYS, frames: String(LAP_FRAMES)});
    const page = await open(`${SITE}/index.html?${query}`);
    await until(page, n => window.polydrive.pausedAt === n, LAP_FRAMES, 120000);
    const shot = await canvas(page);
    if (shot.frame !== LAP_FRAMES) throw new Error(`paused at frame ${shot.frame}`);
    expectFrame(shot, LAP_FRAMES);
    await page.close();
  }],
  // Every frame of each shipped level's recorded lap, in every kernel the
  // page runs (flip, fills, gouraud spans, sprite rows), as natively.
  ['every frame of the recorded laps of levels 1-3 hashes as tests/data/record holds', async () => {
    const record = path.dirname(env('LAP_KEYS'));
    const laps = [['lap', {}], ['level2', {level: '2'}], ['level3', {level: '3', limits: 'raised'}]];
    for (const [name, settings] of laps) {
      const keys = fs.readFileSync(path.join(record, `${name}.keys`), 'utf8');
      const want = fs.readFileSync(path.join(record, `${name}.fnv`), 'utf8').trim().split('\n');
      const query = new URLSearchParams({keys: keys + '\n1 esc\n', bench: '1', hashes: '1', ...settings});
      const page = await open(`${SITE}/index.html?${query}`);
      await until(page, () => window.polydrive.state === 'over', undefined, 120000);
      const got = await page.evaluate(() => window.polydrive.frameHashes);
      await page.close();
      if (got.length !== want.length + 1) throw new Error(`${name}: ${got.length} frames, want ${want.length + 1}`);
      const differ = want.findIndex((line, i) => line !== `${String(i + 1).padStart(5, '0')} ${got[i]}`);
      if (differ >= 0) throw new Error(`${name}.fnv: frame ${differ + 1} is ${got[differ]}, want ${want[differ].slice(6)}`);
    }
  }],
  ['touch buttons press and release keys, two at once; New game starts the next', async () => {
    const page = await open(`${SITE}/index.html`, {width: 844, height: 390, hasTouch: true, isMobile: true});
    await until(page, () => window.polydrive.state === 'playing' && window.polydrive.frame >= 1);
    const centre = async selector => {
      const box = await (await page.$(selector)).boundingBox();
      if (!box) throw new Error(`${selector} is not shown`);
      return {x: box.x + box.width / 2, y: box.y + box.height / 2};
    };
    const accelerate = await centre('[data-key="72"]');
    const left = await centre('[data-key="75"]');
    const quit = await centre('.quit');
    const cdp = await page.createCDPSession();
    const touch = (type, points) => cdp.send('Input.dispatchTouchEvent', {type, touchPoints: points});
    const a = {...accelerate, id: 1};
    const l = {...left, id: 2};
    await touch('touchStart', [a]);
    await touch('touchStart', [a, l]);
    await until(page, () => / 72:1 75:1$/.test(' ' + window.polydrive.keyLog.map(([s, p]) => `${s}:${p}`).join(' ')));
    // The left thumb lifts; the right one still holds the accelerator.
    await touch('touchEnd', [l]);
    await until(page, () => window.polydrive.keyLog.some(([s, p]) => s === 75 && p === 0));
    await sleep(100);
    let log = await keyLog(page);
    if (log.includes('72:0')) throw new Error(`accelerator let go with the other thumb: ${log}`);
    await touch('touchEnd', []);
    await until(page, () => window.polydrive.keyLog.some(([s, p]) => s === 72 && p === 0));
    await touch('touchStart', [{...quit, id: 3}]);
    await touch('touchEnd', []);
    await until(page, () => window.polydrive.state === 'over');
    log = await keyLog(page);
    if (!log.endsWith('1:1 1:0')) throw new Error(`keys received: ${log}`);
    // A phone has no Escape or Enter: the message speaks of what was tapped.
    const said = await messageText(page);
    if (!said.includes('✕') || !said.includes('Tap New game') || /Escape|Enter/.test(said)) {
      throw new Error(`touch message "${said}"`);
    }
    // New game, tapped.
    const again = await centre('#again');
    await touch('touchStart', [{...again, id: 4}]);
    await touch('touchEnd', []);
    await until(page, () => window.polydrive.games === 2 && window.polydrive.state === 'playing');
    await page.close();
  }],
  ['in portrait the help line is whole and on screen', async () => {
    const page = await open(`${SITE}/index.html`, {width: 390, height: 844, hasTouch: true, isMobile: true});
    await until(page, () => window.polydrive.state === 'playing');
    const help = await page.$eval('#help', h => {
      const box = h.getBoundingClientRect();
      return {cut: h.scrollWidth > h.clientWidth, bottom: box.bottom, height: innerHeight};
    });
    if (help.cut || help.bottom > help.height) throw new Error(`help line ${JSON.stringify(help)}`);
    await page.close();
  }],
  ['a page opened from file:// says it must be served over HTTP, and how', async () => {
    const page = await browser.newPage();
    await page.goto(`file://${SITE_DIR}/index.html`);
    await until(page, () => window.polydrive && window.polydrive.state === 'file');
    const text = await messageText(page);
    if (!text.includes('served over HTTP') || !text.includes('python3 -m http.server')) {
      throw new Error(`page says "${text}"`);
    }
    await page.close();
  }],
  ['a broken level file shows the fatal message on the page', async () => {
    const page = await open(`${BROKEN}/index.html`);
    await until(page, () => window.polydrive.state === 'fatal');
    const fatal = await page.evaluate(() => window.polydrive.fatal);
    const text = await messageText(page);
    if (fatal !== FATAL || !text.includes(FATAL)) throw new Error(`page says "${text}", want "${FATAL}"`);
    await page.close();
  }],
  ['the time limit ends a game and the page says so', async () => {
    const page = await open(`${SITE}/index.html?seconds=1`);
    await until(page, () => window.polydrive.state === 'over', undefined, 10000);
    const ended = await page.evaluate(() => window.polydrive.ended);
    const text = await messageText(page);
    if (ended !== 'time' || !text.includes('Time is up')) throw new Error(`ended ${ended}, message "${text}"`);
    await page.close();
  }],
  ['scale and widescreen are remembered and draw the recorder\'s picture at that size', async () => {
    const page = await open(`${SITE}/index.html`);
    await until(page, () => window.polydrive.state === 'playing');
    await page.select('#scale', '2');
    await page.click('#wide');
    await page.reload();
    await until(page, () => window.polydrive.state === 'playing' && window.polydrive.frame >= 2);
    const settings = await page.evaluate(() => [document.getElementById('scale').value,
      document.getElementById('wide').checked, window.polydrive.scale, window.polydrive.widescreen,
      document.getElementById('screen').width, document.getElementById('screen').height]);
    if (settings.join(' ') !== '2 true 2 1 853 400') throw new Error(`settings and canvas: ${settings.join(' ')}`);
    const shot = await canvas(page, 853, 400);
    const diff = differences(reference(1, path.join(REF, 'wide2')), shot.rgb);
    if (diff.count !== 0) throw new Error(`canvas at scale 2, widescreen: ${diff.text}`);
    // Back to the default for the pages after this one.
    await page.select('#scale', '1');
    await page.click('#wide');
    await page.close();
  }],
  ['the level chooser and the limits setting are remembered and draw the recorder\'s first frame of that level', async () => {
    const page = await open(`${SITE}/index.html`);
    await until(page, () => window.polydrive.state === 'playing');
    const settled = async (level, limits) => {
      await page.reload();
      await until(page, () => window.polydrive.state === 'playing' && window.polydrive.frame >= 2);
      const settings = await page.evaluate(() => [document.getElementById('level').value,
        document.getElementById('limits').value, window.polydrive.level, window.polydrive.limits]);
      if (settings.join(' ') !== `${level} ${limits} ${level} ${limits}`) throw new Error(`level settings: ${settings.join(' ')}`);
      const diff = differences(reference(1, path.join(REF, `level${level}`)), (await canvas(page)).rgb);
      if (diff.count !== 0) throw new Error(`canvas of level ${level}: ${diff.text}`);
    };
    await page.select('#level', '2');
    await settled(2, 'classic');
    // Level 3 needs the raised limits: choosing it chooses them.
    await page.select('#level', '3');
    await settled(3, 'raised');
    // Back to the default for the pages after this one.
    await page.select('#level', '1');
    await page.select('#limits', 'classic');
    await page.close();
  }],
  ['nothing is loaded from another site', async () => {
    if (foreign.length) throw new Error(foreign.join(' '));
  }],
];

let passed = 0;
let failed = 0;
for (const [name, run] of checks) {
  // ONLY=TEXT runs the checks whose names contain TEXT (while working on one).
  if (process.env.ONLY && !name.includes(process.env.ONLY)) continue;
  try {
    await run();
    passed++;
    console.log(`ok - ${name}`);
  } catch (error) {
    failed++;
    console.log(`not ok - ${name}: ${error.message.split('\n')[0]}`);
  }
}
await closeChromium(browser);
console.log(`web: ${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
