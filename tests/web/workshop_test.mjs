// The level workshop in headless Chromium against the native tools.
// Started by tests/web/workshop.sh, which serves the build on 127.0.0.1 and passes:
//   SITE     URL of the site folder (workshop.html beside index.html)
//   REF      the recorder's frame 1 of level 1 as raw RGB
//   LEVEL1   assets/level1.world's text
//   REF3, LEVEL3  the same of level 3 (recorded under the raised limits)
//   BROKEN   a source with a mistake        BROKEN_MESSAGE  native levelc's line for it
//   BROKEN_LINE  the line it names
//   HUGE     a source that asks for too much work, of the OBJ file HUGE_OBJ
//            HUGE_MESSAGE, HUGE_LINE  native levelc's refusal
//   PNG      a picture     PNG_BIT  native bitmapc's Bitmap of it
//   DAMAGED_PNG  a picture with a damaged chunk     DAMAGED_MESSAGE  bitmapc's reason
//   SHOTS    a folder: also save screenshots of the workshop there
// Prints one line per check and "N passed, N failed"; exits 1 on a failure.
import fs from 'node:fs';
import path from 'node:path';
import { closeChromium, launchChromium } from './chromium.mjs';

const env = name => {
  if (process.env[name] === undefined) throw new Error(`${name} is not set`);
  return process.env[name];
};
const SITE = env('SITE');
const REF = fs.readFileSync(env('REF'));
const LEVEL1 = fs.readFileSync(env('LEVEL1'), 'utf8');
const REF3 = fs.readFileSync(env('REF3'));
const LEVEL3 = fs.readFileSync(env('LEVEL3'), 'utf8');
const BROKEN = fs.readFileSync(env('BROKEN'), 'utf8');
const BROKEN_MESSAGE = env('BROKEN_MESSAGE');
const BROKEN_LINE = Number(env('BROKEN_LINE'));
const HUGE = fs.readFileSync(env('HUGE'), 'utf8');
const HUGE_OBJ = env('HUGE_OBJ');
const HUGE_MESSAGE = env('HUGE_MESSAGE');
const HUGE_LINE = Number(env('HUGE_LINE'));
const PNG = env('PNG');
const PNG_BIT = fs.readFileSync(env('PNG_BIT'));
const DAMAGED_PNG = env('DAMAGED_PNG');
const DAMAGED_MESSAGE = env('DAMAGED_MESSAGE');
const SHOTS = process.env.SHOTS || '';

const browser = await launchChromium();
const origin = new URL(SITE).origin;
const foreign = [];
let passed = 0;
let failed = 0;

async function open(url) {
  const page = await browser.newPage();
  await page.setViewport({width: 1360, height: 860});
  page.on('request', request => {
    const u = request.url();
    if (!u.startsWith(origin + '/') && !u.startsWith('data:') && !u.startsWith('blob:') && u !== 'about:blank') foreign.push(u);
  });
  page.on('pageerror', error => console.log(`  page error: ${error}`));
  await page.goto(url);
  await page.waitForFunction(() => !!(window.workshop && window.workshop.ready), {timeout: 20000});
  await page.evaluate(() => window.workshop.ready);
  return page;
}

async function check(name, body) {
  try {
    await body();
    console.log(`ok   ${name}`);
    passed++;
  } catch (error) {
    console.log(`FAIL ${name}: ${error.message}`);
    failed++;
  }
}
function expect(condition, what) {
  if (!condition) throw new Error(what);
}

// The preview as raw RGB.
async function preview(page) {
  const rgb = await page.evaluate(() => {
    const data = document.getElementById('preview').getContext('2d').getImageData(0, 0, 320, 200).data;
    let text = '';
    for (let i = 0; i < data.length; i += 4) text += String.fromCharCode(data[i], data[i + 1], data[i + 2]);
    return btoa(text);
  });
  return Buffer.from(rgb, 'base64');
}
function differing(a, b) {
  let n = 0;
  for (let i = 0; i < a.length; i += 3) if (a[i] !== b[i] || a[i + 1] !== b[i + 1] || a[i + 2] !== b[i + 2]) n++;
  return n;
}
const shot = async (page, name) => {
  if (SHOTS) await page.screenshot({path: path.join(SHOTS, name)});
};

