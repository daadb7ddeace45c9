// base/datadir.h: where the game's data folder is, for the game and the tools.
//
// The data folder is the first of these places that holds a regular file
// level1.3dw:
//   1 the folder the caller names (the --data option), when given;
//   2 the folder in the environment variable POLYDRIVE_DATA, when set and
//     not empty;
//   3 "lib" below the working directory (a level maker's own lib/ wins);
//   4 <prefix>/share/polydrive/lib, where <prefix> is the folder above the
//     one that holds the running program (/proc/self/exe), so an installed
//     tree works wherever it is moved;
//   5 the build tree's lib/ (compiled in), only for a program that runs from
//     inside that build tree: an installed copy never looks there.
// A folder named by the caller or by POLYDRIVE_DATA is taken at its word: it
// is the only place looked, so a mistyped name is reported, not passed over
// for another folder's data.
//
// Paths are returned as found ("lib" stays relative); the strings live in the
// module and stay valid until the next search. Nothing here allocates.
#pragma once

constexpr int DATADIR_PATH_MAX = 4096;
constexpr const char DATADIR_MARKER[] = "level1.3dw";

// The places of a search; a null member is not looked at.
struct DataDirPlaces {
    const char *given;   // --data
    const char *env;     // POLYDRIVE_DATA
    const char *exe;     // the running program's absolute path
    const char *build;   // the build tree (its lib/ is the fifth place)
};

// The places of this process: POLYDRIVE_DATA, /proc/self/exe and the build
// tree compiled in.
DataDirPlaces datadir_places(const char *given);

// The folder found, or null; after a search datadir_looked() lists every
// place looked, in order, separated by ", ".
const char *datadir_search(const DataDirPlaces &places);
const char *datadir_looked();

// For a program run from its build tree that found its data in ./lib (no
// --data, no POLYDRIVE_DATA): the build's lib/ when one of its files differs
// from the file of that name in `found` (or `found` lacks it) and is the
// newer of the two, as after a level maker edits a source and rebuilds but
// has not copied the result into lib/. Null otherwise.
const char *datadir_newer_build(const DataDirPlaces &places, const char *found);

// The folder found for this process; when there is none, prints one line
// "<program>: cannot find the game's data: no level1.3dw in <places>" on
// standard error and ends the process with status 1.
const char *datadir_require(const char *program, const char *given);
