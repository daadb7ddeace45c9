// Tests of mesh building: face and vertex normals, the box, radius and
// extents, positions and angles, start values and the refusal of bad input.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "frame/fatal.h"
#include "scene/mesh.h"

namespace {

using V3 = std::array<int32_t, 3>;
struct FatalCaught {
    std::string message;
};

// Builds meshes, frees them afterwards, and turns fatal_error into an
// exception so a refusal can be checked in-process.
class MeshTest : public ::testing::Test {
protected:
    void SetUp() override { fatal_set_hook([](const char *m) { throw FatalCaught{m}; }); }
    void TearDown() override {
        fatal_set_hook(nullptr);
        for (Mesh *m : meshes) mesh_free(m);
    }
    Mesh *create(const std::vector<int32_t> &xyz, int32_t spare = 0) {
        meshes.push_back(
            mesh_create(nullptr, static_cast<int32_t>(xyz.size() / 3), spare, xyz.data()));
        return meshes.back();
    }
    static void face(Mesh *m, int32_t a, int32_t b, int32_t c, FaceFlags flags = 0,
                     int smooth = 0) {
        const int32_t corners[3] = {a, b, c};
        mesh_add_face(m, flags, corners, smooth);
    }
    template <class F>
    static std::string refusal(F f) {
        try {
            f();
        } catch (const FatalCaught &e) {
            return e.message;
        }
        return "";
    }
    std::vector<Mesh *> meshes;
};
using FaceNormals = MeshTest;
using VertexNormals = MeshTest;
using MeshBounds = MeshTest;
using MeshPlacement = MeshTest;
using MeshStartValues = MeshTest;
using MeshRefusals = MeshTest;

V3 normal(const Face *f) { return {f->nx, f->ny, f->nz}; }
V3 normal(const Vertex &v) { return {v.nx, v.ny, v.nz}; }
V3 v3(const int32_t *p) { return {p[0], p[1], p[2]}; }

}  // namespace

TEST_F(FaceNormals, CornerOrderDecidesTheSide) {
    Mesh *m = create({0, 0, 0, 256, 0, 0, 0, 256, 0, 0, 512, 512, 100, 100, 100});
    face(m, 0, 1, 2);
    face(m, 0, 2, 1);
    face(m, 0, 1, 3);   // (0, -1, 1)/√2: 181.02 truncated
    face(m, 0, 4, 4);   // degenerate
    const Face *f = m->faces;
    EXPECT_EQ(normal(f), (V3{0, 0, 256}));
    EXPECT_EQ(normal(f->next), (V3{0, 0, -256}));
    EXPECT_EQ(normal(f->next->next), (V3{0, -181, 181}));
    EXPECT_EQ(normal(f->next->next->next), (V3{0, 0, 0}));
}

TEST_F(FaceNormals, SmoothBitComesFromTheSwitch) {
    Mesh *m = create({0, 0, 0, 256, 0, 0, 0, 256, 0});
    face(m, 0, 1, 2, FACE_SMOOTH | 0x345, 0);
    face(m, 0, 1, 2, 0x345, 1);
    EXPECT_EQ(m->faces->flags, 0x345u);
    EXPECT_EQ(m->faces->next->flags, FACE_SMOOTH | 0x345u);
    EXPECT_EQ(m->faces->next->mesh, m);
}

TEST_F(VertexNormals, SharedVertexAveragesFlatAndSmoothFaces) {
    Mesh *m = create({0, 0, 0, 256, 0, 0, 0, 256, 0, 0, 0, 256, 5, 5, 5}, 2);
    face(m, 0, 1, 2, 0, 0);   // (0, 0, 256), flat
    face(m, 0, 2, 3, 0, 1);   // (256, 0, 0), smooth
    mesh_finish(m);
    EXPECT_EQ(normal(m->vertices[0]), (V3{181, 0, 181}));
    EXPECT_EQ(normal(m->vertices[1]), (V3{0, 0, 256}));
    EXPECT_EQ(normal(m->vertices[3]), (V3{256, 0, 0}));
    for (int i = 4; i < 7; ++i) EXPECT_EQ(normal(m->vertices[i]), (V3{0, 0, 0}));   // unused
}

