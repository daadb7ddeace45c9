// scene/limits.cpp: the two limit sets and the one in force.
#include "scene/limits.h"

#include <cstring>

#include "scene/fileformat.h"

const Limits LIMITS_CLASSIC = {"classic", 10240, 100, WORLD_SPARE_MAX, BITMAP_SIZE_MAX};
// Raised: a pool far larger than any level a person writes by hand (the
// pool is one allocation at start-up, touched only as files load), a draw
// list of 65,536 items, spare slots up to a million. Bitmaps keep their
// bound: scaled drawing multiplies a side by 65,536 in 32 bits.
const Limits LIMITS_RAISED = {"raised", 16 << 20, 65536, 1 << 20, BITMAP_SIZE_MAX};

namespace {
const Limits *current = &LIMITS_CLASSIC;
}

const Limits *limits_by_name(const char *name) {
    if (std::strcmp(name, LIMITS_CLASSIC.name) == 0) return &LIMITS_CLASSIC;
    if (std::strcmp(name, LIMITS_RAISED.name) == 0) return &LIMITS_RAISED;
    return nullptr;
}

const Limits &limits_current() { return *current; }
void limits_select(const Limits &limits) { current = &limits; }
