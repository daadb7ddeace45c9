// The frame pipeline: sphere visibility, back faces, clipping at the near
// plane, listing, picking, whole frames against checked-in pictures, and no
// allocation per frame.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "frame/fatal.h"
#include "platform/video.h"
#include "render/camera.h"
#include "render/drawlist.h"
#include "render/fixed.h"
#include "render/poly.h"
#include "render/render.h"
#include "render/transform.h"
#include "res/res.h"
#include "scene/mesh.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#pragma GCC diagnostic ignored "-Wpedantic"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-function"
#define STBI_ONLY_PNG
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

// Counting allocations: malloc is replaced only where no sanitizer replaces
// it already.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define POLYDRIVE_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define POLYDRIVE_ASAN 1
#endif

#ifndef POLYDRIVE_ASAN
extern "C" void *__libc_malloc(size_t);
extern "C" void *__libc_calloc(size_t, size_t);
extern "C" void *__libc_realloc(void *, size_t);
namespace {
long allocation_calls = 0;
}
extern "C" void *malloc(size_t n) noexcept {
    allocation_calls++;
    return __libc_malloc(n);
}
extern "C" void *calloc(size_t n, size_t m) noexcept {
    allocation_calls++;
    return __libc_calloc(n, m);
}
extern "C" void *realloc(void *p, size_t n) noexcept {
    allocation_calls++;
    return __libc_realloc(p, n);
}
#endif

namespace {

// ---------------------------------------------------------------------------
// Scenes built by hand: a camera at the origin looking along +z with an exact
// identity view, and meshes whose camera coordinates are their model
// coordinates plus their position.

Camera plain_camera() {
    Camera c{};
    c.focal_length = 300;
    c.raster = RasterState{0, 0, 319, 199, 160, 100, 0, 0};
    c.half_width = 160;
    c.half_height = 100;
    c.slope_x_min = -136;
    c.slope_x_max = 135;
    c.slope_y_min = -85;
    c.slope_y_max = 84;
    c.light_z = -256;
    c.ambient = 64;
    transform_set_rotation(&c.view, 0, 0, 0);
    transform_set_translation(&c.view, 0, 0, 0);
    return c;
}

struct HandMesh {
    Mesh mesh{};
    std::vector<Vertex> vertices;
    std::vector<Face> faces;
};

struct Tri {
    int32_t a, b, c;
    uint32_t flags = 0x1FF;   // ramp 1, reflectivity 255
};

// Faces face the camera (normal (0, 0, -256)) unless the test says otherwise.
std::unique_ptr<HandMesh> hand_mesh(const std::vector<std::array<int32_t, 3>> &points, int spare,
                                    const std::vector<Tri> &tris, int32_t z = 0,
                                    int32_t radius = 100000) {
    auto h = std::make_unique<HandMesh>();
    h->vertices.resize(points.size() + static_cast<size_t>(spare));
    for (size_t i = 0; i < points.size(); i++) {
        h->vertices[i].x = points[i][0];
        h->vertices[i].y = points[i][1];
        h->vertices[i].z = points[i][2];
    }
    h->faces.resize(tris.size());
    for (size_t i = 0; i < tris.size(); i++) {
        Face &f = h->faces[i];
        f.flags = tris[i].flags;
        f.corner_count = (f.flags & FACE_SPRITE) ? 1 : 3;
        f.index[0] = tris[i].a;
        f.index[1] = tris[i].b;
        f.index[2] = tris[i].c;
        f.nz = (f.flags & FACE_SPRITE) ? 0 : -256;
        f.mesh = &h->mesh;
        f.next = i + 1 < tris.size() ? &h->faces[i + 1] : nullptr;
    }
    Mesh &m = h->mesh;
    m.vertices = h->vertices.data();
    m.vertex_count = static_cast<int32_t>(points.size());
    m.vertex_capacity = static_cast<int32_t>(h->vertices.size());
    m.faces = h->faces.data();
    m.radius = radius;
    m.z = z;
    transform_set_rotation(&m.transform, 0, 0, 0);
    transform_set_translation(&m.transform, 0, 0, z);
    return h;
}

void link(Camera &c, std::initializer_list<HandMesh *> meshes) {
    Mesh **tail = &c.meshes;
    for (HandMesh *h : meshes) {
        *tail = &h->mesh;
        tail = &h->mesh.next;
    }
    *tail = nullptr;
}

class PipelineTest : public ::testing::Test {
protected:
    void SetUp() override {
        drawlist_init(100);
        gfx_init(0);
        std::memset(BackBuffer, 0, SCREEN_SIZE);
        cam = plain_camera();
    }
    void TearDown() override {
        gfx_shutdown();
        drawlist_free();
    }
    // Starts a frame's state without rendering, for the visibility test.
    void begin_frame() {
        RenderState *rs = render_state();
        rs->camera = cam;
        rs->view = cam.view;
        transform_rotate_translation(&rs->view);
    }
    static const DrawList &list() { return render_state()->list; }

