// Tests of transforms: how rotations are built, applied, inverted and
// combined, and where an edge crosses the near plane.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>

#include "render/transform.h"

namespace {

using Matrix = std::array<Fixed, 9>;

Matrix rotation(int ax, int ay, int az) {
    Transform t{};
    transform_set_rotation(&t, ax, ay, az);
    return {t.m[0], t.m[1], t.m[2], t.m[3], t.m[4], t.m[5], t.m[6], t.m[7], t.m[8]};
}

Transform make(int ax, int ay, int az, int32_t tx, int32_t ty, int32_t tz) {
    Transform t{};
    transform_set_rotation(&t, ax, ay, az);
    transform_set_translation(&t, tx, ty, tz);
    return t;
}

constexpr Fixed ONE = FIXED_ONE;

// Small deterministic generator for property checks.
struct Lcg {
    uint32_t s = 1;
    uint32_t next() { return s = s * 1664525u + 1013904223u; }
    int32_t in(int32_t lo, int32_t hi) {
        return lo + static_cast<int32_t>((next() >> 8) % static_cast<uint32_t>(hi - lo + 1));
    }
};

}  // namespace

TEST(RotationFromAngles, ZeroAnglesGiveTheExactIdentity) {
    EXPECT_EQ(rotation(0, 0, 0), (Matrix{ONE, 0, 0, 0, ONE, 0, 0, 0, ONE}));
}

TEST(RotationFromAngles, QuarterTurnsAboutEachAxis) {
    EXPECT_EQ(rotation(360, 0, 0), (Matrix{ONE, 0, 0, 0, 0, -ONE, 0, ONE, 0}));
    EXPECT_EQ(rotation(0, 360, 0), (Matrix{0, 0, ONE, 0, ONE, 0, -ONE, 0, 0}));
    EXPECT_EQ(rotation(0, 0, 360), (Matrix{0, -ONE, 0, ONE, 0, 0, 0, 0, ONE}));
}

// Entries of general rotations, worked out independently from the entry
// formulas; they pin the order of the truncations, not only the factors.
TEST(RotationFromAngles, GeneralAnglesMatchWorkedValues) {
    EXPECT_EQ(rotation(1439, 1439, 1439),
              (Matrix{536860645, 2352732, -2342511, -2342511, 536860689, 2342533, 2352731,
                      -2332267, 536860690}));
    EXPECT_EQ(rotation(100, 200, 300),
              (Matrix{257203429, -288350115, 372734464, 469990807, 125933655, -226891451,
                      34429807, 435000342, 312761352}));
    EXPECT_EQ(rotation(180, 757, 1000),
              (Matrix{238574764, -477062662, -61021906, -356730870, -129839417, -379625062,
                      322576416, 209244634, -374688557}));
}

// Whatever the angles, the matrix is Ry·Rx·Rz up to truncation: this catches
// a swapped factor order, which the worked values alone might not explain.
TEST(RotationFromAngles, IsRyRxRzForAnyAngles) {
    Lcg rng;
    for (int n = 0; n < 500; ++n) {
        const int ax = rng.in(0, 1439), ay = rng.in(0, 1439), az = rng.in(0, 1439);
        const double a = ax * M_PI / 720, b = ay * M_PI / 720, c = az * M_PI / 720;
        const double rx[9] = {1, 0, 0, 0, cos(a), -sin(a), 0, sin(a), cos(a)};
        const double ry[9] = {cos(b), 0, sin(b), 0, 1, 0, -sin(b), 0, cos(b)};
        const double rz[9] = {cos(c), -sin(c), 0, sin(c), cos(c), 0, 0, 0, 1};
        double yx[9], full[9];
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) {
                yx[3 * i + j] = 0;
                for (int k = 0; k < 3; ++k) yx[3 * i + j] += ry[3 * i + k] * rx[3 * k + j];
            }
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) {
                full[3 * i + j] = 0;
                for (int k = 0; k < 3; ++k) full[3 * i + j] += yx[3 * i + k] * rz[3 * k + j];
            }
        const Matrix m = rotation(ax, ay, az);
        for (int e = 0; e < 9; ++e)
            ASSERT_NEAR(m[e] / 536870912.0, full[e], 1e-7) << ax << " " << ay << " " << az;
    }
}

