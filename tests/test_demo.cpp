// Key scripts and the game's demos: the parser's worked examples and
// refusals, writing and reading back, and demos recorded and played through
// the game's own frame loop (headless).
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "frame/demo.h"
#include "frame/game.h"
#include "platform/headless/headless.h"
#include "platform/kbd.h"
#include "platform/video.h"

namespace {

constexpr uint32_t UP = 1, DOWN = 2, LEFT = 4, RIGHT = 8, STOP = 16, ESC = 32;

using Script = std::vector<DemoSegment>;

Script parse(const std::string &text, DemoError *error = nullptr) {
    Script script;
    DemoError ignored;
    if (!demo_parse(text.data(), text.size(), &script, error != nullptr ? error : &ignored)) return {{-1, 0}};
    return script;
}

TEST(KeyScriptParse, WorkedExamples) {
    const std::pair<std::string, Script> table[] = {
        {"", {}},
        {"\n\n# only a comment\n", {}},
        {"3 up\n2 up left  # steer\n0 down\n1 none\n", {{3, UP}, {2, UP | LEFT}, {0, DOWN}, {1, 0}}},
        {"5\tright stop esc\r\n", {{5, RIGHT | STOP | ESC}}},
        {"7 down down", {{7, DOWN}}},   // no final newline; a key named twice
        {std::string(DEMO_LINE_MAX - 5, ' ') + "4 up\n", {{4, UP}}},
    };
    for (const auto &[text, want] : table) EXPECT_EQ(parse(text), want) << text;
}

TEST(KeyScriptParse, RefusalsNameTheLine) {
    const std::pair<std::string, std::string> table[] = {
        {"3 up\n2 up jump\n", "2: unknown key 'jump'"},
        {"3 up\n\nx up\n", "3: expected a frame count, not 'x'"},
        {"-1 up\n", "1: expected a frame count, not '-1'"},
        {"99999999999999999999 up\n", "1: expected a frame count, not '99999999999999999999'"},
        {"4\n", "1: no keys after the count (use 'none')"},
        {"4 none up\n", "1: 'none' cannot be combined with keys"},
        {"1 up\n" + std::string(DEMO_LINE_MAX + 1, ' ') + "\n", "2: line too long"},
        {std::string("1 up\0down\n", 10), "1: NUL byte in the line"},
    };
    for (const auto &[text, want] : table) {
        DemoError error;
        EXPECT_EQ(parse(text, &error), (Script{{-1, 0}})) << text;
        EXPECT_EQ(std::to_string(error.line) + ": " + error.message, want);
    }
}

TEST(KeyScriptWrite, ReadsBackAsWritten) {
    const Script script = {{12, 0}, {40, UP}, {3, UP | LEFT}, {1, UP | DOWN | LEFT | RIGHT | STOP | ESC}, {2, STOP}};
    char *text = nullptr;
    size_t size = 0;
    FILE *stream = open_memstream(&text, &size);
    ASSERT_TRUE(demo_write(stream, script.data(), script.size()));
    std::fclose(stream);
    const std::string written(text, size);
    std::free(text);
    EXPECT_EQ(written.substr(0, written.find('\n')), "# polydrive demo: 58 frames");
    EXPECT_NE(written.find("\n3 up left\n"), std::string::npos) << written;
    EXPECT_NE(written.find("\n12 none\n"), std::string::npos) << written;
    EXPECT_EQ(parse(written), script);
    EXPECT_EQ(demo_frame_count(script), 58);
    EXPECT_EQ(demo_frame_count({{LONG_MAX, 0}, {5, UP}}), LONG_MAX);
}

TEST(KeyScriptKeys, FramesCountFromOneAndNothingIsHeldAfterTheEnd) {
    const Script script = {{2, UP}, {0, DOWN}, {1, LEFT}, {LONG_MAX, RIGHT}};
    const std::pair<long, uint32_t> table[] = {{1, UP}, {2, UP}, {3, LEFT}, {4, RIGHT}, {LONG_MAX, RIGHT}};
    for (const auto &[frame, keys] : table) EXPECT_EQ(demo_keys_at(script, frame), keys) << frame;
    EXPECT_EQ(demo_keys_at({{2, UP}}, 3), 0u);
}

TEST(KeyScriptRead, FileFaultsAreOneLine) {
    char message[1200];
    Script script;
    EXPECT_FALSE(demo_read("/nonexistent/demo", &script, message, sizeof message));
    EXPECT_STREQ(message, "cannot open key script '/nonexistent/demo': No such file or directory");
    EXPECT_FALSE(demo_read("/", &script, message, sizeof message));
    EXPECT_STREQ(message, "cannot read key script '/'");
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
    std::vector<uint8_t> recorder_frames(const Script &script, long frames) {
        game_startup();
        level_load(1);
        Body *player = nullptr;
        uint32_t held = 0;
        for (long frame = 1; frame <= frames; frame++) {
            const uint32_t want = demo_keys_at(script, frame);
            for (const DemoKey &k : DEMO_KEYS)
                if ((held & k.bit) && !(want & k.bit)) headless_queue_key(k.scancode, 0);
            for (const DemoKey &k : DEMO_KEYS)
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
    plan = {{3, KEY_UP, 1}, {13, KEY_LEFT, 1}, {20, KEY_LEFT, 0}, {25, KEY_1, 1}, {25, KEY_1, 0},
            {30, KEY_UP, 0},  {31, KEY_1, 1},  {33, KEY_1, 0},    {40, KEY_ESCAPE, 1}, {42, KEY_ESCAPE, 0}};
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
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(parse(text.str()), (Script{{3, 0}, {10, UP}, {7, UP | LEFT}, {10, UP}, {1, 0}, {2, STOP}, {7, 0}, {2, ESC}}))
        << text.str();

    const Script script = parse(text.str());
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
    const std::vector<uint8_t> still = recorder_frames({{30, 0}}, 30);
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

}  // namespace
