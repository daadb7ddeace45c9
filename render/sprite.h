// render/sprite.h: bitmaps copied into the back buffer with transparency
// (palette index 255) and clipping against the raster state's clip
// rectangle; a sprite never writes column x1 or row y1.
//
// A Bitmap is the resource as stored: int32 width, int32 height (both
// little-endian), then width × height palette bytes, top row first. Scaled
// bitmaps should be a power of two wide: source rows are addressed by a
// shift, so other widths shear (but never read outside the bitmap).
// Whatever the sizes passed, nothing outside the clip rectangle is written
// and nothing outside the bitmap is read: negative sizes, and a bitmap that
// claims a width or height below 1, draw nothing; a clip rectangle reaching
// off the screen is cut to the screen. The pick and drawn flags are left.
#pragma once

#include <cstdint>

#include "scene/fileformat.h"

// The header as stored. Resources sit at any byte offset of the cache pool,
// so the fields are read through the accessors, never as aligned int32s.
struct Bitmap {
    unsigned char header[8];   // int32 width, int32 height, little-endian
};

inline int32_t bitmap_width(const Bitmap *b) {
    uint32_t v = uint32_t{b->header[0]} | uint32_t{b->header[1]} << 8 |
                 uint32_t{b->header[2]} << 16 | uint32_t{b->header[3]} << 24;
    return static_cast<int32_t>(v);
}
inline int32_t bitmap_height(const Bitmap *b) {
    uint32_t v = uint32_t{b->header[4]} | uint32_t{b->header[5]} << 8 |
                 uint32_t{b->header[6]} << 16 | uint32_t{b->header[7]} << 24;
    return static_cast<int32_t>(v);
}
inline const uint8_t *bitmap_pixels(const Bitmap *b) {
    return reinterpret_cast<const uint8_t *>(b) + BITMAP_HEADER_SIZE;
}

void sprite_draw(int x, int y, const Bitmap *bitmap);
void sprite_draw_scaled(int cx, int cy, int w, int h, const Bitmap *bitmap);

// Scaled rows that sample at most 64 source bytes have three writers, which
// all put exactly the same bytes: the portable one, 16-byte shuffles of the
// source row (AVX2 on x86-64, SIMD128 in WebAssembly) and 512-bit byte
// permutes with masked stores (AVX-512 VBMI). Rows that sample more always
// take the portable one. The widest the processor runs is used unless
// sprite_use_row_kernel says otherwise.
constexpr int SPRITE_ROWS_PORTABLE = 0;
constexpr int SPRITE_ROWS_SHUFFLE = 1;
constexpr int SPRITE_ROWS_PERMUTE = 2;

// From now on the widest writer the processor runs that is no wider than
// `widest`; returns its number. For tests and benchmarks; the game never
// calls it.
int sprite_use_row_kernel(int widest);

// "portable", "avx2" or "simd128", "avx512"; "?" for other numbers.
const char *sprite_row_kernel_name(int kernel);
