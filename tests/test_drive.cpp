// Driving from the keyboard, box overlaps, the velocity exchange and a drive.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "frame/drive.h"
#include "frame/game.h"
#include "platform/headless/headless.h"
#include "platform/kbd.h"
#include "platform/video.h"
#include "render/camera.h"
#include "render/overlap.h"
#include "scene/body.h"
#include "scene/mesh.h"

namespace {

using Ints = std::vector<int32_t>;

Body body_of(int32_t mass, int32_t vx, int32_t vz, int32_t heading = 0, int32_t rate = 0) {
    Body b{};
    b.mass = mass;
    b.vx = vx;
    b.vz = vz;
    b.heading = heading;
    b.steer_rate = rate;
    return b;
}

// A repeatable stream of numbers in 0..n-1 for the random lists.
struct Lcg {
    uint32_t s;
    int32_t operator()(uint32_t n) {
        s = s * 1664525u + 1013904223u;
        return static_cast<int32_t>((s >> 3) % n);
    }
};

class Driving : public ::testing::Test {
  protected:
    void SetUp() override {
        headless_reset();
        kbd_init();
    }
    void TearDown() override { kbd_shutdown(); }
    void drive(int frames) {
        for (int i = 0; i < frames; ++i) vehicle_drive(&body);
    }
    Body body{};
};

// One frame from a heading and rate with the steering keys as given.
TEST_F(Driving, OneFrameOfSteering) {
    const int32_t rows[][6] = {
        // heading, rate, left, right: heading and rate after
        {0, -10, 0, 0, 0, -9},       {0, -10, 1, 0, -1, -11},   // the rate changes first
        {-1437, -40, 1, 0, -1, -40}, {1437, 40, 0, 1, 1, 40},   // remainder keeps the sign
        {0, 30, 1, 0, 0, -1},        {0, -1, 0, 1, 0, 1},       // reversing drops to 0
        {0, 1, 1, 1, 0, -1},                                    // both held: left wins
        {0, 1, 0, 0, 0, 0},          {0, -1, 0, 0, 0, 0},       // decay ends at 0
    };
    for (const auto &[heading, rate, left, right, heading_after, rate_after] : rows) {
        headless_queue_key(KEY_LEFT, left);
        headless_queue_key(KEY_RIGHT, right);
        body = body_of(0, 0, 0, heading, rate);
        vehicle_drive(&body);
        EXPECT_EQ(Ints({body.heading, body.steer_rate}), Ints({heading_after, rate_after})) << heading << " " << rate;
    }
    headless_queue_key(KEY_LEFT, 0);
    for (int rate = -9; rate <= 9; ++rate) {   // too small to turn
        body = body_of(0, 0, 0, 100, rate);
        vehicle_drive(&body);
        EXPECT_EQ(body.heading, 100) << "rate " << rate;
    }
}

TEST_F(Driving, HeldLeftTurnsInTheTenthFrameAndSaturatesAndReleasedDecays) {
    headless_queue_key(KEY_LEFT, 1);
    drive(9);
    EXPECT_EQ(body.heading, 0);
    drive(1);
    EXPECT_EQ(body.heading, -1);
    drive(35);
    EXPECT_EQ(body.steer_rate, -40);
    body = body_of(0, 0, 0, 0, 40);
    headless_queue_key(KEY_LEFT, 0);
    drive(39);
    EXPECT_EQ(body.steer_rate, 1);
    drive(4);
    EXPECT_EQ(body.steer_rate, 0);
}

// Frames with two keys held, then 50 frames with nothing: there is no drag.
TEST_F(Driving, AccelerationIsTheFlooredSineAndCosineAndTheSpeedStays) {
    const int32_t rows[][8] = {
        // keys, frames, heading, vx and vz before and after
        {KEY_UP, KEY_UP, 3, 0, 0, 0, 0, 96},
        {KEY_UP, KEY_UP, 1, 1, 0, 0, 0, 31},
        {KEY_UP, KEY_UP, 1, 1439, 0, 0, -1, 31},
        {KEY_UP, KEY_UP, 1, -360, 0, 0, -32, 0},
        {KEY_DOWN, KEY_DOWN, 2, 0, 0, 0, 0, -64},
        {KEY_UP, KEY_UP, 1, 0, 0, INT32_MAX, 0, INT32_MIN + 31},   // wraps at 32 bits
        {KEY_UP, KEY_1, 4, 0, 500, -7, 0, 0},                      // digit 1 stops the car
    };
    for (const auto &[key1, key2, frames, heading, vx0, vz0, vx, vz] : rows) {
        body = body_of(0, vx0, vz0, heading);
        for (int32_t code : {key1, key2}) headless_queue_key(code, 1);
        drive(frames);
        for (int32_t code : {key1, key2}) headless_queue_key(code, 0);
        drive(50);
        EXPECT_EQ(Ints({body.vx, body.vz}), Ints({vx, vz})) << key1 << " " << key2 << " " << heading;
    }
}

// A mesh record with just the box fields set.
Mesh box(std::array<int32_t, 3> centre, std::array<int32_t, 3> half, Body *owner = nullptr) {
    Mesh m{};
    std::copy(centre.begin(), centre.end(), m.world_centre);
    std::copy(half.begin(), half.end(), m.half_extent);
    m.owner = owner;
    return m;
}
constexpr std::array<int32_t, 3> TEN = {10, 10, 10};

Ints classify(const Mesh &a, const Mesh &b) {
    int r[3] = {9, 9, 9};
    mesh_box_classify(&a, &b, &r[0], &r[1], &r[2]);
    return {r[0], r[1], r[2]};
}

// Per axis a strict overlap (0) or a side (-1, +1); touching is neither.
TEST(BoxOverlap, SelectorsPerAxisAndClassification) {
    const Mesh a = box({0, 0, 0}, TEN), touching = box({20, 0, 0}, TEN), into = box({19, 0, 0}, TEN);
    EXPECT_EQ(Ints({mesh_box_test(&a, &touching, 0, 0, 0), mesh_box_test(&a, &touching, -1, 0, 0),
                    mesh_box_test(&a, &into, 0, 0, 0)}),
              Ints({0, 0, 1}));
    EXPECT_EQ(classify(a, touching), Ints({0, 0, 0}));
    const Mesh s = box({0, 0, 0}, {5, 5, 5}), t = box({100, 0, -100}, {5, 5, 5});
    EXPECT_EQ(Ints({mesh_box_test(&s, &t, -1, 0, 1), mesh_box_test(&s, &t, 1, 0, 1), mesh_box_test(&s, &t, -1, 0, -1),
                    mesh_box_test(&s, &t, -1, 2, 1)}),
              Ints({1, 0, 0, 0}));   // 2: no such relation
    EXPECT_EQ(classify(s, t), Ints({-1, 0, 1}));
    // In 32 bits these spans would wrap and seem to overlap.
    const Mesh high = box({INT32_MAX, 0, 0}, {INT32_MAX, 1, 1}), low = box({INT32_MIN, 0, 0}, {INT32_MAX, 1, 1});
    EXPECT_EQ(Ints({mesh_box_test(&high, &low, 0, 0, 0), mesh_box_test(&high, &low, 1, 0, 0)}), Ints({0, 1}));
    EXPECT_EQ(classify(high, low), Ints({1, 0, 0}));
}

// Meshes linked into a camera's list and their owners into body_list, in order.
class CollisionPass : public ::testing::Test {
  protected:
    void TearDown() override { body_list = nullptr; }
    Camera list_of(std::vector<Mesh> &meshes) {
        Body **tail = &body_list;
        for (size_t i = 0; i < meshes.size(); ++i) {
            if (i + 1 < meshes.size()) meshes[i].next = &meshes[i + 1];
            if (Body *owner = meshes[i].owner) {
                owner->mesh = &meshes[i];
                *tail = owner;
                tail = &owner->next;
            }
        }
        Camera cam{};
        cam.meshes = &meshes[0];
        return cam;
    }
    Body a = body_of(100, 0, 0), b = a, c = a;
};

TEST_F(CollisionPass, OverlapQuerySkipsItsOwnMeshKeepsListOrderAndStopsWhenFull) {
    Body owners[14] = {}, sentinel{};
    std::vector<Mesh> meshes;
    for (int i = 0; i < 14; ++i) meshes.push_back(box({i == 1 ? 500 : 0, 0, 0}, TEN, &owners[i]));
    Camera cam = list_of(meshes);
    std::vector<Body *> found(OVERLAP_MAX + 4, &sentinel);
    // The query's own mesh (first) and the one far away (second) are skipped.
    EXPECT_EQ(camera_find_overlaps(&cam, &meshes[0], found.data()), OVERLAP_MAX);
    for (size_t i = 0; i < found.size(); ++i) EXPECT_EQ(found[i], i < OVERLAP_MAX ? &owners[i + 2] : &sentinel);
}

// The grid's answers against the plain search of the list, query by query,
// on random lists: small boxes in clusters, long thin ones, huge ones, boxes
// of no width, coordinates near the 32-bit limits, ownerless meshes, and
// queries both on the list and off it. The same owners in the same order.
TEST_F(CollisionPass, IndexedSearchFindsWhatThePlainSearchFinds) {
    Lcg rnd{1u};
    std::vector<Body> owners(3000);
    for (int round = 0; round < 60; ++round) {
        const int count = 1 + rnd(round < 50 ? 300 : 2000);
        const int32_t spread = round % 5 == 4 ? INT32_MAX : 1 + rnd(200000);
        std::vector<Mesh> meshes;
        for (int i = 0; i < count; ++i) {
            const int kind = rnd(20);
            const int32_t half = kind == 0  ? (rnd(2) ? INT32_MAX : rnd(1 << 27))
                                 : kind < 3 ? 0
                                            : 1 + rnd(kind < 6 ? 20000 : 3000);
            const int32_t other = kind == 1 ? 1 + rnd(400000) : half;
            int32_t cx = rnd(2) ? rnd(spread) : -rnd(spread), cz = rnd(2) ? rnd(spread) : -rnd(spread);
            if (kind == 19) cx = INT32_MAX, cz = INT32_MIN;
            meshes.push_back(
                box({cx, rnd(200) - 100, cz}, {half, 1 + rnd(100), other}, rnd(8) == 0 ? nullptr : &owners[i]));
        }
        Camera cam = list_of(meshes);
        overlap_reserve(round % 10 == 9 ? count - 1 : count + rnd(3));
        const bool indexed = overlap_index(&cam) != 0;
        EXPECT_EQ(indexed, round % 10 != 9);
        std::vector<Mesh> off;   // queries that are not on the list
        for (int i = 0; i < 50; ++i)
            off.push_back(box({rnd(400000) - 200000, 0, rnd(400000) - 200000}, {1 + rnd(90000), 50, 1 + rnd(9000)}));
        off.push_back(box({INT32_MAX, 0, INT32_MIN}, {INT32_MAX, 200, INT32_MAX}));
        std::vector<const Mesh *> queries;
        for (const Mesh &m : meshes) queries.push_back(&m);
        for (const Mesh &m : off) queries.push_back(&m);
        for (const Mesh *q : queries) {
            Body *want[OVERLAP_MAX] = {}, *got[OVERLAP_MAX] = {};
            const int n = camera_find_overlaps(&cam, q, want);
            const int k = overlap_find(q, got);
            ASSERT_EQ(k, indexed ? n : 0) << "round " << round;
            if (indexed) { ASSERT_TRUE(std::equal(want, want + n, got)) << "round " << round; }
        }
        body_list = nullptr;
    }
    overlap_release();
}

// The index kept from frame to frame against the plain search, frame by
// frame: a few boxes move each frame, now and then more than the index
// re-files one by one, some jump far outside the area the grid was laid
// over, some change size, and the list loses meshes from its head. Only some
// queries are asked each frame, so answers kept unasked must follow the
// moves too. The same owners in the same order, and the same first owner,
// whether asked by the mesh or by the body.
TEST_F(CollisionPass, KeptIndexFollowsTheMovesFrameByFrame) {
    Lcg rnd{5u};
    std::vector<Body> owners(700);
    for (int round = 0; round < 4; ++round) {
        const int count = 200 + rnd(400);
        std::vector<Mesh> meshes;
        for (int i = 0; i < count; ++i) {
            const int kind = rnd(30);
            const int32_t half = kind == 0 ? 1 << 20 : kind == 1 ? 0 : 20 + rnd(200);
            meshes.push_back(box({rnd(6000) - 3000, rnd(100), rnd(6000) - 3000}, {half, 20 + rnd(60), half},
                                 rnd(10) == 0 ? nullptr : &owners[i]));
        }
        Camera cam = list_of(meshes);
        overlap_reserve(count);
        std::vector<Mesh> off;   // queries that are not on the list
        for (int i = 0; i < 20; ++i) off.push_back(box({rnd(8000) - 4000, 50, rnd(8000) - 4000}, {300, 50, 300}));
        for (int frame = 0; frame < 150; ++frame) {
            const int moves = frame % 37 == 36 ? 60 : rnd(5);
            for (int k = 0; k < moves; ++k) {
                Mesh &m = meshes[rnd(count)];
                const int how = rnd(40);
                if (how == 0) {
                    m.world_centre[0] = rnd(2) ? 1 << 30 : -(1 << 30);
                } else if (how == 1) {
                    m.half_extent[2] = rnd(3) == 0 ? 1 << 20 : rnd(400);
                } else {
                    m.world_centre[0] += rnd(81) - 40;
                    m.world_centre[2] += rnd(81) - 40;
                    m.world_centre[1] += rnd(3) - 1;
                }
            }
            if (frame % 50 == 49) cam.meshes = cam.meshes->next->next;
            ASSERT_EQ(overlap_index(&cam), 1);
            std::vector<const Mesh *> queries;
            for (const Mesh &m : meshes) queries.push_back(&m);
            for (const Mesh &m : off) queries.push_back(&m);
            for (const Mesh *q : queries) {
                if (rnd(3) == 0) continue;
                Body *want[OVERLAP_MAX] = {}, *got[OVERLAP_MAX] = {};
                const int n = camera_find_overlaps(&cam, q, want);
                ASSERT_EQ(overlap_find(q, got), n) << "round " << round << " frame " << frame;
                ASSERT_TRUE(std::equal(want, want + n, got)) << "round " << round << " frame " << frame;
                ASSERT_EQ(overlap_first(q), n > 0 ? want[0] : nullptr) << "round " << round << " frame " << frame;
                if (q->owner == nullptr) continue;
                // Asked through the owner, and through a body that claims
                // the mesh and the owner's slot but does not own the mesh.
                Body claims = *q->owner;
                ASSERT_EQ(overlap_first_of(q->owner), n > 0 ? want[0] : nullptr) << "frame " << frame;
                ASSERT_EQ(overlap_first_of(&claims), n > 0 ? want[0] : nullptr) << "frame " << frame;
            }
        }
        body_list = nullptr;
    }
    overlap_release();
}

// o's mass relative to p's sets the exchange; a mass of p of 0 or below, or
// masses 1 and -1 (ratio -256, divisor ratio + 256 = 0) skip it.
TEST(VelocityExchange, ByMassOnBothAxesNeverDividingByZero) {
    const int32_t rows[][6] = {
        // masses of p and o, velocities before and after
        {100, 100, 10, 0, 0, 10},
        {100, 100, 10, -4, -4, 10},
        {100, 300, 12, 0, -6, 6},
        {100, 300, 12, -4, -12, 4},
        {300, 100, 12, 0, 6, 18},
        {0, 100, 7, 9, 7, 9},
        {-5, 100, 7, 9, 7, 9},
        {1, -1, 7, 9, 7, 9},
        {256, -257, 1 << 22, 0, wrap_sub(INT32_MIN, 1 << 22), INT32_MIN},   // divisor -1: wraps
    };
    for (const auto &[p_mass, o_mass, up, uo, p_after, o_after] : rows) {
        Body p = body_of(p_mass, up, up), o = body_of(o_mass, uo, uo);
        body_collide(&p, &o);
        EXPECT_EQ(Ints({p.vx, p.vz, o.vx, o.vz, p.collided, o.collided}),
                  Ints({p_after, p_after, o_after, o_after, 1, 1}))
            << p_mass << "/" << o_mass << " " << up << "," << uo;
    }
    Body p = body_of(70, 13, -250), o = body_of(70, -8, 41);   // equal masses swap
    body_collide(&p, &o);
    EXPECT_EQ(Ints({p.vx, p.vz, o.vx, o.vz}), Ints({-8, 41, 13, -250}));
}

// A worked case where the mass term is negative and not a multiple of 256,
// so truncating it toward zero and flooring it differ. p = 300, o = 100:
// r = 256 * 100 / 300 = 85, divisor 341; on each axis t = (85 - 256) * 1 =
// -171, and -171 / 256 = 0 (a shift would give -1); n = (2 * 12 + 0) * 256 =
// 6144, q = 6144 / 341 = 18; p leaves with 1 + 18 - 12 = 7, o with 18.
// (Flooring would give q = 5888 / 341 = 17: 6 and 17.)
TEST(VelocityExchange, MassTermTruncatesTowardZero) {
    Body p = body_of(300, 12, 12), o = body_of(100, 1, 1);
    body_collide(&p, &o);
    EXPECT_EQ(p.vx, 7);
    EXPECT_EQ(p.vz, 7);
    EXPECT_EQ(o.vx, 18);
    EXPECT_EQ(o.vz, 18);
}

TEST_F(CollisionPass, AnOwnerAlreadyMarkedTakesASecondExchange) {
    std::vector<Mesh> meshes = {box({0, 0, 0}, TEN, &a), box({15, 0, 0}, TEN, &b), box({30, 0, 0}, TEN, &c)};
    Camera cam = list_of(meshes);
    a.vx = 10;
    collisions_resolve(&cam, nullptr);
    // a gives its speed to b; b, marked, makes no query; c's finds b and takes it.
    EXPECT_EQ(Ints({a.vx, b.vx, c.vx}), Ints({0, 0, 10}));
}

// a (x -11..3) and b (4..12) touch the player's car, which is not in the list as
// with a loaded car; a decoration (no owner) listed first touches b only (y 7..17).
TEST_F(CollisionPass, PlayerQueriesFirstAndUsesOnlyTheFirstOwner) {
    std::vector<Mesh> meshes = {box({8, 12, 0}, {4, 5, 10}), box({-4, 0, 0}, {7, 10, 10}, &a),
                                box({8, 0, 0}, {4, 10, 10}, &b)};
    Camera cam = list_of(meshes);
    Body player = body_of(100, 0, 20);
    Mesh car = box({0, 0, 0}, {5, 5, 5}, &player);
    player.mesh = &car;
    collisions_resolve(&cam, &player);
    EXPECT_EQ(Ints({player.vz, a.vz, b.vz, b.collided}), Ints({0, 20, 0, 0}));
}

// tests/data/drive/lib: level 1 is a crate (half size 200, at z 1500) and a
// car (half size 100) at the origin, 100 units of mass each; level 2 is two
// cars, Human0 at x 1000 and Human1 at x -1000.
void start_level(int level) {
    ASSERT_EQ(chdir(POLYDRIVE_SOURCE_DIR "/tests/data/drive"), 0);
    headless_reset();
    game_startup();
    level_load(level);
}

TEST(GameLoop, TwoHumansAreDrivenAlikeAndTheCameraFollowsTheLater) {
    start_level(2);
    Body *h0 = body_list, *h1 = h0->next, *player = nullptr;
    headless_queue_key(KEY_UP, 1);
    headless_queue_key(KEY_RIGHT, 1);
    for (int i = 0; i < 12; ++i) game_update(&player);
    EXPECT_EQ(player, h1);
    EXPECT_GT(h1->vz, 0);
    // Rates 10, 11, 12 turn by one each.
    EXPECT_EQ(Ints({h0->vx, h0->vz, h0->heading, h1->heading}), Ints({h1->vx, h1->vz, 3, 3}));
    const Camera *cam = current_camera;
    EXPECT_EQ(Ints({cam->x, cam->z, cam->angle_y}), Ints({h1->mesh->x, h1->mesh->z, 3}));
    game_shutdown();
    level_free();
}

// The update takes the bodies of body_list as it is, not as it was loaded:
// one taken out is left alone, and a changed order changes which human the
// camera follows.
TEST(GameLoop, TheUpdateFollowsTheBodyListAsItStandsNotAsLoaded) {
    start_level(2);
    Body *h0 = body_list, *h1 = h0->next, *player = nullptr;
    headless_queue_key(KEY_UP, 1);
    h0->next = nullptr;
    game_update(&player);
    EXPECT_EQ(Ints({h0->vz, h1->vz}), Ints({32, 0}));
    EXPECT_EQ(player, h0);
    body_list = h1;
    h1->next = h0;
    game_update(&player);
    EXPECT_EQ(Ints({h0->vz, h1->vz}), Ints({64, 32}));
    EXPECT_EQ(player, h0);
    body_list = h0;
    h0->next = h1;
    h1->next = nullptr;
    game_shutdown();
    level_free();
}

// The recorded walk visits the list as it stands: a body taken out of the
// list after recording (and freed) is neither visited nor read, not even
// for a hint, and a body put in is visited in its place.
TEST(BodyOrderWalk, VisitsTheListAsItStandsAndReadsNoBodyTakenOut) {
    std::vector<Body *> bodies;
    Mesh meshes[12] = {};
    for (int i = 0; i < 12; ++i) {
        bodies.push_back(static_cast<Body *>(std::calloc(1, sizeof(Body))));
        bodies[i]->mesh = &meshes[i];
        bodies[i]->mass = i;
        if (i > 0) bodies[i - 1]->next = bodies[i];
    }
    body_list = bodies[0];
    BodyOrder order;
    body_order_record(&order);
    Body added{};
    added.mass = 100;
    bodies[6]->next = &added;
    added.next = bodies[8];
    std::free(bodies[7]);
    std::vector<int32_t> seen;
    body_order_walk<true>(order, [&](Body *b) { seen.push_back(b->mass); });
    EXPECT_EQ(seen, (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6, 100, 8, 9, 10, 11}));
    body_order_release(&order);
    body_list = nullptr;
    for (int i = 0; i < 12; ++i)
        if (i != 7) std::free(bodies[i]);
}

