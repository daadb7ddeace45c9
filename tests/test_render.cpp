// The frame pipeline: sphere visibility, back faces, near-plane clipping, listing, picking, sprites,
// whole frames against checked-in pictures, and no allocation per frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "base/fatal.h"
#include "platform/video.h"
#include "render/camera.h"
#include "render/drawlist.h"
#include "render/render.h"
#include "res/res.h"
#include "scene/mesh.h"

#define STBI_ONLY_PNG
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

// Allocations are counted by replacing malloc, where no sanitizer owns it.
#if defined(__SANITIZE_ADDRESS__)
#define POLYDRIVE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define POLYDRIVE_ASAN 1
#endif
#endif
#ifndef POLYDRIVE_ASAN
extern "C" void *__libc_malloc(size_t), *__libc_calloc(size_t, size_t), *__libc_realloc(void *, size_t);
static long allocation_calls = 0;
extern "C" void *malloc(size_t n) noexcept { return allocation_calls++, __libc_malloc(n); }
extern "C" void *calloc(size_t n, size_t m) noexcept { return allocation_calls++, __libc_calloc(n, m); }
extern "C" void *realloc(void *p, size_t n) noexcept { return allocation_calls++, __libc_realloc(p, n); }
#endif

namespace {

using Points = std::vector<std::array<int32_t, 3>>;
struct Tri {
    int32_t a, b, c;
    uint32_t flags = 0x1FF;   // ramp 1, reflectivity 255
};
struct HandMesh {
    Mesh mesh{};
    std::vector<Vertex> vertices;
    std::vector<Face> faces;
};
const Points TRIANGLE = {{-100, -100, 0}, {100, -100, 0}, {0, 100, 0}};

// Normals, centre and radius exactly the test's: faces face the camera (normal (0, 0, -256)).
std::unique_ptr<HandMesh> hand_mesh(const Points &points, int spare, const std::vector<Tri> &tris, int32_t z = 0,
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
        const bool sprite = (tris[i].flags & FACE_SPRITE) != 0;
        h->faces[i] = Face{tris[i].flags,
                           sprite ? 1 : 3,
                           {tris[i].a, tris[i].b, tris[i].c},
                           {},
                           0,
                           0,
                           0,
                           sprite ? 0 : -256,
                           0,
                           &h->mesh,
                           i + 1 < tris.size() ? &h->faces[i + 1] : nullptr};
    }
    Mesh &m = h->mesh;
    m.vertices = h->vertices.data();
    m.faces = h->faces.data();
    m.radius = radius;
    m.z = z;
    m.vertex_count = static_cast<int32_t>(points.size());
    m.vertex_capacity = static_cast<int32_t>(h->vertices.size());
    transform_set_rotation(&m.transform, 0, 0, 0);
    transform_set_translation(&m.transform, 0, 0, z);
    return h;
}

// fatal_error prints on standard output; death tests read standard error.
void echo_to_stderr(const char *message) { std::fprintf(stderr, "Fatal error: %s", message); }

// lib/<name> with the given header; the bytes of `bytes` after its first 8 are the pixels.
void write_bitmap(const char *name, int32_t w, int32_t h, std::vector<uint8_t> bytes) {
    std::memcpy(bytes.data(), &w, 4);
    std::memcpy(bytes.data() + 4, &h, 4);
    std::ofstream f(std::string("lib/") + name, std::ios::binary);
    ASSERT_TRUE(f.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size())));
}

