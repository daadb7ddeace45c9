// Tests of the key table: states, hits, shift, character reads, and the
// window's key map feeding it.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "frame/fatal.h"
#include "platform/headless/headless.h"
#include "platform/kbd.h"
#include "platform/sdl/keymap.h"

namespace {

class Keyboard : public ::testing::Test {
protected:
    void SetUp() override {
        headless_reset();
        kbd_init();
    }
    void TearDown() override {
        kbd_shutdown();
        fatal_set_hook(nullptr);
        headless_reset();
    }
};

void tap(int scancode) {
    headless_queue_key(scancode, 1);
    headless_queue_key(scancode, 0);
}

constexpr int KEY_A = 30, KEY_B = 48, KEY_5 = 6, KEY_Z = 44;

}  // namespace

// A press and its release make one hit, read once; a held key is no hit.
using KeyboardHits = Keyboard;

TEST_F(KeyboardHits, TapBetweenQueriesIsOneHitAndNotDown) {
    tap(KEY_UP);
    EXPECT_EQ(kbd_is_down(KEY_UP), 0);
    EXPECT_EQ(kbd_was_hit(KEY_UP), 1);
    EXPECT_EQ(kbd_was_hit(KEY_UP), 0);
}

TEST_F(KeyboardHits, HeldKeyIsDownAndNotAHitUntilReleased) {
    headless_queue_key(KEY_LEFT, 1);
    EXPECT_EQ(kbd_is_down(KEY_LEFT), 1);
    EXPECT_EQ(kbd_was_hit(KEY_LEFT), 0);
    EXPECT_EQ(kbd_is_down(KEY_LEFT), 1);
    headless_queue_key(KEY_LEFT, 0);
    EXPECT_EQ(kbd_is_down(KEY_LEFT), 0);
    EXPECT_EQ(kbd_was_hit(KEY_LEFT), 1);
}

TEST_F(KeyboardHits, PressedAgainBeforeTheQueryHidesTheFirstHit) {
    tap(KEY_SPACE);
    headless_queue_key(KEY_SPACE, 1);
    EXPECT_EQ(kbd_is_down(KEY_SPACE), 1);
    EXPECT_EQ(kbd_was_hit(KEY_SPACE), 0);
    headless_queue_key(KEY_SPACE, 0);
    EXPECT_EQ(kbd_was_hit(KEY_SPACE), 1);
}

TEST_F(KeyboardHits, ReleaseOfAKeyNotSeenGoingDownIsNoHit) {
    // Held before the keyboard was taken over.
    headless_queue_key(KEY_DOWN, 0);
    EXPECT_EQ(kbd_was_hit(KEY_DOWN), 0);
    // Forgotten by kbd_clear while held.
    headless_queue_key(KEY_DOWN, 1);
    EXPECT_EQ(kbd_is_down(KEY_DOWN), 1);
    kbd_clear();
    EXPECT_EQ(kbd_is_down(KEY_DOWN), 0);
    headless_queue_key(KEY_DOWN, 0);
    EXPECT_EQ(kbd_was_hit(KEY_DOWN), 0);
}

TEST_F(KeyboardHits, EventsArriveOnlyWhenAQueryPolls) {
    tap(KEY_ESCAPE);
    EXPECT_EQ(headless_queued_keys(), 2);
    EXPECT_EQ(kbd_is_down(KEY_RIGHT), 0);
    EXPECT_EQ(headless_queued_keys(), 0);
    EXPECT_EQ(kbd_was_hit(KEY_ESCAPE), 1);
}

TEST_F(KeyboardHits, ScancodesOutsideTheTableAreNeverKeys) {
    kbd_event_handler(128, 1);
    kbd_event_handler(-1, 1);
    kbd_event_handler(1000, 0);
    EXPECT_EQ(kbd_is_down(128), 0);
    EXPECT_EQ(kbd_is_down(-1), 0);
    EXPECT_EQ(kbd_was_hit(1000), 0);
    EXPECT_EQ(kbd_was_hit(-5), 0);
}

// Characters come from hits in a fixed order: letters, digits, the rest.
using KeyboardCharacters = Keyboard;

TEST_F(KeyboardCharacters, PendingHitsComeOutOneCallAtATimeInTableOrder) {
    tap(KEY_B);
    tap(KEY_A);
    EXPECT_EQ(kbd_read_char(), 'a');
    EXPECT_EQ(kbd_read_char(), 'b');
}

