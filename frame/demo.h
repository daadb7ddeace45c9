// frame/demo.h: demos of a live drive, kept as key scripts (frame/keyscript).
//
// Keys change only between frames, just before the frame loop's Escape test,
// releases before presses, and stay as they are for the whole frame. A demo
// recorded by the game under that rule (its keyboard is then read once a
// frame, at the Escape test) replays through the same frame loop, in
// polydrive-record or --play-demo, into exactly the frames that were shown.
// The game records with demo_record_to and plays with demo_play_from, both
// called before game_main; a game with neither runs as if this module did
// not exist.
//
// A demo file is a key script whose first line, a comment, gives its frame
// count: "# polydrive demo: N frames".
#pragma once

#include <string>

#include "frame/keyscript.h"

// Reads a key script file (at most KEYSCRIPT_TEXT_MAX bytes). On a fault
// returns false with one line in *error: "PATH:LINE: what", or why the file
// cannot be read.
bool demo_read(const char *path, KeyScript *script, std::string *error);

// The text of a demo file: the frame-count comment, then the script.
std::string demo_text(const KeyScript &script);

// Recording: the keys of every frame shown, written to path (whole or not at
// all) when the game ends by any way; a path that cannot be written ends the
// program at once, before the window opens.
void demo_record_to(const char *path);
// Playing: the demo's keys drive the car, frame by frame, and the game ends
// after its last frame; of the keyboard and pads only Escape counts. No time
// limit is armed. A script that cannot be read ends the program at once with
// its one-line fault.
void demo_play_from(const char *path);
int demo_playing();
int demo_recording();

// The frame loop's hooks: demo_frame_begin before the Escape test (0 when a
// demo being played is over), demo_frame_keys after it, demo_finish when the
// loop has ended: it writes a demo being recorded, and either way the game
// runs with no demo after it.
int demo_frame_begin();
void demo_frame_keys();
void demo_finish();
