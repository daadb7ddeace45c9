// Transforms: rotations built, applied, inverted and combined; near-plane crossings.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <random>

#include "base/transform.h"

namespace {

using Matrix = std::array<Fixed, 9>;
using V3 = std::array<int32_t, 3>;

Transform make(V3 a, V3 t = {}) {
    Transform out{};
    transform_set_rotation(&out, a[0], a[1], a[2]);
    transform_set_translation(&out, t[0], t[1], t[2]);
    return out;
}
Matrix rotation(V3 a) { return std::to_array(make(a).m); }
V3 map(void (*f)(const Transform *, int32_t *, int32_t *, int32_t *), const Transform &t, V3 p) {
    f(&t, &p[0], &p[1], &p[2]);
    return p;
}
bool same(const Transform &a, const Transform &b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::mt19937 rng(1);
V3 any(int32_t lo, int32_t hi) {
    std::uniform_int_distribution<int32_t> d(lo, hi);
    return {d(rng), d(rng), d(rng)};
}

}   // namespace

TEST(RotationFromAngles, QuarterTurnsExactAndGeneralAnglesAsWorkedOut) {
    EXPECT_EQ(rotation({0, 0, 0}), (Matrix{FIXED_ONE, 0, 0, 0, FIXED_ONE, 0, 0, 0, FIXED_ONE}));
    EXPECT_EQ(rotation({360, 0, 0}), (Matrix{FIXED_ONE, 0, 0, 0, 0, -FIXED_ONE, 0, FIXED_ONE, 0}));
    EXPECT_EQ(rotation({0, 360, 0}), (Matrix{0, 0, FIXED_ONE, 0, FIXED_ONE, 0, -FIXED_ONE, 0, 0}));
    // Worked out from the entry formulas: the order and nesting of the truncations.
    EXPECT_EQ(rotation({1439, 1439, 1439}),
              (Matrix{536860645, 2352732, -2342511, -2342511, 536860689, 2342533, 2352731, -2332267, 536860690}));
    EXPECT_EQ(rotation({100, 200, 300}), (Matrix{257203429, -288350115, 372734464, 469990807, 125933655, -226891451,
                                                 34429807, 435000342, 312761352}));
}

// Random angles and points: the matrix is Ry·Rx·Rz up to truncation; the inverse undoes
// and a concatenation applies both, within the 9 units three floors each way cost; the
// identity first is exact and the output may be an input.
TEST(RandomTransforms, RyRxRzInvertAndConcatenate) {
    const Transform identity = make({});
    for (int n = 0; n < 300; ++n) {
        const V3 r = any(0, 1439), p = any(-50000, 50000);
        double s[3], c[3];
        for (int k = 0; k < 3; ++k) {
            s[k] = sin(r[k] * M_PI / 720);
            c[k] = cos(r[k] * M_PI / 720);
        }
        // clang-format off
        const double want[9] = {
            c[1] * c[2] + s[1] * s[0] * s[2], -c[1] * s[2] + s[1] * s[0] * c[2], s[1] * c[0],
            c[0] * s[2], c[0] * c[2], -s[0],
            -s[1] * c[2] + c[1] * s[0] * s[2], s[1] * s[2] + c[1] * s[0] * c[2], c[1] * c[0]};
        // clang-format on
        const Transform a = make(r, any(-50000, 50000)), b = make(any(0, 1439), p);
        for (int e = 0; e < 9; ++e) ASSERT_NEAR(a.m[e] / 536870912.0, want[e], 1e-7) << e;
        Transform ab{}, id_a{}, in_a = a, in_b = b;
        transform_concat(&a, &b, &ab);
        transform_concat(&identity, &a, &id_a);
        transform_concat(&in_a, &b, &in_a);
        transform_concat(&a, &in_b, &in_b);
        ASSERT_TRUE(same(id_a, a));
        ASSERT_TRUE(same(in_a, ab));
        ASSERT_TRUE(same(in_b, ab));
        const V3 ap = map(transform_point, a, p), back = map(transform_point_inverse, a, ap);
        const V3 one = map(transform_point, ab, p), two = map(transform_point, b, ap);
        for (int k = 0; k < 3; ++k) ASSERT_NEAR(back[k], p[k], 9) << k;
        for (int k = 0; k < 3; ++k) ASSERT_NEAR(one[k], two[k], 9) << k;
    }
}

TEST(PointTransform, WorkedExamples) {
    EXPECT_EQ(map(transform_point, make({0, 360, 0}, {1000, 2000, 3000}), {10, 20, 30}), (V3{1030, 2020, 2990}));
    EXPECT_EQ(map(transform_point_inverse, make({0, 360, 0}, {0, 0, 1000}), {}), (V3{1000, 0, 0}));
    Transform r = make({0, 360, 0}, {10, 20, 30});
    transform_rotate_translation(&r);
    EXPECT_EQ((V3{r.tx, r.ty, r.tz}), (V3{30, 20, -10}));
    Transform u = make({}, {0, 100, 0});
    u.m[3] = -1;   // (-1 ⊗ 1) = -1, not 0
    EXPECT_EQ(map(transform_point, u, {1, 0, 0})[1], 99);
    const Transform quarter_z = make({0, 0, 360});   // x' = -y, y' = x: all inputs read first
    int32_t v = 50, z = 7;
    transform_point(&quarter_z, &v, &v, &z);
    EXPECT_EQ(v, 50);
}

TEST(NearPlaneIntersect, WorkedExamplesAndEdgesThatDivideByNothing) {
    const int32_t cases[][8] = {
        {100, 50, 512, -100, -50, 0, 0, 0},
        {1000, -2000, 1024, -1000, 2000, 0, -500, 999},   // floored products: not 1000
        {10, 0, 0, 10, -100, 384, 10, -66},               // constant x: y truncates toward zero
        {1, 0, 0, 0, 100, 512, 0, 0},                     // y follows the truncated x
        {7, 9, 0, 7, 9, 1000, 7, 9},                      // constant x and y
        {3, 4, 256, 30, 40, 256, 3, 4},                   // constant depth: point 1
    };
    for (const auto &c : cases) {
        int32_t x = -1, y = -1;
        near_plane_intersect(c[0], c[1], c[2], c[3], c[4], c[5], &x, &y, 256);
        EXPECT_EQ((std::array{x, y}), (std::array{c[6], c[7]})) << c[0] << " " << c[1];
    }
}

// Run under the sanitizers: no input may divide by zero or overflow.
TEST(NearPlaneIntersect, AnyInputIsDefined) {
    const int32_t v[] = {INT32_MIN, INT32_MIN + 1, -1, 0, 1, 256, INT32_MAX};
    for (int32_t i = 0, x, y; i < 7 * 7 * 7; ++i) {
        const int32_t a = v[i % 7], b = v[i / 7 % 7], c = v[i / 49];
        near_plane_intersect(a, b, c, b, c, a, &x, &y, 256);
        near_plane_intersect(a, a, b, c, c, a, &x, &y, c);
        Transform t = make({a, b, c}, {b, c, a});   // and the transforms, any angle wrapped
        map(transform_point_inverse, t, map(transform_point, t, {c, a, b}));
        transform_rotate_translation(&t);
        transform_concat(&t, &t, &t);
    }
}
