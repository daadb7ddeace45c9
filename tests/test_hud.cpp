// What the player is told outside the picture: the status line (time left,
// speed, paused, demo) and the map, which never change the frames.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "frame/demo.h"
#include "frame/game.h"
#include "frame/hud.h"
#include "frame/pause.h"
#include "platform/headless/headless.h"
#include "platform/kbd.h"
#include "platform/video.h"
#include "key_sends.h"

namespace {

std::vector<Send> sends;
std::vector<std::string> frames, statuses, maps;

void hook(int event) {
    if (event != HEADLESS_EVENT_PRESENT) return;
    frames.push_back(video_memory_now());
    statuses.emplace_back(headless_status());
    const uint8_t *side = headless_side_picture();
    maps.emplace_back(side != nullptr ? std::string(side, side + HUD_MAP_SIDE * HUD_MAP_SIDE) : "");
    queue_sends_due(sends);
}

class Hud : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(chdir(POLYDRIVE_SOURCE_DIR), 0); }
    void TearDown() override {
        alarm(0);
        hud_show_map(0);
        demo_finish();
        game_shutdown();
        level_free();
        headless_reset();
    }
    // One game, accelerating from the first frame, ended by Escape after
    // present `end`.
    void play(int end, std::vector<Send> keys, bool accelerate = true) {
        sends = std::move(keys);
        sends.push_back({end, KEY_ESCAPE, 1});
        sends.push_back({end, KEY_ESCAPE, 0});
        headless_reset();
        frames.clear();
        statuses.clear();
        maps.clear();
        play_level_one(hook, accelerate);
    }
};

// Speed is |v| in km/h, in 64 bits for any velocity.
TEST(HudSpeed, KilometresAnHourOfAnyVelocity) {
    EXPECT_EQ(hud_speed_kmh(0, 0), 0);
    EXPECT_EQ(hud_speed_kmh(3963, 0), 199);
    EXPECT_EQ(hud_speed_kmh(-2802, 2802), 199);
    EXPECT_EQ(hud_speed_kmh(INT32_MAX, 0), 108366147);
    EXPECT_EQ(hud_speed_kmh(INT32_MIN, INT32_MIN), 153252876);
}

// The line shows the time left and the speed building up; it is set only
// when its text changes (once for a parked car).
TEST_F(Hud, StatusLineTellsTimeLeftAndSpeed) {
    play(200, {});
    ASSERT_EQ(statuses.size(), 200u);
    const std::string head = "polydrive · 60 s left · ";
    EXPECT_EQ(statuses[0], head + "1 km/h");
    ASSERT_EQ(statuses.back().rfind(head, 0), 0u) << statuses.back();
    EXPECT_GT(std::stoi(statuses.back().substr(head.size())), 100);

    play(200, {}, false);
    EXPECT_EQ(statuses.back(), head + "0 km/h");
    EXPECT_EQ(headless_status_changes(), 1);
}

// A pause says so and stops the clock; a demo has no time limit to show.
TEST_F(Hud, StatusLineSaysPausedAndDemo) {
    play(30, {{5, KEY_P, 1}, {5, KEY_P, 0}, {20, KEY_P, 1}, {20, KEY_P, 0}});
    EXPECT_EQ(statuses[10].rfind("polydrive · paused · 60 s left · ", 0), 0u) << statuses[10];
    EXPECT_EQ(statuses[25].find("paused"), std::string::npos) << statuses[25];

    char tmpl[] = "/tmp/polydrive-hud-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string path = std::string(tmpl) + "/demo.keys";
    FILE *f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("10 up\n", f);
    std::fclose(f);
    demo_play_from(path.c_str());
    play(1000, {});
    EXPECT_EQ(statuses[0].rfind("polydrive · demo · ", 0), 0u) << statuses[0];
    EXPECT_EQ(statuses[0].find("left"), std::string::npos);
    demo_finish();
    EXPECT_EQ(unlink(path.c_str()), 0);
    EXPECT_EQ(rmdir(tmpl), 0);
}

// The map is off until asked for; M shows it and hides it again. Shown, it
// holds the car, which moves across it as it drives; the frames are those
// of a game without it.
TEST_F(Hud, MapOnRequestBesideTheSameFrames) {
    play(60, {});
    const std::vector<std::string> without = frames;
    for (const std::string &m : maps) EXPECT_TRUE(m.empty());

    play(60, {{10, KEY_M, 1}, {10, KEY_M, 0}, {40, KEY_M, 1}, {40, KEY_M, 0}});
    EXPECT_TRUE(frames == without);
    EXPECT_TRUE(maps[5].empty());
    ASSERT_FALSE(maps[20].empty());
    EXPECT_TRUE(maps[50].empty());

    hud_show_map(1);   // --map
    play(400, {});
    EXPECT_TRUE(std::equal(without.begin(), without.end(), frames.begin()));
    ASSERT_FALSE(maps[0].empty());
    EXPECT_NE(maps[0], maps[399]) << "the car does not move on the map";
    // The map holds several colours: the level's shapes and the car.
    int colours = 0;
    bool seen[256] = {};
    for (unsigned char c : maps[0]) colours += !seen[c], seen[c] = true;
    EXPECT_GE(colours, 4);
}

}   // namespace
