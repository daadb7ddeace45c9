// World and model files: record order, bodies and flags, sprite bitmaps, and
// every malformed file ending with one line that names the resource.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "base/fatal.h"
#include "frame/game.h"
#include "render/camera.h"
#include "scene/mesh.h"
#include "scene/world.h"
#include "expect_fatal.h"
#include "world_bytes.h"

namespace {

namespace fs = std::filesystem;
using Flags = std::vector<uint32_t>;

void write(const std::string &name, const Bytes &bytes) {
    std::ofstream("lib/" + name, std::ios::binary) << std::string(bytes.begin(), bytes.end());
}
void load_lib() { world_load(res_register("level1.3dw"), &current_camera->meshes); }
void load(const Bytes &w) {
    write("level1.3dw", w);
    load_lib();
}
void fresh_level() {
    level_free();
    res_init(10240);
    current_camera = camera_create(300, 0, 0, 319, 199);
}
// The items of a linked list (bodies, meshes, faces), or a field of each.
template <class T, class F = std::identity>
auto items(T *head, F f = {}) {
    std::vector<std::decay_t<std::invoke_result_t<F, T *>>> out;
    for (; head != nullptr; head = head->next) out.push_back(std::invoke(f, head));
    return out;
}
bool all_unlocked() {   // every resource registered so far, and the cache consistent
    ResBlockInfo info[32];
    const int n = std::min(res_snapshot(info, 32), 32);
    return res_check() && std::all_of(info, info + n, [](auto &b) { return b.lock_count == 0; });
}

// A fresh level in a temporary directory whose lib/ holds a tetrahedron car.
struct WorldTest : testing::Test {
    void SetUp() override {
        char tmpl[] = "/tmp/polydrive-world-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        fs::create_directory(fs::path(tmpl) / "lib");
        fs::current_path(dir_ = tmpl);
        fresh_level();
        write("car1.3do", model({.verts = {{-50, 0, -100}, {50, 0, -100}, {0, 0, 100}, {0, 60, 0}},
                                 .flat = {{0x0520, 0, 1, 3}, {0x0520, 1, 2, 3}},
                                 .smooth = {{0x0520, 2, 0, 3}},
                                 .mass = 77}));
    }
    void TearDown() override {
        fatal_set_hook(nullptr);
        level_free();
        res_shutdown();
        fs::current_path(old_cwd_);
        fs::remove_all(dir_);
    }
    fs::path old_cwd_ = fs::current_path(), dir_;
};

}   // namespace

// Little-endian words; strings of at most 125 characters; neither reads past its resource.
TEST_F(WorldTest, StreamReadsAreBoundedByTheirResource) {
    write("data", Bytes{}.i(1));
    const ResourceId id = res_register("data");
    const auto at = [id](const Bytes &b, size_t n) { return ByteCursor{&b[0], &b[0] + n, id}; };
    const Bytes words{0xFF, 0xFF, 0xFF, 0xFF, 0x03, 0, 0, 0, 0x78, 0x56, 0x34, 0x12, 0, 0, 0, 0x80};
    ByteCursor c = at(words, 16);
    for (int32_t want : {-1, 3, 0x12345678, INT32_MIN}) EXPECT_EQ(stream_read_int(&c), want);
    const std::string ends_early = "Fatal error: resource `data' ends too early\n";
    EXPECT_FATAL(c = at(words, 3); stream_read_int(&c), ends_early);
    const std::string longest(125, 'x');
    const Bytes ok = Bytes{}.s(longest).i(9), too_long = Bytes{}.s(longest + 'x');
    c = at(ok, ok.size());
    EXPECT_EQ(stream_read_string(&c), longest);
    EXPECT_EQ(stream_read_int(&c), 9);
    EXPECT_FATAL(c = at(too_long, 127); stream_read_string(&c), "Fatal error: string too long\n");
    EXPECT_FATAL(c = at(ok, 100); stream_read_string(&c), ends_early);
}