// The real camera at the origin, light (0, 0, -256) and ambient 64, in a throw-away directory whose
// lib/ holds disc.bm: 16x16, a ring round a shaded core, transparent outside.
class Frame : public ::testing::Test {
  protected:
    void SetUp() override {
        old_dir = std::filesystem::current_path();
        char tmpl[] = "/tmp/polydrive_render_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        std::filesystem::current_path(dir = tmpl);
        std::filesystem::create_directory("lib");
        std::vector<uint8_t> disc(8 + 256);
        for (int i = 0; i < 256; i++) {
            const int x = i % 16, y = i / 16, d2 = (2 * x - 15) * (2 * x - 15) + (2 * y - 15) * (2 * y - 15);
            disc[size_t(8 + i)] = static_cast<uint8_t>(d2 > 225 ? 255 : d2 > 100 ? 7 * 24 + 20 : 3 * 24 + 12 + x / 2);
        }
        write_bitmap("disc.bm", 16, 16, disc);
        res_init(10240);
        drawlist_init(100);
        gfx_init(0);
        cam = camera_create(300, 0, 0, 319, 199);
        camera_set_light(cam, 0, 0, -256, 64);
        fatal_set_hook(echo_to_stderr);
    }
    void TearDown() override {
        fatal_set_hook(nullptr);
        for (Mesh *m : meshes) mesh_free(m);
        cam->meshes = nullptr;   // hand-made meshes are the test's own
        camera_free(cam);
        gfx_shutdown();
        drawlist_free();
        res_shutdown();
        std::filesystem::current_path(old_dir);
        std::filesystem::remove_all(dir);
    }
    Mesh *add(Mesh *m, int32_t x, int32_t y, int32_t z, int32_t ax = 0, int32_t ay = 0, int32_t az = 0) {
        mesh_set_position(m, x, y, z, 0);
        mesh_set_angles(m, ax, ay, az, 0);
        camera_add_mesh(cam, m);
        meshes.push_back(m);
        return m;
    }
    Mesh *sprite(const char *name, uint32_t exponent, int32_t x, int32_t y, int32_t z) {
        Mesh *m = mesh_create_sprite(nullptr, static_cast<uint32_t>(res_register(name)) | exponent << 16, 0, 0, 0);
        mesh_finish(m);
        return add(m, x, y, z);
    }
    void render() {
        gfx_clear();
        render_frame(cam, 1);
    }
    void link(std::initializer_list<HandMesh *> hand) {
        Mesh **tail = &cam->meshes;
        for (HandMesh *h : hand) tail = &(*tail = &h->mesh)->next;
        *tail = nullptr;
    }
    static const DrawList &list() { return render_state()->list; }
    Camera *cam = nullptr;
    std::vector<Mesh *> meshes;
    std::filesystem::path old_dir, dir;
};
using FrameDeathTest = Frame;

// Hand-made meshes through an exact identity view, picking at the screen centre: camera coordinates
// are model coordinates plus the mesh's position.
class Pipeline : public Frame {
    void SetUp() override {
        Frame::SetUp();
        transform_set_rotation(&cam->view, 0, 0, 0);
        camera_set_pick(cam, 160, 100);
    }
};
using PipelineDeathTest = Pipeline;

// The near plane and the distance limits; at z 1000 the sides lie at x -532 and 527, y -333 and 328,
// where the sphere counts with twice its radius. Sprites take the near-plane test alone.
TEST_F(Pipeline, SphereVisibility) {
    // clang-format off
    const struct { int32_t x, y, z, r; uint32_t flags; int want; } cases[] = {
        {0, 0, 246, 10, 0, 1},    {0, 0, 245, 10, 0, 0},    {0, 0, 1024, 1, 0, 1},    {0, 0, 1025, 1, 0, 0},
        {0, 0, 1537, 2, 0, 1},    {0, 0, 1538, 2, 0, 0},    {-552, 0, 1000, 10, 0, 1}, {-553, 0, 1000, 10, 0, 0},
        {547, 0, 1000, 10, 0, 1}, {548, 0, 1000, 10, 0, 0}, {0, -353, 1000, 10, 0, 1}, {0, -354, 1000, 10, 0, 0},
        {0, 348, 1000, 10, 0, 1}, {0, 349, 1000, 10, 0, 0}, {100000, 0, 1000000, 0, FACE_SPRITE, 1}, {0, 0, 255, 0, FACE_SPRITE, 0}};
    // clang-format on
    render_state()->camera = *cam;
    render_state()->view = cam->view;
    for (const auto &c : cases) {
        Face f{};
        Mesh m{};
        f.flags = c.flags;
        m.faces = &f;
        m.x = c.x;
        m.y = c.y;
        m.z = c.z;
        m.radius = c.r;
        EXPECT_EQ(mesh_visible(&m), c.want) << c.x << "," << c.y << "," << c.z << " radius " << c.r;
        // A visible mesh carries its centre in camera space (a sprite draws there).
        if (c.want) {
            EXPECT_EQ((std::array{m.view_centre[0], m.view_centre[1], m.view_centre[2]}), (std::array{c.x, c.y, c.z}));
        }
    }
}

