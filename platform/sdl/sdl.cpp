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
//
// A present whose frame and palette are those already on show uploads and
// presents nothing (the pacing still waits); exposing, resizing or switching
// the window to fullscreen draws it again. With POLYDRIVE_COUNT_PRESENTS set
// in the environment, closing the window prints on standard error how many
// presents reached the screen out of how many were asked for.
//
// Game controllers (any that SDL's game-controller layer knows, plugged in
// at any time) press and release the same scancodes as the keyboard: d-pad
// and left stick the cursor keys, right trigger up, left trigger down, the
// south button digit 1, Start and Back Escape. Each scancode counts its
// holders (the keyboard, and every pad control mapped to it), so the game
// sees one press when the first takes hold and one release when the last
// lets go; unplugging a controller lets go of everything it held. F12 saves
// the frame on show as a screenshot and never reaches the game.
#include <SDL.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "base/fatal.h"
#include "platform/backend.h"
#include "platform/kbd.h"
#include "platform/keymap.h"
#include "platform/rowconvert.h"
#include "platform/sdl/screenshot.h"
#include "platform/video.h"

namespace {

constexpr int WINDOW_WIDTH = 960;
constexpr int WINDOW_HEIGHT = 720;
constexpr int ASPECT_HEIGHT = 240;   // 320x200 shown as 4:3
// One refresh of the 320x200 mode, 70.086 Hz, in nanoseconds.
constexpr int64_t FRAME_NS = 14268185;

// A stick counts as pushed past a quarter of its travel, a trigger past a
// quarter of its pull: well clear of the drift of a worn stick at rest.
constexpr int STICK_DEAD_ZONE = 8192;
constexpr int TRIGGER_THRESHOLD = 8192;
constexpr int PAD_MAX = 8;   // controllers driven at once; more are left alone

// The controls of a pad that hold a key, and the key each holds.
enum PadControl {
    PAD_DPAD_UP,
    PAD_DPAD_DOWN,
    PAD_DPAD_LEFT,
    PAD_DPAD_RIGHT,
    PAD_STICK_UP,
    PAD_STICK_DOWN,
    PAD_STICK_LEFT,
    PAD_STICK_RIGHT,
    PAD_TRIGGER_RIGHT,
    PAD_TRIGGER_LEFT,
    PAD_SOUTH,
    PAD_START,
    PAD_BACK,
    PAD_CONTROLS
};
constexpr uint8_t PAD_KEYS[PAD_CONTROLS] = {
    KEY_UP,    KEY_DOWN, KEY_LEFT, KEY_RIGHT, KEY_UP,     KEY_DOWN,   KEY_LEFT,
    KEY_RIGHT, KEY_UP,   KEY_DOWN, KEY_1,     KEY_ESCAPE, KEY_ESCAPE,
};

struct Pad {
    SDL_GameController *controller;   // null: a free slot
    SDL_JoystickID id;
    uint32_t held;   // bit per PadControl
};

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
    int redraw;                       // the window lost its picture: present even if unchanged
    int count_presents;               // POLYDRIVE_COUNT_PRESENTS was set
    long presents_asked;
    long presents_shown;

    PlatKeyHandler handler;
    int keyboard;               // 1 between plat_keyboard_init and close
    uint8_t held[128];          // keys the keyboard holds (pressed, not yet released)
    uint8_t pad_holders[128];   // pad controls holding each key
    Pad pads[PAD_MAX];
    int controllers;           // 1 when the game-controller layer is running
    int64_t next_present_ns;   // the earliest moment for the next present

    // The status line in the title, and the side picture (a map) to the
    // right of the frame when one is shown.
    char title[128];
    SDL_Texture *side_texture;
    int side_shown;
    uint8_t side[PLAT_SIDE_PICTURE * PLAT_SIDE_PICTURE];
    uint32_t side_pixels[PLAT_SIDE_PICTURE * PLAT_SIDE_PICTURE];

