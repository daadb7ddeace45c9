// World and model files: record order, bodies and flags, sprite bitmaps, and
// every malformed file ending with one line that names the resource.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <array>
#include <stdexcept>
#include <string>
#include <vector>

#include "frame/fatal.h"
#include "frame/game.h"
#include "render/camera.h"
#include "res/res.h"
#include "scene/mesh.h"
#include "scene/world.h"

namespace {

namespace fs = std::filesystem;

// The program's one line goes to standard output; the death test reads the
// child's standard error, so the child sends both to the same place.
#define EXPECT_FATAL(statement, regex)                                           \
    EXPECT_EXIT(                                                                 \
        {                                                                        \
            dup2(STDERR_FILENO, STDOUT_FILENO);                                  \
            statement;                                                           \
        },                                                                       \
        ::testing::ExitedWithCode(1), regex)

// Little-endian words and NUL-terminated strings.
struct Bytes {
    std::vector<uint8_t> b;
    Bytes &i(int32_t v) {
        const auto u = static_cast<uint32_t>(v);
        for (int k = 0; k < 4; ++k) b.push_back(static_cast<uint8_t>(u >> (8 * k)));
        return *this;
    }
    Bytes &s(const std::string &text) {
        b.insert(b.end(), text.begin(), text.end());
        b.push_back(0);
        return *this;
    }
    Bytes &raw(const std::vector<uint8_t> &more) {
        b.insert(b.end(), more.begin(), more.end());
        return *this;
    }
};

struct FaceRec {
    uint32_t flags;
    int32_t a, b, c;
};

// One object: a triangle facing +z unless told otherwise.
struct Obj {
    std::vector<std::array<int32_t, 3>> verts{{0, 0, 0}, {256, 0, 0}, {0, 256, 0}};
    int32_t spare = 4;
    std::vector<FaceRec> flat{{0x0310, 0, 1, 2}};
    std::vector<FaceRec> smooth;
    std::array<int32_t, 3> pos{0, 0, 0}, ang{0, 0, 0};
    std::string name = "thing";
    int32_t mass = 10;
};

// Everything from the spare slot count to the smooth faces; the vertex count
// before it is the caller's (in a world file it is the record's kind word).
void put_shape(Bytes &out, const Obj &o) {
    out.i(o.spare);
    for (const auto &v : o.verts) out.i(v[0]).i(v[1]).i(v[2]);
    for (const auto *group : {&o.flat, &o.smooth}) {
        out.i(static_cast<int32_t>(group->size()));
        for (const FaceRec &f : *group) out.i(static_cast<int32_t>(f.flags)).i(f.a).i(f.b).i(f.c);
    }
}

Bytes &object(Bytes &out, const Obj &o) {
    put_shape(out, o);
    for (int32_t v : o.pos) out.i(v);
    for (int32_t v : o.ang) out.i(v);
    return out.s(o.name).i(o.mass);
}

Bytes &start(Bytes &out, const std::string &name, std::array<int32_t, 3> pos = {0, 0, 0},
             std::array<int32_t, 3> ang = {0, 0, 0}) {
    out.i(0);
    for (int32_t v : pos) out.i(v);
    for (int32_t v : ang) out.i(v);
    return out.s(name);
}

Bytes model(const Obj &o) {
    Bytes out;
    out.i(static_cast<int32_t>(o.verts.size()));
    put_shape(out, o);
    out.i(o.mass);
    return out;
}

class WorldTest : public ::testing::Test {
protected:
    void SetUp() override {
        old_cwd_ = fs::current_path();
        char tmpl[] = "/tmp/polydrive-world-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        fs::create_directory(dir_ / "lib");
        fs::current_path(dir_);
        res_init(10240);
        current_camera = camera_create(300, 0, 0, 319, 199);
        Obj car;
        car.verts = {{-50, 0, -100}, {50, 0, -100}, {0, 0, 100}, {0, 60, 0}};
        car.flat = {{0x0520, 0, 1, 3}, {0x0520, 1, 2, 3}};
        car.smooth = {{0x0520, 2, 0, 3}};
        car.mass = 77;
        write("car1.3do", model(car));
    }
    void TearDown() override {
        fatal_set_hook(nullptr);
        level_free();
        res_shutdown();
        fs::current_path(old_cwd_);
        fs::remove_all(dir_);
    }