// Normal (256, 0, 0) with the eye at the origin: the back-face dot product is the first corner's x.
TEST_F(Pipeline, EdgeOnFaceIsKeptAndDotOneIsCulled) {
    for (int32_t x0 : {0, 1}) {
        auto h = hand_mesh({{x0, 0, 0}, {0, 100, 100}, {0, -100, 100}}, 0, {{0, 1, 2}}, 1000);
        h->faces[0].nx = 256;
        h->faces[0].nz = 0;
        link({h.get()});
        render_frame(cam, 0);
        EXPECT_EQ(list().count, 1 - x0) << "dot " << x0;
    }
}

// Equal keys are drawn in listing order: mesh list order, then face order.
TEST_F(Pipeline, EqualKeysStayInListingOrder) {
    auto a = hand_mesh(TRIANGLE, 0, {{0, 1, 2}, {0, 1, 2}}, 2000), b = hand_mesh(TRIANGLE, 0, {{0, 1, 2}}, 2000);
    auto far = hand_mesh(TRIANGLE, 0, {{0, 1, 2}}, 3000);
    link({a.get(), b.get(), far.get()});
    render_frame(cam, 1);
    ASSERT_EQ(list().count, 4);
    const Face *expected[] = {&far->faces[0], &a->faces[0], &a->faces[1], &b->faces[0]};
    for (int i = 0; i < 4; i++) EXPECT_EQ(list().items[i].face, expected[i]) << i;
    EXPECT_EQ(list().items[1].key, 2000);
}

// A sprite is listed at its mesh centre's depth, whatever its vertex says; a sprite face in a polygon
// mesh is never listed. Pick only: no bitmap is needed.
TEST_F(Pipeline, SpritesAreListedAtTheirCentreDepthAndOnlyInSpriteMeshes) {
    auto s = hand_mesh({{999, 999, 999}}, 0, {{0, 0, 0, FACE_SPRITE | 5u}}, 5000, 0);
    auto stray = hand_mesh(TRIANGLE, 0, {{0, 1, 2}, {2, 0, 0, FACE_SPRITE | 3u}}, 1000);
    link({s.get(), stray.get()});
    render_frame(cam, 0);
    ASSERT_EQ(list().count, 2);
    EXPECT_EQ(list().items[0].key, 5000);
    EXPECT_EQ(s->vertices[0].cz, 5000);
    EXPECT_EQ(s->faces[0].clip_count, 1);
    EXPECT_EQ(list().items[1].face, &stray->faces[0]);
}

