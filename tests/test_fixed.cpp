// Tests of the number formats: the trig tables, their wrapping lookups, and
// the products and divisions every other module builds on.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "base/fixed.h"

// Entries whose exact value is 0, ±1 or ±0.5: {index, value}, sine then cosine.
// clang-format off
constexpr int32_t EXACT[2][8][2] = {
    {{0, 0}, {360, FIXED_ONE}, {720, 0}, {1080, -FIXED_ONE}, {120, 268435456}, {600, 268435455},
     {840, -268435455}, {1320, -268435455}},
    {{0, FIXED_ONE}, {360, 0}, {720, -FIXED_ONE}, {1080, 0}, {240, 268435455}, {480, -268435456},
     {960, -268435455}, {1200, 268435456}}};
// clang-format on

// Every other entry against sinl / cosl. The comparison only means something
// where the scaled value is not near an integer, so that is demanded too.
static void check_table(const Fixed (&table)[ANGLE_TURN], long double (*f)(long double), const int32_t (&exact)[8][2]) {
    for (int i = 0; i < ANGLE_TURN; ++i) {
        bool is_exact = false;
        for (const auto &e : exact) is_exact |= e[0] == i;
        if (is_exact) continue;
        const long double v = f(i * 3.14159265358979323846264338327950288L / 720) * 536870912.0L;
        ASSERT_GT(std::fabs(v - std::nearbyint(v)), 1e-4L) << i;
        ASSERT_EQ(table[i], static_cast<int64_t>(v)) << "entry " << i;
    }
    for (const auto &e : exact) EXPECT_EQ(table[e[0]], e[1]) << "entry " << e[0];
}

TEST(TrigTables, EntriesAreTheTruncatedScaledSineAndCosine) {
    check_table(sin_table, sinl, EXACT[0]);
    check_table(cos_table, cosl, EXACT[1]);
}

TEST(TrigTables, AnglesAndLookupsWrapIntoOneTurn) {
    const int32_t cases[][2] = {{-1, 1439},        {1440, 0},       {-4320, 0}, {3000, 120}, {-4 * 1440 - 5, 1435},
                                {INT32_MIN, 1312}, {INT32_MAX, 127}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c[0]);
        EXPECT_EQ(angle_wrap(c[0]), c[1]);
        EXPECT_EQ(fixed_sin(c[0]), sin_table[c[1]]);
        EXPECT_EQ(fixed_cos(c[0]), cos_table[c[1]]);
    }
}

TEST(Products, FloorNegativeResultsAndKeepTheLow32Bits) {
    EXPECT_EQ(fixed_mul(-1, 1), -1);
    EXPECT_EQ(fixed_mul(1, 1), 0);
    EXPECT_EQ(fixed_mul(FIXED_ONE / 2, -3), -2);   // -1.5 floors to -2
    EXPECT_EQ(coord_mul(-5, 1), -1);
    EXPECT_EQ(coord_mul(50, -100), -20);
    EXPECT_EQ(coord_mul(255, 1), 0);
    EXPECT_EQ(fixed_mul(INT32_MIN, INT32_MIN), 0);   // 2^33
    EXPECT_EQ(fixed_mul(FIXED_ONE, INT32_MIN), INT32_MIN);
    EXPECT_EQ(fixed_mul(2 * FIXED_ONE, INT32_MAX), -2);   // 2^32 - 2
    EXPECT_EQ(coord_mul(INT32_MIN, 512), 0);              // 2^32
}

TEST(Divisions, TruncateTowardZeroAndNeverTrap) {
    EXPECT_EQ(div32(-7, 2), -3);
    EXPECT_EQ(div64(7, -2), -3);
    EXPECT_EQ(div32(INT32_MIN, -1), INT32_MIN);
    EXPECT_EQ(div64(INT64_MIN, -1), 0);
    EXPECT_EQ(wrap_add(INT32_MAX, 1), INT32_MIN);
}
