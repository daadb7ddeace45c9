// scene/world.h: world (.3dw) and model (.3do) files: little-endian int32s
// and NUL-terminated strings, read straight out of the locked resource.
//
// A ByteCursor knows where its resource ends: every file either loads or ends
// the program with one line through fatal_error naming the resource (a file
// that ends early, a count that cannot fit the bytes left, a corner index
// outside its object, an object with no face, a mass of 0 or below, ...).
//
// A sprite object (first face a sprite face) with a non-empty name other than
// "Statics" names its bitmap: the name is registered with the cache and its
// id replaces bits 0-15 of each of the object's sprite faces.
#pragma once

#include <cstdint>

#include "res/res.h"

struct Body;

struct ByteCursor {
    const uint8_t *pos;
    const uint8_t *end;
    ResourceId id;   // the resource read, for messages
};

int32_t stream_read_int(ByteCursor *cursor);
// Into one shared 128-byte buffer that the next call overwrites; at most 125
// characters ("string too long" otherwise).
const char *stream_read_string(ByteCursor *cursor);

void world_load(ResourceId id);
Body *world_read_object(int32_t vertex_count, ByteCursor *cursor);
void world_read_start(ByteCursor *cursor);
Body *model_load(const char *name, uint32_t flags);
