// Tests of transforms: how rotations are built, applied, inverted and
// combined, and where an edge crosses the near plane.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "render/transform.h"

namespace {

using Matrix = std::array<Fixed, 9>;
constexpr Fixed ONE = FIXED_ONE;

Transform make(int ax, int ay, int az, int32_t tx = 0, int32_t ty = 0, int32_t tz = 0) {
    Transform t{};
    transform_set_rotation(&t, ax, ay, az);
    transform_set_translation(&t, tx, ty, tz);
    return t;
}
Matrix rotation(int ax, int ay, int az) {
    const Transform t = make(ax, ay, az);
    Matrix m;
    for (int e = 0; e < 9; ++e) m[e] = t.m[e];
    return m;
}

struct Lcg {
    uint32_t s = 1;
    int32_t in(int32_t lo, int32_t hi) {
        s = s * 1664525u + 1013904223u;
        return lo + static_cast<int32_t>((s >> 8) % static_cast<uint32_t>(hi - lo + 1));
    }
    std::array<int32_t, 3> point(int32_t r) { return {in(-r, r), in(-r, r), in(-r, r)}; }
    Transform transform(int32_t range) {
        return make(in(0, 1439), in(0, 1439), in(0, 1439), in(-range, range), in(-range, range),
                    in(-range, range));
    }
};

}  // namespace

TEST(RotationFromAngles, ExactForZeroAndQuarterTurns) {
    EXPECT_EQ(rotation(0, 0, 0), (Matrix{ONE, 0, 0, 0, ONE, 0, 0, 0, ONE}));
    EXPECT_EQ(rotation(360, 0, 0), (Matrix{ONE, 0, 0, 0, 0, -ONE, 0, ONE, 0}));
    EXPECT_EQ(rotation(0, 360, 0), (Matrix{0, 0, ONE, 0, ONE, 0, -ONE, 0, 0}));
    EXPECT_EQ(rotation(0, 0, 360), (Matrix{0, -ONE, 0, ONE, 0, 0, 0, 0, ONE}));
}

// Worked out independently from the entry formulas: these pin the order and
// nesting of the truncations, which decide the last bits.
TEST(RotationFromAngles, GeneralAnglesMatchWorkedValues) {
    EXPECT_EQ(rotation(1439, 1439, 1439),
              (Matrix{536860645, 2352732, -2342511, -2342511, 536860689, 2342533, 2352731,
                      -2332267, 536860690}));
    EXPECT_EQ(rotation(100, 200, 300),
              (Matrix{257203429, -288350115, 372734464, 469990807, 125933655, -226891451,
                      34429807, 435000342, 312761352}));
}

// For any angles the matrix is Ry·Rx·Rz up to truncation (a swapped factor
// order would be far off).
TEST(RotationFromAngles, IsRyRxRzForAnyAngles) {
    Lcg rng;
    for (int n = 0; n < 300; ++n) {
        const int ax = rng.in(0, 1439), ay = rng.in(0, 1439), az = rng.in(0, 1439);
        const double sx = sin(ax * M_PI / 720), cx = cos(ax * M_PI / 720);
        const double sy = sin(ay * M_PI / 720), cy = cos(ay * M_PI / 720);
        const double sz = sin(az * M_PI / 720), cz = cos(az * M_PI / 720);
        const double want[9] = {cy * cz + sy * sx * sz, -cy * sz + sy * sx * cz, sy * cx,
                                cx * sz,                cx * cz,                 -sx,
                                -sy * cz + cy * sx * sz, sy * sz + cy * sx * cz,  cy * cx};
        const Matrix m = rotation(ax, ay, az);
        for (int e = 0; e < 9; ++e) ASSERT_NEAR(m[e] / 536870912.0, want[e], 1e-7) << e;
    }
}

TEST(PointTransform, RotatesThenTranslatesWithFlooredProducts) {
    const Transform t = make(0, 360, 0, 1000, 2000, 3000);
    int32_t x = 10, y = 20, z = 30;
    transform_point(&t, &x, &y, &z);
    EXPECT_EQ((std::array{x, y, z}), (std::array{1030, 2020, 2990}));
    Transform u = make(0, 0, 0, 0, 100, 0);
    u.m[3] = -1;   // (-1 ⊗ 1) = -1, not 0
    x = 1, y = 0, z = 0;
    transform_point(&u, &x, &y, &z);
    EXPECT_EQ(y, 99);
}

TEST(PointTransform, ReadsAllInputsBeforeWriting) {
    const Transform t = make(0, 0, 360);   // x' = -y, y' = x
    int32_t v = 50, z = 7;
    transform_point(&t, &v, &v, &z);
    EXPECT_EQ(v, 50);   // y' = x = 50 is written last
}

TEST(InverseTransform, UndoesTheTransformUpToTruncation) {
    Lcg rng;
    for (int n = 0; n < 300; ++n) {
        const Transform t = rng.transform(100000);
        const auto p = rng.point(100000);
        int32_t x = p[0], y = p[1], z = p[2];
        transform_point(&t, &x, &y, &z);
        transform_point_inverse(&t, &x, &y, &z);
        // Three floors each way, the first three turned by the inverse.
        ASSERT_NEAR(x, p[0], 9);
        ASSERT_NEAR(y, p[1], 9);
        ASSERT_NEAR(z, p[2], 9);
    }
}

