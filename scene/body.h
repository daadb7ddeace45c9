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

// body_list as it stood when recorded, in its order. A walk reads each body
// from here and checks its link against the next entry, so the reads of one
// body do not wait on those of the one before; where a link leads elsewhere
// (the list changed since) the walk follows the links.
// The bodies' meshes are recorded too, for hints only: a hint never reads a
// body the walk has not reached, which may have left the list since.
struct BodyOrder {
    Body **at = nullptr;
    Mesh **meshes = nullptr;   // at[i]->mesh when recorded
    int32_t count = 0;
};

// Records body_list into order (storage for it allocated here).
void body_order_record(BodyOrder *order);
// Frees what body_order_record allocated; order is then empty.
void body_order_release(BodyOrder *order);

// Calls visit(b) for every body of body_list in list order, b->next read
// after each call. With WithMesh the meshes too are asked for ahead.
template <bool WithMesh = false, class Visit>
void body_order_walk(const BodyOrder &order, Visit &&visit) {
    // Bodies this many entries on are asked for while one is visited, and
    // their meshes at half the distance (hints only).
    constexpr int32_t AHEAD = 8;
    Body *b = body_list;
    if (order.count > 0 && b == order.at[0]) {
        for (int32_t i = 0; i < order.count; ++i) {
            if (i + AHEAD < order.count) __builtin_prefetch(order.at[i + AHEAD]);
            if (WithMesh && i + AHEAD / 2 < order.count)
                __builtin_prefetch(order.meshes[i + AHEAD / 2]);
            b = order.at[i];
            visit(b);
            if (b->next != (i + 1 < order.count ? order.at[i + 1] : nullptr)) break;
        }
        b = b->next;
    }
    for (; b != nullptr; b = b->next) visit(b);
}
