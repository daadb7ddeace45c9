// Driving from the keyboard, box overlaps and the velocity exchange.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "frame/drive.h"
#include "frame/fatal.h"
#include "frame/game.h"
#include "platform/headless/headless.h"
#include "platform/kbd.h"
#include "platform/video.h"
#include "render/camera.h"
#include "scene/mesh.h"

namespace {

// ---------------------------------------------------------------- keyboard

// Keys reach the table through the headless queue, delivered inside the next
// poll, as they do in the program.
void press(int key) { headless_queue_key(key, 1); }
void release(int key) { headless_queue_key(key, 0); }

class Driving : public ::testing::Test {
protected:
    void SetUp() override {
        headless_reset();
        kbd_init();
        body = Body{};
    }
    void TearDown() override { kbd_shutdown(); }

    // Runs vehicle_drive n times and returns the heading after each frame.
    std::vector<int32_t> drive(int n) {
        std::vector<int32_t> headings;
        for (int i = 0; i < n; ++i) {
            vehicle_drive(&body);
            headings.push_back(body.heading);
        }
        return headings;
    }

    Body body;
};

// ---------------------------------------------------------------- steering

TEST_F(Driving, SmallRatesNeverTurnTheHeading) {
    for (int rate = -9; rate <= 9; ++rate) {
        body.heading = 100;
        body.steer_rate = rate;
        vehicle_drive(&body);
        EXPECT_EQ(body.heading, 100) << "rate " << rate;
    }
}

TEST_F(Driving, HeldLeftTurnsFirstInTheTenthFrameAndSaturatesAtForty) {
    press(KEY_LEFT);
    const std::vector<int32_t> h = drive(40);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(h[i], 0) << "frame " << i + 1;
    EXPECT_EQ(h[9], -1);   // the rate changes before the heading moves
    EXPECT_EQ(body.steer_rate, -40);
    drive(5);
    EXPECT_EQ(body.steer_rate, -40);
}

TEST_F(Driving, RateMinusTenTurnsOnlyWhileLeftIsHeld) {
    body.steer_rate = -10;
    vehicle_drive(&body);   // decays to -9 first: no turn
    EXPECT_EQ(body.heading, 0);
    EXPECT_EQ(body.steer_rate, -9);

    body.steer_rate = -10;
    press(KEY_LEFT);
    vehicle_drive(&body);   // builds to -11: turns by -1
    EXPECT_EQ(body.heading, -1);
}

TEST_F(Driving, HeadingRemainderKeepsTheDividendSign) {
    press(KEY_LEFT);
    body.heading = -1437;
    body.steer_rate = -40;
    vehicle_drive(&body);
    EXPECT_EQ(body.heading, -1);   // -1441 % 1440

    release(KEY_LEFT);
    press(KEY_RIGHT);
    body.heading = 1437;
    body.steer_rate = 40;
    vehicle_drive(&body);
    EXPECT_EQ(body.heading, 1);
}

TEST_F(Driving, ReleasedSteeringDecaysOneStepAFrame) {
    body.steer_rate = 40;
    drive(39);
    EXPECT_EQ(body.steer_rate, 1);
    drive(1);
    EXPECT_EQ(body.steer_rate, 0);
    drive(3);
    EXPECT_EQ(body.steer_rate, 0);

    body.steer_rate = -1;
    drive(1);
    EXPECT_EQ(body.steer_rate, 0);
}

TEST_F(Driving, ReversingDropsTheRateToZeroAndLeftWins) {
    body.steer_rate = 30;
    press(KEY_LEFT);
    vehicle_drive(&body);
    EXPECT_EQ(body.steer_rate, -1);

    release(KEY_LEFT);
    press(KEY_RIGHT);
    vehicle_drive(&body);
    EXPECT_EQ(body.steer_rate, 1);

    press(KEY_LEFT);   // both held
    vehicle_drive(&body);
    EXPECT_EQ(body.steer_rate, -1);
}

// ---------------------------------------------------------------- speed

TEST_F(Driving, ThreeFramesOfUpAtHeadingZeroGive96AndTheSpeedStays) {
    press(KEY_UP);
    drive(3);
    EXPECT_EQ(body.vx, 0);
    EXPECT_EQ(body.vz, 96);
    release(KEY_UP);
    drive(50);
    EXPECT_EQ(body.vx, 0);
    EXPECT_EQ(body.vz, 96);
}

TEST_F(Driving, AccelerationIsTheFlooredSineAndCosine) {
    press(KEY_UP);
    body.heading = 1;
    vehicle_drive(&body);
    EXPECT_EQ(body.vx, 0);
    EXPECT_EQ(body.vz, 31);

    body = Body{};
    body.heading = 1439;
    vehicle_drive(&body);
    EXPECT_EQ(body.vx, -1);
    EXPECT_EQ(body.vz, 31);

    body = Body{};
    body.heading = -360;   // a negative heading is a quarter turn back
    vehicle_drive(&body);
    EXPECT_EQ(body.vx, -32);
    EXPECT_EQ(body.vz, 0);
}

TEST_F(Driving, DownAcceleratesAgainstTheHeading) {
    press(KEY_DOWN);
    drive(2);
    EXPECT_EQ(body.vz, -64);
    EXPECT_EQ(body.vx, 0);
}

TEST_F(Driving, DigitOneWithUpLeavesTheCarAtRest) {
    body.vx = 500;
    body.vz = -7;
    press(KEY_UP);
    press(KEY_1);
    drive(4);
    EXPECT_EQ(body.vx, 0);
    EXPECT_EQ(body.vz, 0);
}

TEST_F(Driving, VelocityWrapsAtThirtyTwoBits) {
    body.vz = INT32_MAX;
    press(KEY_UP);
    vehicle_drive(&body);
    EXPECT_EQ(body.vz, INT32_MIN + 31);
}

// ---------------------------------------------------------------- boxes

// A mesh record with just the box fields set: enough for the overlap tests.
Mesh box(int32_t cx, int32_t cy, int32_t cz, int32_t ex, int32_t ey, int32_t ez,
         Body *owner = nullptr) {
    Mesh m{};
    m.world_centre[0] = cx;
    m.world_centre[1] = cy;
    m.world_centre[2] = cz;
    m.half_extent[0] = ex;
    m.half_extent[1] = ey;
    m.half_extent[2] = ez;
    m.owner = owner;
    return m;
}

TEST(BoxOverlap, TouchingFacesDoNotOverlapButClassifyAsZero) {
    const Mesh a = box(0, 0, 0, 10, 10, 10);
    const Mesh b = box(20, 0, 0, 10, 10, 10);   // a.hi == b.lo on x
    EXPECT_EQ(mesh_box_test(&a, &b, 0, 0, 0), 0);
    EXPECT_EQ(mesh_box_test(&a, &b, -1, 0, 0), 0);
    int rx = 9, ry = 9, rz = 9;
    mesh_box_classify(&a, &b, &rx, &ry, &rz);
    EXPECT_EQ(rx, 0);
    EXPECT_EQ(ry, 0);
    EXPECT_EQ(rz, 0);

    const Mesh c = box(19, 0, 0, 10, 10, 10);
    EXPECT_EQ(mesh_box_test(&a, &c, 0, 0, 0), 1);
}

TEST(BoxOverlap, SelectorsAskForSidesPerAxis) {
    const Mesh a = box(0, 0, 0, 5, 5, 5);
    const Mesh b = box(100, 0, -100, 5, 5, 5);
    EXPECT_EQ(mesh_box_test(&a, &b, -1, 0, 1), 1);
    EXPECT_EQ(mesh_box_test(&a, &b, 1, 0, 1), 0);
    EXPECT_EQ(mesh_box_test(&a, &b, -1, 0, -1), 0);
    EXPECT_EQ(mesh_box_test(&a, &b, -1, 2, 1), 0);   // no such relation
    int rx, ry, rz;
    mesh_box_classify(&a, &b, &rx, &ry, &rz);
    EXPECT_EQ(rx, -1);
    EXPECT_EQ(ry, 0);
    EXPECT_EQ(rz, 1);
}

TEST(BoxOverlap, ExtremeCoordinatesCompareWithoutWrapping) {
    // In 32 bits these spans would wrap and seem to overlap.
    const Mesh a = box(INT32_MAX, 0, 0, INT32_MAX, 1, 1);
    const Mesh b = box(INT32_MIN, 0, 0, INT32_MAX, 1, 1);
    EXPECT_EQ(mesh_box_test(&a, &b, 0, 0, 0), 0);
    EXPECT_EQ(mesh_box_test(&a, &b, 1, 0, 0), 1);
    int rx, ry, rz;
    mesh_box_classify(&a, &b, &rx, &ry, &rz);
    EXPECT_EQ(rx, 1);
    EXPECT_EQ(ry, 0);
}

// A camera record whose mesh list is built from the given meshes in order.
Camera list_of(std::vector<Mesh> &meshes) {
    Camera cam{};
    for (size_t i = 0; i + 1 < meshes.size(); ++i) meshes[i].next = &meshes[i + 1];
    if (!meshes.empty()) {
        meshes.back().next = nullptr;
        cam.meshes = &meshes[0];
    }
    return cam;
}

TEST(OverlapQuery, SkipsTheQueryMeshAndKeepsListOrder) {
    Body owners[3] = {};
    std::vector<Mesh> meshes = {box(0, 0, 0, 10, 10, 10, &owners[0]),
                                box(500, 0, 0, 10, 10, 10, &owners[1]),
                                box(5, 0, 0, 10, 10, 10, &owners[2])};
    const Camera cam = list_of(meshes);
    Body *found[OVERLAP_MAX] = {};
    EXPECT_EQ(camera_find_overlaps(&cam, &meshes[0], found), 1);
    EXPECT_EQ(found[0], &owners[2]);

    const Mesh outside = box(3, 0, 0, 1, 1, 1);   // not in the list
    EXPECT_EQ(camera_find_overlaps(&cam, &outside, found), 2);
    EXPECT_EQ(found[0], &owners[0]);
    EXPECT_EQ(found[1], &owners[2]);
}

TEST(OverlapQuery, NeverWritesMoreThanTheListHolds) {
    Body owners[14] = {};
    std::vector<Mesh> meshes;
    for (Body &o : owners) meshes.push_back(box(0, 0, 0, 10, 10, 10, &o));
    const Camera cam = list_of(meshes);
    const Mesh query = box(1, 1, 1, 2, 2, 2);
    Body *found[OVERLAP_MAX + 4];
    Body sentinel{};
    for (Body *&f : found) f = &sentinel;
    EXPECT_EQ(camera_find_overlaps(&cam, &query, found), OVERLAP_MAX);
    EXPECT_EQ(found[0], &owners[0]);
    for (int i = OVERLAP_MAX; i < OVERLAP_MAX + 4; ++i) EXPECT_EQ(found[i], &sentinel);
}

// ---------------------------------------------------------------- exchange

struct ExchangeRow {
    int32_t p_mass, o_mass, up, uo, p_after, o_after;
};

TEST(VelocityExchange, WorkedRowsOnEitherAxis) {
    const ExchangeRow rows[] = {
        {100, 100, 10, 0, 0, 10},  {100, 100, 10, -4, -4, 10}, {100, 300, 12, 0, -6, 6},
        {100, 300, 12, -4, -12, 4}, {300, 100, 12, 0, 6, 18},
    };
    for (const ExchangeRow &r : rows) {
        Body p{}, o{};
        p.mass = r.p_mass;
        o.mass = r.o_mass;
        p.vx = r.up;
        o.vx = r.uo;
        p.vz = r.up;
        o.vz = r.uo;
        body_collide(&p, &o);
        EXPECT_EQ(p.vx, r.p_after) << r.p_mass << "/" << r.o_mass << " " << r.up << "," << r.uo;
        EXPECT_EQ(o.vx, r.o_after);
        EXPECT_EQ(p.vz, r.p_after);
        EXPECT_EQ(o.vz, r.o_after);
        EXPECT_EQ(p.collided, 1);
        EXPECT_EQ(o.collided, 1);
    }
}

TEST(VelocityExchange, EqualMassesSwapBothComponents) {
    Body p{}, o{};
    p.mass = o.mass = 70;
    p.vx = 13;
    p.vz = -250;
    o.vx = -8;
    o.vz = 41;
    body_collide(&p, &o);
    EXPECT_EQ(p.vx, -8);
    EXPECT_EQ(p.vz, 41);
    EXPECT_EQ(o.vx, 13);
    EXPECT_EQ(o.vz, -250);
}

TEST(VelocityExchange, ImpossibleDivisorsSkipTheExchangeButMarkBoth) {
    // p's mass is the divisor of the ratio; -1 makes the ratio -256, and
    // R + 256 the divisor of the exchange.
    const int32_t cases[][2] = {{0, 100}, {-5, 100}, {1, -1}};
    for (const auto &c : cases) {
        Body p{}, o{};
        p.mass = c[0];
        o.mass = c[1];
        p.vx = 7;
        o.vz = 9;
        body_collide(&p, &o);
        EXPECT_EQ(p.vx, 7);
        EXPECT_EQ(o.vz, 9);
        EXPECT_EQ(p.collided, 1);
        EXPECT_EQ(o.collided, 1);
    }
}

TEST(VelocityExchange, ExtremeValuesWrapInsteadOfTrapping) {
    // R = -257: divisor -1, and the scaled numerator wraps to INT32_MIN.
    Body p{}, o{};
    p.mass = 256;
    o.mass = -257;
    p.vx = 1 << 22;
    body_collide(&p, &o);
    EXPECT_EQ(o.vx, INT32_MIN);
    EXPECT_EQ(p.vx, wrap_sub(INT32_MIN, 1 << 22));
}

// ---------------------------------------------------------------- the pass

class CollisionPass : public ::testing::Test {
protected:
    void TearDown() override { body_list = nullptr; }

