#include "render/fixed.h"

const Fixed sin_table[ANGLE_TURN] = {};
const Fixed cos_table[ANGLE_TURN] = {};

Fixed fixed_sin(int32_t angle) { return sin_table[angle_wrap(angle)]; }
Fixed fixed_cos(int32_t angle) { return cos_table[angle_wrap(angle)]; }
