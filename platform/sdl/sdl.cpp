// platform/sdl/sdl.cpp: the window backend.
//
// The frame (320x200 unless the game asks for a larger one) is shown in a
// resizable window (960x720 at first for 320x200, 720 rows high at the
// picture's shape otherwise) at the shape a monitor gave it (rows a fifth
// taller than wide), scaled nearest-neighbour and letterboxed; Alt
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
#include "platform/bindings.h"
#include "platform/kbd.h"
#include "platform/keymap.h"
#include "platform/rowconvert.h"
#include "platform/sdl/screenshot.h"
#include "platform/video.h"

namespace {

// The default window is 720 rows high and as wide as the picture's shape
// asks: 960 for the 4:3 picture.
constexpr int WINDOW_HEIGHT = 720;
// One refresh of the 320x200 mode, 70.086 Hz, in nanoseconds.
constexpr int64_t FRAME_NS = 14268185;

// A stick counts as pushed past a quarter of its travel, a trigger past a
// quarter of its pull: well clear of the drift of a worn stick at rest.
constexpr int STICK_DEAD_ZONE = 8192;
constexpr int TRIGGER_THRESHOLD = 8192;
constexpr int PAD_MAX = 8;   // controllers driven at once; more are left alone

struct Pad {
    SDL_GameController *controller;   // null: a free slot
    SDL_JoystickID id;
    uint32_t held;   // bit per BindPad control
};

static_assert(SDL_SCANCODE_A == 4 && SDL_SCANCODE_ESCAPE == 41 && SDL_SCANCODE_UP == 82 &&
                  SDL_SCANCODE_RGUI == 231,
              "the key map is indexed by the window system's scancodes");

struct SdlState {
    SDL_Window *window;
    SDL_Renderer *renderer;
    SDL_Texture *texture;
    int graphics;   // 1 in graphics mode: the window exists

    // Sized by the frame when graphics mode opens (frame.bytes each).
    RowFrame frame = {SCREEN_WIDTH, SCREEN_HEIGHT, SCREEN_WIDTH};   // the frame graphics mode opens
    int frame_bytes = SCREEN_SIZE;
    uint8_t *vram;
    uint8_t *converted;               // the indices the pixels were made from
    uint32_t *pixels;                 // ARGB8888, width a row, uploaded to the texture
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

