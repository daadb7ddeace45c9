// Tests of the program frame: start-up and shutdown order, fatal errors, the
// Escape test of the loop and the signals that end it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/fatal.h"
#include "frame/game.h"
#include "platform/headless/headless.h"
#include "platform/kbd.h"
#include "platform/video.h"
#include "scene/mesh.h"

namespace {

class Frame : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(chdir(POLYDRIVE_SOURCE_DIR), 0);   // the level is read from lib/
        headless_reset();
    }
    void TearDown() override {
        alarm(0);   // armed by the loop
        game_shutdown();
        level_free();
        fatal_set_hook(nullptr);
        headless_reset();
    }
};
using StartupOrder = Frame;
using FatalErrors = Frame;
using FrameLoop = Frame;
using GameRestart = Frame;

// Escape goes down after present number `escape_down` and up after
// `escape_up`; the signal `stop` is raised after the third.
int escape_down, escape_up, stop;
void loop_hook(int event) {
    if (event != HEADLESS_EVENT_PRESENT) return;
    if (headless_presents() == escape_down) headless_queue_key(KEY_ESCAPE, 1);
    if (headless_presents() == escape_up) headless_queue_key(KEY_ESCAPE, 0);
    if (headless_presents() == 3 && stop != 0) std::raise(stop);
}

// Start-up takes the screen, then the keyboard; shutdown gives them back in
// the reverse order, once, and does nothing when nothing was started.
TEST_F(StartupOrder, StartupThenShutdownRunInReverseOnce) {
    game_shutdown();
    EXPECT_STREQ(headless_log(), "");
    game_startup();
    EXPECT_STREQ(headless_log(), "graphics keyboard-init");
    EXPECT_EQ(headless_mode(), 5);
    game_shutdown();
    EXPECT_EQ(headless_mode(), 0);
    game_shutdown();
    EXPECT_STREQ(headless_log(), "graphics keyboard-init keyboard-close text");
}

// A fatal error shuts down, prints one line on standard output (sent to
// standard error here, where the death test reads) and exits 1. The refused
// keyboard's hook shows, just before the line, which platform steps ran.
TEST_F(FatalErrors, ShutDownAndPrintOneLine) {
    void (*fatal)(const char *, ...) = fatal_error;   // a plain pointer: the format check refuses a null
    const std::string long_text(300, 'x');
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[] {
             headless_fail_keyboard(1);
             fatal_set_hook([](const char *) { std::fprintf(stderr, "%s\n", headless_log()); });
             game_startup();
         },
         "^graphics keyboard-fail text\nFatal error: cannot initialize keyboard\n$"},
        {[] { safe_alloc(-1); }, "^Fatal error: failed to allocate -1 bytes\n\n$"},
#if !defined(__SANITIZE_ADDRESS__)   // where an impossible size is the sanitizer's own error
        {[] { safe_alloc(LONG_MAX); }, "^Fatal error: failed to allocate " + std::to_string(LONG_MAX) + " bytes\n\n$"},
#endif
        {[&] { fatal(nullptr); }, "^Fatal error: not enough memory\n$"},
        {[&] { fatal_error("%s", long_text.c_str()); }, "^Fatal error: " + std::string(127, 'x') + "\n$"},
    };
    for (const auto &[act, line] : cases) {
        EXPECT_EXIT((dup2(STDERR_FILENO, STDOUT_FILENO), act()), ::testing::ExitedWithCode(1), line);
    }
}

// Escape ends the loop once released, at the start of the next frame.
TEST_F(FrameLoop, HeldEscapeKeepsTheLoopGoingAndItsReleaseEndsIt) {
    game_startup();
    level_load(1);
    escape_down = 2;
    escape_up = 5;
    stop = 0;
    headless_set_hook(loop_hook);
    game_run();
    EXPECT_EQ(headless_presents(), 5);   // frames 3 to 5 ran with Escape held
    headless_queue_key(KEY_ESCAPE, 1);   // tapped before the loop: no frame at all
    headless_queue_key(KEY_ESCAPE, 0);
    game_run();
    EXPECT_EQ(headless_presents(), 5);
}

