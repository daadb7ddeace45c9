// tools/workshop/workshop-worker.js: the workshop's compiler, off the page's
// thread. It runs its own instance of workshop-engine.wasm (levelc's parser
// and compiler, the game's loaders and renderer): each source is compiled,
// loaded and drawn from the player start, then swept for the busiest view, so
// a slow source never stops the page from answering. The page terminates this
// worker when a newer source comes while one is being compiled.
//
// Messages from the page:
//   {type: 'init', module}             the compiled WebAssembly module
//   {type: 'file', name, bytes}        a file the level names (OBJ, MTL, PNG)
//   {type: 'compile', id, source, grid, headings}
// Messages to the page:
//   {type: 'ready'}
//   {type: 'shown', id, result, error, line, level, rgba, start, faces,
//    worldBytes, carBytes, raised, ms} result 0: level is the compiled .3dw, drawn
//                                      under the raised limits when raised is 1
//   {type: 'verdict', id, busiest, view, error, ms}
//   {type: 'bitmap', name, bytes | error}   a PNG converted as bitmapc does
'use strict';
importScripts('workshop-engine.js');

let engine = null;
const waiting = [];

function setUp(instance) {
  engine = instance;
  for (const folder of ['/try', '/good', '/work']) engine.FS.mkdir(folder);
  for (const name of engine.FS.readdir('/lib')) {
    if (name === '.' || name === '..') continue;
    const bytes = engine.FS.readFile('/lib/' + name);
    engine.FS.writeFile('/try/' + name, bytes);
    engine.FS.writeFile('/good/' + name, bytes);
  }
  for (const name of ['car.obj', 'car.mtl']) {
    engine.FS.writeFile('/work/' + name, engine.FS.readFile('/assets/' + name));
  }
  engine.FS.chdir('/work');
}

// A PNG file brought in becomes NAME.bit in both data folders, so that a
// sprite object named NAME draws it.
function addBitmap(name, bytes) {
  const input = engine._malloc(bytes.length || 1);
  engine.HEAPU8.set(bytes, input);
  const size = engine._ws_bitmap(input, bytes.length);
  engine._free(input);
  if (size < 0) return {error: engine.UTF8ToString(engine._ws_error())};
  const out = engine.HEAPU8.slice(engine._ws_bitmap_bytes(), engine._ws_bitmap_bytes() + size);
  const bit = name.replace(/\.png$/i, '') + '.bit';
  engine.FS.writeFile('/try/' + bit, out);
  engine.FS.writeFile('/good/' + bit, out);
  return {bytes: out, bit};
}

function compile(message) {
  const began = performance.now();
  const size = engine.lengthBytesUTF8(message.source);
  const buffer = engine._malloc(size + 1);
  engine.stringToUTF8(message.source, buffer, size + 1);
  const result = engine._ws_compile(buffer, size);
  engine._free(buffer);
  const shown = {type: 'shown', id: message.id, result, error: '', line: 0};
  if (result !== 0) {
    shown.error = engine.UTF8ToString(engine._ws_error());
    shown.line = result === 1 ? engine._ws_error_line() : 0;
    shown.ms = performance.now() - began;
    postMessage(shown);
    return;
  }
  shown.level = engine.FS.readFile('/good/level1.3dw');
  shown.rgba = engine.HEAPU8.slice(engine._ws_rgba(), engine._ws_rgba() + 320 * 200 * 4);
  shown.start = engine._ws_has_start()
    ? (([x, y, z, pitch, heading]) => ({x, y, z, pitch, heading}))([0, 1, 2, 3, 4].map(i => engine._ws_start(i)))
    : null;
  shown.faces = engine._ws_faces();
  shown.raised = engine._ws_raised();
  shown.worldBytes = engine._ws_world_bytes();
  shown.carBytes = engine._ws_car_bytes();
  shown.ms = performance.now() - began;
  postMessage(shown, [shown.rgba.buffer, shown.level.buffer]);

  const sweep = performance.now();
  const busiest = engine._ws_busiest(message.grid, message.headings);
  const at = [0, 1, 2, 3, 4].map(i => engine._ws_busy(i));
  postMessage({
    type: 'verdict', id: message.id, busiest,
    view: {x: at[0], y: at[1], z: at[2], pitch: at[3], heading: at[4]},
    error: busiest < 0 ? engine.UTF8ToString(engine._ws_error()) : null,
    ms: performance.now() - sweep,
  });
}

function handle(message) {
  if (message.type === 'file') {
    if (/\.png$/i.test(message.name)) {
      const made = addBitmap(message.name, message.bytes);
      postMessage(Object.assign({type: 'bitmap', name: message.name}, made));
    } else {
      engine.FS.writeFile('/work/' + message.name, message.bytes);
    }
  } else if (message.type === 'compile') {
    compile(message);
  }
}

onmessage = event => {
  const message = event.data;
  if (message.type === 'init') {
    createWorkshopEngine({
      // The page compiled the module once; each worker only instantiates it.
      instantiateWasm(imports, done) {
        WebAssembly.instantiate(message.module, imports).then(instance => done(instance, message.module));
        return {};
      },
    }).then(instance => {
      setUp(instance);
      for (const m of waiting.splice(0)) handle(m);
      postMessage({type: 'ready'});
    });
  } else if (engine === null) {
    waiting.push(message);
  } else {
    handle(message);
  }
};
