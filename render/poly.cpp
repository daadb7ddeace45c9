// render/poly.cpp: polygon fillers and the pick test (stubs for now).
#include "render/poly.h"

namespace {
struct RasterModule {
    RasterState state;
};
RasterModule raster;
}  // namespace

RasterState *raster_state() { return &raster.state; }

void poly_fill_flat(int, const ScreenPoint *, int) {}
void poly_fill_gouraud(int, const ScreenPoint *, const uint8_t *) {}
void poly_pick(int, const ScreenPoint *) {}
