// tools/assetfmt/toolio.h: how the tools read their inputs, write their
// outputs, parse their options and end on a signal.
//
// Inputs and outputs: toolio_read, toolio_write, toolio_is_input and the
// standard output pair are base/fileio's (the game shares them), under the
// names the tools have always used: inputs only as regular files, bounded,
// opened without blocking and remembered; outputs whole, never over an input
// or anything that is not a regular file.
//
// Signals: after toolio_catch_signals, SIGINT, SIGTERM and SIGHUP (the
// terminal went away) remove the
// temporary files of unfinished saves and the paths given to
// toolio_remove_on_signal (files or empty folders, in the order given), then
// end the process by that signal with its default action. The handler only
// calls unlink, rmdir, signal and raise.
//
// Errors are one line without the tool's name: "PATH: what went wrong".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Exit status of a command-line mistake (an unknown option, a value out of range).
constexpr int TOOLIO_USAGE_STATUS = 2;

bool toolio_read(const std::string &path, size_t limit, std::vector<uint8_t> *bytes,
                 std::string *error);
bool toolio_write(const std::string &path, const void *data, size_t size, std::string *error);

// Whether path names a file already read as an input.
bool toolio_is_input(const std::string &path);

// Writes to standard output, remembering why the first failed write failed.
void toolio_stdout_write(const void *data, size_t size);
// False with "standard output: ..." when a write, the flush or the close failed.
bool toolio_finish_stdout(std::string *error);

// The options every tool answers alike: for --help or -h prints usage, for
// --version "<program> <version>", on standard output, and ends the process
// with status 0 (1 with "<program>: standard output: ..." when the output
// cannot be written). Returns for any other argument.
void toolio_answer_help_or_version(const std::string &arg, const char *program, const char *usage,
                                   const char *version);

void toolio_catch_signals();
// At most 4 paths; each is copied.
void toolio_remove_on_signal(const char *path);
void toolio_forget_removals();

// A whole decimal number in min..max (no sign but '-', no space, no overflow).
bool toolio_number(const char *text, int64_t min, int64_t max, int64_t *value);

// The --limits option: selects the limit set named (scene/limits), or prints
// "<program>: --limits is classic or raised, not 'NAME'" on standard error
// and ends the process with TOOLIO_USAGE_STATUS.
void toolio_select_limits(const char *program, const char *name);
