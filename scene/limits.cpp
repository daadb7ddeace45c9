// scene/limits.cpp: the two limit sets and the one in force.
#include "scene/limits.h"

#include <cstdint>
#include <cstring>

#include "base/fatal.h"
#include "scene/fileformat.h"

const Limits LIMITS_CLASSIC = {"classic", 10240, 100, WORLD_SPARE_MAX, BITMAP_SIZE_MAX, INT32_MAX};
// Raised: a pool far larger than any level a person writes by hand (one
// allocation at start-up, touched only as files load), a draw list of 65,536
// items, spare slots up to a million in one object and two million in one
// level (about 100 MB of vertices at most). Bitmaps keep their bound: scaled
// drawing multiplies a side by 65,536 in 32 bits.
const Limits LIMITS_RAISED = {"raised", 16 << 20, 65536, 1 << 20, BITMAP_SIZE_MAX, 2 << 20};

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

void limits_require_pool(const char *what, int64_t bytes) {
    const Limits &in_force = *current;
    // Beyond what even the raised pool holds, the cache's own line says it.
    if (bytes <= in_force.pool_size || bytes > LIMITS_RAISED.pool_size) return;
    fatal_error("%s: %lld bytes, the %s resource pool holds %ld; --limits %s plays it", what,
                static_cast<long long>(bytes), in_force.name, static_cast<long>(in_force.pool_size),
                LIMITS_RAISED.name);
}
