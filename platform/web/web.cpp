// platform/web/web.cpp: the browser backend, for the game compiled to
// WebAssembly with Emscripten.
//
// Picture: every present converts the rows of video memory that changed into
// RGBA (palette components widened as the window widens them, so 63 gives
// 255) and puts them into the page's canvas of exactly the frame's size (320x200 by default); the
// page's style scales it. A frame read back from the canvas is the frame drawn.
//
// One loop: the game's frame loop runs as it runs natively. A present that
// finds the next game frame not yet due suspends the WebAssembly stack
// (Asyncify) until an animation frame at or after that moment, so the browser
// paints and handles input once per frame. Frames fall due every 1/70.086 s
// from a start time on the browser's clock, counted rather than summed, so the
// pace does not drift; an animation frame runs every frame that is due (none,
// one or two at 60 to 144 Hz). A stall of more than eight frames (a hidden
// tab) restarts the count: no long burst of frames to catch up.
//
// Time limit: there is no alarm signal in a browser, so this backend provides
// alarm() itself: one pending alarm on the browser's clock, replaced by the
// next call and cancelled by alarm(0). Each present checks it and, once it is
// due, raises SIGALRM, whose handler ends the loop as the signal does natively.
//
// Keys: keydown and keyup by physical key (KeyboardEvent.code) become the
// set-1 scancodes of the window backend; they are queued and reach the handler
// only from plat_keyboard_update, in order; autorepeats are dropped; the
// game's keys (cursor keys, digit 1, Escape, Enter) do not scroll or act on
// the page. Alt+Enter is the page's (full screen), not the game's. Losing
// focus or hiding the page releases every key still held. The page's touch
// buttons press and release keys through web_key_event.
//
// What the page may set on Module (see page.js): canvas; the hooks
// onGameFrame(frame, now) and onKey(scancode, press); and for tests and
// measurements only a key script (webScriptKeys(frame) gives the keys held
// in a frame as bits), the frame it pauses at (webPauseAt, until webResume()
// is called), noDrawing and alarmSeconds. Each is optional. The page may ask
// web_video_hash for the hash of the frame just presented.
#include <emscripten/emscripten.h>
#include <emscripten/html5.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "base/fatal.h"
#include "platform/backend.h"
#include "platform/kbd.h"
#include "platform/keymap.h"
#include "platform/rowconvert.h"
#include "platform/video.h"
#include "platform/web/keycode.h"

// --- the page side: canvas, clock and pacing, in JavaScript ---
// (clang-format leaves it alone: it would break the JavaScript)

// Opens the canvas for a new picture and restarts the frame count; 0 when the
// page asked for no drawing (a measurement of the engine alone).
// clang-format off
EM_JS(int, web_canvas_open, (int width, int height), {
    const canvas = Module['canvas'];
    if (!canvas || Module['noDrawing']) return 0;
    canvas.width = width;
    canvas.height = height;
    Module.webContext = canvas.getContext('2d', {alpha: false});
    Module.webImage = null;
    Module.webPace = {start: performance.now(), count: 0, lastYield: performance.now(), skipped: 0};
    return 1;
});

// Puts rows first..first+rows-1 of the RGBA picture at pixels into the canvas.
EM_JS(void, web_canvas_draw, (const uint8_t *pixels, int width, int height, int first, int rows), {
    if (!Module.webContext) return;
    let image = Module.webImage;
    if (!image || image.data.buffer !== HEAPU8.buffer || image.data.byteOffset !== pixels) {
        image = new ImageData(new Uint8ClampedArray(HEAPU8.buffer, pixels, width * height * 4), width, height);
        Module.webImage = image;
    }
    Module.webContext.putImageData(image, 0, 0, 0, first, width, rows);
});

// Milliseconds on the browser's clock, whole, modulo 2^32.
EM_JS(uint32_t, web_clock_ms, (), { return Math.floor(performance.now()) >>> 0; });

