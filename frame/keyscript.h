// frame/keyscript.h: key scripts, the text that says which keys are held in
// each frame of a recorded or replayed drive.
//
// Text: one instruction a line, `COUNT KEY...`: the keys are held for the
// next COUNT frames (0..KEYSCRIPT_COUNT_MAX). Keys: up down left right stop
// (digit 1) esc, or `none` alone. '#' starts a comment; blank lines are
// skipped; words are separated by spaces, tabs or a carriage return. After
// the last instruction nothing is held. A text holds at most
// KEYSCRIPT_TEXT_MAX bytes, lines at most KEYSCRIPT_LINE_MAX, and no NUL.
//
// A script is kept as runs of frames with the same keys, so a long hold costs
// one run. Frames count from 1; the script's length is at most
// KEYSCRIPT_TEXT_MAX / 2 runs of KEYSCRIPT_COUNT_MAX frames, far inside int64.
// Nothing here touches the keyboard or the file system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr int64_t KEYSCRIPT_COUNT_MAX = 1000000000;
constexpr size_t KEYSCRIPT_TEXT_MAX = size_t{1} << 20;
constexpr size_t KEYSCRIPT_LINE_MAX = 1023;

// A key of the script: its bit in a key set and the scancode it stands for.
struct KeyscriptKey {
    const char *name;
    uint32_t bit;
    int scancode;
};
constexpr int KEYSCRIPT_KEY_COUNT = 6;
extern const KeyscriptKey KEYSCRIPT_KEYS[KEYSCRIPT_KEY_COUNT];

struct KeyRun {
    int64_t count;   // frames, >= 0 (a count of 0 is kept: it prints back)
    uint32_t keys;   // bits of KEYSCRIPT_KEYS
};

struct KeyScript {
    std::vector<KeyRun> runs;
    int64_t frames = 0;   // the sum of the counts
    // Where the last keyscript_keys_at found its frame: a run's index and the
    // frame that run starts at. The next frame is then found from there, so a
    // drive read frame by frame costs the same at any length. It always names
    // a run that exists (or run 0 of an empty script); keyscript_append keeps
    // it right, and a script whose earlier runs are changed by hand starts
    // from a fresh KeyScript.
    mutable size_t cursor_run = 0;
    mutable int64_t cursor_first = 1;
};

// False with "NAME:LINE: message" in *error (NAME names the text).
bool keyscript_parse(const char *text, size_t size, const char *name, KeyScript *out,
                     std::string *error);

// The keys held in a frame (from 1); 0 before frame 1 and after the script.
// Walks from the run the last call found: O(1) for the next frame, O(runs
// crossed) for a jump.
uint32_t keyscript_keys_at(const KeyScript &script, int64_t frame);

// One more frame holding `keys`, joined to the last run when it holds the
// same keys and has room.
void keyscript_append(KeyScript *script, uint32_t keys);

// The script as text that keyscript_parse reads back into the same runs.
std::string keyscript_print(const KeyScript &script);