    int window_width = 0;   // the size the window opens at; 0: the default
    int window_height = 0;
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

// The window's first size and the picture's logical size. The picture is
// shown with rows a fifth taller than wide. A window size asked for that is larger
// than the display's usable area is cut to it: a window bigger than any
// screen would only cost memory and time to draw, and show nothing more.
struct WindowShape {
    int width, height;
    int logical_width, logical_height;
};

WindowShape window_shape(const RowFrame &frame, int width, int height) {
    WindowShape s;
    s.logical_width = frame.width;
    s.logical_height = frame.height * 6 / 5;
    SDL_Rect usable;
    if (width <= 0 || height <= 0) {
        height = WINDOW_HEIGHT;
        width = (WINDOW_HEIGHT * s.logical_width + s.logical_height / 2) / s.logical_height;
    } else if (SDL_GetDisplayUsableBounds(0, &usable) == 0 && usable.w > 0 && usable.h > 0) {
        if (width > usable.w) width = usable.w;
        if (height > usable.h) height = usable.h;
    }
    s.width = width;
    s.height = height;
    return s;
}

[[noreturn]] void video_failed() {
    const char *reason = SDL_GetError();
    fatal_error("cannot initialize video (%s)", reason[0] != '\0' ? reason : "no display found");
}

// With a side picture the logical area widens by a column to the right of
// the frame, and the map sits at its top, both as many times larger as the
// frame is taller than 200 rows; without one, the frame fills the logical
// area as it always has.
constexpr int SIDE_COLUMN = PLAT_SIDE_PICTURE + 16;

int side_scale() {
    const int n = sdl.frame.height / SCREEN_HEIGHT;
    return n > 0 ? n : 1;
}

SDL_Rect frame_rect() { return {0, 0, sdl.frame.width, sdl.frame.height * 6 / 5}; }

SDL_Rect side_rect() {
    const int n = side_scale();
    return {sdl.frame.width + 8 * n, 8 * n, PLAT_SIDE_PICTURE * n, PLAT_SIDE_PICTURE * n};
}

void set_logical_size() {
    const SDL_Rect frame = frame_rect();
    SDL_RenderSetLogicalSize(sdl.renderer,
                             frame.w + (sdl.side_shown ? SIDE_COLUMN * side_scale() : 0), frame.h);
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
    const SDL_Rect where = side_rect();
    SDL_RenderCopy(sdl.renderer, sdl.side_texture, nullptr, &where);
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
    const WindowShape shape = window_shape(sdl.frame, sdl.window_width, sdl.window_height);
    sdl.window = SDL_CreateWindow("polydrive", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                  shape.width, shape.height, flags);
    if (sdl.window == nullptr) video_failed();
    sdl.renderer = SDL_CreateRenderer(sdl.window, -1, 0);
    if (sdl.renderer == nullptr)
        sdl.renderer = SDL_CreateRenderer(sdl.window, -1, SDL_RENDERER_SOFTWARE);
    if (sdl.renderer == nullptr) video_failed();
    // The logical size gives the picture's shape (rows a fifth taller than
    // wide, as a monitor showed 200 rows in a 4:3 frame) and the letterbox at
    // any window size. The texture is the frame itself, never larger.
    set_logical_size();
    if (sdl.title[0] != '\0') SDL_SetWindowTitle(sdl.window, sdl.title);
    sdl.texture = SDL_CreateTexture(sdl.renderer, SDL_PIXELFORMAT_ARGB8888,
                                    SDL_TEXTUREACCESS_STREAMING, sdl.frame.width, sdl.frame.height);
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
    const RowBand band = rowconvert_changed(sdl.frame, sdl.vram, sdl.converted, sdl.colours,
                                            sdl.pixels, sdl.palette_changed);
    sdl.palette_changed = 0;
    if (band.count == 0) return false;
    const int width = sdl.frame.width;
    SDL_Rect rect = {0, band.first, width, band.count};
    SDL_UpdateTexture(sdl.texture, &rect, sdl.pixels + band.first * width,
                      width * static_cast<int>(sizeof(uint32_t)));
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
        const SDL_Rect frame = frame_rect();
        SDL_RenderCopy(sdl.renderer, sdl.texture, nullptr, sdl.side_shown ? &frame : nullptr);
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
void window_action(int action);

void pad_set(Pad &pad, int control, bool on) {
    const uint32_t bit = 1u << control;
    if (((pad.held & bit) != 0) == on) return;
    const int action = bind_pad(control);
    const int scancode = action >= 0 ? bind_action_scancode(action) : 0;
    if (scancode == 0) {
        // A window action acts on the press; an unbound control only counts.
        pad.held = on ? pad.held | bit : pad.held & ~bit;
        if (on && action >= 0) window_action(action);
        return;
    }
    if (on) {
        pad.held |= bit;
        if (sdl.pad_holders[scancode]++ == 0 && !sdl.held[scancode]) to_game(scancode, 1);
    } else {
        pad.held &= ~bit;
        if (--sdl.pad_holders[scancode] == 0 && !sdl.held[scancode]) to_game(scancode, 0);
    }
}

void pad_release_all(Pad &pad) {
    for (int control = 0; control < BIND_PADS; control++) pad_set(pad, control, false);
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
        case SDL_CONTROLLER_BUTTON_DPAD_UP: control = BIND_PAD_DPUP; break;
        case SDL_CONTROLLER_BUTTON_DPAD_DOWN: control = BIND_PAD_DPDOWN; break;
        case SDL_CONTROLLER_BUTTON_DPAD_LEFT: control = BIND_PAD_DPLEFT; break;
        case SDL_CONTROLLER_BUTTON_DPAD_RIGHT: control = BIND_PAD_DPRIGHT; break;
        case SDL_CONTROLLER_BUTTON_A: control = BIND_PAD_A; break;
        case SDL_CONTROLLER_BUTTON_B: control = BIND_PAD_B; break;
        case SDL_CONTROLLER_BUTTON_X: control = BIND_PAD_X; break;
        case SDL_CONTROLLER_BUTTON_Y: control = BIND_PAD_Y; break;
        case SDL_CONTROLLER_BUTTON_LEFTSHOULDER: control = BIND_PAD_LEFTSHOULDER; break;
        case SDL_CONTROLLER_BUTTON_RIGHTSHOULDER: control = BIND_PAD_RIGHTSHOULDER; break;
        case SDL_CONTROLLER_BUTTON_START: control = BIND_PAD_START; break;
        case SDL_CONTROLLER_BUTTON_BACK: control = BIND_PAD_BACK; break;
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
            pad_stick(*pad, BIND_PAD_STICKLEFT, BIND_PAD_STICKRIGHT, value);
            break;
        case SDL_CONTROLLER_AXIS_LEFTY:
            pad_stick(*pad, BIND_PAD_STICKUP, BIND_PAD_STICKDOWN, value);
            break;
        case SDL_CONTROLLER_AXIS_TRIGGERRIGHT:
            pad_set(*pad, BIND_PAD_RIGHTTRIGGER, value > TRIGGER_THRESHOLD);
            break;
        case SDL_CONTROLLER_AXIS_TRIGGERLEFT:
            pad_set(*pad, BIND_PAD_LEFTTRIGGER, value > TRIGGER_THRESHOLD);
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

// The window's own actions: the frame on show saved as it is now, or the
// switch between window and fullscreen.
void window_action(int action) {
    if (action == BIND_SCREENSHOT) {
        const RowFrame &frame = sdl.frame;
        screenshot_save(sdl.vram, frame.width, frame.height, frame.pitch, sdl.palette);
    } else if (action == BIND_FULLSCREEN) {
        toggle_fullscreen();
    }
}

void handle_key(const SDL_KeyboardEvent &key) {
    if (key.repeat) return;
    const SDL_Scancode code = key.keysym.scancode;
    const bool down = key.type == SDL_KEYDOWN;
    const int action = bind_key(code, (key.keysym.mod & KMOD_ALT) != 0);
    if (action == BIND_OWN_CODE) {
        deliver(keymap_to_set1(code), down);
    } else if (action >= 0 && bind_action_scancode(action) != 0) {
        deliver(bind_action_scancode(action), down);
    } else if (action >= 0 && down) {
        // Not a key of the game: its release finds nothing held and records
        // nothing.
        window_action(action);
    }
}

}   // namespace

void plat_set_mode(int mode) {
    if (mode == PLAT_MODE_GRAPHICS) {
        if (sdl.graphics) return;
        // Marked first: if opening fails, the shutdown closes what was opened.
        sdl.graphics = 1;
        rowconvert_buffers(sdl.frame_bytes, sdl.vram, sdl.converted, sdl.pixels);
        sdl.palette_changed = 1;
        sdl.next_present_ns = 0;
        open_window();
    } else {
        if (!sdl.graphics) return;
        sdl.graphics = 0;
        close_window();
        std::free(sdl.vram);
        std::free(sdl.converted);
        std::free(sdl.pixels);
        sdl.vram = sdl.converted = nullptr;
        sdl.pixels = nullptr;
    }
}

void plat_window_options(int width, int height, int fullscreen) {
    if (width > 0 && height > 0) {
        sdl.window_width = width;
        sdl.window_height = height;
    }
    sdl.fullscreen = fullscreen != 0;
}

void plat_set_frame(int width, int height, int pitch, int bytes) {
    sdl.frame = RowFrame{width, height, pitch};
    sdl.frame_bytes = bytes;
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

// The window's tests write video memory behind the flip.
bool plat_video_memory_plain() { return false; }

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
