// platform/sdl/sdl.cpp: the window backend.
//
// The 320x200 frame is shown in a resizable window (960x720 at first) at the
// 4:3 shape a monitor gave it, scaled nearest-neighbour and letterboxed; Alt
// and Enter toggle fullscreen. Presents are paced by a clock of our own to
// the 70 Hz refresh of the VGA 320x200 mode, since neither Xvfb nor every driver
// gives vsync. Key events become set-1 scancodes and reach the handler only
// from plat_keyboard_update, in the order they happened; autorepeats are
// dropped. Closing the window presses and releases Escape, so the program
// ends by its usual path; losing focus releases the keys still held.
#include <SDL.h>

#include <cstring>
#include <ctime>

#include "base/fatal.h"
#include "platform/backend.h"
#include "platform/kbd.h"
#include "platform/keymap.h"
#include "platform/video.h"

namespace {

constexpr int WINDOW_WIDTH = 960;
constexpr int WINDOW_HEIGHT = 720;
constexpr int ASPECT_HEIGHT = 240;   // 320x200 shown as 4:3
// One refresh of the 320x200 mode, 70.086 Hz, in nanoseconds.
constexpr int64_t FRAME_NS = 14268185;

static_assert(SDL_SCANCODE_A == 4 && SDL_SCANCODE_ESCAPE == 41 && SDL_SCANCODE_UP == 82 &&
                  SDL_SCANCODE_RGUI == 231,
              "the key map is indexed by the window system's scancodes");

struct SdlState {
    SDL_Window *window;
    SDL_Renderer *renderer;
    SDL_Texture *texture;
    int graphics;   // 1 in graphics mode: the window exists

    alignas(64) uint8_t vram[SCREEN_SIZE];
    uint8_t converted[SCREEN_SIZE];   // the indices the pixels were made from
    uint32_t pixels[SCREEN_SIZE];     // ARGB8888, uploaded to the texture
    uint32_t colours[256];            // palette widened to 8-bit ARGB
    int palette[PLAT_PALETTE_INTS];   // 6-bit components as loaded
    int palette_changed;              // every pixel needs converting again

    PlatKeyHandler handler;
    int keyboard;              // 1 between plat_keyboard_init and close
    uint8_t held[128];         // keys delivered as pressed and not yet released
    int64_t next_present_ns;   // the earliest moment for the next present
};
SdlState sdl;

int64_t now_ns() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

void sleep_until_ns(int64_t deadline) {
    timespec t;
    t.tv_sec = deadline / 1000000000;
    t.tv_nsec = deadline % 1000000000;
    // A signal cuts the wait short; the frame is then shown a little early,
    // and the loop sees the signal at once.
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr);
}

// 6-bit components widened so that 63 gives 255.
uint32_t widen(int c) { return static_cast<uint32_t>((c << 2) | (c >> 4)); }

void close_window() {
    if (sdl.texture != nullptr) SDL_DestroyTexture(sdl.texture);
    if (sdl.renderer != nullptr) SDL_DestroyRenderer(sdl.renderer);
    if (sdl.window != nullptr) SDL_DestroyWindow(sdl.window);
    sdl.texture = nullptr;
    sdl.renderer = nullptr;
    sdl.window = nullptr;
    if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    SDL_Quit();
}

[[noreturn]] void video_failed() {
    const char *reason = SDL_GetError();
    fatal_error("cannot initialize video (%s)", reason[0] != '\0' ? reason : "no display found");
}

void open_window() {
    // The program's own handlers decide what SIGINT and SIGTERM do.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "nearest");
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) video_failed();
    // When no display answers, SDL settles for a driver that draws into
    // memory only; the game would then run unseen and deaf until its time
    // limit. Such a driver is taken only when asked for by name.
    const char *driver = SDL_GetCurrentVideoDriver();
    bool shows_nothing = driver != nullptr &&
                         (std::strcmp(driver, "offscreen") == 0 ||
                          std::strcmp(driver, "dummy") == 0 || std::strcmp(driver, "evdev") == 0);
    if (shows_nothing && SDL_GetHint(SDL_HINT_VIDEODRIVER) == nullptr)
        fatal_error("cannot initialize video (no display found)");
    sdl.window = SDL_CreateWindow("polydrive", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                  WINDOW_WIDTH, WINDOW_HEIGHT, SDL_WINDOW_RESIZABLE);
    if (sdl.window == nullptr) video_failed();
    sdl.renderer = SDL_CreateRenderer(sdl.window, -1, 0);
    if (sdl.renderer == nullptr)
        sdl.renderer = SDL_CreateRenderer(sdl.window, -1, SDL_RENDERER_SOFTWARE);
    if (sdl.renderer == nullptr) video_failed();
    // The logical size gives the 4:3 shape and the letterbox at any window size.
    SDL_RenderSetLogicalSize(sdl.renderer, SCREEN_WIDTH, ASPECT_HEIGHT);
    sdl.texture = SDL_CreateTexture(sdl.renderer, SDL_PIXELFORMAT_ARGB8888,
                                    SDL_TEXTUREACCESS_STREAMING, SCREEN_WIDTH, SCREEN_HEIGHT);
    if (sdl.texture == nullptr) video_failed();
    SDL_ShowCursor(SDL_DISABLE);
}