TEST_F(MeshBounds, CentreTruncatesAndHalfExtentIsTheLargestExcess) {
    Mesh *m = create({-3, -8, 0, 4, -8, 10, 0, -9, 0});
    face(m, 0, 1, 2);
    mesh_finish(m);
    // x from -3 to 4: centre 0 (0.5 truncated), half-extent 4; y -8.5 → -8.
    EXPECT_EQ(v3(m->centre), (V3{0, -8, 5}));
    EXPECT_EQ(v3(m->half_extent), (V3{4, 0, 5}));
}

TEST_F(MeshBounds, RadiusReachesTheFarthestCorner) {
    Mesh *m = create({300, 400, 0, -300, -400, 0, 0, 0, 1});
    face(m, 0, 1, 2);
    mesh_finish(m);
    EXPECT_EQ(m->radius, 500);
}

TEST_F(MeshBounds, SpriteFaceWidensTheBoxOnly) {
    Mesh *m = create({0, 0, 0, 256, 0, 0, 0, 256, 0, 1000, 0, 0});
    face(m, 0, 1, 2);
    face(m, 3, 0, 0, FACE_SPRITE);
    mesh_finish(m);
    EXPECT_EQ(v3(m->centre), (V3{500, 128, 0}));
    EXPECT_EQ(m->radius, 516);   // from (500, 128, 0) to (0, 0, 0)
    EXPECT_EQ(v3(m->half_extent), (V3{0, 128, 0}));
    EXPECT_EQ(normal(m->vertices[3]), (V3{0, 0, 0}));
}

TEST_F(MeshBounds, SpriteMeshHasNoBounds) {
    Mesh *m = create({1000, 2000, 3000, 0, 0, 0, 256, 0, 0});
    face(m, 0, 0, 0, FACE_SPRITE | 7);
    face(m, 0, 1, 2);
    mesh_set_position(m, 10, 20, 30, 0);
    mesh_finish(m);
    EXPECT_EQ(v3(m->centre), (V3{0, 0, 0}));
    EXPECT_EQ(v3(m->half_extent), (V3{0, 0, 0}));
    EXPECT_EQ(m->radius, 0);
    EXPECT_EQ(v3(m->world_centre), (V3{10, 20, 30}));
    EXPECT_EQ(normal(m->vertices[1]), (V3{0, 0, 0}));
}

TEST_F(MeshBounds, HugeCoordinatesSaturateTheRadius) {
    Mesh *m = create({INT32_MIN, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, INT32_MAX, 0, 9, 0});
    face(m, 0, 1, 2);
    mesh_finish(m);
    EXPECT_EQ(m->centre[0], 0);   // the 32-bit sum -1, halved toward zero
    EXPECT_EQ(m->radius, INT32_MAX);
}

TEST_F(MeshPlacement, PositionMovesTranslationAndWorldCentre) {
    Mesh *m = create({-3, 0, 0, 5, 0, 0, 0, 8, 2});
    face(m, 0, 1, 2);
    mesh_set_position(m, 100, 200, 300, 0);
    mesh_set_angles(m, 0, 360, 0, 0);
    mesh_finish(m);   // keeps both
    mesh_set_position(m, 1, 2, 3, 1);
    int32_t p[3];
    mesh_get_position(m, &p[0], &p[1], &p[2]);
    EXPECT_EQ(v3(p), (V3{101, 202, 303}));
    EXPECT_EQ(v3(&m->transform.tx), (V3{101, 202, 303}));
    EXPECT_EQ(v3(m->world_centre), (V3{102, 206, 304}));
    EXPECT_EQ(m->transform.m[2], FIXED_ONE);
    mesh_set_position(m, INT32_MAX, 0, 0, 0);
    mesh_set_position(m, 1, 0, 0, 1);   // velocities are unbounded: wrap
    EXPECT_EQ(m->x, INT32_MIN);
}

