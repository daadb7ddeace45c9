// render/overlap.h: the box-overlap search of the collision pass, through an
// index of a camera's list instead of a test of every mesh against every
// other.
//
// overlap_index files the boxes of the camera's meshes as they stand into a
// uniform grid over the ground plane (x and z), so that a query tests only
// the meshes in the cells its box touches, and those too large for the grid
// (a long road, a backdrop). overlap_find then answers exactly what
// camera_find_overlaps answers: the same owners in the same camera-list
// order, the same count. Every candidate is decided by the test
// mesh_box_test makes with selectors 0 (strict overlap of the 64-bit spans on
// all three axes); the grid only leaves out meshes that cannot overlap the
// query in x or z, and tests a mesh that shares several cells with the query
// in the first of them only.
//
// The index is kept from one call of overlap_index to the next while the
// camera's list holds the same meshes in the same order: each call reads the
// boxes, and only those that changed are filed again (on a short list of
// their own, the grid being filed anew once that list grows long). For every
// listed mesh it also keeps the answer overlap_first gave, and brings it up
// to date from the moved boxes alone, so a query whose box and neighbours
// stayed put costs one look-up. Answers name the owners as they were at the
// last indexing: call overlap_index again after any mesh moves, changes
// owner or the list changes, before the next query. Each owner of a listed
// mesh is told its mesh's place in the list (Body::overlap_slot) when the
// list is indexed afresh.
//
// Storage is reserved once, when a level is loaded, for a number of meshes; a
// list longer than that is not indexed (overlap_index returns 0) and the
// caller searches the list itself. Nothing is allocated and nothing is
// floating point per indexing or query.
#pragma once

#include <cstdint>

struct Body;
struct Camera;
struct Mesh;

// Storage for lists of up to `meshes` meshes (a negative count is 0);
// replaces what was reserved before.
void overlap_reserve(int32_t meshes);
// Releases the storage; the index then holds nothing (harmless twice).
void overlap_release();
// Files the camera's list. Returns 1 when indexed, 0 when the list is longer
// than reserved (or the camera is null); after 0 overlap_find finds nothing.
int overlap_index(const Camera *camera);
// camera_find_overlaps over the indexed list: fills list (room for
// OVERLAP_MAX owners) and returns the number written.
int overlap_find(const Mesh *query, Body **list);
// The owner of the first mesh camera_find_overlaps would list, or null when
// it would list none (or that mesh has no owner).
Body *overlap_first(const Mesh *query);
// overlap_first(body->mesh), with the kept answer found from the body's own
// record where the index lists its mesh as owned by it.
Body *overlap_first_of(const Body *body);