// Records load in order: the end mark alone loads nothing (nothing after it is read); a start
// record's car takes its place among the bodies but not in the camera's list; names decide flags.
TEST_F(WorldTest, RecordsLoadInOrderCarsAreNotDrawnAndNamesDecideFlags) {
    load(Bytes{}.i(-1).i(12345));
    EXPECT_EQ(body_list, nullptr);
    EXPECT_EQ(current_camera->meshes, nullptr);
    EXPECT_TRUE(all_unlocked());
    fresh_level();
    Bytes w;
    object(w, {.pos = {100, 200, 300}, .ang = {10, 20, 30}, .name = "A", .mass = 5});
    w.i(0).v({1000, 0, -500}).v({0, 360, 0}).s("Human1");   // a start record
    load(world({{.name = "B", .mass = 6}}, w));
    const std::vector<Body *> list = items(body_list);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(items(body_list, &Body::mass), (std::vector{5, 77, 6}));
    EXPECT_EQ(items(body_list, &Body::flags), (Flags{0, 0x2001, 0}));
    EXPECT_EQ(items(current_camera->meshes), (std::vector<Mesh *>{list[0]->mesh, list[2]->mesh}));
    for (Body *b : list) {   // each owns its mesh; what the loader does not set starts at 0
        EXPECT_EQ(b->mesh->owner, b);
        EXPECT_EQ((b->heading | b->steer_rate | b->vx | b->vz | b->collided), 0);
    }
    const Mesh *a = list[0]->mesh, *car = list[1]->mesh;
    EXPECT_EQ((std::array{a->x, a->z, a->angle_y, car->x, car->z, car->angle_y}),
              (std::array{100, 300, 20, 1000, -500, 360}));
    EXPECT_EQ(items(car->faces).size(), 3u);
    EXPECT_TRUE(all_unlocked());
    // Human2, HumanX: above the top player; "Human": NUL - '0' = -48; one digit twice: two cars.
    fresh_level();
    w = {};
    for (const char *name : {"Human0", "Human2", "HumanX", "Robot1", "Human", "Human1", "Human1"})
        w.i(0, 0, 0, 0, 0, 0, 0).s(name);
    load(world({{.name = "after"}}, w));
    EXPECT_EQ(items(body_list, &Body::flags), (Flags{0x2000, 0x2000 - 48, 0x2001, 0x2001, 0}));
    EXPECT_EQ(items(current_camera->meshes).size(), 1u);
    EXPECT_TRUE(all_unlocked());
    fresh_level();
    load(world({{.name = "Statics"},
                {.name = "statics"},
                {.name = "STATICS"},
                {.name = "Statics2"},
                {.name = "Static"},
                {.name = ""}}));
    EXPECT_EQ(items(body_list, &Body::flags), (Flags{0x1000, 0, 0, 0, 0, 0}));
}

// The smooth bit comes from a face's group. A sprite object's name other than "" and "Statics"
// names its bitmap (without flat faces the first smooth face decides); other flags stay as stored.
TEST_F(WorldTest, FaceFlagWordsAndSpriteBitmaps) {
    write("other.bm", Bytes{}.i(0));
    for (const char *name : {"tree.bm", "lamp.bm"}) write(name, Bytes{}.i(1, 1).raw({7}));
    const uint32_t other = res_register("other.bm");
    const uint32_t stored = FACE_SPRITE | 0x00010000 | 0x0042, sprite = FACE_SPRITE;
    load(world({{.verts = {{0, 0, 0}, {256, 0, 0}, {0, 256, 0}, {256, 256, 0}},
                 .flat = {{0x20000310, 0, 1, 2}},
                 .smooth = {{0x0310, 1, 3, 2}, {0x20000311, 1, 3, 2}}},
                {.verts = {{0, 0, 0}}, .flat = {{stored, 0, 99, -7}}, .name = ""},   // one corner
                {.verts = {{0, 0, 0}}, .flat = {{stored, 0, 99, -7}}, .name = "Statics"},
                {.name = "no-such-file.bm"},   // a polygon object's name is only a name
                {.verts = {{0, 0, 0}, {0, 100, 0}, {50, 0, 0}},
                 .flat = {{sprite | 0x00030000 | 0xBEEF, 0, 0, 0}, {0x0310, 0, 2, 1}},
                 .smooth = {{sprite | 0x00050000, 1, 0, 0}},
                 .name = "tree.bm"},
                {.verts = {{0, 0, 0}}, .flat = {}, .smooth = {{sprite | 0xFFFF, 0, 0, 0}}, .name = "lamp.bm"}}));
    const std::vector<Body *> list = items(body_list);
    ASSERT_EQ(list.size(), 6u);
    const auto faces = [&list](size_t k) { return items(list[k]->mesh->faces, &Face::flags); };
    EXPECT_EQ(faces(0), (Flags{0x0310, 0x20000310, 0x20000311}));
    EXPECT_EQ(faces(1), Flags{stored});
    EXPECT_EQ(faces(2), Flags{stored});
    EXPECT_EQ(list[2]->flags, BODY_STATIC);
    const uint32_t t = res_register("tree.bm"), l = res_register("lamp.bm");
    EXPECT_NE(t, other);
    EXPECT_NE(l, t);
    EXPECT_NE(l, other);
    const uint32_t smooth = FACE_SMOOTH | sprite;
    EXPECT_EQ(faces(4), (Flags{sprite | 0x00030000 | t, 0x0310, smooth | 0x00050000 | t}));
    EXPECT_EQ(faces(5), Flags{smooth | l});
    EXPECT_TRUE(all_unlocked());
}