// Called at the end of game frame `frame` (1, 2, ...; 0 for a present outside
// the game loop), with the alarm's due time in whole milliseconds modulo 2^32
// when `armed`. One reading of the clock serves both answers: bit 1 set when
// the alarm is due (the difference taken modulo 2^32, as the clock wraps after
// 49 days), bit 0 set when the stack must be suspended before the next frame:
// in play, when that frame is not yet due; under a key script, every few
// milliseconds and at the frame the script pauses at.
EM_JS(int, web_frame_done, (int frame, int armed, uint32_t alarm_due_ms), {
    const FRAME_MS = 1000 / 70.086;
    const LATE_FRAMES = 8;
    const now = performance.now();
    const alarm = armed && ((alarm_due_ms - (Math.floor(now) >>> 0)) | 0) <= 0 ? 2 : 0;
    if (frame > 0 && Module['onGameFrame']) Module['onGameFrame'](frame, now);
    const pace = Module.webPace || (Module.webPace = {start: now, count: 0, lastYield: now, skipped: 0});
    if (Module['webScriptKeys']) {
        if (Module['webPauseAt'] && frame === Module['webPauseAt']) return alarm | 1;
        if (Module['noDrawing']) return alarm;
        return alarm | (now - pace.lastYield >= 8 ? 1 : 0);
    }
    pace.count++;
    const due = pace.start + pace.count * FRAME_MS;
    if (now - due > LATE_FRAMES * FRAME_MS) {
        pace.skipped += Math.floor((now - due) / FRAME_MS);
        pace.start = now;
        pace.count = 0;
        return alarm | 1;
    }
    return alarm | (now < due ? 1 : 0);
});

// Suspends until the next game frame is due (in play), until the browser has
// had its turn (under a key script), or for as long as the script pauses.
EM_ASYNC_JS(void, web_wait, (int frame), {
    const FRAME_MS = 1000 / 70.086;
    const pace = Module.webPace;
    if (Module['webScriptKeys']) {
        if (Module['webPauseAt'] && frame === Module['webPauseAt']) {
            await new Promise(resolve => { Module['webResume'] = resolve; });
        } else {
            await new Promise(resolve => setTimeout(resolve, 0));
        }
        pace.lastYield = performance.now();
        return;
    }
    const due = pace.start + pace.count * FRAME_MS;
    do {
        await new Promise(resolve => requestAnimationFrame(resolve));
    } while (performance.now() < due);
});

// The keys held in game frame `frame` under the test page's key script, as
// bits (see SCRIPT_KEYS), or -1 when no script plays.
EM_JS(int, web_script_keys, (int frame), {
    return Module['webScriptKeys'] ? Module['webScriptKeys'](frame) : -1;
});

// The time limit the page sets for tests, in seconds; 0 when it sets none.
EM_JS(int, web_alarm_override, (), { return Module['alarmSeconds'] | 0; });

// The status line for the page's footer, and the side picture (64x64 RGBA
// at pixels, or 0 for none) for the page's map canvas.
EM_JS(void, web_show_status, (const char *text), {
    if (Module['onStatus']) Module['onStatus'](UTF8ToString(text));
});
EM_JS(void, web_show_side, (const uint8_t *pixels, int side), {
    if (!Module['onSidePicture']) return;
    if (!pixels) return Module['onSidePicture'](null);
    // One picture for the whole game, refilled at each frame.
    const image = Module.webSide || (Module.webSide = new ImageData(side, side));
    image.data.set(HEAPU8.subarray(pixels, pixels + side * side * 4));
    Module['onSidePicture'](image);
});

EM_JS(void, web_key_delivered, (int scancode, int press), {
    if (Module['onKey']) Module['onKey'](scancode, press);
});
// clang-format on

