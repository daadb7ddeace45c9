// frame/drive.h: driving from the keyboard and the collision pass.
//
// Velocities are world units per frame in the x-z plane; there is no drag and
// no speed limit, so sums wrap at 32 bits (explicitly, never UB). Boxes are
// axis-aligned in world axes: world_centre ± half_extent, rotation ignored.
#pragma once

#include <cstdint>

struct Body;
struct Camera;
struct Mesh;

constexpr int OVERLAP_MAX = 10;

void vehicle_drive(Body *body);
int mesh_box_test(const Mesh *a, const Mesh *b, int sx, int sy, int sz);
void mesh_box_classify(const Mesh *a, const Mesh *b, int *rx, int *ry, int *rz);
// Fills list (room for OVERLAP_MAX owners) in camera-list order, skipping the
// query mesh; stops when the list is full. Returns the number written.
int camera_find_overlaps(const Camera *camera, const Mesh *query, Body **list);
void collisions_resolve(Camera *camera, Body *player);
// Never divides by zero: an exchange with a non-positive divisor is skipped
// (both bodies are still marked).
void body_collide(Body *p, Body *o);
