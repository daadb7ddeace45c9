// platform/web/page.js: the page around the game. It starts a game when the
// program has loaded, says how each game ended, starts the next on Enter or a
// button without reloading, shows a fatal error's line, toggles full screen
// (Alt+Enter or a button) and turns the touch buttons into key presses.
//
// For tests and measurements only, URL parameters:
//   keys=SCRIPT   play a key script in the recorder's format (COUNT key key ...
//                 a line, read by keyscript.js as the native game reads it),
//                 one game frame after another without pacing; the
//                 keyboard and touch buttons are then ignored
//   frames=N      with keys: stop after game frame N (the picture stays)
//   bench=1       with keys: no drawing and no pause for the browser; the
//                 time of each game frame is kept in polydrive.frameTimes
//   hashes=1      the hash of each game frame's picture is kept in
//                 polydrive.frameHashes (the recorded laps' FNV-1a 64)
//   seconds=N     end a game after N seconds instead of 60
//   touch=1       show the touch buttons without a touch screen
//   map=1         show the map from the start (as the Map button does)
//   scale=N, wide=0|1, level=N, limits=classic|raised
//                 play at this scale and shape, this level under these
//                 limits, without changing the ones the page remembers
// The level (1..3), limits (classic or raised), scale (1..6) and widescreen
// settings in the footer are kept in the browser's storage and take effect
// from the next game. Choosing a level that needs the raised limits chooses
// them too.
// window.polydrive tells a test what happens (see below).
(function () {
  'use strict';

  const SIGALRM = 14;
  const params = new URLSearchParams(location.search);
  const canvas = document.getElementById('screen');
  const message = document.getElementById('message');
  const messageText = document.getElementById('message-text');
  const again = document.getElementById('again');
  const statusLine = document.getElementById('status');
  const statusText = statusLine.appendChild(document.createTextNode(''));
  const STATUS_PREFIX = 'polydrive · ';
  const mapCanvas = document.getElementById('map');
  const mapButton = document.getElementById('map-button');

  const polydrive = {
    state: 'loading',    // then 'playing', 'over' or 'fatal' ('file' when opened from file://)
    games: 0,            // games started
    frame: 0,            // game frames shown in this game
    ended: null,         // how the last game ended: 'escape' or 'time'
    fatal: null,         // the fatal error's line
    firstFrameMs: null,  // performance.now() at the first game's first frame
    pausedAt: 0,         // the frame a key script stopped at
    frameTimes: [],      // with bench=1: performance.now() at each frame's end
    frameHashes: [],     // with hashes=1: each frame's FNV-1a 64 of video memory, in hex
    keyLog: [],          // the last key events the game received: [scancode, press]
    status: '',          // the game's last status line
    scale: 1,            // the picture of the game in progress
    widescreen: 0,
    level: 1,            // the level of the game in progress
    limits: 'classic',   // and the limits it is played under
  };
  window.polydrive = polydrive;
  const touchScreen = params.get('touch') === '1' || navigator.maxTouchPoints > 0 ||
                      matchMedia('(pointer: coarse)').matches;

  function show(text, kind) {
    messageText.textContent = text;
    message.className = kind || '';
    message.hidden = false;
    again.hidden = kind !== 'over';
    if (kind === 'over') again.focus({preventScroll: true});
  }

  function fail(line) {
    if (polydrive.state === 'fatal') return;
    polydrive.state = 'fatal';
    polydrive.fatal = line;
    show(line + '\nReload the page to try again.', 'fatal');
  }

  // Browsers refuse to fetch the WebAssembly from file://, which would leave
  // a black page with the reason in the console only: say it here instead.
  if (location.protocol === 'file:') {
    polydrive.state = 'file';
    show('This page must be served over HTTP: browsers do not run the game from file://.\n' +
         'In the folder that holds index.html run\npython3 -m http.server 8000\n' +
         'and open http://127.0.0.1:8000/ (or copy the folder to any web server).', 'fatal');
    return;
  }

  let lastLine = '';
  const Module = {
    canvas,
    print(line) {
      lastLine = line;
      console.log(line);
    },
    printErr(line) {
      console.warn(line);
    },
    // The program's exit: a fatal error has just printed its line.
    quit(status, toThrow) {
      if (status !== 0) fail(lastLine || `The game stopped with status ${status}.`);
      throw toThrow;
    },
    onAbort(what) {
      fail(`The game stopped: ${what}`);
    },
    // A level brought by a link (#level=…) or a dropped file replaces level 1
    // before the first game (levellink.js, the workshop's).
    onRuntimeInitialized() {
      if (params.get('map') === '1') Module._polydrive_map(1);
      // A link from the workshop's Drive from here also carries the camera's heading.
      const heading = window.levelLink ? window.levelLink.hashValue('heading') : null;
      if (heading !== null) {
        if (!/^[0-9]{1,4}$/.test(heading) || Number(heading) >= 1440) {
          fail(`The heading in the link is not a number in 0..1439: '${heading.slice(0, 20)}'.`);
          return;
        }
        Module._polydrive_start_heading(Number(heading));
      }
      // A level that needs the raised limits says so in its link.
      const limits = window.levelLink ? window.levelLink.hashValue('limits') : null;
      if (limits !== null) {
        if (limits !== 'raised' && limits !== 'classic') {
          fail(`The limits in the link are neither raised nor classic: '${limits.slice(0, 20)}'.`);
          return;
        }
        Module._polydrive_limits(limits === 'raised' ? 1 : 0);
      }
      const shared = window.levelLink ? window.levelLink.sharedLevel() : Promise.resolve(null);
      shared.then(bytes => {
        if (bytes) FS.writeFile('/lib/level1.3dw', bytes);
        newGame();
      }, error => fail(`The level in the link is damaged: ${error.message}`));
    },
    onGameFrame(frame, now) {
      polydrive.frame = frame;
      if (frame === 1 && polydrive.firstFrameMs === null) polydrive.firstFrameMs = now;
      if (bench) polydrive.frameTimes.push(now);
      if (hashing) polydrive.frameHashes.push(Module.ccall('web_video_hash', 'string', [], []));
      if (frame === Module.webPauseAt) polydrive.pausedAt = frame;
    },
    // The status line (time left, speed) in the footer; the map beside the
    // picture while it is on.
    // The line changes with the speed, in many frames: one text node's data
    // is replaced rather than the element's children.
    onStatus(text) {
      polydrive.status = text;
      statusText.data = text.startsWith(STATUS_PREFIX) ? text.slice(STATUS_PREFIX.length) : text;
    },
    onSidePicture(image) {
      mapCanvas.hidden = image === null;
      mapButton.setAttribute('aria-pressed', String(image !== null));
      if (image) mapCanvas.getContext('2d').putImageData(image, 0, 0);
    },
    onKey(scancode, press) {
      polydrive.keyLog.push([scancode, press]);
      if (polydrive.keyLog.length > 64) polydrive.keyLog.shift();
    },
  };
  const bench = params.get('bench') === '1';
  const hashing = params.get('hashes') === '1';
  try {
    if (params.has('keys')) {
      Module.webScriptKeys = keyScript.player(keyScript.parse(params.get('keys')));
      if (params.has('frames')) Module.webPauseAt = Number(params.get('frames'));
      if (bench) Module.noDrawing = true;
    }
  } catch (error) {
    fail(String(error.message));
  }
  if (params.has('seconds')) Module.alarmSeconds = Number(params.get('seconds'));
  window.Module = Module;

  // The picture's settings, remembered in the browser (where storage is
  // refused, as in some private windows, they last for the page).
  const scaleChoice = document.getElementById('scale');
  const wideChoice = document.getElementById('wide');
  function stored(key) {
    try {
      return localStorage.getItem(key);
    } catch (error) {
      return null;
    }
  }
  function store(key, value) {
    try {
      localStorage.setItem(key, value);
    } catch (error) {
      // kept for this page only
    }
  }
  const validScale = text => /^[1-6]$/.test(text || '') ? Number(text) : null;
  scaleChoice.value = String(validScale(stored('polydrive.scale')) || 1);
  wideChoice.checked = stored('polydrive.widescreen') === '1';
  scaleChoice.addEventListener('change', () => store('polydrive.scale', scaleChoice.value));
  wideChoice.addEventListener('change', () => store('polydrive.widescreen', wideChoice.checked ? '1' : '0'));
  function pictureSettings() {
    const scale = validScale(params.get('scale')) || Number(scaleChoice.value) || 1;
    const wide = params.has('wide') ? params.get('wide') === '1' : wideChoice.checked;
    return [scale, wide ? 1 : 0];
  }

  // The level and the limits it is played under.
  const levelChoice = document.getElementById('level');
  const limitsChoice = document.getElementById('limits');
  const validLevel = text => /^[1-3]$/.test(text || '') ? Number(text) : null;
  const validLimits = text => text === 'classic' || text === 'raised' ? text : null;
  levelChoice.value = String(validLevel(stored('polydrive.level')) || 1);
  limitsChoice.value = validLimits(stored('polydrive.limits')) || 'classic';
  levelChoice.addEventListener('change', () => {
    store('polydrive.level', levelChoice.value);
    const needs = levelChoice.selectedOptions[0].dataset.limits;
    if (needs && limitsChoice.value !== needs) {
      limitsChoice.value = needs;
      store('polydrive.limits', needs);
    }
  });
  limitsChoice.addEventListener('change', () => store('polydrive.limits', limitsChoice.value));
  function levelSettings() {
    const level = validLevel(params.get('level')) || Number(levelChoice.value) || 1;
    const limits = validLimits(params.get('limits')) || limitsChoice.value;
    return [level, limits];
  }

  async function newGame() {
    if (polydrive.state === 'playing' || polydrive.state === 'fatal') return;
    polydrive.state = 'playing';
    polydrive.games++;
    polydrive.frame = 0;
    polydrive.ended = null;
    message.hidden = true;
    canvas.focus({preventScroll: true});
    const [scale, wide] = pictureSettings();
    document.body.classList.toggle('wide', wide === 1);
    polydrive.scale = scale;
    polydrive.widescreen = wide;
    const [level, limits] = levelSettings();
    polydrive.level = level;
    polydrive.limits = limits;
    let signal;
    try {
      signal = await Module.ccall('polydrive_play', 'number', ['number', 'number', 'number', 'number'],
                                  [scale, wide, level, limits === 'raised' ? 1 : 0], {async: true});
    } catch (error) {
      // A fatal error has shown its line already; anything else shows here.
      if (!(error && error.name === 'ExitStatus')) fail(`The game stopped: ${error}`);
      polydrive.state = 'fatal';
      return;
    }
    polydrive.state = 'over';
    polydrive.ended = signal === SIGALRM ? 'time' : 'escape';
    // A touch screen has neither Escape nor Enter: say what was tapped.
    const how = signal === SIGALRM ? 'Time is up: a game lasts 60 seconds.'
                                   : touchScreen ? 'You quit the game (✕).' : 'You pressed Escape.';
    show(how + (touchScreen ? '\nTap New game to play again.' : '\nPress Enter or New game to play again.'), 'over');
  }

  function toggleFullscreen() {
    if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
    else if (document.documentElement.requestFullscreen) document.documentElement.requestFullscreen().catch(() => {});
  }

  addEventListener('keydown', event => {
    const enter = event.code === 'Enter' || event.code === 'NumpadEnter';
    if (!enter) return;
    if (event.altKey) {
      event.preventDefault();
      if (!event.repeat) toggleFullscreen();
    } else if (polydrive.state === 'over') {
      event.preventDefault();
      if (!event.repeat) newGame();
    }
  });
  again.addEventListener('click', () => newGame());
  document.getElementById('fullscreen').addEventListener('click', () => toggleFullscreen());
  // The map button (and map=1 in the URL) sets the game's map setting; M in
  // the game toggles it too.
  mapButton.addEventListener('click', () => {
    if (!Module._polydrive_map) return;
    const on = mapCanvas.hidden;
    Module._polydrive_map(on ? 1 : 0);
    if (!on) Module.onSidePicture(null);
    canvas.focus({preventScroll: true});
  });

  // Touch buttons: a button is down while at least one finger (or the mouse)
  // is on it, so two thumbs on two buttons hold two keys.
  if (touchScreen) document.body.classList.add('touch');
  for (const button of document.querySelectorAll('[data-key]')) {
    const scancode = Number(button.dataset.key);
    const pointers = new Set();
    const send = press => {
      if (Module._web_key_event) Module._web_key_event(scancode, press);
    };
    button.addEventListener('pointerdown', event => {
      event.preventDefault();
      if (button.setPointerCapture) button.setPointerCapture(event.pointerId);
      if (pointers.size === 0) {
        button.classList.add('held');
        send(1);
      }
      pointers.add(event.pointerId);
    });
    const lift = event => {
      if (!pointers.delete(event.pointerId) || pointers.size > 0) return;
      button.classList.remove('held');
      send(0);
    };
    button.addEventListener('pointerup', lift);
    button.addEventListener('pointercancel', lift);
    button.addEventListener('lostpointercapture', lift);
    button.addEventListener('contextmenu', event => event.preventDefault());
  }
})();
