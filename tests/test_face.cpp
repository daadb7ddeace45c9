// Projection of listed faces and their shading: flat, smooth and sprites.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "frame/fatal.h"
#include "platform/video.h"
#include "render/drawlist.h"
#include "render/face.h"
#include "render/poly.h"
#include "res/res.h"
#include "scene/mesh.h"

namespace {

constexpr int32_t STAMP = 7;

// One mesh with a handful of vertices and a single face, set up by hand so
// that the camera coordinates, normals and light are exactly the test's.
class FaceTest : public ::testing::Test {
protected:
    Mesh mesh{};
    Vertex v[6]{};
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
        mesh.vertex_count = mesh.vertex_capacity = 6;
        mesh.faces = &face;
        face.mesh = &mesh;
    }
    void TearDown() override {
        gfx_shutdown();
        drawlist_free();
    }

    void camera_point(int i, int32_t x, int32_t y, int32_t z) {
        v[i].stamp = STAMP;
        v[i].cx = x;
        v[i].cy = y;
        v[i].cz = z;
    }
    void corners(std::initializer_list<int32_t> idx) {
        face.clip_count = 0;
        for (int32_t i : idx) face.clip_index[face.clip_count++] = i;
    }
    ScreenPoint point(int i) const { return render_state()->points[i]; }
    // A triangle well inside the screen around (160, 100).
    void big_triangle(uint32_t flags) {
        face.flags = flags;
        camera_point(0, -200, 200, 1000);
        camera_point(1, 200, 200, 1000);
        camera_point(2, 0, -200, 1000);
        corners({0, 1, 2, 0});
    }
    static uint8_t pixel(int x, int y) { return BackBuffer[y * SCREEN_WIDTH + x]; }
};

// Projection: truncation toward zero, the screen centre, y pointing down.
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
    EXPECT_EQ(point(3).x, 160);   // -300 / 600 truncates to 0
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

// A vertex is projected once per frame: later faces reuse its position, and
// the intensity it got (or did not get) from the first face.
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
    v[0].cx = 0;      // stale camera coordinates are not looked at again
    face.flags = FACE_SMOOTH;
    render_state()->points[0] = ScreenPoint{-1, -1};
    face_project(&face);
    EXPECT_EQ(point(0).x, 460);
    EXPECT_EQ(v[0].intensity, -99);
}

TEST_F(FaceTest, SmoothFaceLightsItsVerticesWhenProjecting) {
    mesh.object_light[0] = 181;
    mesh.object_light[1] = 181;
    v[0].nx = 256;
    v[0].ny = -256;
    v[1].nx = 181;
    v[1].ny = 181;
    camera_point(0, 0, 0, 400);
    camera_point(1, 0, 0, 400);
    corners({0, 1});
    face.flags = FACE_SMOOTH;
    face_project(&face);
    EXPECT_EQ(v[0].intensity, 0);
    EXPECT_EQ(v[1].intensity, 254);   // 127 + 127: each product floors
}

// Flat shading: normal (0, 0, -256), ambient 64, ramp 3.
TEST_F(FaceTest, FlatShadeLevelsFollowReflectivityAndLight) {
    face.nz = -256;
    struct Case {
        uint32_t reflectivity;
        int32_t light_z;
        int32_t ambient;
        int level;
    } cases[] = {
        {255, -256, 64, 23},   // 255 + 64 capped at 255
        {128, -256, 64, 17},   // lit 128, 192 / 11
        {255, 256, 64, 5},     // lit from behind: ambient alone
        {255, 0, 255, 23},     // no light, full ambient
        {0, -256, 0, 0},
    };
    for (const Case &c : cases) {
        mesh.object_light[2] = c.light_z;
        render_state()->camera.ambient = c.ambient;
        big_triangle(0x300u | c.reflectivity);
        face_project(&face);
        face_draw(&face);
        EXPECT_EQ(pixel(160, 100), 3 * 24 + c.level)
            << "reflectivity " << c.reflectivity << " light " << c.light_z;
        EXPECT_EQ(raster_state()->drawn, 1);
    }
}

TEST_F(FaceTest, SmoothCornersWithNegativeIntensityGetAmbientOnly) {
    mesh.object_light[2] = 256;
    for (Vertex &x : v) x.nz = 256;
    big_triangle(FACE_SMOOTH | 0x2FFu);   // ramp 2, reflectivity 255
    face_project(&face);
    EXPECT_EQ(v[0].intensity, 256);
    face_draw(&face);
    EXPECT_EQ(pixel(160, 100), 2 * 24 + 23);

    mesh.object_light[2] = -256;   // every corner turned away
    big_triangle(FACE_SMOOTH | 0x2FFu);
    face_project(&face);
    EXPECT_EQ(v[0].intensity, -256);
    face_draw(&face);
    EXPECT_EQ(pixel(160, 100), 2 * 24 + 5);
    EXPECT_EQ(pixel(140, 80), 2 * 24 + 5);
}

// Sprites: bitmaps from a throw-away lib/ directory.
class SpriteFaceTest : public FaceTest {
protected:
    std::string old_dir;
    std::string dir;