// The alarm, SIGINT and SIGTERM end the loop; the shutdown runs, and the
// process then dies by that signal. The alarm alone says why, after the
// shutdown has given the console back.
TEST_F(FrameLoop, StopSignalsEndItAfterTheShutdown) {
    escape_down = escape_up = 0;
    headless_trace(1);
    headless_set_hook(loop_hook);
    for (int signal : {SIGALRM, SIGINT, SIGTERM}) {
        stop = signal;
        const std::string said = signal == SIGALRM ? "time is up: a game lasts 60 seconds\n" : "";
        EXPECT_EXIT((game_main(), std::fprintf(stderr, "game_main returned\n"), std::_Exit(0)),
                    ::testing::KilledBySignal(signal), "^graphics\nkeyboard-init\nkeyboard-close\ntext\n" + said + "$");
    }
}

// The loop tells what ended it, for a program that goes on after a game (the
// web page says it); the next start-up forgets it.
TEST_F(FrameLoop, StopSignalTellsWhatEndedTheLoopUntilTheNextStartup) {
    game_startup();
    level_load(1);
    escape_down = escape_up = 0;
    stop = SIGALRM;
    headless_set_hook(loop_hook);
    game_run();
    EXPECT_EQ(game_stop_signal(), SIGALRM);
    game_shutdown();
    level_free();
    game_startup();
    EXPECT_EQ(game_stop_signal(), 0);
    level_load(1);
    stop = 0;
    escape_down = 4;
    escape_up = 5;
    headless_set_hook(loop_hook);
    game_run();
    EXPECT_EQ(game_stop_signal(), 0);
}

// Frame hashes of one game in this process: start-up, level, a drive with
// keys queued between frames as the recorder queues them, shutdown and the
// level freed, as the web page runs each game.
std::vector<uint64_t> play_one_game() {
    game_startup();
    level_load(1);
    std::vector<uint64_t> hashes;
    Body *player = nullptr;
    for (int frame = 1; frame <= 240; frame++) {
        if (frame == 1) headless_queue_key(KEY_UP, 1);
        if (frame == 40) headless_queue_key(KEY_LEFT, 1);
        if (frame == 120) headless_queue_key(KEY_UP, 0);
        if (frame == 160) headless_queue_key(KEY_LEFT, 0);
        if (frame == 200) headless_queue_key(KEY_1, 1);
        EXPECT_EQ(kbd_was_hit(KEY_ESCAPE), 0);
        game_frame(&player);
        uint64_t hash = 1469598103934665603u;
        for (int i = 0; i < SCREEN_SIZE; i++) hash = (hash ^ headless_video_memory()[i]) * 1099511628211u;
        hashes.push_back(hash);
    }
    headless_queue_key(KEY_1, 0);
    game_shutdown();
    level_free();
    return hashes;
}

// Every module starts each game afresh: a second and a third game in the same
// process draw exactly the frames of the first.
TEST_F(GameRestart, LaterGamesInOneProcessDrawTheFirstGamesFrames) {
    std::vector<uint64_t> first = play_one_game();
    EXPECT_NE(first.front(), first.back());   // the drive moved the picture
    EXPECT_EQ(play_one_game(), first);
    EXPECT_EQ(play_one_game(), first);
}

}   // namespace

// A start heading turns the car at each load and drives it that way; -1 (and
// anything out of range) gives the level's own start, frame for frame.
TEST_F(GameRestart, StartHeadingTurnsTheCarUntilItIsTakenBack) {
    const std::vector<uint64_t> own = play_one_game();
    game_set_start_heading(720);
    game_startup();
    level_load(1);
    Body *player = nullptr;
    game_update(&player);
    ASSERT_NE(player, nullptr);
    EXPECT_EQ(player->heading, 720);
    EXPECT_EQ(player->mesh->angle_y, 720);
    const int32_t z0 = player->mesh->z;
    headless_queue_key(KEY_UP, 1);
    for (int frame = 0; frame < 60; frame++) {
        EXPECT_EQ(kbd_was_hit(KEY_ESCAPE), 0);
        game_frame(&player);
    }
    headless_queue_key(KEY_UP, 0);
    EXPECT_LT(player->mesh->z, z0 - 1000) << "turned round, forward is along -z";
    game_shutdown();
    level_free();
    EXPECT_NE(play_one_game(), own);
    for (int32_t heading : {-1, 1440, -720}) {
        game_set_start_heading(720);
        game_set_start_heading(heading);
        EXPECT_EQ(play_one_game(), own) << heading;
    }
}
