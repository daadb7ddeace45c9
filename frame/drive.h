// frame/drive.h: driving from the keyboard and the collision pass.
//
// Velocities are world units per frame in the x-z plane; there is no drag and
// no speed limit, so sums wrap at 32 bits (explicitly, never UB). Boxes are
// axis-aligned in world axes: world_centre ± half_extent, rotation ignored,
// compared in 64 bits so that any coordinates compare correctly.
//
// vehicle_drive polls the keyboard at every key test (cursor up/down
// accelerate along/against the heading, digit 1 stops, left/right steer).
// Nothing here checks for null bodies or meshes except where noted.
#pragma once

#include <cstdint>

struct Body;
struct Camera;
struct Mesh;

constexpr int OVERLAP_MAX = 10;

void vehicle_drive(Body *body);
// Selectors per axis: 0 strict overlap, -1 a wholly below b, +1 a wholly
// above b (any other value fails). Axes are tested x, y, z; the first axis
// that fails ends the test. Returns 1 if all three hold.
int mesh_box_test(const Mesh *a, const Mesh *b, int sx, int sy, int sz);
// Writes -1, +1 or 0 per axis; boxes that only touch classify as 0.
void mesh_box_classify(const Mesh *a, const Mesh *b, int *rx, int *ry, int *rz);
// Fills list (room for OVERLAP_MAX owners) in camera-list order, skipping the
// query mesh; stops when the list is full. Returns the number written (0 for
// a null camera or query).
int camera_find_overlaps(const Camera *camera, const Mesh *query, Body **list);
// The player first (skipped when null), then every unmarked body in
// body_list order; each query uses only the first owner found (a null owner
// is no contact).
void collisions_resolve(Camera *camera, Body *player);
// Exchanges vx and vz by mass (o's mass relative to p's in 1/256 units) and
// marks both. Never divides by zero: with p->mass <= 0, or a mass ratio whose
// divisor wraps to 0, the exchange is skipped and both are still marked.
void body_collide(Body *p, Body *o);
