// tools/assetfmt/bitmap.h: pictures to Bitmap resources: int32 width, int32
// height (little-endian), then one palette index per pixel, rows top first.
// Index 255 is transparent, so opaque colours map to the nearest of entries
// 0..254 (squared distance of 8-bit red, green, blue; the lowest index wins a
// tie) and pixels with alpha below 128 become 255.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frame/game.h"
#include "scene/fileformat.h"

struct Palette;

int bitmap_nearest(const Palette *palette, int r, int g, int b);

// rgba: width × height pixels of 4 bytes. The width must be a power of two
// (scaled drawing steps through rows with a shift).
bool bitmap_from_rgba(const uint8_t *rgba, int width, int height, const Palette *palette,
                      std::vector<uint8_t> *out, std::string *error);

// The largest bitmap the game can hold: its 8-byte header and one byte a
// pixel in the resource pool.
constexpr long BITMAP_BYTES_MAX = GAME_POOL_SIZE;

// A PNG file in memory decoded with libpng (every chunk's CRC and the
// compressed stream's checksum checked) and converted as bitmap_from_rgba
// does. The size from the header is checked before anything is decoded: a
// width that is not a power of two, a side above BITMAP_SIZE_MAX, or a bitmap
// longer than max_bytes is refused. Bytes that are not a PNG file are
// refused too.
// max_bytes bounds the bitmap's length, header included (the classic pool
// unless the caller knows the room it will have).
bool bitmap_from_png(const uint8_t *data, size_t size, const Palette *palette,
                     std::vector<uint8_t> *out, std::string *error,
                     int64_t max_bytes = BITMAP_BYTES_MAX);

// The width and height a PNG file's header chunk gives, when it comes first
// as it must; false when there is none.
bool bitmap_png_size(const uint8_t *data, size_t size, int64_t *width, int64_t *height);