    static void write(const std::string &name, const Bytes &bytes) {
        std::ofstream out("lib/" + name, std::ios::binary);
        out.write(reinterpret_cast<const char *>(bytes.b.data()),
                  static_cast<std::streamsize>(bytes.b.size()));
    }
    static void load(const Bytes &world) {
        write("level1.3dw", world);
        world_load(res_register("level1.3dw"));
    }
    static std::vector<Body *> bodies() {
        std::vector<Body *> out;
        for (Body *b = body_list; b != nullptr; b = b->next) out.push_back(b);
        return out;
    }
    static std::vector<Mesh *> drawn() {
        std::vector<Mesh *> out;
        for (Mesh *m = current_camera->meshes; m != nullptr; m = m->next) out.push_back(m);
        return out;
    }
    static std::vector<uint32_t> body_flags() {
        std::vector<uint32_t> out;
        for (const Body *b = body_list; b != nullptr; b = b->next) out.push_back(b->flags);
        return out;
    }
    static std::vector<uint32_t> face_flags(const Mesh *m) {
        std::vector<uint32_t> out;
        for (const Face *f = m->faces; f != nullptr; f = f->next) out.push_back(f->flags);
        return out;
    }
    // Every resource registered so far is unlocked.
    static bool all_unlocked() {
        ResBlockInfo info[32];
        const int n = res_snapshot(info, 32);
        for (int k = 0; k < n && k < 32; ++k)
            if (info[k].lock_count != 0) return false;
        return true;
    }

    fs::path old_cwd_, dir_;
};

// ---------------------------------------------------------------- readers

using StreamReaders = WorldTest;

// Little-endian two's complement words; strings of at most 125 characters;
// neither reads past the end of its resource.
TEST_F(StreamReaders, BoundedReads) {
    write("data", Bytes{}.i(1));
    const ResourceId id = res_register("data");
    const std::vector<uint8_t> bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x03, 0x00, 0x00, 0x00,
                                     0x78, 0x56, 0x34, 0x12, 0x00, 0x00, 0x00, 0x80};
    ByteCursor c{bytes.data(), bytes.data() + bytes.size(), id};
    EXPECT_EQ((std::array{stream_read_int(&c), stream_read_int(&c), stream_read_int(&c),
                          stream_read_int(&c)}),
              (std::array{-1, 3, 0x12345678, INT32_MIN}));
    ByteCursor three{bytes.data(), bytes.data() + 3, id};
    EXPECT_FATAL(stream_read_int(&three), "Fatal error: resource `data' ends too early\n");

    const std::string longest(125, 'x');
    const Bytes ok = Bytes{}.s(longest).i(9);
    ByteCursor d{ok.b.data(), ok.b.data() + ok.b.size(), id};
    EXPECT_EQ(stream_read_string(&d), longest);
    EXPECT_EQ(stream_read_int(&d), 9);
    const Bytes too_long = Bytes{}.s(std::string(126, 'x'));
    ByteCursor e{too_long.b.data(), too_long.b.data() + too_long.b.size(), id};
    EXPECT_FATAL(stream_read_string(&e), "Fatal error: string too long\n");
    ByteCursor open_ended{ok.b.data(), ok.b.data() + 100, id};
    EXPECT_FATAL(stream_read_string(&open_ended), "Fatal error: resource `data' ends too early\n");
}

// ---------------------------------------------------------------- records

using WorldRecords = WorldTest;

TEST_F(WorldRecords, EndMarkAloneLoadsNothing) {
    load(Bytes{}.i(-1).i(12345));   // nothing after the end mark is read
    EXPECT_EQ(body_list, nullptr);
    EXPECT_EQ(current_camera->meshes, nullptr);
    EXPECT_TRUE(all_unlocked());
    EXPECT_TRUE(res_check());
}

