// Tests of the number formats: the trig tables, their wrapping lookups, and
// the products and divisions every other module builds on.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "render/fixed.h"

namespace {

struct Exact {
    int index;
    Fixed value;
};
// Entries whose exact value is 0, ±1 or ±0.5: checked against exact values.
constexpr Exact SIN_EXACT[] = {{0, 0},           {360, FIXED_ONE}, {720, 0},
                               {1080, -FIXED_ONE}, {120, 268435456}, {600, 268435455},
                               {840, -268435455}, {1320, -268435455}};
constexpr Exact COS_EXACT[] = {{0, FIXED_ONE}, {360, 0},         {720, -FIXED_ONE},
                               {1080, 0},      {240, 268435455}, {480, -268435456},
                               {960, -268435455}, {1200, 268435456}};

// Every other entry against sinl / cosl, independent of the table's own
// evaluation. That comparison only means something where the scaled value is
// not near an integer; every such entry is at least 1e-4 away, so demand it.
void check_table(const Fixed (&table)[ANGLE_TURN], long double (*f)(long double),
                 const Exact (&exact)[8]) {
    for (int i = 0; i < ANGLE_TURN; ++i) {
        bool is_exact = false;
        for (const Exact &e : exact) is_exact |= e.index == i;
        if (is_exact) continue;
        const long double v = f(i * 3.14159265358979323846264338327950288L / 720) * 536870912.0L;
        ASSERT_GT(std::fabs(v - std::nearbyint(v)), 1e-4L) << i;
        ASSERT_EQ(table[i], static_cast<int64_t>(v)) << "entry " << i;
    }
    for (const Exact &e : exact) EXPECT_EQ(table[e.index], e.value) << "entry " << e.index;
}

}  // namespace

TEST(TrigTables, SineEntriesAreTheTruncatedScaledSine) { check_table(sin_table, sinl, SIN_EXACT); }

TEST(TrigTables, CosineEntriesAreTheTruncatedScaledCosine) {
    check_table(cos_table, cosl, COS_EXACT);
    EXPECT_EQ(sin_table[1], 2342533);
    EXPECT_EQ(cos_table[1], 536865801);
}

TEST(TrigTables, LookupsWrapAnyAngle) {
    EXPECT_EQ(fixed_sin(1440), 0);
    EXPECT_EQ(fixed_sin(-1), sin_table[1439]);
    EXPECT_EQ(fixed_cos(-4320), FIXED_ONE);
    EXPECT_EQ(fixed_sin(3000), 268435456);
    EXPECT_EQ(fixed_sin(INT32_MIN), sin_table[1312]);   // INT32_MIN ≡ 1312 (mod 1440)
    EXPECT_EQ(fixed_cos(INT32_MAX), cos_table[127]);
    for (int a = -3 * ANGLE_TURN; a < 3 * ANGLE_TURN; a += 7)
        ASSERT_EQ(fixed_cos(a), cos_table[((a % 1440) + 1440) % 1440]) << a;
}

TEST(Products, FloorNegativeResults) {
    EXPECT_EQ(fixed_mul(-1, 1), -1);
    EXPECT_EQ(fixed_mul(1, 1), 0);
    EXPECT_EQ(fixed_mul(FIXED_ONE / 2, -3), -2);   // -1.5 floors to -2
    EXPECT_EQ(coord_mul(-5, 1), -1);
    EXPECT_EQ(coord_mul(50, -100), -20);
    EXPECT_EQ(coord_mul(255, 1), 0);
}

TEST(Products, KeepTheLow32Bits) {
    EXPECT_EQ(fixed_mul(INT32_MIN, INT32_MIN), 0);        // 2^33
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

TEST(AngleWrap, MatchesRepeatedTurns) {
    EXPECT_EQ(angle_wrap(-1), 1439);
    EXPECT_EQ(angle_wrap(1440), 0);
    EXPECT_EQ(angle_wrap(-4 * 1440 - 5), 1435);
    EXPECT_EQ(angle_wrap(INT32_MIN), 1312);
    EXPECT_EQ(angle_wrap(INT32_MAX), 127);
}
