// Fuzzes the polygon fillers, the pick test and both sprite drawers with any
// corners, counts, clip rectangles, bitmap sizes and placements the input
// spells, and traps when a byte outside the clip rectangle changes (the
// sanitizers catch stray reads and undefined arithmetic).
//
// Input: one flags byte (bit 0: use the wide gouraud writer, bit 1: the wide
// sprite row writer), then records:
//   op, clip (4 bytes), pick x and y (coordinates), then per op:
//   polygon: count, per corner x and y as coordinates, colours / colour;
//   sprite:  width, height, x, y (coordinates), and for the scaled drawer
//            w and h (coordinates); pixels are taken from the input.
// A coordinate is a mode byte and up to four bytes: full int32, int16,
// near the screen, or a small size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/video.h"
#include "render/poly.h"
#include "render/sprite.h"

namespace {

constexpr uint8_t BG = 0xEE;

struct Reader {
    const uint8_t *p;
    size_t left;
    uint8_t byte() {
        if (left == 0) return 0;
        --left;
        return *p++;
    }
    uint32_t bytes(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) v |= uint32_t{byte()} << (8 * i);
        return v;
    }
    int32_t coord() {
        switch (byte() & 3) {
            case 0: return static_cast<int32_t>(bytes(4));
            case 1: return static_cast<int16_t>(bytes(2));
            case 2: return static_cast<int8_t>(byte()) * 3 + 160;
            default: return static_cast<int32_t>(bytes(2) % 420) - 50;
        }
    }
};

uint8_t *screen() {
    static uint8_t *buf = [] {
        auto *b = static_cast<uint8_t *>(std::malloc(SCREEN_SIZE));   // exact size for ASan
        std::memset(b, BG, SCREEN_SIZE);
        return b;
    }();
    return buf;
}

// Traps unless every byte outside columns x0..x1 and rows y0..y1 is still
// the background; restores the inside.
void check_and_clear(int x0, int y0, int x1, int y1) {
    static uint8_t blank[SCREEN_WIDTH];
    static const bool ready = (std::memset(blank, BG, sizeof blank), true);
    (void)ready;
    uint8_t *s = screen();
    for (int y = 0; y < SCREEN_HEIGHT; ++y) {
        uint8_t *line = s + y * SCREEN_WIDTH;
        if (y < y0 || y > y1 || x0 > x1) {
            if (std::memcmp(line, blank, SCREEN_WIDTH) != 0) __builtin_trap();
            continue;
        }
        if (std::memcmp(line, blank, size_t(x0)) != 0) __builtin_trap();
        if (std::memcmp(line + x1 + 1, blank, size_t(SCREEN_WIDTH - 1 - x1)) != 0) __builtin_trap();
        std::memset(line + x0, BG, size_t(x1 - x0 + 1));
    }
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Reader in{data, size};
    BackBuffer = screen();
    const uint8_t flags = in.byte();
    poly_use_wide_spans(flags & 1);
    sprite_use_row_kernel((flags >> 1) % 3);
    for (int records = 0; in.left > 0 && records < 64; ++records) {
        const int op = in.byte() % 5;
        const int x0 = in.byte() % 320, x1 = x0 + in.byte() % (320 - x0);
        const int y0 = in.byte() % 200, y1 = y0 + in.byte() % (200 - y0);
        RasterState *st = raster_state();
        const int pick_x = in.coord(), pick_y = in.coord();
        *st = RasterState{x0, y0, x1, y1, pick_x, pick_y, 7, 7};
        if (op <= 2) {
            const int n = in.byte() % 9;
            ScreenPoint corners[8];
            uint8_t colours[8];
            for (int i = 0; i < n; ++i) corners[i] = {in.coord(), in.coord()};
            for (int i = 0; i < n; ++i) colours[i] = in.byte();
            if (op == 0) poly_fill_flat(n, corners, in.byte());
            if (op == 1) poly_fill_gouraud(n, corners, colours);
            if (op == 2) poly_pick(n, corners);
            if ((st->pick_hit | st->drawn) & ~1) __builtin_trap();
            if (op == 2)
                check_and_clear(0, 0, -1, -1);   // the pick test writes nothing
            else
                check_and_clear(x0, y0, x1, y1);
        } else {
            const int w = 1 + in.byte() % 40, h = 1 + in.byte() % 40;
            std::vector<uint8_t> bitmap(BITMAP_HEADER_SIZE + size_t(w) * h);
            bitmap[0] = static_cast<uint8_t>(w);
            bitmap[4] = static_cast<uint8_t>(h);
            for (size_t i = BITMAP_HEADER_SIZE; i < bitmap.size(); ++i) bitmap[i] = in.byte();
            const auto *b = reinterpret_cast<const Bitmap *>(bitmap.data());
            const int x = in.coord(), y = in.coord();
            if (op == 3) {
                sprite_draw(x, y, b);
            } else {
                const int sw = in.coord(), sh = in.coord();
                sprite_draw_scaled(x, y, sw, sh, b);
            }
            if (st->pick_hit != 7 || st->drawn != 7) __builtin_trap();   // sprites leave the flags
            check_and_clear(x0, y0, x1 - 1, y1 - 1);
        }
    }
    return 0;
}