// A large far triangle behind a small near one, both round the centre, and a face off the screen:
// listed, but its mark is cleared and the drawn-mesh iterator skips its mesh.
TEST_F(Pipeline, PickReportsTheNearestCoverAndPickOnlyDrawsNothing) {
    auto far = hand_mesh({{-1000, -1000, 0}, {1000, -1000, 0}, {0, 1000, 0}}, 0, {{0, 1, 2}}, 3000);
    auto near = hand_mesh(TRIANGLE, 0, {{0, 1, 2}, {0, 1, 2}}, 1000);
    auto off = hand_mesh({{5000, 0, 0}, {5100, 0, 0}, {5000, 100, 0}}, 0, {{0, 1, 2}}, 2000);
    link({far.get(), off.get(), near.get()});
    std::memset(BackBuffer, 0x55, SCREEN_SIZE);
    const struct {
        int32_t x, y;
        Mesh *mesh;
    } picks[] = {{160, 100, &near->mesh}, {160, 190, &far->mesh}, {5, 5, nullptr}};
    for (const auto &p : picks) {
        camera_set_pick(cam, p.x, p.y);
        EXPECT_EQ(render_frame(cam, 0), p.mesh) << p.x << "," << p.y;
    }
    EXPECT_TRUE(std::all_of(BackBuffer, BackBuffer + SCREEN_SIZE, [](uint8_t v) { return v == 0x55; }));
    camera_set_pick(cam, 160, 100);
    EXPECT_EQ(render_frame(cam, 1), &near->mesh);
    EXPECT_NE(BackBuffer[100 * SCREEN_WIDTH + 160], 0x55);
    EXPECT_EQ(off->faces[0].mark, 0);
    for (const Mesh *m : {&near->mesh, &far->mesh, static_cast<Mesh *>(nullptr)})
        EXPECT_EQ(drawlist_next_drawn_mesh(), m);
}

// Every pattern of a smooth triangle's corners in front (z 1000) and behind (z 100): the corners listed,
// and each clip vertex (spare slots 3 and 4) on its edge at z 256 with its start vertex's normal.
TEST_F(Pipeline, NearPlaneClipWritesTheSlotsOfEachPattern) {
    const struct {
        bool front[3];
        int32_t count;
        std::vector<int32_t> slots;              // clip_index written
        std::vector<std::array<int, 2>> edges;   // start and end of each clip vertex's edge
    } rows[] = {{{true, true, true}, 4, {0, 1, 2, 0}, {}},
                {{true, false, true}, 4, {0, 3, 4, 2, 0}, {{0, 1}, {1, 2}}},
                {{true, true, false}, 4, {0, 1, 3, 4, 0}, {{1, 2}, {2, 0}}},
                {{false, true, true}, 4, {3, 1, 2, 4}, {{0, 1}, {2, 0}}},
                {{true, false, false}, 3, {0, 3, 4, 0}, {{0, 1}, {2, 0}}},
                {{false, true, false}, 3, {3, 1, 4}, {{0, 1}, {1, 2}}},
                {{false, false, true}, 3, {3, 2, 4}, {{1, 2}, {2, 0}}},
                {{false, false, false}, 1, {}, {}}};
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << "front " << row.front[0] << row.front[1] << row.front[2]);
        const Points pts = {{-300, -200, row.front[0] ? 1000 : 100},
                            {300, -200, row.front[1] ? 1000 : 100},
                            {0, 300, row.front[2] ? 1000 : 100}};
        auto h = hand_mesh(pts, 2, {{0, 1, 2, FACE_SMOOTH | 0x1FFu}});
        for (int i = 0; i < 3; i++) h->vertices[i].nx = 10 * (i + 1);
        link({h.get()});
        render_frame(cam, 1);
        EXPECT_EQ(h->mesh.vertex_count, 3);   // restored after the mesh
        ASSERT_EQ(list().count, row.count > 2 ? 1 : 0);
        if (row.count < 3) continue;
        const Face &f = h->faces[0];
        EXPECT_EQ(list().items[0].key, 1000);
        EXPECT_EQ(f.clip_count, row.count);
        EXPECT_EQ(std::vector<int32_t>(f.clip_index, f.clip_index + row.slots.size()), row.slots);
        for (size_t k = 0; k < row.edges.size(); k++) {
            const Vertex &x = h->vertices[3 + k], &s = h->vertices[size_t(row.edges[k][0])],
                         &e = h->vertices[size_t(row.edges[k][1])];
            int32_t ex, ey;
            near_plane_intersect(s.x, s.y, s.z, e.x, e.y, e.z, &ex, &ey, 256);
            EXPECT_EQ((std::array{x.cx, x.cy, x.cz, x.nx}), (std::array{ex, ey, 256, s.nx})) << "clip vertex " << k;
        }
    }
}