namespace {

constexpr int QUEUE_SIZE = 256;

// The keys of a key script, by bit, in the order the recorder lists them.
constexpr int SCRIPT_KEYS[] = {KEY_UP, KEY_DOWN, KEY_LEFT, KEY_RIGHT, KEY_1, KEY_ESCAPE};

struct KeyEvent {
    uint8_t scancode;
    uint8_t press;
};

struct WebState {
    int graphics;   // 1 in graphics mode
    int drawing;    // 1 when the canvas is drawn into

    // Sized by the frame when graphics mode opens (frame.bytes each).
    RowFrame picture;   // the frame graphics mode opens (320x200 until told)
    int picture_bytes;
    uint8_t *vram;
    uint8_t *converted;               // the indices the pixels were made from
    uint32_t *pixels;                 // RGBA bytes in memory order, width a row
    uint32_t colours[256];            // palette widened to 8-bit RGBA
    int palette[PLAT_PALETTE_INTS];   // 6-bit components as loaded
    int palette_changed;              // every pixel needs converting again

    PlatKeyHandler handler;
    int keyboard;        // 1 between plat_keyboard_init and close
    int frame;           // game frames presented since plat_keyboard_init
    int script;          // 1 when a key script plays instead of the keyboard
    int script_held;     // the script's keys held now, as bits
    uint8_t down[128];   // keys queued as pressed and not yet as released
    uint8_t held[128];   // keys delivered as pressed and not yet released
    KeyEvent queue[QUEUE_SIZE];
    int queue_head;
    int queue_count;

    int alarm_armed;
    uint32_t alarm_due_ms;   // on the browser's clock, modulo 2^32

    uint32_t side[PLAT_SIDE_PICTURE * PLAT_SIDE_PICTURE];   // the map, RGBA
    char hash[17];                                          // web_video_hash's answer
};
WebState web;

// 6-bit components widened so that 63 gives 255.
uint32_t widen(int c) { return static_cast<uint32_t>((c << 2) | (c >> 4)); }

// A person cannot press QUEUE_SIZE keys within one frame; should it happen
// the newest are dropped, and losing focus releases whatever is left down.
void queue_key(int scancode, int press) {
    if (scancode <= 0 || scancode > 127 || web.queue_count == QUEUE_SIZE) return;
    web.down[scancode] = static_cast<uint8_t>(press != 0);
    int tail = (web.queue_head + web.queue_count) % QUEUE_SIZE;
    web.queue[tail] = {static_cast<uint8_t>(scancode), static_cast<uint8_t>(press != 0)};
    web.queue_count++;
}

void release_all_down() {
    for (int scancode = 1; scancode < 128; scancode++) {
        if (web.down[scancode]) queue_key(scancode, 0);
    }
}

// Between frames: releases of the script's keys no longer held, then presses
// of those newly held, as the recorder queues them.
void queue_script_keys(int frame) {
    int want = web_script_keys(frame);
    if (want < 0) return;
    for (int bit = 0; bit < 6; bit++) {
        if ((web.script_held >> bit & 1) && !(want >> bit & 1)) queue_key(SCRIPT_KEYS[bit], 0);
    }
    for (int bit = 0; bit < 6; bit++) {
        if (!(web.script_held >> bit & 1) && (want >> bit & 1)) queue_key(SCRIPT_KEYS[bit], 1);
    }
    web.script_held = want;
}

bool is_game_key(int scancode) {
    return scancode == KEY_UP || scancode == KEY_DOWN || scancode == KEY_LEFT ||
           scancode == KEY_RIGHT || scancode == KEY_1 || scancode == KEY_ESCAPE ||
           scancode == KEY_ENTER;
}

EM_BOOL on_key(int type, const EmscriptenKeyboardEvent *event, void *) {
    int scancode = keymap_to_set1(keycode_to_usage(event->code));
    bool enter =
        std::strcmp(event->code, "Enter") == 0 || std::strcmp(event->code, "NumpadEnter") == 0;
    // Alt+Enter belongs to the page; its release finds the key up.
    if (enter && event->altKey) return EM_FALSE;
    if (!web.script && !event->repeat) queue_key(scancode, type == EMSCRIPTEN_EVENT_KEYDOWN);
    return is_game_key(scancode) ? EM_TRUE : EM_FALSE;
}

EM_BOOL on_blur(int, const EmscriptenFocusEvent *, void *) {
    if (!web.script) release_all_down();
    return EM_FALSE;
}

EM_BOOL on_visibility(int, const EmscriptenVisibilityChangeEvent *event, void *) {
    if (event->hidden && !web.script) release_all_down();
    return EM_FALSE;
}

void listen(bool on) {
    const char *window = EMSCRIPTEN_EVENT_TARGET_WINDOW;
    emscripten_set_keydown_callback(window, nullptr, EM_TRUE, on ? on_key : nullptr);
    emscripten_set_keyup_callback(window, nullptr, EM_TRUE, on ? on_key : nullptr);
    emscripten_set_blur_callback(window, nullptr, EM_TRUE, on ? on_blur : nullptr);
    emscripten_set_visibilitychange_callback(nullptr, EM_TRUE, on ? on_visibility : nullptr);
}

// Converts the rows of video memory that changed since the last present (all
// of them after a palette load) and puts just that band of rows on the canvas.
void draw_frame() {
    const RowBand band = rowconvert_changed(web.picture, web.vram, web.converted, web.colours,
                                            web.pixels, web.palette_changed);
    web.palette_changed = 0;
    if (band.count > 0)
        web_canvas_draw(reinterpret_cast<const uint8_t *>(web.pixels), web.picture.width,
                        web.picture.height, band.first, band.count);
}

// Milliseconds from the browser's clock now to `when`, negative once passed;
// the clock wraps after 49 days, so the difference is taken modulo 2^32.
int32_t ms_until(uint32_t when) { return static_cast<int32_t>(when - web_clock_ms()); }

// The alarm, once due, raises SIGALRM before the wait for the next frame.
void present(int frame) {
    if (web.drawing) draw_frame();
    const int done = web_frame_done(frame, web.alarm_armed, web.alarm_due_ms);
    if (done & 2) {
        web.alarm_armed = 0;
        std::raise(SIGALRM);
    }
    if (done & 1) web_wait(frame);
}

}   // namespace

