// Tests of mesh building: face and vertex normals, the box, radius and
// extents, positions and angles, and the refusal of bad input.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "frame/fatal.h"
#include "scene/mesh.h"

namespace {

struct FatalCaught {
    std::string message;
};

// Turns fatal_error into an exception for the duration of a test.
class MeshTest : public ::testing::Test {
protected:
    void SetUp() override {
        fatal_set_hook([](const char *message) { throw FatalCaught{message}; });
    }
    void TearDown() override {
        fatal_set_hook(nullptr);
        for (Mesh *m : meshes) mesh_free(m);
    }
    Mesh *create(const std::vector<int32_t> &xyz, int32_t spare = 0) {
        Mesh *m = mesh_create(nullptr, static_cast<int32_t>(xyz.size() / 3), spare, xyz.data());
        meshes.push_back(m);
        return m;
    }
    static void face(Mesh *m, int32_t a, int32_t b, int32_t c, FaceFlags flags = 0,
                     int smooth = 0) {
        const int32_t corners[3] = {a, b, c};
        mesh_add_face(m, flags, corners, smooth);
    }
    static Face *nth_face(Mesh *m, int n) {
        Face *f = m->faces;
        while (n-- > 0) f = f->next;
        return f;
    }
    template <class F>
    static std::string fatal_message(F f) {
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
using MeshBounds = MeshTest;
using VertexNormals = MeshTest;
using MeshPlacement = MeshTest;
using MeshBuildChecks = MeshTest;
using MeshInitialState = MeshTest;

std::vector<int32_t> normal_of(const Face *f) { return {f->nx, f->ny, f->nz}; }
std::vector<int32_t> normal_of(const Vertex &v) { return {v.nx, v.ny, v.nz}; }

}  // namespace

TEST_F(FaceNormals, CornerOrderDecidesTheSide) {
    Mesh *m = create({0, 0, 0, 256, 0, 0, 0, 256, 0});
    face(m, 0, 1, 2);
    face(m, 0, 2, 1);
    EXPECT_EQ(normal_of(nth_face(m, 0)), (std::vector<int32_t>{0, 0, 256}));
    EXPECT_EQ(normal_of(nth_face(m, 1)), (std::vector<int32_t>{0, 0, -256}));
}

TEST_F(FaceNormals, SlantedFaceIsTruncatedTowardZero) {
    // Normal (0, -1, 1)/sqrt 2: 181.02 each way, truncated to 181.
    Mesh *m = create({0, 0, 0, 512, 0, 0, 0, 512, 512});
    face(m, 0, 1, 2);
    EXPECT_EQ(normal_of(nth_face(m, 0)), (std::vector<int32_t>{0, -181, 181}));
}

TEST_F(FaceNormals, CollinearCornersGiveZero) {
    Mesh *m = create({0, 0, 0, 100, 100, 100, 300, 300, 300});
    face(m, 0, 1, 2);
    face(m, 0, 0, 0);
    EXPECT_EQ(normal_of(nth_face(m, 0)), (std::vector<int32_t>{0, 0, 0}));
    EXPECT_EQ(normal_of(nth_face(m, 1)), (std::vector<int32_t>{0, 0, 0}));
}

TEST_F(FaceNormals, SmoothBitComesFromTheSwitch) {
    Mesh *m = create({0, 0, 0, 256, 0, 0, 0, 256, 0});
    face(m, 0, 1, 2, FACE_SMOOTH | 0x345, 0);
    face(m, 0, 1, 2, 0x345, 1);
    EXPECT_EQ(nth_face(m, 0)->flags, 0x345u);
    EXPECT_EQ(nth_face(m, 1)->flags, FACE_SMOOTH | 0x345u);
    EXPECT_EQ(nth_face(m, 1)->corner_count, 3);
    EXPECT_EQ(nth_face(m, 1)->mesh, m);
}

TEST_F(FaceNormals, FacesKeepTheirOrder) {
    Mesh *m = create({0, 0, 0, 256, 0, 0, 0, 256, 0});
    for (uint32_t i = 0; i < 5; ++i) face(m, 0, 1, 2, i);
    uint32_t i = 0;
    for (const Face *f = m->faces; f != nullptr; f = f->next) EXPECT_EQ(f->flags, i++);
    EXPECT_EQ(i, 5u);
}

TEST_F(MeshBounds, CentreTruncatesAndHalfExtentIsTheLargestExcess) {
    // x from -3 to 4: centre 0 (0.5 truncated), half-extent 4.
    Mesh *m = create({-3, 0, 0, 4, 0, 10, 0, 7, 0});
    face(m, 0, 1, 2);
    mesh_finish(m);
    EXPECT_EQ(m->centre[0], 0);
    EXPECT_EQ(m->half_extent[0], 4);
    EXPECT_EQ(m->centre[1], 3);
    EXPECT_EQ(m->half_extent[1], 4);
    EXPECT_EQ(m->centre[2], 5);
    EXPECT_EQ(m->half_extent[2], 5);
}

TEST_F(MeshBounds, NegativeBoxCentreTruncatesTowardZero) {
    Mesh *m = create({-5, -8, -1, -2, -8, -1, -2, -9, -1});
    face(m, 0, 1, 2);
    mesh_finish(m);
    EXPECT_EQ(m->centre[0], -3);   // -3.5
    EXPECT_EQ(m->centre[1], -8);   // -8.5
    EXPECT_EQ(m->half_extent[0], 1);
    EXPECT_EQ(m->half_extent[2], 0);
}

TEST_F(MeshBounds, RadiusReachesTheFarthestCorner) {
    Mesh *m = create({300, 400, 0, -300, -400, 0, 0, 0, 1});
    face(m, 0, 1, 2);
    mesh_finish(m);
    EXPECT_EQ(m->centre[0], 0);
    EXPECT_EQ(m->centre[1], 0);
    EXPECT_EQ(m->radius, 500);
}

TEST_F(MeshBounds, SpriteMeshHasNoBounds) {
    Mesh *m = create({1000, 2000, 3000, 0, 0, 0, 256, 0, 0});
    face(m, 0, 0, 0, FACE_SPRITE | 7);
    face(m, 0, 1, 2);   // later polygons do not make it a polygon mesh
    mesh_set_position(m, 10, 20, 30, 0);
    mesh_finish(m);
    EXPECT_EQ(std::vector<int32_t>(m->centre, m->centre + 3), (std::vector<int32_t>{0, 0, 0}));
    EXPECT_EQ(std::vector<int32_t>(m->half_extent, m->half_extent + 3),
              (std::vector<int32_t>{0, 0, 0}));
    EXPECT_EQ(m->radius, 0);
    EXPECT_EQ(std::vector<int32_t>(m->world_centre, m->world_centre + 3),
              (std::vector<int32_t>{10, 20, 30}));
    EXPECT_EQ(normal_of(m->vertices[1]), (std::vector<int32_t>{0, 0, 0}));
}

TEST_F(MeshBounds, SpriteFaceWidensTheBoxOnly) {
    Mesh *m = create({0, 0, 0, 256, 0, 0, 0, 256, 0, 1000, 0, 0});
    face(m, 0, 1, 2);
    face(m, 3, 0, 0, FACE_SPRITE);
    mesh_finish(m);
    EXPECT_EQ(m->centre[0], 500);
    EXPECT_EQ(m->centre[1], 128);
    // From (500, 128, 0) the farthest polygon corner is (0, 0, 0): 516.1.
    EXPECT_EQ(m->radius, 516);
    EXPECT_EQ(m->half_extent[0], 0);   // every polygon corner lies below the centre
    EXPECT_EQ(m->half_extent[1], 128);
    EXPECT_EQ(normal_of(m->vertices[3]), (std::vector<int32_t>{0, 0, 0}));
}

TEST_F(MeshBounds, HugeCoordinatesSaturateTheRadius) {
    Mesh *m = create({INT32_MIN, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MIN,
                      INT32_MAX, 0});
    face(m, 0, 1, 2);
    mesh_finish(m);
    EXPECT_EQ(m->centre[0], 0);   // the 32-bit sum -1, halved toward zero
    EXPECT_EQ(m->radius, INT32_MAX);
    EXPECT_EQ(m->half_extent[0], INT32_MAX);
}

TEST_F(VertexNormals, SharedVertexAveragesFlatAndSmoothFaces) {
    Mesh *m = create({0, 0, 0, 256, 0, 0, 0, 256, 0, 0, 0, 256});
    face(m, 0, 1, 2, 0, 0);   // normal (0, 0, 256), flat
    face(m, 0, 2, 3, 0, 1);   // normal (256, 0, 0), smooth
    mesh_finish(m);
    EXPECT_EQ(normal_of(m->vertices[0]), (std::vector<int32_t>{181, 0, 181}));
    EXPECT_EQ(normal_of(m->vertices[2]), (std::vector<int32_t>{181, 0, 181}));
    EXPECT_EQ(normal_of(m->vertices[1]), (std::vector<int32_t>{0, 0, 256}));
    EXPECT_EQ(normal_of(m->vertices[3]), (std::vector<int32_t>{256, 0, 0}));
}

TEST_F(VertexNormals, EachNamingFaceWeighsOnce) {
    // Vertex 0 is named by two faces facing (0, 0, 1) and one facing
    // (1, 0, 0): the mean points along (1, 0, 2), i.e. (0.447, 0, 0.894). A
    // degenerate face naming it twice adds zero normals, which do not turn it.
    Mesh *m = create({0, 0, 0, 256, 0, 0, 0, 256, 0, 0, 0, 256});
    face(m, 0, 1, 2);
    face(m, 0, 2, 3);
    face(m, 0, 0, 1);
    face(m, 0, 1, 2);
    mesh_finish(m);
    EXPECT_EQ(normal_of(m->vertices[0]), (std::vector<int32_t>{114, 0, 228}));
}

TEST_F(VertexNormals, UnusedVerticesAndSpareSlotsStayZero) {
    Mesh *m = create({0, 0, 0, 256, 0, 0, 0, 256, 0, 5, 5, 5}, 4);
    face(m, 0, 1, 2);
    mesh_finish(m);
    EXPECT_EQ(normal_of(m->vertices[3]), (std::vector<int32_t>{0, 0, 0}));
    for (int i = 4; i < m->vertex_capacity; ++i)
        EXPECT_EQ(normal_of(m->vertices[i]), (std::vector<int32_t>{0, 0, 0}));
}

TEST_F(MeshPlacement, PositionSetsTranslationAndWorldCentre) {
    Mesh *m = create({-3, 0, 0, 5, 0, 0, 0, 8, 2});
    face(m, 0, 1, 2);
    mesh_finish(m);
    mesh_set_position(m, 100, 200, 300, 0);
    mesh_set_position(m, 1, 2, 3, 1);
    int32_t x, y, z;
    mesh_get_position(m, &x, &y, &z);
    EXPECT_EQ(std::vector<int32_t>({x, y, z}), (std::vector<int32_t>{101, 202, 303}));
    EXPECT_EQ(m->transform.tx, 101);
    EXPECT_EQ(m->transform.tz, 303);
    EXPECT_EQ(std::vector<int32_t>(m->world_centre, m->world_centre + 3),
              (std::vector<int32_t>{102, 206, 304}));
}

TEST_F(MeshPlacement, AddingZeroRecomputesTheDerivedValues) {
    Mesh *m = create({0, 0, 0, 256, 0, 0, 0, 256, 0});
    face(m, 0, 1, 2);
    mesh_finish(m);
    m->transform.tx = 999;
    m->world_centre[1] = 999;
    mesh_set_position(m, 0, 0, 0, 1);
    EXPECT_EQ(m->transform.tx, 0);
    EXPECT_EQ(m->world_centre[1], 128);
    EXPECT_EQ(m->x, 0);
}

TEST_F(MeshPlacement, RelativePositionWraps) {
    Mesh *m = create({0, 0, 0});
    mesh_set_position(m, INT32_MAX, INT32_MIN, 0, 0);
    mesh_set_position(m, 1, -1, 0, 1);
    EXPECT_EQ(m->x, INT32_MIN);
    EXPECT_EQ(m->y, INT32_MAX);
}

TEST_F(MeshPlacement, AnglesWrapIntoOneTurn) {
    Mesh *m = create({0, 0, 0});
    mesh_set_angles(m, -1, 1440, 5 * 1440 + 3, 0);
    int32_t a, b, c;
    mesh_get_angles(m, &a, &b, &c);
    EXPECT_EQ(std::vector<int32_t>({a, b, c}), (std::vector<int32_t>{1439, 0, 3}));
    mesh_set_angles(m, 2, -4, INT32_MIN, 1);
    mesh_get_angles(m, &a, &b, &c);
    EXPECT_EQ(std::vector<int32_t>({a, b, c}), (std::vector<int32_t>{1, 1436, 1315}));
}

TEST_F(MeshPlacement, AnglesRebuildTheRotationOnly) {
    Mesh *m = create({0, 0, 0});
    mesh_set_position(m, 7, 8, 9, 0);
    mesh_set_angles(m, 100, 200, 300, 0);
    Transform expected{};
    transform_set_rotation(&expected, 100, 200, 300);
    for (int e = 0; e < 9; ++e) EXPECT_EQ(m->transform.m[e], expected.m[e]);
    EXPECT_EQ(m->transform.tx, 7);
    EXPECT_EQ(m->world_centre[2], 9);
}

TEST_F(MeshPlacement, FinishKeepsPositionAndAnglesSetBefore) {
    Mesh *m = create({0, 0, 0, 256, 0, 0, 0, 256, 0});
    face(m, 0, 1, 2);
    mesh_set_position(m, 1000, 0, 0, 0);
    mesh_set_angles(m, 0, 360, 0, 0);
    mesh_finish(m);
    EXPECT_EQ(m->world_centre[0], 1128);
    EXPECT_EQ(m->transform.tx, 1000);
    EXPECT_EQ(m->transform.m[2], FIXED_ONE);
}

TEST_F(MeshInitialState, FieldsNeverComputedStartAtZero) {
    Mesh *m = create({1, 2, 3, 4, 5, 6, 7, 8, 10}, 3);
    face(m, 0, 1, 2, 0, 1);
    mesh_finish(m);
    EXPECT_EQ(m->vertex_count, 3);
    EXPECT_EQ(m->vertex_capacity, 6);
    EXPECT_EQ(m->owner, nullptr);
    EXPECT_EQ(m->next, nullptr);
    EXPECT_EQ(m->drawn, 0);
    for (int a = 0; a < 3; ++a) {
        EXPECT_EQ(m->view_centre[a], 0);
        EXPECT_EQ(m->object_light[a], 0);
    }
    for (int i = 0; i < m->vertex_capacity; ++i) {
        const Vertex &v = m->vertices[i];
        EXPECT_EQ(v.stamp, 0);
        EXPECT_EQ(v.intensity, 0);
        EXPECT_EQ(v.cx | v.cy | v.cz | v.sx | v.sy, 0);
    }
    EXPECT_EQ(m->vertices[5].x | m->vertices[5].y | m->vertices[5].z, 0);
    const Face *f = m->faces;
    EXPECT_EQ(f->clip_count, 0);
    EXPECT_EQ(f->mark, 0);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(f->clip_index[i], 0);
    EXPECT_EQ(f->next, nullptr);
}

TEST_F(MeshInitialState, SpriteMeshHasOneUnfinishedSpriteFace) {
    Body *owner = reinterpret_cast<Body *>(&meshes);   // any distinct address
    Mesh *m = mesh_create_sprite(owner, 0x00030042 | FACE_SMOOTH, -5, 6, 7);
    meshes.push_back(m);
    EXPECT_EQ(m->owner, owner);
    EXPECT_EQ(m->vertex_count, 1);
    EXPECT_EQ(m->vertex_capacity, 1);
    EXPECT_EQ(m->vertices[0].x, -5);
    EXPECT_EQ(m->vertices[0].z, 7);
    ASSERT_NE(m->faces, nullptr);
    EXPECT_EQ(m->faces->flags, 0x00030042u | FACE_SPRITE);
    EXPECT_EQ(m->faces->corner_count, 1);
    EXPECT_EQ(m->faces->index[0], 0);
    EXPECT_EQ(normal_of(m->faces), (std::vector<int32_t>{0, 0, 0}));
    EXPECT_EQ(m->faces->next, nullptr);
}

TEST_F(MeshInitialState, FreeingNullIsHarmless) {
    mesh_free(nullptr);
    SUCCEED();
}

TEST_F(MeshBuildChecks, CornerIndexOutsideTheVerticesIsRefused) {
    Mesh *m = create({0, 0, 0, 256, 0, 0, 0, 256, 0}, 5);
    EXPECT_EQ(fatal_message([&] { face(m, 0, 1, 3); }),
              "Mesh: corner index 3 outside the 3 vertices");
    EXPECT_EQ(fatal_message([&] { face(m, -1, 1, 2); }),
              "Mesh: corner index -1 outside the 3 vertices");
    EXPECT_EQ(fatal_message([&] { face(m, INT32_MAX, 0, 0, FACE_SPRITE); }),
              "Mesh: corner index 2147483647 outside the 3 vertices");
    EXPECT_EQ(m->faces, nullptr);
    // A sprite face reads only its first corner.
    EXPECT_EQ(fatal_message([&] { face(m, 2, -7, 99, FACE_SPRITE); }), "");
}

TEST_F(MeshBuildChecks, FinishingWithoutFacesIsRefused) {
    Mesh *m = create({0, 0, 0});
    EXPECT_EQ(fatal_message([&] { mesh_finish(m); }), "Mesh: finished without any face");
}

TEST_F(MeshBuildChecks, BadVertexCountsAreRefused) {
    const int32_t xyz[3] = {0, 0, 0};
    EXPECT_NE(fatal_message([&] { mesh_create(nullptr, -1, 0, xyz); }), "");
    EXPECT_NE(fatal_message([&] { mesh_create(nullptr, 1, -1, xyz); }), "");
    EXPECT_NE(fatal_message([&] { mesh_create(nullptr, INT32_MAX, 1, xyz); }), "");
    EXPECT_NE(fatal_message([&] { mesh_create(nullptr, 3, 0, nullptr); }), "");
}

TEST_F(MeshBuildChecks, EmptyMeshIsARealAllocation) {
    Mesh *m = mesh_create(nullptr, 0, 0, nullptr);
    meshes.push_back(m);
    EXPECT_NE(m->vertices, nullptr);
    EXPECT_EQ(m->vertex_capacity, 0);
    int32_t corners[3] = {0, 0, 0};
    EXPECT_NE(fatal_message([&] { mesh_add_face(m, FACE_SPRITE, corners, 0); }), "");
}