TEST(RotationFromAngles, LeavesTheTranslationAlone) {
    Transform t = make(0, 0, 0, 7, -8, 9);
    transform_set_rotation(&t, 100, 200, 300);
    EXPECT_EQ(t.tx, 7);
    EXPECT_EQ(t.ty, -8);
    EXPECT_EQ(t.tz, 9);
}

TEST(PointTransform, RotatesThenTranslates) {
    const Transform t = make(0, 360, 0, 1000, 2000, 3000);
    int32_t x = 10, y = 20, z = 30;
    transform_point(&t, &x, &y, &z);
    EXPECT_EQ(x, 1030);   // x' = z
    EXPECT_EQ(y, 2020);
    EXPECT_EQ(z, 2990);   // z' = -x
}

TEST(PointTransform, SmallProductsFloor) {
    Transform t = make(0, 0, 0, 0, 100, 0);
    t.m[3] = -1;
    int32_t x = 1, y = 0, z = 0;
    transform_point(&t, &x, &y, &z);
    EXPECT_EQ(y, 99);   // (-1 ⊗ 1) = -1, not 0
    t.m[3] = 1;
    x = 1, y = 0, z = 0;
    transform_point(&t, &x, &y, &z);
    EXPECT_EQ(y, 100);   // 1 ⊗ 1 = 0
}

TEST(PointTransform, ReadsAllInputsBeforeWriting) {
    // A quarter turn about z: x' = -y, y' = x.
    const Transform t = make(0, 0, 360, 0, 0, 0);
    int32_t v = 50, z = 7;
    transform_point(&t, &v, &v, &z);   // x and y are one variable holding 50
    EXPECT_EQ(v, 50);                  // y' = x = 50, written after x' = -50
    EXPECT_EQ(z, 7);
    int32_t w = 9;
    transform_point(&t, &w, &w, &w);
    EXPECT_EQ(w, 9);   // z' = z, the last write, from the value read first
}

TEST(PointTransform, ExtremeValuesWrapWithoutTrapping) {
    const Transform t = make(100, 200, 300, INT32_MAX, INT32_MIN, INT32_MAX);
    int32_t x = INT32_MAX, y = INT32_MIN, z = INT32_MAX;
    transform_point(&t, &x, &y, &z);
    transform_point_inverse(&t, &x, &y, &z);
    Transform u = t;
    transform_rotate_translation(&u);
    transform_concat(&t, &u, &u);
    SUCCEED();   // the sanitizer build checks there was no signed overflow
}

TEST(InverseTransform, UndoesTheTransformUpToTruncation) {
    Lcg rng;
    for (int n = 0; n < 500; ++n) {
        const Transform t = make(rng.in(0, 1439), rng.in(0, 1439), rng.in(0, 1439),
                                 rng.in(-100000, 100000), rng.in(-100000, 100000),
                                 rng.in(-100000, 100000));
        const int32_t px = rng.in(-100000, 100000), py = rng.in(-100000, 100000),
                      pz = rng.in(-100000, 100000);
        int32_t x = px, y = py, z = pz;
        transform_point(&t, &x, &y, &z);
        transform_point_inverse(&t, &x, &y, &z);
        // Three floors each way, the first three turned by the inverse.
        ASSERT_NEAR(x, px, 9);
        ASSERT_NEAR(y, py, 9);
        ASSERT_NEAR(z, pz, 9);
    }
}

TEST(InverseTransform, IdentityRotationOnlySubtractsTheTranslation) {
    const Transform t = make(0, 0, 0, 5, -6, 7);
    int32_t x = -100, y = 100, z = 0;
    transform_point_inverse(&t, &x, &y, &z);
    EXPECT_EQ(x, -105);
    EXPECT_EQ(y, 106);
    EXPECT_EQ(z, -7);
}

