// frame/game.h: the program frame: start-up, level loading, the frame loop
// and shutdown. The Body record and body_list live in scene/body.h.
//
// Order of start-up: random index reset, res_init, gfx_init(0),
// drawlist_init, kbd_init; the pool and the draw list are sized by the limits
// in force (scene/limits: 10240 bytes and 100 items under the default set). Shutdown runs the reverse (kbd_shutdown,
// drawlist_free, gfx_shutdown, res_shutdown); every step is harmless when its
// subsystem never started, so fatal_error may call it from anywhere.
//
// The loop ends when Escape is pressed and released, or when the 60-second
// alarm, SIGINT, SIGTERM or SIGHUP arrives: then the shutdown runs and the
// process ends by that signal with its default action. The alarm is
// announced first, by GAME_TIME_UP_LINE on standard error.
#pragma once

#include <cstdint>

#include "scene/body.h"

struct Camera;
struct WatchHost;

// The level's camera; its mesh list is the one the level's loader fills.
extern Camera *current_camera;

// The default (classic) pool and draw list.
constexpr int GAME_POOL_SIZE = 10240;
constexpr int GAME_DRAWLIST_CAPACITY = 100;
constexpr int GAME_TIME_LIMIT = 60;   // seconds
constexpr const char *GAME_TIME_UP_LINE = "time is up: a game lasts 60 seconds\n";

// game_main plays level 1, or the level game_choose_level named before it.
void game_main();
void game_choose_level(int level);
int game_chosen_level();
void game_startup();
// Loads level<N>.3dw and the car; one line and the end of the program when
// the data folder has no level N or the level cannot fit the pool in force
// (frame/levels).
void level_load(int level);
// A heading (0..1439) that level_load gives the player's car instead of the
// level's own (0: along +z), for a game started somewhere other than the
// level's start (the workshop's Drive from here); -1, the default, keeps the
// level's own. Anything outside -1..1439 is taken as -1.
void game_set_start_heading(int32_t heading);
void game_run();
void game_shutdown();
// The signal that ended the last game_run (SIGALRM, SIGINT, SIGTERM or SIGHUP), or 0
// when Escape ended it; game_startup sets it back to 0.
int game_stop_signal();

// One iteration of the frame loop after the Escape test, in its three steps:
// game_update (body pass, camera follow, collisions), game_draw (clear and
// render) and gfx_flip; game_frame runs all three. The player pointer is
// carried from frame to frame (null before the first frame and in a level
// without a human body: then the camera stays where it is and the player's
// collision step is skipped). Exposed for the recorder, benchmarks and tests.
void game_update(Body **player);
void game_draw();
void game_frame(Body **player);

// Loops of their own (the recorder, the soak player) poll game_stop_signal
// each frame and end as game_main does: shutdown, then game_end_by_signal,
// which ends the process by sig with its default action (standard output
// flushed).
[[noreturn]] void game_end_by_signal(int sig);

// Release the level's bodies, meshes and camera (body_list and current_camera
// become null). The game leaves them to the process exit; tools and tests
// that load many levels in one process call this between them.
void level_free();

// The game's side of --watch (frame/watch): its level, loader, camera,
// drawing and shutdown.
const WatchHost &game_watch_host();
