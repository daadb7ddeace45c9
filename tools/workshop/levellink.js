// tools/workshop/levellink.js: levels carried in a link, after '#', so they
// never reach a server: bytes deflated with the browser's CompressionStream
// and written in base64url. The workshop writes `workshop.html#source=…` (its
// source text) and `index.html#level=…` (a compiled level1.3dw); on the game
// page this file also takes a level file dropped onto the page and plays it.
(function () {
  'use strict';

  async function through(bytes, stream) {
    const out = new Response(new Blob([bytes]).stream().pipeThrough(stream));
    return new Uint8Array(await out.arrayBuffer());
  }

  function toBase64url(bytes) {
    let text = '';
    for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
    return btoa(text).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
  }

  function fromBase64url(text) {
    const plain = atob(text.replace(/-/g, '+').replace(/_/g, '/'));
    const bytes = new Uint8Array(plain.length);
    for (let i = 0; i < plain.length; i++) bytes[i] = plain.charCodeAt(i);
    return bytes;
  }

  const levelLink = {
    async pack(bytes) {
      return toBase64url(await through(bytes, new CompressionStream('deflate-raw')));
    },
    async unpack(text) {
      return through(fromBase64url(text), new DecompressionStream('deflate-raw'));
    },
    async packText(text) {
      return levelLink.pack(new TextEncoder().encode(text));
    },
    async unpackText(text) {
      return new TextDecoder().decode(await levelLink.unpack(text));
    },
    // The value of `#name=…` in this page's address, or null.
    hashValue(name) {
      const hash = location.hash.replace(/^#/, '');
      for (const part of hash.split('&')) {
        if (part.startsWith(name + '=')) return part.slice(name.length + 1);
      }
      return null;
    },
    // On the game page: the level a link or a dropped file brings, or null.
    async sharedLevel() {
      const packed = levelLink.hashValue('level');
      return packed === null ? null : levelLink.unpack(packed);
    },
  };
  window.levelLink = levelLink;

  // The game page: a .3dw file dropped onto it becomes its link, and the page
  // starts again on it.
  if (document.getElementById('screen')) {
    addEventListener('dragover', event => event.preventDefault());
    addEventListener('drop', async event => {
      event.preventDefault();
      const file = event.dataTransfer && event.dataTransfer.files[0];
      if (!file) return;
      const packed = await levelLink.pack(new Uint8Array(await file.arrayBuffer()));
      location.hash = 'level=' + packed;
      location.reload();
    });
  }
})();
