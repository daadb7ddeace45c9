// The game's demos: the demo file written and read back, its faults, and
// demos recorded and played through the game's own frame loop (headless).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "frame/demo.h"
#include "frame/game.h"
#include "platform/headless/headless.h"
#include "platform/kbd.h"
#include "platform/video.h"

namespace {

constexpr uint32_t UP = 1, LEFT = 4, STOP = 16, ESC = 32;   // bits of KEYSCRIPT_KEYS

using Runs = std::vector<std::pair<int64_t, uint32_t>>;
Runs runs_of(const KeyScript &script) {
    Runs runs;
    for (const KeyRun &r : script.runs) runs.emplace_back(r.count, r.keys);
    return runs;
}

// A demo's text opens with its frame count and reads back as written.
TEST(DemoFile, TextCountsItsFramesAndReadsBack) {
    KeyScript script;
    for (uint32_t keys : {0u, 0u, UP, UP | LEFT, UP | LEFT, UP | LEFT, STOP | ESC}) keyscript_append(&script, keys);
    const std::string text = demo_text(script);
    EXPECT_EQ(text, "# polydrive demo: 7 frames\n2 none\n1 up\n3 up left\n1 stop esc\n");
    KeyScript again;
    std::string error;
    ASSERT_TRUE(keyscript_parse(text.data(), text.size(), "demo", &again, &error)) << error;
    EXPECT_EQ(runs_of(again), runs_of(script));
}

TEST(DemoFile, FaultsAreOneLineNamingTheFile) {
    char tmpl[] = "/tmp/polydrive-demo-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl, bad = dir + "/bad", fifo = dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);   // opened blocking, it would hang the game
    const std::pair<std::string, std::string> table[] = {
        {"/nonexistent/demo", "key script /nonexistent/demo: No such file or directory"},
        {"/", "key script /: not a regular file"},
        {fifo, "key script " + fifo + ": not a regular file"},
        {"2 up\n1 jump\n", bad + ":2: unknown key 'jump'"},
        {std::string(KEYSCRIPT_TEXT_MAX + 1, '\n'), "key script " + bad + ": 1048577 bytes, more than the 1048576"},
    };
    for (const auto &[what, want] : table) {
        std::string path = what;
        if (what[0] != '/') {
            path = bad;
            std::ofstream(path) << what;
        }
        KeyScript script;
        std::string error;
        EXPECT_FALSE(demo_read(path.c_str(), &script, &error));
        EXPECT_EQ(error.rfind(want, 0), 0u) << error;
    }
    std::string command = "rm -rf '" + dir + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
}

// --- demos through the game's frame loop ---

class GameDemo : public ::testing::Test {
  protected:
    std::string dir;
    void SetUp() override {
        ASSERT_EQ(chdir(POLYDRIVE_SOURCE_DIR), 0);   // the level is read from lib/
        char tmpl[] = "/tmp/polydrive-demo-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        headless_reset();
    }
    void TearDown() override {
        alarm(0);   // armed by the loop
        demo_finish();
        game_shutdown();
        level_free();
        headless_set_hook(nullptr);
        headless_reset();
        std::string command = "rm -rf '" + dir + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
    // The frames of a script as the recorder makes them: keys queued before
    // each frame's Escape test. Returns video memory after the last frame.
    std::vector<uint8_t> recorder_frames(const KeyScript &script, long frames) {
        game_startup();
        level_load(1);
        Body *player = nullptr;
        uint32_t held = 0;
        for (long frame = 1; frame <= frames; frame++) {
            const uint32_t want = keyscript_keys_at(script, frame);
            for (const KeyscriptKey &k : KEYSCRIPT_KEYS)
                if ((held & k.bit) && !(want & k.bit)) headless_queue_key(k.scancode, 0);
            for (const KeyscriptKey &k : KEYSCRIPT_KEYS)
                if (!(held & k.bit) && (want & k.bit)) headless_queue_key(k.scancode, 1);
            held = want;
            if (kbd_was_hit(KEY_ESCAPE)) break;
            game_frame(&player);
        }
        std::vector<uint8_t> shown(headless_video_memory(), headless_video_memory() + SCREEN_SIZE);
        game_shutdown();
        level_free();
        headless_reset();
        return shown;
    }
};

// Key events the test sends at given presents (the end of a frame), as a
// person at the keyboard would between frames.
struct Plan {
    int present;
    int scancode;
    int press;
};
std::vector<Plan> plan;
void plan_hook(int event) {
    if (event != HEADLESS_EVENT_PRESENT) return;
    for (const Plan &p : plan)
        if (p.present == headless_presents()) headless_queue_key(p.scancode, p.press);
}

// A recorded game writes the keys of each frame it showed: a key sent after
// frame n's present is held from frame n+1. A tap of digit 1 inside one poll
// leaves it released: the game does not see it held, and neither does the
// demo. Played back, the demo gives the frames a recorder gives.
TEST_F(GameDemo, RecordedKeysReplayIntoTheSameFrames) {
    const std::string path = dir + "/drive.keys";
    // Frame n is present n (a headless palette load presents nothing).
    plan = {{3, KEY_UP, 1},  {13, KEY_LEFT, 1}, {20, KEY_LEFT, 0}, {25, KEY_1, 1},      {25, KEY_1, 0},
            {30, KEY_UP, 0}, {31, KEY_1, 1},    {33, KEY_1, 0},    {40, KEY_ESCAPE, 1}, {42, KEY_ESCAPE, 0}};
    headless_set_hook(plan_hook);
    demo_record_to(path.c_str());
    game_startup();
    level_load(1);
    game_run();
    demo_finish();
    const std::vector<uint8_t> shown(headless_video_memory(), headless_video_memory() + SCREEN_SIZE);
    const long frames = headless_presents();
    game_shutdown();
    level_free();
    headless_set_hook(nullptr);
    headless_reset();

    EXPECT_EQ(frames, 42);
    KeyScript script;
    std::string error;
    ASSERT_TRUE(demo_read(path.c_str(), &script, &error)) << error;
    EXPECT_EQ(runs_of(script), (Runs{{3, 0}, {10, UP}, {7, UP | LEFT}, {10, UP}, {1, 0}, {2, STOP}, {7, 0}, {2, ESC}}));
    EXPECT_EQ(script.frames, frames);

    EXPECT_EQ(recorder_frames(script, frames), shown) << "the recorder's last frame is not the game's";

    // Played: as many frames, the same last frame.
    demo_play_from(path.c_str());
    game_startup();
    level_load(1);
    game_run();
    EXPECT_EQ(headless_presents(), frames);
    EXPECT_EQ(std::vector<uint8_t>(headless_video_memory(), headless_video_memory() + SCREEN_SIZE), shown);
}

// While a demo plays, keys other than Escape do not reach the game.
TEST_F(GameDemo, PlayingIgnoresKeysButEscape) {
    const std::string path = dir + "/still.keys";
    std::ofstream(path) << "30 none\n";
    KeyScript parked;
    for (int i = 0; i < 30; i++) keyscript_append(&parked, 0);
    const std::vector<uint8_t> still = recorder_frames(parked, 30);
    plan = {{2, KEY_UP, 1}, {3, KEY_LEFT, 1}};
    headless_set_hook(plan_hook);
    demo_play_from(path.c_str());
    game_startup();
    level_load(1);
    game_run();
    EXPECT_EQ(headless_presents(), 30);
    EXPECT_EQ(std::vector<uint8_t>(headless_video_memory(), headless_video_memory() + SCREEN_SIZE), still);
    game_shutdown();
    level_free();
    headless_reset();

    plan = {{5, KEY_ESCAPE, 1}, {6, KEY_ESCAPE, 0}};
    headless_set_hook(plan_hook);
    demo_play_from(path.c_str());
    game_startup();
    level_load(1);
    game_run();
    EXPECT_EQ(headless_presents(), 6);   // the release after frame 6 is the hit
}

}   // namespace
