// scene/mesh.cpp: building meshes (vertices, faces, normals, bounds),
// moving them, lists of meshes and their box tests.
//
// Load-time geometry is single-precision float with sqrtf, each operation
// rounded to float as written, so the stored integers are reproducible. Every
// float-to-integer conversion goes through to_int, which truncates toward zero
// and saturates, since a hostile file can give coordinates whose radius does
// not fit in 32 bits.
#include "scene/mesh.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "base/fatal.h"

namespace {

struct Vec3f {
    float x, y, z;
};

// Truncation toward zero, saturated to int32; NaN gives 0.
int32_t to_int(float v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483648.0f) return INT32_MAX;
    if (v <= -2147483648.0f) return INT32_MIN;
    return static_cast<int32_t>(v);
}

// (v / length) × 256 per component, truncated; a zero length counts as 1.
void store_unit(Vec3f v, int32_t *nx, int32_t *ny, int32_t *nz) {
    float len = sqrtf(v.x * v.x + v.y * v.y + v.z * v.z);
    if (len == 0.0f) len = 1.0f;
    *nx = to_int(v.x / len * 256.0f);
    *ny = to_int(v.y / len * 256.0f);
    *nz = to_int(v.z / len * 256.0f);
}

// (b − a) / 256 as float. The difference is taken exactly in 64 bits; the
// division by a power of two then rounds the same as the float conversion.
float edge(int32_t a, int32_t b) { return static_cast<float>(int64_t{b} - a) / 256.0f; }

void face_normal(const Mesh *mesh, Face *f) {
    const Vertex &p = mesh->vertices[f->index[0]];
    const Vertex &q = mesh->vertices[f->index[1]];
    const Vertex &r = mesh->vertices[f->index[2]];
    const Vec3f e1{edge(p.x, q.x), edge(p.y, q.y), edge(p.z, q.z)};
    const Vec3f e2{edge(p.x, r.x), edge(p.y, r.y), edge(p.z, r.z)};
    const Vec3f n{e1.y * e2.z - e2.y * e1.z, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e2.x * e1.y};
    store_unit(n, &f->nx, &f->ny, &f->nz);
}

bool is_sprite(const Face *f) { return (f->flags & FACE_SPRITE) != 0; }

// Centre of the box around every corner of every face, sprites included.
void compute_centre(Mesh *mesh) {
    int32_t lo[3] = {INT32_MAX, INT32_MAX, INT32_MAX};
    int32_t hi[3] = {INT32_MIN, INT32_MIN, INT32_MIN};
    for (const Face *f = mesh->faces; f != nullptr; f = f->next) {
        for (int c = 0; c < f->corner_count; ++c) {
            const Vertex &v = mesh->vertices[f->index[c]];
            const int32_t p[3] = {v.x, v.y, v.z};
            for (int a = 0; a < 3; ++a) {
                if (p[a] < lo[a]) lo[a] = p[a];
                if (p[a] > hi[a]) hi[a] = p[a];
            }
        }
    }
    // The sum is a 32-bit sum; it wraps only for a box wider than the
    // coordinate range the renderer can use anyway.
    for (int a = 0; a < 3; ++a) mesh->centre[a] = wrap_add(lo[a], hi[a]) / 2;
}

// Radius and half-extents from the corners of the polygon faces.
void compute_extent(Mesh *mesh) {
    mesh->radius = 0;
    for (int a = 0; a < 3; ++a) mesh->half_extent[a] = 0;
    for (const Face *f = mesh->faces; f != nullptr; f = f->next) {
        if (is_sprite(f)) continue;
        for (int c = 0; c < f->corner_count; ++c) {
            const Vertex &v = mesh->vertices[f->index[c]];
            const int32_t d[3] = {wrap_sub(v.x, mesh->centre[0]), wrap_sub(v.y, mesh->centre[1]),
                                  wrap_sub(v.z, mesh->centre[2])};
            const float qx = static_cast<float>(d[0]) / 256.0f;
            const float qy = static_cast<float>(d[1]) / 256.0f;
            const float qz = static_cast<float>(d[2]) / 256.0f;
            const int32_t r = to_int(sqrtf(qx * qx + qy * qy + qz * qz) * 256.0f);
            if (r > mesh->radius) mesh->radius = r;
            for (int a = 0; a < 3; ++a)
                if (d[a] > mesh->half_extent[a]) mesh->half_extent[a] = d[a];
        }
    }
}