    // Links bodies into body_list and their meshes into the camera, in order.
    void link(std::vector<Body *> bodies) {
        body_list = bodies.empty() ? nullptr : bodies[0];
        for (size_t i = 0; i < bodies.size(); ++i) {
            bodies[i]->mass = 100;
            bodies[i]->next = i + 1 < bodies.size() ? bodies[i + 1] : nullptr;
            meshes[i].owner = bodies[i];
            meshes[i].next = i + 1 < bodies.size() ? &meshes[i + 1] : nullptr;
            bodies[i]->mesh = &meshes[i];
        }
        cam.meshes = bodies.empty() ? nullptr : &meshes[0];
    }

    Camera cam{};
    Mesh meshes[4] = {};
};

TEST_F(CollisionPass, AnOwnerAlreadyMarkedTakesASecondExchange) {
    Body a{}, b{}, c{};
    meshes[0] = box(0, 0, 0, 10, 10, 10);
    meshes[1] = box(15, 0, 0, 10, 10, 10);   // overlaps a and c
    meshes[2] = box(30, 0, 0, 10, 10, 10);
    link({&a, &b, &c});
    a.vx = 10;
    collisions_resolve(&cam, nullptr);
    // a gives its speed to b; b is marked and makes no query; c's query finds
    // b and takes the speed from it.
    EXPECT_EQ(a.vx, 0);
    EXPECT_EQ(b.vx, 0);
    EXPECT_EQ(c.vx, 10);
}

TEST_F(CollisionPass, PlayerQueriesFirstAndUsesOnlyTheFirstOwner) {
    Body first{}, second{};
    meshes[0] = box(-4, 0, 0, 7, 10, 10);   // -11..3
    meshes[1] = box(8, 0, 0, 4, 10, 10);    // 4..12: apart from first
    link({&first, &second});
    // The player's mesh is not in the camera list, as with a loaded car, so
    // only its own query finds its contacts.
    Body player{};
    player.mass = 100;
    Mesh car = box(0, 0, 0, 5, 5, 5, &player);
    player.mesh = &car;
    player.vz = 20;
    collisions_resolve(&cam, &player);
    EXPECT_EQ(player.vz, 0);
    EXPECT_EQ(first.vz, 20);
    EXPECT_EQ(second.vz, 0);
    EXPECT_EQ(second.collided, 0);
}

TEST_F(CollisionPass, OwnerlessMeshesAndANullPlayerAreNoContact) {
    Body a{};
    meshes[0] = box(0, 0, 0, 10, 10, 10);
    link({&a});
    meshes[1] = box(0, 0, 0, 10, 10, 10, nullptr);   // decoration, no body
    meshes[0].next = &meshes[1];
    a.vx = 5;
    collisions_resolve(&cam, nullptr);
    EXPECT_EQ(a.vx, 5);
    EXPECT_EQ(a.collided, 0);
}

// ---------------------------------------------------------------- the loop

// A small closed mesh: a tetrahedron around the origin.
Mesh *tetra(Body *owner) {
    const int32_t v[] = {-50, 0, -50, 50, 0, -50, 0, 0, 50, 0, 80, 0};
    Mesh *m = mesh_create(owner, 4, 4, v);
    const int32_t faces[4][3] = {{0, 1, 2}, {0, 3, 1}, {1, 3, 2}, {2, 3, 0}};
    for (const auto &f : faces) mesh_add_face(m, 0x100 | 200, f, 0);
    mesh_finish(m);
    return m;
}

Body *new_body(uint32_t flags) {
    auto *b = static_cast<Body *>(safe_alloc(sizeof(Body)));
    std::memset(b, 0, sizeof *b);
    b->flags = flags;
    b->mass = 100;
    b->mesh = tetra(b);
    return b;
}

class GameLoop : public ::testing::Test {
protected:
    void SetUp() override {
        headless_reset();
        kbd_init();
        current_camera = camera_create(300, 0, 0, 319, 199);
    }
    void TearDown() override {
        level_free();
        kbd_shutdown();
    }
};

TEST_F(GameLoop, TwoHumansAreDrivenAlikeAndTheCameraFollowsTheLater) {
    Body *h0 = new_body(BODY_HUMAN | 0);
    Body *h1 = new_body(BODY_HUMAN | 1);
    mesh_set_position(h0->mesh, 1000, 0, 0, 0);
    mesh_set_position(h1->mesh, -1000, 0, 0, 0);
    body_list = h0;
    h0->next = h1;

    Body *player = nullptr;
    press(KEY_UP);
    press(KEY_RIGHT);
    for (int i = 0; i < 12; ++i) game_update(&player);

    EXPECT_EQ(player, h1);
    EXPECT_EQ(h0->vx, h1->vx);
    EXPECT_EQ(h0->vz, h1->vz);
    EXPECT_EQ(h0->heading, 3);   // rates 10, 11, 12 turn by one each
    EXPECT_EQ(h1->heading, 3);
    EXPECT_GT(h1->vz, 0);
    EXPECT_EQ(current_camera->x, h1->mesh->x);
    EXPECT_EQ(current_camera->z, h1->mesh->z);
    EXPECT_EQ(current_camera->angle_y, 3);
}

// ---------------------------------------------------------------- a drive

// Little-endian words and strings of the world and model formats.
struct FileBytes {
    std::vector<uint8_t> bytes;
    void word(int32_t v) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
    }
    void text(const char *t) { bytes.insert(bytes.end(), t, t + std::strlen(t) + 1); }
};

