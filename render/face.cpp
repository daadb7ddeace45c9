// render/face.cpp: projection of a listed face's corners and its shading.
#include "render/face.h"

#include "base/fatal.h"
#include "render/drawlist.h"
#include "base/fixed.h"
#include "render/poly.h"
#include "render/sprite.h"
#include "res/res.h"
#include "scene/mesh.h"

namespace {
// Shade levels per colour ramp, and the width of one level in lit values
// (0..255 spread over 24 levels).
constexpr int RAMP_LEVELS = 24;
constexpr int LEVEL_WIDTH = 11;

// Palette index of a lit value: the light term scaled by the reflectivity,
// plus the ambient, capped at full brightness, as one of the ramp's levels.
uint8_t shade(int32_t ramp, int32_t reflectivity, int32_t light, int32_t ambient) {
    if (light < 0) light = 0;
    int32_t lit = low32((int64_t{reflectivity} * light) >> 8);
    int32_t s = wrap_add(lit, ambient);
    if (s > 255) s = 255;
    return static_cast<uint8_t>(ramp * RAMP_LEVELS + s / LEVEL_WIDTH);
}

int32_t light_dot(const int32_t *light, int32_t nx, int32_t ny, int32_t nz) {
    return wrap_add(wrap_add(coord_mul(light[0], nx), coord_mul(light[1], ny)),
                    coord_mul(light[2], nz));
}

// The bitmap's header comes from a file: its sizes must describe pixels that
// lie inside the resource before the sprite drawer reads them.
void check_bitmap(ResourceId id, const Bitmap *bitmap, int32_t size) {
    int32_t w = bitmap_width(bitmap);
    int32_t h = bitmap_height(bitmap);
    bool ok = w >= 1 && h >= 1 && w <= BITMAP_SIZE_MAX && h <= BITMAP_SIZE_MAX &&
              BITMAP_HEADER_SIZE + int64_t{w} * h <= size;
    if (!ok) {
        res_unlock(id);
        fatal_error("bitmap `%s' is %dx%d, which does not fit its %d bytes", res_name(id), w, h,
                    size);
    }
}

void draw_sprite(const Face *face, const Vertex *vertices, const RenderState *rs) {
    ResourceId id = static_cast<ResourceId>(face->flags & FACE_ID_MASK);
    // The lock comes first, so that a bitmap the cache cannot give ends the
    // program with the cache's own message.
    const Bitmap *bitmap = reinterpret_cast<const Bitmap *>(res_lock(id));
    int32_t size = res_size(id);
    if (size < BITMAP_HEADER_SIZE) {
        res_unlock(id);
        fatal_error("bitmap `%s' has %d bytes, too few for its header", res_name(id), size);
    }
    check_bitmap(id, bitmap, size);
    // 2^(16+s); exponents from 15 up wrap the 32-bit word as they always have.
    uint32_t s = (face->flags & FACE_SCALE_MASK) >> FACE_SCALE_SHIFT;
    int32_t scale = static_cast<int32_t>(uint32_t{65536} << s);
    // Camera depth of the sprite's vertex: at least 256, as the pipeline only
    // lists sprites at or beyond the near plane.
    int32_t z = vertices[face->clip_index[0]].cz;
    const int64_t times = rs->camera.sprite_scale;
    int32_t w = div64(int64_t{bitmap_width(bitmap)} * scale * times, z);
    int32_t h = div64(int64_t{bitmap_height(bitmap)} * scale * times, z);
    const ScreenPoint &centre = rs->points[0];
    sprite_draw_scaled(centre.x, centre.y, w, h, bitmap);
    res_unlock(id);
}
}   // namespace

// Corners with this frame's stamp are projected here, once: the stamp drops
// to 0 so a later face sharing the vertex reuses its screen position (and
// the intensity the first face gave it, if any).
void face_project(Face *face) {
    RenderState *rs = render_state();
    const RasterState *raster = raster_state();
    const Camera &cam = rs->camera;
    Vertex *vertices = face->mesh->vertices;
    const int32_t *light = face->mesh->object_light;
    int32_t stamp = rs->frame_stamp;
    int32_t centre_x = wrap_add(raster->x0, cam.half_width);
    int32_t centre_y = wrap_add(raster->y0, cam.half_height);
    bool smooth = (face->flags & FACE_SMOOTH) != 0;
    for (int i = 0; i < face->clip_count; i++) {
        Vertex &v = vertices[face->clip_index[i]];
        if (v.stamp == stamp) {
            v.stamp = 0;
            // Camera y points up, screen y down: -cy is a 32-bit coordinate
            // (it wraps) before the 64-bit product.
            v.sx = wrap_add(div64(int64_t{v.cx} * cam.focal_length, v.cz), centre_x);
            v.sy = wrap_add(div64(int64_t{wrap_neg(v.cy)} * cam.focal_length, v.cz), centre_y);
            if (smooth) v.intensity = light_dot(light, v.nx, v.ny, v.nz);
        }
        rs->points[i].x = v.sx;
        rs->points[i].y = v.sy;
    }
}

// Smooth faces are tested first, then sprites, then flat faces.
void face_draw(Face *face) {
    const RenderState *rs = render_state();
    const Mesh *mesh = face->mesh;
    const Vertex *vertices = mesh->vertices;
    int32_t ambient = rs->camera.ambient;
    int32_t reflectivity = static_cast<int32_t>(face->flags & FACE_REFLECT_MASK);
    int32_t ramp = static_cast<int32_t>((face->flags & FACE_RAMP_MASK) >> FACE_RAMP_SHIFT);
    // A triangle that needed no clipping is listed closed on its first
    // corner again. That last edge has no height, and the fillers draw and
    // report a polygon the same with or without it, so they get the three
    // corners alone and spare themselves its set-up.
    int corners = face->clip_count;
    if (corners == 4 && face->clip_index[3] == face->clip_index[0]) corners = 3;

    if (face->flags & FACE_SMOOTH) {
        uint8_t colours[SCREEN_POINTS];
        for (int i = 0; i < corners; i++) {
            int32_t intensity = vertices[face->clip_index[i]].intensity;
            colours[i] = shade(ramp, reflectivity, intensity, ambient);
        }
        poly_fill_gouraud(corners, rs->points, colours);
    } else if (face->flags & FACE_SPRITE) {
        draw_sprite(face, vertices, rs);
    } else {
        int32_t d = light_dot(mesh->object_light, face->nx, face->ny, face->nz);
        poly_fill_flat(corners, rs->points, shade(ramp, reflectivity, d, ambient));
    }
}