// Each vertex normal is the mean of the normals of the polygon faces that
// name the vertex (once per naming corner), normalised. The sums are built
// face by face, which adds to each vertex in the same order as walking the
// faces once per vertex would, in one pass instead of one per vertex.
void compute_vertex_normals(Mesh *mesh) {
    const int32_t n = mesh->vertex_count;
    struct Sum {
        Vec3f v;
        int32_t count;
    };
    Sum *sums = static_cast<Sum *>(safe_alloc(static_cast<long>(sizeof(Sum)) * (n > 0 ? n : 1)));
    std::memset(sums, 0, sizeof(Sum) * static_cast<size_t>(n > 0 ? n : 1));
    for (const Face *f = mesh->faces; f != nullptr; f = f->next) {
        if (is_sprite(f)) continue;
        const Vec3f fn{static_cast<float>(f->nx) / 256.0f, static_cast<float>(f->ny) / 256.0f,
                       static_cast<float>(f->nz) / 256.0f};
        for (int c = 0; c < f->corner_count; ++c) {
            Sum &s = sums[f->index[c]];
            s.v.x = s.v.x + fn.x;
            s.v.y = s.v.y + fn.y;
            s.v.z = s.v.z + fn.z;
            ++s.count;
        }
    }
    for (int32_t j = 0; j < n; ++j) {
        const Sum &s = sums[j];
        if (s.count == 0) continue;   // no polygon uses it: the normal stays as it is
        const float k = static_cast<float>(s.count);
        Vertex &v = mesh->vertices[j];
        store_unit(Vec3f{s.v.x / k, s.v.y / k, s.v.z / k}, &v.nx, &v.ny, &v.nz);
    }
    std::free(sums);
}

// One axis of a box test, in 64 bits so that centre ± extent never overflows.
struct Span {
    int64_t lo, hi;
};

Span axis_span(const Mesh *m, int axis) {
    const int64_t c = m->world_centre[axis];
    const int64_t e = m->half_extent[axis];
    return {c - e, c + e};
}

// -1: a wholly below b; +1: a wholly above b; 0 otherwise (touching is 0).
int axis_class(Span a, Span b) {
    if (a.hi < b.lo) return -1;
    if (a.lo > b.hi) return 1;
    return 0;
}

bool axis_holds(Span a, Span b, int selector) {
    switch (selector) {
        case 0: return a.lo < b.hi && b.lo < a.hi;   // strict: touching fails
        case -1: return a.hi < b.lo;
        case 1: return a.lo > b.hi;
        default: return false;   // no such relation
    }
}

}   // namespace

Mesh *mesh_create(Body *owner, int32_t vertex_count, int32_t spare_slots,
                  const int32_t *positions) {
    const int64_t capacity = int64_t{vertex_count} + spare_slots;
    if (vertex_count < 0 || spare_slots < 0 || capacity > INT32_MAX)
        fatal_error("Mesh: bad vertex count %d or spare slot count %d", vertex_count, spare_slots);
    if (vertex_count > 0 && positions == nullptr) fatal_error("Mesh: no vertex positions");

    Mesh *mesh = static_cast<Mesh *>(safe_alloc(sizeof(Mesh)));
    std::memset(mesh, 0, sizeof *mesh);
    mesh->owner = owner;
    mesh->vertex_capacity = static_cast<int32_t>(capacity);
    mesh->vertex_count = vertex_count;
    // At least one slot, so that an empty mesh still gets a real allocation.
    const int64_t slots = capacity > 0 ? capacity : 1;
    const size_t bytes = static_cast<size_t>(slots) * sizeof(Vertex);
    mesh->vertices = static_cast<Vertex *>(safe_alloc(static_cast<long>(bytes)));
    std::memset(mesh->vertices, 0, bytes);
    for (int32_t i = 0; i < vertex_count; ++i) {
        mesh->vertices[i].x = positions[3 * i];
        mesh->vertices[i].y = positions[3 * i + 1];
        mesh->vertices[i].z = positions[3 * i + 2];
    }
    return mesh;
}

int mesh_add_face(Mesh *mesh, FaceFlags flags, const int32_t *corners, int smooth) {
    const int count = (flags & FACE_SPRITE) != 0 ? 1 : 3;
    for (int c = 0; c < count; ++c) {
        if (corners[c] < 0 || corners[c] >= mesh->vertex_count)
            fatal_error("Mesh: corner index %d outside the %d vertices", corners[c],
                        mesh->vertex_count);
    }
    Face *f = static_cast<Face *>(safe_alloc(sizeof(Face)));
    std::memset(f, 0, sizeof *f);
    f->flags = smooth != 0 ? (flags | FACE_SMOOTH) : (flags & ~FACE_SMOOTH);
    f->corner_count = count;
    for (int c = 0; c < count; ++c) f->index[c] = corners[c];
    f->mesh = mesh;
    if (count == 3) face_normal(mesh, f);

    // From the last face added, so that building a mesh of n faces costs n
    // steps, not n squared; the walk covers faces linked by other means.
    Face **link = mesh->last_face != nullptr ? &mesh->last_face->next : &mesh->faces;
    while (*link != nullptr) link = &(*link)->next;
    *link = f;
    mesh->last_face = f;
    return 1;
}