TEST(InverseTransform, OriginGivesTheEyeInObjectSpace) {
    const Transform t = make(0, 360, 0, 0, 0, 1000);
    int32_t x = 0, y = 0, z = 0;
    transform_point_inverse(&t, &x, &y, &z);
    EXPECT_EQ((std::array{x, y, z}), (std::array{1000, 0, 0}));
}

TEST(RotateTranslation, TurnsTheTranslationByTheMatrix) {
    Transform t = make(0, 360, 0, 10, 20, 30);
    transform_rotate_translation(&t);
    EXPECT_EQ((std::array{t.tx, t.ty, t.tz}), (std::array{30, 20, -10}));
}

TEST(Concatenation, IdentityFirstGivesTheSecondExactly) {
    const Transform a = make(0, 0, 0), b = make(100, 200, 300, 11, -22, 33);
    Transform out{};
    transform_concat(&a, &b, &out);
    for (int e = 0; e < 9; ++e) EXPECT_EQ(out.m[e], b.m[e]);
    EXPECT_EQ((std::array{out.tx, out.ty, out.tz}), (std::array{11, -22, 33}));
}

TEST(Concatenation, AppliesTheFirstThenTheSecond) {
    Lcg rng;
    for (int n = 0; n < 300; ++n) {
        const Transform a = rng.transform(50000), b = rng.transform(50000);
        Transform ab{};
        transform_concat(&a, &b, &ab);
        const auto p = rng.point(50000);
        int32_t x1 = p[0], y1 = p[1], z1 = p[2], x2 = p[0], y2 = p[1], z2 = p[2];
        transform_point(&a, &x1, &y1, &z1);
        transform_point(&b, &x1, &y1, &z1);
        transform_point(&ab, &x2, &y2, &z2);
        ASSERT_NEAR(x1, x2, 9);
        ASSERT_NEAR(y1, y2, 9);
        ASSERT_NEAR(z1, z2, 9);
    }
}

TEST(Concatenation, OutputMayBeAnInput) {
    const Transform a = make(100, 200, 300, 1, 2, 3), b = make(180, 757, 1000, -4, 5, -6);
    Transform expected{}, in_a = a, in_b = b;
    transform_concat(&a, &b, &expected);
    transform_concat(&in_a, &b, &in_a);
    transform_concat(&a, &in_b, &in_b);
    EXPECT_EQ(std::memcmp(&in_a, &expected, sizeof expected), 0);
    EXPECT_EQ(std::memcmp(&in_b, &expected, sizeof expected), 0);
}

TEST(NearPlaneIntersect, WorkedExamples) {
    int32_t x = -1, y = -1;
    near_plane_intersect(100, 50, 512, -100, -50, 0, &x, &y, 256);
    EXPECT_EQ((std::array{x, y}), (std::array{0, 0}));
    // Exactly (-500, 1000); the floored coordinate products give 999 for y.
    near_plane_intersect(1000, -2000, 1024, -1000, 2000, 0, &x, &y, 256);
    EXPECT_EQ((std::array{x, y}), (std::array{-500, 999}));
    // Constant x: y is interpolated along z, truncating toward zero.
    near_plane_intersect(10, 0, 0, 10, -100, 384, &x, &y, 256);
    EXPECT_EQ((std::array{x, y}), (std::array{10, -66}));
    // x moves by one unit only: y still follows the (truncated) x.
    near_plane_intersect(1, 0, 0, 0, 100, 512, &x, &y, 256);
    EXPECT_EQ((std::array{x, y}), (std::array{0, 0}));
}

TEST(NearPlaneIntersect, DegenerateEdgesDivideByNothing) {
    int32_t x = 0, y = 0;
    near_plane_intersect(7, 9, 0, 7, 9, 1000, &x, &y, 256);   // constant x and y
    EXPECT_EQ((std::array{x, y}), (std::array{7, 9}));
    near_plane_intersect(3, 4, 256, 30, 40, 256, &x, &y, 256);   // constant depth
    EXPECT_EQ((std::array{x, y}), (std::array{3, 4}));
    near_plane_intersect(3, 4, 100, 3, 40, 100, &x, &y, 256);
    EXPECT_EQ((std::array{x, y}), (std::array{3, 4}));
}

// Run under the sanitizers: no input may divide by zero or overflow.
TEST(NearPlaneIntersect, AnyInputIsDefined) {
    const int32_t v[] = {INT32_MIN, INT32_MIN + 1, -1, 0, 1, 256, INT32_MAX};
    int32_t x, y;
    for (int32_t a : v)
        for (int32_t b : v)
            for (int32_t c : v) {
                near_plane_intersect(a, b, c, b, c, a, &x, &y, 256);
                near_plane_intersect(a, a, b, c, c, a, &x, &y, c);
            }
    const Transform t = make(100, 200, 300, INT32_MAX, INT32_MIN, INT32_MAX);
    Transform u = t;
    x = INT32_MAX, y = INT32_MIN;
    int32_t z = INT32_MAX;
    transform_point(&t, &x, &y, &z);
    transform_point_inverse(&t, &x, &y, &z);
    transform_rotate_translation(&u);
    transform_concat(&t, &u, &u);
}
