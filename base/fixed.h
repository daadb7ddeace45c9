// base/fixed.h: the number formats of the renderer and the driving logic.
//
//   Fixed       2.29 signed, 1.0 = 0x20000000: sines, cosines, rotations
//   coordinate  24.8 signed, 256 = one unit vector length / the near plane
//   Angle       quarter degrees, 1440 to a turn, normalised 0..1439
//
// Every product is the exact 64-bit product shifted right arithmetically
// (floor) and cut to its low 32 bits. Sums that the design lets wrap go
// through wrap_add / wrap_sub so that a wrap is never signed-overflow UB.
// Divisions truncate toward zero (C++ semantics); div64 is the 64-by-32 form.
// Neither division checks for a zero divisor: callers rule it out.
#pragma once

#include <cstdint>

using Fixed = int32_t;

constexpr Fixed FIXED_ONE = 0x20000000;
constexpr int ANGLE_TURN = 1440;

// Low 32 bits of a 64-bit value, as a two's-complement int32.
constexpr int32_t low32(int64_t v) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v)));
}

// 2.29 product a ⊗ b: floor(a·b / 2^29), low 32 bits.
constexpr int32_t fixed_mul(int32_t a, int32_t b) { return low32((int64_t{a} * b) >> 29); }

// 24.8 coordinate product a ⊙ b: floor(a·b / 256), low 32 bits.
constexpr int32_t coord_mul(int32_t a, int32_t b) { return low32((int64_t{a} * b) >> 8); }

// 32-bit sums and differences that wrap modulo 2^32.
constexpr int32_t wrap_add(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
constexpr int32_t wrap_sub(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
constexpr int32_t wrap_neg(int32_t a) { return wrap_sub(0, a); }
constexpr int32_t wrap_mul(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

// 64-bit dividend over a sign-extended 32-bit divisor, truncated toward zero,
// low 32 bits. The one quotient that overflows int64 (INT64_MIN / -1) cannot
// arise from a 32x32 product, but is wrapped rather than trapped all the same.
constexpr int32_t div64(int64_t n, int32_t d) {
    if (d == -1) return low32(static_cast<int64_t>(0ULL - static_cast<uint64_t>(n)));
    return low32(n / d);
}

// 32-bit division truncating toward zero, with INT32_MIN / -1 wrapping to
// INT32_MIN instead of trapping.
constexpr int32_t div32(int32_t n, int32_t d) {
    if (d == -1) return wrap_neg(n);
    return n / d;
}

// Bring any angle into 0..1439 by steps of 1440 (one step per turn, as the
// design says, but computed in one remainder so huge values cost nothing).
constexpr int32_t angle_wrap(int32_t a) {
    int32_t r = a % ANGLE_TURN;
    return r < 0 ? r + ANGLE_TURN : r;
}

// The angle a setter stores: the value wrapped into 0..1439, plus the current
// angle when relative. Wrapping before adding gives the same angle as adding
// first, without an overflow for any argument.
constexpr int32_t angle_set(int32_t value, int32_t current, int relative) {
    value = angle_wrap(value);
    return relative != 0 ? angle_wrap(value + current) : value;
}

// The coordinate a position setter stores: the value, or the current one plus
// the value when relative. Velocities are unbounded, so the sum may wrap.
constexpr int32_t coord_set(int32_t value, int32_t current, int relative) {
    return relative != 0 ? wrap_add(current, value) : value;
}

// Entry i is sin / cos of i quarter degrees times 2^29, truncated toward zero,
// except the eight points where the exact value is +-0.5, which hold
// sin 120, 600, 840, 1320 = 268435456, 268435455, -268435455, -268435455 and
// cos 240, 480, 960, 1200 = 268435455, -268435456, -268435455, 268435456.
// Constant data fixed at compile time (references, so the data can be
// computed by constexpr code); index them like arrays.
extern const Fixed (&sin_table)[ANGLE_TURN];
extern const Fixed (&cos_table)[ANGLE_TURN];

Fixed fixed_sin(int32_t angle);   // any angle; wrapped into 0..1439
Fixed fixed_cos(int32_t angle);

static_assert(fixed_mul(-1, 1) == -1, "floor, not toward zero");
static_assert(coord_mul(-5, 1) == -1);
static_assert(coord_mul(50, -100) == -20);
static_assert(angle_wrap(-1) == 1439 && angle_wrap(1440) == 0 && angle_wrap(-4320) == 0);