const page = await open(`${SITE}/workshop.html`);

await check('opens on level 1: the preview is the recorder\'s frame 1, pixel for pixel', async () => {
  const s = await page.evaluate(() => window.workshop.state());
  expect(s.source === LEVEL1 || s.source.length > 0, 'no source');
  expect(s.source === (await page.evaluate(() => window.workshop.state().source)), 'source');
  expect(s.errors.length === 0, `errors: ${JSON.stringify(s.errors)}`);
  const size = await page.evaluate(() => {
    const c = document.getElementById('preview');
    return [c.width, c.height];
  });
  expect(size[0] === 320 && size[1] === 200, `canvas ${size}`);
  expect(s.source === LEVEL1, 'the first source is not assets/level1.world');
  const n = differing(await preview(page), REF);
  expect(n === 0, `${n} pixels differ from the recorder's frame 1`);
  expect(s.verdict && s.verdict.needs === 'classic' && s.verdict.busiestFaces > 0, `verdict ${JSON.stringify(s.verdict)}`);
});
await shot(page, 'workshop.png');

await check('load() of the same text again gives the same frame; an edit changes the preview', async () => {
  await page.evaluate(text => window.workshop.load(text), LEVEL1);
  expect(differing(await preview(page), REF) === 0, 'reload differs');
  // The red crate of the first object moves: the main straight turns blue.
  const edited = LEVEL1.replace('quad grey 200 3 2 1 0', 'quad blue 200 3 2 1 0');
  expect(edited !== LEVEL1, 'level 1 has changed: pick another edit');
  await page.evaluate(text => window.workshop.load(text), edited);
  const s = await page.evaluate(() => window.workshop.state());
  expect(s.errors.length === 0, JSON.stringify(s.errors));
  const n = differing(await preview(page), REF);
  expect(n > 1000, `only ${n} pixels changed`);
});

await check('typing recompiles shortly after the last keystroke', async () => {
  await page.evaluate(text => window.workshop.load(text), LEVEL1);
  const before = await page.evaluate(() => window.workshop.state().compiles);
  await page.focus('#text');
  await page.keyboard.press('End');
  await page.keyboard.type('# a comment');
  const typed = Date.now();
  await page.waitForFunction(n => window.workshop.state().compiles > n, {timeout: 5000, polling: 5}, before);
  const ms = Date.now() - typed;
  // The goal is 300 ms; a busy machine may take longer, a lost compile never ends.
  expect(ms < 2000, `${ms} ms`);
  console.log(`     (${ms} ms from the last keystroke to the preview)`);
});

await check('measure: compile and draw of level 1, ten times', async () => {
  const runs = await page.evaluate(async text => {
    const out = [];
    for (let i = 0; i < 10; i++) {
      const began = performance.now();
      await window.workshop.load(text + '#'.repeat(i + 1) + '\n');
      const s = window.workshop.state();
      out.push([performance.now() - began, s.verdictMs]);
    }
    return out;
  }, LEVEL1);
  const median = k => runs.map(r => r[k]).sort((a, b) => a - b)[5].toFixed(1);
  console.log(`     (load() to the preview shown: median ${median(0)} ms, of which the busiest-view search ${median(1)} ms)`);
});

