// frame/drive.h: driving from the keyboard and the collision pass.
//
// Velocities are world units per frame in the x-z plane; there is no drag and
// no speed limit, so sums wrap at 32 bits (explicitly, never UB). Contacts are
// found with camera_find_overlaps (render/camera.h) over the camera's list.
//
// vehicle_drive polls the keyboard at every key test (cursor up/down
// accelerate along/against the heading, digit 1 stops, left/right steer).
// Nothing here checks for null bodies or meshes except where noted.
#pragma once

#include <cstdint>

struct Body;
struct BodyOrder;
struct Camera;

void vehicle_drive(Body *body);
// The player first (skipped when null), then every unmarked body in
// body_list order; each query uses only the first owner found (a null owner
// is no contact).
// order, when given, is body_list as recorded at load: the walk reads the
// bodies from it (the same bodies in the same order).
void collisions_resolve(Camera *camera, Body *player, const BodyOrder *order = nullptr);
// Exchanges vx and vz by mass (o's mass relative to p's in 1/256 units) and
// marks both. Never divides by zero: with p->mass <= 0, or a mass ratio whose
// divisor wraps to 0, the exchange is skipped and both are still marked.
void body_collide(Body *p, Body *o);