    Camera cam;
};

// ---------------------------------------------------------------------------
// Sphere visibility.

using MeshVisibility = PipelineTest;

int visible_at(int32_t x, int32_t y, int32_t z, int32_t r, uint32_t first_flags = 0) {
    Face f{};
    f.flags = first_flags;
    Mesh m{};
    m.faces = &f;
    m.x = x;
    m.y = y;
    m.z = z;
    m.radius = r;
    return mesh_visible(&m);
}

TEST_F(MeshVisibility, SphereJustReachingTheNearPlanePasses) {
    begin_frame();
    EXPECT_EQ(visible_at(0, 0, 246, 10), 1);
    EXPECT_EQ(visible_at(0, 0, 245, 10), 0);
}

TEST_F(MeshVisibility, DistanceLimitGrowsWithTheRadius) {
    begin_frame();
    EXPECT_EQ(visible_at(0, 0, 1024, 1), 1);
    EXPECT_EQ(visible_at(0, 0, 1025, 1), 0);
    EXPECT_EQ(visible_at(0, 0, 1537, 2), 1);
    EXPECT_EQ(visible_at(0, 0, 1538, 2), 0);
}

// At z 1000 the sides lie at x -532 and 527, y -333 and 328; the sphere
// counts with twice its radius (20).
TEST_F(MeshVisibility, FourSidesWithTwiceTheRadius) {
    begin_frame();
    EXPECT_EQ(visible_at(-552, 0, 1000, 10), 1);
    EXPECT_EQ(visible_at(-553, 0, 1000, 10), 0);
    EXPECT_EQ(visible_at(547, 0, 1000, 10), 1);
    EXPECT_EQ(visible_at(548, 0, 1000, 10), 0);
    EXPECT_EQ(visible_at(0, -353, 1000, 10), 1);
    EXPECT_EQ(visible_at(0, -354, 1000, 10), 0);
    EXPECT_EQ(visible_at(0, 348, 1000, 10), 1);
    EXPECT_EQ(visible_at(0, 349, 1000, 10), 0);
}

TEST_F(MeshVisibility, SpriteMeshesSkipDistanceAndSides) {
    begin_frame();
    EXPECT_EQ(visible_at(100000, 0, 1000000, 0, FACE_SPRITE), 1);
    EXPECT_EQ(visible_at(0, 0, 255, 0, FACE_SPRITE), 0);
}

TEST_F(MeshVisibility, ViewCentreIsTheRotatedCentre) {
    cam.x = 100;
    transform_set_translation(&cam.view, -100, 0, 0);
    begin_frame();
    Face f{};
    Mesh m{};
    m.faces = &f;
    m.x = 50;
    m.centre[1] = 30;
    m.z = 2000;
    m.radius = 10;
    mesh_visible(&m);
    EXPECT_EQ(m.view_centre[0], -50);
    EXPECT_EQ(m.view_centre[1], 30);
    EXPECT_EQ(m.view_centre[2], 2000);
}

// Coordinates anywhere in the 32-bit range: sums wrap instead of overflowing.
TEST_F(MeshVisibility, ExtremeCoordinatesAreHandled) {
    begin_frame();
    for (int32_t v : {INT32_MIN, INT32_MAX, -1, 0}) {
        visible_at(v, v, v, INT32_MAX);
        visible_at(v, -(v / 2), INT32_MAX, v == INT32_MIN ? 0 : (v < 0 ? -v : v));
    }
    SUCCEED();
}

// ---------------------------------------------------------------------------
// Back faces and the frame's bookkeeping.

using FramePipeline = PipelineTest;

// Normal (256, 0, 0); the eye at the origin, so the test's dot product is
// the x of the face's first corner.
TEST_F(FramePipeline, EdgeOnFaceIsKeptAndDotOneIsCulled) {
    for (int32_t x0 : {0, 1}) {
        auto h = hand_mesh({{x0, 0, 0}, {0, 100, 100}, {0, -100, 100}}, 0, {{0, 1, 2}}, 1000);
        h->faces[0].nx = 256;
        h->faces[0].nz = 0;
        link(cam, {h.get()});
        render_frame(&cam, 0);
        EXPECT_EQ(list().count, x0 == 0 ? 1 : 0) << "dot " << x0;
    }
}

TEST_F(FramePipeline, EmptySceneReturnsNullAndKeepsTheInitialFlags) {
    cam.raster.pick_hit = 1;
    cam.raster.drawn = 1;
    auto behind = hand_mesh({{0, 0, 0}, {10, 0, 0}, {0, 10, 0}}, 0, {{0, 1, 2}}, -5000, 100);
    link(cam, {behind.get()});
    EXPECT_EQ(render_frame(&cam, 1), nullptr);
    EXPECT_EQ(raster_state()->pick_hit, 1);
    EXPECT_EQ(raster_state()->drawn, 1);
    for (int i = 0; i < SCREEN_SIZE; i++) ASSERT_EQ(BackBuffer[i], 0);
}

TEST_F(FramePipeline, FirstFrameAfterInitUsesStampOne) {
    link(cam, {});
    render_frame(&cam, 1);
    EXPECT_EQ(render_state()->frame_stamp, 1);
    render_frame(&cam, 1);
    EXPECT_EQ(render_state()->frame_stamp, 2);
}

// A triangle and its copy at the same depth in a second mesh, and a second
// face in the first mesh: equal keys are drawn in listing order.
TEST_F(FramePipeline, EqualKeysStayInListingOrder) {
    std::vector<std::array<int32_t, 3>> pts = {{-100, -100, 0}, {100, -100, 0}, {0, 100, 0}};
    auto a = hand_mesh(pts, 0, {{0, 1, 2}, {0, 1, 2}}, 2000);
    auto b = hand_mesh(pts, 0, {{0, 1, 2}}, 2000);
    auto far = hand_mesh(pts, 0, {{0, 1, 2}}, 3000);
    link(cam, {a.get(), b.get(), far.get()});
    render_frame(&cam, 1);
    ASSERT_EQ(list().count, 4);
    EXPECT_EQ(list().items[0].face, &far->faces[0]);
    EXPECT_EQ(list().items[1].face, &a->faces[0]);
    EXPECT_EQ(list().items[2].face, &a->faces[1]);
    EXPECT_EQ(list().items[3].face, &b->faces[0]);
    EXPECT_EQ(list().items[1].key, 2000);
}

TEST_F(FramePipeline, SpriteIsListedAtItsCentreDepth) {
    auto s = hand_mesh({{999, 999, 999}}, 0, {{0, 0, 0, FACE_SPRITE | 5u}}, 5000, 0);
    link(cam, {s.get()});
    render_frame(&cam, 0);   // pick only: the bitmap is not needed
    ASSERT_EQ(list().count, 1);
    EXPECT_EQ(list().items[0].key, 5000);
    EXPECT_EQ(s->vertices[0].cz, 5000);
    EXPECT_EQ(s->faces[0].clip_count, 1);
    EXPECT_EQ(s->mesh.drawn, 1);
}

TEST_F(FramePipeline, StraySpriteFaceInAPolygonMeshIsNeverListed) {
    auto h = hand_mesh({{-100, -100, 0}, {100, -100, 0}, {0, 100, 0}}, 0,
                       {{0, 1, 2}, {2, 0, 0, FACE_SPRITE | 3u}}, 1000);
    link(cam, {h.get()});
    render_frame(&cam, 1);
    ASSERT_EQ(list().count, 1);
    EXPECT_EQ(list().items[0].face, &h->faces[0]);
}

// A face whose corners all land off the screen is listed but reaches
// nothing: its mark is cleared and the iterator skips its mesh.
TEST_F(FramePipeline, DrawnMeshesComeOutNearestFirstOnce) {
    std::vector<std::array<int32_t, 3>> pts = {{-100, -100, 0}, {100, -100, 0}, {0, 100, 0}};
    auto far = hand_mesh(pts, 0, {{0, 1, 2}}, 3000);
    auto near = hand_mesh(pts, 0, {{0, 1, 2}, {0, 1, 2}}, 1000);
    auto off = hand_mesh({{5000, 0, 0}, {5100, 0, 0}, {5000, 100, 0}}, 0, {{0, 1, 2}}, 2000);
    link(cam, {far.get(), off.get(), near.get()});
    render_frame(&cam, 1);
    EXPECT_EQ(off->faces[0].mark, 0);
    EXPECT_EQ(near->faces[0].mark, 1);
    EXPECT_EQ(drawlist_next_drawn_mesh(), &near->mesh);
    EXPECT_EQ(drawlist_next_drawn_mesh(), &far->mesh);
    EXPECT_EQ(drawlist_next_drawn_mesh(), nullptr);
}

// ---------------------------------------------------------------------------
// Picking.

class Picking : public PipelineTest {
protected:
    // Two overlapping triangles around the screen centre, the near one
    // smaller; the pick point decides which one is reported.
    void SetUp() override {
        PipelineTest::SetUp();
        far = hand_mesh({{-1000, -1000, 0}, {1000, -1000, 0}, {0, 1000, 0}}, 0, {{0, 1, 2}}, 3000);
        near = hand_mesh({{-100, -100, 0}, {100, -100, 0}, {0, 100, 0}}, 0, {{0, 1, 2}}, 1000);
        link(cam, {near.get(), far.get()});
    }
    std::unique_ptr<HandMesh> far, near;
};

TEST_F(Picking, PickOnlyModeWritesNothingAndFindsTheNearestCover) {
    std::memset(BackBuffer, 0x55, SCREEN_SIZE);
    cam.raster.pick_x = 160;
    cam.raster.pick_y = 100;
    EXPECT_EQ(render_frame(&cam, 0), &near->mesh);
    cam.raster.pick_x = 160;
    cam.raster.pick_y = 190;   // below the near triangle, inside the far one
    EXPECT_EQ(render_frame(&cam, 0), &far->mesh);
    cam.raster.pick_x = 5;
    cam.raster.pick_y = 5;
    EXPECT_EQ(render_frame(&cam, 0), nullptr);
    for (int i = 0; i < SCREEN_SIZE; i++) ASSERT_EQ(BackBuffer[i], 0x55) << "byte " << i;
}

TEST_F(Picking, DrawModeReportsThePickToo) {
    cam.raster.pick_x = 160;
    cam.raster.pick_y = 100;
    EXPECT_EQ(render_frame(&cam, 1), &near->mesh);
    EXPECT_NE(BackBuffer[100 * SCREEN_WIDTH + 160], 0);
}

// ---------------------------------------------------------------------------
// Near-plane clipping: every pattern of a triangle's corners in front (z
// 1000) and behind (z 100). Clip vertices fill the spare slots from index 3.

struct ClipRow {
    bool front[3];
    int32_t count;
    std::vector<int32_t> slots;                 // clip_index written
    std::vector<std::pair<int, int>> edges;     // edge of each clip vertex
};

class NearPlaneClip : public PipelineTest, public ::testing::WithParamInterface<ClipRow> {};

TEST_P(NearPlaneClip, WritesTheSlotsOfItsRow) {
    const ClipRow &row = GetParam();
    std::vector<std::array<int32_t, 3>> pts = {{-300, -200, 0}, {300, -200, 0}, {0, 300, 0}};
    for (int i = 0; i < 3; i++) pts[i][2] = row.front[i] ? 1000 : 100;
    auto h = hand_mesh(pts, 2, {{0, 1, 2, FACE_SMOOTH | 0x1FFu}});
    for (int i = 0; i < 3; i++) h->vertices[i].nx = 10 * (i + 1);
    link(cam, {h.get()});
    render_frame(&cam, 1);
    const Face &f = h->faces[0];
    EXPECT_EQ(h->mesh.vertex_count, 3);   // restored
    if (row.count < 3) {
        EXPECT_EQ(list().count, 0);
        return;
    }
    ASSERT_EQ(list().count, 1);
    EXPECT_EQ(list().items[0].key, row.front[0] || row.front[1] || row.front[2] ? 1000 : 100);
    EXPECT_EQ(f.clip_count, row.count);
    for (size_t s = 0; s < row.slots.size(); s++) EXPECT_EQ(f.clip_index[s], row.slots[s]) << "slot " << s;
    for (size_t k = 0; k < row.edges.size(); k++) {
        const Vertex &x = h->vertices[3 + k];
        const Vertex &s = h->vertices[static_cast<size_t>(row.edges[k].first)];
        const Vertex &e = h->vertices[static_cast<size_t>(row.edges[k].second)];
        int32_t ex, ey;
        near_plane_intersect(s.x, s.y, s.z, e.x, e.y, e.z, &ex, &ey, 256);
        EXPECT_EQ(x.cz, 256);
        EXPECT_EQ(x.cx, ex) << "clip vertex " << k;
        EXPECT_EQ(x.cy, ey) << "clip vertex " << k;
        // A smooth face's clip vertex has its edge's start vertex's normal.
        EXPECT_EQ(x.nx, s.nx) << "clip vertex " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryPattern, NearPlaneClip,
    ::testing::Values(ClipRow{{true, true, true}, 4, {0, 1, 2, 0}, {}},
                      ClipRow{{true, false, true}, 4, {0, 3, 4, 2, 0}, {{0, 1}, {1, 2}}},
                      ClipRow{{true, true, false}, 4, {0, 1, 3, 4, 0}, {{1, 2}, {2, 0}}},
                      ClipRow{{false, true, true}, 4, {3, 1, 2, 4}, {{0, 1}, {2, 0}}},
                      ClipRow{{true, false, false}, 3, {0, 3, 4, 0}, {{0, 1}, {2, 0}}},
                      ClipRow{{false, true, false}, 3, {3, 1, 4}, {{0, 1}, {1, 2}}},
                      ClipRow{{false, false, true}, 3, {3, 2, 4}, {{1, 2}, {2, 0}}},
                      ClipRow{{false, false, false}, 1, {}, {}}));

TEST_F(FramePipeline, DepthTwoFiftySixIsInFrontAndTwoFiftyFiveBehind) {
    auto at256 = hand_mesh({{-300, -200, 256}, {300, -200, 256}, {0, 300, 256}}, 0, {{0, 1, 2}});
    link(cam, {at256.get()});
    render_frame(&cam, 1);
    ASSERT_EQ(list().count, 1);
    EXPECT_EQ(at256->faces[0].clip_count, 4);   // no clip vertex needed

    auto at255 = hand_mesh({{-300, -200, 255}, {300, -200, 255}, {0, 300, 255}}, 0, {{0, 1, 2}});
    link(cam, {at255.get()});
    render_frame(&cam, 1);
    EXPECT_EQ(list().count, 0);
}

// Level files can put anything anywhere: random scenes mixing small and
// extreme coordinates must render without undefined arithmetic or a write
// outside the screen (the sanitizer build checks both).
TEST_F(FramePipeline, HostileCoordinatesRenderSafely) {
    uint32_t s = 12345;
    auto rnd = [&s]() {
        s = s * 1664525u + 1013904223u;
        return s;
    };
    // Mostly near the eye, so that faces get listed, clipped and drawn;
    // otherwise anything, or at the ends of the range.
    auto coord = [&rnd]() {
        switch (rnd() >> 29) {
            case 0: return static_cast<int32_t>(rnd());
            case 1: return INT32_MIN + static_cast<int32_t>(rnd() >> 28);
            case 2: return INT32_MAX - static_cast<int32_t>(rnd() >> 28);
            default: return static_cast<int32_t>(rnd() >> 19) - 4096;
        }
    };
    int listed = 0;
    for (int frame = 0; frame < 300; frame++) {
        std::vector<std::array<int32_t, 3>> pts;
        std::vector<Tri> tris;
        for (int i = 0; i < 9; i++) pts.push_back({coord(), coord(), coord()});
        for (int i = 0; i < 8; i++) {
            tris.push_back(Tri{static_cast<int32_t>(rnd() % 9), static_cast<int32_t>(rnd() % 9),
                               static_cast<int32_t>(rnd() % 9), (rnd() & 0x20000FFFu)});
        }
        // The sphere test lets most meshes through, to reach the later stages.
        bool wild = (rnd() >> 29) == 0;
        auto h = hand_mesh(pts, 16, tris, wild ? coord() : 0, wild ? coord() : 1 << 28);
        for (Face &f : h->faces) {
            f.nx = static_cast<int32_t>(rnd() % 513) - 256;
            f.ny = static_cast<int32_t>(rnd() % 513) - 256;
            f.nz = static_cast<int32_t>(rnd() % 513) - 256;
        }
        for (Vertex &v : h->vertices) v.nx = v.ny = v.nz = static_cast<int32_t>(rnd() % 513) - 256;
        transform_set_rotation(&h->mesh.transform, static_cast<int32_t>(rnd() % 1440),
                               static_cast<int32_t>(rnd() % 1440), static_cast<int32_t>(rnd() % 1440));
        h->mesh.x = wild ? coord() : 0;
        h->mesh.centre[1] = wild ? coord() : 0;
        transform_set_rotation(&cam.view, static_cast<int32_t>(rnd() % 1440),
                               static_cast<int32_t>(rnd() % 1440), static_cast<int32_t>(rnd() % 1440));
        transform_set_translation(&cam.view, 0, 0, 0);
        if (rnd() & 1) transform_set_translation(&cam.view, coord(), coord(), coord());
        cam.light_x = coord();
        cam.ambient = coord();
        link(cam, {h.get()});
        render_frame(&cam, frame % 3 != 0);
        ASSERT_LE(list().count, 8);
        listed += list().count;
    }
    EXPECT_GT(listed, 200);   // the scenes do reach the drawing stage
}

// ---------------------------------------------------------------------------
// Limits.

// fatal_error prints on standard output; death tests read standard error,
// so the message is echoed there too.
void echo_to_stderr(const char *message) { std::fprintf(stderr, "Fatal error: %s", message); }

class FramePipelineDeathTest : public PipelineTest {
protected:
    void SetUp() override {
        PipelineTest::SetUp();
        fatal_set_hook(echo_to_stderr);
    }
    void TearDown() override {
        fatal_set_hook(nullptr);
        PipelineTest::TearDown();
    }
};

TEST_F(FramePipelineDeathTest, HundredAndFirstFaceEndsTheProgram) {
    std::vector<Tri> tris(100, Tri{0, 1, 2});
    auto h = hand_mesh({{-100, -100, 0}, {100, -100, 0}, {0, 100, 0}}, 0, tris, 1000);
    link(cam, {h.get()});
    render_frame(&cam, 1);
    EXPECT_EQ(list().count, 100);
    auto one_more = hand_mesh({{-100, -100, 0}, {100, -100, 0}, {0, 100, 0}}, 0, {{0, 1, 2}}, 1000);
    link(cam, {h.get(), one_more.get()});
    EXPECT_EXIT(render_frame(&cam, 1), ::testing::ExitedWithCode(1),
                "Fatal error: Transform: too many ptrs");
}

TEST_F(FramePipelineDeathTest, ClipVertexWithoutASpareSlotEndsTheProgram) {
    auto h = hand_mesh({{-300, -200, 1000}, {300, -200, 100}, {0, 300, 1000}}, 1, {{0, 1, 2}});
    link(cam, {h.get()});
    EXPECT_EXIT(render_frame(&cam, 1), ::testing::ExitedWithCode(1),
                "Fatal error: Transform: too many vertices");
}

// ---------------------------------------------------------------------------
// Whole frames built with the real meshes and camera, compared byte for byte
// with paletted PNGs under tests/golden/. POLYDRIVE_UPDATE_GOLDEN=1 writes
// them instead (look at them before committing).

namespace png {

uint32_t crc(const uint8_t *p, size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; i++) {
        c ^= p[i];
        for (int k = 0; k < 8; k++) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return c ^ 0xFFFFFFFFu;
}

void put32(std::vector<uint8_t> &out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
}

uint32_t get32(const uint8_t *p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

void chunk(std::vector<uint8_t> &out, const char *type, const uint8_t *data, size_t n) {
    put32(out, static_cast<uint32_t>(n));
    size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data, data + n);
    put32(out, crc(out.data() + start, n + 4));
}

const uint8_t SIGNATURE[8] = {137, 80, 78, 71, 13, 10, 26, 10};

// A 320x200 frame as an 8-bit paletted PNG with the default palette.
bool write(const std::string &path, const uint8_t *frame) {
    std::vector<uint8_t> raw;
    for (int y = 0; y < SCREEN_HEIGHT; y++) {
        raw.push_back(0);
        raw.insert(raw.end(), frame + y * SCREEN_WIDTH, frame + (y + 1) * SCREEN_WIDTH);
    }
    int zlen = 0;
    unsigned char *z = stbi_zlib_compress(raw.data(), static_cast<int>(raw.size()), &zlen, 8);
    std::vector<uint8_t> out(SIGNATURE, SIGNATURE + 8);
    std::vector<uint8_t> ihdr;
    put32(ihdr, SCREEN_WIDTH);
    put32(ihdr, SCREEN_HEIGHT);
    ihdr.insert(ihdr.end(), {8, 3, 0, 0, 0});
    chunk(out, "IHDR", ihdr.data(), ihdr.size());
    uint8_t plte[768];
    const Palette *pal = palette_default();
    for (int i = 0; i < 768; i++) plte[i] = static_cast<uint8_t>(pal->rgb[i] << 2 | pal->rgb[i] >> 4);
    chunk(out, "PLTE", plte, sizeof plte);
    chunk(out, "IDAT", z, static_cast<size_t>(zlen));
    chunk(out, "IEND", nullptr, 0);
    std::free(z);
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    return std::fclose(f) == 0 && ok;
}

uint8_t paeth(int a, int b, int c) {
    int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// Reads back an 8-bit one-channel 320x200 PNG (any row filter); the palette
// indices are the pixels. Returns an error text, empty on success.
std::string read(const std::string &path, std::vector<uint8_t> &frame) {
    FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return "cannot open " + path;
    std::vector<uint8_t> file;
    uint8_t buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) file.insert(file.end(), buf, buf + n);
    std::fclose(f);
    if (file.size() < 8 || std::memcmp(file.data(), SIGNATURE, 8) != 0) return "not a PNG";
    std::vector<uint8_t> idat;
    bool header_ok = false;
    for (size_t pos = 8; pos + 12 <= file.size();) {
        uint32_t len = get32(&file[pos]);
        if (len > file.size() - pos - 12) return "truncated chunk";
        const uint8_t *type = &file[pos + 4];
        const uint8_t *data = &file[pos + 8];
        if (std::memcmp(type, "IHDR", 4) == 0 && len >= 13) {
            header_ok = get32(data) == SCREEN_WIDTH && get32(data + 4) == SCREEN_HEIGHT &&
                        data[8] == 8 && (data[9] == 3 || data[9] == 0) && data[12] == 0;
        } else if (std::memcmp(type, "IDAT", 4) == 0) {
            idat.insert(idat.end(), data, data + len);
        }
        pos += 12 + len;
    }
    if (!header_ok) return "not an 8-bit 320x200 paletted PNG";
    int outlen = 0;
    char *raw = stbi_zlib_decode_malloc(reinterpret_cast<const char *>(idat.data()),
                                        static_cast<int>(idat.size()), &outlen);
    const int stride = SCREEN_WIDTH + 1;
    if (raw == nullptr || outlen != stride * SCREEN_HEIGHT) {
        std::free(raw);
        return "bad image data";
    }
    frame.assign(SCREEN_SIZE, 0);
    for (int y = 0; y < SCREEN_HEIGHT; y++) {
        const uint8_t *in = reinterpret_cast<uint8_t *>(raw) + y * stride;
        uint8_t *row = &frame[static_cast<size_t>(y) * SCREEN_WIDTH];
        const uint8_t *up = y > 0 ? row - SCREEN_WIDTH : nullptr;
        for (int x = 0; x < SCREEN_WIDTH; x++) {
            int a = x > 0 ? row[x - 1] : 0, b = up ? up[x] : 0, c = (x > 0 && up) ? up[x - 1] : 0;
            int p = in[1 + x];
            switch (in[0]) {
                case 0: break;
                case 1: p += a; break;
                case 2: p += b; break;
                case 3: p += (a + b) / 2; break;
                case 4: p += paeth(a, b, c); break;
                default: std::free(raw); return "bad row filter";
            }
            row[x] = static_cast<uint8_t>(p);
        }
    }
    std::free(raw);
    return "";
}

}  // namespace png

void expect_golden(const std::string &name) {
    std::string path = std::string(POLYDRIVE_SOURCE_DIR) + "/tests/golden/" + name + ".png";
    const char *update = std::getenv("POLYDRIVE_UPDATE_GOLDEN");
    if (update != nullptr && std::strcmp(update, "1") == 0) {
        ASSERT_TRUE(png::write(path, BackBuffer)) << path;
        return;
    }
    std::vector<uint8_t> expected;
    std::string error = png::read(path, expected);
    ASSERT_EQ(error, "") << path;
    int differ = 0, first = -1;
    for (int i = 0; i < SCREEN_SIZE; i++) {
        if (BackBuffer[i] != expected[static_cast<size_t>(i)]) {
            if (first < 0) first = i;
            differ++;
        }
    }
    if (differ != 0) {
        std::string out = ::testing::TempDir() + "polydrive_" + name;
        png::write(out + "_actual.png", BackBuffer);
        png::write(out + "_expected.png", expected.data());
        ADD_FAILURE() << name << ": " << differ << " pixels differ, first at (" << first % SCREEN_WIDTH
                      << ", " << first / SCREEN_WIDTH << "); see " << out << "_actual.png and "
                      << out << "_expected.png";
    }
}

// Adds triangle a, b, c turned so that its normal points away from `inside`
// (model coordinates).
void add_facing_out(Mesh *m, uint32_t flags, int32_t a, int32_t b, int32_t c, int smooth,
                    const std::array<int64_t, 3> &inside) {
    const Vertex &p = m->vertices[a], &q = m->vertices[b], &r = m->vertices[c];
    int64_t e1[3] = {int64_t{q.x} - p.x, int64_t{q.y} - p.y, int64_t{q.z} - p.z};
    int64_t e2[3] = {int64_t{r.x} - p.x, int64_t{r.y} - p.y, int64_t{r.z} - p.z};
    int64_t n[3] = {e1[1] * e2[2] - e2[1] * e1[2], e1[2] * e2[0] - e1[0] * e2[2],
                    e1[0] * e2[1] - e2[0] * e1[1]};
    int64_t d = 0;
    const int64_t centroid[3] = {(int64_t{p.x} + q.x + r.x) / 3, (int64_t{p.y} + q.y + r.y) / 3,
                                 (int64_t{p.z} + q.z + r.z) / 3};
    for (int k = 0; k < 3; k++) d += n[k] / 1024 * (centroid[k] - inside[k]);
    int32_t corners[3] = {a, b, c};
    if (d < 0) std::swap(corners[1], corners[2]);
    mesh_add_face(m, flags, corners, smooth);
}

Mesh *cube_mesh(int32_t s) {
    std::vector<int32_t> pos;
    for (int i = 0; i < 8; i++) {
        pos.push_back(i & 1 ? s : -s);
        pos.push_back(i & 2 ? s : -s);
        pos.push_back(i & 4 ? s : -s);
    }
    Mesh *m = mesh_create(nullptr, 8, 0, pos.data());
    // Each side as two triangles: side k has a fixed axis bit and value.
    const int quads[6][4] = {{0, 1, 3, 2}, {4, 5, 7, 6}, {0, 1, 5, 4},
                             {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 3, 7, 5}};
    for (int k = 0; k < 6; k++) {
        uint32_t flags = static_cast<uint32_t>(k) << 8 | 0xD0u;
        add_facing_out(m, flags, quads[k][0], quads[k][1], quads[k][2], 0, {0, 0, 0});
        add_facing_out(m, flags, quads[k][0], quads[k][2], quads[k][3], 0, {0, 0, 0});
    }
    mesh_finish(m);
    return m;
}

// A ball of 8 meridians and 4 parallels plus the poles, from the trig tables.
Mesh *ball_mesh(int32_t radius, uint32_t flags) {
    std::vector<int32_t> pos;
    for (int ring = 1; ring <= 4; ring++) {
        int32_t lat = -360 + ring * 144;
        int32_t r = fixed_mul(radius, fixed_cos(lat));
        int32_t y = fixed_mul(radius, fixed_sin(lat));
        for (int k = 0; k < 8; k++) {
            pos.push_back(fixed_mul(r, fixed_cos(k * 180)));
            pos.push_back(y);
            pos.push_back(fixed_mul(r, fixed_sin(k * 180)));
        }
    }
    pos.insert(pos.end(), {0, -radius, 0, 0, radius, 0});
    const int32_t bottom = 32, top = 33;
    Mesh *m = mesh_create(nullptr, 34, 0, pos.data());
    for (int k = 0; k < 8; k++) {
        int32_t k1 = (k + 1) % 8;
        add_facing_out(m, flags, bottom, k, k1, 1, {0, 0, 0});
        for (int ring = 0; ring < 3; ring++) {
            int32_t a = ring * 8 + k, b = ring * 8 + k1, c = a + 8, d = b + 8;
            add_facing_out(m, flags, a, b, d, 1, {0, 0, 0});
            add_facing_out(m, flags, a, d, c, 1, {0, 0, 0});
        }
        add_facing_out(m, flags, top, 24 + k, 24 + k1, 1, {0, 0, 0});
    }
    mesh_finish(m);
    return m;
}

class GoldenFrame : public ::testing::Test {
protected:
    void SetUp() override {
        drawlist_init(100);
        gfx_init(0);
        cam = camera_create(300, 0, 0, 319, 199);
        camera_set_light(cam, 0, 0, -256, 64);
    }
    void TearDown() override {
        for (Mesh *m : meshes) mesh_free(m);
        cam->meshes = nullptr;
        camera_free(cam);
        gfx_shutdown();
        drawlist_free();
    }
    Mesh *add(Mesh *m, int32_t x, int32_t y, int32_t z, int32_t ax, int32_t ay, int32_t az) {
        mesh_set_position(m, x, y, z, 0);
        mesh_set_angles(m, ax, ay, az, 0);
        camera_add_mesh(cam, m);
        meshes.push_back(m);
        return m;
    }
    void render() {
        gfx_clear();
        render_frame(cam, 1);
    }
    Camera *cam = nullptr;
    std::vector<Mesh *> meshes;
};

TEST_F(GoldenFrame, FlatCube) {
    add(cube_mesh(512), 0, 0, 3000, 120, 200, 40);
    render();
    expect_golden("cube");
}

TEST_F(GoldenFrame, SmoothBallLitFromTheUpperLeft) {
    camera_set_light(cam, -100, 100, -200, 40);
    add(ball_mesh(700, 0x4FFu), -200, 0, 2600, 30, 50, 0);
    add(ball_mesh(300, 0x6C0u), 700, 300, 4000, 0, 0, 0);
    render();
    expect_golden("ball");
}

// A floor and a wall that reach behind the eye, both clipped at the near
// plane, seen from a camera turned a little to the right and down.
TEST_F(GoldenFrame, FacesCrossingTheNearPlane) {
    const int32_t floor[] = {-3000, 0, -2000, 3000, 0, -2000, 3000, 0, 9000, -3000, 0, 9000};
    Mesh *f = mesh_create(nullptr, 4, 4, floor);
    add_facing_out(f, 0x2C0u, 0, 1, 2, 0, {0, -1000, 0});
    add_facing_out(f, 0x2C0u, 0, 2, 3, 0, {0, -1000, 0});
    mesh_finish(f);
    add(f, 0, -400, 0, 0, 0, 0);
    const int32_t wall[] = {600, -400, -1500, 600, 1000, -1500, 1500, -400, 6000, 300, 1000, 6000};
    Mesh *w = mesh_create(nullptr, 4, 4, wall);
    add_facing_out(w, 0x5FFu, 0, 1, 2, 1, {5000, 300, 2000});
    add_facing_out(w, 0x5FFu, 1, 3, 2, 1, {5000, 300, 2000});
    mesh_finish(w);
    add(w, 0, 0, 0, 0, 0, 0);
    camera_set_angles(cam, 20, 40, 0, 0);
    camera_set_light(cam, -200, 100, -100, 40);
    render();
    expect_golden("near_plane");
}

class GoldenSpriteFrame : public GoldenFrame {
protected:
    std::string old_dir, dir;
    void SetUp() override {
        GoldenFrame::SetUp();
        char buf[4096];
        ASSERT_NE(getcwd(buf, sizeof buf), nullptr);
        old_dir = buf;
        char tmpl[] = "/tmp/polydrive_render_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        ASSERT_EQ(chdir(dir.c_str()), 0);
        ASSERT_EQ(mkdir("lib", 0755), 0);
        // A 16x16 disc: a ring of ramp 7 round a core of ramp 3, transparent
        // outside the ring.
        std::vector<uint8_t> bm(8 + 256);
        int32_t wh[2] = {16, 16};
        std::memcpy(bm.data(), wh, 8);
        for (int y = 0; y < 16; y++) {
            for (int x = 0; x < 16; x++) {
                int dx = 2 * x - 15, dy = 2 * y - 15, d2 = dx * dx + dy * dy;
                bm[8 + static_cast<size_t>(y * 16 + x)] =
                    d2 > 225 ? 255 : d2 > 100 ? 7 * 24 + 20 : 3 * 24 + 12 + x / 2;
            }
        }
        FILE *f = std::fopen("lib/disc.bm", "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(bm.data(), 1, bm.size(), f);
        std::fclose(f);
        res_init(10240);
        disc = res_register("disc.bm");
    }
    void TearDown() override {
        res_shutdown();
        GoldenFrame::TearDown();
        ASSERT_EQ(chdir(old_dir.c_str()), 0);
        ASSERT_EQ(std::system(("rm -rf " + dir).c_str()), 0);
    }
    Mesh *sprite(uint32_t exponent, int32_t x, int32_t y, int32_t z) {
        Mesh *m = mesh_create_sprite(nullptr, static_cast<uint32_t>(disc) | exponent << 16, 0, 0, 0);
        mesh_finish(m);
        return add(m, x, y, z, 0, 0, 0);
    }
    ResourceId disc = 0;
};

// Sprites at their own size (z 65536), doubled, and near, in front of and
// behind a flat triangle.
TEST_F(GoldenSpriteFrame, SpritesAmongPolygons) {
    sprite(0, -20000, 8000, 65536);
    sprite(1, 0, 0, 65536);
    sprite(0, 15500, -3000, 30000);    // cut by the right edge
    sprite(2, 26000, -4000, 120000);   // partly behind the triangle
    const int32_t tri[] = {-30000, -20000, 0, 30000, -20000, 0, 0, 25000, 0};
    Mesh *t = mesh_create(nullptr, 3, 0, tri);
    add_facing_out(t, 0x1FFu, 0, 1, 2, 0, {0, 0, 10000});
    mesh_finish(t);
    add(t, 0, 0, 90000, 0, 0, 0);
    render();
    expect_golden("sprites");
}

// ---------------------------------------------------------------------------
// No allocation per frame.

#ifndef POLYDRIVE_ASAN
TEST_F(GoldenSpriteFrame, FramesAllocateNothing) {
    sprite(0, -20000, 8000, 65536);
    sprite(1, 0, 0, 65536);
    add(ball_mesh(700, 0x4FFu), -200, 0, 2600, 30, 50, 0);
    const int32_t floor[] = {-3000, 0, -2000, 3000, 0, -2000, 3000, 0, 9000};
    Mesh *f = mesh_create(nullptr, 3, 2, floor);
    add_facing_out(f, 0x2C0u, 0, 1, 2, 0, {0, -1000, 0});
    mesh_finish(f);
    add(f, 0, -400, 0, 0, 0, 0);
    render();   // the first frame reads the bitmap file
    long before = allocation_calls;
    for (int i = 0; i < 500; i++) {
        camera_set_angles(cam, 0, 3, 0, 1);
        gfx_clear();
        render_frame(cam, i % 2);
        gfx_flip();
    }
    long during = allocation_calls - before;
    EXPECT_EQ(during, 0);
}
#endif

}  // namespace
