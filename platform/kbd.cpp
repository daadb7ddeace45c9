// platform/kbd.cpp: the key table, fed by the platform's raw key events.
#include "platform/kbd.h"

#include <cstdint>
#include <cstring>

#include "base/fatal.h"
#include "platform/backend.h"

namespace {

constexpr int KEY_COUNT = 128;
constexpr uint8_t KEY_UP_STATE = 0;
constexpr uint8_t KEY_HELD = 1;
constexpr uint8_t KEY_RELEASED = 0x80;   // released after being held, hit unread

// Scancodes of a..z and of the main-row digits 0..9.
constexpr uint8_t LETTER_SCANCODES[26] = {30, 48, 46, 32, 18, 33, 34, 35, 23, 36, 37, 38, 50,
                                          49, 24, 25, 16, 19, 31, 20, 22, 47, 17, 45, 21, 44};
constexpr uint8_t DIGIT_SCANCODES[10] = {11, 2, 3, 4, 5, 6, 7, 8, 9, 10};

// The other keys that give a character, in the order they are tested.
struct SpecialKey {
    uint8_t scancode;
    uint8_t code;
};
constexpr SpecialKey SPECIAL_KEYS[5] = {
    {KEY_FULL_STOP, '.'}, {KEY_SPACE, ' '}, {KEY_BACKSPACE, 8}, {KEY_ENTER, 13}, {KEY_ESCAPE, 27},
};

struct KeyboardState {
    uint8_t keys[KEY_COUNT];   // KEY_UP_STATE, KEY_HELD or KEY_RELEASED
    int shift_held;            // 1 after a shift press, 0 after either shift's release
    int active;                // 1 between a successful kbd_init and kbd_shutdown
    int polls_held;            // 1: queries do not poll the platform
};
KeyboardState kbd;

bool is_shift(int scancode) { return scancode == KEY_LEFT_SHIFT || scancode == KEY_RIGHT_SHIFT; }
bool in_table(int scancode) { return scancode >= 0 && scancode < KEY_COUNT; }

}   // namespace

void kbd_init() {
    std::memset(kbd.keys, KEY_UP_STATE, sizeof kbd.keys);
    // A keyboard just taken over has no key held.
    kbd.shift_held = 0;
    kbd.polls_held = 0;
    if (plat_keyboard_init() != 0) fatal_error("cannot initialize keyboard");
    plat_keyboard_set_handler(kbd_event_handler);
    kbd.active = 1;
}

void kbd_shutdown() {
    if (!kbd.active) return;
    // Inactive first: a fatal error inside the close runs this again.
    kbd.active = 0;
    plat_keyboard_close();
}

void kbd_event_handler(int scancode, int press) {
    if (!in_table(scancode)) return;
    if (press) {
        kbd.keys[scancode] = KEY_HELD;
        if (is_shift(scancode)) kbd.shift_held = 1;
    } else {
        // Only a key seen going down makes a hit: releasing a key that was
        // held before the table was cleared records nothing.
        if (kbd.keys[scancode] == KEY_HELD) kbd.keys[scancode] = KEY_RELEASED;
        if (is_shift(scancode)) kbd.shift_held = 0;
    }
}

int kbd_is_down(int scancode) {
    if (!kbd.polls_held) plat_keyboard_update();
    return in_table(scancode) && kbd.keys[scancode] == KEY_HELD;
}

int kbd_was_hit(int scancode) {
    if (!kbd.polls_held) plat_keyboard_update();
    if (!in_table(scancode) || kbd.keys[scancode] != KEY_RELEASED) return 0;
    kbd.keys[scancode] = KEY_UP_STATE;
    return 1;
}

int kbd_read_char() {
    for (;;) {
        for (int i = 0; i < 26; i++) {
            if (kbd_was_hit(LETTER_SCANCODES[i])) return (kbd.shift_held ? 'A' : 'a') + i;
        }
        for (int i = 0; i < 10; i++) {
            if (kbd_was_hit(DIGIT_SCANCODES[i])) return '0' + i;
        }
        for (const SpecialKey &key : SPECIAL_KEYS) {
            if (kbd_was_hit(key.scancode)) return key.code;
        }
    }
}

void kbd_hold_polls(int hold) { kbd.polls_held = hold != 0; }

void kbd_clear() { std::memset(kbd.keys, KEY_UP_STATE, sizeof kbd.keys); }
