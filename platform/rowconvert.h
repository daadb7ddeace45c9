// platform/rowconvert.h: turns a 320x200 frame of palette indices into 32-bit
// pixels through a table of 256 colours, row by row, converting only the rows
// that differ from the indices the pixels were last made from (every row when
// `all` is set, after a palette load). The window and web backends share it;
// each has its own pixel layout in its table. Self-contained, so a backend
// needs nothing but this header.
#pragma once

#include <cstdint>
#include <cstring>

#include "platform/video.h"

struct RowBand {
    int first;   // first converted row
    int count;   // rows from first to the last converted one; 0 when none
};

inline RowBand rowconvert_changed(const uint8_t *vram, uint8_t *converted, const uint32_t *colours,
                                  uint32_t *pixels, bool all) {
    int first = SCREEN_HEIGHT, last = -1;
    for (int y = 0; y < SCREEN_HEIGHT; y++) {
        const int offset = y * SCREEN_WIDTH;
        if (!all && std::memcmp(vram + offset, converted + offset, SCREEN_WIDTH) == 0) continue;
        for (int x = offset; x < offset + SCREEN_WIDTH; x++) pixels[x] = colours[vram[x]];
        std::memcpy(converted + offset, vram + offset, SCREEN_WIDTH);
        if (first > y) first = y;
        last = y;
    }
    return last < 0 ? RowBand{0, 0} : RowBand{first, last - first + 1};
}
