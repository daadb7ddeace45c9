// frame/pause.cpp: the pause of a game.
#include "frame/pause.h"

#include <sys/time.h>
#include <unistd.h>

#include "platform/backend.h"
#include "platform/kbd.h"

namespace {

int paused = 0;

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

int pause_hold(int (*stopped)()) {
    hold_clock();
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
        plat_present();
    }
    paused = 0;
    release_clock();
    return end;
}

int pause_active() { return paused; }
