// scene/fileformat.h: the rules of the world (.3dw), model (.3do) and bitmap
// (.bit) files, shared by the loaders, the renderer and the tools that write
// and check these files.
//
// World and model files are little-endian int32s and NUL-terminated strings
// (the layout is described with the loaders, in scene/world.h). A bitmap is
// int32 width, int32 height, then width × height palette indices, top row
// first. A sprite object's name is its bitmap's resource name, so it obeys
// the resource names' rules (res/res.h: at most RES_NAME_MAX bytes).
#pragma once

#include <cstdint>
#include <cstring>

// World records: a kind word, then a player start (0), an object with that
// many vertices (any other value), or the end of the file (-1).
constexpr int32_t WORLD_KIND_END = -1;
constexpr int32_t WORLD_KIND_START = 0;

constexpr int32_t WORLD_SPARE_MAX = 4096;   // spare vertex slots of one object
constexpr int WORLD_FACE_BYTES = 16;        // flag word and three corners
constexpr int WORLD_NAME_MAX = 125;         // characters of a stored string

// The flag word of a face. A polygon face has a reflectivity and a colour
// ramp; a sprite face has its bitmap's ResourceId (filled in by the loader
// from the object's name) and a scale exponent: drawn at 2^(16+scale)/65536.
using FaceFlags = uint32_t;
constexpr uint32_t FACE_REFLECT_MASK = 0x000000FF;   // polygon: reflectivity
constexpr uint32_t FACE_RAMP_MASK = 0x00000F00;      // polygon: colour ramp
constexpr int FACE_RAMP_SHIFT = 8;
constexpr uint32_t FACE_ID_MASK = 0x0000FFFF;      // sprite: bitmap ResourceId
constexpr uint32_t FACE_SCALE_MASK = 0x001F0000;   // sprite: scale exponent
constexpr int FACE_SCALE_SHIFT = 16;
constexpr int FACE_SCALE_MAX = 14;   // 65536 << scale stays a positive int32
constexpr uint32_t FACE_SMOOTH = 0x20000000;
constexpr uint32_t FACE_SPRITE = 0x40000000;

// Bitmaps.
constexpr uint8_t BITMAP_TRANSPARENT = 255;   // palette index never drawn
constexpr int BITMAP_HEADER_SIZE = 8;
constexpr int BITMAP_SIZE_MAX = 32767;   // scaled drawing multiplies by 65536

// Player starts: a start record whose name begins "Human" places a car for
// the player numbered by the byte after it, read unsigned, minus '0'. Numbers
// above START_HIGHEST_PLAYER place nothing; there is no lower bound (plain
// "Human" gives NUL - '0' = -48 and places a car). The car is the model
// START_CAR_MODEL.
constexpr const char *START_NAME_PREFIX = "Human";
constexpr int START_NAME_PREFIX_LENGTH = 5;
constexpr int32_t START_HIGHEST_PLAYER = 1;
constexpr const char *START_CAR_MODEL = "car1.3do";

// 1 and the player number in *player when a start record named name places
// a car, else 0.
inline int start_places_car(const char *name, int32_t *player) {
    if (std::strncmp(name, START_NAME_PREFIX, START_NAME_PREFIX_LENGTH) != 0) return 0;
    const int32_t n =
        static_cast<int32_t>(static_cast<uint8_t>(name[START_NAME_PREFIX_LENGTH])) - '0';
    if (n > START_HIGHEST_PLAYER) return 0;
    *player = n;
    return 1;
}
