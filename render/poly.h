// render/poly.h: fills projected convex polygons into the back buffer, or
// tests them against the pick point.
//
// Corners are whole pixels in either winding; x is carried along edges in
// 16.16, divisions truncate toward zero, signed right shifts are arithmetic.
// The clip rectangle is inclusive and should lie inside the 320x200 screen;
// one reaching off it is cut to the screen, an empty one draws nothing.
// Whatever the corners are (non-convex, self-crossing, far outside the
// screen), nothing outside the clip rectangle is written and no arithmetic
// is undefined. Each call first clears the pick-hit and drawn flags.
#pragma once

#include <cstdint>

struct ScreenPoint {
    int32_t x, y;
};

// Eight words, in this order: the inclusive clip rectangle, the pick point,
// and the two result flags of the last rasteriser call.
struct RasterState {
    int32_t x0, y0, x1, y1;
    int32_t pick_x, pick_y;
    int32_t pick_hit;
    int32_t drawn;
};
static_assert(sizeof(RasterState) == 8 * 4);

// The one global raster state, read by the fillers and the sprite drawer.
RasterState *raster_state();

void poly_fill_flat(int n, const ScreenPoint *corners, int colour);
void poly_fill_gouraud(int n, const ScreenPoint *corners, const uint8_t *corner_colours);
void poly_pick(int n, const ScreenPoint *corners);

// Gouraud spans are written with 512-bit lanes and masked stores where the
// processor has them, else by a portable writer; both put exactly the same
// bytes. With on = 0 the portable writer is used from now on, with on != 0
// the wide one if available. Returns 1 when the wide writer is in use. For
// tests and benchmarks; the game never calls it.
int poly_use_wide_spans(int on);
