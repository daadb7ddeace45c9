// frame/watch.h: live reload of the level while the game runs (--watch).
//
// watch_folder names the data folder before the game starts; from then on
// watch_frame, called by the frame loop before each frame, looks at the
// folder twice a second (the folder itself, which changes when a tool renames
// a finished file into it, and level1.3dw and car1.3do, which change when
// written in place). On a change the level is loaded again from the folder
// and the player's car is put back where it was, with its heading and
// velocity. A level that does not load is one line on standard error and the
// game goes on with the last good level, kept in a private copy of the
// folder taken at each good load. Without watch_folder nothing here runs.
#pragma once

struct Body;
struct Camera;

// What the watcher needs of the game that runs it: the level chosen, how a
// level is loaded and freed, the camera, a frame drawn, and the shutdown a
// fatal error runs. The game lends them (frame/game's game_watch_host), so
// this unit never calls into the frame loop that calls it.
struct WatchHost {
    int (*level)();
    void (*load)(int level);
    void (*free)();
    Camera **camera;
    void (*draw)();
    void (*shutdown)();
};

// Starts watching folder; the game's own first load must come from it.
// Fatal when the private copy cannot be made.
void watch_folder(const char *folder, const WatchHost &host);
int watch_active();

// Before each frame; *player is set to null when the level was reloaded (the
// next game_update finds the new car). Returns 1 when a changed level was
// loaded, -1 when it was refused (the last good level is back), 0 otherwise.
int watch_frame(Body **player);
// Looks at once rather than at the next half second (for tests).
void watch_look_now();

// The free camera, while watching: F5 turns it on (from where the view is)
// and off. While it is on the world stands still, the car gets no keys, and
// the cursor keys fly the view (up and down along the heading, left and right
// turn), Page Up and Page Down rise and sink. Returns 1 when it drew and
// presented this frame itself (the frame loop then skips its own), else 0.
int watch_free_camera();

// Removes the private copy; the frame loop's end calls it.
void watch_finish();

constexpr int WATCH_POLL_FRAMES = 35;     // half a second of game frames
constexpr int WATCH_CAMERA_KEY = 63;      // F5
constexpr int WATCH_RISE_KEY = 73;        // Page Up
constexpr int WATCH_SINK_KEY = 81;        // Page Down
constexpr int WATCH_CAMERA_STEP = 1500;   // units a frame forward, back, up or down
constexpr int WATCH_CAMERA_TURN = 8;      // angle units a frame
