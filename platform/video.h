// platform/video.h: the screen of 256 palette colours, 320x200 unless a
// larger frame is asked for before gfx_init.
//
// All drawing goes to BackBuffer (gfx_frame().bytes bytes, pixel (x, y) at
// y * pitch + x; at the default size 64000 bytes with pitch 320).
// In double-buffer mode gfx_flip writes only the 32-bit words that changed
// since the last frame and then exchanges the back buffer with the
// previous-frame buffer, so BackBuffer changes at every flip: read it at each
// use. A Palette is 768 bytes of 6-bit red, green, blue (0..63).
#pragma once

#include <cstdint>

constexpr int SCREEN_WIDTH = 320;
constexpr int SCREEN_HEIGHT = 200;
constexpr int SCREEN_SIZE = SCREEN_WIDTH * SCREEN_HEIGHT;
// The largest frame gfx_set_frame_size accepts (six times the 16:9 view).
constexpr int SCREEN_MAX_WIDTH = 2560;
constexpr int SCREEN_MAX_HEIGHT = 1200;
constexpr int SCREEN_MAX_BYTES = SCREEN_MAX_WIDTH * SCREEN_MAX_HEIGHT;

// The frame in use: its size, the distance from one row to the next, and the
// bytes of each of its buffers (pitch × height rounded up to whole 64-byte
// blocks; the bytes past the last row are never drawn and stay 0). Video
// memory holds the same number of bytes in the same layout.
struct FrameGeometry {
    int32_t width, height, pitch, bytes;
};
const FrameGeometry &gfx_frame();
// The frame size the next gfx_init opens (320x200 until changed). False, and
// nothing changed, for a size outside 1..SCREEN_MAX_WIDTH × 1..SCREEN_MAX_HEIGHT.
bool gfx_set_frame_size(int width, int height);

struct Palette {
    uint8_t rgb[768];
};

extern uint8_t *BackBuffer;

int gfx_init(int single_buffer);   // always 1
void gfx_shutdown();               // harmless without gfx_init
void gfx_clear();
void gfx_flip();

// The flip compares and stores with the widest vector unit the processor
// has, chosen at gfx_init (the kernels are platform/flip.h's; the variable
// POLYDRIVE_FLIP narrows the choice too). Every kernel leaves the same video
// memory; tests narrow the choice to cover each one. Takes effect at the next
// gfx_init.
constexpr int GFX_FLIP_PORTABLE = 0;
constexpr int GFX_FLIP_SSE2 = 1;     // x86-64 only (SIMD128 in WebAssembly), else portable
constexpr int GFX_FLIP_AVX2 = 2;     // x86-64 with AVX2, else narrower
constexpr int GFX_FLIP_WIDEST = 3;   // the default: AVX-512 where the processor has it
void gfx_set_flip_kernel(int widest_allowed);

// The palette gfx_init loads: ten ramps of 24 shades, then 16 fixed colours.
const Palette *palette_default();
void palette_set(const Palette *palette);
void palette_get(Palette *palette);
void palette_black();
void palette_fade_in(const Palette *target);
void palette_fade_out();