TEST(InverseTransform, OriginGivesTheEyeInObjectSpace) {
    // Object-to-camera for a camera at (0, 0, -1000) looking along +z with
    // the object turned a quarter about y: the eye is at -1000 along object x.
    const Transform t = make(0, 360, 0, 0, 0, 1000);
    int32_t x = 0, y = 0, z = 0;
    transform_point_inverse(&t, &x, &y, &z);
    EXPECT_EQ(x, 1000);
    EXPECT_EQ(y, 0);
    EXPECT_EQ(z, 0);
}

TEST(RotateTranslation, TurnsTheTranslationByTheMatrix) {
    Transform t = make(0, 360, 0, 10, 20, 30);
    transform_rotate_translation(&t);
    EXPECT_EQ(t.tx, 30);
    EXPECT_EQ(t.ty, 20);
    EXPECT_EQ(t.tz, -10);
    EXPECT_EQ(t.m[2], ONE);   // the matrix itself is unchanged
}

TEST(Concatenation, IdentityFirstGivesTheSecondExactly) {
    const Transform a = make(0, 0, 0, 0, 0, 0);
    const Transform b = make(100, 200, 300, 11, -22, 33);
    Transform out{};
    transform_concat(&a, &b, &out);
    for (int e = 0; e < 9; ++e) EXPECT_EQ(out.m[e], b.m[e]);
    EXPECT_EQ(out.tx, 11);
    EXPECT_EQ(out.ty, -22);
    EXPECT_EQ(out.tz, 33);
}

TEST(Concatenation, IdentitySecondKeepsTheFirst) {
    const Transform a = make(180, 757, 1000, 4, 5, 6);
    const Transform b = make(0, 0, 0, 100, 0, 0);
    Transform out{};
    transform_concat(&a, &b, &out);
    for (int e = 0; e < 9; ++e) EXPECT_EQ(out.m[e], a.m[e]);
    EXPECT_EQ(out.tx, 104);
    EXPECT_EQ(out.ty, 5);
    EXPECT_EQ(out.tz, 6);
}

TEST(Concatenation, AppliesTheFirstThenTheSecond) {
    Lcg rng;
    for (int n = 0; n < 300; ++n) {
        const Transform a = make(rng.in(0, 1439), rng.in(0, 1439), rng.in(0, 1439),
                                 rng.in(-50000, 50000), rng.in(-50000, 50000),
                                 rng.in(-50000, 50000));
        const Transform b = make(rng.in(0, 1439), rng.in(0, 1439), rng.in(0, 1439),
                                 rng.in(-50000, 50000), rng.in(-50000, 50000),
                                 rng.in(-50000, 50000));
        Transform ab{};
        transform_concat(&a, &b, &ab);
        const int32_t px = rng.in(-50000, 50000), py = rng.in(-50000, 50000),
                      pz = rng.in(-50000, 50000);
        int32_t x1 = px, y1 = py, z1 = pz;
        transform_point(&a, &x1, &y1, &z1);
        transform_point(&b, &x1, &y1, &z1);
        int32_t x2 = px, y2 = py, z2 = pz;
        transform_point(&ab, &x2, &y2, &z2);
        ASSERT_NEAR(x1, x2, 9);
        ASSERT_NEAR(y1, y2, 9);
        ASSERT_NEAR(z1, z2, 9);
    }
}

TEST(Concatenation, OutputMayBeOneOfTheInputs) {
    const Transform a = make(100, 200, 300, 1, 2, 3);
    const Transform b = make(180, 757, 1000, -4, 5, -6);
    Transform expected{};
    transform_concat(&a, &b, &expected);
    Transform in_a = a;
    transform_concat(&in_a, &b, &in_a);
    Transform in_b = b;
    transform_concat(&a, &in_b, &in_b);
    for (int e = 0; e < 9; ++e) {
        EXPECT_EQ(in_a.m[e], expected.m[e]);
        EXPECT_EQ(in_b.m[e], expected.m[e]);
    }
    EXPECT_EQ(in_a.tz, expected.tz);
    EXPECT_EQ(in_b.tz, expected.tz);
}

