// scene/world.cpp: the world and model file loaders.
#include "scene/world.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/fatal.h"
#include "scene/body.h"
#include "scene/limits.h"
#include "scene/mesh.h"

namespace {

constexpr int STRING_BUFFER = 128;
constexpr int STRING_FATAL_BYTE = 127;   // storing this byte ends the program

struct WorldState {
    char string[STRING_BUFFER];   // the shared result of stream_read_string
    bool in_world;                // a world_load is reading its records
    int64_t level_spare;          // spare slots of the world loaded so far
};
WorldState world;

const char *cursor_name(const ByteCursor *c) { return res_name(c->id); }

// A count of items of item_bytes each that must fit the bytes still unread.
int32_t read_count(ByteCursor *c, int64_t item_bytes) {
    const int32_t n = stream_read_int(c);
    if (n < 0 || int64_t{n} * item_bytes > c->end - c->pos)
        fatal_error("resource `%s': bad count %ld", cursor_name(c), static_cast<long>(n));
    return n;
}

Body *new_body(uint32_t flags) {
    auto *b = static_cast<Body *>(safe_alloc(sizeof(Body)));
    std::memset(b, 0, sizeof *b);
    b->flags = flags;
    return b;
}

void append_body(Body *b) {
    Body **tail = &body_list;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = b;
}

// The records of one object under construction. In the program a fatal
// error ends the process and this never matters; a test or fuzz harness
// whose fatal hook throws unwinds through here, and the half-built body,
// its mesh and the vertex array are released instead of leaked.
struct Building {
    Body *body = nullptr;
    int32_t *vertices = nullptr;
    Mesh **meshes;   // the list the finished mesh is linked into
    explicit Building(Mesh **list) : meshes(list) {}
    Building(const Building &) = delete;
    Building &operator=(const Building &) = delete;
    ~Building() {
        std::free(vertices);
        if (body == nullptr) return;
        if (body->mesh != nullptr) {
            mesh_list_remove(meshes, body->mesh);   // 0 when not yet linked
            mesh_free(body->mesh);
        }
        std::free(body);
    }
    Body *release() {
        std::free(vertices);
        vertices = nullptr;
        Body *b = body;
        body = nullptr;
        return b;
    }
};

void read_faces(ByteCursor *c, Mesh *mesh, int32_t vertex_count, int32_t count, int smooth) {
    for (int32_t i = 0; i < count; ++i) {
        const auto flags = static_cast<FaceFlags>(stream_read_int(c));
        int32_t corners[3];
        for (int32_t &k : corners) k = stream_read_int(c);
        // A sprite face uses its first corner only.
        const int used = (flags & FACE_SPRITE) ? 1 : 3;
        for (int k = 0; k < used; ++k)
            if (corners[k] < 0 || corners[k] >= vertex_count)
                fatal_error("resource `%s': face index %ld out of range", cursor_name(c),
                            static_cast<long>(corners[k]));
        mesh_add_face(mesh, flags, corners, smooth);
    }
}

// Spare slots, vertices, flat and smooth faces: the part an object record
// and a model file share. The mesh becomes the body's.
void read_shape(ByteCursor *c, int32_t vertex_count, Building *b) {
    if (vertex_count < 0)
        fatal_error("resource `%s': bad count %ld", cursor_name(c),
                    static_cast<long>(vertex_count));
    const int32_t spare = stream_read_int(c);
    if (int64_t{vertex_count} * 12 > c->end - c->pos)
        fatal_error("resource `%s': bad count %ld", cursor_name(c),
                    static_cast<long>(vertex_count));
    const Limits &limits = limits_current();
    if (spare < 0 || spare > limits.spare_max)
        fatal_error("resource `%s': bad count %ld", cursor_name(c), static_cast<long>(spare));
    if (world.in_world) {
        world.level_spare += spare;
        if (world.level_spare > limits.spare_level_max)
            fatal_error("resource `%s': more than %ld spare slots in the level", cursor_name(c),
                        static_cast<long>(limits.spare_level_max));
    }
    b->vertices = static_cast<int32_t *>(safe_alloc(int64_t{vertex_count} * 3 * 4));
    for (int32_t i = 0; i < vertex_count * 3; ++i) b->vertices[i] = stream_read_int(c);
    b->body->mesh = mesh_create(b->body, vertex_count, spare, b->vertices);

    const int32_t flat = read_count(c, WORLD_FACE_BYTES);
    read_faces(c, b->body->mesh, vertex_count, flat, 0);
    const int32_t smooth = read_count(c, WORLD_FACE_BYTES);
    read_faces(c, b->body->mesh, vertex_count, smooth, 1);
    if (flat == 0 && smooth == 0) fatal_error("resource `%s': object with no face", cursor_name(c));
}

int32_t read_mass(ByteCursor *c) {
    const int32_t mass = stream_read_int(c);
    // Collisions divide by it.
    if (mass <= 0)
        fatal_error("resource `%s': mass %ld is not positive", cursor_name(c),
                    static_cast<long>(mass));
    return mass;
}

// A sprite object's name is its bitmap's resource name: the id it registers
// under goes into the low 16 bits of every sprite face of the mesh.
void bind_sprite_bitmap(Mesh *mesh, const char *name) {
    if (!(mesh->faces->flags & FACE_SPRITE)) return;
    if (name[0] == '\0' || std::strcmp(name, "Statics") == 0) return;
    // A bitmap the pool cannot hold is refused now, naming the limit, rather
    // than when it is first drawn.
    char what[WORLD_NAME_MAX + 16];   // the name as stored, for the message
    std::snprintf(what, sizeof what, "bitmap `%s'", name);
    limits_require_pool(what, res_file_size(name));
    const auto id = static_cast<uint32_t>(res_register(name));
    for (Face *f = mesh->faces; f != nullptr; f = f->next)
        if (f->flags & FACE_SPRITE) f->flags = (f->flags & ~FACE_ID_MASK) | id;
}

void need_mesh_list(Mesh **meshes) {
    if (meshes == nullptr) fatal_error("no camera to load the level into");
}

// A new mesh is never listed yet; the check keeps a ring out all the same.
void link_mesh(Mesh **meshes, Mesh *mesh) {
    if (!mesh_list_add(meshes, mesh)) fatal_error("Camera: mesh added twice");
}

}   // namespace