// The car is driven into the crate with up held for frames 1-3. Per frame:
// car vz and z, crate vz and z, the frame's hash.
std::vector<std::vector<int64_t>> drive_into_crate(int frames) {
    start_level(1);
    std::vector<std::vector<int64_t>> log;
    Body *player = nullptr;
    for (int frame = 1; frame <= frames; ++frame) {
        if (frame == 1 || frame == 4) headless_queue_key(KEY_UP, frame == 1);
        game_update(&player);
        game_draw();
        const Body *crate = body_list, *car = crate->next;
        const size_t hash = std::hash<std::string_view>{}({reinterpret_cast<char *>(BackBuffer), SCREEN_SIZE});
        log.push_back({car->vz, car->mesh->z, crate->vz, crate->mesh->z, static_cast<int64_t>(hash)});
        gfx_flip();
    }
    game_shutdown();
    level_free();
    return log;
}

TEST(ScriptedDrive, TheCarHandsItsSpeedToTheCrateAndEveryRunGivesTheSameFrames) {
    const std::vector<std::vector<int64_t>> log = drive_into_crate(300);
    // The car's front (z + 100) passes the crate's back (1300) in frame 14.
    const auto state = [&](size_t i) { return std::vector<int64_t>(log[i].begin(), log[i].begin() + 4); };
    EXPECT_EQ(state(12), (std::vector<int64_t>{96, 1152, 0, 1500}));
    EXPECT_EQ(state(13), (std::vector<int64_t>{0, 1248, 96, 1500}));
    EXPECT_EQ(state(14), (std::vector<int64_t>{0, 1248, 96, 1596}));
    EXPECT_EQ(state(299), (std::vector<int64_t>{0, 1248, 96, 1500 + 96 * 286}));
    EXPECT_NE(log[0][4], log[13][4]);   // the crate is in view and came closer
    EXPECT_EQ(drive_into_crate(300), log);
}

}   // namespace
