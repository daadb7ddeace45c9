// The frame pipeline: sphere visibility, back faces, near-plane clipping,
// listing, picking, sprites, whole frames against checked-in pictures, and
// no allocation per frame.
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
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#define STBI_ONLY_PNG
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

// Allocations are counted by replacing malloc, where no sanitizer owns it.
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
static long allocation_calls = 0;
extern "C" void *malloc(size_t n) noexcept { return allocation_calls++, __libc_malloc(n); }
extern "C" void *calloc(size_t n, size_t m) noexcept { return allocation_calls++, __libc_calloc(n, m); }
extern "C" void *realloc(void *p, size_t n) noexcept { return allocation_calls++, __libc_realloc(p, n); }
#endif

namespace {

using Points = std::vector<std::array<int32_t, 3>>;

// A camera at the origin looking along +z with an exact identity view, so
// that camera coordinates are model coordinates plus the mesh's position.
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

// Built by hand so that normals and radius are exactly the test's: every
// face faces the camera (normal (0, 0, -256)) unless the test changes it.
std::unique_ptr<HandMesh> hand_mesh(const Points &points, int spare, const std::vector<Tri> &tris,
                                    int32_t z = 0, int32_t radius = 100000) {
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
        bool sprite = (tris[i].flags & FACE_SPRITE) != 0;
        f = Face{tris[i].flags, sprite ? 1 : 3, {tris[i].a, tris[i].b, tris[i].c}, {}, 0, 0, 0,
                 sprite ? 0 : -256, 0, &h->mesh, i + 1 < tris.size() ? &h->faces[i + 1] : nullptr};
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

const Points TRIANGLE = {{-100, -100, 0}, {100, -100, 0}, {0, 100, 0}};

class PipelineTest : public ::testing::Test {
protected:
    void SetUp() override {
        drawlist_init(100);
        gfx_init(0);
        cam = plain_camera();
    }
    void TearDown() override {
        gfx_shutdown();
        drawlist_free();
    }
    void link(std::initializer_list<HandMesh *> meshes) {
        Mesh **tail = &cam.meshes;
        for (HandMesh *h : meshes) tail = &(*tail = &h->mesh)->next;
        *tail = nullptr;
    }
    static const DrawList &list() { return render_state()->list; }
    Camera cam;
};

// ---------------------------------------------------------------------------
// Sphere visibility, against the frame view of the plain camera.

class MeshVisibility : public PipelineTest {
protected:
    int visible(int32_t x, int32_t y, int32_t z, int32_t r, uint32_t flags = 0) {
        RenderState *rs = render_state();
        rs->camera = cam;
        rs->view = cam.view;
        Face f{};
        f.flags = flags;
        Mesh m{};
        m.faces = &f;
        m.x = x, m.y = y, m.z = z, m.radius = r;
        return mesh_visible(&m);
    }
};

TEST_F(MeshVisibility, NearPlaneAndDistanceLimits) {
    EXPECT_EQ(visible(0, 0, 246, 10), 1);   // cz + r = 256 just reaches it
    EXPECT_EQ(visible(0, 0, 245, 10), 0);
    EXPECT_EQ(visible(0, 0, 1024, 1), 1);
    EXPECT_EQ(visible(0, 0, 1025, 1), 0);
    EXPECT_EQ(visible(0, 0, 1537, 2), 1);
    EXPECT_EQ(visible(0, 0, 1538, 2), 0);
}

// At z 1000 the sides lie at x -532 and 527, y -333 and 328, and the sphere
// counts with twice its radius (20).
TEST_F(MeshVisibility, FourSidesWithTwiceTheRadius) {
    const int32_t edge[4][2] = {{-552, 0}, {547, 0}, {0, -353}, {0, 348}};
    for (const auto &e : edge) {
        int32_t ox = e[0] < 0 ? -1 : e[0] > 0, oy = e[1] < 0 ? -1 : e[1] > 0;
        EXPECT_EQ(visible(e[0], e[1], 1000, 10), 1) << e[0] << "," << e[1];
        EXPECT_EQ(visible(e[0] + ox, e[1] + oy, 1000, 10), 0) << e[0] << "," << e[1];
    }
}

TEST_F(MeshVisibility, SpritesOnlyTakeTheNearPlaneTest) {
    EXPECT_EQ(visible(100000, 0, 1000000, 0, FACE_SPRITE), 1);
    EXPECT_EQ(visible(0, 0, 255, 0, FACE_SPRITE), 0);
}

// ---------------------------------------------------------------------------
// Listing, the frame's bookkeeping and picking.

using FramePipeline = PipelineTest;

// Normal (256, 0, 0) with the eye at the origin: the back-face dot product
// is the x of the face's first corner.
TEST_F(FramePipeline, EdgeOnFaceIsKeptAndDotOneIsCulled) {
    for (int32_t x0 : {0, 1}) {
        auto h = hand_mesh({{x0, 0, 0}, {0, 100, 100}, {0, -100, 100}}, 0, {{0, 1, 2}}, 1000);
        h->faces[0].nx = 256;
        h->faces[0].nz = 0;
        link({h.get()});
        render_frame(&cam, 0);
        EXPECT_EQ(list().count, 1 - x0) << "dot " << x0;
    }
}

TEST_F(FramePipeline, EmptyFrameReturnsNullAndKeepsTheInitialFlags) {
    cam.raster.pick_hit = cam.raster.drawn = 1;
    std::memset(BackBuffer, 0, SCREEN_SIZE);
    auto behind = hand_mesh(TRIANGLE, 0, {{0, 1, 2}}, -5000, 100);
    link({behind.get()});
    EXPECT_EQ(render_frame(&cam, 1), nullptr);
    EXPECT_EQ(render_state()->frame_stamp, 1);   // the first frame after init
    EXPECT_EQ(raster_state()->pick_hit, 1);
    EXPECT_EQ(raster_state()->drawn, 1);
    for (int i = 0; i < SCREEN_SIZE; i++) ASSERT_EQ(BackBuffer[i], 0);
}

// Equal keys are drawn in listing order: mesh list order, then face order.
TEST_F(FramePipeline, EqualKeysStayInListingOrder) {
    auto a = hand_mesh(TRIANGLE, 0, {{0, 1, 2}, {0, 1, 2}}, 2000);
    auto b = hand_mesh(TRIANGLE, 0, {{0, 1, 2}}, 2000);
    auto far = hand_mesh(TRIANGLE, 0, {{0, 1, 2}}, 3000);
    link({a.get(), b.get(), far.get()});
    render_frame(&cam, 1);
    ASSERT_EQ(list().count, 4);
    const Face *expected[] = {&far->faces[0], &a->faces[0], &a->faces[1], &b->faces[0]};
    for (int i = 0; i < 4; i++) EXPECT_EQ(list().items[i].face, expected[i]) << i;
    EXPECT_EQ(list().items[1].key, 2000);
}

// The sprite's own vertex coordinates do not matter; its mesh centre does.
// A sprite face behind a polygon in the same mesh is never listed.
TEST_F(FramePipeline, SpritesAreListedAtTheirCentreDepthAndOnlyInSpriteMeshes) {
    auto s = hand_mesh({{999, 999, 999}}, 0, {{0, 0, 0, FACE_SPRITE | 5u}}, 5000, 0);
    auto stray = hand_mesh(TRIANGLE, 0, {{0, 1, 2}, {2, 0, 0, FACE_SPRITE | 3u}}, 1000);
    link({s.get(), stray.get()});
    render_frame(&cam, 0);   // pick only: no bitmap is needed
    ASSERT_EQ(list().count, 2);
    EXPECT_EQ(list().items[0].key, 5000);
    EXPECT_EQ(s->vertices[0].cz, 5000);
    EXPECT_EQ(s->faces[0].clip_count, 1);
    EXPECT_EQ(list().items[1].face, &stray->faces[0]);
}

// A face that lands off the screen is listed but reaches nothing: its mark
// is cleared and the iterator skips its mesh.
TEST_F(FramePipeline, DrawnMeshesComeOutNearestFirstOnce) {
    auto far = hand_mesh(TRIANGLE, 0, {{0, 1, 2}}, 3000);
    auto near = hand_mesh(TRIANGLE, 0, {{0, 1, 2}, {0, 1, 2}}, 1000);
    auto off = hand_mesh({{5000, 0, 0}, {5100, 0, 0}, {5000, 100, 0}}, 0, {{0, 1, 2}}, 2000);
    link({far.get(), off.get(), near.get()});
    render_frame(&cam, 1);
    EXPECT_EQ(off->faces[0].mark, 0);
    EXPECT_EQ(drawlist_next_drawn_mesh(), &near->mesh);
    EXPECT_EQ(drawlist_next_drawn_mesh(), &far->mesh);
    EXPECT_EQ(drawlist_next_drawn_mesh(), nullptr);
}

// A large far triangle behind a small near one, both round the centre.
TEST_F(FramePipeline, PickReportsTheNearestCoverAndPickOnlyDrawsNothing) {
    auto far = hand_mesh({{-1000, -1000, 0}, {1000, -1000, 0}, {0, 1000, 0}}, 0, {{0, 1, 2}}, 3000);
    auto near = hand_mesh(TRIANGLE, 0, {{0, 1, 2}}, 1000);
    link({near.get(), far.get()});
    std::memset(BackBuffer, 0x55, SCREEN_SIZE);
    const struct {
        int32_t x, y;
        Mesh *mesh;
    } picks[] = {{160, 100, &near->mesh}, {160, 190, &far->mesh}, {5, 5, nullptr}};
    for (const auto &p : picks) {
        cam.raster.pick_x = p.x, cam.raster.pick_y = p.y;
        EXPECT_EQ(render_frame(&cam, 0), p.mesh) << p.x << "," << p.y;
    }
    for (int i = 0; i < SCREEN_SIZE; i++) ASSERT_EQ(BackBuffer[i], 0x55) << "byte " << i;
    cam.raster.pick_x = 160, cam.raster.pick_y = 100;
    EXPECT_EQ(render_frame(&cam, 1), &near->mesh);
    EXPECT_NE(BackBuffer[100 * SCREEN_WIDTH + 160], 0x55);
}

// ---------------------------------------------------------------------------
// Near-plane clipping: every pattern of a smooth triangle's corners in front
// (z 1000) and behind (z 100). Clip vertices take spare slots 3 and 4.

struct ClipRow {
    bool front[3];
    int32_t count;
    std::vector<int32_t> slots;                // clip_index written
    std::vector<std::array<int, 2>> edges;     // start and end of each clip vertex's edge
};

class NearPlaneClip : public PipelineTest, public ::testing::WithParamInterface<ClipRow> {};

TEST_P(NearPlaneClip, WritesTheSlotsOfItsRow) {
    const ClipRow &row = GetParam();
    Points pts = {{-300, -200, 0}, {300, -200, 0}, {0, 300, 0}};
    for (int i = 0; i < 3; i++) pts[i][2] = row.front[i] ? 1000 : 100;
    auto h = hand_mesh(pts, 2, {{0, 1, 2, FACE_SMOOTH | 0x1FFu}});
    for (int i = 0; i < 3; i++) h->vertices[i].nx = 10 * (i + 1);
    link({h.get()});
    render_frame(&cam, 1);
    EXPECT_EQ(h->mesh.vertex_count, 3);   // restored after the mesh
    ASSERT_EQ(list().count, row.count > 2 ? 1 : 0);
    if (row.count < 3) return;
    EXPECT_EQ(list().items[0].key, 1000);
    EXPECT_EQ(h->faces[0].clip_count, row.count);
    for (size_t s = 0; s < row.slots.size(); s++) EXPECT_EQ(h->faces[0].clip_index[s], row.slots[s]) << s;
    for (size_t k = 0; k < row.edges.size(); k++) {
        const Vertex &x = h->vertices[3 + k];
        const Vertex &s = h->vertices[static_cast<size_t>(row.edges[k][0])];
        const Vertex &e = h->vertices[static_cast<size_t>(row.edges[k][1])];
        int32_t ex, ey;
        near_plane_intersect(s.x, s.y, s.z, e.x, e.y, e.z, &ex, &ey, 256);
        EXPECT_EQ(x.cz, 256);
        EXPECT_EQ(x.cx, ex) << "clip vertex " << k;
        EXPECT_EQ(x.cy, ey) << "clip vertex " << k;
        EXPECT_EQ(x.nx, s.nx) << "clip vertex " << k << " takes its start vertex's normal";
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
    for (int32_t z : {256, 255}) {
        auto h = hand_mesh({{-300, -200, z}, {300, -200, z}, {0, 300, z}}, 0, {{0, 1, 2}});
        link({h.get()});
        render_frame(&cam, 1);   // no spare slot: a clip vertex would be fatal
        EXPECT_EQ(list().count, z == 256 ? 1 : 0) << "z " << z;
    }
}

// Level files can put anything anywhere: random scenes mixing coordinates
// near the eye with extreme ones must render without undefined arithmetic
// or a write outside the screen (the sanitizer build checks both).
TEST_F(FramePipeline, HostileCoordinatesRenderSafely) {
    uint32_t s = 12345;
    auto rnd = [&s]() { return s = s * 1664525u + 1013904223u; };
    auto angle = [&rnd]() { return static_cast<int32_t>((rnd() >> 16) % 1440); };
    auto coord = [&rnd]() {
        switch (rnd() >> 29) {
            case 0: return static_cast<int32_t>(rnd());
            case 1: return INT32_MIN + static_cast<int32_t>(rnd() >> 28);
            case 2: return INT32_MAX - static_cast<int32_t>(rnd() >> 28);
            default: return static_cast<int32_t>(rnd() >> 19) - 4096;
        }
    };
    auto unit = [&rnd]() { return static_cast<int32_t>((rnd() >> 16) % 513) - 256; };
    int listed = 0;
    for (int frame = 0; frame < 300; frame++) {
        Points pts;
        std::vector<Tri> tris;
        for (int i = 0; i < 9; i++) pts.push_back({coord(), coord(), coord()});
        for (int i = 0; i < 8; i++) {
            auto corner = [&rnd]() { return static_cast<int32_t>((rnd() >> 16) % 9); };
            tris.push_back(Tri{corner(), corner(), corner(), rnd() & 0x20000FFFu});
        }
        // Most meshes pass the sphere test, to reach the later stages.
        bool wild = (rnd() >> 29) == 0;
        auto h = hand_mesh(pts, 16, tris, wild ? coord() : 0, wild ? coord() : 1 << 28);
        for (Face &f : h->faces) f.nx = unit(), f.ny = unit(), f.nz = unit();
        for (Vertex &v : h->vertices) v.nx = unit(), v.ny = unit(), v.nz = unit();
        transform_set_rotation(&h->mesh.transform, angle(), angle(), angle());
        h->mesh.x = wild ? coord() : 0;
        transform_set_rotation(&cam.view, angle(), angle(), angle());
        transform_set_translation(&cam.view, 0, 0, 0);
        if (rnd() & 1) transform_set_translation(&cam.view, coord(), coord(), coord());
        cam.light_x = coord();
        cam.ambient = coord();
        link({h.get()});
        render_frame(&cam, frame % 3 != 0);
        listed += list().count;
    }
    EXPECT_GT(listed, 200);
}

// fatal_error prints on standard output; death tests read standard error.
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
    auto h = hand_mesh(TRIANGLE, 0, std::vector<Tri>(100, Tri{0, 1, 2}), 1000);
    link({h.get()});
    render_frame(&cam, 1);
    EXPECT_EQ(list().count, 100);
    auto one_more = hand_mesh(TRIANGLE, 0, {{0, 1, 2}}, 1000);
    link({h.get(), one_more.get()});
    EXPECT_EXIT(render_frame(&cam, 1), ::testing::ExitedWithCode(1), "Fatal error: Transform: too many ptrs");
}

TEST_F(FramePipelineDeathTest, ClipVertexWithoutASpareSlotEndsTheProgram) {
    auto h = hand_mesh({{-300, -200, 1000}, {300, -200, 100}, {0, 300, 1000}}, 1, {{0, 1, 2}});
    link({h.get()});
    EXPECT_EXIT(render_frame(&cam, 1), ::testing::ExitedWithCode(1), "Fatal error: Transform: too many vertices");
}

// ---------------------------------------------------------------------------
// Whole frames from the real meshes and camera, compared with PNGs under
// tests/golden/ (the default palette's colours). POLYDRIVE_UPDATE_GOLDEN=1
// writes them instead: look at them before committing.

std::vector<uint8_t> frame_rgb(const uint8_t *frame) {
    std::vector<uint8_t> rgb;
    const Palette *pal = palette_default();
    for (int i = 0; i < SCREEN_SIZE; i++)
        for (int c = 0; c < 3; c++) rgb.push_back(static_cast<uint8_t>(pal->rgb[frame[i] * 3 + c] << 2 | pal->rgb[frame[i] * 3 + c] >> 4));
    return rgb;
}

void expect_golden(const std::string &name) {
    std::string path = std::string(POLYDRIVE_SOURCE_DIR) + "/tests/golden/" + name + ".png";
    std::vector<uint8_t> actual = frame_rgb(BackBuffer);
    const char *update = std::getenv("POLYDRIVE_UPDATE_GOLDEN");
    if (update != nullptr && std::strcmp(update, "1") == 0) {
        ASSERT_TRUE(stbi_write_png(path.c_str(), SCREEN_WIDTH, SCREEN_HEIGHT, 3, actual.data(), 0));
        return;
    }
    int w = 0, h = 0, n = 0;
    uint8_t *expected = stbi_load(path.c_str(), &w, &h, &n, 3);
    ASSERT_NE(expected, nullptr) << "cannot read " << path;
    ASSERT_EQ(w * h, SCREEN_SIZE);
    int differ = 0;
    for (int i = 0; i < SCREEN_SIZE; i++) differ += std::memcmp(&actual[i * 3], &expected[i * 3], 3) != 0;
    stbi_image_free(expected);
    if (differ != 0) {
        std::string out = ::testing::TempDir() + "polydrive_" + name + "_actual.png";
        stbi_write_png(out.c_str(), SCREEN_WIDTH, SCREEN_HEIGHT, 3, actual.data(), 0);
        ADD_FAILURE() << name << ": " << differ << " pixels differ from " << path << "; see " << out;
    }
}

// Triangle a, b, c turned so that its normal points away from `inside`.
void add_facing_out(Mesh *m, uint32_t flags, int32_t a, int32_t b, int32_t c, int smooth,
                    std::array<int64_t, 3> inside) {
    const Vertex &p = m->vertices[a], &q = m->vertices[b], &r = m->vertices[c];
    int64_t e1[3] = {int64_t{q.x} - p.x, int64_t{q.y} - p.y, int64_t{q.z} - p.z};
    int64_t e2[3] = {int64_t{r.x} - p.x, int64_t{r.y} - p.y, int64_t{r.z} - p.z};
    int64_t n[3] = {e1[1] * e2[2] - e2[1] * e1[2], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e2[0] * e1[1]};
    int64_t mid[3] = {int64_t{p.x} + q.x + r.x, int64_t{p.y} + q.y + r.y, int64_t{p.z} + q.z + r.z};
    int64_t d = 0;
    for (int k = 0; k < 3; k++) d += n[k] / 1024 * (mid[k] - 3 * inside[k]);
    int32_t corners[3] = {a, d < 0 ? c : b, d < 0 ? b : c};
    mesh_add_face(m, flags, corners, smooth);
}

Mesh *cube_mesh(int32_t s) {
    std::vector<int32_t> pos;
    for (int i = 0; i < 8; i++) pos.insert(pos.end(), {i & 1 ? s : -s, i & 2 ? s : -s, i & 4 ? s : -s});
    Mesh *m = mesh_create(nullptr, 8, 0, pos.data());
    const int quads[6][4] = {{0, 1, 3, 2}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 3, 7, 5}};
    for (int k = 0; k < 6; k++) {
        uint32_t flags = static_cast<uint32_t>(k) << 8 | 0xD0u;
        add_facing_out(m, flags, quads[k][0], quads[k][1], quads[k][2], 0, {0, 0, 0});
        add_facing_out(m, flags, quads[k][0], quads[k][2], quads[k][3], 0, {0, 0, 0});
    }
    mesh_finish(m);
    return m;
}

// A smooth ball of 8 meridians and 4 parallels plus the poles.
Mesh *ball_mesh(int32_t radius, uint32_t flags) {
    std::vector<int32_t> pos;
    for (int ring = 1; ring <= 4; ring++) {
        int32_t lat = -360 + ring * 144, r = fixed_mul(radius, fixed_cos(lat));
        for (int k = 0; k < 8; k++)
            pos.insert(pos.end(), {fixed_mul(r, fixed_cos(k * 180)), fixed_mul(radius, fixed_sin(lat)),
                                   fixed_mul(r, fixed_sin(k * 180))});
    }
    pos.insert(pos.end(), {0, -radius, 0, 0, radius, 0});
    Mesh *m = mesh_create(nullptr, 34, 0, pos.data());
    for (int32_t k = 0; k < 8; k++) {
        int32_t k1 = (k + 1) % 8;
        add_facing_out(m, flags, 32, k, k1, 1, {0, 0, 0});
        for (int32_t a = k; a < 24; a += 8) {
            add_facing_out(m, flags, a, a - k + k1, a - k + k1 + 8, 1, {0, 0, 0});
            add_facing_out(m, flags, a, a - k + k1 + 8, a + 8, 1, {0, 0, 0});
        }
        add_facing_out(m, flags, 33, 24 + k, 24 + k1, 1, {0, 0, 0});
    }
    mesh_finish(m);
    return m;
}

Mesh *two_triangles(const std::vector<int32_t> &pos, uint32_t flags, int smooth, std::array<int64_t, 3> inside) {
    Mesh *m = mesh_create(nullptr, static_cast<int32_t>(pos.size() / 3), 4, pos.data());
    add_facing_out(m, flags, 0, 1, 2, smooth, inside);
    if (pos.size() > 9) add_facing_out(m, flags, 1, 3, 2, smooth, inside);
    mesh_finish(m);
    return m;
}

// Sprites use a 16x16 disc (a ring round a shaded core, transparent
// outside) from a throw-away lib/ directory.
class GoldenFrame : public ::testing::Test {
protected:
    void SetUp() override {
        char buf[4096];
        ASSERT_NE(getcwd(buf, sizeof buf), nullptr);
        old_dir = buf;
        char tmpl[] = "/tmp/polydrive_render_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        ASSERT_EQ(chdir(dir.c_str()), 0);
        ASSERT_EQ(mkdir("lib", 0755), 0);
        std::vector<uint8_t> disc(8 + 256);
        for (int y = 0; y < 16; y++) {
            for (int x = 0; x < 16; x++) {
                int d2 = (2 * x - 15) * (2 * x - 15) + (2 * y - 15) * (2 * y - 15);
                disc[static_cast<size_t>(8 + y * 16 + x)] = static_cast<uint8_t>(
                    d2 > 225 ? 255 : d2 > 100 ? 7 * 24 + 20 : 3 * 24 + 12 + x / 2);
            }
        }
        write_bitmap("disc.bm", 16, 16, disc);
        res_init(10240);
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
        res_shutdown();
        ASSERT_EQ(chdir(old_dir.c_str()), 0);
        ASSERT_EQ(std::system(("rm -rf " + dir).c_str()), 0);
    }
    // A bitmap file with the given header; the pixel bytes of `bytes` after
    // its first 8 are kept.
    static void write_bitmap(const char *name, int32_t w, int32_t h, std::vector<uint8_t> bytes) {
        std::memcpy(bytes.data(), &w, 4);
        std::memcpy(bytes.data() + 4, &h, 4);
        FILE *f = std::fopen((std::string("lib/") + name).c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    Mesh *add(Mesh *m, int32_t x, int32_t y, int32_t z, int32_t ax = 0, int32_t ay = 0, int32_t az = 0) {
        mesh_set_position(m, x, y, z, 0);
        mesh_set_angles(m, ax, ay, az, 0);
        camera_add_mesh(cam, m);
        meshes.push_back(m);
        return m;
    }
    Mesh *sprite(const char *name, uint32_t exponent, int32_t x, int32_t y, int32_t z) {
        uint32_t id = static_cast<uint32_t>(res_register(name));
        Mesh *m = mesh_create_sprite(nullptr, id | exponent << 16, 0, 0, 0);
        mesh_finish(m);
        return add(m, x, y, z);
    }
    void render() {
        gfx_clear();
        render_frame(cam, 1);
    }
    Camera *cam = nullptr;
    std::vector<Mesh *> meshes;
    std::string old_dir, dir;
};

TEST_F(GoldenFrame, FlatCube) {
    add(cube_mesh(512), 0, 0, 3000, 120, 200, 40);
    render();
    expect_golden("cube");
}

TEST_F(GoldenFrame, SmoothBalls) {
    camera_set_light(cam, -100, 100, -200, 40);
    add(ball_mesh(700, 0x4FFu), -200, 0, 2600, 30, 50, 0);
    add(ball_mesh(300, 0x6C0u), 700, 300, 4000);
    render();
    expect_golden("ball");
}

// A flat floor and a bent smooth wall that reach behind the eye, from a
// camera turned a little right and down.
TEST_F(GoldenFrame, FacesCrossingTheNearPlane) {
    add(two_triangles({-3000, 0, -2000, 3000, 0, -2000, -3000, 0, 9000, 3000, 0, 9000}, 0x2C0u, 0,
                      {0, -1000, 0}), 0, -400, 0);
    add(two_triangles({600, -400, -1500, 600, 1000, -1500, 1500, -400, 6000, 300, 1000, 6000}, 0x5FFu, 1,
                      {5000, 300, 2000}), 0, 0, 0);
    camera_set_angles(cam, 20, 40, 0, 0);
    camera_set_light(cam, -200, 100, -100, 40);
    render();
    expect_golden("near_plane");
}

// Sprites at their own size (z 65536), doubled, near and cut by the right
// edge, and one partly behind a flat triangle.
TEST_F(GoldenFrame, SpritesAmongPolygons) {
    sprite("disc.bm", 0, -20000, 8000, 65536);
    sprite("disc.bm", 1, 0, 0, 65536);
    sprite("disc.bm", 0, 15500, -3000, 30000);
    sprite("disc.bm", 2, 26000, -4000, 120000);
    add(two_triangles({-30000, -20000, 0, 30000, -20000, 0, 0, 25000, 0}, 0x1FFu, 0, {0, 0, 10000}), 0, 0, 90000);
    render();
    expect_golden("sprites");
}

int row_width(int y, uint8_t colour) {
    int n = 0;
    for (int x = 0; x < SCREEN_WIDTH; x++) n += BackBuffer[y * SCREEN_WIDTH + x] == colour;
    return n;
}

int drawn_pixels() {
    int n = 0;
    for (int i = 0; i < SCREEN_SIZE; i++) n += BackBuffer[i] != 0;
    return n;
}

// At z 65536 a sprite has its bitmap's size; at half the depth, or one
// exponent up, each pixel becomes a 2x2 block. Every exponent, wrapped
// 32-bit scales included, draws inside the screen and reads inside the
// bitmap.
TEST_F(GoldenFrame, SpriteSizeFollowsDepthAndExponent) {
    Mesh *m = sprite("disc.bm", 0, 0, 0, 65536);
    render();
    const int opaque = drawn_pixels();
    EXPECT_GT(opaque, 150);
    mesh_set_position(m, 0, 0, 32768, 0);
    render();
    EXPECT_EQ(drawn_pixels(), 4 * opaque);
    mesh_set_position(m, 0, 0, 65536, 0);
    m->faces->flags |= 1u << FACE_SCALE_SHIFT;
    render();
    EXPECT_EQ(drawn_pixels(), 4 * opaque);
    mesh_set_position(m, 0, 0, 256, 0);
    for (uint32_t e = 0; e < 32; e++) {
        m->faces->flags = (m->faces->flags & ~FACE_SCALE_MASK) | e << FACE_SCALE_SHIFT;
        render();
    }
}

// The bitmap is unlocked after drawing: with room for one of two bitmaps,
// frames drawing both in turn can still load each.
TEST_F(GoldenFrame, SpriteBitmapIsUnlockedAfterDrawing) {
    res_shutdown();
    res_init(400);
    write_bitmap("a.bm", 16, 16, std::vector<uint8_t>(8 + 256, 7));
    write_bitmap("b.bm", 16, 16, std::vector<uint8_t>(8 + 256, 8));
    Mesh *a = sprite("a.bm", 0, 0, 0, 65536);
    Mesh *b = sprite("b.bm", 0, 0, 0, 65536);
    for (int i = 0; i < 3; i++) {
        mesh_set_position(i % 2 ? a : b, 0, 0, 1 << 30, 0);
        mesh_set_position(i % 2 ? b : a, 0, 0, 65536, 0);
        render();
        EXPECT_EQ(row_width(100, i % 2 ? 8 : 7), 16);
    }
    EXPECT_EQ(res_check(), 1);
}

class GoldenFrameDeathTest : public GoldenFrame {
protected:
    void SetUp() override {
        GoldenFrame::SetUp();
        fatal_set_hook(echo_to_stderr);
    }
    void TearDown() override {
        fatal_set_hook(nullptr);
        GoldenFrame::TearDown();
    }
};

// A bitmap's header comes from a file: sizes that do not fit the file, or
// that the scaled drawer cannot take, end the program naming the resource.
TEST_F(GoldenFrameDeathTest, BadBitmapSizesEndTheProgram) {
    const struct {
        const char *name;
        int32_t w, h;
        size_t bytes;
    } bad[] = {{"short.bm", 16, 16, 8 + 255}, {"zero.bm", 0, 16, 72}, {"neg.bm", -4, -4, 72},
               {"wide.bm", 32768, 1, 72}, {"huge.bm", 65536, 65536, 72}, {"tiny.bm", 1, 1, 4}};
    for (const auto &b : bad) {
        std::vector<uint8_t> bytes(b.bytes < 8 ? 8 : b.bytes, 7);
        write_bitmap(b.name, b.w, b.h, bytes);
        if (b.bytes < 8) {
            ASSERT_EQ(truncate((std::string("lib/") + b.name).c_str(), static_cast<off_t>(b.bytes)), 0);
        }
        sprite(b.name, 0, 0, 0, 65536);
        EXPECT_EXIT(render(), ::testing::ExitedWithCode(1), "Fatal error: Sprite: bitmap [0-9]+ (is|has)") << b.name;
        cam->meshes = nullptr;
    }
}

#ifndef POLYDRIVE_ASAN
TEST_F(GoldenFrame, FramesAllocateNothing) {
    sprite("disc.bm", 0, -20000, 8000, 65536);
    add(ball_mesh(700, 0x4FFu), -200, 0, 2600, 30, 50, 0);
    add(two_triangles({-3000, 0, -2000, 3000, 0, -2000, 3000, 0, 9000}, 0x2C0u, 0, {0, -1000, 0}), 0, -400, 0);
    render();   // the first frame reads the bitmap file
    long before = allocation_calls;
    for (int i = 0; i < 500; i++) {
        camera_set_angles(cam, 0, 3, 0, 1);
        gfx_clear();
        render_frame(cam, i % 2);
        gfx_flip();
    }
    EXPECT_EQ(allocation_calls - before, 0);
}
#endif

}  // namespace