// An axis-aligned box of half size h around the origin: spare slots, 8
// vertices and 12 flat faces wound so that every normal points outward.
void box_geometry(FileBytes &f, int32_t h, int32_t ramp) {
    f.word(24);
    for (int i = 0; i < 8; ++i) {
        f.word(i & 1 ? h : -h);
        f.word(i & 2 ? h : -h);
        f.word(i & 4 ? h : -h);
    }
    // Per side: the axis bit, whether it is the high side, and the corners
    // in an order that turns counter-clockwise seen from outside for +x.
    const int quads[6][4] = {{1, 3, 7, 5}, {0, 4, 6, 2}, {2, 6, 7, 3},
                             {0, 1, 5, 4}, {4, 5, 7, 6}, {0, 2, 3, 1}};
    f.word(12);
    for (const auto &q : quads) {
        const int tris[2][3] = {{q[0], q[1], q[2]}, {q[0], q[2], q[3]}};
        for (const auto &t : tris) {
            f.word(ramp << 8 | 255);
            f.word(t[0]);
            f.word(t[1]);
            f.word(t[2]);
        }
    }
    f.word(0);   // no smooth faces
}

// The frames' hashes and the two bodies' states, frame by frame.
struct DriveLog {
    std::vector<uint64_t> frame_hash;
    std::vector<std::vector<int32_t>> state;   // car vz, z, crate vz, z
    int nonzero_first = 0;
};