// --- the backend interface ---

void plat_set_mode(int mode) {
    if (mode == PLAT_MODE_GRAPHICS) {
        if (web.graphics) return;
        web.graphics = 1;
        rowconvert_buffers(web.picture_bytes, web.vram, web.converted, web.pixels);
        web.palette_changed = 1;
        web.drawing = web_canvas_open(web.picture.width, web.picture.height);
    } else {
        // The last picture stays on the canvas for the page to write over.
        web.graphics = 0;
        web.drawing = 0;
    }
}

void plat_set_frame(int width, int height, int pitch, int bytes) {
    web.picture = RowFrame{width, height, pitch};
    web.picture_bytes = bytes;
}

uint8_t *plat_video_memory() { return web.graphics ? web.vram : nullptr; }

// Only the flip writes video memory, and the present compares rows itself.
bool plat_video_memory_plain() { return true; }

void plat_present() {
    if (!web.graphics) return;
    if (web.keyboard) {
        web.frame++;
        // The keys of the next frame wait in the queue for its first poll.
        if (web.script) queue_script_keys(web.frame + 1);
        present(web.frame);
    } else {
        present(0);
    }
}

void plat_set_palette(const int *rgb) {
    for (int i = 0; i < PLAT_PALETTE_INTS; i++) web.palette[i] = rgb[i] & 63;
    for (int c = 0; c < 256; c++) {
        const int *p = &web.palette[c * 3];
        web.colours[c] = 0xFF000000u | widen(p[2]) << 16 | widen(p[1]) << 8 | widen(p[0]);
    }
    web.palette_changed = 1;
    // The colour registers act at once: show the picture in its new colours.
    if (web.graphics) present(0);
}

