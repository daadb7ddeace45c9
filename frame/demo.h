// frame/demo.h: key scripts, and demos of a live drive kept in them.
//
// A key script is text, one instruction a line: "COUNT key key ..." holds
// those keys for the next COUNT frames (a decimal count, 0 or more); "none"
// holds no key. Keys: up, down, left, right, stop (digit 1), esc. '#' starts
// a comment, blank lines are skipped, a line holds at most DEMO_LINE_MAX
// characters besides its newline. After the last line nothing is held.
//
// Keys change only between frames, just before the frame loop's Escape test,
// releases before presses, and stay as they are for the whole frame. A demo
// recorded by the game under that rule (its keyboard is then read once a
// frame, at the Escape test) replays through the same frame loop into exactly
// the frames that were shown. The game records with demo_record_to and plays
// with demo_play_from, both called before game_main; a game with neither
// runs as if this module did not exist.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

constexpr int DEMO_LINE_MAX = 1022;
constexpr int DEMO_KEY_COUNT = 6;

struct DemoKey {
    const char *name;
    uint32_t bit;
    int scancode;
};
extern const DemoKey DEMO_KEYS[DEMO_KEY_COUNT];   // in the order a demo writes them

// One instruction: these keys (DemoKey bits) for the next count frames.
struct DemoSegment {
    long count;
    uint32_t keys;
    bool operator==(const DemoSegment &) const = default;
};

struct DemoError {
    int line;            // 1-based; 0 for a fault of the whole file
    char message[1100];  // without the line number
};

// Parses a whole script held in memory (NUL bytes are refused). On a fault
// returns false with the first faulty line and what is wrong with it.
bool demo_parse(const char *text, size_t size, std::vector<DemoSegment> *script, DemoError *error);

// Reads and parses a script file. On a fault returns false with one line in
// message: "PATH:LINE: what", or why the file cannot be read.
bool demo_read(const char *path, std::vector<DemoSegment> *script, char *message, size_t size);

// Writes a script: a comment line with the frame count, then one line per
// segment. False when the stream reports an error.
bool demo_write(FILE *stream, const DemoSegment *segments, size_t count);

uint32_t demo_keys_at(const std::vector<DemoSegment> &script, long frame);   // frames count from 1
long demo_frame_count(const std::vector<DemoSegment> &script);   // saturates at LONG_MAX

// --- the game's demos ---

// Recording: the keys of every frame shown, written to path (whole or not at
// all) when the game ends by any way; a path that cannot be written ends the
// program at once, before the window opens.
void demo_record_to(const char *path);
// Playing: the demo's keys drive the car, one line's count of frames at a
// time, and the game ends after its last frame; of the keyboard and pads only
// Escape counts. No time limit is armed. A script that cannot be read ends
// the program at once with its one-line fault.
void demo_play_from(const char *path);
int demo_playing();

// The frame loop's hooks: demo_frame_begin before the Escape test (0 when a
// demo being played is over), demo_frame_keys after it, demo_finish when the
// loop has ended: it writes a demo being recorded, and either way the game
// runs with no demo after it.
int demo_frame_begin();
void demo_frame_keys();
void demo_finish();
