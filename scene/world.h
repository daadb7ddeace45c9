// scene/world.h: world (.3dw) and model (.3do) files: little-endian int32s
// and NUL-terminated strings, read straight out of the locked resource.
//
// World file: records until the kind word -1; kind 0 is a player start
// (position, angles, name "Human<digit>": loads "car1.3do" as a human body
// and takes its mesh out of the mesh list); any other kind word V starts
// an object: V, spare slots E, V vertices (x, y, z), flat face count and
// faces, smooth face count and faces (16 bytes: flag word, three corners),
// position, angles, name, mass. A model file is one object without kind
// word, position, angles or name. The loaders append bodies to body_list in
// record order and link the meshes into the list they are handed (the game
// hands its camera's list), which must not be null.
//
// A ByteCursor knows where its resource ends: every file either loads or ends
// the program with one line through fatal_error naming the resource (a file
// that ends early, a count that is negative or cannot fit the bytes left,
// more than WORLD_SPARE_MAX spare slots, a corner index outside its object,
// an object with no face, a mass of 0 or below).
//
// A sprite object (first face a sprite face) with a non-empty name other than
// "Statics" names its bitmap: the name is registered with the cache and its
// id replaces bits 0-15 of each of the object's sprite faces.
#pragma once

#include <cstdint>

#include "res/res.h"
#include "scene/fileformat.h"

struct Body;
struct Mesh;

struct ByteCursor {
    const uint8_t *pos;
    const uint8_t *end;
    ResourceId id;   // the resource read, for messages
};

int32_t stream_read_int(ByteCursor *cursor);
// Into one shared 128-byte buffer that the next call overwrites; at most 125
// characters ("string too long" otherwise).
const char *stream_read_string(ByteCursor *cursor);

void world_load(ResourceId id, Mesh **meshes);
Body *world_read_object(int32_t vertex_count, ByteCursor *cursor, Mesh **meshes);
void world_read_start(ByteCursor *cursor, Mesh **meshes);
Body *model_load(const char *name, uint32_t flags, Mesh **meshes);
