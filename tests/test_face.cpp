// Projection of listed faces and their flat and smooth shading. Sprites are
// tested through whole frames in test_render.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <initializer_list>
#include <utility>

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
    // Camera coordinates of this frame, not yet projected; the corners in order.
    void camera_point(int i, int32_t x, int32_t y, int32_t z) {
        v[i].stamp = STAMP;
        v[i].cx = x;
        v[i].cy = y;
        v[i].cz = z;
    }
    void project(uint32_t flags, std::initializer_list<int32_t> corners) {
        face.flags = flags;
        face.clip_count = 0;
        for (int32_t i : corners) face.clip_index[face.clip_count++] = i;
        face_project(&face);
    }
    static ScreenPoint point(int i) { return render_state()->points[i]; }
    // Draws a triangle well inside the screen around (160, 100); returns the colour at its middle.
    uint8_t draw_triangle(uint32_t flags) {
        camera_point(0, -200, 200, 1000);
        camera_point(1, 200, 200, 1000);
        camera_point(2, 0, -200, 1000);
        project(flags, {0, 1, 2, 0});
        face_draw(&face);
        EXPECT_EQ(raster_state()->drawn, 1);
        return BackBuffer[100 * SCREEN_WIDTH + 160];
    }
};

// Quotients truncate toward zero (-90000 / 601 is -149, -300 / 600 is 0);
// camera y points up, screen y down (negated as a 32-bit value); the clip origin offsets the centre.
TEST_F(FaceTest, ProjectsAroundTheScreenCentre) {
    camera_point(0, 0, 0, 300);
    camera_point(1, 300, 300, 600);
    camera_point(2, -300, 0, 601);
    camera_point(3, -1, 0, 600);
    project(0, {0, 1, 2, 3});
    const int want[4][2] = {{160, 100}, {310, -50}, {11, 100}, {160, 100}};
    for (int i = 0; i < 4; i++)
        EXPECT_EQ((std::pair{point(i).x, point(i).y}), (std::pair{want[i][0], want[i][1]})) << i;
    EXPECT_EQ((std::pair{v[1].sx, v[1].sy}), (std::pair{310, -50}));
    *raster_state() = RasterState{10, 20, 309, 179, 0, 0, 0, 0};
    camera_point(0, 0, 0, 300);
    project(0, {0});
    EXPECT_EQ((std::pair{point(0).x, point(0).y}), (std::pair{170, 120}));
    camera_point(1, 0, INT32_MIN, 1 << 30);   // -cy wraps at 32 bits before the 64-bit product
    project(0, {1});
    EXPECT_EQ(point(0).y, -480);
}

// Smooth faces light their vertices when projecting (each product floors: 127 + 127); a vertex is
// projected once per frame, so a later face reuses its screen position and first intensity (or none).
TEST_F(FaceTest, SmoothFacesLightVerticesOncePerFrame) {
    mesh.object_light[0] = mesh.object_light[1] = 181;
    mesh.object_light[2] = -256;
    v[0].nz = -256;
    v[0].intensity = -99;
    v[1].nx = 256;
    v[1].ny = -256;
    v[2].nx = 181;
    v[2].ny = 181;
    camera_point(0, 300, 0, 300);
    camera_point(1, 0, 0, 400);
    camera_point(2, 0, 0, 400);
    project(0, {0});   // flat: no intensity
    EXPECT_EQ(v[0].stamp, 0);
    EXPECT_EQ(point(0).x, 460);
    v[0].cx = 0;   // not looked at again
    render_state()->points[0] = ScreenPoint{-1, -1};
    project(FACE_SMOOTH, {0, 1, 2});
    EXPECT_EQ(point(0).x, 460);
    EXPECT_EQ((std::array{v[0].intensity, v[1].intensity, v[2].intensity}), (std::array{-99, 0, 254}));
}

// Face normal (0, 0, -256) and vertex normals (0, 0, 256): the level is (lit + ambient) / 11, lit
// capped at 255; smooth corners turned away from the light (negative intensity) get the ambient alone.
TEST_F(FaceTest, ShadeLevelsFollowReflectivityLightAndAmbient) {
    face.nz = -256;
    for (Vertex &x : v) x.nz = 256;
    const struct {
        uint32_t flags;
        int32_t light_z, ambient, colour;
    } cases[] = {{0x3FF, -256, 64, 3 * 24 + 23},   // 255 + 64, capped at 255
                 {0x380, -256, 64, 3 * 24 + 17},   // lit 128, 192 / 11
                 {0x3FF, 256, 64, 3 * 24 + 5},     // lit from behind: the ambient alone
                 {0x3FF, 0, 255, 3 * 24 + 23},     // no light, full ambient
                 {0x300, -256, 0, 3 * 24},
                 {FACE_SMOOTH | 0x2FF, 256, 64, 2 * 24 + 23},
                 {FACE_SMOOTH | 0x2FF, -256, 64, 2 * 24 + 5}};   // negative intensity
    for (const auto &c : cases) {
        mesh.object_light[2] = c.light_z;
        render_state()->camera.ambient = c.ambient;
        EXPECT_EQ(draw_triangle(c.flags), c.colour) << std::hex << c.flags << std::dec << " light " << c.light_z;
    }
    EXPECT_EQ(v[0].intensity, -256);
    EXPECT_EQ(BackBuffer[80 * SCREEN_WIDTH + 140], 2 * 24 + 5);
}

}   // namespace