await check('level 3 is drawn under the raised limits as the recorder draws it; typing into it', async () => {
  await page.evaluate(text => window.workshop.load(text), LEVEL3);
  let s = await page.evaluate(() => window.workshop.state());
  expect(s.errors.length === 0, JSON.stringify(s.errors));
  expect(s.raised && s.verdict.needs === 'raised', JSON.stringify(s.verdict));
  const n = differing(await preview(page), REF3);
  expect(n === 0, `${n} pixels differ from the recorder's frame 1 of level 3`);
  await shot(page, 'workshop-level3.png');
  const before = s.compiles;
  await page.focus('#text');
  await page.keyboard.down('Control');
  await page.keyboard.press('End');
  await page.keyboard.up('Control');
  await page.keyboard.type('# a comment');
  const typed = Date.now();
  await page.waitForFunction(k => window.workshop.state().compiles > k, {timeout: 10000, polling: 5}, before);
  const ms = Date.now() - typed;
  await page.waitForFunction(() => !window.workshop.state().busy, {timeout: 20000});
  s = await page.evaluate(() => window.workshop.state());
  console.log(`     (level 3: ${ms} ms from the last keystroke to the preview; the busiest-view search ${s.verdictMs.toFixed(0)} ms more)`);
  expect(ms < 5000, `${ms} ms`);
});

await check('a broken line shows native levelc\'s message at that line and keeps the last good preview', async () => {
  await page.evaluate(text => window.workshop.load(text), LEVEL1);
  await page.evaluate(text => window.workshop.load(text), BROKEN);
  const s = await page.evaluate(() => window.workshop.state());
  expect(s.errors.length === 1, JSON.stringify(s.errors));
  expect(s.errors[0].message === BROKEN_MESSAGE, `'${s.errors[0].message}' is not '${BROKEN_MESSAGE}'`);
  expect(s.errors[0].line === BROKEN_LINE, `line ${s.errors[0].line}`);
  const shown = await page.$eval('#error', e => e.hidden ? '' : e.textContent);
  expect(shown.startsWith(BROKEN_MESSAGE), `shown: ${shown}`);
  const gutter = await page.$eval('#gutter', (e, line) => e.textContent.split('\n')[line - 1], BROKEN_LINE);
  expect(gutter === `▶${BROKEN_LINE}`, `gutter line: ${gutter}`);
  expect(differing(await preview(page), REF) === 0, 'the last good preview is gone');
});
await shot(page, 'workshop-error.png');

await check('a source only the raised limits take is drawn under them; one no limits take is one message', async () => {
  let big = 'world\n';
  for (let i = 0; i < 80; i++) big += 'object B\n mass 1\n box 0 0 0 9 9 9 grey 1\nend\n';
  await page.evaluate(text => window.workshop.load(text), big);
  let s = await page.evaluate(() => window.workshop.state());
  expect(s.errors.length === 0 && s.raised && s.verdict.needs === 'raised',
         `80 boxes: ${JSON.stringify(s.errors)} ${JSON.stringify(s.verdict)}`);
  let spare = 'world\n';
  for (let i = 0; i < 3; i++) spare += 'object S\n mass 1\n spare 1000000\n box 0 0 0 9 9 9 grey 1\nend\n';
  await page.evaluate(text => window.workshop.load(text), spare);
  s = await page.evaluate(() => window.workshop.state());
  expect(s.errors.length === 1 && s.errors[0].line === 0 && s.errors[0].message.includes("spare slots in the level"),
         JSON.stringify(s.errors));
  const began = Date.now();
  await page.evaluate(text => window.workshop.load(text), 'world\nobject A\n mass 1\n spare 999999999\n');
  s = await page.evaluate(() => window.workshop.state());
  expect(s.errors.length === 1 && s.errors[0].line === 4, JSON.stringify(s.errors));
  expect(Date.now() - began < 5000, 'slow');
});