TEST(NearPlaneIntersect, WorkedExample) {
    int32_t x = -1, y = -1;
    near_plane_intersect(100, 50, 512, -100, -50, 0, &x, &y, 256);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
}

TEST(NearPlaneIntersect, EdgeAcrossThePlaneMeetsItBetweenItsEnds) {
    int32_t x = 0, y = 0;
    // Exactly (-500, 1000); the floored coordinate products give y 999 one
    // way round and 1000 the other.
    near_plane_intersect(1000, -2000, 1024, -1000, 2000, 0, &x, &y, 256);
    EXPECT_EQ(x, -500);
    EXPECT_EQ(y, 999);
    near_plane_intersect(-1000, 2000, 0, 1000, -2000, 1024, &x, &y, 256);
    EXPECT_EQ(x, -500);
    EXPECT_EQ(y, 1000);
}

TEST(NearPlaneIntersect, ConstantXInterpolatesYAlongZ) {
    int32_t x = 0, y = 0;
    near_plane_intersect(10, 0, 0, 10, 100, 512, &x, &y, 256);
    EXPECT_EQ(x, 10);
    EXPECT_EQ(y, 50);
    near_plane_intersect(10, 0, 0, 10, -100, 384, &x, &y, 256);
    EXPECT_EQ(y, -66);   // -66.67 truncates toward zero
}

TEST(NearPlaneIntersect, ConstantXAndYNeedsNoDivision) {
    int32_t x = 0, y = 0;
    near_plane_intersect(7, 9, 100, 7, 9, 100, &x, &y, 256);   // z1 == z2 as well
    EXPECT_EQ(x, 7);
    EXPECT_EQ(y, 9);
    near_plane_intersect(7, 9, 0, 7, 9, 1000, &x, &y, 256);
    EXPECT_EQ(x, 7);
    EXPECT_EQ(y, 9);
}

TEST(NearPlaneIntersect, YFollowsXEvenForANearlyVerticalEdge) {
    // x moves by one unit only, so y comes from the x interpolation of the
    // truncated X (here 0, the end of point 2) rather than from z.
    int32_t x = -1, y = -1;
    near_plane_intersect(1, 0, 0, 0, 100, 512, &x, &y, 256);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
}

TEST(NearPlaneIntersect, ConstantDepthGivesPointOneWithoutDividing) {
    int32_t x = 0, y = 0;
    near_plane_intersect(3, 4, 256, 30, 40, 256, &x, &y, 256);
    EXPECT_EQ(x, 3);
    EXPECT_EQ(y, 4);
    near_plane_intersect(3, 4, 100, 3, 40, 100, &x, &y, 256);
    EXPECT_EQ(x, 3);
    EXPECT_EQ(y, 4);
}

TEST(NearPlaneIntersect, AnyInputIsDefined) {
    Lcg rng;
    const int32_t extremes[] = {INT32_MIN, INT32_MIN + 1, -1, 0, 1, 255, 256, INT32_MAX};
    for (int32_t a : extremes)
        for (int32_t b : extremes)
            for (int32_t c : extremes) {
                int32_t x, y;
                near_plane_intersect(a, b, c, b, c, a, &x, &y, 256);
                near_plane_intersect(a, a, b, c, c, a, &x, &y, c);
            }
    for (int n = 0; n < 10000; ++n) {
        int32_t x, y;
        near_plane_intersect(static_cast<int32_t>(rng.next()), static_cast<int32_t>(rng.next()),
                             static_cast<int32_t>(rng.next()), static_cast<int32_t>(rng.next()),
                             static_cast<int32_t>(rng.next()), static_cast<int32_t>(rng.next()),
                             &x, &y, static_cast<int32_t>(rng.next()));
    }
    SUCCEED();   // the sanitizer build checks for division by zero and overflow
}
