// platform/kbd.h: the raw keyboard as a table of 128 key states by PC set-1
// scancode: 0 up (or hit already read), 1 held, 0x80 released and unread.
// Every query polls the platform first; events reach the table only then.
#pragma once

constexpr int KEY_ESCAPE = 1;
constexpr int KEY_1 = 2;
constexpr int KEY_BACKSPACE = 14;
constexpr int KEY_ENTER = 28;
constexpr int KEY_LEFT_SHIFT = 42;
constexpr int KEY_FULL_STOP = 52;
constexpr int KEY_RIGHT_SHIFT = 54;
constexpr int KEY_SPACE = 57;
constexpr int KEY_UP = 72;
constexpr int KEY_LEFT = 75;
constexpr int KEY_RIGHT = 77;
constexpr int KEY_DOWN = 80;

void kbd_init();       // fatal "cannot initialize keyboard" on failure
void kbd_shutdown();   // harmless any number of times
int kbd_is_down(int scancode);
int kbd_was_hit(int scancode);   // consumes the hit
int kbd_read_char();             // blocks until a known key is hit
void kbd_clear();
void kbd_event_handler(int scancode, int press);
// Non-zero: kbd_is_down and kbd_was_hit read the table without polling the
// platform first, so the keys stay as they are until polls resume (0, the
// state after kbd_init).
void kbd_hold_polls(int hold);
