// frame/pause.cpp: the pause of a game.
#include "frame/pause.h"

#include <sys/time.h>
#include <unistd.h>

#include <ctime>

#include "platform/backend.h"
#include "platform/kbd.h"

namespace {

int paused = 0;
int64_t held_ns = 0;    // in pauses that ended
int64_t began_ns = 0;   // when the pause under way began

int64_t now_ns() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

// The time limit is the process's one real-time timer (alarm). Holding it
// takes what is left and disarms it; releasing arms it again with that.
#ifdef __EMSCRIPTEN__
// The web backend provides alarm() alone, to the second: a pause there may
// give back up to a second.
unsigned held_seconds = 0;
void hold_clock() { held_seconds = alarm(0); }
void release_clock() {
    if (held_seconds != 0) alarm(held_seconds);
}
#else
itimerval held = {};
void hold_clock() {
    const itimerval off = {};
    setitimer(ITIMER_REAL, &off, &held);
}
void release_clock() {
    // An alarm a microsecond from due is still armed (a zero value disarms).
    if (held.it_value.tv_sec != 0 || held.it_value.tv_usec != 0)
        setitimer(ITIMER_REAL, &held, nullptr);
}
#endif

}   // namespace

int pause_hold(int (*stopped)(), void (*each_wait)()) {
    hold_clock();
    began_ns = now_ns();
    paused = 1;
    int end = PAUSE_RESUMED;
    for (;;) {
        if (stopped() != 0 || kbd_was_hit(KEY_ESCAPE)) {
            end = PAUSE_QUIT;
            break;
        }
        if (kbd_was_hit(KEY_P)) break;
        // The same frame again: the window keeps its pace and redraws itself
        // when exposed, at almost no cost.
        each_wait();
        plat_present();
    }
    held_ns += now_ns() - began_ns;
    paused = 0;
    release_clock();
    return end;
}

int pause_active() { return paused; }
int64_t pause_held_ns() { return held_ns + (paused ? now_ns() - began_ns : 0); }