void mesh_finish(Mesh *mesh) {
    if (mesh->faces == nullptr) fatal_error("Mesh: finished without any face");
    if (is_sprite(mesh->faces)) {
        // A sprite mesh has no bounds and no normals.
        for (int a = 0; a < 3; ++a) mesh->centre[a] = mesh->half_extent[a] = 0;
        mesh->radius = 0;
    } else {
        compute_centre(mesh);
        compute_extent(mesh);
        compute_vertex_normals(mesh);
    }
    mesh_set_position(mesh, 0, 0, 0, 1);
    mesh_set_angles(mesh, 0, 0, 0, 1);
}

void mesh_set_position(Mesh *mesh, int32_t x, int32_t y, int32_t z, int mode) {
    x = mesh->x = coord_set(x, mesh->x, mode);
    y = mesh->y = coord_set(y, mesh->y, mode);
    z = mesh->z = coord_set(z, mesh->z, mode);
    transform_set_translation(&mesh->transform, x, y, z);
    mesh->world_centre[0] = wrap_add(x, mesh->centre[0]);
    mesh->world_centre[1] = wrap_add(y, mesh->centre[1]);
    mesh->world_centre[2] = wrap_add(z, mesh->centre[2]);
}

void mesh_set_angles(Mesh *mesh, int32_t a, int32_t b, int32_t c, int mode) {
    a = angle_set(a, mesh->angle_x, mode);
    b = angle_set(b, mesh->angle_y, mode);
    c = angle_set(c, mesh->angle_z, mode);
    mesh->angle_x = a;
    mesh->angle_y = b;
    mesh->angle_z = c;
    transform_set_rotation(&mesh->transform, a, b, c);
}

Mesh *mesh_create_sprite(Body *owner, FaceFlags flags, int32_t x, int32_t y, int32_t z) {
    const int32_t position[3] = {x, y, z};
    Mesh *mesh = mesh_create(owner, 1, 0, position);
    const int32_t corners[3] = {0, 0, 0};
    mesh_add_face(mesh, flags | FACE_SPRITE, corners, 0);
    return mesh;
}

void mesh_free(Mesh *mesh) {
    if (mesh == nullptr) return;
    Face *f = mesh->faces;
    while (f != nullptr) {
        Face *next = f->next;
        std::free(f);
        f = next;
    }
    std::free(mesh->vertices);
    std::free(mesh);
}

void mesh_get_position(const Mesh *mesh, int32_t *x, int32_t *y, int32_t *z) {
    *x = mesh->x;
    *y = mesh->y;
    *z = mesh->z;
}

void mesh_get_angles(const Mesh *mesh, int32_t *a, int32_t *b, int32_t *c) {
    *a = mesh->angle_x;
    *b = mesh->angle_y;
    *c = mesh->angle_z;
}

int mesh_list_add(Mesh **list, Mesh *mesh) {
    Mesh **link = list;
    while (*link != nullptr) {
        if (*link == mesh) return 0;
        link = &(*link)->next;
    }
    *link = mesh;
    return 1;
}

int mesh_list_remove(Mesh **list, Mesh *mesh) {
    Mesh **link = list;
    while (*link != nullptr && *link != mesh) link = &(*link)->next;
    if (*link == nullptr) return 0;
    *link = mesh->next;
    mesh->next = nullptr;
    return 1;
}

int mesh_box_test(const Mesh *a, const Mesh *b, int sx, int sy, int sz) {
    const int selectors[3] = {sx, sy, sz};
    for (int axis = 0; axis < 3; ++axis) {
        if (!axis_holds(axis_span(a, axis), axis_span(b, axis), selectors[axis])) return 0;
    }
    return 1;
}

void mesh_box_classify(const Mesh *a, const Mesh *b, int *rx, int *ry, int *rz) {
    *rx = axis_class(axis_span(a, 0), axis_span(b, 0));
    *ry = axis_class(axis_span(a, 1), axis_span(b, 1));
    *rz = axis_class(axis_span(a, 2), axis_span(b, 2));
}
