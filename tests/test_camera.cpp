// Tests of the camera: viewport and slopes, position and angles with the
// view transform they keep, the light, and the mesh list.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "frame/fatal.h"
#include "render/camera.h"
#include "scene/mesh.h"

namespace {

struct FatalCaught {
    std::string message;
};

class CameraTest : public ::testing::Test {
protected:
    void SetUp() override {
        fatal_set_hook([](const char *message) { throw FatalCaught{message}; });
        cam = camera_create(300, 0, 0, 319, 199);
    }
    void TearDown() override {
        fatal_set_hook(nullptr);
        camera_free(cam);   // frees the listed meshes
        for (Mesh *m : loose) mesh_free(m);
    }
    static Mesh *mesh() {
        const int32_t xyz[3] = {0, 0, 0};
        return mesh_create(nullptr, 1, 0, xyz);
    }
    std::vector<Mesh *> listed() const {
        std::vector<Mesh *> v;
        for (Mesh *m = cam->meshes; m != nullptr; m = m->next) v.push_back(m);
        return v;
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
    Camera *cam = nullptr;
    std::vector<Mesh *> loose;   // meshes not in the list at the end
};

using CameraViewport = CameraTest;
using CameraStart = CameraTest;
using CameraPlacement = CameraTest;
using CameraLight = CameraTest;
using CameraMeshList = CameraTest;

std::vector<int32_t> rotation_of(const Transform &t) { return {t.m, t.m + 9}; }

std::vector<int32_t> rotation(int ax, int ay, int az) {
    Transform t{};
    transform_set_rotation(&t, ax, ay, az);
    return rotation_of(t);
}

}  // namespace

TEST_F(CameraViewport, FullScreenHalfSizesAndSlopes) {
    EXPECT_EQ(cam->focal_length, 300);
    EXPECT_EQ(cam->half_width, 160);
    EXPECT_EQ(cam->half_height, 100);
    EXPECT_EQ(cam->slope_x_min, -136);
    EXPECT_EQ(cam->slope_x_max, 135);
    EXPECT_EQ(cam->slope_y_min, -85);
    EXPECT_EQ(cam->slope_y_max, 84);
    EXPECT_EQ(cam->raster.x0, 0);
    EXPECT_EQ(cam->raster.y0, 0);
    EXPECT_EQ(cam->raster.x1, 319);
    EXPECT_EQ(cam->raster.y1, 199);
}

TEST_F(CameraViewport, OddWidthTruncatesTheHalf) {
    camera_set_viewport(cam, 100, 0, 0, 318, 99);
    EXPECT_EQ(cam->half_width, 159);
    EXPECT_EQ(cam->slope_x_min, -159 * 256 / 100);
    EXPECT_EQ(cam->slope_x_max, 158 * 256 / 100);
    EXPECT_EQ(cam->half_height, 50);
    EXPECT_EQ(cam->slope_y_max, 49 * 256 / 100);
}

TEST_F(CameraViewport, OffsetViewportAndNegativeFocalLength) {
    camera_set_viewport(cam, -256, 100, 50, 199, 149);
    EXPECT_EQ(cam->half_width, 50);
    EXPECT_EQ(cam->half_height, 50);
    EXPECT_EQ(cam->slope_x_min, 50);
    EXPECT_EQ(cam->slope_x_max, -49);
}

TEST_F(CameraViewport, ZeroFocalLengthIsRefused) {
    EXPECT_EQ(fatal_message([&] { camera_set_viewport(cam, 0, 0, 0, 319, 199); }),
              "Camera: focal length 0");
    EXPECT_EQ(cam->focal_length, 300);   // nothing was changed
}

TEST_F(CameraViewport, RasterBlockIsEightWordsInOrder) {
    static_assert(offsetof(Camera, raster) == 11 * 4);
    static_assert(offsetof(Camera, half_width) == 19 * 4);
    camera_set_pick(cam, 33, 44);
    const int32_t *block = &cam->raster.x0;
    EXPECT_EQ(std::vector<int32_t>(block, block + 8),
              (std::vector<int32_t>{0, 0, 319, 199, 33, 44, 0, 0}));
}

TEST_F(CameraStart, DefinedStartValues) {
    Camera *c = camera_create(200, 10, 20, 109, 119);
    EXPECT_EQ(c->raster.pick_x, 10);   // the viewport's top-left corner
    EXPECT_EQ(c->raster.pick_y, 20);
    EXPECT_EQ(c->raster.pick_hit, 0);
    EXPECT_EQ(c->raster.drawn, 0);
    EXPECT_EQ(c->x | c->y | c->z, 0);
    EXPECT_EQ(c->angle_x | c->angle_y | c->angle_z, 0);
    EXPECT_EQ(c->light_x | c->light_y | c->light_z, 0);
    EXPECT_EQ(c->ambient, 255);
    EXPECT_EQ(c->meshes, nullptr);
    EXPECT_EQ(c->view.tx | c->view.ty | c->view.tz, 0);
    camera_free(c);
}

TEST_F(CameraStart, ZeroAnglesViewIsAQuarterDegreeOff) {
    EXPECT_EQ(cam->view.m[0], 536860645);
    EXPECT_EQ(cam->view.m[4], 536860689);
    EXPECT_EQ(cam->view.m[8], 536860690);
    EXPECT_EQ(rotation_of(cam->view), rotation(1439, 1439, 1439));
}

TEST_F(CameraPlacement, PositionKeepsTheNegatedTranslation) {
    camera_set_position(cam, 5, 5, 5, 0);
    camera_set_position(cam, 10, 0, 0, 1);
    EXPECT_EQ(cam->x, 15);
    EXPECT_EQ(cam->y, 5);
    EXPECT_EQ(cam->view.tx, -15);
    EXPECT_EQ(cam->view.ty, -5);
    EXPECT_EQ(cam->view.tz, -5);
    camera_set_position(cam, -1, 2, -3, 0);
    EXPECT_EQ(cam->view.tx, 1);
    EXPECT_EQ(cam->view.tz, 3);
}

TEST_F(CameraPlacement, ExtremePositionsWrap) {
    camera_set_position(cam, INT32_MIN, INT32_MAX, 0, 0);
    EXPECT_EQ(cam->view.tx, INT32_MIN);   // its negation wraps to itself
    EXPECT_EQ(cam->view.ty, -INT32_MAX);
    camera_set_position(cam, -1, 1, 0, 1);
    EXPECT_EQ(cam->x, INT32_MAX);
    EXPECT_EQ(cam->y, INT32_MIN);
}

TEST_F(CameraPlacement, RelativeAnglesWrapPastAFullTurn) {
    camera_set_angles(cam, 1439, 0, 0, 0);
    camera_set_angles(cam, 1, 0, 0, 1);
    EXPECT_EQ(cam->angle_x, 0);
    EXPECT_EQ(rotation_of(cam->view), rotation(1439, 1439, 1439));
}

TEST_F(CameraPlacement, NegativeAngleBuildsTheViewFromZero) {
    camera_set_angles(cam, -1, 0, 0, 0);
    EXPECT_EQ(cam->angle_x, 1439);
    EXPECT_EQ(rotation_of(cam->view), rotation(0, 1439, 1439));
}

TEST_F(CameraPlacement, AnglesOfAnySizeWrap) {
    camera_set_angles(cam, 3 * 1440 + 10, -2 * 1440 - 10, INT32_MAX, 0);
    EXPECT_EQ(cam->angle_x, 10);
    EXPECT_EQ(cam->angle_y, 1430);
    EXPECT_EQ(cam->angle_z, 127);
    camera_set_angles(cam, INT32_MIN, INT32_MIN, INT32_MIN, 1);
    EXPECT_EQ(cam->angle_x, 1322);   // 10 + 1312
    EXPECT_EQ(cam->angle_y, 1302);
    EXPECT_EQ(cam->angle_z, 1439);
    EXPECT_EQ(rotation_of(cam->view), rotation(117, 137, 0));
}

TEST_F(CameraPlacement, ViewTurnsTheHeadingAway) {
    // A camera turned a quarter about y: a world point straight ahead of it
    // ends up (nearly) on the view's +z axis.
    camera_set_angles(cam, 0, 360, 0, 0);
    int32_t x = 1000, y = 0, z = 0;
    transform_point(&cam->view, &x, &y, &z);
    EXPECT_NEAR(x, 0, 10);
    EXPECT_NEAR(z, 1000, 1);
}

TEST_F(CameraLight, NormalisesToLength256) {
    camera_set_light(cam, 0, 0, -256, 64);
    EXPECT_EQ(std::vector<int32_t>({cam->light_x, cam->light_y, cam->light_z}),
              (std::vector<int32_t>{0, 0, -256}));
    EXPECT_EQ(cam->ambient, 64);
    camera_set_light(cam, 3, 4, 0, 10);
    EXPECT_EQ(std::vector<int32_t>({cam->light_x, cam->light_y, cam->light_z}),
              (std::vector<int32_t>{153, 204, 0}));
    camera_set_light(cam, 1, 1, 0, 10);
    EXPECT_EQ(std::vector<int32_t>({cam->light_x, cam->light_y, cam->light_z}),
              (std::vector<int32_t>{181, 181, 0}));
    camera_set_light(cam, -3, 0, -4, 10);
    EXPECT_EQ(std::vector<int32_t>({cam->light_x, cam->light_y, cam->light_z}),
              (std::vector<int32_t>{-153, 0, -204}));
}

TEST_F(CameraLight, ZeroVectorGivesZeroLight) {
    camera_set_light(cam, 0, 0, 0, 77);
    EXPECT_EQ(cam->light_x | cam->light_y | cam->light_z, 0);
    EXPECT_EQ(cam->ambient, 77);
}

TEST_F(CameraLight, ExtremeComponentsStayWithinTheUnitRange) {
    camera_set_light(cam, INT32_MIN, INT32_MAX, INT32_MIN, 0);
    EXPECT_EQ(cam->light_x, -147);
    EXPECT_EQ(cam->light_y, 147);
    EXPECT_EQ(cam->light_z, -147);
}

TEST_F(CameraMeshList, AddAppendsAtTheTail) {
    Mesh *a = mesh(), *b = mesh(), *c = mesh();
    camera_add_mesh(cam, a);
    EXPECT_EQ(cam->meshes, a);
    camera_add_mesh(cam, b);
    camera_add_mesh(cam, c);
    EXPECT_EQ(listed(), (std::vector<Mesh *>{a, b, c}));
}

TEST_F(CameraMeshList, RemoveUnlinksAnywhere) {
    Mesh *a = mesh(), *b = mesh(), *c = mesh(), *d = mesh();
    for (Mesh *m : {a, b, c, d}) camera_add_mesh(cam, m);
    camera_remove_mesh(cam, b);   // middle
    EXPECT_EQ(listed(), (std::vector<Mesh *>{a, c, d}));
    EXPECT_EQ(b->next, nullptr);
    camera_remove_mesh(cam, d);   // tail
    EXPECT_EQ(listed(), (std::vector<Mesh *>{a, c}));
    camera_remove_mesh(cam, a);   // head
    EXPECT_EQ(listed(), (std::vector<Mesh *>{c}));
    EXPECT_EQ(a->next, nullptr);
    camera_add_mesh(cam, b);      // a removed mesh can come back, at the tail
    EXPECT_EQ(listed(), (std::vector<Mesh *>{c, b}));
    loose = {a, d};
}

TEST_F(CameraMeshList, RemovingTheOnlyMeshEmptiesTheList) {
    Mesh *a = mesh();
    camera_add_mesh(cam, a);
    camera_remove_mesh(cam, a);
    EXPECT_EQ(cam->meshes, nullptr);
    EXPECT_EQ(a->next, nullptr);
    loose = {a};
}

TEST_F(CameraMeshList, AddingAListedMeshIsRefused) {
    Mesh *a = mesh(), *b = mesh();
    camera_add_mesh(cam, a);
    camera_add_mesh(cam, b);
    EXPECT_EQ(fatal_message([&] { camera_add_mesh(cam, a); }), "Camera: mesh added twice");
    EXPECT_EQ(fatal_message([&] { camera_add_mesh(cam, b); }), "Camera: mesh added twice");
    EXPECT_EQ(listed(), (std::vector<Mesh *>{a, b}));
}

TEST_F(CameraMeshList, RemovingAnUnlistedMeshIsRefused) {
    Mesh *a = mesh(), *b = mesh();
    camera_add_mesh(cam, a);
    EXPECT_EQ(fatal_message([&] { camera_remove_mesh(cam, b); }),
              "Camera: removed mesh is not in the list");
    EXPECT_EQ(listed(), (std::vector<Mesh *>{a}));
    loose = {b};
}

TEST_F(CameraMeshList, FreeingNullIsHarmless) {
    camera_free(nullptr);
    SUCCEED();
}
