// tools/assetfmt/bitmap.h: pictures to Bitmap resources: int32 width, int32
// height (little-endian), then one palette index per pixel, rows top first.
// Index 255 is transparent, so opaque colours map to the nearest of entries
// 0..254 (squared distance of 8-bit red, green, blue; the lowest index wins a
// tie) and pixels with alpha below 128 become 255.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scene/fileformat.h"

struct Palette;

int bitmap_nearest(const Palette *palette, int r, int g, int b);

// rgba: width × height pixels of 4 bytes. The width must be a power of two
// (scaled drawing steps through rows with a shift).
bool bitmap_from_rgba(const uint8_t *rgba, int width, int height, const Palette *palette,
                      std::vector<uint8_t> *out, std::string *error);
