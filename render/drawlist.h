// render/drawlist.h: the storage the two halves of the frame pipeline share:
// the draw list and its sort buckets, the frame's copy of the camera, the
// frame view transform, FrameStamp and the screen points of the face being
// drawn. Everything is allocated once by drawlist_init; nothing per frame.
//
// Depth keys are camera-space z (coordinates), always at least 256. A vertex
// whose stamp equals FrameStamp has camera coordinates from this frame and is
// not yet projected.
#pragma once

#include <cstdint>

#include "render/camera.h"
#include "render/poly.h"
#include "base/transform.h"

struct Face;
struct Mesh;

struct DrawItem {
    int32_t key;   // depth, at least 256
    Face *face;
};

constexpr int DRAWLIST_BUCKETS = 7;
constexpr int SCREEN_POINTS = 8;

struct DrawList {
    DrawItem *items;
    int32_t count;
    int32_t capacity;
    DrawItem *buckets[DRAWLIST_BUCKETS];
    int32_t bucket_count[DRAWLIST_BUCKETS];
    int32_t allocated;
    int32_t pick_cursor;   // drawn-mesh iterator: item index, -1 not started, -2 done
};

// Per-frame render state, one global instance.
struct RenderState {
    Camera camera;         // copy taken at the start of the frame
    Transform view;        // world to camera space
    int32_t frame_stamp;   // 0 after drawlist_init, 1 in the first frame
    DrawList list;
    ScreenPoint points[SCREEN_POINTS];
};

RenderState *render_state();

void drawlist_init(int32_t capacity);
void drawlist_free();   // harmless twice or without drawlist_init

// Radix sort of the listed items, far to near; equal keys keep listing order.
void drawlist_sort();
// The meshes drawn in the last frame, nearest first, each once; then null.
Mesh *drawlist_next_drawn_mesh();
