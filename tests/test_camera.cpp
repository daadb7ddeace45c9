// Tests of the camera: viewport and slopes, start values, position and
// angles with the view transform they keep, the light, and the mesh list.
#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "frame/fatal.h"
#include "render/camera.h"
#include "scene/mesh.h"

namespace {

using V3 = std::array<int32_t, 3>;
struct FatalCaught {
    std::string message;
};

// A full-screen camera as the game makes it; fatal_error becomes an exception.
class CameraTest : public ::testing::Test {
protected:
    void SetUp() override {
        fatal_set_hook([](const char *m) { throw FatalCaught{m}; });
        cam = camera_create(300, 0, 0, 319, 199);
    }
    void TearDown() override {
        fatal_set_hook(nullptr);
        camera_free(cam);   // and the listed meshes
        for (Mesh *m : unlisted) mesh_free(m);
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
    static std::string refusal(F f) {
        try {
            f();
        } catch (const FatalCaught &e) {
            return e.message;
        }
        return "";
    }
    // The view rotation equals transform_set_rotation of the given angles.
    bool view_built_from(int ax, int ay, int az) const {
        Transform t{};
        transform_set_rotation(&t, ax, ay, az);
        return std::memcmp(t.m, cam->view.m, sizeof t.m) == 0;
    }
    V3 light() const { return {cam->light_x, cam->light_y, cam->light_z}; }
    Camera *cam = nullptr;
    std::vector<Mesh *> unlisted;
};
using CameraViewport = CameraTest;
using CameraStart = CameraTest;
using CameraPlacement = CameraTest;
using CameraLight = CameraTest;
using CameraMeshList = CameraTest;

}  // namespace

TEST_F(CameraViewport, HalfSizesAndSlopes) {
    EXPECT_EQ(cam->half_width, 160);
    EXPECT_EQ(cam->half_height, 100);
    EXPECT_EQ((std::array{cam->slope_x_min, cam->slope_x_max, cam->slope_y_min, cam->slope_y_max}),
              (std::array{-136, 135, -85, 84}));
    camera_set_viewport(cam, 100, 0, 0, 318, 99);   // odd width
    EXPECT_EQ(cam->half_width, 159);
    EXPECT_EQ(cam->slope_x_max, 158 * 256 / 100);
    EXPECT_EQ(cam->slope_y_min, -50 * 256 / 100);
}

TEST_F(CameraViewport, ZeroFocalLengthIsRefused) {
    EXPECT_EQ(refusal([&] { camera_set_viewport(cam, 0, 0, 0, 319, 199); }),
              "Camera: focal length 0");
    EXPECT_EQ(cam->focal_length, 300);
}

TEST_F(CameraViewport, RasterBlockIsEightWordsInOrder) {
    static_assert(offsetof(Camera, raster) == 11 * 4 && sizeof(RasterState) == 8 * 4);
    camera_set_pick(cam, 33, 44);
    const int32_t *block = &cam->raster.x0;
    EXPECT_EQ(std::vector<int32_t>(block, block + 8),
              (std::vector<int32_t>{0, 0, 319, 199, 33, 44, 0, 0}));
}

TEST_F(CameraStart, DefinedStartValues) {
    Camera *c = camera_create(200, 10, 20, 109, 119);
    EXPECT_EQ((std::array{c->raster.pick_x, c->raster.pick_y}), (std::array{10, 20}));
    EXPECT_EQ(c->raster.pick_hit | c->raster.drawn, 0);
    EXPECT_EQ(c->x | c->y | c->z | c->angle_x | c->angle_y | c->angle_z, 0);
    EXPECT_EQ(c->light_x | c->light_y | c->light_z | c->view.tx | c->view.tz, 0);
    EXPECT_EQ(c->ambient, 255);
    EXPECT_EQ(c->meshes, nullptr);
    camera_free(c);
    camera_free(nullptr);   // harmless
}

TEST_F(CameraStart, ZeroAnglesViewIsAQuarterDegreeOff) {
    EXPECT_EQ((std::array{cam->view.m[0], cam->view.m[4], cam->view.m[8]}),
              (std::array{536860645, 536860689, 536860690}));
    EXPECT_TRUE(view_built_from(1439, 1439, 1439));
}

TEST_F(CameraPlacement, PositionKeepsTheNegatedTranslation) {
    camera_set_position(cam, 5, 5, 5, 0);
    camera_set_position(cam, 10, 0, 0, 1);
    EXPECT_EQ((V3{cam->x, cam->y, cam->z}), (V3{15, 5, 5}));
    EXPECT_EQ((V3{cam->view.tx, cam->view.ty, cam->view.tz}), (V3{-15, -5, -5}));
    camera_set_position(cam, INT32_MAX, INT32_MIN, 0, 0);
    camera_set_position(cam, 1, 0, 0, 1);   // wraps
    EXPECT_EQ((V3{cam->view.tx, cam->view.ty, cam->view.tz}), (V3{INT32_MIN, INT32_MIN, 0}));
}

TEST_F(CameraPlacement, AnglesWrapAndBuildTheViewFrom1439Minus) {
    camera_set_angles(cam, 1439, 0, 0, 0);
    camera_set_angles(cam, 1, 0, 0, 1);
    EXPECT_EQ(cam->angle_x, 0);
    EXPECT_TRUE(view_built_from(1439, 1439, 1439));
    camera_set_angles(cam, -1, 0, 0, 0);
    EXPECT_EQ(cam->angle_x, 1439);
    EXPECT_TRUE(view_built_from(0, 1439, 1439));
    camera_set_angles(cam, 3 * 1440 + 10, -2 * 1440 - 10, INT32_MAX, 0);
    camera_set_angles(cam, 0, 0, INT32_MIN, 1);
    EXPECT_EQ((V3{cam->angle_x, cam->angle_y, cam->angle_z}), (V3{10, 1430, 1439}));
    EXPECT_TRUE(view_built_from(1429, 9, 0));
}

TEST_F(CameraLight, NormalisesToLength256) {
    camera_set_light(cam, 0, 0, -256, 64);
    EXPECT_EQ(light(), (V3{0, 0, -256}));
    EXPECT_EQ(cam->ambient, 64);
    camera_set_light(cam, 3, 4, 0, 10);
    EXPECT_EQ(light(), (V3{153, 204, 0}));
    camera_set_light(cam, 1, 1, 0, 10);
    EXPECT_EQ(light(), (V3{181, 181, 0}));
    camera_set_light(cam, INT32_MIN, INT32_MAX, INT32_MIN, 10);
    EXPECT_EQ(light(), (V3{-147, 147, -147}));
    camera_set_light(cam, 0, 0, 0, 77);
    EXPECT_EQ(light(), (V3{0, 0, 0}));
    EXPECT_EQ(cam->ambient, 77);
}

TEST_F(CameraMeshList, AddAppendsAndRemoveUnlinksAnywhere) {
    Mesh *a = mesh(), *b = mesh(), *c = mesh(), *d = mesh();
    camera_add_mesh(cam, a);
    EXPECT_EQ(cam->meshes, a);
    for (Mesh *m : {b, c, d}) camera_add_mesh(cam, m);
    EXPECT_EQ(listed(), (std::vector<Mesh *>{a, b, c, d}));
    camera_remove_mesh(cam, b);   // middle
    EXPECT_EQ(b->next, nullptr);
    camera_remove_mesh(cam, d);   // tail
    camera_remove_mesh(cam, a);   // head
    EXPECT_EQ(listed(), (std::vector<Mesh *>{c}));
    camera_add_mesh(cam, b);      // back in, at the tail
    EXPECT_EQ(listed(), (std::vector<Mesh *>{c, b}));
    camera_remove_mesh(cam, c);
    camera_remove_mesh(cam, b);
    EXPECT_EQ(cam->meshes, nullptr);
    camera_add_mesh(cam, b);      // camera_free releases it
    unlisted = {a, c, d};
}

TEST_F(CameraMeshList, RingsAndStrangersAreRefused) {
    Mesh *a = mesh(), *b = mesh(), *stranger = mesh();
    camera_add_mesh(cam, a);
    camera_add_mesh(cam, b);
    EXPECT_EQ(refusal([&] { camera_add_mesh(cam, a); }), "Camera: mesh added twice");
    EXPECT_EQ(refusal([&] { camera_add_mesh(cam, b); }), "Camera: mesh added twice");
    EXPECT_EQ(refusal([&] { camera_remove_mesh(cam, stranger); }),
              "Camera: removed mesh is not in the list");
    EXPECT_EQ(listed(), (std::vector<Mesh *>{a, b}));
    unlisted = {stranger};
}