// Converts the rows of video memory that changed since the last present (all
// of them after a palette load) and uploads just that band of rows.
void upload_frame() {
    int first = SCREEN_HEIGHT, last = -1;
    for (int y = 0; y < SCREEN_HEIGHT; y++) {
        int offset = y * SCREEN_WIDTH;
        if (!sdl.palette_changed &&
            std::memcmp(sdl.vram + offset, sdl.converted + offset, SCREEN_WIDTH) == 0) {
            continue;
        }
        for (int x = offset; x < offset + SCREEN_WIDTH; x++)
            sdl.pixels[x] = sdl.colours[sdl.vram[x]];
        std::memcpy(sdl.converted + offset, sdl.vram + offset, SCREEN_WIDTH);
        if (first > y) first = y;
        last = y;
    }
    sdl.palette_changed = 0;
    if (last < 0) return;
    SDL_Rect band = {0, first, SCREEN_WIDTH, last - first + 1};
    SDL_UpdateTexture(sdl.texture, &band, sdl.pixels + first * SCREEN_WIDTH,
                      SCREEN_WIDTH * static_cast<int>(sizeof(uint32_t)));
}

void show() {
    int64_t now = now_ns();
    if (now < sdl.next_present_ns) {
        sleep_until_ns(sdl.next_present_ns);
        sdl.next_present_ns += FRAME_NS;
    } else {
        // Running late: no burst of frames to catch up.
        sdl.next_present_ns = now + FRAME_NS;
    }
    upload_frame();
    SDL_SetRenderDrawColor(sdl.renderer, 0, 0, 0, 255);
    SDL_RenderClear(sdl.renderer);
    SDL_RenderCopy(sdl.renderer, sdl.texture, nullptr, nullptr);
    SDL_RenderPresent(sdl.renderer);
    // Keeps the window responsive; the events wait in the queue for the
    // next keyboard poll.
    SDL_PumpEvents();
}

void deliver(int scancode, int press) {
    if (scancode <= 0 || scancode > 127) return;
    sdl.held[scancode] = static_cast<uint8_t>(press != 0);
    if (sdl.handler != nullptr) sdl.handler(scancode, press);
}

void release_all_held() {
    for (int scancode = 1; scancode < 128; scancode++) {
        if (sdl.held[scancode]) deliver(scancode, 0);
    }
}

void toggle_fullscreen() {
    bool full = (SDL_GetWindowFlags(sdl.window) & SDL_WINDOW_FULLSCREEN_DESKTOP) != 0;
    SDL_SetWindowFullscreen(sdl.window, full ? 0 : SDL_WINDOW_FULLSCREEN_DESKTOP);
}

void handle_key(const SDL_KeyboardEvent &key) {
    if (key.repeat) return;
    SDL_Scancode code = key.keysym.scancode;
    bool enter = code == SDL_SCANCODE_RETURN || code == SDL_SCANCODE_KP_ENTER;
    if (key.type == SDL_KEYDOWN && enter && (key.keysym.mod & KMOD_ALT) != 0) {
        // The window's own shortcut: the press is not a key of the game (its
        // release finds the key up and records nothing).
        toggle_fullscreen();
        return;
    }
    deliver(keymap_to_set1(code), key.type == SDL_KEYDOWN);
}

}   // namespace

void plat_set_mode(int mode) {
    if (mode == PLAT_MODE_GRAPHICS) {
        if (sdl.graphics) return;
        // Marked first: if opening fails, the shutdown closes what was opened.
        sdl.graphics = 1;
        std::memset(sdl.vram, 0, sizeof sdl.vram);
        std::memset(sdl.converted, 0, sizeof sdl.converted);
        std::memset(sdl.pixels, 0, sizeof sdl.pixels);
        sdl.palette_changed = 1;
        sdl.next_present_ns = 0;
        open_window();
    } else {
        if (!sdl.graphics) return;
        sdl.graphics = 0;
        close_window();
    }
}

uint8_t *plat_video_memory() { return sdl.graphics ? sdl.vram : nullptr; }

void plat_present() {
    if (sdl.graphics && sdl.renderer != nullptr) show();
}

void plat_set_palette(const int *rgb) {
    for (int i = 0; i < PLAT_PALETTE_INTS; i++) sdl.palette[i] = rgb[i] & 63;
    for (int c = 0; c < 256; c++) {
        const int *p = &sdl.palette[c * 3];
        sdl.colours[c] = 0xFF000000u | widen(p[0]) << 16 | widen(p[1]) << 8 | widen(p[2]);
    }
    sdl.palette_changed = 1;
    // The colour registers act at once: show the picture in its new colours.
    plat_present();
}

void plat_get_palette(int *rgb) { std::memcpy(rgb, sdl.palette, sizeof sdl.palette); }

int plat_keyboard_init() {
    // Keys come from the window: without one there is no keyboard.
    if (!sdl.graphics || sdl.window == nullptr) return 1;
    // Keys pressed before the keyboard was taken over are not the game's; a
    // request to close the window stays queued.
    SDL_PumpEvents();
    SDL_FlushEvents(SDL_KEYDOWN, SDL_KEYUP);
    std::memset(sdl.held, 0, sizeof sdl.held);
    sdl.keyboard = 1;
    return 0;
}

void plat_keyboard_set_handler(PlatKeyHandler handler) { sdl.handler = handler; }

void plat_keyboard_update() {
    if (!sdl.keyboard || !sdl.graphics) return;
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        switch (event.type) {
            case SDL_KEYDOWN:
            case SDL_KEYUP: handle_key(event.key); break;
            case SDL_QUIT:
                deliver(KEY_ESCAPE, 1);
                deliver(KEY_ESCAPE, 0);
                break;
            case SDL_WINDOWEVENT:
                if (event.window.event == SDL_WINDOWEVENT_FOCUS_LOST) release_all_held();
                break;
            default: break;
        }
    }
}

void plat_keyboard_close() {
    sdl.keyboard = 0;
    sdl.handler = nullptr;
}
