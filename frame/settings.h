// frame/settings.h: the game's settings file.
//
// The file is $XDG_CONFIG_HOME/polydrive/polydrive.conf, else
// $HOME/.config/polydrive/polydrive.conf. It is plain text, one setting a
// line: `key = value`, spaces around either side ignored; `#` starts a
// comment line; blank lines are skipped. A key may appear more than once:
// the last line wins. What the keys are and what their values mean is the
// caller's (the game applies each through its command-line option).
//
// A broken line (no `=`, an empty key, a key the caller does not know, a
// value it refuses, a NUL byte, a line longer than SETTINGS_LINE_MAX) is one
// line on standard error, "polydrive: FILE:LINE: reason", and the parse goes
// on with the next line; the setting keeps its default. The file is read
// only if it is a regular file of at most SETTINGS_FILE_MAX bytes, opened
// without blocking; a file that is missing is no settings at all, one that
// cannot be read is one line on standard error and no settings.
#pragma once

#include <cstddef>
#include <cstdio>

constexpr int SETTINGS_FILE_MAX = 65536;
constexpr int SETTINGS_LINE_MAX = 1024;
constexpr int SETTINGS_PATH_MAX = 4096;

// Applies one setting; returns null when taken, else the reason it is
// refused (a short phrase, such as "unknown setting").
using SettingsApply = const char *(*)(const char *key, const char *value, void *context);

// Parses size bytes of text (any bytes at all); file_name names it in
// messages, which go to report. Returns the number of broken lines.
int settings_parse(const char *text, size_t size, const char *file_name, SettingsApply apply,
                   void *context, FILE *report = stderr);

// The settings file's path; false (path empty) when neither variable gives
// an absolute folder.
bool settings_path(char *path, size_t size);

// Reads the file at path and parses it; returns the number of broken lines
// (a file that exists and cannot be read counts as one).
int settings_load(const char *path, SettingsApply apply, void *context);

// The values yes/no, true/false, on/off, 1/0; -1 for anything else.
int settings_bool(const char *value);

// Writes text as the whole settings file at path, making its folder when
// missing; the file appears whole or not at all. False with one line on
// standard error when it cannot.
bool settings_save(const char *path, const char *text, size_t size);
