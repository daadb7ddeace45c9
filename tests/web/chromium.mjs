// Starts Debian's Chromium headless for the page's tests and measurements:
// a fresh profile, and no connection of its own to any other host.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

// closeChromium ends it and removes the profile.
export async function launchChromium() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'polydrive-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    userDataDir: profile,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  browser.profileDir = profile;
  return browser;
}

export async function closeChromium(browser) {
  await browser.close();
  fs.rmSync(browser.profileDir, {recursive: true, force: true});
}
