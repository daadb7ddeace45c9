// render/sprite.cpp: bitmap copies with transparency, clipped to the raster
// state's clip rectangle (columns x0..x1-1, rows y0..y1-1).
//
// Positions, sizes and source offsets are carried in 64 bits: a sprite may be
// placed anywhere and claim any size, and only the clipped part ever turns
// into addresses. Every source index stays below width × height because the
// cuts never leave more rows or columns than the bitmap (or the requested
// on-screen size) has, and the scaled steps never pass the bitmap's extent.
#include "render/sprite.h"

#include "platform/video.h"
#include "render/poly.h"

namespace {

// The clip rectangle cut to the screen; false when nothing can be drawn.
struct Clip {
    int64_t x0, y0, x1, y1;
};

bool load_clip(Clip *c) {
    const RasterState *s = raster_state();
    c->x0 = s->x0 < 0 ? 0 : s->x0;
    c->y0 = s->y0 < 0 ? 0 : s->y0;
    c->x1 = s->x1 > SCREEN_WIDTH - 1 ? SCREEN_WIDTH - 1 : s->x1;
    c->y1 = s->y1 > SCREEN_HEIGHT - 1 ? SCREEN_HEIGHT - 1 : s->y1;
    return c->x0 <= c->x1 && c->y0 <= c->y1;
}

// floor(log2(width)) for width > 1, else 0: the row shift of scaled bitmaps.
int row_shift(int64_t width) {
    int k = 0;
    while (width > 1) {
        width >>= 1;
        ++k;
    }
    return k;
}

}  // namespace

void sprite_draw(int x_in, int y_in, const Bitmap *bitmap) {
    const int64_t width = bitmap_width(bitmap), height = bitmap_height(bitmap);
    Clip c;
    if (width < 1 || height < 1 || !load_clip(&c)) return;
    int64_t x = x_in, y = y_in;
    if (y + height < c.y0 || y > c.y1 || x + width < c.x0 || x > c.x1) return;

    int64_t rows = height, columns = width, src = 0;
    if (y < c.y0) {
        const int64_t d = c.y0 - y;
        rows -= d;
        src += d * width;
        y = c.y0;
    }
    if (y + rows > c.y1) rows = c.y1 - y;
    if (x < c.x0) {
        const int64_t d = c.x0 - x;
        columns -= d;
        src += d;
        x = c.x0;
    }
    if (x + columns > c.x1) columns = c.x1 - x;
    if (rows <= 0 || columns <= 0) return;

    const uint8_t *in = bitmap_pixels(bitmap) + src;
    uint8_t *out = BackBuffer + y * SCREEN_WIDTH + x;
    for (int64_t r = 0; r < rows; ++r, in += width, out += SCREEN_WIDTH) {
        for (int64_t i = 0; i < columns; ++i) {
            const uint8_t v = in[i];
            if (v != BITMAP_TRANSPARENT) out[i] = v;
        }
    }
}

void sprite_draw_scaled(int cx, int cy, int w_in, int h_in, const Bitmap *bitmap) {
    const int64_t width = bitmap_width(bitmap), height = bitmap_height(bitmap);
    Clip c;
    // A negative size leaves nothing after the cuts; say so up front.
    if (width < 1 || height < 1 || w_in < 0 || h_in < 0 || !load_clip(&c)) return;
    int64_t w = w_in, h = h_in;
    int64_t x = cx - w / 2, y = cy - h / 2;
    if (y + h < c.y0 || y > c.y1 || x + w < c.x0 || x > c.x1) return;
    if (w == 0) w = 1;
    if (h == 0) h = 1;
    const int64_t x_step = width * 65536 / w;
    const int64_t y_step = height * 65536 / h;
    const int k = row_shift(width);

    int64_t sy = 0;
    if (y < c.y0) {
        const int64_t d = c.y0 - y;
        h -= d;
        sy = d * y_step;
        y = c.y0;
    }
    if (y + h > c.y1) h = c.y1 - y;
    int64_t sx = 0;
    if (x < c.x0) {
        const int64_t d = c.x0 - x;
        w -= d;
        sx = d * x_step;
        x = c.x0;
    }
    if (x + w > c.x1) w = c.x1 - x;
    if (h <= 0 || w <= 0) return;

    // The left cut's fraction is dropped: each drawn row restarts at the
    // whole source column c0 with the position at 0.
    const int64_t c0 = sx >> 16;
    const uint8_t *pixels = bitmap_pixels(bitmap);
    uint8_t *out = BackBuffer + y * SCREEN_WIDTH + x;
    for (int64_t r = 0; r < h; ++r, sy += y_step, out += SCREEN_WIDTH) {
        const uint8_t *in = pixels + ((sy >> 16) << k) + c0;
        int64_t pos = 0;
        for (int64_t i = 0; i < w; ++i, pos += x_step) {
            const uint8_t v = in[pos >> 16];
            if (v != BITMAP_TRANSPARENT) out[i] = v;
        }
    }
}
