// Projection of listed faces and their flat and smooth shading. Sprites are
// tested through whole frames in test_render.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "platform/video.h"
#include "render/drawlist.h"
#include "render/face.h"
#include "render/poly.h"
#include "scene/mesh.h"

namespace {

constexpr int32_t STAMP = 7;

// One mesh and one face set up by hand: camera coordinates, normals and the
// light are exactly the test's. Focal length 300, screen centre (160, 100).
class FaceTest : public ::testing::Test {
protected:
    Mesh mesh{};
    Vertex v[4]{};
    Face face{};

    void SetUp() override {
        drawlist_init(100);
        gfx_init(0);
        std::memset(BackBuffer, 0, SCREEN_SIZE);
        RenderState *rs = render_state();
        rs->frame_stamp = STAMP;
        rs->camera.focal_length = 300;
        rs->camera.half_width = 160;
        rs->camera.half_height = 100;
        rs->camera.ambient = 64;
        *raster_state() = RasterState{0, 0, 319, 199, 0, 0, 0, 0};
        mesh.vertices = v;
        face.mesh = &mesh;
    }
    void TearDown() override {
        gfx_shutdown();
        drawlist_free();
    }
    void camera_point(int i, int32_t x, int32_t y, int32_t z) {
        v[i] = Vertex{STAMP, 0, 0, 0, x, y, z, 0, 0, v[i].nx, v[i].ny, v[i].nz, v[i].intensity};
    }
    void corners(std::initializer_list<int32_t> idx) {
        face.clip_count = 0;
        for (int32_t i : idx) face.clip_index[face.clip_count++] = i;
    }
    static ScreenPoint point(int i) { return render_state()->points[i]; }
    // Projects and draws a triangle well inside the screen around (160, 100),
    // and returns the colour at its middle.
    uint8_t draw_triangle(uint32_t flags) {
        face.flags = flags;
        camera_point(0, -200, 200, 1000);
        camera_point(1, 200, 200, 1000);
        camera_point(2, 0, -200, 1000);
        corners({0, 1, 2, 0});
        face_project(&face);
        face_draw(&face);
        EXPECT_EQ(raster_state()->drawn, 1);
        return BackBuffer[100 * SCREEN_WIDTH + 160];
    }
};

// Quotients truncate toward zero; camera y points up, screen y down.
TEST_F(FaceTest, ProjectsAroundTheScreenCentre) {
    camera_point(0, 0, 0, 300);
    camera_point(1, 300, 300, 600);
    camera_point(2, -300, 0, 601);
    camera_point(3, -1, 0, 600);
    corners({0, 1, 2, 3});
    face_project(&face);
    EXPECT_EQ(point(0).x, 160);
    EXPECT_EQ(point(0).y, 100);
    EXPECT_EQ(point(1).x, 310);
    EXPECT_EQ(point(1).y, -50);
    EXPECT_EQ(point(2).x, 11);    // -90000 / 601 is -149, not -150
    EXPECT_EQ(point(3).x, 160);   // -300 / 600 is 0, not -1
    EXPECT_EQ(v[1].sx, 310);
    EXPECT_EQ(v[1].sy, -50);
}

TEST_F(FaceTest, ProjectionIsOffsetByTheClipOrigin) {
    *raster_state() = RasterState{10, 20, 309, 179, 0, 0, 0, 0};
    camera_point(0, 0, 0, 300);
    corners({0});
    face_project(&face);
    EXPECT_EQ(point(0).x, 170);
    EXPECT_EQ(point(0).y, 120);
}

// A vertex is projected once per frame: a later face reuses its screen
// position, and the intensity the first face gave it (or did not give it).
TEST_F(FaceTest, VertexIsProjectedOnceAndKeepsItsFirstIntensity) {
    mesh.object_light[2] = -256;
    v[0].nz = -256;
    v[0].intensity = -99;
    camera_point(0, 300, 0, 300);
    corners({0});
    face.flags = 0;   // flat: no intensity
    face_project(&face);
    EXPECT_EQ(v[0].stamp, 0);
    EXPECT_EQ(point(0).x, 460);
    v[0].cx = 0;   // not looked at again
    render_state()->points[0] = ScreenPoint{-1, -1};
    face.flags = FACE_SMOOTH;
    face_project(&face);
    EXPECT_EQ(point(0).x, 460);
    EXPECT_EQ(v[0].intensity, -99);
}

TEST_F(FaceTest, SmoothFaceLightsItsVerticesWhenProjecting) {
    mesh.object_light[0] = mesh.object_light[1] = 181;
    v[0].nx = 256, v[0].ny = -256;
    v[1].nx = 181, v[1].ny = 181;
    camera_point(0, 0, 0, 400);
    camera_point(1, 0, 0, 400);
    corners({0, 1});
    face.flags = FACE_SMOOTH;
    face_project(&face);
    EXPECT_EQ(v[0].intensity, 0);
    EXPECT_EQ(v[1].intensity, 254);   // 127 + 127: each product floors
}

// Normal (0, 0, -256), ramp 3.
TEST_F(FaceTest, FlatShadeLevelsFollowReflectivityLightAndAmbient) {
    face.nz = -256;
    const struct {
        uint32_t reflectivity;
        int32_t light_z, ambient, level;
    } cases[] = {
        {255, -256, 64, 23},   // 255 + 64, capped at 255
        {128, -256, 64, 17},   // lit 128, 192 / 11
        {255, 256, 64, 5},     // lit from behind: the ambient alone
        {255, 0, 255, 23},     // no light, full ambient
        {0, -256, 0, 0},
    };
    for (const auto &c : cases) {
        mesh.object_light[2] = c.light_z;
        render_state()->camera.ambient = c.ambient;
        EXPECT_EQ(draw_triangle(0x300u | c.reflectivity), 3 * 24 + c.level)
            << "reflectivity " << c.reflectivity << " light " << c.light_z;
    }
}

// Corners turned away from the light (negative intensity) get the ambient
// term alone, not less.
TEST_F(FaceTest, SmoothCornersWithNegativeIntensityGetAmbientOnly) {
    for (Vertex &x : v) x.nz = 256;
    mesh.object_light[2] = 256;
    EXPECT_EQ(draw_triangle(FACE_SMOOTH | 0x2FFu), 2 * 24 + 23);
    mesh.object_light[2] = -256;
    EXPECT_EQ(draw_triangle(FACE_SMOOTH | 0x2FFu), 2 * 24 + 5);
    EXPECT_EQ(v[0].intensity, -256);
    EXPECT_EQ(BackBuffer[80 * SCREEN_WIDTH + 140], 2 * 24 + 5);
}

}  // namespace
