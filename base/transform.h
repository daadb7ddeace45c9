// base/transform.h: 3x3 Fixed rotation (row-major) plus a coordinate
// translation. A transform maps a column vector p to M·p + t. All products are
// 2.29 products (fixed_mul), each truncated on its own; sums wrap at 32 bits.
// Nothing is renormalised and no overflow is detected: callers keep
// coordinates small enough for the products to mean something. Every input
// still gives a defined result (no division by zero, no signed overflow).
#pragma once

#include "base/fixed.h"

struct Transform {
    Fixed m[9];   // m0..m8, row r is m[3r], m[3r+1], m[3r+2]
    int32_t tx, ty, tz;
};

// Rebuild m0..m8 from three angles, each expected in 0..1439 (others are
// wrapped, never used as out-of-range indices):
// M = Ry(ay)·Rx(ax)·Rz(az), entries in the fixed order and nesting the
// renderer's results depend on. The translation is untouched.
void transform_set_rotation(Transform *t, int32_t ax, int32_t ay, int32_t az);
void transform_set_translation(Transform *t, int32_t x, int32_t y, int32_t z);
// One row of M times a vector: (r0 ⊗ x) + (r1 ⊗ y) + (r2 ⊗ z), wrapping.
inline int32_t transform_row_dot(Fixed r0, Fixed r1, Fixed r2, int32_t x, int32_t y, int32_t z) {
    return wrap_add(wrap_add(fixed_mul(r0, x), fixed_mul(r1, y)), fixed_mul(r2, z));
}
// (x, y, z) := M·(x, y, z) + t, reading all three inputs first. Inline: the
// renderer moves every vertex and every mesh centre through it each frame.
inline void transform_point(const Transform *t, int32_t *x, int32_t *y, int32_t *z) {
    const int32_t px = *x, py = *y, pz = *z;
    const Fixed *m = t->m;
    const int32_t rx = wrap_add(transform_row_dot(m[0], m[1], m[2], px, py, pz), t->tx);
    const int32_t ry = wrap_add(transform_row_dot(m[3], m[4], m[5], px, py, pz), t->ty);
    const int32_t rz = wrap_add(transform_row_dot(m[6], m[7], m[8], px, py, pz), t->tz);
    *x = rx;
    *y = ry;
    *z = rz;
}
// (x, y, z) := Mᵀ·((x, y, z) − t).
void transform_point_inverse(const Transform *t, int32_t *x, int32_t *y, int32_t *z);
// t := M·t.
void transform_rotate_translation(Transform *t);
// out := apply a, then b: out.M = b.M·a.M (each entry summed over k = 0..2),
// out.t = b.M·a.t + b.t. out may be a or b.
void transform_concat(const Transform *a, const Transform *b, Transform *out);
// x and y where the segment from point 1 to point 2 reaches camera depth zc;
// the points are expected on either side of zc. Divisions truncate toward
// zero. An edge of constant depth (z1 == z2) has no crossing: it gives point
// 1's (x1, y1) and divides by nothing.
void near_plane_intersect(int32_t x1, int32_t y1, int32_t z1, int32_t x2, int32_t y2, int32_t z2,
                          int32_t *ox, int32_t *oy, int32_t zc);
