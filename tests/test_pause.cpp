// The pause: P stops the frame loop and the time limit together, the frames
// around it are those of a game never paused, and demos have none.
#include <gtest/gtest.h>
#include <sys/time.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "frame/demo.h"
#include "frame/game.h"
#include "frame/pause.h"
#include "platform/headless/headless.h"
#include "platform/kbd.h"
#include "platform/video.h"
#include "key_sends.h"

namespace {

// Key events sent after given presents; the picture of every present kept.
std::vector<Send> sends;
std::vector<std::string> shown;
std::vector<int> paused_at;        // pause_active() at each present
std::vector<long> alarm_left_us;   // what the alarm had left at each present
int raise_at = 0;                  // raise SIGINT after this present (0: never)

long alarm_left() {
    itimerval now;
    getitimer(ITIMER_REAL, &now);
    return now.it_value.tv_sec * 1000000L + now.it_value.tv_usec;
}

void hook(int event) {
    if (event != HEADLESS_EVENT_PRESENT) return;
    shown.push_back(video_memory_now());
    paused_at.push_back(pause_active());
    alarm_left_us.push_back(alarm_left());
    queue_sends_due(sends);
    if (headless_presents() == raise_at) std::raise(SIGINT);
}

class Pause : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(chdir(POLYDRIVE_SOURCE_DIR), 0);   // the level is read from lib/
        raise_at = 0;
    }
    void TearDown() override {
        alarm(0);
        demo_finish();
        game_shutdown();
        level_free();
        headless_reset();
    }
    // Plays one game with the car accelerating from the first frame (so
    // every frame differs from the last) and the given keys.
    void play(std::vector<Send> keys) {
        sends = std::move(keys);
        headless_reset();   // presents count from 1 again
        shown.clear();
        paused_at.clear();
        alarm_left_us.clear();
        play_level_one(hook, true);
    }
};

constexpr int END = 40;   // Escape tapped after this present ends every game

// A pause from after frame 10 to the P tapped again 25 presents later: the
// presents in between show frame 10 again, and the game then goes on with
// the frames of a game never paused. The alarm does not run meanwhile.
TEST_F(Pause, FramesAroundAPauseAreThoseOfAnUnpausedGame) {
    play({{END, KEY_ESCAPE, 1}, {END + 1, KEY_ESCAPE, 0}});
    const std::vector<std::string> straight = shown;
    ASSERT_EQ(straight.size(), size_t{END + 1});
    for (size_t i = 1; i < straight.size(); i++) ASSERT_NE(straight[i], straight[i - 1]) << "frame " << i + 1;

    constexpr int PAUSE_AT = 10, HELD = 25;
    play({{PAUSE_AT, KEY_P, 1},
          {PAUSE_AT, KEY_P, 0},
          {PAUSE_AT + HELD, KEY_P, 1},
          {PAUSE_AT + HELD, KEY_P, 0},
          {END + HELD, KEY_ESCAPE, 1},
          {END + HELD + 1, KEY_ESCAPE, 0}});
    std::vector<std::string> want(straight.begin(), straight.begin() + PAUSE_AT);
    want.insert(want.end(), HELD, straight[PAUSE_AT - 1]);
    want.insert(want.end(), straight.begin() + PAUSE_AT, straight.end());
    ASSERT_EQ(shown.size(), want.size());
    for (size_t i = 0; i < want.size(); i++) EXPECT_TRUE(shown[i] == want[i]) << "present " << i + 1;

    // Presents PAUSE_AT+1 .. PAUSE_AT+HELD are the pause's; the alarm is
    // disarmed there and armed again, with no less than it had, after.
    for (int i = 0; i < int(paused_at.size()); i++) {
        const bool in_pause = i >= PAUSE_AT && i < PAUSE_AT + HELD;
        EXPECT_EQ(paused_at[i], in_pause ? 1 : 0) << "present " << i + 1;
        if (in_pause) { EXPECT_EQ(alarm_left_us[i], 0) << "present " << i + 1; }
    }
    const long before = alarm_left_us[PAUSE_AT - 1], after = alarm_left_us[PAUSE_AT + HELD];
    EXPECT_GT(after, 0);
    EXPECT_LE(after, before);
    EXPECT_GT(after, before - 1000000);   // a second would be a clock that ran on
    EXPECT_EQ(pause_active(), 0);
}

// Escape or a stop signal during a pause ends the game at once, with the
// clock given back (still armed) as any Escape leaves it.
TEST_F(Pause, EscapeOrASignalEndsAPausedGame) {
    play({{5, KEY_P, 1}, {5, KEY_P, 0}, {12, KEY_ESCAPE, 1}, {12, KEY_ESCAPE, 0}});
    EXPECT_EQ(shown.size(), 12u);
    EXPECT_EQ(game_stop_signal(), 0);
    EXPECT_GT(alarm_left(), 0);

    raise_at = 9;
    play({{5, KEY_P, 1}, {5, KEY_P, 0}});
    EXPECT_EQ(shown.size(), 9u);
    EXPECT_EQ(game_stop_signal(), SIGINT);
}

// While a demo is recorded P is just a key: no frame is held back, and the
// demo replays into the same frames.
TEST_F(Pause, ARecordedDemoHasNoPause) {
    char tmpl[] = "/tmp/polydrive-pause-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string path = std::string(tmpl) + "/demo.keys";
    demo_record_to(path.c_str());
    play({{5, KEY_P, 1}, {5, KEY_P, 0}, {20, KEY_ESCAPE, 1}, {20, KEY_ESCAPE, 0}});
    EXPECT_EQ(shown.size(), 20u);
    for (int p : paused_at) EXPECT_EQ(p, 0);
    demo_finish();
    EXPECT_EQ(unlink(path.c_str()), 0);
    EXPECT_EQ(rmdir(tmpl), 0);
}

}   // namespace
