// Tests of the program frame: start-up and shutdown order, fatal errors, the
// Escape test of the loop and the signals that end it.
#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "frame/fatal.h"
#include "frame/game.h"
#include "platform/headless/headless.h"
#include "platform/kbd.h"

namespace {

class Frame : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(chdir(POLYDRIVE_SOURCE_DIR), 0);   // the level is read from lib/
        headless_reset();
    }
    void TearDown() override {
        alarm(0);
        game_shutdown();
        level_free();
        fatal_set_hook(nullptr);
        headless_reset();
    }
};

// Death-test children send standard output to standard error, where the
// death test looks for the fatal line.
void stdout_to_stderr() { dup2(STDERR_FILENO, STDOUT_FILENO); }

// Shows, just before the fatal line, which platform steps ran.
void print_log_hook(const char *) { std::fprintf(stderr, "%s\n", headless_log()); }

}  // namespace

// Start-up takes the screen, then the keyboard; shutdown gives them back in
// the reverse order, once, whatever was started.
using FrameOrder = Frame;

TEST_F(FrameOrder, StartupThenShutdownRunInReverse) {
    game_startup();
    EXPECT_STREQ(headless_log(), "graphics keyboard-init");
    EXPECT_EQ(headless_mode(), 5);
    game_shutdown();
    EXPECT_STREQ(headless_log(), "graphics keyboard-init keyboard-close text");
    EXPECT_EQ(headless_mode(), 0);
    game_shutdown();
    EXPECT_STREQ(headless_log(), "graphics keyboard-init keyboard-close text");
}

TEST_F(FrameOrder, ShutdownBeforeStartupDoesNothing) {
    game_shutdown();
    EXPECT_STREQ(headless_log(), "");
}

// A fatal error shuts down, prints one line on standard output and exits 1.
using FatalErrors = Frame;

TEST_F(FatalErrors, RefusedKeyboardDuringStartupShutsDownAndExitsOne) {
    headless_fail_keyboard(1);
    EXPECT_EXIT(
        {
            stdout_to_stderr();
            fatal_set_hook(print_log_hook);
            game_startup();
        },
        ::testing::ExitedWithCode(1),
        "^graphics keyboard-fail text\nFatal error: cannot initialize keyboard\n$");
}

TEST_F(FatalErrors, FailedAllocationLineEndsWithAnEmptyLine) {
    EXPECT_EXIT(
        {
            stdout_to_stderr();
            safe_alloc(-1);
        },
        ::testing::ExitedWithCode(1), "^Fatal error: failed to allocate -1 bytes\n\n$");
#if !defined(__SANITIZE_ADDRESS__)
    // Under the address sanitizer an impossible size is its own error.
    EXPECT_EXIT(
        {
            stdout_to_stderr();
            safe_alloc(LONG_MAX);
        },
        ::testing::ExitedWithCode(1),
        "^Fatal error: failed to allocate " + std::to_string(LONG_MAX) + " bytes\n\n$");
#endif
}

TEST_F(FatalErrors, NullFormatMeansOutOfMemory) {
    // Called through a plain pointer: the format check would refuse a null.
    void (*fatal)(const char *, ...) = fatal_error;
    EXPECT_EXIT(
        {
            stdout_to_stderr();
            fatal(nullptr);
        },
        ::testing::ExitedWithCode(1), "^Fatal error: not enough memory\n$");
}

TEST_F(FatalErrors, LongMessageIsCutTo127Characters) {
    std::string long_text(300, 'x');
    EXPECT_EXIT(
        {
            stdout_to_stderr();
            fatal_error("%s", long_text.c_str());
        },
        ::testing::ExitedWithCode(1), "^Fatal error: " + std::string(127, 'x') + "\n$");
}

// Escape ends the loop once released, at the start of the next frame.
namespace {
int escape_press_frame, escape_release_frame;
void escape_hook(int event) {
    if (event != HEADLESS_EVENT_PRESENT) return;
    if (headless_presents() == escape_press_frame) headless_queue_key(KEY_ESCAPE, 1);
    if (headless_presents() == escape_release_frame) headless_queue_key(KEY_ESCAPE, 0);
}
}  // namespace

using FrameLoop = Frame;

TEST_F(FrameLoop, HeldEscapeKeepsTheLoopGoingAndItsReleaseEndsIt) {
    game_startup();
    level_load(1);
    escape_press_frame = 2;
    escape_release_frame = 5;
    headless_set_hook(escape_hook);
    game_run();
    // Frames 3 to 5 ran with Escape held; the release ended the loop before
    // a sixth frame.
    EXPECT_EQ(headless_presents(), 5);
}

TEST_F(FrameLoop, EscapeTappedBeforeTheLoopEndsItBeforeTheFirstFrame) {
    game_startup();
    level_load(1);
    headless_queue_key(KEY_ESCAPE, 1);
    headless_queue_key(KEY_ESCAPE, 0);
    game_run();
    EXPECT_EQ(headless_presents(), 0);
}

// The alarm, SIGINT and SIGTERM end the loop; the shutdown runs, and the
// process then dies by that signal.
class StopSignals : public Frame, public ::testing::WithParamInterface<int> {};

namespace {
int signal_to_raise;
void raise_hook(int event) {
    if (event == HEADLESS_EVENT_PRESENT && headless_presents() == 3) std::raise(signal_to_raise);
}
}  // namespace

TEST_P(StopSignals, ShutdownRunsThenTheSignalEndsTheProcess) {
    signal_to_raise = GetParam();
    EXPECT_EXIT(
        {
            headless_trace(1);
            headless_set_hook(raise_hook);
            game_main();
            std::fprintf(stderr, "game_main returned\n");
            std::_Exit(0);
        },
        ::testing::KilledBySignal(GetParam()),
        "^graphics\nkeyboard-init\nkeyboard-close\ntext\n$");
}

INSTANTIATE_TEST_SUITE_P(Frame, StopSignals, ::testing::Values(SIGALRM, SIGINT, SIGTERM),
                         [](const ::testing::TestParamInfo<int> &info) {
                             return std::string(info.param == SIGALRM  ? "Alarm"
                                                : info.param == SIGINT ? "Interrupt"
                                                                       : "Terminate");
                         });