// With nothing listed a frame returns null, keeps the initial flags and draws nothing.
TEST_F(Pipeline, DepthTwoFiftySixIsInFrontAndTwoFiftyFiveBehind) {
    cam->raster.pick_hit = cam->raster.drawn = 1;
    for (int32_t z : {256, 255}) {
        auto h = hand_mesh({{-300, -200, z}, {300, -200, z}, {0, 300, z}}, 0, {{0, 1, 2}});
        link({h.get()});
        std::memset(BackBuffer, 0, SCREEN_SIZE);
        const Mesh *picked = render_frame(cam, 1);         // no spare slot: a clip vertex would be fatal
        EXPECT_EQ(render_state()->frame_stamp, 257 - z);   // counted from 1 after init
        EXPECT_EQ(list().count, z == 256 ? 1 : 0) << "z " << z;
        if (z == 256) continue;
        EXPECT_EQ(picked, nullptr);
        EXPECT_EQ(raster_state()->pick_hit + raster_state()->drawn, 2);
        EXPECT_TRUE(std::all_of(BackBuffer, BackBuffer + SCREEN_SIZE, [](uint8_t v) { return v == 0; }));
    }
}

// Random scenes mixing coordinates near the eye with extreme ones render without undefined
// arithmetic or a write outside the screen (the sanitizer build checks both).
TEST_F(Pipeline, HostileCoordinatesRenderSafely) {
    uint32_t s = 12345;
    auto rnd = [&s]() { return s = s * 1664525u + 1013904223u; };
    auto below = [&rnd](uint32_t n) { return static_cast<int32_t>((rnd() >> 16) % n); };
    auto coord = [&rnd]() {
        const uint32_t kind = rnd() >> 29;
        return kind == 0   ? int32_t(rnd())
               : kind == 1 ? INT32_MIN + int32_t(rnd() >> 28)
               : kind == 2 ? INT32_MAX - int32_t(rnd() >> 28)
                           : int32_t(rnd() >> 19) - 4096;
    };
    int listed = 0;
    for (int frame = 0; frame < 300; frame++) {
        Points pts;
        std::vector<Tri> tris;
        for (int i = 0; i < 9; i++) pts.push_back({coord(), coord(), coord()});
        for (int i = 0; i < 8; i++) tris.push_back(Tri{below(9), below(9), below(9), rnd() & 0x20000FFFu});
        const bool wild = (rnd() >> 29) == 0;   // most meshes pass the sphere test, to reach the later stages
        auto h = hand_mesh(pts, 16, tris, wild ? coord() : 0, wild ? coord() : 1 << 28);
        for (Face &f : h->faces) {
            f.nx = below(513) - 256;
            f.ny = below(513) - 256;
            f.nz = below(513) - 256;
        }
        for (Vertex &v : h->vertices) {
            v.nx = below(513) - 256;
            v.ny = below(513) - 256;
            v.nz = below(513) - 256;
        }
        transform_set_rotation(&h->mesh.transform, below(1440), below(1440), below(1440));
        h->mesh.x = wild ? coord() : 0;
        transform_set_rotation(&cam->view, below(1440), below(1440), below(1440));
        transform_set_translation(&cam->view, 0, 0, 0);
        if (rnd() & 1) transform_set_translation(&cam->view, coord(), coord(), coord());
        cam->light_x = coord();
        cam->ambient = coord();
        link({h.get()});
        render_frame(cam, frame % 3 != 0);
        listed += list().count;
    }
    EXPECT_GT(listed, 200);
}