    int window_width = WINDOW_WIDTH;   // the size the window opens at
    int window_height = WINDOW_HEIGHT;
    int fullscreen = 0;   // 1: the window opens fullscreen
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

void close_pads();

void close_window() {
    close_pads();
    if (sdl.count_presents) {
        std::fprintf(stderr, "polydrive: %ld of %ld presents shown\n", sdl.presents_shown,
                     sdl.presents_asked);
    }
    if (sdl.texture != nullptr) SDL_DestroyTexture(sdl.texture);
    if (sdl.side_texture != nullptr) SDL_DestroyTexture(sdl.side_texture);
    sdl.side_texture = nullptr;
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

// With a side picture the logical area widens by a column to the right of
// the 4:3 frame, and the map sits at its top; without one, the frame fills
// the logical area as it always has.
constexpr int SIDE_COLUMN = PLAT_SIDE_PICTURE + 16;
constexpr SDL_Rect FRAME_BESIDE_SIDE = {0, 0, SCREEN_WIDTH, ASPECT_HEIGHT};
constexpr SDL_Rect SIDE_RECT = {SCREEN_WIDTH + 8, 8, PLAT_SIDE_PICTURE, PLAT_SIDE_PICTURE};

void set_logical_size() {
    SDL_RenderSetLogicalSize(sdl.renderer, SCREEN_WIDTH + (sdl.side_shown ? SIDE_COLUMN : 0),
                             ASPECT_HEIGHT);
}

void draw_side() {
    if (!sdl.side_shown) return;
    if (sdl.side_texture == nullptr) {
        sdl.side_texture =
            SDL_CreateTexture(sdl.renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING,
                              PLAT_SIDE_PICTURE, PLAT_SIDE_PICTURE);
        if (sdl.side_texture == nullptr) return;   // no map, the game goes on
    }
    for (int i = 0; i < PLAT_SIDE_PICTURE * PLAT_SIDE_PICTURE; i++)
        sdl.side_pixels[i] = sdl.colours[sdl.side[i]];
    SDL_UpdateTexture(sdl.side_texture, nullptr, sdl.side_pixels, PLAT_SIDE_PICTURE * 4);
    SDL_RenderCopy(sdl.renderer, sdl.side_texture, nullptr, &SIDE_RECT);
}

// The video drivers SDL tries on its way print their own complaints on
// standard error (Wayland's "XDG_RUNTIME_DIR is invalid or not set", X's
// authorisation lines) before the game could say anything. They are kept
// quiet while SDL looks; a failure is still reported, by video_failed, in
// the game's own line with SDL's reason.
int init_video_quietly() {
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    const bool quiet = saved >= 0 && null >= 0 && dup2(null, STDERR_FILENO) >= 0;
    const int status = SDL_InitSubSystem(SDL_INIT_VIDEO);
    if (quiet) {
        std::fflush(stderr);
        dup2(saved, STDERR_FILENO);
    }
    if (saved >= 0) close(saved);
    if (null >= 0) close(null);
    return status;
}

void open_window() {
    // The program's own handlers decide what SIGINT and SIGTERM do.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "nearest");
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    if (init_video_quietly() != 0) video_failed();
    // When no display answers, SDL settles for a driver that draws into
    // memory only; the game would then run unseen and deaf until its time
    // limit. Such a driver is taken only when asked for by name.
    const char *driver = SDL_GetCurrentVideoDriver();
    bool shows_nothing = driver != nullptr &&
                         (std::strcmp(driver, "offscreen") == 0 ||
                          std::strcmp(driver, "dummy") == 0 || std::strcmp(driver, "evdev") == 0);
    if (shows_nothing && SDL_GetHint(SDL_HINT_VIDEODRIVER) == nullptr)
        fatal_error("cannot initialize video (no display found)");
    const Uint32 flags =
        SDL_WINDOW_RESIZABLE | (sdl.fullscreen ? Uint32{SDL_WINDOW_FULLSCREEN_DESKTOP} : 0u);
    sdl.window = SDL_CreateWindow("polydrive", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                  sdl.window_width, sdl.window_height, flags);
    if (sdl.window == nullptr) video_failed();
    sdl.renderer = SDL_CreateRenderer(sdl.window, -1, 0);
    if (sdl.renderer == nullptr)
        sdl.renderer = SDL_CreateRenderer(sdl.window, -1, SDL_RENDERER_SOFTWARE);
    if (sdl.renderer == nullptr) video_failed();
    // The logical size gives the 4:3 shape and the letterbox at any window size.
    set_logical_size();
    if (sdl.title[0] != '\0') SDL_SetWindowTitle(sdl.window, sdl.title);
    sdl.texture = SDL_CreateTexture(sdl.renderer, SDL_PIXELFORMAT_ARGB8888,
                                    SDL_TEXTUREACCESS_STREAMING, SCREEN_WIDTH, SCREEN_HEIGHT);
    if (sdl.texture == nullptr) video_failed();
    SDL_ShowCursor(SDL_DISABLE);
    sdl.count_presents = std::getenv("POLYDRIVE_COUNT_PRESENTS") != nullptr;
    sdl.presents_asked = 0;
    sdl.presents_shown = 0;
    sdl.redraw = 1;
    // Without the game-controller layer the game is driven by keyboard only.
    sdl.controllers = SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) == 0;
}

// Converts the rows of video memory that changed since the last present (all
// of them after a palette load) and uploads just that band of rows. False when
// nothing changed: the texture already holds the frame.
bool upload_frame() {
    const RowBand band =
        rowconvert_changed(sdl.vram, sdl.converted, sdl.colours, sdl.pixels, sdl.palette_changed);
    sdl.palette_changed = 0;
    if (band.count == 0) return false;
    SDL_Rect rect = {0, band.first, SCREEN_WIDTH, band.count};
    SDL_UpdateTexture(sdl.texture, &rect, sdl.pixels + band.first * SCREEN_WIDTH,
                      SCREEN_WIDTH * static_cast<int>(sizeof(uint32_t)));
    return true;
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
    sdl.presents_asked++;
    // An unchanged picture that the window still shows costs nothing more.
    if (upload_frame() || sdl.redraw) {
        sdl.redraw = 0;
        sdl.presents_shown++;
        SDL_SetRenderDrawColor(sdl.renderer, 0, 0, 0, 255);
        SDL_RenderClear(sdl.renderer);
        SDL_RenderCopy(sdl.renderer, sdl.texture, nullptr,
                       sdl.side_shown ? &FRAME_BESIDE_SIDE : nullptr);
        draw_side();
        SDL_RenderPresent(sdl.renderer);
    }
    // Keeps the window responsive; the events wait in the queue for the
    // next keyboard poll.
    SDL_PumpEvents();
}

void to_game(int scancode, int press) {
    if (sdl.handler != nullptr) sdl.handler(scancode, press);
}

// A key event from the keyboard. While no pad holds the key it goes through
// as it comes (a second press of a held key too, as the keyboard sends it);
// while a pad holds it the game has the press already and keeps it.
void deliver(int scancode, int press) {
    if (scancode <= 0 || scancode > 127) return;
    sdl.held[scancode] = static_cast<uint8_t>(press != 0);
    if (sdl.pad_holders[scancode] == 0) to_game(scancode, press);
}

// A pad control taking hold of its key or letting go; the game hears of the
// first holder and of the last.
void pad_set(Pad &pad, int control, bool on) {
    const uint32_t bit = 1u << control;
    if (((pad.held & bit) != 0) == on) return;
    const int scancode = PAD_KEYS[control];
    if (on) {
        pad.held |= bit;
        if (sdl.pad_holders[scancode]++ == 0 && !sdl.held[scancode]) to_game(scancode, 1);
    } else {
        pad.held &= ~bit;
        if (--sdl.pad_holders[scancode] == 0 && !sdl.held[scancode]) to_game(scancode, 0);
    }
}

void pad_release_all(Pad &pad) {
    for (int control = 0; control < PAD_CONTROLS; control++) pad_set(pad, control, false);
}

void release_all_held() {
    for (Pad &pad : sdl.pads) pad_release_all(pad);
    for (int scancode = 1; scancode < 128; scancode++) {
        if (sdl.held[scancode]) deliver(scancode, 0);
    }
}

Pad *find_pad(SDL_JoystickID id) {
    for (Pad &pad : sdl.pads) {
        if (pad.controller != nullptr && pad.id == id) return &pad;
    }
    return nullptr;
}

void pad_added(int device_index) {
    SDL_GameController *controller = SDL_GameControllerOpen(device_index);
    if (controller == nullptr) return;
    const SDL_JoystickID id = SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(controller));
    // Already ours (each opening counts, so give this one back), or else the
    // first free slot; with none free the controller is left alone.
    if (find_pad(id) == nullptr) {
        for (Pad &pad : sdl.pads) {
            if (pad.controller == nullptr) {
                pad = {controller, id, 0};
                return;
            }
        }
    }
    SDL_GameControllerClose(controller);
}

