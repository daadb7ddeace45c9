// frame/main_web.cpp: the entry of the game in a web page.
//
// The page runs one game at a time through polydrive_play, as an
// asynchronous call: the frame loop suspends at each present and the call
// completes when the game ends. A new game runs the whole start-up, level,
// loop and shutdown again, then frees the level, so each game starts from the
// same state as the first. A fatal error ends the program as natively (its
// line on standard output, exit status 1); the page shows that line.
#include <emscripten/emscripten.h>

#include "frame/game.h"
#include "frame/hud.h"
#include "frame/view.h"
#include "scene/limits.h"

// Plays one game of level `level` under the raised limits when `raised` is
// non-zero (else the classic ones), at the page's scale (1..6; anything else
// is 1) and shape (widescreen non-zero for 16:9); returns the signal that
// ended it (SIGALRM for the time limit), or 0 when Escape ended it. A level
// that is not there, or that needs the raised limits under the classic ones,
// ends the program at load with its line, as natively.
extern "C" EMSCRIPTEN_KEEPALIVE int polydrive_play(int scale, int widescreen, int level,
                                                   int raised) {
    if (!view_set(scale, widescreen)) view_set(1, widescreen);
    limits_select(raised != 0 ? LIMITS_RAISED : LIMITS_CLASSIC);
    game_startup();
    level_load(level);
    game_run();
    game_shutdown();
    level_free();
    return game_stop_signal();
}

// The page's map setting (its Map button, or map=1 in the URL): shown from
// the next frame on, in this game and the next, until M or the button
// hides it.
extern "C" EMSCRIPTEN_KEEPALIVE void polydrive_map(int on) { hud_show_map(on); }

// The heading the car starts with in this game and the next (0..1439), for a
// level brought with `heading=N` in the link (the workshop's Drive from
// here); -1 gives the level's own.
extern "C" EMSCRIPTEN_KEEPALIVE void polydrive_start_heading(int heading) {
    game_set_start_heading(heading);
}

// The limits of this game and the next: 1 raised, 0 classic (the default),
// for a level brought with `limits=raised` in the link.
extern "C" EMSCRIPTEN_KEEPALIVE void polydrive_limits(int raised) {
    limits_select(raised ? LIMITS_RAISED : LIMITS_CLASSIC);
}