TEST_F(PipelineDeathTest, HundredAndFirstFaceOrAMissingSpareSlotEndsTheProgram) {
    auto h = hand_mesh(TRIANGLE, 0, std::vector<Tri>(100, Tri{0, 1, 2}), 1000),
         one_more = hand_mesh(TRIANGLE, 0, {{0, 1, 2}}, 1000);
    link({h.get()});
    render_frame(cam, 1);
    EXPECT_EQ(list().count, 100);
    link({h.get(), one_more.get()});
    EXPECT_EXIT(render_frame(cam, 1), ::testing::ExitedWithCode(1), "Fatal error: Transform: too many ptrs");
    auto crossing = hand_mesh({{-300, -200, 1000}, {300, -200, 100}, {0, 300, 1000}}, 1, {{0, 1, 2}});
    link({crossing.get()});
    EXPECT_EXIT(render_frame(cam, 1), ::testing::ExitedWithCode(1), "Fatal error: Transform: too many vertices");
}

// Whole frames against PNGs under tests/golden/ (the default palette's colours).
// POLYDRIVE_UPDATE_GOLDEN=1 writes them instead: look at them before committing.
void expect_golden(const std::string &name) {
    const std::string path = std::string(POLYDRIVE_SOURCE_DIR) + "/tests/golden/" + name + ".png";
    std::vector<uint8_t> actual;
    for (int i = 0; i < SCREEN_SIZE * 3; i++) {
        const uint8_t v = palette_default()->rgb[BackBuffer[i / 3] * 3 + i % 3];
        actual.push_back(static_cast<uint8_t>(v << 2 | v >> 4));
    }
    const char *update = std::getenv("POLYDRIVE_UPDATE_GOLDEN");
    if (update != nullptr && std::strcmp(update, "1") == 0) {
        ASSERT_TRUE(stbi_write_png(path.c_str(), SCREEN_WIDTH, SCREEN_HEIGHT, 3, actual.data(), 0));
        return;
    }
    int w = 0, h = 0, n = 0, differ = 0;
    uint8_t *expected = stbi_load(path.c_str(), &w, &h, &n, 3);
    ASSERT_NE(expected, nullptr) << "cannot read " << path;
    ASSERT_EQ(w * h, SCREEN_SIZE);
    for (int i = 0; i < SCREEN_SIZE; i++) differ += std::memcmp(&actual[i * 3], &expected[i * 3], 3) != 0;
    stbi_image_free(expected);
    EXPECT_EQ(differ, 0) << name << ": pixels differ from " << path << " (POLYDRIVE_UPDATE_GOLDEN=1 rewrites it)";
}

// Triangle a, b, c turned so that its normal points away from `inside`.
void add_facing_out(Mesh *m, uint32_t flags, int32_t a, int32_t b, int32_t c, int smooth,
                    std::array<int64_t, 3> inside = {}) {
    const Vertex &p = m->vertices[a], &q = m->vertices[b], &r = m->vertices[c];
    const int64_t e1[3] = {int64_t{q.x} - p.x, int64_t{q.y} - p.y, int64_t{q.z} - p.z};
    const int64_t e2[3] = {int64_t{r.x} - p.x, int64_t{r.y} - p.y, int64_t{r.z} - p.z};
    const int64_t n[3] = {e1[1] * e2[2] - e2[1] * e1[2], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e2[0] * e1[1]};
    const int64_t mid[3] = {int64_t{p.x} + q.x + r.x, int64_t{p.y} + q.y + r.y, int64_t{p.z} + q.z + r.z};
    int64_t d = 0;
    for (int k = 0; k < 3; k++) d += n[k] / 1024 * (mid[k] - 3 * inside[k]);
    const int32_t corners[3] = {a, d < 0 ? c : b, d < 0 ? b : c};
    mesh_add_face(m, flags, corners, smooth);
}

Mesh *cube_mesh(int32_t s) {
    std::vector<int32_t> pos;
    for (int i = 0; i < 8; i++) pos.insert(pos.end(), {i & 1 ? s : -s, i & 2 ? s : -s, i & 4 ? s : -s});
    Mesh *m = mesh_create(nullptr, 8, 0, pos.data());
    const int q[6][4] = {{0, 1, 3, 2}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 3, 7, 5}};
    for (uint32_t k = 0; k < 6; k++)
        for (int half = 0; half < 2; half++)
            add_facing_out(m, k << 8 | 0xD0u, q[k][0], q[k][1 + half], q[k][2 + half], 0);
    mesh_finish(m);
    return m;
}

