// platform/headless/headless.h: the in-memory backend's controls, for tests
// and tools. Video memory and the palette are plain memory; key events are
// queued by the caller and reach the keyboard handler only inside a keyboard
// poll, in queue order; events queued while no handler is installed wait for
// one. Nothing ever waits.
//
// A present does nothing but count itself and call the hook, unless a test
// turns word counting on: from then on each present counts the 32-bit words
// of video memory whose value changed since the previous present (or since
// counting was turned on, or since the mode switch, which clears video
// memory). A flip that also rewrote unchanged words would not show in that
// count; a test sees those by writing a marker into video memory first.
//
// The event log names the platform calls in order, separated by spaces:
// "graphics", "text", "keyboard-init", "keyboard-fail", "keyboard-close".
// It keeps the first HEADLESS_LOG_SIZE - 1 characters (later events are
// dropped once it is full); headless_reset empties it.
#pragma once

#include <cstdint>

constexpr int HEADLESS_LOG_SIZE = 512;
constexpr int HEADLESS_QUEUE_SIZE = 1024;   // more queued events end the program

// Everything back to its state at process start: text mode, video memory and
// palette zero, no queued keys, no failure armed, empty log, no hook.
void headless_reset();

void headless_queue_key(int scancode, int press);
int headless_queued_keys();

uint8_t *headless_video_memory();   // 64000 bytes, kept in text mode too
const int *headless_palette();      // 768 ints, each 0..63
int headless_mode();                // 0 text, 5 graphics
int headless_flip_words();          // words changed by the last present; 0 if not counting
int headless_presents();            // presents since reset
int headless_palette_loads();       // palette loads since reset
// Non-zero turns word counting on, taking video memory as it stands as the
// reference for the next present; 0 turns it off (the state after reset).
void headless_count_words(int on);

// The last status line (empty before the first), how many times it was
// set, and the side picture shown (null when none).
constexpr int HEADLESS_STATUS_SIZE = 128;
const char *headless_status();
int headless_status_changes();
const uint8_t *headless_side_picture();

void headless_fail_keyboard(int fail);   // non-zero: keyboard init fails
const char *headless_log();

// Called after every present and palette load; a test can queue keys there
// to act in the middle of a loop. Null removes it.
constexpr int HEADLESS_EVENT_PRESENT = 1;
constexpr int HEADLESS_EVENT_PALETTE = 2;
using HeadlessHook = void (*)(int event);
void headless_set_hook(HeadlessHook hook);

// Non-zero: every log event is also written to standard error at once, so a
// process that dies by a signal still shows what ran before.
void headless_trace(int on);
