// Tests of mesh building: face and vertex normals, the box, radius and
// extents, positions and angles, start values and the refusal of bad input.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "base/fatal.h"
#include "scene/mesh.h"

namespace {

using V3 = std::array<int32_t, 3>;
// The normal of a Face or a Vertex.
template <class T>
V3 normal(const T &f) {
    return {f.nx, f.ny, f.nz};
}
V3 v3(const int32_t *p) { return {p[0], p[1], p[2]}; }
using Box = std::array<V3, 2>;   // centre, half-extent
Box box(const Mesh *m) { return {v3(m->centre), v3(m->half_extent)}; }
struct FaceSpec {
    int32_t a, b, c;
    int smooth = 0;
    FaceFlags flags = 0;
};

// Builds meshes and frees them afterwards; fatal_error throws its message.
struct MeshTest : ::testing::Test {
    void SetUp() override {
        fatal_set_hook([](const char *m) { throw std::string(m); });
    }
    void TearDown() override {
        fatal_set_hook(nullptr);
        for (Mesh *m : meshes) mesh_free(m);
    }
    Mesh *build(const std::vector<int32_t> &xyz, const std::vector<FaceSpec> &faces, int32_t spare = 0,
                bool finish = true) {
        Mesh *m = mesh_create(nullptr, static_cast<int32_t>(xyz.size() / 3), spare, xyz.data());
        meshes.push_back(m);
        for (const auto &f : faces) mesh_add_face(m, f.flags, V3{f.a, f.b, f.c}.data(), f.smooth);
        if (finish) mesh_finish(m);
        return m;
    }
    template <class F>
    static std::string refused(F f) {
        try {
            f();
        } catch (const std::string &message) { return message; }
        return "";
    }
    std::vector<Mesh *> meshes;
};

}   // namespace

TEST_F(MeshTest, NormalsFollowTheCornerOrderAndTheSwitchSetsTheSmoothBit) {
    Mesh *m =
        build({0, 0, 0, 256, 0, 0, 0, 256, 0, 0, 512, 512, 100, 100, 100},
              {{0, 1, 2}, {0, 2, 1}, {0, 1, 3}, {0, 4, 4}, {0, 1, 2, 0, FACE_SMOOTH | 0x345}, {0, 1, 2, 1, 0x345}});
    const Face *f = m->faces;
    EXPECT_EQ(normal(*f), (V3{0, 0, 256}));
    EXPECT_EQ(normal(*(f = f->next)), (V3{0, 0, -256}));
    EXPECT_EQ(normal(*(f = f->next)), (V3{0, -181, 181}));   // (0, -1, 1)/√2: 181.02 truncated
    EXPECT_EQ(normal(*(f = f->next)), (V3{0, 0, 0}));        // degenerate
    EXPECT_EQ((f = f->next)->flags, 0x345u);
    EXPECT_EQ(f->next->flags, (FACE_SMOOTH | 0x345u));
    EXPECT_EQ(f->next->mesh, m);
    // A shared vertex averages a flat (0, 0, 256) and a smooth (256, 0, 0) face; vertex 4 and
    // the two spare slots are unused.
    m = build({0, 0, 0, 256, 0, 0, 0, 256, 0, 0, 0, 256, 5, 5, 5}, {{0, 1, 2}, {0, 2, 3, 1}}, 2);
    EXPECT_EQ(normal(m->vertices[0]), (V3{181, 0, 181}));
    EXPECT_EQ(normal(m->vertices[1]), (V3{0, 0, 256}));
    EXPECT_EQ(normal(m->vertices[3]), (V3{256, 0, 0}));
    for (int i = 4; i < 7; ++i) EXPECT_EQ(normal(m->vertices[i]), (V3{0, 0, 0}));
    EXPECT_EQ(m->vertex_capacity, 7);
    EXPECT_EQ(m->next, nullptr);   // the rest starts at 0
    EXPECT_EQ(m->drawn | m->view_centre[0] | m->view_centre[2] | m->object_light[1] | m->faces->mark |
                  m->faces->clip_count | m->faces->clip_index[0] | m->faces->clip_index[4],
              0);
    for (const Vertex *v = m->vertices; v < m->vertices + 7; ++v)
        EXPECT_EQ(v->stamp | v->intensity | v->cx | v->cy | v->cz | v->sx | v->sy, 0);
    EXPECT_EQ(v3(&m->vertices[6].x), (V3{0, 0, 0}));
}

TEST_F(MeshTest, BoundsCentreHalfExtentAndRadius) {
    // x from -3 to 4: centre 0 (0.5 truncated), half-extent 4; y -8.5 → -8.
    EXPECT_EQ(box(build({-3, -8, 0, 4, -8, 10, 0, -9, 0}, {{0, 1, 2}})), (Box{V3{0, -8, 5}, V3{4, 0, 5}}));
    EXPECT_EQ(build({300, 400, 0, -300, -400, 0, 0, 0, 1}, {{0, 1, 2}})->radius, 500);
    Mesh *m = build({INT32_MIN, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, INT32_MAX, 0, 9, 0}, {{0, 1, 2}});
    EXPECT_EQ(m->centre[0], 0);        // the 32-bit sum -1, halved toward zero
    EXPECT_EQ(m->radius, INT32_MAX);   // saturated
}

