// tools/workshop/workshop.js: the level workshop page. The source is compiled
// by levelc's own parser and compiler and drawn by the game's engine, both in
// workshop-engine.wasm, shortly after typing stops, in a worker
// (workshop-worker.js) so that the page answers however long a source takes;
// a mistake shows levelc's message at its line and the last good level stays
// in the preview. The page's own instance of the engine draws the free
// camera's views of the good level. The source and the files brought in (OBJ,
// MTL, and PNG pictures, converted as bitmapc converts them) are kept in the
// browser's storage.
//
// window.workshop, for tests:
//   load(text)   replaces the source; resolves when the preview shows it
//                (from the player start), or with its mistake shown
//   state()      {errors: [{line, message}], verdict, good, view, source,
//                 compiles, shownMs, busy, bitmaps}
//   setView(v)   moves the free camera ({x, y, z, pitch, heading}); resolves
//                when drawn
//   drive()      Drive from here; resolves when the game runs
(function () {
  'use strict';

  const STORE_SOURCE = 'polydrive-workshop.source';
  const STORE_FILES = 'polydrive-workshop.files';
  const QUIET_MS = 150;        // typing pause before a compile
  const SWEEP_GRID = 10;       // busiest-view search: positions per side
  const SWEEP_HEADINGS = 16;   // and headings at each
  const TURN = 1440;           // angle units in a full turn
  const SUPERSEDE_MS = 400;    // longest a newer source waits for a compile under way

  const MINIMAL = `world
# A first level. y is up, the ground lies at y = -6000 (the driver's eye is
# at 0), the car starts at the origin looking along +z; 5000 units are about
# a metre. Faces are listed as seen from their front: corners clockwise.
start Human1 0 0 0

object Ground
  position 0 -6000 0
  mass 1000000
  v -100000 0 -100000
  v 100000 0 -100000
  v 100000 0 100000
  v -100000 0 100000
  quad green 200 3 2 1 0
end

object Crate
  position 0 -6000 40000
  mass 1000
  box -5000 0 -5000 5000 10000 5000 red 220
end
`;

  const $ = id => document.getElementById(id);
  const text = $('text');
  const gutter = $('gutter');
  const errorLine = $('error');
  const canvas = $('preview');
  const context = canvas.getContext('2d');
  const image = context.createImageData(320, 200);

  const state = {
    errors: [],        // [{line, message}] of the last compile; line 0: none named
    verdict: null,     // see updateVerdict
    good: false,       // a good level is in the preview
    view: null,        // the free camera, or null for the player start
    start: null,       // the player start's camera of the good level
    compiles: 0,
    shownMs: null,     // how long the last compile took to reach the canvas
    verdictMs: null,   // of which the busiest-view search
    saved: true,       // the source is in the browser's storage
    shareLink: null,
    driving: false,
    bitmaps: {},       // PNG name -> {bit, base64} of its Bitmap, or {error}
    raised: false,     // the good level needs (and is drawn under) the raised limits
  };
  let engine = null;
  let files = {};      // name -> base64 of the files brought in (OBJ, MTL, PNG)
  let timer = 0;

  // ---- the editor: a text area with a gutter of line numbers ----
  function showGutter() {
    const lines = text.value.split('\n').length;
    const marked = new Set(state.errors.map(e => e.line));
    let out = '';
    for (let i = 1; i <= lines; i++) out += (marked.has(i) ? '▶' : '') + i + '\n';
    gutter.textContent = out;
    gutter.scrollTop = text.scrollTop;
  }
  text.addEventListener('scroll', () => { gutter.scrollTop = text.scrollTop; });

  function showErrors() {
    if (state.errors.length === 0) {
      errorLine.hidden = true;
    } else {
      const e = state.errors[0];
      errorLine.textContent = e.message +
        (state.good ? ' (the preview shows the last good level)' : '');
      errorLine.hidden = false;
    }
    showGutter();
  }

  // Scrolls a line into view, a few lines below the top.
  function scrollToLine(line) {
    const lines = text.value.split('\n').length;
    const lineHeight = text.scrollHeight / Math.max(lines, 1);
    text.scrollTop = Math.max(0, (line - 5) * lineHeight);
    gutter.scrollTop = text.scrollTop;
  }
  // Puts the caret on a line and scrolls it into view.
  function goToLine(line) {
    const lines = text.value.split('\n');
    let at = 0;
    for (let i = 0; i < line - 1 && i < lines.length; i++) at += lines[i].length + 1;
    text.focus();
    text.setSelectionRange(at, at + (lines[line - 1] || '').length);
    scrollToLine(line);
  }
  // After a whole new source: its mistake in view.
  function showMistake() {
    if (state.errors.length && state.errors[0].line > 0) scrollToLine(state.errors[0].line);
  }
  errorLine.addEventListener('click', () => {
    if (state.errors.length && state.errors[0].line > 0) goToLine(state.errors[0].line);
  });

  // ---- storage ----
  function store() {
    try {
      localStorage.setItem(STORE_SOURCE, text.value);
      localStorage.setItem(STORE_FILES, JSON.stringify(files));
      state.saved = true;
    } catch (error) {
      state.saved = false;
      $('files').textContent = 'not kept in this browser: ' + error.message;
    }
  }

  // A PNG converted by the worker: its .bit in the page's data folder too.
  function bitmapDone(m) {
    if (m.error) {
      // Not kept: a picture bitmapc refuses is only its message.
      state.bitmaps[m.name] = {error: m.error};
      delete files[m.name];
      store();
      $('files').textContent = `${m.name}: ${m.error}`;
      return;
    }
    engine.FS.writeFile('/good/' + m.bit, m.bytes);
    state.bitmaps[m.name] = {bit: m.bit, base64: base64Of(m.bytes)};
  }

  function showFiles() {
    const names = Object.keys(files);
    $('files').textContent = names.length ? 'files: ' + names.join(', ') : '';
  }

  function bytesOf(base64) {
    const plain = atob(base64);
    const bytes = new Uint8Array(plain.length);
    for (let i = 0; i < plain.length; i++) bytes[i] = plain.charCodeAt(i);
    return bytes;
  }
  function base64Of(bytes) {
    let s = '';
    for (let i = 0; i < bytes.length; i += 0x8000) s += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
    return btoa(s);
  }

  // ---- the engine ----
  function paint() {
    const rgba = engine.HEAPU8.subarray(engine._ws_rgba(), engine._ws_rgba() + 320 * 200 * 4);
    image.data.set(rgba);
    context.putImageData(image, 0, 0);
  }

  function engineError() {
    return engine.UTF8ToString(engine._ws_error());
  }

  // ---- the compiler, in a worker (workshop-worker.js) ----
  // One source is compiled at a time. A newer source while one is being
  // compiled ends that worker and starts another, so a slow source never
  // holds up the next; every promise compile() gave resolves when the latest
  // source is shown with its verdict (or its mistake).
  let wasmModule = null;
  let worker = null;
  let workerReady = null;
  let readyNow = null;
  let requestId = 0;
  let inFlight = null;     // {id, began, source}
  let settled = [];        // resolvers waiting for the latest source

  function startWorker() {
    if (worker) worker.terminate();
    worker = new Worker('workshop-worker.js');
    worker.onmessage = event => fromWorker(event.data);
    worker.onerror = event => {
      event.preventDefault();
      // Out of memory and the like: the mistake of this source, then a fresh worker.
      const failed = inFlight;
      startWorker();
      if (failed) finish(failed, {result: 2, error: 'the compiler stopped: ' + (event.message || 'unknown error'), line: 0});
    };
    workerReady = new Promise(resolve => { readyNow = resolve; });
    worker.postMessage({type: 'init', module: wasmModule});
    for (const [name, data] of Object.entries(files)) worker.postMessage({type: 'file', name, bytes: bytesOf(data)});
  }

  function fromWorker(m) {
    if (m.type === 'ready') {
      readyNow();
    } else if (m.type === 'bitmap') {
      bitmapDone(m);
    } else if (inFlight && m.id === inFlight.id) {
      if (m.type === 'shown') shown(inFlight, m);
      else if (m.type === 'verdict') verdict(inFlight, m);
    }
  }

  function shown(request, m) {
    state.compiles++;
    if (m.result !== 0) {
      finish(request, m);
      return;
    }
    engine.FS.writeFile('/good/level1.3dw', m.level);
    engine._ws_set_raised(m.raised);
    state.raised = m.raised === 1;
    state.errors = [];
    state.good = true;
    state.start = m.start;
    state.startFaces = m.faces;
    state.poolBytes = [m.worldBytes, m.carBytes];
    if (state.view) {
      draw();
    } else {
      image.data.set(m.rgba);
      context.putImageData(image, 0, 0);
      showCamera(m.faces);
    }
    showErrors();
    requestAnimationFrame(() => { state.shownMs = performance.now() - request.began; });
  }

  function verdict(request, m) {
    state.verdictMs = m.ms;
    updateVerdict(m);
    finish(request, null);
  }

  function finish(request, failure) {
    if (failure) {
      state.errors = [{line: failure.line, message: failure.error}];
      showErrors();
    }
    inFlight = null;
    $('busy').hidden = true;
    clearTimeout(supersedeTimer);
    if (pendingSource !== null) {
      const source = pendingSource;
      pendingSource = null;
      send(source);
      return;
    }
    const waiting = settled;
    settled = [];
    requestAnimationFrame(() => waiting.forEach(resolve => resolve()));
  }

  // A newer source waits for the compile under way, but no longer than
  // SUPERSEDE_MS from that compile's start: then the worker is ended and the
  // newer source goes to a fresh one.
  let pendingSource = null;
  let supersedeTimer = 0;
  function send(source) {
    if (inFlight) {
      pendingSource = source;
      clearTimeout(supersedeTimer);
      supersedeTimer = setTimeout(() => {
        if (!inFlight || pendingSource === null) return;
        inFlight = null;
        startWorker();
        const next = pendingSource;
        pendingSource = null;
        send(next);
      }, Math.max(0, SUPERSEDE_MS - (performance.now() - inFlight.began)));
      return;
    }
    const request = {id: ++requestId, began: performance.now(), source};
    inFlight = request;
    $('busy').hidden = false;
    workerReady.then(() => {
      if (inFlight !== request) return;
      worker.postMessage({type: 'compile', id: request.id, source, grid: SWEEP_GRID, headings: SWEEP_HEADINGS});
    });
  }

  // Compiles the source; resolves when the preview shows the result.
  function compile() {
    clearTimeout(timer);
    timer = 0;
    const done = new Promise(resolve => settled.push(resolve));
    send(text.value);
    return done;
  }

  function scheduleCompile() {
    clearTimeout(timer);
    timer = setTimeout(compile, QUIET_MS);
  }

  // Draws the good level from the free camera (or the start).
  function draw() {
    if (!state.good) return;
    const v = state.view;
    const result = v ? engine._ws_render(1, v.x, v.y, v.z, v.pitch, v.heading) : engine._ws_render(0, 0, 0, 0, 0, 0);
    if (result !== 0) {
      $('camera').textContent = engineError();
      return;
    }
    paint();
    showCamera(engine._ws_faces());
  }
  function showCamera(faces) {
    const c = state.view || state.start;
    $('camera').textContent = c ? `camera x ${c.x}  y ${c.y}  z ${c.z}  pitch ${c.pitch}  heading ${c.heading}` +
      `  ·  ${faces} faces in view` : 'no player start in this level';
  }

  // levelcheck's kind of verdict on the good level: the pool and the draw
  // list, against each limit set; `needs` is the smallest set it fits.
  function updateVerdict(m) {
    const sets = ['classic', 'raised'].map((name, i) =>
      ({name, pool: engine._ws_limit(i, 0), capacity: engine._ws_limit(i, 1)}));
    const [world, car] = state.poolBytes;
    const startFaces = state.startFaces;
    const busiest = m.busiest;
    const busyView = m.view;
    const failure = m.error;
    const fitting = sets.find(set => !failure && world + car <= set.pool && busiest <= set.capacity);
    const classic = sets[0];
    state.verdict = {
      needs: fitting ? fitting.name : null, fits: fitting === sets[0], failure,
      poolBytes: world + car, startFaces, busiestFaces: busiest, busiestView: busyView,
      poolSize: classic.pool, drawListCapacity: classic.capacity,
    };
    const verdict = $('verdict');
    verdict.replaceChildren();
    const row = (term, value, bad) => {
      const dt = document.createElement('dt');
      dt.textContent = term;
      const dd = document.createElement('dd');
      dd.textContent = value;
      if (bad) dd.className = 'bad';
      verdict.append(dt, dd);
    };
    const needs = failure ? failure
      : !fitting ? 'more than even the raised limits allow'
      : fitting === classic ? 'fits the classic limits (the game as it is)'
      : `needs the ${fitting.name} limits`;
    row('verdict', needs, fitting !== classic);
    row('pool', `${world} + ${car} (car) of ${classic.pool} bytes`, world + car > classic.pool);
    row('faces', `${startFaces} at the start, ${busiest < 0 ? '?' : busiest} at the busiest view found, ` +
        `of ${classic.capacity}`, busiest < 0 || busiest > classic.capacity);
  }

  // ---- the free camera ----
  function currentView() {
    return Object.assign({}, state.view || state.start || {x: 0, y: 0, z: 0, pitch: 0, heading: 0});
  }
  function wrapAngle(a) {
    return ((Math.round(a) % TURN) + TURN) % TURN;
  }
  function setView(v) {
    state.view = v ? {x: Math.round(v.x), y: Math.round(v.y), z: Math.round(v.z),
      pitch: wrapAngle(v.pitch), heading: wrapAngle(v.heading)} : null;
    draw();
  }

  let drag = null;
  canvas.addEventListener('pointerdown', event => {
    canvas.focus();
    canvas.setPointerCapture(event.pointerId);
    drag = {x: event.clientX, y: event.clientY, view: currentView()};
  });
  canvas.addEventListener('pointermove', event => {
    if (!drag) return;
    const v = Object.assign({}, drag.view);
    v.heading += (event.clientX - drag.x) * 2;
    v.pitch += (event.clientY - drag.y) * 2;
    setView(v);
  });
  const endDrag = () => { drag = null; };
  canvas.addEventListener('pointerup', endDrag);
  canvas.addEventListener('pointercancel', endDrag);

  const held = new Set();
  const FLY_KEYS = new Set(['ArrowUp', 'ArrowDown', 'ArrowLeft', 'ArrowRight', 'KeyW', 'KeyA', 'KeyS', 'KeyD',
    'KeyR', 'KeyF', 'KeyQ', 'KeyE', 'PageUp', 'PageDown']);
  let flying = false;
  function fly() {
    if (held.size === 0) {
      flying = false;
      return;
    }
    const v = currentView();
    const step = held.has('ShiftLeft') || held.has('ShiftRight') ? 6000 : 1500;
    const a = v.heading * 2 * Math.PI / TURN;
    const forward = (held.has('ArrowUp') || held.has('KeyW') ? 1 : 0) - (held.has('ArrowDown') || held.has('KeyS') ? 1 : 0);
    const side = (held.has('KeyD') ? 1 : 0) - (held.has('KeyA') ? 1 : 0);
    const turn = (held.has('ArrowRight') || held.has('KeyE') ? 1 : 0) - (held.has('ArrowLeft') || held.has('KeyQ') ? 1 : 0);
    const rise = (held.has('KeyR') || held.has('PageUp') ? 1 : 0) - (held.has('KeyF') || held.has('PageDown') ? 1 : 0);
    v.x += (Math.sin(a) * forward + Math.cos(a) * side) * step;
    v.z += (Math.cos(a) * forward - Math.sin(a) * side) * step;
    v.y += rise * step;
    v.heading += turn * 12;
    setView(v);
    requestAnimationFrame(fly);
  }
  canvas.addEventListener('keydown', event => {
    if (event.code === 'Escape') {
      setView(null);
      return;
    }
    if (!FLY_KEYS.has(event.code) && !event.code.startsWith('Shift')) return;
    event.preventDefault();
    held.add(event.code);
    if (!flying && FLY_KEYS.has(event.code)) {
      flying = true;
      requestAnimationFrame(fly);
    }
  });
  canvas.addEventListener('keyup', event => held.delete(event.code));
  canvas.addEventListener('blur', () => held.clear());

  $('view-start').addEventListener('click', () => setView(null));
  $('view-map').addEventListener('click', () => {
    const s = state.start || {x: 0, y: 0, z: 0};
    setView({x: s.x, y: s.y + 400000, z: s.z, pitch: TURN / 4, heading: 0});
  });
  $('view-busy').addEventListener('click', () => {
    if (state.verdict) setView(state.verdict.busiestView);
  });

  // ---- drive from here ----
  const game = $('game');
  const gameFrame = $('game-frame');
  async function drive() {
    if (!state.good) return;
    const v = currentView();
    const size = engine._ws_drive(v.x, v.z);
    if (size < 0) {
      $('camera').textContent = engineError();
      return;
    }
    const bytes = engine.HEAPU8.slice(engine._ws_drive_bytes(), engine._ws_drive_bytes() + size);
    const packed = await window.levelLink.pack(bytes);
    game.hidden = false;
    state.driving = true;
    await new Promise(resolve => {
      gameFrame.onload = resolve;
      gameFrame.src = 'index.html#level=' + packed + '&heading=' + v.heading + (state.raised ? '&limits=raised' : '');
    });
    gameFrame.focus();
    const watch = setInterval(() => {
      const page = gameFrame.contentWindow && gameFrame.contentWindow.polydrive;
      if (page && (page.state === 'over' || page.state === 'fatal')) {
        clearInterval(watch);
        if (page.state === 'over') back();
      }
    }, 100);
  }
  function back() {
    game.hidden = true;
    gameFrame.src = 'about:blank';
    state.driving = false;
    canvas.focus();
  }
  $('drive').addEventListener('click', drive);

  // ---- files ----
  $('new').addEventListener('click', () => {
    text.value = MINIMAL;
    state.view = null;
    store();
    compile();
  });
  $('open').addEventListener('change', async event => {
    for (const file of event.target.files) {
      const bytes = new Uint8Array(await file.arrayBuffer());
      if (/\.(obj|mtl|png)$/i.test(file.name)) {
        files[file.name] = base64Of(bytes);
        worker.postMessage({type: 'file', name: file.name, bytes});
      } else {
        text.value = new TextDecoder().decode(bytes);
      }
    }
    event.target.value = '';
    showFiles();
    store();
    await compile();
    showMistake();
  });

  function offer(name, blob) {
    const a = document.createElement('a');
    a.href = URL.createObjectURL(blob);
    a.download = name;
    a.click();
    setTimeout(() => URL.revokeObjectURL(a.href), 1000);
  }
  $('save').addEventListener('click', () => offer('level.world', new Blob([text.value], {type: 'text/plain'})));

  // A tar archive (ustar) of the good lib/ and the source.
  function tar(entries) {
    const blocks = [];
    const enc = new TextEncoder();
    for (const [name, data] of entries) {
      const header = new Uint8Array(512);
      const put = (at, s) => header.set(enc.encode(s), at);
      put(0, name);
      put(100, '0000644\0');
      put(108, '0000000\0');
      put(116, '0000000\0');
      put(124, data.length.toString(8).padStart(11, '0') + '\0');
      put(136, Math.floor(Date.now() / 1000).toString(8).padStart(11, '0') + '\0');
      put(148, '        ');
      put(156, '0');
      put(257, 'ustar\0');
      put(263, '00');
      let sum = 0;
      for (const b of header) sum += b;
      put(148, sum.toString(8).padStart(6, '0') + '\0 ');
      blocks.push(header, data, new Uint8Array((512 - data.length % 512) % 512));
    }
    blocks.push(new Uint8Array(1024));
    return new Blob(blocks, {type: 'application/x-tar'});
  }
  $('download').addEventListener('click', () => {
    if (!state.good) return;
    const entries = engine.FS.readdir('/good').filter(n => n !== '.' && n !== '..').sort()
      .map(n => ['lib/' + n, engine.FS.readFile('/good/' + n)]);
    entries.push(['level.world', new TextEncoder().encode(text.value)]);
    offer('level.tar', tar(entries));
  });

  $('share').addEventListener('click', async () => {
    const link = new URL('workshop.html', location.href);
    link.hash = 'source=' + await window.levelLink.packText(text.value);
    state.shareLink = link.href;
    history.replaceState(null, '', link.href);
    try {
      await navigator.clipboard.writeText(link.href);
      $('files').textContent = 'link copied';
    } catch (error) {
      $('files').textContent = 'the link is in the address bar';
    }
  });
  $('play').addEventListener('click', async event => {
    if (!state.good) return;
    event.preventDefault();
    const size = engine._ws_drive(state.start ? state.start.x : 0, state.start ? state.start.z : 0);
    if (size < 0) return;
    const bytes = engine.HEAPU8.slice(engine._ws_drive_bytes(), engine._ws_drive_bytes() + size);
    location.href = 'index.html#level=' + await window.levelLink.pack(bytes) + (state.raised ? '&limits=raised' : '');
  });

  text.addEventListener('input', () => {
    showGutter();
    store();
    scheduleCompile();
  });
  text.addEventListener('keydown', event => {
    if (event.key !== 'Tab') return;
    event.preventDefault();
    text.setRangeText('  ', text.selectionStart, text.selectionEnd, 'end');
    text.dispatchEvent(new Event('input'));
  });

  window.workshop = {
    async load(source) {
      text.value = source;
      state.view = null;
      store();
      await compile();
      showMistake();
    },
    state() {
      return JSON.parse(JSON.stringify(Object.assign({source: text.value, busy: inFlight !== null, files: Object.keys(files)}, state)));
    },
    async setView(v) {
      setView(v);
      await new Promise(resolve => requestAnimationFrame(resolve));
    },
    drive,
    ready: null,
  };

  // ---- start-up: the engine, then the source from a link, storage or level 1 ----
  window.workshop.ready = (async () => {
    // The module is compiled once: the page's engine (the free camera, the
    // drive, the download) and each compiler worker instantiate it.
    wasmModule = await WebAssembly.compileStreaming(fetch('workshop-engine.wasm'));
    engine = await createWorkshopEngine({
      instantiateWasm(imports, done) {
        WebAssembly.instantiate(wasmModule, imports).then(instance => done(instance, wasmModule));
        return {};
      },
    });
    engine.FS.mkdir('/good');
    for (const name of engine.FS.readdir('/lib')) {
      if (name === '.' || name === '..') continue;
      engine.FS.writeFile('/good/' + name, engine.FS.readFile('/lib/' + name));
    }
    try {
      files = JSON.parse(localStorage.getItem(STORE_FILES) || '{}');
    } catch (error) {
      files = {};
    }
    startWorker();
    showFiles();
    let source = null;
    const packed = window.levelLink.hashValue('source');
    if (packed !== null) {
      try {
        source = await window.levelLink.unpackText(packed);
      } catch (error) {
        $('files').textContent = 'the link is damaged: ' + error.message;
      }
    }
    if (source === null) source = localStorage.getItem(STORE_SOURCE);
    if (source === null) source = new TextDecoder().decode(engine.FS.readFile('/assets/level1.world'));
    text.value = source;
    store();
    await compile();
  })();
})();