TEST_F(KeyboardCharacters, ShiftMakesCapitalsButNotOtherDigitCharacters) {
    headless_queue_key(KEY_LEFT_SHIFT, 1);
    tap(KEY_A);
    EXPECT_EQ(kbd_read_char(), 'A');
    tap(KEY_5);
    EXPECT_EQ(kbd_read_char(), '5');
    headless_queue_key(KEY_LEFT_SHIFT, 0);
    tap(KEY_Z);
    EXPECT_EQ(kbd_read_char(), 'z');
}

TEST_F(KeyboardCharacters, ReleasingEitherShiftEndsShift) {
    headless_queue_key(KEY_LEFT_SHIFT, 1);
    headless_queue_key(KEY_RIGHT_SHIFT, 1);
    headless_queue_key(KEY_RIGHT_SHIFT, 0);
    tap(KEY_A);
    EXPECT_EQ(kbd_read_char(), 'a');
    EXPECT_EQ(kbd_is_down(KEY_LEFT_SHIFT), 1);
}

TEST_F(KeyboardCharacters, EscapeComesAfterEveryOtherPendingCharacter) {
    tap(KEY_ESCAPE);
    tap(KEY_ENTER);
    tap(KEY_BACKSPACE);
    tap(KEY_SPACE);
    tap(KEY_FULL_STOP);
    tap(KEY_1);
    EXPECT_EQ(kbd_read_char(), '1');
    EXPECT_EQ(kbd_read_char(), '.');
    EXPECT_EQ(kbd_read_char(), ' ');
    EXPECT_EQ(kbd_read_char(), 8);
    EXPECT_EQ(kbd_read_char(), 13);
    EXPECT_EQ(kbd_read_char(), 27);
}

TEST_F(KeyboardCharacters, KeysWithoutACharacterAreSkipped) {
    tap(KEY_UP);
    tap(KEY_LEFT_SHIFT);
    tap(KEY_B);
    EXPECT_EQ(kbd_read_char(), 'b');
    EXPECT_EQ(kbd_was_hit(KEY_UP), 1);
}

// The keyboard is given back exactly once, and never when it was not taken.
using KeyboardLifecycle = Keyboard;

TEST_F(KeyboardLifecycle, ShutdownClosesOnceAndIsHarmlessAgain) {
    kbd_shutdown();
    kbd_shutdown();
    EXPECT_STREQ(headless_log(), "keyboard-init keyboard-close");
    // Keys queued after the close reach no table.
    tap(KEY_A);
    EXPECT_EQ(kbd_was_hit(KEY_A), 0);
}

TEST_F(KeyboardLifecycle, RefusedKeyboardIsFatalAndNotClosed) {
    kbd_shutdown();
    headless_reset();
    headless_fail_keyboard(1);
    static std::string message;
    fatal_set_hook([](const char *m) {
        message = m;
        throw std::runtime_error(m);
    });
    EXPECT_THROW(kbd_init(), std::runtime_error);
    EXPECT_EQ(message, "cannot initialize keyboard");
    kbd_shutdown();
    EXPECT_STREQ(headless_log(), "keyboard-fail");
}

// The window's key map feeds the table the codes the game and the character
// reader expect.
TEST(WindowKeyMap, LettersAndDigitsReadAsTheirCharacters) {
    headless_reset();
    kbd_init();
    for (int i = 0; i < 26; i++) {
        tap(keymap_to_set1(4 + i));   // usages of a..z
        EXPECT_EQ(kbd_read_char(), 'a' + i);
    }
    for (int i = 0; i < 10; i++) {
        tap(keymap_to_set1(30 + i));   // usages of 1..9, 0
        EXPECT_EQ(kbd_read_char(), i == 9 ? '0' : '1' + i);
    }
    kbd_shutdown();
}

TEST(WindowKeyMap, GameKeysAndRangeOfEveryCode) {
    EXPECT_EQ(keymap_to_set1(82), KEY_UP);
    EXPECT_EQ(keymap_to_set1(81), KEY_DOWN);
    EXPECT_EQ(keymap_to_set1(80), KEY_LEFT);
    EXPECT_EQ(keymap_to_set1(79), KEY_RIGHT);
    EXPECT_EQ(keymap_to_set1(41), KEY_ESCAPE);
    EXPECT_EQ(keymap_to_set1(225), KEY_LEFT_SHIFT);
    EXPECT_EQ(keymap_to_set1(229), KEY_RIGHT_SHIFT);
    for (int usage = -1; usage <= KEYMAP_USAGES + 1000; usage++) {
        int code = keymap_to_set1(usage);
        ASSERT_TRUE(code >= 0 && code < 128) << "usage " << usage;
    }
}
