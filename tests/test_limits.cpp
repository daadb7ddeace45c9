// The two limit sets: a level that fits the classic limits plays the same
// frames under the raised ones (random levels, whole frame loop in process);
// what the classic pool cannot hold is refused at load with one line naming
// the figure and the option; levels are chosen by number and a missing one
// names those there; the raised spare-slot bounds keep a small file from
// claiming unbounded memory.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "base/fatal.h"
#include "frame/game.h"
#include "frame/levels.h"
#include "platform/headless/headless.h"
#include "platform/kbd.h"
#include "platform/video.h"
#include "render/drawlist.h"
#include "res/res.h"
#include "scene/fileformat.h"
#include "scene/limits.h"
#include "expect_fatal.h"
#include "world_bytes.h"

namespace {

namespace fs = std::filesystem;
const std::string SOURCE = POLYDRIVE_SOURCE_DIR;

struct Fatal {
    std::string message;
};

class LimitsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/polydrive-limits-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        for (const char *name : {"car1.3do", "tree.bit"}) fs::copy_file(SOURCE + "/lib/" + name, dir + "/" + name);
        res_set_folder(dir.c_str());
    }
    void TearDown() override {
        fatal_set_hook(nullptr);
        limits_select(LIMITS_CLASSIC);
        res_set_folder(nullptr);
        fs::remove_all(dir);
    }
    void write(const std::string &name, const std::vector<uint8_t> &bytes) const {
        std::ofstream(dir + "/" + name, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    std::string dir;
};

Bytes with_start() { return Bytes().i(WORLD_KIND_START).v({0, 0, 0}).v({0, 0, 0}).s("Human1"); }

// A random level well within the classic limits: up to 8 objects of up to 6
// faces (flat and smooth, any ramp), a few tree sprites, spare slots for
// every face to cross the near plane.
Bytes random_level(std::mt19937 &rng) {
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    std::vector<Obj> objects;
    for (int n = pick(1, 8); n > 0; --n) {
        Obj o;
        o.verts.clear();
        for (int k = pick(3, 6); k > 0; --k)
            o.verts.push_back({pick(-20000, 20000), pick(0, 30000), pick(-20000, 20000)});
        const int last = static_cast<int>(o.verts.size()) - 1;
        o.flat.clear();
        for (int k = pick(1, 6); k > 0; --k) {
            const auto flags = static_cast<uint32_t>(pick(0, 9) << FACE_RAMP_SHIFT | pick(0, 255));
            (pick(0, 2) == 0 ? o.smooth : o.flat).push_back({flags, pick(0, last), pick(0, last), pick(0, last)});
        }
        o.spare = 2 * static_cast<int32_t>(o.flat.size() + o.smooth.size());
        o.pos = {pick(-150000, 150000), pick(-6000, 0), pick(20000, 300000)};
        o.ang = {0, pick(0, 1439), 0};
        o.mass = pick(10, 1000);
        o.name = pick(0, 3) == 0 ? "Statics" : "Block";
        objects.push_back(o);
    }
    for (int n = pick(0, 4); n > 0; --n) {
        Obj s;
        s.verts = {{0, 0, 0}};
        s.flat = {{FACE_SPRITE | static_cast<uint32_t>(pick(0, 4)) << FACE_SCALE_SHIFT, 0, 0, 0}};
        s.spare = 0;
        s.pos = {pick(-100000, 100000), 22000, pick(30000, 400000)};
        s.name = "tree.bit";
        objects.push_back(s);
    }
    return world(objects, with_start());
}

// Plays level 1 of the folder for `frames` frames under `limits` with a fixed
// pattern of keys; one FNV-1a hash a frame, or the fatal line it ended with.
std::vector<std::string> play(const Limits &limits, int frames) {
    std::vector<std::string> out;
    limits_select(limits);
    fatal_set_hook([](const char *message) { throw Fatal{message}; });
    try {
        game_startup();
        level_load(1);
        Body *player = nullptr;
        for (int frame = 1; frame <= frames; ++frame) {
            if (frame == 1) headless_queue_key(KEY_UP, 1);
            if (frame == 25) headless_queue_key(KEY_UP, 0);
            if (frame == 15) headless_queue_key(KEY_RIGHT, 1);
            if (frame == 45) headless_queue_key(KEY_RIGHT, 0);
            kbd_was_hit(KEY_ESCAPE);
            game_update(&player);
            game_draw();
            uint64_t h = 1469598103934665603ull;
            for (int i = 0; i < SCREEN_SIZE; ++i) h = (h ^ BackBuffer[i]) * 1099511628211ull;
            out.push_back(std::to_string(h));
            gfx_flip();
        }
        game_shutdown();
    } catch (const Fatal &fatal) { out.push_back("fatal: " + fatal.message); }
    level_free();
    fatal_set_hook(nullptr);
    return out;
}

TEST_F(LimitsTest, ClassicSizesAreTodaysAndRaisedHoldsMore) {
    EXPECT_EQ(LIMITS_CLASSIC.pool_size, GAME_POOL_SIZE);
    EXPECT_EQ(LIMITS_CLASSIC.drawlist_capacity, GAME_DRAWLIST_CAPACITY);
    EXPECT_EQ(LIMITS_CLASSIC.spare_max, WORLD_SPARE_MAX);
    EXPECT_GE(LIMITS_RAISED.drawlist_capacity, 65536);
    EXPECT_EQ(limits_by_name("raised"), &LIMITS_RAISED);
    EXPECT_EQ(limits_by_name("Raised"), nullptr);
    // The start-up sizes the draw list from the set in force.
    for (const Limits *limits : {&LIMITS_RAISED, &LIMITS_CLASSIC}) {
        limits_select(*limits);
        game_startup();
        EXPECT_EQ(render_state()->list.capacity, limits->drawlist_capacity);
        game_shutdown();
    }
}

TEST_F(LimitsTest, RandomClassicLevelsDrawTheSameFramesUnderRaised) {
    std::mt19937 rng(20);
    for (int level = 0; level < 24; ++level) {
        const Bytes bytes = random_level(rng);
        ASSERT_LE(bytes.size(), 9000u);
        write("level1.3dw", bytes);
        const std::vector<std::string> classic = play(LIMITS_CLASSIC, 60);
        ASSERT_EQ(classic, play(LIMITS_RAISED, 60)) << "random level " << level;
        EXPECT_EQ(classic.size(), 60u) << classic.back();   // none of them is refused
    }
}

TEST_F(LimitsTest, WhatTheClassicPoolCannotHoldIsRefusedAtLoadNamingTheOption) {
    // A world of about 10000 bytes: with the 532-byte car it passes the pool.
    Obj big;
    big.verts.assign(825, V3{0, 0, 0});
    Bytes bytes = world({big}, with_start());
    ASSERT_GT(bytes.size() + fs::file_size(dir + "/car1.3do"), 10240u);
    write("level1.3dw", bytes);
    const std::string need = std::to_string(bytes.size() + fs::file_size(dir + "/car1.3do"));
    EXPECT_FATAL(game_startup(); level_load(1), "^Fatal error: level1.3dw with car1.3do: " + need +
                                                    " bytes, the classic resource pool holds 10240; "
                                                    "--limits raised plays it\n$");
    EXPECT_EQ(play(LIMITS_RAISED, 1).size(), 1u);

    // A sprite's bitmap larger than the pool, at load rather than when drawn.
    std::vector<uint8_t> bitmap(BITMAP_HEADER_SIZE + 128 * 128, 7);
    bitmap[0] = 128, bitmap[4] = 128;
    write("wide.bit", bitmap);
    Obj sprite;
    sprite.verts = {{0, 0, 0}};
    sprite.flat = {{FACE_SPRITE, 0, 0, 0}};
    sprite.name = "wide.bit";
    write("level2.3dw", world({sprite}, with_start()));
    limits_select(LIMITS_CLASSIC);
    EXPECT_FATAL(game_startup(); level_load(2),
                                 "^Fatal error: bitmap `wide.bit': 16392 bytes, the classic resource pool holds 10240; "
                                 "--limits raised plays it\n$");
    limits_select(LIMITS_RAISED);
    game_startup();
    level_load(2);
    game_draw();
    game_shutdown();
    level_free();
}

TEST_F(LimitsTest, LevelsAreChosenByNumberAndAMissingOneNamesThoseThere) {
    Obj one;
    for (const char *name : {"level1.3dw", "level3.3dw", "level12.3dw"}) write(name, world({one}, with_start()));
    write("level01.3dw", world({one}, with_start()));   // not a level number
    fs::create_directory(dir + "/level4.3dw");          // not a file
    EXPECT_FATAL(game_startup(); level_load(4), "^Fatal error: no level 4 in " + dir + ": it holds levels 1, 3, 12\n$");
    fs::remove(dir + "/level1.3dw");
    fs::remove(dir + "/level12.3dw");
    EXPECT_FATAL(game_startup(); level_load(2), ": it holds level 3\n$");
    EXPECT_EQ(play(LIMITS_RAISED, 0), std::vector<std::string>{"fatal: no level 1 in " + dir + ": it holds level 3"});

    EXPECT_EQ(level_parse_number("1"), 1);
    EXPECT_EQ(level_parse_number("9999"), 9999);
    for (const char *bad : {"", "0", "01", "10000", "99999999999", "3x", "-2", "+2", " 2"})
        EXPECT_EQ(level_parse_number(bad), 0) << bad;
}

TEST_F(LimitsTest, RaisedSpareSlotsAreBoundedPerObjectAndPerLevel) {
    Obj o;
    o.spare = WORLD_SPARE_MAX + 1;
    write("level1.3dw", world({o}, with_start()));
    EXPECT_FATAL(game_startup(); level_load(1), "bad count 4097");
    EXPECT_EQ(play(LIMITS_RAISED, 1).size(), 1u);

    o.spare = LIMITS_RAISED.spare_max;
    write("level1.3dw", world({o, o}, with_start()));
    EXPECT_EQ(play(LIMITS_RAISED, 1).size(), 1u);   // two million slots in all
    write("level1.3dw", world({o, o, o}, with_start()));
    const std::vector<std::string> three = play(LIMITS_RAISED, 1);
    EXPECT_EQ(three.back(), "fatal: resource `level1.3dw': more than 2097152 spare slots in the level");
    o.spare = LIMITS_RAISED.spare_max + 1;
    write("level1.3dw", world({o}, with_start()));
    EXPECT_EQ(play(LIMITS_RAISED, 1).back(), "fatal: resource `level1.3dw': bad count 1048577");
}

}   // namespace
