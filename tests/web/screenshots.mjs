// Takes the README's pictures of the web page in headless Chromium, into
// OUT (assets/screenshots): web-desktop.png (1280x800, driving),
// web-over.png (1280x800, after Escape) and web-phone.png (a phone held
// sideways, 844x390, with the touch buttons, one held) and web-map.png
// (1280x800, driving, with the map and the footer's time and speed) and
// web-level3.png (1280x800, driving in level 3 under the raised limits, as
// the footer's settings choose them). Started by
// tests/web/measure.sh with SITE and OUT; each file is written whole
// (a temporary file renamed into place).
import fs from 'node:fs';
import path from 'node:path';
import { closeChromium, launchChromium } from './chromium.mjs';

const SITE = process.env.SITE;
const OUT = process.env.OUT;
const DRIVE = '30 up\n70 none\n';   // assets/screenshots/readme.keys: frame 80 drives

const browser = await launchChromium();

async function save(page, name) {
  const file = path.join(OUT, name);
  const temporary = `${file}.${process.pid}.tmp`;
  fs.writeFileSync(temporary, await page.screenshot({type: 'png'}));
  fs.renameSync(temporary, file);
  console.log(`wrote ${file}`);
}

let page = await browser.newPage();
await page.setViewport({width: 1280, height: 800});
await page.goto(`${SITE}/index.html?` + new URLSearchParams({keys: DRIVE, frames: '80'}));
await page.waitForFunction(() => window.polydrive.pausedAt === 80, {polling: 20});
await save(page, 'web-desktop.png');
await page.close();

page = await browser.newPage();
await page.setViewport({width: 1280, height: 800});
await page.goto(`${SITE}/index.html?` + new URLSearchParams({keys: DRIVE, frames: '80', map: '1'}));
await page.waitForFunction(() => window.polydrive.pausedAt === 80, {polling: 20});
await save(page, 'web-map.png');
await page.close();

page = await browser.newPage();
await page.setViewport({width: 1280, height: 800});
await page.goto(`${SITE}/index.html`);
await page.waitForFunction(() => window.polydrive.frame >= 2, {polling: 20});
await page.keyboard.press('Escape');
await page.waitForFunction(() => window.polydrive.state === 'over', {polling: 20});
await save(page, 'web-over.png');
await page.close();

page = await browser.newPage();
await page.setViewport({width: 844, height: 390, hasTouch: true, isMobile: true});
await page.goto(`${SITE}/index.html?` + new URLSearchParams({keys: DRIVE, frames: '80'}));
await page.waitForFunction(() => window.polydrive.pausedAt === 80, {polling: 20});
// The accelerator as a thumb holds it.
await page.$eval('[data-key="72"]', button => button.classList.add('held'));
await save(page, 'web-phone.png');
await page.close();

page = await browser.newPage();
await page.setViewport({width: 1280, height: 800});
await page.goto(`${SITE}/index.html?` + new URLSearchParams({keys: DRIVE, frames: '80', level: '3', limits: 'raised'}));
await page.waitForFunction(() => window.polydrive.pausedAt === 80, {polling: 20});
// The address chooses the level without storing it; the footer shows it as
// if chosen there.
await page.evaluate(() => {
  document.getElementById('level').value = '3';
  document.getElementById('limits').value = 'raised';
});
await save(page, 'web-level3.png');
await page.close();

await closeChromium(browser);