TEST_F(MeshPlacement, AnglesWrapIntoOneTurnAndRebuildTheRotation) {
    Mesh *m = create({0, 0, 0});
    mesh_set_position(m, 7, 8, 9, 0);
    mesh_set_angles(m, -1, 1440, 5 * 1440 + 3, 0);
    int32_t a[3];
    mesh_get_angles(m, &a[0], &a[1], &a[2]);
    EXPECT_EQ(v3(a), (V3{1439, 0, 3}));
    mesh_set_angles(m, 2, -4, INT32_MIN, 1);
    EXPECT_EQ(v3(&m->angle_x), (V3{1, 1436, 1315}));
    Transform t{};
    transform_set_rotation(&t, 1, 1436, 1315);
    EXPECT_EQ(std::memcmp(t.m, m->transform.m, sizeof t.m), 0);
    EXPECT_EQ(v3(&m->transform.tx), (V3{7, 8, 9}));
}

TEST_F(MeshStartValues, FieldsNeverComputedAreZero) {
    Mesh *m = create({1, 2, 3, 4, 5, 6, 7, 8, 10}, 3);
    face(m, 0, 1, 2, 0, 1);
    mesh_finish(m);
    EXPECT_EQ(m->vertex_capacity, 6);
    EXPECT_EQ(m->drawn | m->view_centre[0] | m->view_centre[2] | m->object_light[1], 0);
    EXPECT_EQ(m->next, nullptr);
    for (int i = 0; i < m->vertex_capacity; ++i) {
        const Vertex &v = m->vertices[i];
        EXPECT_EQ(v.stamp | v.intensity | v.cx | v.cy | v.cz | v.sx | v.sy, 0);
    }
    EXPECT_EQ(v3(&m->vertices[5].x), (V3{0, 0, 0}));
    const Face *f = m->faces;
    EXPECT_EQ(f->clip_count | f->mark | f->clip_index[0] | f->clip_index[4], 0);
}

TEST_F(MeshStartValues, SpriteMeshHasOneUnfinishedSpriteFace) {
    Body *owner = reinterpret_cast<Body *>(&meshes);   // any distinct address
    meshes.push_back(mesh_create_sprite(owner, 0x00030042 | FACE_SMOOTH, -5, 6, 7));
    const Mesh *m = meshes.back();
    EXPECT_EQ(m->owner, owner);
    EXPECT_EQ(m->vertex_capacity, 1);
    EXPECT_EQ(v3(&m->vertices[0].x), (V3{-5, 6, 7}));
    EXPECT_EQ(m->faces->flags, 0x00030042u | FACE_SPRITE);
    EXPECT_EQ(m->faces->corner_count, 1);
    EXPECT_EQ(normal(m->faces), (V3{0, 0, 0}));
    mesh_free(nullptr);   // harmless
}

TEST_F(MeshRefusals, CornerIndicesOutsideTheVertices) {
    Mesh *m = create({0, 0, 0, 256, 0, 0, 0, 256, 0}, 5);
    EXPECT_EQ(refusal([&] { face(m, 0, 1, 3); }), "Mesh: corner index 3 outside the 3 vertices");
    EXPECT_EQ(refusal([&] { face(m, -1, 1, 2); }), "Mesh: corner index -1 outside the 3 vertices");
    EXPECT_NE(refusal([&] { face(m, INT32_MAX, 0, 0, FACE_SPRITE); }), "");
    EXPECT_EQ(m->faces, nullptr);
    EXPECT_EQ(refusal([&] { face(m, 2, -7, 99, FACE_SPRITE); }), "");   // only the first is read
}

TEST_F(MeshRefusals, FinishingWithoutFaces) {
    Mesh *m = create({0, 0, 0});
    EXPECT_EQ(refusal([&] { mesh_finish(m); }), "Mesh: finished without any face");
}

TEST_F(MeshRefusals, BadVertexCounts) {
    const int32_t xyz[3] = {0, 0, 0};
    EXPECT_NE(refusal([&] { mesh_create(nullptr, -1, 0, xyz); }), "");
    EXPECT_NE(refusal([&] { mesh_create(nullptr, 1, -1, xyz); }), "");
    EXPECT_NE(refusal([&] { mesh_create(nullptr, INT32_MAX, 1, xyz); }), "");
    EXPECT_NE(refusal([&] { mesh_create(nullptr, 3, 0, nullptr); }), "");
    Mesh *empty = create({});
    EXPECT_NE(empty->vertices, nullptr);
    EXPECT_NE(refusal([&] { face(empty, 0, 0, 0, FACE_SPRITE); }), "");
}
