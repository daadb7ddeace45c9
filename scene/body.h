// scene/body.h: the simulated objects a level is made of: the Body record the
// loaders build and the frame loop moves, and the list they are kept in.
//
// body_list holds the level's bodies in load order (null when no level is
// loaded); each body owns its mesh. The loaders append to it, level_free
// empties it.
#pragma once

#include <cstdint>

struct Mesh;

constexpr uint32_t BODY_STATIC = 0x1000;   // world object named "Statics"
constexpr uint32_t BODY_HUMAN = 0x2000;    // a car driven from the keyboard
constexpr uint32_t BODY_PLAYER_MASK = 0x00FF;

// One simulated object. Every field a loader does not set starts at zero.
struct Body {
    uint32_t flags;
    int32_t mass;         // positive; a divisor in collisions
    int32_t heading;      // Angle, kept in -1439..1439
    int32_t steer_rate;   // -40..40
    int32_t vx;           // world units per frame
    int32_t vz;
    int32_t collided;       // 1 once exchanged in this frame
    int32_t overlap_slot;   // where the collision pass's index last found the mesh
    Mesh *mesh;
    Body *next;
};

extern Body *body_list;
