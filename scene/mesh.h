// scene/mesh.h: renderable objects: vertices, faces, normals, bounds and the
// object-to-world transform.
//
// Build order: mesh_create, mesh_add_face per face, mesh_finish. Normals,
// radius and bounds are computed once here in single-precision float with
// sqrtf (built with -ffp-contract=off so the stored integers do not depend on
// the compiler); everything done per frame is integer.
//
// Unit vectors (normals) are ×256. Bad input is refused where it enters, by
// fatal_error, instead of touching memory outside the mesh: a negative vertex
// or spare slot count (or a sum beyond int32), a corner index outside
// 0..vertex_count-1, mesh_finish on a mesh with no face. Float results that
// do not fit in 32 bits (a radius of a box near the coordinate limits)
// saturate. Fields the build never computes (the normal of a sprite face or
// of an unused vertex, intensities, spare slots, the per-frame fields) start
// at 0. Positions wrap at 32 bits; angles are wrapped into 0..1439.
// mesh_free releases the vertices, the faces and the mesh (null is harmless);
// it does not unlink the mesh from a camera.
#pragma once

#include <cstdint>

#include "base/transform.h"
#include "scene/fileformat.h"

struct Body;

// 13 words.
struct Vertex {
    int32_t stamp;        // == FrameStamp: transformed this frame, not projected
    int32_t x, y, z;      // model coordinates
    int32_t cx, cy, cz;   // camera coordinates of the current frame
    int32_t sx, sy;       // screen coordinates
    int32_t nx, ny, nz;   // unit vertex normal ×256
    int32_t intensity;    // gouraud lighting value
};
static_assert(sizeof(Vertex) == 13 * 4);

struct Mesh;

// 17 words where pointers are 32-bit; on a 64-bit machine the two links are wider.
struct Face {
    FaceFlags flags;
    int32_t corner_count;   // 3, or 1 for a sprite face
    int32_t index[3];
    int32_t clip_index[5];   // corners after near-plane clipping, per frame
    int32_t clip_count;
    int32_t nx, ny, nz;   // unit face normal ×256 (0 for sprite faces)
    int32_t mark;         // 1 while listed and drawn this frame
    Mesh *mesh;
    Face *next;
};

struct Mesh {
    int32_t x, y, z;                     // position, world units
    int32_t angle_x, angle_y, angle_z;   // each 0..1439
    Body *owner;
    int32_t drawn;
    int32_t vertex_capacity;   // vertex_count + spare slots
    int32_t vertex_count;
    Vertex *vertices;
    Face *faces;
    Face *last_face;           // where mesh_add_face links the next one
    int32_t centre[3];         // model-space box centre
    int32_t world_centre[3];   // position + centre
    int32_t view_centre[3];    // camera space, per frame
    int32_t radius;
    int32_t half_extent[3];
    int32_t object_light[3];   // light in model space, per frame
    Transform transform;       // object to world
    Mesh *next;                // next in a camera's list
};

// positions: vertex_count triples x, y, z.
Mesh *mesh_create(Body *owner, int32_t vertex_count, int32_t spare_slots, const int32_t *positions);
// corners: three indices (only the first is read for a sprite face). The
// FACE_SMOOTH bit of flags is replaced by the smooth switch. Returns 1.
int mesh_add_face(Mesh *mesh, FaceFlags flags, const int32_t *corners, int smooth);
void mesh_finish(Mesh *mesh);
void mesh_set_position(Mesh *mesh, int32_t x, int32_t y, int32_t z, int mode);
void mesh_set_angles(Mesh *mesh, int32_t a, int32_t b, int32_t c, int mode);
Mesh *mesh_create_sprite(Body *owner, FaceFlags flags, int32_t x, int32_t y, int32_t z);
void mesh_free(Mesh *mesh);
void mesh_get_position(const Mesh *mesh, int32_t *x, int32_t *y, int32_t *z);
void mesh_get_angles(const Mesh *mesh, int32_t *a, int32_t *b, int32_t *c);

// A list of meshes linked through Mesh::next (a camera's list, or the list a
// loader is handed). mesh_list_add appends and returns 1, or returns 0 and
// leaves the list as it is when the mesh is already listed (appending it
// would close the list into a ring). mesh_list_remove unlinks the mesh and
// clears its link, or returns 0 when it is not listed.
int mesh_list_add(Mesh **list, Mesh *mesh);
int mesh_list_remove(Mesh **list, Mesh *mesh);

// Boxes are axis-aligned in world axes: world_centre ± half_extent, rotation
// ignored, compared in 64 bits so that any coordinates compare correctly.
// Selectors per axis: 0 strict overlap, -1 a wholly below b, +1 a wholly
// above b (any other value fails). Axes are tested x, y, z; the first axis
// that fails ends the test. Returns 1 if all three hold.
int mesh_box_test(const Mesh *a, const Mesh *b, int sx, int sy, int sz);
// Writes -1, +1 or 0 per axis; boxes that only touch classify as 0.
void mesh_box_classify(const Mesh *a, const Mesh *b, int *rx, int *ry, int *rz);
