// render/poly.cpp: scan conversion of convex polygons by two edge chains.
//
// Both chains start on the top corner; the backward chain walks the corners
// in falling index order, the forward chain in rising order. Each chain holds
// one edge at a time, clipped to the clip rows when it is taken, and a
// segment of rows lasts until the chain whose edge ends first needs the next
// one. The fillers step x (and colour) in 16.16 per row and draw one span per
// row; the pick test walks the same chains with whole-pixel slopes.
//
// Safety for any input: every row a segment covers lies between the clamped
// top and bottom rows, hence inside the clip rows, and every span is clamped
// to the clip columns before it is written. Arithmetic that can leave 32 bits
// for corners outside the 16.16 range is done in 64 bits or wraps explicitly.
#include "render/poly.h"

#include <cstring>

#include "platform/video.h"
#include "render/fixed.h"

namespace {

struct RasterModule {
    RasterState state;
};
RasterModule raster;

// The clip rectangle as the fillers use it: the state's rectangle cut to the
// screen, so that a bad rectangle can never address memory off the buffer.
struct Clip {
    int32_t x0, y0, x1, y1;
};

bool load_clip(const RasterState &s, Clip *c) {
    c->x0 = s.x0 < 0 ? 0 : s.x0;
    c->y0 = s.y0 < 0 ? 0 : s.y0;
    c->x1 = s.x1 > SCREEN_WIDTH - 1 ? SCREEN_WIDTH - 1 : s.x1;
    c->y1 = s.y1 > SCREEN_HEIGHT - 1 ? SCREEN_HEIGHT - 1 : s.y1;
    return c->x0 <= c->x1 && c->y0 <= c->y1;
}

// Corner scan and rejection shared by all three operations.
struct Setup {
    int32_t min_x, max_x;
    int32_t top_row, bottom_row;
    int top;   // index of the first corner on the lowest row
};

bool set_up(int n, const ScreenPoint *p, const Clip &c, Setup *s) {
    if (n < 1) return false;
    int32_t min_x = p[0].x, max_x = p[0].x, min_y = p[0].y, max_y = p[0].y;
    int top = 0;
    for (int i = 1; i < n; ++i) {
        const int32_t x = p[i].x, y = p[i].y;
        if (x < min_x) min_x = x;
        if (x > max_x) max_x = x;
        if (y < min_y) {
            min_y = y;
            top = i;
        }
        if (y > max_y) max_y = y;
    }
    if (max_y < c.y0 || min_y > c.y1 || max_x < c.x0 || min_x > c.x1) return false;
    s->min_x = min_x;
    s->max_x = max_x;
    s->top_row = min_y > c.y0 ? min_y : c.y0;
    s->bottom_row = max_y < c.y1 ? max_y : c.y1;
    s->top = top;
    return true;
}

// a × b / d with the product formed in 64 bits and the quotient cut to 32
// bits; d > 0. The product only wraps for corners far outside the 16.16
// range, whose picture is undefined anyway.
int32_t mul_div(int64_t a, int64_t b, int64_t d) {
    const auto product = static_cast<int64_t>(static_cast<uint64_t>(a) * static_cast<uint64_t>(b));
    return low32(product / d);
}

// One edge of a chain, clipped to the clip rows. Returns false when nothing
// of it is left to step along (outside the rows, or a single row).
struct ClippedEdge {
    int32_t xt, yt, xb, yb;
    int32_t ct, colour_step;   // gouraud only
};

template <bool Gouraud>
bool take_edge(const ScreenPoint &from, const ScreenPoint &to, const uint8_t *colours,
               int from_index, int to_index, const Clip &c, ClippedEdge *e) {
    // On equal rows the corner left behind is the top.
    const bool swap = to.y < from.y;
    const ScreenPoint &t = swap ? to : from;
    const ScreenPoint &b = swap ? from : to;
    int32_t xt = t.x, yt = t.y, xb = b.x, yb = b.y;
    int32_t ct = 0, colour_step = 0;
    if constexpr (Gouraud) {
        ct = int32_t{colours[swap ? to_index : from_index]} << 16;
        const int32_t cb = int32_t{colours[swap ? from_index : to_index]} << 16;
        if (yb != yt) colour_step = low32((int64_t{cb} - ct) / (int64_t{yb} - yt));
    } else {
        (void)colours;
        (void)from_index;
        (void)to_index;
    }
    if (yb < c.y0 || yt > c.y1) return false;
    if (yt < c.y0) {
        if constexpr (Gouraud)
            ct = wrap_add(ct, low32((int64_t{c.y0} - yt) * colour_step));
        xt = wrap_add(xt, mul_div(int64_t{xb} - xt, int64_t{c.y0} - yt, int64_t{yb} - yt));
        yt = c.y0;
    }
    if (yb > c.y1) {
        xb = wrap_add(xb, mul_div(int64_t{xt} - xb, int64_t{yb} - c.y1, int64_t{yb} - yt));
        yb = c.y1;
    }
    if (yt == yb) return false;
    *e = ClippedEdge{xt, yt, xb, yb, ct, colour_step};
    return true;
}

int step_back(int i, int n) { return i == 0 ? n - 1 : i - 1; }
int step_forward(int i, int n) { return i == n - 1 ? 0 : i + 1; }

// ---------------------------------------------------------------------------
// Fillers

struct EdgeCursor {
    int needs_edge;
    int corner;
    int32_t x, x_step;   // 16.16
    int32_t end_row;
    int32_t colour, colour_step;   // 16.16, gouraud only
};

template <bool Gouraud>
void advance(EdgeCursor *cur, bool backward, int n, const ScreenPoint *p, const uint8_t *colours,
             const Clip &c) {
    const int from = cur->corner;
    const int to = backward ? step_back(from, n) : step_forward(from, n);
    cur->corner = to;
    ClippedEdge e;
    if (!take_edge<Gouraud>(p[from], p[to], colours, from, to, c, &e)) return;
    cur->needs_edge = 0;
    cur->x = low32(int64_t{e.xt} * 65536);
    cur->x_step = low32((int64_t{e.xb} - e.xt) * 65536 / (int64_t{e.yb} - e.yt));
    cur->end_row = e.yb;
    cur->colour = e.ct;
    cur->colour_step = e.colour_step;
}

// Shared by both fillers: pick test on the unclipped span, then the clip.
// Returns false when the span misses the clip columns.
struct SpanTest {
    int32_t pick_x, pick_y;
    int32_t pick_hit, drawn;
};

inline bool span_visible(SpanTest *t, const Clip &c, int32_t row, int32_t left, int32_t right) {
    if (row == t->pick_y && left <= t->pick_x && t->pick_x <= right) t->pick_hit = 1;
    if (left > c.x1 || right < c.x0) return false;
    t->drawn = 1;
    return true;
}

// 2×2 ordered dither offset of the first pixel: rows alternate 0 3 / 2 1.
inline int dither_start(int32_t x, int32_t row) { return ((row & 1) << 1) ^ ((x & 1) * 3); }

// Gouraud span writer. Pixel i takes colour c + i·step (mod 2^32) with the
// offset toggling 0/3 or 2/1 along the row; computing c + i·step directly
// rather than by running sums gives the same wrapped values and lets the
// compiler vectorise the loop.
inline void gouraud_span(uint8_t *dst, int count, int32_t colour, int32_t step, int d) {
    const uint32_t c = static_cast<uint32_t>(colour);
    const uint32_t s = static_cast<uint32_t>(step);
    const int d_odd = d ^ 3;
    int i = 0;
    for (; i + 1 < count; i += 2) {
        const auto c0 = static_cast<int32_t>(c + s * static_cast<uint32_t>(i));
        const auto c1 = static_cast<int32_t>(c + s * static_cast<uint32_t>(i + 1));
        dst[i] = static_cast<uint8_t>(((c0 >> 14) + d) >> 2);
        dst[i + 1] = static_cast<uint8_t>(((c1 >> 14) + d_odd) >> 2);
    }
    if (i < count) {
        const auto c0 = static_cast<int32_t>(c + s * static_cast<uint32_t>(i));
        dst[i] = static_cast<uint8_t>(((c0 >> 14) + d) >> 2);
    }
}

template <bool Gouraud>
void fill(int n, const ScreenPoint *p, const uint8_t *colours, int colour) {
    RasterState &st = raster.state;
    st.pick_hit = 0;
    st.drawn = 0;
    Clip c;
    Setup s;
    if (!load_clip(st, &c) || !set_up(n, p, c, &s)) return;
    if (s.top_row == s.bottom_row) return;

    SpanTest t{st.pick_x, st.pick_y, 0, 0};
    EdgeCursor back{1, s.top, 0, 0, 0, 0, 0};
    EdgeCursor fwd{1, s.top, 0, 0, 0, 0, 0};
    uint8_t *line = BackBuffer + s.top_row * SCREEN_WIDTH;
    const auto fill_byte = static_cast<uint8_t>(colour);
    int32_t row = s.top_row;
    while (row < s.bottom_row) {
        if (back.needs_edge) {
            advance<Gouraud>(&back, true, n, p, colours, c);
            continue;
        }
        if (fwd.needs_edge) {
            advance<Gouraud>(&fwd, false, n, p, colours, c);
            continue;
        }
        EdgeCursor &ends = fwd.end_row < back.end_row ? fwd : back;
        ends.needs_edge = 1;
        const int32_t segment_end = ends.end_row;
        for (; row <= segment_end; ++row, line += SCREEN_WIDTH) {
            if constexpr (!Gouraud) {
                const int32_t lo = back.x < fwd.x ? back.x : fwd.x;
                const int32_t hi = back.x < fwd.x ? fwd.x : back.x;
                int32_t left = lo >> 16, right = hi >> 16;
                if (span_visible(&t, c, row, left, right)) {
                    if (left < c.x0) left = c.x0;
                    if (right > c.x1) right = c.x1;
                    std::memset(line + left, fill_byte, static_cast<size_t>(right - left + 1));
                }
            } else {
                const bool back_left = back.x <= fwd.x;
                const EdgeCursor &l = back_left ? back : fwd;
                const EdgeCursor &r = back_left ? fwd : back;
                int32_t left = l.x >> 16, right = r.x >> 16;
                if (span_visible(&t, c, row, left, right)) {
                    int32_t cl = l.colour, step = 0;
                    // right >= left as the ends were ordered in 16.16.
                    if (right != left) step = wrap_sub(r.colour, cl) / (right - left);
                    if (left < c.x0) {
                        cl = wrap_add(cl, low32((int64_t{c.x0} - left) * step));
                        left = c.x0;
                    }
                    if (right > c.x1) right = c.x1;
                    gouraud_span(line + left, right - left + 1, cl, step, dither_start(left, row));
                }
                back.colour = wrap_add(back.colour, back.colour_step);
                fwd.colour = wrap_add(fwd.colour, fwd.colour_step);
            }
            back.x = wrap_add(back.x, back.x_step);
            fwd.x = wrap_add(fwd.x, fwd.x_step);
        }
    }
    st.pick_hit = t.pick_hit;
    st.drawn = t.drawn;
}

// ---------------------------------------------------------------------------
// Pick test

struct PickCursor {
    int needs_edge;
    int corner;
    int32_t top_x, top_y, bottom_x, bottom_y;   // clipped ends; bottom_y is the end row
    int64_t slope;                               // whole pixels per row, truncated
};

void advance_pick(PickCursor *cur, bool backward, int n, const ScreenPoint *p, const Clip &c) {
    const int from = cur->corner;
    const int to = backward ? step_back(from, n) : step_forward(from, n);
    cur->corner = to;
    ClippedEdge e;
    if (!take_edge<false>(p[from], p[to], nullptr, from, to, c, &e)) return;
    cur->needs_edge = 0;
    cur->top_x = e.xt;
    cur->top_y = e.yt;
    cur->bottom_x = e.xb;
    cur->bottom_y = e.yb;
    cur->slope = (int64_t{e.xb} - e.xt) / (int64_t{e.yb} - e.yt);
}

int outcode(int32_t x, int32_t y, const Clip &c) {
    return (y < c.y0 ? 1 : 0) | (x < c.x0 ? 2 : 0) | (y > c.y1 ? 4 : 0) | (x > c.x1 ? 8 : 0);
}

bool edge_reaches_clip(const PickCursor &e, const Clip &c) {
    return (outcode(e.top_x, e.top_y, c) & outcode(e.bottom_x, e.bottom_y, c)) == 0;
}

bool pick_row_in(const PickCursor &e, int32_t y) { return e.top_y <= y && y <= e.bottom_y; }

int64_t x_at(const PickCursor &e, int32_t y) {
    return (int64_t{y} - e.top_y) * e.slope + e.top_x;
}

}  // namespace