await check('a huge source is compiled off the page: it answers throughout, and the refusal is native levelc\'s at its line', async () => {
  await page.evaluate(text => window.workshop.load(text), LEVEL1);
  await (await page.$('#open')).uploadFile(HUGE_OBJ);
  await page.waitForFunction(() => window.workshop.state().files.includes('big.obj') && !window.workshop.state().busy,
                             {timeout: 10000});
  const result = await page.evaluate(async text => {
    // The page's own clock: the longest gap between ticks while the compile runs.
    let last = performance.now(), gap = 0;
    const ticker = setInterval(() => {
      const now = performance.now();
      gap = Math.max(gap, now - last);
      last = now;
    }, 10);
    const began = performance.now();
    await window.workshop.load(text);
    clearInterval(ticker);
    return {gap, ms: performance.now() - began, state: window.workshop.state()};
  }, HUGE);
  const s = result.state;
  expect(s.errors.length === 1, JSON.stringify(s.errors));
  expect(s.errors[0].message === HUGE_MESSAGE, `'${s.errors[0].message}' is not '${HUGE_MESSAGE}'`);
  expect(s.errors[0].line === HUGE_LINE, `line ${s.errors[0].line}, not ${HUGE_LINE}`);
  expect(result.gap < 250, `the page stood still for ${result.gap.toFixed(0)} ms`);
  expect(differing(await preview(page), REF) === 0, 'the last good preview is gone');
  console.log(`     (${result.ms.toFixed(0)} ms to the refusal; the page's longest pause ${result.gap.toFixed(0)} ms)`);
});

await check('a newer source does not wait for a slow one: the huge compile is abandoned', async () => {
  const began = await page.evaluate(text => {
    window.workshop.load(text);   // not awaited: level 1 follows at once
    return performance.now();
  }, HUGE);
  await page.evaluate(text => window.workshop.load(text), LEVEL1);
  const s = await page.evaluate(() => window.workshop.state());
  const ms = await page.evaluate(t => performance.now() - t, began);
  expect(s.errors.length === 0, JSON.stringify(s.errors));
  expect(differing(await preview(page), REF) === 0, 'the preview is not level 1');
  console.log(`     (level 1 shown ${ms.toFixed(0)} ms after the huge source)`);
});

await check('a PNG picture becomes the Bitmap native bitmapc makes, byte for byte, and a sprite draws it', async () => {
  const input = await page.$('#open');
  await input.uploadFile(PNG);
  await page.waitForFunction(() => window.workshop.state().bitmaps['flower.png'], {timeout: 10000});
  let s = await page.evaluate(() => window.workshop.state());
  const made = s.bitmaps['flower.png'];
  expect(!made.error, made.error);
  expect(made.bit === 'flower.bit', made.bit);
  expect(Buffer.from(made.base64, 'base64').equals(PNG_BIT), 'another Bitmap than native bitmapc\'s');
  const sprite = LEVEL1 + '\nobject flower.bit\n position 0 0 30000\n mass 1\n v 0 0 0\n sprite 4 0\nend\n';
  await page.evaluate(text => window.workshop.load(text), sprite);
  s = await page.evaluate(() => window.workshop.state());
  expect(s.errors.length === 0, JSON.stringify(s.errors));
  expect(differing(await preview(page), REF) > 50, 'the sprite is not in the picture');
  await input.uploadFile(DAMAGED_PNG);
  await page.waitForFunction(() => window.workshop.state().bitmaps['damaged.png'], {timeout: 10000});
  s = await page.evaluate(() => window.workshop.state());
  expect(s.bitmaps['damaged.png'].error === DAMAGED_MESSAGE,
         `'${s.bitmaps['damaged.png'].error}' is not bitmapc's '${DAMAGED_MESSAGE}'`);
});