uint64_t fnv1a(const uint8_t *p, size_t n) {
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

class ScriptedDrive : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/polydrive-drive-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        ASSERT_EQ(mkdir((dir + "/lib").c_str(), 0777), 0);
        // A crate straight ahead of the start, both 100 units of mass.
        FileBytes world;
        world.word(8);
        box_geometry(world, 200, 4);
        for (int32_t v : {0, 0, 1500, 0, 0, 0}) world.word(v);
        world.text("Crate");
        world.word(100);
        world.word(0);
        for (int32_t v : {0, 0, 0, 0, 0, 0}) world.word(v);
        world.text("Human1");
        world.word(-1);
        FileBytes car;
        car.word(8);
        box_geometry(car, 100, 0);
        car.word(100);
        write("level1.3dw", world);
        write("car1.3do", car);
        char here[4096];
        ASSERT_NE(getcwd(here, sizeof here), nullptr);
        home = here;
        ASSERT_EQ(chdir(dir.c_str()), 0);
        headless_reset();
    }
    void TearDown() override {
        EXPECT_EQ(chdir(home.c_str()), 0);
        std::remove((dir + "/lib/level1.3dw").c_str());
        std::remove((dir + "/lib/car1.3do").c_str());
        rmdir((dir + "/lib").c_str());
        rmdir(dir.c_str());
    }
    void write(const char *name, const FileBytes &f) {
        FILE *out = std::fopen((dir + "/lib/" + name).c_str(), "wb");
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(std::fwrite(f.bytes.data(), 1, f.bytes.size(), out), f.bytes.size());
        ASSERT_EQ(std::fclose(out), 0);
    }

    // The program's loop with cursor up held for frames 1-3, then nothing.
    DriveLog drive(int frames) {
        DriveLog log;
        game_startup();
        level_load(1);
        Body *player = nullptr;
        for (int frame = 1; frame <= frames; ++frame) {
            if (frame == 1) press(KEY_UP);
            if (frame == 4) release(KEY_UP);
            if (kbd_was_hit(KEY_ESCAPE)) break;
            game_update(&player);
            game_draw();
            log.frame_hash.push_back(fnv1a(BackBuffer, SCREEN_SIZE));
            if (frame == 1) {
                for (int i = 0; i < SCREEN_SIZE; ++i) log.nonzero_first += BackBuffer[i] != 0;
            }
            const Body *crate = body_list;
            const Body *car = crate->next;
            log.state.push_back({car->vz, car->mesh->z, crate->vz, crate->mesh->z});
            gfx_flip();
        }
        game_shutdown();
        level_free();
        return log;
    }

    std::string dir, home;
};