RasterState *raster_state() { return &raster.state; }

void poly_fill_flat(int n, const ScreenPoint *corners, int colour) {
    fill<false>(n, corners, nullptr, colour);
}

void poly_fill_gouraud(int n, const ScreenPoint *corners, const uint8_t *corner_colours) {
    fill<true>(n, corners, corner_colours, 0);
}

void poly_pick(int n, const ScreenPoint *corners) {
    RasterState &st = raster.state;
    st.pick_hit = 0;
    st.drawn = 0;
    Clip c;
    Setup s;
    if (!load_clip(st, &c) || !set_up(n, corners, c, &s)) return;
    const int32_t px = st.pick_x, py = st.pick_y;

    if (s.top_row == s.bottom_row) {
        // The rejection tests have shown the corners reach the clip columns.
        st.drawn = 1;
        if (py == s.top_row && s.min_x <= px && px <= s.max_x) st.pick_hit = 1;
        return;
    }

    int32_t hit = 0, drawn = 0;
    PickCursor back{1, s.top, 0, 0, 0, 0, 0};
    PickCursor fwd{1, s.top, 0, 0, 0, 0, 0};
    int32_t row = s.top_row;
    while (row < s.bottom_row) {
        if (back.needs_edge) {
            advance_pick(&back, true, n, corners, c);
            continue;
        }
        if (fwd.needs_edge) {
            advance_pick(&fwd, false, n, corners, c);
            continue;
        }
        PickCursor &ends = fwd.bottom_y < back.bottom_y ? fwd : back;
        ends.needs_edge = 1;
        row = ends.bottom_y;
        if (edge_reaches_clip(back, c) || edge_reaches_clip(fwd, c)) drawn = 1;
        if (pick_row_in(back, py) && pick_row_in(fwd, py)) {
            const int64_t xa = x_at(back, py), xb = x_at(fwd, py);
            const int64_t lo = xa < xb ? xa : xb, hi = xa < xb ? xb : xa;
            if (lo <= px && px <= hi) hit = 1;
        }
    }
    st.pick_hit = hit;
    st.drawn = drawn;
}