TEST_F(WorldRecords, CarsTakeThePlaceOfTheirStartRecords) {
    Obj a, b;
    a.name = "A";
    a.mass = 5;
    a.pos = {100, 200, 300};
    a.ang = {10, 20, 30};
    b.name = "B";
    b.mass = 6;
    Bytes w;
    object(w.i(3), a);
    start(w, "Human1", {1000, 0, -500}, {0, 360, 0});
    object(w.i(3), b).i(-1);
    load(w);

    const std::vector<Body *> list = bodies();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0]->mass, 5);
    EXPECT_EQ(list[1]->flags, 0x2001u);
    EXPECT_EQ(list[1]->mass, 77);
    EXPECT_EQ(list[2]->mass, 6);
    // The player's own car is not drawn.
    EXPECT_EQ(drawn(), (std::vector<Mesh *>{list[0]->mesh, list[2]->mesh}));

    for (Body *body : list) {
        EXPECT_EQ(body->mesh->owner, body);
        // Everything the loader does not set starts at 0.
        EXPECT_EQ((std::array{body->heading, body->steer_rate, body->vx, body->vz, body->collided}),
                  (std::array{0, 0, 0, 0, 0}));
    }
    EXPECT_EQ(list[0]->flags, 0u);
    EXPECT_EQ((std::array{list[0]->mesh->x, list[0]->mesh->z, list[0]->mesh->angle_y}),
              (std::array{100, 300, 20}));
    const Mesh *car = list[1]->mesh;
    EXPECT_EQ((std::array{car->x, car->z, car->angle_y}), (std::array{1000, -500, 360}));
    EXPECT_EQ(face_flags(car).size(), 3u);
    EXPECT_TRUE(all_unlocked());
    EXPECT_TRUE(res_check());
}

TEST_F(WorldRecords, ShippedLevelLoads) {
    for (const auto &f : fs::directory_iterator(fs::path(POLYDRIVE_SOURCE_DIR) / "lib"))
        fs::copy_file(f.path(), "lib" / f.path().filename(), fs::copy_options::overwrite_existing);
    world_load(res_register("level1.3dw"));
    int cars = 0;
    for (const Body *b : bodies()) cars += (b->flags & BODY_HUMAN) != 0;
    EXPECT_GE(cars, 1);
    EXPECT_EQ(drawn().size(), bodies().size() - static_cast<size_t>(cars));
    EXPECT_TRUE(all_unlocked());
    EXPECT_TRUE(res_check());
}

TEST_F(WorldRecords, PlayerDigits) {
    Obj after;
    after.name = "after";
    Bytes w;
    start(w, "Human0");
    start(w, "Human2");    // above the highest player
    start(w, "HumanX");    // 'X' - '0' is above it too
    start(w, "Robot1");
    start(w, "Human");     // NUL - '0' = -48, no lower bound
    start(w, "Human1");
    start(w, "Human1");    // the same player twice: two cars
    object(w.i(3), after).i(-1);
    load(w);
    EXPECT_EQ(body_flags(), (std::vector<uint32_t>{0x2000, 0x2000 - 48, 0x2001, 0x2001, 0}));
    EXPECT_EQ(drawn().size(), 1u);
    EXPECT_TRUE(all_unlocked());
}

TEST_F(WorldRecords, StaticsNameIsExact) {
    Bytes w;
    for (const char *name : {"Statics", "statics", "STATICS", "Statics2", "Static", ""}) {
        Obj o;
        o.name = name;
        object(w.i(3), o);
    }
    load(w.i(-1));
    EXPECT_EQ(body_flags(), (std::vector<uint32_t>{0x1000, 0, 0, 0, 0, 0}));
}

TEST_F(WorldRecords, SmoothnessComesFromTheGroup) {
    Obj o;
    o.verts.push_back({256, 256, 0});
    o.flat = {{0x20000310, 0, 1, 2}};
    o.smooth = {{0x0310, 1, 3, 2}, {0x20000311, 1, 3, 2}};
    load(object(Bytes{}.i(4), o).i(-1));
    EXPECT_EQ(face_flags(body_list->mesh),
              (std::vector<uint32_t>{0x0310, 0x20000310, 0x20000311}));
}

// ---------------------------------------------------------------- sprites

using SpriteBitmaps = WorldTest;