TEST_F(ScriptedDrive, TheCarHandsItsSpeedToTheCrateItRunsInto) {
    const DriveLog log = drive(300);
    ASSERT_EQ(log.state.size(), 300u);
    EXPECT_GT(log.nonzero_first, 1000);   // the crate is in view
    // Up for three frames: 96 a frame. The car's front (z + 100) passes the
    // crate's back (1300) in frame 14, at z = 1248.
    EXPECT_EQ(log.state[12], (std::vector<int32_t>{96, 1152, 0, 1500}));
    EXPECT_EQ(log.state[13], (std::vector<int32_t>{0, 1248, 96, 1500}));
    EXPECT_EQ(log.state[14], (std::vector<int32_t>{0, 1248, 96, 1596}));
    EXPECT_EQ(log.state[299], (std::vector<int32_t>{0, 1248, 96, 1500 + 96 * 286}));
    EXPECT_NE(log.frame_hash[0], log.frame_hash[13]);   // the crate came closer
}

TEST_F(ScriptedDrive, EveryRunGivesTheSameFrames) {
    const DriveLog first = drive(300);
    const DriveLog second = drive(300);
    EXPECT_EQ(first.frame_hash, second.frame_hash);
    EXPECT_EQ(first.state, second.state);
}

}  // namespace