await check('the verdict: a level busier behind the start than the draw list holds needs the raised limits', async () => {
  // 60 ground tiles behind the start: out of the first view, all in view looking back.
  let tiles = 'world\nstart Human1 0 0 0\nobject Tiles\n position 0 -6000 -60000\n mass 1000000\n spare auto\n';
  for (let i = 0; i < 60; i++) {
    const x = (i % 6) * 6000 - 15000, z = Math.floor(i / 6) * 6000 - 27000, n = 4 * i;
    tiles += ` v ${x} 0 ${z}\n v ${x + 4000} 0 ${z}\n v ${x + 4000} 0 ${z + 4000}\n v ${x} 0 ${z + 4000}\n` +
             ` quad green 200 ${n + 3} ${n + 2} ${n + 1} ${n}\n`;
  }
  await page.evaluate(text => window.workshop.load(text + 'end\n'), tiles);
  const s = await page.evaluate(() => window.workshop.state());
  expect(s.errors.length === 0, JSON.stringify(s.errors));
  expect(s.verdict.startFaces <= 100 && s.verdict.busiestFaces > 100, JSON.stringify(s.verdict));
  expect(s.verdict.needs === 'raised', JSON.stringify(s.verdict));
  const shown = await page.$eval('#verdict', e => e.textContent);
  expect(shown.includes('needs the raised limits'), shown);
});

await check('the free camera moves the view; the map looks down; the start view comes back', async () => {
  await page.evaluate(text => window.workshop.load(text), LEVEL1);
  await page.evaluate(() => window.workshop.setView({x: 0, y: 0, z: 0, pitch: 0, heading: 720}));
  expect(differing(await preview(page), REF) > 1000, 'turning round changes nothing');
  await page.click('#view-map');
  await page.evaluate(() => { document.getElementById('files').textContent = ''; });
  await shot(page, 'workshop-map.png');
  await page.focus('#preview');
  await page.keyboard.press('Escape');
  await new Promise(r => setTimeout(r, 100));
  expect(differing(await preview(page), REF) === 0, 'Escape did not go back to the start view');
  await page.click('#view-busy');
  const s = await page.evaluate(() => window.workshop.state());
  expect(JSON.stringify(s.view) === JSON.stringify(s.verdict.busiestView), 'not at the busiest view');
});

await check('the source comes back after a reload', async () => {
  const edited = LEVEL1 + '# kept\n';
  await page.evaluate(text => window.workshop.load(text), edited);
  await page.reload();
  await page.waitForFunction(() => !!(window.workshop && window.workshop.ready), {timeout: 20000});
  await page.evaluate(() => window.workshop.ready);
  const s = await page.evaluate(() => window.workshop.state());
  expect(s.source === edited, 'the source was not restored');
});

await check('an OBJ file opened is compiled in and kept after a reload', async () => {
  const dir = fs.mkdtempSync(path.join(process.env.TMPDIR || '/tmp', 'workshop-obj-'));
  const obj = path.join(dir, 'wedge.obj');
  fs.writeFileSync(obj, 'v -1 0 0\nv 1 0 0\nv 0 2 0\nv 0 0 1\nf 1 2 3\nf 1 3 4\nf 2 4 3\nf 1 4 2\n');
  const source = 'world\nstart Human1 0 0 0\nobject Wedge\n position 0 -6000 30000\n mass 10\n' +
                 ' obj wedge.obj yellow 220 scale 4000\nend\n';
  await page.evaluate(text => window.workshop.load(text), source);
  let s = await page.evaluate(() => window.workshop.state());
  expect(s.errors.length === 1 && s.errors[0].message.includes('wedge.obj'), `without the file: ${JSON.stringify(s.errors)}`);
  const input = await page.$('#open');
  await input.uploadFile(obj);
  await page.waitForFunction(() => window.workshop.state().errors.length === 0, {timeout: 5000});
  const withWedge = await preview(page);
  await page.reload();
  await page.waitForFunction(() => !!(window.workshop && window.workshop.ready), {timeout: 20000});
  await page.evaluate(() => window.workshop.ready);
  s = await page.evaluate(() => window.workshop.state());
  expect(s.errors.length === 0, `after the reload: ${JSON.stringify(s.errors)}`);
  expect(differing(await preview(page), withWedge) === 0, 'another picture after the reload');
  fs.rmSync(dir, {recursive: true, force: true});
});

