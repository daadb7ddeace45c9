// base/save.h: writing a file whole or not at all.
//
// save_begin opens a temporary file in the target's folder; everything goes
// to its stream. save_commit flushes, syncs and closes it and only then
// renames it over the target (save_commit_new links it instead, so an
// existing file is never replaced: it fails with EEXIST). Any failed write,
// flush, sync, close or rename makes the commit fail and removes the
// temporary file, leaving whatever was at the target untouched; errno tells
// why. save_abort drops the temporary file.
//
// The file gets the mode any file the process creates would get (0666 less
// the umask); a file replaced keeps its own permission bits, less the umask.
//
// The temporary files of unfinished saves are remembered (at most
// SAVE_PENDING_MAX at once), so a signal handler can remove them with
// save_abort_pending, which only calls unlink.
#pragma once

#include <cstdio>

constexpr int SAVE_PATH_MAX = 4096;
constexpr int SAVE_PENDING_MAX = 8;

struct SaveFile {
    FILE *stream;   // null when not open
    char target[SAVE_PATH_MAX];
    char temp[SAVE_PATH_MAX];
    int slot;   // index in the pending table, -1 for none
};

// False (errno set) when the temporary file cannot be made; f is then closed.
bool save_begin(SaveFile *f, const char *target);
bool save_commit(SaveFile *f);       // rename over the target
bool save_commit_new(SaveFile *f);   // only where no file of that name exists
void save_abort(SaveFile *f);        // harmless on a closed SaveFile

// Async-signal-safe: unlinks the temporary files of every unfinished save.
void save_abort_pending();
