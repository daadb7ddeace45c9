// platform/rowconvert.h: turns a frame of palette indices (width × height,
// rows pitch bytes apart) into 32-bit pixels, width a row with no gap,
// through a table of 256 colours, row by row, converting only the rows
// that differ from the indices the pixels were last made from (every row when
// `all` is set, after a palette load). The window and web backends share it;
// each has its own pixel layout in its table.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/fatal.h"

struct RowFrame {
    int width, height, pitch;
};

struct RowBand {
    int first;   // first converted row
    int count;   // rows from first to the last converted one; 0 when none
};

inline RowBand rowconvert_changed(const RowFrame &frame, const uint8_t *vram, uint8_t *converted,
                                  const uint32_t *colours, uint32_t *pixels, bool all) {
    const int width = frame.width, pitch = frame.pitch;
    int first = frame.height, last = -1;
    for (int y = 0; y < frame.height; y++) {
        const int offset = y * pitch;
        if (!all && std::memcmp(vram + offset, converted + offset, width) == 0) continue;
        uint32_t *out = pixels + y * width;
        for (int x = 0; x < width; x++) out[x] = colours[vram[offset + x]];
        std::memcpy(converted + offset, vram + offset, width);
        if (first > y) first = y;
        last = y;
    }
    return last < 0 ? RowBand{0, 0} : RowBand{first, last - first + 1};
}

// The three buffers a backend converts through, for a picture of `bytes`
// palette indices: what the game draws into, the indices last converted and
// the 32-bit pixels. Any earlier buffers are freed; the new ones start as
// zeros, so the first conversion after a palette load makes every row.
inline void rowconvert_buffers(long bytes, uint8_t *&vram, uint8_t *&converted, uint32_t *&pixels) {
    std::free(vram);
    std::free(converted);
    std::free(pixels);
    const auto size = static_cast<size_t>(bytes);
    vram = static_cast<uint8_t *>(safe_alloc(bytes));
    converted = static_cast<uint8_t *>(safe_alloc(bytes));
    pixels = static_cast<uint32_t *>(safe_alloc(bytes * static_cast<long>(sizeof(uint32_t))));
    std::memset(vram, 0, size);
    std::memset(converted, 0, size);
    std::memset(pixels, 0, size * sizeof(uint32_t));
}