void plat_get_palette(int *rgb) { std::memcpy(rgb, web.palette, sizeof web.palette); }

// The canvas has the page's size; there is no window to size.
void plat_window_options(int, int, int) {}

void plat_set_status(const char *text) { web_show_status(text); }

void plat_set_side_picture(const uint8_t *pixels) {
    if (pixels == nullptr) {
        web_show_side(nullptr, PLAT_SIDE_PICTURE);
        return;
    }
    for (int i = 0; i < PLAT_SIDE_PICTURE * PLAT_SIDE_PICTURE; i++)
        web.side[i] = web.colours[pixels[i]];
    web_show_side(reinterpret_cast<const uint8_t *>(web.side), PLAT_SIDE_PICTURE);
}

int plat_keyboard_init() {
    // Keys held before the game took the keyboard are not the game's.
    web.queue_head = 0;
    web.queue_count = 0;
    std::memset(web.down, 0, sizeof web.down);
    std::memset(web.held, 0, sizeof web.held);
    web.frame = 0;
    web.script_held = 0;
    web.script = web_script_keys(1) >= 0;
    if (web.script) queue_script_keys(1);
    listen(true);
    web.keyboard = 1;
    return 0;
}

void plat_keyboard_set_handler(PlatKeyHandler handler) { web.handler = handler; }

void plat_keyboard_update() {
    if (!web.keyboard) return;
    // The handler may not add events, but a key pressed meanwhile may: those
    // wait for the next poll.
    int pending = web.queue_count;
    while (pending-- > 0) {
        KeyEvent event = web.queue[web.queue_head];
        web.queue_head = (web.queue_head + 1) % QUEUE_SIZE;
        web.queue_count--;
        web.held[event.scancode] = event.press;
        web_key_delivered(event.scancode, event.press);
        if (web.handler != nullptr) web.handler(event.scancode, event.press);
    }
}

void plat_keyboard_close() {
    listen(false);
    web.keyboard = 0;
    web.handler = nullptr;
}

// --- for the page and the C library ---

// A touch button pressed (1) or let go (0); ignored outside a game.
extern "C" EMSCRIPTEN_KEEPALIVE void web_key_event(int scancode, int press) {
    if (web.keyboard && !web.script) queue_key(scancode, press);
}

// For the browser test: FNV-1a 64 of the frame's bytes in video memory as 16
// hex digits, the form of the recorded laps' frame hashes; empty outside
// graphics mode.
extern "C" EMSCRIPTEN_KEEPALIVE const char *web_video_hash() {
    web.hash[0] = '\0';
    if (!web.graphics) return web.hash;
    uint64_t h = 1469598103934665603ull;
    for (int i = 0; i < web.picture_bytes; i++) h = (h ^ web.vram[i]) * 1099511628211ull;
    for (int i = 15; i >= 0; i--, h >>= 4) web.hash[i] = "0123456789abcdef"[h & 15];
    web.hash[16] = '\0';
    return web.hash;
}

// The browser has no alarm signal: see the time limit above. Returns the
// seconds left of the alarm it replaces, rounded up, as alarm() does.
unsigned alarm(unsigned seconds) {
    unsigned left = 0;
    if (web.alarm_armed) {
        int32_t ms = ms_until(web.alarm_due_ms);
        left = ms > 0 ? static_cast<unsigned>((ms + 999) / 1000) : 1;
    }
    web.alarm_armed = seconds != 0;
    if (seconds != 0) {
        // A day at most: longer waits do not fit the clock's difference.
        int forced = web_alarm_override();
        uint32_t limit = forced > 0 ? static_cast<uint32_t>(forced) : seconds;
        if (limit > 86400) limit = 86400;
        web.alarm_due_ms = web_clock_ms() + limit * 1000u;
    }
    return left;
}