void pad_removed(SDL_JoystickID id) {
    Pad *pad = find_pad(id);
    if (pad == nullptr) return;
    pad_release_all(*pad);
    SDL_GameControllerClose(pad->controller);
    *pad = {};
}

void pad_button(const SDL_ControllerButtonEvent &event) {
    Pad *pad = find_pad(event.which);
    if (pad == nullptr) return;
    int control;
    switch (event.button) {
        case SDL_CONTROLLER_BUTTON_DPAD_UP: control = PAD_DPAD_UP; break;
        case SDL_CONTROLLER_BUTTON_DPAD_DOWN: control = PAD_DPAD_DOWN; break;
        case SDL_CONTROLLER_BUTTON_DPAD_LEFT: control = PAD_DPAD_LEFT; break;
        case SDL_CONTROLLER_BUTTON_DPAD_RIGHT: control = PAD_DPAD_RIGHT; break;
        case SDL_CONTROLLER_BUTTON_A: control = PAD_SOUTH; break;
        case SDL_CONTROLLER_BUTTON_START: control = PAD_START; break;
        case SDL_CONTROLLER_BUTTON_BACK: control = PAD_BACK; break;
        default: return;
    }
    pad_set(*pad, control, event.state == SDL_PRESSED);
}

// A stick axis: the control on its negative side, the one on its positive
// side; the one let go is released before the other is pressed.
void pad_stick(Pad &pad, int negative, int positive, int value) {
    const bool on_negative = value<-STICK_DEAD_ZONE, on_positive = value> STICK_DEAD_ZONE;
    if (!on_negative) pad_set(pad, negative, false);
    if (!on_positive) pad_set(pad, positive, false);
    pad_set(pad, negative, on_negative);
    pad_set(pad, positive, on_positive);
}

