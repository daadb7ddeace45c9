// Tests of the key table: states, hits, shift, characters, and the window's and
// the browser's key maps.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/headless/headless.h"
#include "platform/kbd.h"
#include "platform/keymap.h"
#include "platform/web/keycode.h"

namespace {

class Keyboard : public ::testing::Test {
  protected:
    void SetUp() override {
        headless_reset();
        kbd_init();
    }
    void TearDown() override {
        kbd_shutdown();
        headless_reset();
    }
};
using KeyboardHits = Keyboard;
using KeyboardCharacters = Keyboard;
using WindowKeyMap = Keyboard;
using BrowserKeyNames = Keyboard;

using Ints = std::vector<int>;
constexpr int KEY_A = 30, KEY_B = 48, KEY_5 = 6, KEY_Z = 44;

void tap(int scancode) {
    headless_queue_key(scancode, 1);
    headless_queue_key(scancode, 0);
}

// Taps the keys in order, then reads `count` characters.
std::string typed(std::initializer_list<int> keys, int count) {
    for (int key : keys) tap(key);
    std::string text;
    while (count-- > 0) text += static_cast<char>(kbd_read_char());
    return text;
}

// A press and its release make one hit, read once; a held key is no hit;
// codes outside the table are no keys. Queued events reach the table only when
// a query polls. (Each list below is evaluated left to right.)
TEST_F(KeyboardHits, PressReleaseAndOneHitReadOnceUntilShutdown) {
    tap(KEY_UP);
    EXPECT_EQ(headless_queued_keys(), 2);
    EXPECT_EQ(kbd_is_down(KEY_RIGHT), 0);
    EXPECT_EQ(headless_queued_keys(), 0);
    EXPECT_EQ(Ints({kbd_is_down(KEY_UP), kbd_was_hit(KEY_UP), kbd_was_hit(KEY_UP)}), Ints({0, 1, 0}));
    headless_queue_key(KEY_LEFT, 1);
    EXPECT_EQ(Ints({kbd_is_down(KEY_LEFT), kbd_was_hit(KEY_LEFT), kbd_is_down(KEY_LEFT)}), Ints({1, 0, 1}));
    headless_queue_key(KEY_LEFT, 0);
    EXPECT_EQ(Ints({kbd_is_down(KEY_LEFT), kbd_was_hit(KEY_LEFT)}), Ints({0, 1}));
    tap(KEY_SPACE);   // pressed again before the query: the first hit is hidden
    headless_queue_key(KEY_SPACE, 1);
    EXPECT_EQ(Ints({kbd_is_down(KEY_SPACE), kbd_was_hit(KEY_SPACE)}), Ints({1, 0}));
    headless_queue_key(KEY_SPACE, 0);
    EXPECT_EQ(kbd_was_hit(KEY_SPACE), 1);
    // A key held before the keyboard was taken over, or forgotten by
    // kbd_clear while held, makes no hit when let go.
    headless_queue_key(KEY_DOWN, 0);
    EXPECT_EQ(kbd_was_hit(KEY_DOWN), 0);
    headless_queue_key(KEY_DOWN, 1);
    EXPECT_EQ(kbd_is_down(KEY_DOWN), 1);
    kbd_clear();
    headless_queue_key(KEY_DOWN, 0);
    EXPECT_EQ(Ints({kbd_is_down(KEY_DOWN), kbd_was_hit(KEY_DOWN)}), Ints({0, 0}));
    for (int code : {128, -1, 1000}) kbd_event_handler(code, 1);
    EXPECT_EQ(Ints({kbd_is_down(128), kbd_is_down(-1), kbd_is_down(1000), kbd_was_hit(-5)}), Ints({0, 0, 0, 0}));
    // Given back exactly once, the keyboard reads no more keys. (A refused
    // keyboard, never given back, is a start-up test of the frame.)
    kbd_shutdown();
    kbd_shutdown();
    EXPECT_STREQ(headless_log(), "keyboard-init keyboard-close");
    tap(KEY_A);
    EXPECT_EQ(kbd_was_hit(KEY_A), 0);
}

// Characters come from hits one call at a time in a fixed order: letters,
// digits, the rest, Escape last; keys without a character are skipped.
// With polls held the table stays as the last poll left it: events wait in
// the platform until polls resume; kbd_init resumes them.
TEST_F(KeyboardHits, HeldPollsKeepTheTableUntilResumed) {
    headless_queue_key(KEY_A, 1);
    EXPECT_EQ(kbd_is_down(KEY_A), 1);
    kbd_hold_polls(1);
    headless_queue_key(KEY_A, 0);
    headless_queue_key(KEY_B, 1);
    EXPECT_EQ(kbd_is_down(KEY_A), 1);
    EXPECT_EQ(kbd_is_down(KEY_B), 0);
    EXPECT_EQ(kbd_was_hit(KEY_A), 0);
    EXPECT_EQ(headless_queued_keys(), 2);
    kbd_hold_polls(0);
    EXPECT_EQ(kbd_was_hit(KEY_A), 1);
    EXPECT_EQ(kbd_is_down(KEY_B), 1);
    kbd_hold_polls(1);
    kbd_shutdown();
    kbd_init();
    headless_queue_key(KEY_Z, 1);
    EXPECT_EQ(kbd_is_down(KEY_Z), 1);
}

TEST_F(KeyboardCharacters, PendingHitsComeOutInTableOrderShiftedWhileShiftIsHeld) {
    EXPECT_EQ(typed({KEY_B, KEY_A}, 2), "ab");
    EXPECT_EQ(typed({KEY_ESCAPE, KEY_ENTER, KEY_BACKSPACE, KEY_SPACE, KEY_FULL_STOP, KEY_1}, 6), "1. \b\r\x1b");
    EXPECT_EQ(typed({KEY_UP, KEY_LEFT_SHIFT, KEY_B}, 1), "b");
    EXPECT_EQ(kbd_was_hit(KEY_UP), 1);
    headless_queue_key(KEY_LEFT_SHIFT, 1);   // capitals, but no other digit characters
    EXPECT_EQ(typed({KEY_A}, 1) + typed({KEY_5}, 1), "A5");
    headless_queue_key(KEY_RIGHT_SHIFT, 1);   // releasing either shift ends shift
    headless_queue_key(KEY_RIGHT_SHIFT, 0);
    EXPECT_EQ(typed({KEY_Z}, 1), "z");
    EXPECT_EQ(kbd_is_down(KEY_LEFT_SHIFT), 1);
    headless_queue_key(KEY_RIGHT_SHIFT, 1);
    headless_queue_key(KEY_LEFT_SHIFT, 0);
    EXPECT_EQ(typed({KEY_Z}, 1), "z");
}

// The window's key map feeds the table the codes the game and the character
// reader expect, and only codes inside the table.
TEST_F(WindowKeyMap, GameKeysCharactersAndOnlyCodesInTheTable) {
    const Ints usages = {82, 81, 80, 79, 41, 225, 229};
    const Ints codes = {KEY_UP, KEY_DOWN, KEY_LEFT, KEY_RIGHT, KEY_ESCAPE, KEY_LEFT_SHIFT, KEY_RIGHT_SHIFT};
    for (size_t i = 0; i < usages.size(); i++) EXPECT_EQ(keymap_to_set1(usages[i]), codes[i]) << usages[i];
    for (int i = 0; i < 26; i++) EXPECT_EQ(typed({keymap_to_set1(4 + i)}, 1), std::string(1, 'a' + i));
    for (int i = 0; i < 10; i++) EXPECT_EQ(typed({keymap_to_set1(30 + i)}, 1), std::string(1, "1234567890"[i]));
    for (int usage = -1; usage <= KEYMAP_USAGES + 1000; usage++) ASSERT_EQ(keymap_to_set1(usage) & ~127, 0) << usage;
}

// The browser names physical keys; through the window's map they give the
// window's codes, so the web page and the window drive the game alike.
TEST_F(BrowserKeyNames, GiveTheWindowsScancodes) {
    const struct {
        const char *code;
        int set1;
    } cases[] = {
        {"ArrowUp", KEY_UP},
        {"ArrowDown", KEY_DOWN},
        {"ArrowLeft", KEY_LEFT},
        {"ArrowRight", KEY_RIGHT},
        {"Digit1", KEY_1},
        {"Escape", KEY_ESCAPE},
        {"Enter", KEY_ENTER},
        {"NumpadEnter", KEY_ENTER},
        {"Numpad8", KEY_UP},
        {"KeyA", 30},
        {"KeyZ", 44},
        {"Digit0", 11},
        {"Space", KEY_SPACE},
        {"ShiftLeft", KEY_LEFT_SHIFT},
        {"ShiftRight", KEY_RIGHT_SHIFT},
        {"F12", 88},
        {"MetaLeft", 91},
        {"OSLeft", 91},
        {"", 0},
        {"Unidentified", 0},
        {"arrowup", 0},
        {nullptr, 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(keymap_to_set1(keycode_to_usage(c.code)), c.set1) << (c.code ? c.code : "null");
    }
}

// Every name the table knows is there once and reaches a key of the table.
TEST_F(BrowserKeyNames, EachNameOnceAndKnownToTheWindowsMap) {
    std::set<std::string> names;
    for (const auto &n : keycode_detail::NAMES) {
        EXPECT_TRUE(names.insert(n.code).second) << n.code;
        EXPECT_NE(keymap_to_set1(n.usage), 0) << n.code;
    }
}

}   // namespace