TEST_F(SpriteBitmaps, NameRegistersTheBitmap) {
    write("other.bm", Bytes{}.i(0));
    write("tree.bm", Bytes{}.i(1).i(1).raw({7}));
    write("lamp.bm", Bytes{}.i(1).i(1).raw({7}));
    const ResourceId other = res_register("other.bm");
    Obj tree, lamp;
    tree.verts = {{0, 0, 0}, {0, 100, 0}, {50, 0, 0}};
    tree.flat = {{FACE_SPRITE | 0x00030000 | 0xBEEF, 0, 0, 0}, {0x0310, 0, 2, 1}};
    tree.smooth = {{FACE_SPRITE | 0x00050000, 1, 0, 0}};
    tree.name = "tree.bm";
    // Without flat faces the first smooth face decides.
    lamp.verts = {{0, 0, 0}};
    lamp.flat = {};
    lamp.smooth = {{FACE_SPRITE | 0x0000FFFF, 0, 0, 0}};
    lamp.name = "lamp.bm";
    Bytes w;
    object(w.i(3), tree);
    load(object(w.i(1), lamp).i(-1));
    const auto t = static_cast<uint32_t>(res_register("tree.bm"));
    const auto l = static_cast<uint32_t>(res_register("lamp.bm"));
    EXPECT_TRUE(t != static_cast<uint32_t>(other) && l != t);
    EXPECT_EQ(face_flags(body_list->mesh),
              (std::vector<uint32_t>{FACE_SPRITE | 0x00030000 | t, 0x0310,
                                     FACE_SMOOTH | FACE_SPRITE | 0x00050000 | t}));
    EXPECT_EQ(face_flags(body_list->next->mesh),
              (std::vector<uint32_t>{FACE_SMOOTH | FACE_SPRITE | l}));
    EXPECT_TRUE(res_check());
}

TEST_F(SpriteBitmaps, OtherObjectsKeepTheirFlagWords) {
    const uint32_t stored = FACE_SPRITE | 0x00010000 | 0x0042;
    Bytes w;
    Obj unnamed, statics, polygon;
    unnamed.verts = statics.verts = {{0, 0, 0}};
    // A sprite face reads only its first corner.
    unnamed.flat = statics.flat = {{stored, 0, 99, -7}};
    unnamed.name = "";
    statics.name = "Statics";
    // A polygon object's name is only a name: no file is looked for.
    polygon.name = "no-such-file.bm";
    object(w.i(1), unnamed);
    object(w.i(1), statics);
    object(w.i(3), polygon).i(-1);
    load(w);
    const std::vector<Body *> list = bodies();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(face_flags(list[0]->mesh), std::vector<uint32_t>{stored});
    EXPECT_EQ(face_flags(list[1]->mesh), std::vector<uint32_t>{stored});
    EXPECT_EQ(list[1]->flags, BODY_STATIC);
    ResBlockInfo info[8];
    const int n = res_snapshot(info, 8);
    int resources = 0;
    for (int k = 0; k < n; ++k) resources += info[k].id >= 0;
    EXPECT_EQ(resources, 1);   // the world file alone
}

TEST_F(SpriteBitmaps, MissingBitmapEndsTheLoad) {
    Obj o;
    o.verts = {{0, 0, 0}};
    o.flat = {{FACE_SPRITE, 0, 0, 0}};
    o.name = "nope.bm";
    EXPECT_FATAL(load(object(Bytes{}.i(1), o).i(-1)),
                 "Fatal error: cannot load resource `nope.bm'\n");
}

// ---------------------------------------------------------------- damage

// A good object with one thing changed, as a whole world.
Bytes with(void (*change)(Obj &)) {
    Obj o;
    change(o);
    Bytes w;
    return object(w.i(3), o).i(-1);
}

using MalformedFiles = WorldTest;

TEST_F(MalformedFiles, WorldFilesEndWithOneLineNamingThem) {
    Bytes good;
    object(good.i(3), Obj{});
    const auto head = [&good](long n) { return Bytes{}.raw({good.b.begin(), good.b.begin() + n}); };
    const Bytes no_vertices = Bytes{}.i(3).i(0).raw(std::vector<uint8_t>(36));
    // What follows "Fatal error: resource `level1.3dw'" for each damaged file.
    const std::vector<std::pair<Bytes, const char *>> cases = {
        {Bytes{}, " ends too early"},
        {good, " ends too early"},                                      // no end mark
        {head(static_cast<long>(good.b.size()) - 7), " ends too early"},   // cut in the name
        {head(20), ": bad count 3"},                                    // cut in the vertices
        {Bytes{}.i(-2), ": bad count -2"},
        {Bytes{no_vertices}.i(1000000), ": bad count 1000000"},         // faces past the end
        {Bytes{no_vertices}.i(0).i(-1), ": bad count -1"},
        {with([](Obj &o) { o.spare = -1; }), ": bad count -1"},
        {with([](Obj &o) { o.spare = 100000; }), ": bad count 100000"},
        {with([](Obj &o) { o.flat[0].c = 3; }), ": face index 3 out of range"},
        {with([](Obj &o) { o.flat[0].a = -1; }), ": face index -1 out of range"},
        {with([](Obj &o) { o.flat[0] = {FACE_SPRITE, 3, 0, 0}; }), ": face index 3 out of range"},
        {with([](Obj &o) { o.flat.clear(); }), ": object with no face"},
        {with([](Obj &o) { o.mass = 0; }), ": mass 0 is not positive"},
        {with([](Obj &o) { o.mass = -5; }), ": mass -5 is not positive"},
        {Bytes{}.i(0).i(0).i(0).i(0).i(0).i(0).i(0).raw({'H', 'u'}), " ends too early"},
    };
    for (size_t k = 0; k < cases.size(); ++k) {
        EXPECT_FATAL(load(cases[k].first),
                     std::string("Fatal error: resource `level1.3dw'") + cases[k].second + "\n")
            << "case " << k;
    }
}

