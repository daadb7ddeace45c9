// Tests of the camera: viewport and slopes, start values, position and angles
// with the view transform they keep, the light, and the mesh list.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "base/fatal.h"
#include "render/camera.h"
#include "scene/mesh.h"

namespace {

using V3 = std::array<int32_t, 3>;

// A full-screen camera as the game makes it; fatal_error throws its message.
class CameraTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fatal_set_hook([](const char *m) { throw std::string(m); });
    }
    void TearDown() override {
        fatal_set_hook(nullptr);
        camera_free(cam);   // and its meshes
    }
    template <class F>
    static std::string refusal(F f) {
        try {
            f();
        } catch (const std::string &message) { return message; }
        return "";
    }
    static Mesh *mesh() { return mesh_create(nullptr, 1, 0, std::array{0, 0, 0}.data()); }
    Camera *cam = camera_create(300, 0, 0, 319, 199);
};

}   // namespace

TEST_F(CameraTest, ViewportSlopesAndStartValues) {
    EXPECT_EQ((std::array{cam->half_width, cam->half_height}), (std::array{160, 100}));
    EXPECT_EQ((std::array{cam->slope_x_min, cam->slope_x_max, cam->slope_y_min, cam->slope_y_max}),
              (std::array{-136, 135, -85, 84}));
    EXPECT_EQ((V3{cam->view.m[0], cam->view.m[4], cam->view.m[8]}),   // 1439 - all-zero angles
              (V3{536860645, 536860689, 536860690}));
    camera_set_viewport(cam, 100, 0, 0, 318, 99);   // odd width
    EXPECT_EQ((V3{cam->half_width, cam->slope_x_max, cam->slope_y_min}),
              (V3{159, 404, -128}));   // 158 · 256 / 100 truncated
    EXPECT_EQ(refusal([&] { camera_set_viewport(cam, 0, 0, 0, 9, 9); }), "Camera: focal length 0");
    EXPECT_EQ(cam->focal_length, 100);
    Camera *c = camera_create(200, 10, 20, 109, 119);
    EXPECT_EQ(std::vector<int32_t>(&c->raster.x0, &c->raster.x0 + 8),   // the raster block
              (std::vector<int32_t>{10, 20, 109, 119, 10, 20, 0, 0}));
    EXPECT_EQ(c->x | c->y | c->z | c->angle_x | c->angle_y | c->angle_z, 0);
    EXPECT_EQ(c->light_x | c->light_y | c->light_z | c->view.tx | c->view.tz, 0);
    EXPECT_EQ(c->ambient, 255);
    EXPECT_EQ(c->meshes, nullptr);
    camera_free(c);
    camera_free(nullptr);   // harmless
}

TEST_F(CameraTest, PositionAnglesAndTheLightNormalisedTo256) {
    camera_set_position(cam, 5, 5, 5, 0);
    camera_set_position(cam, 10, 0, 0, 1);
    EXPECT_EQ((V3{cam->x, cam->y, cam->z}), (V3{15, 5, 5}));
    EXPECT_EQ((V3{cam->view.tx, cam->view.ty, cam->view.tz}), (V3{-15, -5, -5}));
    camera_set_position(cam, INT32_MAX, INT32_MIN, 0, 0);
    camera_set_position(cam, 1, 0, 0, 1);   // wraps
    EXPECT_EQ((V3{cam->view.tx, cam->view.ty, cam->view.tz}), (V3{INT32_MIN, INT32_MIN, 0}));
    camera_set_angles(cam, 3 * 1440 + 10, -2 * 1440 - 10, INT32_MAX, 0);
    camera_set_angles(cam, 0, 0, INT32_MIN, 1);
    EXPECT_EQ((V3{cam->angle_x, cam->angle_y, cam->angle_z}), (V3{10, 1430, 1439}));
    const V3 cases[][2] = {{{0, 0, -256}, {0, 0, -256}},
                           {{3, 4, 0}, {153, 204, 0}},
                           {{1, 1, 0}, {181, 181, 0}},
                           {{0, 0, 0}, {0, 0, 0}},
                           {{INT32_MIN, INT32_MAX, INT32_MIN}, {-147, 147, -147}}};
    for (int32_t ambient = 64; const auto &c : cases) {
        camera_set_light(cam, c[0][0], c[0][1], c[0][2], ++ambient);
        EXPECT_EQ((V3{cam->light_x, cam->light_y, cam->light_z}), c[1]) << c[0][0];
        EXPECT_EQ(cam->ambient, ambient);
    }
}

TEST_F(CameraTest, MeshListAppendsRemovesAnywhereAndRefusesRingsAndStrangers) {
    Mesh *a = mesh(), *b = mesh(), *c = mesh(), *d = mesh(), *stranger = mesh();
    for (Mesh *p : {a, b, c, d}) camera_add_mesh(cam, p);
    EXPECT_EQ(cam->meshes, a);
    EXPECT_EQ(a->next, b);
    EXPECT_EQ(b->next, c);
    EXPECT_EQ(c->next, d);
    EXPECT_EQ(d->next, nullptr);
    EXPECT_EQ(refusal([&] { camera_add_mesh(cam, a); }), "Camera: mesh added twice");
    EXPECT_EQ(refusal([&] { camera_add_mesh(cam, d); }), "Camera: mesh added twice");
    EXPECT_EQ(refusal([&] { camera_remove_mesh(cam, stranger); }), "Camera: removed mesh is not in the list");
    camera_remove_mesh(cam, b);   // middle
    EXPECT_EQ(b->next, nullptr);
    camera_remove_mesh(cam, d);   // tail
    camera_remove_mesh(cam, a);   // head
    camera_add_mesh(cam, b);      // back in, at the tail
    EXPECT_EQ(cam->meshes, c);
    EXPECT_EQ(c->next, b);
    EXPECT_EQ(b->next, nullptr);
    camera_remove_mesh(cam, c);
    camera_remove_mesh(cam, b);
    EXPECT_EQ(cam->meshes, nullptr);
    camera_add_mesh(cam, b);   // camera_free releases it
    for (Mesh *p : {a, c, d, stranger}) mesh_free(p);
}
