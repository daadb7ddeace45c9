// render/render.cpp: the frame pipeline: visibility, back-face culling, the
// lazy vertex transform, near-plane clipping, listing, sorting and drawing.
#include "render/render.h"

#include "base/fatal.h"
#include "render/camera.h"
#include "render/drawlist.h"
#include "render/face.h"
#include "base/fixed.h"
#include "render/poly.h"
#include "base/transform.h"
#include "scene/mesh.h"

namespace {
// The near plane, in camera z: a point is in front when its z is at least
// this, behind when it is below.
constexpr int32_t NEAR_Z = 256;
// Items between asking for a face's corners and projecting them.
constexpr int PREFETCH_AHEAD = 4;
// Meshes tested for visibility before the visible ones among them are
// transformed, and the lines of a visible mesh's faces and of its vertices
// asked for in between.
constexpr int VISIBLE_BATCH = 16;
constexpr int MESH_LINES_AHEAD = 4;

// Hints that the first lines from p on will be read soon (none for null).
void prefetch_lines(const void *p, int lines) {
    if (p == nullptr) return;
    const auto *bytes = static_cast<const char *>(p);
    for (int l = 0; l < lines; ++l) __builtin_prefetch(bytes + 64 * l);
}

void list_face(DrawList &list, Face *face, int32_t key) {
    if (list.count >= list.capacity) fatal_error("Transform: too many ptrs\n");
    list.items[list.count].key = key;
    list.items[list.count].face = face;
    list.count++;
    face->mark = 1;
    face->mesh->drawn = 1;
}

// Camera coordinates for a vertex not yet transformed in this frame.
inline void ensure_transformed(Vertex &v, const Transform &to_camera, int32_t stamp) {
    if (v.stamp == stamp) return;
    v.stamp = stamp;
    int32_t x = v.x, y = v.y, z = v.z;
    transform_point(&to_camera, &x, &y, &z);
    v.cx = x;
    v.cy = y;
    v.cz = z;
}

// A temporary vertex where the edge from vertex si to vertex ei crosses the
// near plane, in the mesh's next spare slot. A smooth face's clip vertex
// takes the normal of the edge's start vertex.
int32_t add_clip_vertex(Mesh *mesh, int32_t si, int32_t ei, bool smooth, int32_t stamp) {
    if (mesh->vertex_count >= mesh->vertex_capacity) {
        fatal_error("Transform: too many vertices\n");
    }
    int32_t xi = mesh->vertex_count;
    Vertex *v = mesh->vertices;
    const Vertex &s = v[si];
    const Vertex &e = v[ei];
    Vertex &x = v[xi];
    x.stamp = stamp;
    x.cz = NEAR_Z;
    near_plane_intersect(s.cx, s.cy, s.cz, e.cx, e.cy, e.cz, &x.cx, &x.cy, NEAR_Z);
    if (smooth) {
        x.nx = s.nx;
        x.ny = s.ny;
        x.nz = s.nz;
    }
    mesh->vertex_count++;
    return xi;
}

// A sprite mesh lists its first face at the depth of the mesh's centre; its
// one vertex takes the centre's camera coordinates.
void list_sprite(Mesh *mesh, RenderState *rs) {
    Face *face = mesh->faces;
    int32_t vi = face->index[0];
    Vertex &v = mesh->vertices[vi];
    v.stamp = rs->frame_stamp;
    v.cx = mesh->view_centre[0];
    v.cy = mesh->view_centre[1];
    v.cz = mesh->view_centre[2];
    face->clip_index[0] = vi;
    // Only a sprite given a radius could pass the sphere test nearer than
    // the near plane; projection and scaling divide by this depth.
    if (v.cz < NEAR_Z) return;
    list_face(rs->list, face, v.cz);
    face->clip_count = 1;
}

// The corner walk of one face: keeps the corners in front of the near plane
// and puts a clip vertex where an edge crosses it. Returns the corner count
// (the closing corner of an unclipped triangle repeats the first) and the
// largest camera z of the face's own corners.
int32_t clip_face(Mesh *mesh, Face *face, const Transform &to_camera, int32_t stamp,
                  int32_t *maxz) {
    Vertex *v = mesh->vertices;
    int32_t first = face->index[0];
    if (face->corner_count == 3) {
        // Most triangles lie wholly in front: the walk below would keep each
        // corner and close on the first. Their corners are transformed here
        // (the walk would only find them done) and the walk is left to the
        // ones that cross the plane.
        const int32_t second = face->index[1], third = face->index[2];
        ensure_transformed(v[first], to_camera, stamp);
        ensure_transformed(v[second], to_camera, stamp);
        ensure_transformed(v[third], to_camera, stamp);
        const int32_t z0 = v[first].cz, z1 = v[second].cz, z2 = v[third].cz;
        if (z0 >= NEAR_Z && z1 >= NEAR_Z && z2 >= NEAR_Z) {
            face->clip_index[0] = first;
            face->clip_index[1] = second;
            face->clip_index[2] = third;
            face->clip_index[3] = first;
            const int32_t z01 = z1 > z0 ? z1 : z0;
            *maxz = z2 > z01 ? z2 : z01;
            return 4;
        }
    }
    bool smooth = (face->flags & FACE_SMOOTH) != 0;
    int s = 0;
    int32_t corners = 1;
    bool started = false;
    face->clip_index[0] = first;
    ensure_transformed(v[first], to_camera, stamp);
    int32_t si = first;
    *maxz = v[first].cz;
    for (int j = 1; j <= face->corner_count; j++) {
        int32_t ei = j < face->corner_count ? face->index[j] : first;
        ensure_transformed(v[ei], to_camera, stamp);
        if (v[ei].cz > *maxz) *maxz = v[ei].cz;
        bool s_front = v[si].cz >= NEAR_Z;
        bool e_front = v[ei].cz >= NEAR_Z;
        if (s_front && e_front) {
            face->clip_index[++s] = ei;
            corners++;
            started = true;
        } else if (s_front) {
            face->clip_index[++s] = add_clip_vertex(mesh, si, ei, smooth, stamp);
            corners++;
            started = true;
        } else if (e_front) {
            int32_t xi = add_clip_vertex(mesh, si, ei, smooth, stamp);
            // Until a corner is kept, slot 0 still holds the first corner,
            // which is behind: the clip vertex takes its place.
            if (started) {
                face->clip_index[++s] = xi;
            } else {
                face->clip_index[0] = xi;
            }
            face->clip_index[++s] = ei;
            corners++;
            started = true;
        }
        si = ei;
    }
    return corners;
}
}   // namespace