// A smooth ball of 8 meridians and 4 parallels plus the poles.
Mesh *ball_mesh(int32_t radius, uint32_t flags) {
    std::vector<int32_t> pos;
    for (int ring = 1; ring <= 4; ring++) {
        const int32_t lat = -360 + ring * 144, r = fixed_mul(radius, fixed_cos(lat));
        for (int k = 0; k < 8; k++)
            pos.insert(pos.end(), {fixed_mul(r, fixed_cos(k * 180)), fixed_mul(radius, fixed_sin(lat)),
                                   fixed_mul(r, fixed_sin(k * 180))});
    }
    pos.insert(pos.end(), {0, -radius, 0, 0, radius, 0});
    Mesh *m = mesh_create(nullptr, 34, 0, pos.data());
    for (int32_t k = 0; k < 8; k++) {
        const int32_t k1 = (k + 1) % 8;
        add_facing_out(m, flags, 32, k, k1, 1);
        for (int32_t a = k; a < 24; a += 8) {
            add_facing_out(m, flags, a, a - k + k1, a - k + k1 + 8, 1);
            add_facing_out(m, flags, a, a - k + k1 + 8, a + 8, 1);
        }
        add_facing_out(m, flags, 33, 24 + k, 24 + k1, 1);
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

TEST_F(Frame, FlatCube) {
    add(cube_mesh(512), 0, 0, 3000, 120, 200, 40);
    render();
    expect_golden("cube");
}

TEST_F(Frame, SmoothBalls) {
    camera_set_light(cam, -100, 100, -200, 40);
    add(ball_mesh(700, 0x4FFu), -200, 0, 2600, 30, 50, 0);
    add(ball_mesh(300, 0x6C0u), 700, 300, 4000);
    render();
    expect_golden("ball");
}

// A flat floor and a bent smooth wall that reach behind the eye, from a camera turned right and down.
TEST_F(Frame, FacesCrossingTheNearPlane) {
    add(two_triangles({-3000, 0, -2000, 3000, 0, -2000, -3000, 0, 9000, 3000, 0, 9000}, 0x2C0u, 0, {0, -1000, 0}), 0,
        -400, 0);
    add(two_triangles({600, -400, -1500, 600, 1000, -1500, 1500, -400, 6000, 300, 1000, 6000}, 0x5FFu, 1,
                      {5000, 300, 2000}),
        0, 0, 0);
    camera_set_angles(cam, 20, 40, 0, 0);
    camera_set_light(cam, -200, 100, -100, 40);
    render();
    expect_golden("near_plane");
}

// Sprites at their own size (z 65536), doubled, near and cut by the right edge, and behind a triangle.
TEST_F(Frame, SpritesAmongPolygons) {
    sprite("disc.bm", 0, -20000, 8000, 65536);
    sprite("disc.bm", 1, 0, 0, 65536);
    sprite("disc.bm", 0, 15500, -3000, 30000);
    sprite("disc.bm", 2, 26000, -4000, 120000);
    add(two_triangles({-30000, -20000, 0, 30000, -20000, 0, 0, 25000, 0}, 0x1FFu, 0, {0, 0, 10000}), 0, 0, 90000);
    render();
    expect_golden("sprites");
}

// Own size at z 65536; 2x2 blocks at half the depth or one exponent up; any exponent draws safely.
TEST_F(Frame, SpriteSizeFollowsDepthAndExponent) {
    auto opaque = [] { return std::count_if(BackBuffer, BackBuffer + SCREEN_SIZE, [](uint8_t v) { return v != 0; }); };
    Mesh *m = sprite("disc.bm", 0, 0, 0, 65536);
    render();
    const long one = opaque();
    EXPECT_GT(one, 150);
    mesh_set_position(m, 0, 0, 32768, 0);
    render();
    EXPECT_EQ(opaque(), 4 * one);
    mesh_set_position(m, 0, 0, 65536, 0);
    m->faces->flags |= 1u << FACE_SCALE_SHIFT;
    render();
    EXPECT_EQ(opaque(), 4 * one);
    mesh_set_position(m, 0, 0, 256, 0);
    for (uint32_t e = 0; e < 32; e++) {
        m->faces->flags = (m->faces->flags & ~FACE_SCALE_MASK) | e << FACE_SCALE_SHIFT;
        render();
    }
}

// Bitmaps are unlocked after drawing: a pool with room for one of two still serves frames of each.
TEST_F(Frame, SpriteBitmapIsUnlockedAfterDrawing) {
    res_init(400);
    write_bitmap("a.bm", 16, 16, std::vector<uint8_t>(8 + 256, 7));
    write_bitmap("b.bm", 16, 16, std::vector<uint8_t>(8 + 256, 8));
    Mesh *a = sprite("a.bm", 0, 0, 0, 65536), *b = sprite("b.bm", 0, 0, 0, 65536);
    for (int i = 0; i < 3; i++) {
        mesh_set_position(i % 2 ? a : b, 0, 0, 1 << 30, 0);
        mesh_set_position(i % 2 ? b : a, 0, 0, 65536, 0);
        render();
        EXPECT_EQ(std::count(BackBuffer + 100 * SCREEN_WIDTH, BackBuffer + 101 * SCREEN_WIDTH, i % 2 ? 8 : 7), 16);
    }
    EXPECT_EQ(res_check(), 1);
}

// Bitmap sizes from a file that do not fit it, or the scaled drawer, end the program naming it;
// a bitmap the cache cannot lock ends it through the cache.
TEST_F(FrameDeathTest, BadBitmapSizesEndTheProgram) {
    const struct {
        const char *name;
        int32_t w, h;
        size_t bytes;
    } bad[] = {{"short.bm", 16, 16, 8 + 255}, {"zero.bm", 0, 16, 72},        {"neg.bm", -4, -4, 72},
               {"wide.bm", 32768, 1, 72},     {"huge.bm", 65536, 65536, 72}, {"tiny.bm", 1, 1, 4}};
    for (const auto &b : bad) {
        write_bitmap(b.name, b.w, b.h, std::vector<uint8_t>(std::max<size_t>(b.bytes, 8), 7));
        std::filesystem::resize_file(std::string("lib/") + b.name, b.bytes);
        sprite(b.name, 0, 0, 0, 65536);
        EXPECT_EXIT(render(), ::testing::ExitedWithCode(1), "Fatal error: bitmap `[^']+' (is|has)") << b.name;
        cam->meshes = nullptr;
    }
    sprite("disc.bm", 0, 0, 0, 65536);
    res_shutdown();   // the lock comes first and fails as the cache's own
    EXPECT_EXIT(render(), ::testing::ExitedWithCode(1), "Fatal error: no loaded resources");
}

#ifndef POLYDRIVE_ASAN
TEST_F(Frame, FramesAllocateNothing) {
    sprite("disc.bm", 0, -20000, 8000, 65536);
    add(ball_mesh(700, 0x4FFu), -200, 0, 2600, 30, 50, 0);
    add(two_triangles({-3000, 0, -2000, 3000, 0, -2000, 3000, 0, 9000}, 0x2C0u, 0, {0, -1000, 0}), 0, -400, 0);
    render();   // the first frame reads the bitmap file
    const long before = allocation_calls;
    for (int i = 0; i < 500; i++) {
        camera_set_angles(cam, 0, 3, 0, 1);
        gfx_clear();
        render_frame(cam, i % 2);
        gfx_flip();
    }
    EXPECT_EQ(allocation_calls - before, 0);
}
#endif

}   // namespace
