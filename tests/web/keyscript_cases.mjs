// The web page's key-script parser (platform/web/keyscript.js) on the shared
// cases of tests/data/keyscript/cases.txt, which the game's parser reads too
// (tests/test_keyscript_cases.cpp): both must take the same texts to the
// same runs and refuse the others at the same line. The player must give
// each frame the keys of its run, frames in order or not.
//   node tests/web/keyscript_cases.mjs      (from the repository root)
import {createRequire} from 'node:module';
import {readFileSync} from 'node:fs';

const require = createRequire(import.meta.url);
const keyScript = require('../../platform/web/keyscript.js');
const here = new URL('.', import.meta.url);
const lines = readFileSync(new URL('../data/keyscript/cases.txt', here), 'utf8').split('\n');

function utf8(code) {
  return [...Buffer.from(String.fromCodePoint(code), 'utf8')];
}

// One character or escape at s[at]: [bytes, next position].
function decodeOne(s, at) {
  if (s[at] !== '\\' || at + 1 >= s.length) return [[...Buffer.from(s[at], 'utf8')], at + 1];
  const kind = s[at + 1];
  at += 2;
  const simple = {n: 10, t: 9, r: 13, f: 12, v: 11, 0: 0};
  if (kind in simple) return [[simple[kind]], at];
  if (kind === 'x') return [[parseInt(s.slice(at, at + 2), 16)], at + 2];
  if (kind === 'u') return [utf8(parseInt(s.slice(at, at + 4), 16)), at + 4];
  if (kind === '*') {
    const colon = s.indexOf(':', at);
    const times = Number(s.slice(at, colon));
    const [unit, next] = decodeOne(s, colon + 1);
    const out = new Array(unit.length * times);
    for (let i = 0; i < times; i++) for (let j = 0; j < unit.length; j++) out[i * unit.length + j] = unit[j];
    return [out, next];
  }
  return [[...Buffer.from(kind, 'utf8')], at];
}

function decode(s) {
  const bytes = [];
  for (let at = 0; at < s.length;) {
    const [some, next] = decodeOne(s, at);
    for (const b of some) bytes.push(b);
    at = next;
  }
  return new TextDecoder('utf-8', {fatal: true, ignoreBOM: true}).decode(Uint8Array.from(bytes));
}

let passed = 0;
let failed = 0;
function check(ok, what) {
  if (ok) passed++;
  else {
    failed++;
    console.log(`FAIL: ${what}`);
  }
}

lines.forEach((line, index) => {
  if (line === '' || line.startsWith('#')) return;
  const where = `cases.txt:${index + 1}`;
  const bar = line.indexOf(' |');
  const expect = line.slice(0, bar);
  const text = decode(line.length > bar + 3 ? line.slice(bar + 3) : '');
  let runs = null;
  let error = null;
  try {
    runs = keyScript.parse(text);
  } catch (e) {
    error = e;
  }
  if (expect.startsWith('line ')) {
    check(error !== null && error.line === Number(expect.slice(5)),
          `${where}: ${error ? `refused at line ${error.line}: ${error.message}` : 'taken'}, expected ${expect}`);
    return;
  }
  const got = error ? `refused: ${error.message}` : runs.map(([c, k]) => `${c}:${k}`).join(',');
  check(!error && got === expect.slice(3), `${where}: gave '${got}', expected '${expect}'`);
});

// The player: in order, backwards, and past the end.
const runs = keyScript.parse('2 up\n0 esc\n3 left\n1 none\n1 stop\n');
const want = [0, 1, 1, 4, 4, 4, 0, 16, 0, 0];
const play = keyScript.player(runs);
check(want.every((keys, frame) => play(frame) === keys), 'the player in frame order');
const again = keyScript.player(runs);
check([9, 3, 1, 7, 0, 5, 2].every(frame => again(frame) === want[frame]), 'the player out of order');

console.log(`keyscript_cases: ${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
