// render/transform.h: 3x3 Fixed rotation (row-major) plus a coordinate
// translation. A transform maps a column vector p to M·p + t. All products are
// 2.29 products (fixed_mul); sums wrap at 32 bits.
#pragma once

#include "render/fixed.h"

struct Transform {
    Fixed m[9];            // m0..m8, row r is m[3r], m[3r+1], m[3r+2]
    int32_t tx, ty, tz;
};

// Rebuild m0..m8 from three angles, each already in 0..1439:
// M = Ry(ay)·Rx(ax)·Rz(az), entries in the fixed order and nesting the
// renderer's results depend on. The translation is untouched.
void transform_set_rotation(Transform *t, int32_t ax, int32_t ay, int32_t az);
void transform_set_translation(Transform *t, int32_t x, int32_t y, int32_t z);
// (x, y, z) := M·(x, y, z) + t, reading all three inputs first.
void transform_point(const Transform *t, int32_t *x, int32_t *y, int32_t *z);
// (x, y, z) := Mᵀ·((x, y, z) − t).
void transform_point_inverse(const Transform *t, int32_t *x, int32_t *y, int32_t *z);
// t := M·t.
void transform_rotate_translation(Transform *t);
// out := apply a, then b. out must differ from a and b.
void transform_concat(const Transform *a, const Transform *b, Transform *out);
// x and y where the segment from point 1 to point 2 reaches camera depth zc.
void near_plane_intersect(int32_t x1, int32_t y1, int32_t z1, int32_t x2, int32_t y2,
                          int32_t z2, int32_t *ox, int32_t *oy, int32_t zc);
