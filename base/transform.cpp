// base/transform.cpp: building, applying, inverting and combining
// transforms, and the near-plane crossing of an edge.
//
// Every product goes through fixed_mul or coord_mul and every sum through
// wrap_add / wrap_sub, so any input gives a defined (if meaningless) result.
#include "base/transform.h"

void transform_set_rotation(Transform *t, int32_t ax, int32_t ay, int32_t az) {
    // fixed_sin / fixed_cos wrap, so an angle outside 0..1439 cannot index
    // outside the tables; for normalised angles they are plain lookups.
    const Fixed sx = fixed_sin(ax), cx = fixed_cos(ax);
    const Fixed sy = fixed_sin(ay), cy = fixed_cos(ay);
    const Fixed sz = fixed_sin(az), cz = fixed_cos(az);
    Fixed *m = t->m;
    // The order and nesting below decide the truncations, and so every
    // stored entry; the middle column is the cross product of the third
    // and the first, taken from the already truncated entries.
    m[0] = wrap_add(fixed_mul(fixed_mul(sx, sy), sz), fixed_mul(cy, cz));
    m[2] = fixed_mul(cx, sy);
    m[3] = fixed_mul(cx, sz);
    m[5] = wrap_neg(sx);
    m[6] = wrap_sub(fixed_mul(fixed_mul(sx, sz), cy), fixed_mul(sy, cz));
    m[8] = fixed_mul(cx, cy);
    m[1] = wrap_sub(fixed_mul(m[5], m[6]), fixed_mul(m[3], m[8]));
    m[4] = wrap_sub(fixed_mul(m[8], m[0]), fixed_mul(m[6], m[2]));
    m[7] = wrap_sub(fixed_mul(m[2], m[3]), fixed_mul(m[0], m[5]));
}

void transform_set_translation(Transform *t, int32_t x, int32_t y, int32_t z) {
    t->tx = x;
    t->ty = y;
    t->tz = z;
}

void transform_point_inverse(const Transform *t, int32_t *x, int32_t *y, int32_t *z) {
    const int32_t dx = wrap_sub(*x, t->tx), dy = wrap_sub(*y, t->ty), dz = wrap_sub(*z, t->tz);
    const Fixed *m = t->m;
    const int32_t rx = transform_row_dot(m[0], m[3], m[6], dx, dy, dz);
    const int32_t ry = transform_row_dot(m[1], m[4], m[7], dx, dy, dz);
    const int32_t rz = transform_row_dot(m[2], m[5], m[8], dx, dy, dz);
    *x = rx;
    *y = ry;
    *z = rz;
}

void transform_rotate_translation(Transform *t) {
    const int32_t tx = t->tx, ty = t->ty, tz = t->tz;
    const Fixed *m = t->m;
    t->tx = transform_row_dot(m[0], m[1], m[2], tx, ty, tz);
    t->ty = transform_row_dot(m[3], m[4], m[5], tx, ty, tz);
    t->tz = transform_row_dot(m[6], m[7], m[8], tx, ty, tz);
}

void transform_concat(const Transform *a, const Transform *b, Transform *out) {
    // Read whole before anything is written, so that out may also be a or b;
    // each entry is spelled out (the renderer concatenates once per visible
    // mesh a frame, and the loops were left rolled).
    const Fixed *p = a->m, *q = b->m;
    const Fixed a0 = p[0], a1 = p[1], a2 = p[2], a3 = p[3], a4 = p[4], a5 = p[5], a6 = p[6],
                a7 = p[7], a8 = p[8];
    const Fixed b0 = q[0], b1 = q[1], b2 = q[2], b3 = q[3], b4 = q[4], b5 = q[5], b6 = q[6],
                b7 = q[7], b8 = q[8];
    int32_t tx = a->tx, ty = a->ty, tz = a->tz;
    transform_point(b, &tx, &ty, &tz);
    // Entry (i, j) is the sum over k of b(i, k) ⊗ a(k, j), added from k = 0.
    Fixed *m = out->m;
    m[0] = transform_row_dot(b0, b1, b2, a0, a3, a6);
    m[1] = transform_row_dot(b0, b1, b2, a1, a4, a7);
    m[2] = transform_row_dot(b0, b1, b2, a2, a5, a8);
    m[3] = transform_row_dot(b3, b4, b5, a0, a3, a6);
    m[4] = transform_row_dot(b3, b4, b5, a1, a4, a7);
    m[5] = transform_row_dot(b3, b4, b5, a2, a5, a8);
    m[6] = transform_row_dot(b6, b7, b8, a0, a3, a6);
    m[7] = transform_row_dot(b6, b7, b8, a1, a4, a7);
    m[8] = transform_row_dot(b6, b7, b8, a2, a5, a8);
    out->tx = tx;
    out->ty = ty;
    out->tz = tz;
}

void near_plane_intersect(int32_t x1, int32_t y1, int32_t z1, int32_t x2, int32_t y2, int32_t z2,
                          int32_t *ox, int32_t *oy, int32_t zc) {
    // An edge of constant depth never reaches another depth; it has no
    // crossing to divide out, and point 1 stands for it. (The renderer only
    // asks about edges with one end on each side of zc, whose depths differ.)
    if (z1 == z2) {
        *ox = x1;
        *oy = y1;
        return;
    }
    if (x1 == x2) {
        // Constant x: only y moves, interpolated along z.
        *ox = x1;
        if (y1 == y2) {
            *oy = y2;
        } else {
            const int64_t num = int64_t{wrap_sub(zc, z1)} * wrap_sub(y2, y1);
            *oy = wrap_add(y1, div64(num, wrap_sub(z2, z1)));
        }
        return;
    }
    // x moves: find X along z, then y along x from that X. d is never 0
    // here, since x1 != x2 and a 32-bit difference of distinct values is
    // not 0.
    const int32_t d = wrap_sub(x1, x2);
    const int32_t n = wrap_add(wrap_sub(coord_mul(x2, z1), coord_mul(x1, z2)), coord_mul(zc, d));
    const int32_t X = div64(int64_t{n} * 256, wrap_sub(z1, z2));
    *ox = X;
    if (y1 == y2) {
        *oy = y2;
        return;
    }
    const int32_t m =
        wrap_add(wrap_sub(coord_mul(wrap_sub(y1, y2), X), coord_mul(y1, x2)), coord_mul(x1, y2));
    *oy = div64(int64_t{m} * 256, d);
}