// What follows "Fatal error: resource `level1.3dw'" for each damaged world file.
TEST_F(WorldTest, MalformedFilesEndWithOneLineNamingThem) {
    const Bytes good = world({Obj{}});
    const auto head = [&good](long n) { return Bytes(good.begin(), good.end() - n); };
    const Bytes no_vertices = Bytes{}.i(3, 0).raw(std::vector<uint8_t>(36));
    const std::pair<Bytes, std::string> cases[] = {
        {Bytes{}, " ends too early"},
        {head(4), " ends too early"},                                // no end mark
        {head(11), " ends too early"},                               // cut in the name
        {Bytes(good.begin(), good.begin() + 20), ": bad count 3"},   // cut in the vertices
        {Bytes{}.i(-2), ": bad count -2"},
        {Bytes{no_vertices}.i(1000000), ": bad count 1000000"},   // faces past the end
        {Bytes{no_vertices}.i(0).i(-1), ": bad count -1"},
        {world({{.spare = -1}}), ": bad count -1"},
        {world({{.spare = 100000}}), ": bad count 100000"},
        {world({{.flat = {{0x0310, 0, 1, 3}}}}), ": face index 3 out of range"},
        {world({{.flat = {{0x0310, -1, 1, 2}}}}), ": face index -1 out of range"},
        {world({{.flat = {{FACE_SPRITE, 3, 0, 0}}}}), ": face index 3 out of range"},
        {world({{.flat = {}}}), ": object with no face"},
        {world({{.mass = 0}}), ": mass 0 is not positive"},
        {world({{.mass = -5}}), ": mass -5 is not positive"},
        {Bytes{}.i(0, 0, 0, 0, 0, 0, 0).raw({'H', 'u'}), " ends too early"},
    };
    for (const auto &[bytes, message] : cases)
        EXPECT_FATAL(load(bytes), "Fatal error: resource `level1.3dw'" + message + "\n");
    Bytes human, padded = human.i(0, 0, 0, 0, 0, 0, 0).s("Human0").i(-1);
    padded.resize(10200, 0);   // world and car must fit the pool; padding is never read
    EXPECT_FATAL(load(padded), "Fatal error: all blocks are locked\n");
    padded.resize(10241, 0);
    EXPECT_FATAL(load(padded), "Fatal error: resource `level1.3dw' too big\n");
    Bytes cut = model(Obj{});   // a cut car, then none (kept files hold more damaged cars)
    cut.resize(cut.size() - 2);
    write("car1.3do", cut);
    EXPECT_FATAL(load(human), "Fatal error: resource `car1.3do' ends too early\n");
    fs::remove("lib/car1.3do");
    EXPECT_FATAL(load(human), "Fatal error: cannot load resource `car1.3do'\n");
    // Through a throwing hook a fatal error leaves only whole records, for a harness to free.
    fatal_set_hook([](const char *message) { throw std::string(message); });
    std::string message;
    try {
        load(world({Obj{}, {.mass = 0}}));
    } catch (const std::string &e) { message = e; }
    EXPECT_EQ(message, "resource `level1.3dw': mass 0 is not positive");
    ASSERT_EQ(items(body_list).size(), 1u);
    EXPECT_EQ(items(current_camera->meshes), std::vector<Mesh *>{body_list->mesh});
}

// The shipped level loads; so does each folder of lib/ files kept under tests/data/files
// from hand-made damage and fuzzing, or it ends with the line its expect.txt holds.
TEST_F(WorldTest, ShippedAndKeptFiles) {
    std::vector<fs::path> dirs{POLYDRIVE_SOURCE_DIR "/lib"};
    for (const auto &kept : fs::directory_iterator(POLYDRIVE_SOURCE_DIR "/tests/data/files"))
        dirs.push_back(kept.path());
    for (const fs::path &dir : dirs) {
        std::string expect = "loads";   // kept unless an expect.txt is read
        std::getline(std::ifstream(dir / "expect.txt"), expect);
        fresh_level();
        fs::remove_all("lib");
        fs::copy(dir, "lib");
        if (expect == "loads")
            load_lib();
        else
            EXPECT_FATAL(load_lib(), "Fatal error: " + expect + "\n") << dir;
        if (expect != "loads") continue;
        const Flags flags = items(body_list, &Body::flags);
        const auto cars = std::ranges::count_if(flags, [](uint32_t f) { return f & BODY_HUMAN; });
        EXPECT_GE(cars, 1) << dir;
        EXPECT_TRUE(all_unlocked()) << dir;
        EXPECT_EQ(items(current_camera->meshes).size(), flags.size() - cars) << dir;
    }
}