TEST_F(MeshTest, SpriteFacesWidenTheBoxOnlyAndSpriteMeshesHaveNoBounds) {
    Mesh *m = build({0, 0, 0, 256, 0, 0, 0, 256, 0, 1000, 0, 0}, {{0, 1, 2}, {3, 0, 0, 0, FACE_SPRITE}});
    EXPECT_EQ(box(m), (Box{V3{500, 128, 0}, V3{0, 128, 0}}));
    EXPECT_EQ(m->radius, 516);   // from (500, 128, 0) to (0, 0, 0)
    EXPECT_EQ(normal(m->vertices[3]), (V3{0, 0, 0}));
    m = build({1000, 2000, 3000, 0, 0, 0, 256, 0, 0}, {{0, 0, 0, 0, FACE_SPRITE | 7}, {0, 1, 2}});
    mesh_set_position(m, 10, 20, 30, 0);
    EXPECT_EQ(box(m), Box{});
    EXPECT_EQ(m->radius, 0);
    EXPECT_EQ(v3(m->world_centre), (V3{10, 20, 30}));
    EXPECT_EQ(normal(m->vertices[1]), (V3{0, 0, 0}));
    Body *owner = reinterpret_cast<Body *>(&meshes);   // any distinct address
    meshes.push_back(m = mesh_create_sprite(owner, 0x00030042 | FACE_SMOOTH, -5, 6, 7));
    EXPECT_EQ(m->owner, owner);
    EXPECT_EQ(m->vertex_capacity, 1);
    EXPECT_EQ(m->faces->corner_count, 1);
    EXPECT_EQ(v3(&m->vertices[0].x), (V3{-5, 6, 7}));
    EXPECT_EQ(m->faces->flags, 0x00030042u | FACE_SPRITE);
    EXPECT_EQ(normal(*m->faces), (V3{0, 0, 0}));
    mesh_free(nullptr);   // harmless
}

TEST_F(MeshTest, PositionMovesTranslationAndWorldCentreAndAnglesWrap) {
    Mesh *m = build({-3, 0, 0, 5, 0, 0, 0, 8, 2}, {{0, 1, 2}}, 0, false);
    mesh_set_position(m, 100, 200, 300, 0);
    mesh_set_angles(m, 0, 360, 0, 0);
    mesh_finish(m);   // keeps both
    mesh_set_position(m, 1, 2, 3, 1);
    EXPECT_EQ((std::array{v3(&m->x), v3(&m->transform.tx), v3(m->world_centre)}),
              (std::array{V3{101, 202, 303}, V3{101, 202, 303}, V3{102, 206, 304}}));
    EXPECT_EQ(m->transform.m[2], FIXED_ONE);
    mesh_set_position(m, INT32_MAX, 0, 0, 0);
    mesh_set_position(m, 1, 0, 0, 1);   // velocities are unbounded: wrap
    EXPECT_EQ(m->x, INT32_MIN);
    mesh_set_position(m, 7, 8, 9, 0);
    mesh_set_angles(m, -1, 1440, 5 * 1440 + 3, 0);
    EXPECT_EQ(v3(&m->angle_x), (V3{1439, 0, 3}));
    mesh_set_angles(m, 2, -4, INT32_MIN, 1);
    EXPECT_EQ(v3(&m->angle_x), (V3{1, 1436, 1315}));
    EXPECT_EQ(v3(&m->transform.tx), (V3{7, 8, 9}));
}

TEST_F(MeshTest, BadInputIsRefusedWithAMessage) {
    Mesh *m = build({0, 0, 0, 256, 0, 0, 0, 256, 0}, {}, 5, false), *none = build({}, {}, 0, false);
    const auto face = [](Mesh *to, V3 c, FaceFlags f = 0) { mesh_add_face(to, f, c.data(), 0); };
    EXPECT_EQ(refused([&] { face(m, {0, 1, 3}); }), "Mesh: corner index 3 outside the 3 vertices");
    EXPECT_EQ(refused([&] { face(m, {-1, 1, 2}); }), "Mesh: corner index -1 outside the 3 vertices");
    EXPECT_NE(refused([&] { face(m, {INT32_MAX, 0, 0}, FACE_SPRITE); }), "");
    EXPECT_NE(refused([&] { face(none, {0, 0, 0}, FACE_SPRITE); }), "");
    EXPECT_EQ(m->faces, nullptr);
    EXPECT_EQ(refused([&] { face(m, {2, -7, 99}, FACE_SPRITE); }), "");   // only the first is read
    EXPECT_EQ(refused([&] { mesh_finish(none); }), "Mesh: finished without any face");
    EXPECT_NE(none->vertices, nullptr);
    const int32_t xyz[3] = {0, 0, 0};
    EXPECT_NE(refused([&] { mesh_create(nullptr, -1, 0, xyz); }), "");
    EXPECT_NE(refused([&] { mesh_create(nullptr, 1, -1, xyz); }), "");
    EXPECT_NE(refused([&] { mesh_create(nullptr, INT32_MAX, 1, xyz); }), "");
    EXPECT_NE(refused([&] { mesh_create(nullptr, 3, 0, nullptr); }), "");
}
