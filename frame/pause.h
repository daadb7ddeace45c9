// frame/pause.h: the pause of a game. P (or the page's pause button) stops
// the frame loop and the game's clock together; the picture stays as it was,
// the window stays responsive (Alt+Enter, F12, closing it), and a second P
// carries on with the next frame as if no time had passed. Escape or a stop
// signal during a pause ends the game as they would at any frame.
//
// Demos (recorded or played) have no pause: their frames are counted, and a
// demo replays exactly what was shown. The recorder and the soak player run
// loops of their own and never pause.
#pragma once

#include <cstdint>

constexpr int KEY_P = 25;

// How a pause ended.
constexpr int PAUSE_RESUMED = 0;
constexpr int PAUSE_QUIT = 1;   // Escape, or `stopped` became non-zero

// Waits, presenting the frame on show at the game's pace, until P is hit
// again (PAUSE_RESUMED) or Escape is hit or stopped() returns non-zero
// (PAUSE_QUIT). The time limit's alarm is held for the whole wait and armed
// again with what was left of it, to the microsecond.
// each_wait runs before every present of the wait (the status line says
// "paused" there).
int pause_hold(int (*stopped)(), void (*each_wait)());

// Non-zero while pause_hold waits (for the window title and tests).
int pause_active();
// Nanoseconds spent in pauses since the process started, the one under way
// included; the status line takes them off the time played.
int64_t pause_held_ns();
