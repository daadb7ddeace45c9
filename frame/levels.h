// frame/levels.h: the levels of the data folder, chosen by number, and the
// check at load that a level fits the limits in force.
//
// Level N is the world file "level<N>.3dw" of the data folder; every level
// is driven with the same car, car1.3do. Level 1 is the default.
#pragma once

constexpr int LEVEL_NUMBER_MAX = 9999;

// A level number in 1..LEVEL_NUMBER_MAX, digits only; 0 for anything else.
int level_parse_number(const char *text);

// Ends the program with one line when level N cannot be played: when the
// data folder has no level N (the line names the levels it has), or when the
// level and its car cannot be in the resource pool together (the line names
// the figure, the pool and the option that plays it). Nothing is registered.
void level_require(int level);

// Writes "level<N>.3dw" into name (at least LEVEL_FILE_NAME_SIZE bytes).
constexpr int LEVEL_FILE_NAME_SIZE = 16;
void level_file_name(int level, char *name);

// The level option of the tools and the game: the number, or -1 after
// printing "<program>: --level needs a number in 1..9999, not 'TEXT'".
int level_option(const char *program, const char *text);
