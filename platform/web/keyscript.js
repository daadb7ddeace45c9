// platform/web/keyscript.js: the recorder's key scripts, read by the page as
// the native game reads them. "COUNT key key ..." holds the keys for the next
// COUNT frames (0..1000000000, at most ten digits); the keys are up, down,
// left, right, stop and esc, or `none` alone; '#' starts a comment; words are
// parted by spaces, tabs and carriage returns only; a text holds at most
// 1 MiB and lines at most 1023 bytes (of UTF-8), and no NUL. Nothing is held
// after the end.
//
// keyScript.parse(text) gives [[count, keys], ...] or throws an Error whose
// `line` is the line at fault; keyScript.player(runs) gives a function of the
// frame (from 1) that answers in constant time when frames come in order.
// Loaded as a page script it sets window.keyScript; under node it is a module.
(function (root) {
  'use strict';

  const TEXT_MAX = 1 << 20;
  const LINE_MAX = 1023;
  const COUNT_MAX = 1000000000;
  // A Map, not an object: a word such as toString or __proto__ is no key.
  const BITS = new Map([['up', 1], ['down', 2], ['left', 4], ['right', 8], ['stop', 16], ['esc', 32]]);
  const encoder = new TextEncoder();

  function refuse(line, message) {
    const error = new Error(`key script${line > 0 ? ` line ${line}` : ''}: ${message}`);
    error.line = line;
    return error;
  }

  // At most 40 characters of a word, anything not printable ASCII as '?'.
  function shown(word) {
    const cut = word.slice(0, 40).replace(/[^\x20-\x7e]/g, '?');
    return word.length > 40 ? cut + '...' : cut;
  }

  function parse(text) {
    const bytes = encoder.encode(text).length;
    if (bytes > TEXT_MAX) throw refuse(0, `longer than ${TEXT_MAX} bytes`);
    const nul = text.indexOf('\0');
    if (nul >= 0) throw refuse(text.slice(0, nul).split('\n').length, 'a NUL byte: not a text');
    const runs = [];
    const lines = text.split('\n');
    // A final line break ends the last line; it does not start another.
    if (lines.length > 1 && lines[lines.length - 1] === '') lines.pop();
    lines.forEach((raw, index) => {
      const line = index + 1;
      if (encoder.encode(raw).length > LINE_MAX) {
        throw refuse(line, `line longer than ${LINE_MAX} characters`);
      }
      const words = raw.split('#')[0].split(/[ \t\r]+/).filter(word => word !== '');
      if (words.length === 0) return;
      if (!/^[0-9]{1,10}$/.test(words[0]) || Number(words[0]) > COUNT_MAX) {
        throw refuse(line, `expected a frame count, not '${shown(words[0])}'`);
      }
      if (words.length < 2) throw refuse(line, "no keys after the count (use 'none')");
      let keys = 0;
      let none = false;
      for (const word of words.slice(1)) {
        if (word === 'none') none = true;
        else if (BITS.has(word)) keys |= BITS.get(word);
        else throw refuse(line, `unknown key '${shown(word)}'`);
      }
      if (none && keys !== 0) throw refuse(line, "'none' cannot be combined with keys");
      runs.push([Number(words[0]), keys]);
    });
    return runs;
  }

  // The keys of a frame: the run that holds it is looked for from the run of
  // the last frame asked, so a game that plays frame after frame pays one
  // step a frame however long the script is.
  function player(runs) {
    let run = 0;
    let first = 1;   // the first frame of runs[run]
    return frame => {
      if (frame < 1) return 0;
      if (frame < first) {
        run = 0;
        first = 1;
      }
      while (run < runs.length && frame - first >= runs[run][0]) {
        first += runs[run][0];
        run++;
      }
      return run < runs.length ? runs[run][1] : 0;
    };
  }

  const keyScript = {parse, player};
  if (typeof module === 'object' && module.exports) module.exports = keyScript;
  else root.keyScript = keyScript;
})(typeof window === 'object' ? window : this);
