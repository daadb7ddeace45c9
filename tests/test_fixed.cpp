// Tests of the number formats: the trig tables, their wrapping lookups and
// the products, sums and divisions every other module builds on.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "render/fixed.h"

namespace {

constexpr long double PI_L = 3.14159265358979323846264338327950288L;

// The entries whose exact value is an integer or a half: they are checked
// against exact values, not against a floating-point evaluation.
struct Exact {
    int index;
    Fixed value;
};
constexpr Exact SIN_EXACT[] = {{0, 0},           {360, FIXED_ONE},  {720, 0},
                               {1080, -FIXED_ONE}, {120, 268435456}, {600, 268435455},
                               {840, -268435455}, {1320, -268435455}};
constexpr Exact COS_EXACT[] = {{0, FIXED_ONE},   {360, 0},          {720, -FIXED_ONE},
                               {1080, 0},        {240, 268435455},  {480, -268435456},
                               {960, -268435455}, {1200, 268435456}};

bool is_exact(const Exact (&list)[8], int i) {
    for (const Exact &e : list)
        if (e.index == i) return true;
    return false;
}

// Every other entry against sinl / cosl, an evaluation independent of the
// table's own. The check is only meaningful if the scaled value is not close
// to an integer, where both evaluations could legitimately truncate
// differently; every such entry is at least 1e-4 away, so demand that too.
void check_table(const Fixed (&table)[ANGLE_TURN], long double (*f)(long double),
                 const Exact (&exact)[8], const char *name) {
    for (int i = 0; i < ANGLE_TURN; ++i) {
        if (is_exact(exact, i)) continue;
        const long double v = f(static_cast<long double>(i) * PI_L / 720.0L) * 536870912.0L;
        ASSERT_GT(std::fabs(v - std::nearbyint(v)), 1e-4L) << name << " " << i;
        ASSERT_EQ(table[i], static_cast<int64_t>(v)) << name << " entry " << i;
    }
    for (const Exact &e : exact) EXPECT_EQ(table[e.index], e.value) << name << " " << e.index;
}

}  // namespace

TEST(TrigTables, EverySineEntryIsTheTruncatedScaledSine) {
    check_table(sin_table, sinl, SIN_EXACT, "sin");
}

TEST(TrigTables, EveryCosineEntryIsTheTruncatedScaledCosine) {
    check_table(cos_table, cosl, COS_EXACT, "cos");
}

TEST(TrigTables, KnownEntries) {
    EXPECT_EQ(sin_table[1], 2342533);
    EXPECT_EQ(cos_table[1], 536865801);
    // The tables are not a quarter-turn shift of each other at the halves.
    EXPECT_EQ(cos_table[480], -268435456);
    EXPECT_EQ(sin_table[480 + 360], -268435455);
}

TEST(TrigLookup, AnglesWrapIntoOneTurn) {
    EXPECT_EQ(fixed_sin(1440), 0);
    EXPECT_EQ(fixed_sin(-1), sin_table[1439]);
    EXPECT_EQ(fixed_cos(-4320), FIXED_ONE);
    EXPECT_EQ(fixed_sin(3000), sin_table[120]);
    EXPECT_EQ(fixed_sin(3000), 268435456);
    // The extremes reduce like any other value: INT32_MIN is 1312 and
    // INT32_MAX is 127 modulo 1440.
    EXPECT_EQ(fixed_sin(INT32_MIN), sin_table[1312]);
    EXPECT_EQ(fixed_cos(INT32_MAX), cos_table[127]);
    for (int a = -3 * ANGLE_TURN; a < 3 * ANGLE_TURN; a += 7) {
        const int wrapped = ((a % ANGLE_TURN) + ANGLE_TURN) % ANGLE_TURN;
        ASSERT_EQ(fixed_sin(a), sin_table[wrapped]) << a;
        ASSERT_EQ(fixed_cos(a), cos_table[wrapped]) << a;
    }
}

TEST(FixedProduct, FloorsNegativeResults) {
    EXPECT_EQ(fixed_mul(-1, 1), -1);
    EXPECT_EQ(fixed_mul(1, 1), 0);
    EXPECT_EQ(fixed_mul(-FIXED_ONE, 5), -5);
    EXPECT_EQ(fixed_mul(FIXED_ONE, -7), -7);
    EXPECT_EQ(fixed_mul(FIXED_ONE / 2, -3), -2);   // -1.5 floors to -2
}

TEST(FixedProduct, KeepsTheLow32BitsOfTheShiftedProduct) {
    // 2^62 >> 29 = 2^33, whose low 32 bits are 0.
    EXPECT_EQ(fixed_mul(INT32_MIN, INT32_MIN), 0);
    // 2^31 · 2^29 >> 29 = 2^31, which wraps to INT32_MIN.
    EXPECT_EQ(fixed_mul(FIXED_ONE, INT32_MIN), INT32_MIN);
    EXPECT_EQ(fixed_mul(2 * FIXED_ONE, INT32_MAX), -2);   // 2^32 - 2 wraps
}

TEST(CoordinateProduct, FloorsNegativeResults) {
    EXPECT_EQ(coord_mul(-5, 1), -1);
    EXPECT_EQ(coord_mul(50, -100), -20);   // -19.53 floors to -20
    EXPECT_EQ(coord_mul(256, -3), -3);
    EXPECT_EQ(coord_mul(255, 1), 0);
}

TEST(CoordinateProduct, KeepsTheLow32BitsOfTheShiftedProduct) {
    EXPECT_EQ(coord_mul(INT32_MIN, 256), INT32_MIN);
    EXPECT_EQ(coord_mul(INT32_MIN, 512), 0);   // 2^32 wraps to 0
    EXPECT_EQ(coord_mul(INT32_MAX, INT32_MAX), low32((int64_t{INT32_MAX} * INT32_MAX) >> 8));
}

TEST(WrappingArithmetic, SumsWrapModulo2To32) {
    EXPECT_EQ(wrap_add(INT32_MAX, 1), INT32_MIN);
    EXPECT_EQ(wrap_sub(INT32_MIN, 1), INT32_MAX);
    EXPECT_EQ(wrap_neg(INT32_MIN), INT32_MIN);
    EXPECT_EQ(wrap_mul(65536, 65536), 0);
    EXPECT_EQ(low32(int64_t{1} << 32 | 5), 5);
    EXPECT_EQ(low32(-1), -1);
}

TEST(WrappingArithmetic, DivisionsTruncateTowardZero) {
    EXPECT_EQ(div32(-7, 2), -3);
    EXPECT_EQ(div32(7, -2), -3);
    EXPECT_EQ(div64(-7, 2), -3);
    EXPECT_EQ(div64(int64_t{-1} << 40, 256), low32(int64_t{-1} << 32));
    // The one quotient that does not fit wraps instead of trapping.
    EXPECT_EQ(div32(INT32_MIN, -1), INT32_MIN);
    EXPECT_EQ(div64(INT64_MIN, -1), 0);
    EXPECT_EQ(div64(int64_t{INT32_MIN}, -1), INT32_MIN);
}

TEST(AngleWrap, MatchesRepeatedTurns) {
    EXPECT_EQ(angle_wrap(-1), 1439);
    EXPECT_EQ(angle_wrap(1440), 0);
    EXPECT_EQ(angle_wrap(1439), 1439);
    EXPECT_EQ(angle_wrap(4 * 1440 + 5), 5);
    EXPECT_EQ(angle_wrap(-4 * 1440 - 5), 1435);
    EXPECT_EQ(angle_wrap(INT32_MIN), 1312);
    EXPECT_EQ(angle_wrap(INT32_MAX), 127);
}