int32_t stream_read_int(ByteCursor *cursor) {
    if (cursor->end - cursor->pos < 4)
        fatal_error("resource `%s' ends too early", cursor_name(cursor));
    const uint8_t *p = cursor->pos;
    const uint32_t v =
        uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
    cursor->pos += 4;
    return static_cast<int32_t>(v);
}

const char *stream_read_string(ByteCursor *cursor) {
    for (int stored = 0;;) {
        if (cursor->pos == cursor->end)
            fatal_error("resource `%s' ends too early", cursor_name(cursor));
        const uint8_t byte = *cursor->pos++;
        world.string[stored++] = static_cast<char>(byte);
        if (stored == STRING_FATAL_BYTE) fatal_error("string too long");
        if (byte == 0) return world.string;
    }
}

void world_load(ResourceId id, Mesh **meshes) {
    need_mesh_list(meshes);
    const uint8_t *data = res_lock(id);
    ByteCursor cursor{data, data + res_size(id), id};
    // Also reset when an earlier load ended in a fatal error a hook caught.
    world.in_world = true;
    world.level_spare = 0;
    struct Done {
        ~Done() { world.in_world = false; }
    } done;
    for (;;) {
        const int32_t kind = stream_read_int(&cursor);
        if (kind == WORLD_KIND_END) break;
        if (kind == WORLD_KIND_START)
            world_read_start(&cursor, meshes);
        else
            append_body(world_read_object(kind, &cursor, meshes));
    }
    res_unlock(id);
}

Body *world_read_object(int32_t vertex_count, ByteCursor *cursor, Mesh **meshes) {
    need_mesh_list(meshes);
    Building b(meshes);
    b.body = new_body(0);
    read_shape(cursor, vertex_count, &b);
    Mesh *mesh = b.body->mesh;

    int32_t v[3];
    for (int32_t &k : v) k = stream_read_int(cursor);
    mesh_set_position(mesh, v[0], v[1], v[2], 0);
    for (int32_t &k : v) k = stream_read_int(cursor);
    mesh_set_angles(mesh, v[0], v[1], v[2], 0);
    mesh_finish(mesh);
    link_mesh(meshes, mesh);

    // "Statics" with its terminator: a longer name or another case is not it.
    const char *name = stream_read_string(cursor);
    if (std::strcmp(name, "Statics") == 0) b.body->flags = BODY_STATIC;
    bind_sprite_bitmap(mesh, name);
    b.body->mass = read_mass(cursor);
    return b.release();
}

void world_read_start(ByteCursor *cursor, Mesh **meshes) {
    int32_t pos[3], ang[3];
    for (int32_t &k : pos) k = stream_read_int(cursor);
    for (int32_t &k : ang) k = stream_read_int(cursor);
    const char *name = stream_read_string(cursor);
    int32_t n = 0;
    if (!start_places_car(name, &n)) return;
    Body *car = model_load(START_CAR_MODEL,
                           static_cast<uint32_t>(static_cast<int32_t>(BODY_HUMAN) + n), meshes);
    mesh_set_position(car->mesh, pos[0], pos[1], pos[2], 0);
    mesh_set_angles(car->mesh, ang[0], ang[1], ang[2], 0);
    // The player's own car is never drawn.
    mesh_list_remove(meshes, car->mesh);
}

Body *model_load(const char *name, uint32_t flags, Mesh **meshes) {
    need_mesh_list(meshes);
    Building b(meshes);
    b.body = new_body(flags);
    const ResourceId id = res_register(name);
    const uint8_t *data = res_lock(id);
    ByteCursor cursor{data, data + res_size(id), id};
    read_shape(&cursor, stream_read_int(&cursor), &b);
    b.body->mass = read_mass(&cursor);
    mesh_finish(b.body->mesh);
    link_mesh(meshes, b.body->mesh);
    Body *body = b.release();
    res_unlock(id);
    append_body(body);
    return body;
}
