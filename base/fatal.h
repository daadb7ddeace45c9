// base/fatal.h: the two services every module uses for what cannot go on.
//
// fatal_error formats its message into a 128-byte buffer (longer messages are
// truncated), runs the shutdown the program registered with
// fatal_set_shutdown so the screen and keyboard are given back,
// prints "Fatal error: <message>\n" on standard output and ends the process
// with status 1. A null format stands for "not enough memory".
//
// safe_alloc never returns null: it ends the program with
// "failed to allocate %ld bytes\n" instead. The memory is not cleared.
//
// Tests and fuzz harnesses may install a hook that is called with the
// formatted message after the shutdown and before anything is printed; a hook
// that throws or jumps away keeps the process alive. The program itself
// installs none.
#pragma once

#include <cstddef>

[[noreturn]] void fatal_error(const char *format, ...) __attribute__((format(printf, 1, 2)));

void *safe_alloc(long size);

using FatalHook = void (*)(const char *message);
void fatal_set_hook(FatalHook hook);   // null removes it

// The program's shutdown, registered at start-up: the modules live above this
// floor, so fatal_error learns of them only through this pointer. Null (the
// start value) means nothing to give back.
using FatalShutdown = void (*)();
void fatal_set_shutdown(FatalShutdown shutdown);