TEST_F(MalformedFiles, ModelFilesEndWithOneLine) {
    Bytes w;
    start(w, "Human0").i(-1);
    Obj faceless;
    faceless.flat.clear();
    write("car1.3do", model(faceless));
    EXPECT_FATAL(load(w), "Fatal error: resource `car1.3do': object with no face\n");
    Obj weightless;
    weightless.mass = 0;
    write("car1.3do", model(weightless));
    EXPECT_FATAL(load(w), "Fatal error: resource `car1.3do': mass 0 is not positive\n");
    Bytes cut = model(Obj{});
    cut.b.erase(cut.b.end() - 2, cut.b.end());
    write("car1.3do", cut);
    EXPECT_FATAL(load(w), "Fatal error: resource `car1.3do' ends too early\n");
    fs::remove("lib/car1.3do");
    EXPECT_FATAL(load(w), "Fatal error: cannot load resource `car1.3do'\n");
}

TEST_F(MalformedFiles, WorldAndCarMustFitThePoolTogether) {
    Bytes w;
    start(w, "Human0").i(-1);
    w.b.resize(10200, 0);   // padding after the end mark is never read
    EXPECT_FATAL(load(w), "Fatal error: all blocks are locked\n");
    w.b.resize(10241, 0);
    EXPECT_FATAL(load(w), "Fatal error: resource `level1.3dw' too big\n");
}

// With a hook that throws, a fatal error leaves the level's lists holding only
// whole records, so a harness can free them and go on.
TEST_F(MalformedFiles, ThrowingHookLeavesOnlyWholeRecords) {
    fatal_set_hook([](const char *message) { throw std::runtime_error(message); });
    Obj good, bad;
    bad.mass = 0;
    Bytes w;
    object(w.i(3), good);
    object(w.i(3), bad).i(-1);
    std::string message;
    try {
        load(w);
    } catch (const std::runtime_error &e) {
        message = e.what();
    }
    EXPECT_EQ(message, "resource `level1.3dw': mass 0 is not positive");
    ASSERT_EQ(bodies().size(), 1u);
    EXPECT_EQ(drawn(), std::vector<Mesh *>{body_list->mesh});
}

// ---------------------------------------------------------------- regressions

// tests/data/files/<case>/ holds lib/ files kept from hand-made damage and
// fuzzing; expect.txt in each folder is the line the load must end with, or
// "loads" for a file that must load.
TEST_F(MalformedFiles, KeptFiles) {
    const fs::path root = fs::path(POLYDRIVE_SOURCE_DIR) / "tests/data/files";
    if (!fs::exists(root)) GTEST_SKIP() << "no kept files";
    for (const auto &dir : fs::directory_iterator(root)) {
        if (!dir.is_directory()) continue;
        std::ifstream expect_file(dir.path() / "expect.txt");
        std::string expect;
        std::getline(expect_file, expect);
        // A fresh cache and level for each case.
        level_free();
        res_init(10240);
        current_camera = camera_create(300, 0, 0, 319, 199);
        fs::remove_all("lib");
        fs::create_directory("lib");
        for (const auto &f : fs::directory_iterator(dir.path()))
            if (f.path().filename() != "expect.txt") fs::copy_file(f.path(), "lib" / f.path().filename());
        if (expect == "loads") {
            world_load(res_register("level1.3dw"));
            EXPECT_NE(body_list, nullptr) << dir.path();
            EXPECT_TRUE(all_unlocked()) << dir.path();
            EXPECT_TRUE(res_check()) << dir.path();
        } else {
            EXPECT_FATAL(world_load(res_register("level1.3dw")), "Fatal error: " + expect + "\n")
                << dir.path();
        }
    }
}

}  // namespace