    void SetUp() override {
        FaceTest::SetUp();
        char buf[4096];
        ASSERT_NE(getcwd(buf, sizeof buf), nullptr);
        old_dir = buf;
        char tmpl[] = "/tmp/polydrive_face_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        ASSERT_EQ(chdir(dir.c_str()), 0);
        ASSERT_EQ(mkdir("lib", 0755), 0);
        res_init(10240);
    }
    void TearDown() override {
        res_shutdown();
        FaceTest::TearDown();
        ASSERT_EQ(chdir(old_dir.c_str()), 0);
        std::string cmd = "rm -rf " + dir;
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }

    static void write_file(const char *name, const std::vector<uint8_t> &bytes) {
        std::string path = std::string("lib/") + name;
        FILE *f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
        std::fclose(f);
    }
    // A bitmap file with the given header, `pixels` bytes of colour 7.
    static std::vector<uint8_t> bitmap(int32_t w, int32_t h, size_t pixels) {
        std::vector<uint8_t> b(8 + pixels, 7);
        std::memcpy(b.data(), &w, 4);
        std::memcpy(b.data() + 4, &h, 4);
        return b;
    }
    void sprite(ResourceId id, uint32_t exponent, int32_t z) {
        face.flags = FACE_SPRITE | static_cast<uint32_t>(id) | exponent << 16;
        camera_point(0, 0, 0, z);
        corners({0});
        std::memset(BackBuffer, 0, SCREEN_SIZE);
        face_project(&face);
        face_draw(&face);
    }
    static int row_width(int y) {
        int n = 0;
        for (int x = 0; x < SCREEN_WIDTH; x++) n += BackBuffer[y * SCREEN_WIDTH + x] == 7;
        return n;
    }
};

TEST_F(SpriteFaceTest, SizeFollowsDepthAndExponent) {
    write_file("s16.bm", bitmap(16, 16, 256));
    ResourceId id = res_register("s16.bm");
    sprite(id, 0, 65536);
    EXPECT_EQ(row_width(100), 16);
    sprite(id, 0, 32768);
    EXPECT_EQ(row_width(100), 32);
    sprite(id, 1, 65536);
    EXPECT_EQ(row_width(100), 32);
}

// Every exponent, wrapped scales included, stays inside the screen and the
// bitmap (the sanitizers watch the reads and writes).
TEST_F(SpriteFaceTest, AnyExponentIsSafe) {
    write_file("s16.bm", bitmap(16, 16, 256));
    ResourceId id = res_register("s16.bm");
    for (uint32_t e = 0; e < 32; e++) sprite(id, e, 256);
    SUCCEED();
}

// The lock is given back after drawing: a pool with room for one of the two
// bitmaps can still load the other.
TEST_F(SpriteFaceTest, BitmapIsUnlockedAfterDrawing) {
    res_shutdown();
    res_init(400);
    write_file("a.bm", bitmap(16, 16, 256));
    write_file("b.bm", bitmap(16, 16, 256));
    ResourceId a = res_register("a.bm");
    ResourceId b = res_register("b.bm");
    sprite(a, 0, 65536);
    sprite(b, 0, 65536);
    sprite(a, 0, 65536);
    EXPECT_EQ(row_width(100), 16);
    EXPECT_EQ(res_check(), 1);
}

// fatal_error prints on standard output; death tests read standard error,
// so the message is echoed there too.
void echo_to_stderr(const char *message) { std::fprintf(stderr, "Fatal error: %s", message); }

class SpriteFaceDeathTest : public SpriteFaceTest {
protected:
    void SetUp() override {
        SpriteFaceTest::SetUp();
        fatal_set_hook(echo_to_stderr);
    }
    void TearDown() override {
        fatal_set_hook(nullptr);
        SpriteFaceTest::TearDown();
    }
};

TEST_F(SpriteFaceDeathTest, BitmapLargerThanItsFileEndsTheProgram) {
    write_file("short.bm", bitmap(16, 16, 255));
    ResourceId id = res_register("short.bm");
    EXPECT_EXIT(sprite(id, 0, 65536), ::testing::ExitedWithCode(1),
                "Fatal error: Sprite: bitmap [0-9]+ is 16x16");
}

TEST_F(SpriteFaceDeathTest, BadBitmapSizesEndTheProgram) {
    write_file("zero.bm", bitmap(0, 16, 64));
    write_file("neg.bm", bitmap(-4, -4, 64));
    write_file("wide.bm", bitmap(32768, 1, 64));
    write_file("huge.bm", bitmap(65536, 65536, 64));
    write_file("tiny.bm", std::vector<uint8_t>{1, 0, 0, 0});
    for (const char *name : {"zero.bm", "neg.bm", "wide.bm", "huge.bm"}) {
        ResourceId id = res_register(name);
        EXPECT_EXIT(sprite(id, 0, 65536), ::testing::ExitedWithCode(1),
                    "Fatal error: Sprite: bitmap [0-9]+ is")
            << name;
    }
    ResourceId id = res_register("tiny.bm");
    EXPECT_EXIT(sprite(id, 0, 65536), ::testing::ExitedWithCode(1),
                "Fatal error: Sprite: bitmap [0-9]+ has 4 bytes");
}

}  // namespace