Mesh *render_frame(Camera *camera, int draw) {
    RenderState *rs = render_state();
    RasterState *raster = raster_state();
    rs->camera = *camera;
    *raster = camera->raster;
    rs->view = camera->view;
    transform_rotate_translation(&rs->view);
    rs->list.count = 0;
    rs->list.pick_cursor = -1;
    // Stamp 0 marks projected and new vertices, so the counter skips it.
    rs->frame_stamp = wrap_add(rs->frame_stamp, 1);
    if (rs->frame_stamp == 0) rs->frame_stamp = 1;

    // A big level's meshes lie far apart, each behind its faces, and a
    // visible one's faces and corners are read right after its test. So the
    // list is taken in batches: each mesh of a batch is tested (the next one
    // asked for meanwhile), the faces and corners of the visible ones are
    // asked for, and then those are transformed and listed in list order.
    // A mesh's test reads nothing another mesh's transform writes, so the
    // list comes out as if each were transformed right after its test.
    Mesh *mesh = rs->camera.meshes;
    while (mesh != nullptr) {
        Mesh *visible[VISIBLE_BATCH];
        int found = 0;
        for (int k = 0; k < VISIBLE_BATCH && mesh != nullptr; ++k, mesh = mesh->next) {
            __builtin_prefetch(mesh->next);
            mesh->drawn = 0;
            if (!mesh_visible(mesh)) continue;
            visible[found++] = mesh;
            prefetch_lines(mesh->faces, MESH_LINES_AHEAD);
            prefetch_lines(mesh->vertices, MESH_LINES_AHEAD);
        }
        for (int k = 0; k < found; ++k) mesh_transform_faces(visible[k]);
    }
    if (rs->list.count < 1) return nullptr;

    drawlist_sort();

    Mesh *result = nullptr;
    const int32_t count = rs->list.count;
    const DrawItem *items = rs->list.items;
    for (int i = 0; i < count; i++) {
        // The sort leaves the faces in depth order, not in memory order: with
        // hundreds listed, fetching a face, its mesh and its corners would
        // stall each step. Ask for them a few items ahead, each one stage
        // after the one it is read through (hints only).
        if (i + 3 * PREFETCH_AHEAD < count) __builtin_prefetch(items[i + 3 * PREFETCH_AHEAD].face);
        if (i + 2 * PREFETCH_AHEAD < count)
            __builtin_prefetch(items[i + 2 * PREFETCH_AHEAD].face->mesh);
        if (i + PREFETCH_AHEAD < count) {
            const Face *ahead = items[i + PREFETCH_AHEAD].face;
            const Vertex *vertices = ahead->mesh->vertices;
            const int corners = ahead->clip_count < 3 ? ahead->clip_count : 3;
            for (int k = 0; k < corners; k++) __builtin_prefetch(&vertices[ahead->clip_index[k]]);
        }
        Face *face = items[i].face;
        face_project(face);
        if (draw) {
            face_draw(face);
        } else {
            poly_pick(face->clip_count, rs->points);
        }
        // A sprite calls no rasteriser: the flags then still describe the
        // previous item (or the camera's initial flags).
        if (raster->drawn == 0) {
            face->mark = 0;
        } else if (raster->pick_hit == 1) {
            result = face->mesh;
        }
    }
    return result;
}