void pad_axis(const SDL_ControllerAxisEvent &event) {
    Pad *pad = find_pad(event.which);
    if (pad == nullptr) return;
    const int value = event.value;   // sticks -32768..32767 (y grows downwards), triggers 0..32767
    switch (event.axis) {
        case SDL_CONTROLLER_AXIS_LEFTX:
            pad_stick(*pad, PAD_STICK_LEFT, PAD_STICK_RIGHT, value);
            break;
        case SDL_CONTROLLER_AXIS_LEFTY: pad_stick(*pad, PAD_STICK_UP, PAD_STICK_DOWN, value); break;
        case SDL_CONTROLLER_AXIS_TRIGGERRIGHT:
            pad_set(*pad, PAD_TRIGGER_RIGHT, value > TRIGGER_THRESHOLD);
            break;
        case SDL_CONTROLLER_AXIS_TRIGGERLEFT:
            pad_set(*pad, PAD_TRIGGER_LEFT, value > TRIGGER_THRESHOLD);
            break;
        default: break;
    }
}

void close_pads() {
    for (Pad &pad : sdl.pads) {
        if (pad.controller != nullptr) SDL_GameControllerClose(pad.controller);
        pad = {};
    }
    std::memset(sdl.pad_holders, 0, sizeof sdl.pad_holders);
    if (sdl.controllers) SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
    sdl.controllers = 0;
}

