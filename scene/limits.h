// scene/limits.h: the two sets of capacity limits a level can be played
// under. `classic` is the default and the program as it always was: a
// 10,240-byte resource pool, a draw list of 100 items. `raised`, chosen with
// --limits raised, lifts the bounds a level maker can reach so that bigger
// levels play; a level that fits `classic` draws the same frames under
// either set, because the limits are capacity, not behaviour.
//
// The file formats are the same under both sets: a raised level is the same
// kind of file, only bigger.
#pragma once

#include <cstdint>

struct Limits {
    const char *name;            // "classic" or "raised"
    int32_t pool_size;           // bytes of the resource pool
    int32_t drawlist_capacity;   // faces and sprites listed in one frame
    int32_t spare_max;           // spare vertex slots of one object
    int32_t bitmap_size_max;     // width and height of a bitmap
    // Spare vertex slots of all the objects of one world file together. Every
    // slot is cleared at load, so this bounds the memory a small file can
    // claim. Classic has no bound of its own here (the pool bounds the file).
    int32_t spare_level_max;
};

extern const Limits LIMITS_CLASSIC;
extern const Limits LIMITS_RAISED;

// The set named name ("classic" or "raised"), or null for any other name.
const Limits *limits_by_name(const char *name);

// The set in force for the program: LIMITS_CLASSIC until limits_select names
// another. Chosen once at start-up, before the first res_init.
const Limits &limits_current();
void limits_select(const Limits &limits);

// Ends the program when a file of `bytes` bytes (what names it, e.g.
// "level3.3dw with car1.3do" or "bitmap `tree.bit'") is more than the pool in
// force holds but no more than the raised pool holds, with one line naming
// the figure, the pool and the option that plays it. Larger files are left
// to the cache's own refusal ("resource `NAME' too big").
void limits_require_pool(const char *what, int64_t bytes);