await check('a shared link opens the same level in a fresh browser', async () => {
  const minimal = await page.evaluate(() => { document.getElementById('new').click(); return window.workshop.state().source; });
  await page.waitForFunction(() => !window.workshop.state().busy, {timeout: 10000});
  await page.evaluate(() => document.getElementById('share').click());
  await page.waitForFunction(() => window.workshop.state().shareLink, {timeout: 5000});
  const link = await page.evaluate(() => window.workshop.state().shareLink);
  expect(link.includes('#source='), link);
  const mine = await preview(page);
  const other = await browser.createBrowserContext();
  const fresh = await other.newPage();
  await fresh.setViewport({width: 1360, height: 860});
  await fresh.goto(link);
  await fresh.waitForFunction(() => !!(window.workshop && window.workshop.ready), {timeout: 20000});
  await fresh.evaluate(() => window.workshop.ready);
  const s = await fresh.evaluate(() => window.workshop.state());
  expect(s.source === minimal, 'another source');
  expect(differing(await preview(fresh), mine) === 0, 'another picture');
  // The README's picture of a new level: this browser has opened no files.
  await shot(fresh, 'workshop-new.png');
  await other.close();
});

await check('Drive from here starts a game at the camera\'s spot and heading; Escape comes back', async () => {
  await page.evaluate(text => window.workshop.load(text), LEVEL1);
  const gameFrame = async () => {
    const game = await (await page.$('#game-frame')).contentFrame();
    await game.waitForFunction(() => window.polydrive && window.polydrive.frame >= 1, {timeout: 20000});
    const rgb = Buffer.from(await game.evaluate(() => {
      const data = document.getElementById('screen').getContext('2d').getImageData(0, 0, 320, 200).data;
      let text = '';
      for (let i = 0; i < data.length; i += 4) text += String.fromCharCode(data[i], data[i + 1], data[i + 2]);
      return btoa(text);
    }), 'base64');
    return [game, rgb];
  };
  const ahead = {x: 440000, y: 0, z: 200000, pitch: 0, heading: 0};
  await page.evaluate(v => window.workshop.setView(v), ahead);
  const straight = await preview(page);
  // Turned a quarter and more: the game must look the camera's way, not along +z.
  await page.evaluate(v => window.workshop.setView(v), Object.assign({}, ahead, {heading: 500}));
  const camera = await preview(page);
  expect(differing(camera, straight) > 5000, 'the turned camera sees the same');
  await page.evaluate(() => window.workshop.drive());
  const [game, rgb] = await gameFrame();
  expect(differing(rgb, REF) > 1000, 'the game starts at level 1\'s start');
  const n = differing(rgb, camera);
  expect(n < 2000, `${n} pixels differ from the camera's view`);
  expect(differing(rgb, straight) > 5000, 'the game looks along +z, not the camera\'s way');
  await shot(page, 'workshop-drive.png');
  await game.focus('#screen');
  await page.keyboard.press('Escape');
  await page.waitForFunction(() => !window.workshop.state().driving, {timeout: 10000});
});

await check('a link with a heading or limits the game page cannot take is one message, not a game', async () => {
  for (const [hash, said] of [['heading=1440', 'heading'], ['heading=9x', 'heading'], ['limits=huge', 'limits']]) {
    const game = await browser.newPage();
    await game.goto(`${SITE}/index.html#level=${await page.evaluate(() => window.levelLink.packText('x'))}&${hash}`);
    await game.waitForFunction(() => window.polydrive && window.polydrive.state === 'fatal', {timeout: 20000});
    const line = await game.evaluate(() => window.polydrive.fatal);
    expect(line.includes(said), `${hash}: ${line}`);
    await game.close();
  }
});

await check('no request leaves the server', async () => {
  expect(foreign.length === 0, foreign.join(' '));
});

await closeChromium(browser);
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed ? 1 : 0);
