// base/fixed.cpp: the sine and cosine tables.
//
// The tables are built at compile time: entry i is sin or cos of i quarter
// degrees times 2^29, truncated toward zero. The values are evaluated in long
// double by a Taylor series on an angle reduced to the first octant, which is
// far more accurate than the truncation needs (every entry that is not an
// exact value lies at least 2e-4 from an integer). The points where the exact
// value is 0 or ±1 come out exactly from the reduction; the eight points where
// it is ±0.5 are set explicitly, since there the stored value is part of the
// contract rather than of the truncation rule.
#include "base/fixed.h"

namespace {

constexpr long double PI = 3.14159265358979323846264338327950288L;
constexpr int QUARTER = ANGLE_TURN / 4;   // 360: a right angle
constexpr int EIGHTH = ANGLE_TURN / 8;    // 180

// Taylor series of sin and cos for |x| <= pi/4; 30 terms is far past the point
// where further terms vanish in long double.
constexpr long double series_sin(long double x) {
    long double term = x, sum = x;
    for (int n = 1; n < 30; ++n) {
        term = -term * x * x / static_cast<long double>((2 * n) * (2 * n + 1));
        sum += term;
    }
    return sum;
}
constexpr long double series_cos(long double x) {
    long double term = 1.0L, sum = 1.0L;
    for (int n = 1; n < 30; ++n) {
        term = -term * x * x / static_cast<long double>((2 * n - 1) * (2 * n));
        sum += term;
    }
    return sum;
}

// sin and cos of r quarter degrees, r in 0..359, from the first octant.
constexpr long double quadrant_sin(int r) {
    return r <= EIGHTH ? series_sin(r * PI / 720) : series_cos((QUARTER - r) * PI / 720);
}
constexpr long double quadrant_cos(int r) {
    return r <= EIGHTH ? series_cos(r * PI / 720) : series_sin((QUARTER - r) * PI / 720);
}

constexpr long double exact_sin(int i) {
    const int r = i % QUARTER;
    switch (i / QUARTER) {
        case 0: return quadrant_sin(r);
        case 1: return quadrant_cos(r);
        case 2: return -quadrant_sin(r);
        default: return -quadrant_cos(r);
    }
}
constexpr long double exact_cos(int i) { return exact_sin((i + QUARTER) % ANGLE_TURN); }

constexpr Fixed to_fixed(long double v) {
    return static_cast<Fixed>(v * static_cast<long double>(FIXED_ONE));   // toward zero
}

struct HalfPoint {
    int index;
    Fixed value;
};
constexpr HalfPoint SIN_HALF_POINTS[] = {
    {120, 268435456}, {600, 268435455}, {840, -268435455}, {1320, -268435455}};
constexpr HalfPoint COS_HALF_POINTS[] = {
    {240, 268435455}, {480, -268435456}, {960, -268435455}, {1200, 268435456}};

struct Table {
    Fixed value[ANGLE_TURN];
};

constexpr Table make_table(bool cosine) {
    Table t{};
    for (int i = 0; i < ANGLE_TURN; ++i)
        t.value[i] = to_fixed(cosine ? exact_cos(i) : exact_sin(i));
    for (const HalfPoint &h : cosine ? COS_HALF_POINTS : SIN_HALF_POINTS)
        t.value[h.index] = h.value;
    return t;
}

constexpr Table SIN_VALUES = make_table(false);
constexpr Table COS_VALUES = make_table(true);

static_assert(SIN_VALUES.value[0] == 0 && SIN_VALUES.value[360] == FIXED_ONE &&
              SIN_VALUES.value[720] == 0 && SIN_VALUES.value[1080] == -FIXED_ONE);
static_assert(COS_VALUES.value[0] == FIXED_ONE && COS_VALUES.value[720] == -FIXED_ONE);
static_assert(SIN_VALUES.value[1] == 2342533 && COS_VALUES.value[1] == 536865801);

}   // namespace

// Bound at compile time: no start-up code runs for the tables.
const Fixed (&sin_table)[ANGLE_TURN] = SIN_VALUES.value;
const Fixed (&cos_table)[ANGLE_TURN] = COS_VALUES.value;

Fixed fixed_sin(int32_t angle) { return sin_table[angle_wrap(angle)]; }
Fixed fixed_cos(int32_t angle) { return cos_table[angle_wrap(angle)]; }
