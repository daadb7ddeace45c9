// platform/backend.h: what the video and keyboard modules need from the
// machine, implemented once per backend (platform/sdl for the window,
// platform/headless for tests and tools); a program links exactly one.
//
// Video: a mode of 256 colours (320x200 unless plat_set_frame asked for
// another size before the switch) with a linear video memory of the frame's
// bytes, and a 256-entry palette of 6-bit components (a component is taken
// modulo 64, as the colour registers of the display do). The video memory
// exists only in graphics mode and is all colour 0 right after the switch.
// plat_present tells the backend that video memory holds a finished frame; a
// window shows it, paced to at most about 70 frames a second. A palette load
// takes effect on the picture at once.
//
// Keyboard: press and release events by PC set-1 scancode (0..127 only),
// delivered in the order they happened to the installed handler, on the
// calling thread, and only from inside plat_keyboard_update.
//
// Nothing here reports an error code except plat_keyboard_init; a backend
// that cannot open its display ends the program through fatal_error.
#pragma once

#include <cstdint>

constexpr int PLAT_MODE_TEXT = 0;
constexpr int PLAT_MODE_GRAPHICS = 5;    // 320x200, 256 colours
constexpr int PLAT_PALETTE_INTS = 768;   // red, green, blue for colours 0..255

void plat_set_mode(int mode);
// The frame the next switch to graphics mode opens: width × height pixels,
// rows pitch bytes apart, bytes of video memory (64000 for the default
// 320x200, pitch 320). Called by the video module before each switch.
void plat_set_frame(int width, int height, int pitch, int bytes);
uint8_t *plat_video_memory();   // the frame's bytes in graphics mode, else null
// True when video memory is ordinary memory that nothing but the flip writes
// and nothing watches word by word (the page's): a flip may then store the
// whole frame, which leaves it as storing only the changed words would.
bool plat_video_memory_plain();
void plat_present();
void plat_set_palette(const int *rgb);   // PLAT_PALETTE_INTS ints
void plat_get_palette(int *rgb);         // fills PLAT_PALETTE_INTS ints, 0..63
// The window's size in pixels when graphics mode opens it, and whether it
// opens fullscreen; called before graphics mode. Without the call a window
// opens at its default size, and so it does for a width or height of 0.
// Backends without a window ignore it.
void plat_window_options(int width, int height, int fullscreen);

// Outside the picture, for the player: a status line (the window's title or
// the page's footer; a backend without either ignores it), and a small
// picture of PLAT_SIDE_PICTURE x PLAT_SIDE_PICTURE palette indices shown
// beside the 320x200 one from the next present on (null: none, the state at
// start). Neither changes video memory. The backend copies both.
constexpr int PLAT_SIDE_PICTURE = 64;
void plat_set_status(const char *text);
void plat_set_side_picture(const uint8_t *pixels);

using PlatKeyHandler = void (*)(int scancode, int press);
int plat_keyboard_init();   // 0 on success
void plat_keyboard_set_handler(PlatKeyHandler handler);
void plat_keyboard_update();
void plat_keyboard_close();