// Bounding-sphere test: in front of the near plane, within about 512 radii,
// and inside the four frustum sides widened by twice the radius. Sprite
// meshes only take the near-plane test.
//
// The view centre is only ever read for a mesh found visible in the same
// frame (a sprite takes it as its vertex), so it is only stored for a mesh
// that reaches the side tests: the depth alone decides the near and the far
// test, and a mesh failing them is left with its last value.
int mesh_visible(Mesh *mesh) {
    const RenderState *rs = render_state();
    const Camera &cam = rs->camera;
    const int32_t wx = wrap_add(mesh->x, mesh->centre[0]);
    const int32_t wy = wrap_add(mesh->y, mesh->centre[1]);
    const int32_t wz = wrap_add(mesh->z, mesh->centre[2]);
    // transform_point's rows, each on its own: the depth first.
    const Fixed *m = rs->view.m;
    const int32_t cz = wrap_add(transform_row_dot(m[6], m[7], m[8], wx, wy, wz), rs->view.tz);

    int32_t r = mesh->radius;
    if (wrap_add(cz, r) < NEAR_Z) return 0;
    const bool sprite = mesh->faces != nullptr && (mesh->faces->flags & FACE_SPRITE);
    if (!sprite && (wrap_sub(cz, r) >> 9) > r) return 0;
    const int32_t cx = wrap_add(transform_row_dot(m[0], m[1], m[2], wx, wy, wz), rs->view.tx);
    const int32_t cy = wrap_add(transform_row_dot(m[3], m[4], m[5], wx, wy, wz), rs->view.ty);
    mesh->view_centre[0] = cx;
    mesh->view_centre[1] = cy;
    mesh->view_centre[2] = cz;
    if (sprite) return 1;
    int32_t z = cz == 0 ? 1 : cz;
    int32_t r2 = wrap_add(r, r);
    if (wrap_add(cx, r2) < coord_mul(cam.slope_x_min, z)) return 0;
    if (wrap_sub(cx, r2) > coord_mul(cam.slope_x_max, z)) return 0;
    if (wrap_add(cy, r2) < coord_mul(cam.slope_y_min, z)) return 0;
    if (wrap_sub(cy, r2) > coord_mul(cam.slope_y_max, z)) return 0;
    return 1;
}

void mesh_transform_faces(Mesh *mesh) {
    RenderState *rs = render_state();
    Face *first = mesh->faces;
    if (first == nullptr) return;
    if (first->flags & FACE_SPRITE) {
        list_sprite(mesh, rs);
        return;
    }

    Transform to_camera;
    transform_concat(&mesh->transform, &rs->view, &to_camera);
    int32_t saved_count = mesh->vertex_count;
    int32_t stamp = rs->frame_stamp;
    bool any = false;

    // The eye in object space, for the back-face test.
    int32_t ex = 0, ey = 0, ez = 0;
    transform_point_inverse(&to_camera, &ex, &ey, &ez);

    for (Face *face = first; face != nullptr; face = face->next) {
        const Vertex &p0 = mesh->vertices[face->index[0]];
        int32_t dot = wrap_add(wrap_add(coord_mul(wrap_sub(p0.x, ex), face->nx),
                                        coord_mul(wrap_sub(p0.y, ey), face->ny)),
                               coord_mul(wrap_sub(p0.z, ez), face->nz));
        if (dot > 0) continue;   // faces away; edge-on (0) stays in
        int32_t maxz;
        int32_t corners = clip_face(mesh, face, to_camera, stamp, &maxz);
        if (corners > 2) {
            list_face(rs->list, face, maxz);
            face->clip_count = corners;
            any = true;
        }
    }

    if (any) {
        // The light turned into object space by the inverse rotation alone.
        Transform rotation = mesh->transform;
        rotation.tx = rotation.ty = rotation.tz = 0;
        int32_t lx = rs->camera.light_x, ly = rs->camera.light_y, lz = rs->camera.light_z;
        transform_point_inverse(&rotation, &lx, &ly, &lz);
        mesh->object_light[0] = lx;
        mesh->object_light[1] = ly;
        mesh->object_light[2] = lz;
    }
    mesh->vertex_count = saved_count;
}