void toggle_fullscreen() {
    bool full = (SDL_GetWindowFlags(sdl.window) & SDL_WINDOW_FULLSCREEN_DESKTOP) != 0;
    SDL_SetWindowFullscreen(sdl.window, full ? 0 : SDL_WINDOW_FULLSCREEN_DESKTOP);
    sdl.redraw = 1;
}

void handle_key(const SDL_KeyboardEvent &key) {
    if (key.repeat) return;
    SDL_Scancode code = key.keysym.scancode;
    if (code == SDL_SCANCODE_F12) {
        // The window's own key: the frame on show, as it is now.
        if (key.type == SDL_KEYDOWN) screenshot_save(sdl.vram, sdl.palette);
        return;
    }
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

void plat_window_options(int width, int height, int fullscreen) {
    if (width > 0 && height > 0) {
        sdl.window_width = width;
        sdl.window_height = height;
    }
    sdl.fullscreen = fullscreen != 0;
}

uint8_t *plat_video_memory() { return sdl.graphics ? sdl.vram : nullptr; }

void plat_set_status(const char *text) {
    if (std::strncmp(text, sdl.title, sizeof sdl.title - 1) == 0) return;
    std::snprintf(sdl.title, sizeof sdl.title, "%s", text);
    if (sdl.window != nullptr) SDL_SetWindowTitle(sdl.window, sdl.title);
}

void plat_set_side_picture(const uint8_t *pixels) {
    const int shown = pixels != nullptr;
    if (!shown && !sdl.side_shown) return;
    if (shown) {
        if (sdl.side_shown && std::memcmp(sdl.side, pixels, sizeof sdl.side) == 0) return;
        std::memcpy(sdl.side, pixels, sizeof sdl.side);
    }
    const bool resized = shown != sdl.side_shown;
    sdl.side_shown = shown;
    if (resized && sdl.renderer != nullptr) set_logical_size();
    sdl.redraw = 1;
}

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
    SDL_FlushEvents(SDL_CONTROLLERAXISMOTION, SDL_CONTROLLERBUTTONUP);
    std::memset(sdl.held, 0, sizeof sdl.held);
    // Pads hold nothing yet: a control already held counts from its next move.
    for (Pad &pad : sdl.pads) pad.held = 0;
    std::memset(sdl.pad_holders, 0, sizeof sdl.pad_holders);
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
                switch (event.window.event) {
                    case SDL_WINDOWEVENT_FOCUS_LOST: release_all_held(); break;
                    case SDL_WINDOWEVENT_SHOWN:
                    case SDL_WINDOWEVENT_EXPOSED:
                    case SDL_WINDOWEVENT_RESIZED:
                    case SDL_WINDOWEVENT_SIZE_CHANGED:
                    case SDL_WINDOWEVENT_MAXIMIZED:
                    case SDL_WINDOWEVENT_RESTORED: sdl.redraw = 1; break;
                    default: break;
                }
                break;
            case SDL_CONTROLLERDEVICEADDED: pad_added(event.cdevice.which); break;
            case SDL_CONTROLLERDEVICEREMOVED: pad_removed(event.cdevice.which); break;
            case SDL_CONTROLLERBUTTONDOWN:
            case SDL_CONTROLLERBUTTONUP: pad_button(event.cbutton); break;
            case SDL_CONTROLLERAXISMOTION: pad_axis(event.caxis); break;
            default: break;
        }
    }
}

void plat_keyboard_close() {
    sdl.keyboard = 0;
    sdl.handler = nullptr;
}
