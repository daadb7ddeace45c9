// base/fileio.h: how every program reads its inputs and writes its outputs,
// the game as the tools.
//
// Inputs: fileio_read opens without blocking (a FIFO or a device never holds
// it up), refuses anything that is not a regular file, refuses a file larger
// than the caller's limit from its size alone, and never reads more than the
// limit even when the file grows meanwhile. Every input read is remembered by
// device and inode; files read by other means are remembered with
// fileio_add_input, and every regular file of a folder (the data folder) with
// fileio_add_input_folder.
//
// Outputs: fileio_check_output refuses a target that is one of the inputs
// remembered so far, however it is named (a second name, a link), that exists
// and is not a regular file (a device, a FIFO, a folder: renaming over it
// would replace it by a file), or whose folder takes no new file (it makes and
// removes a temporary file there to know). A program calls it as soon as it
// knows the name, so a bad target is refused before any work is done.
// fileio_write checks again and goes through base/save: the file appears
// whole or not at all, with the mode base/save gives it.
//
// Standard output: fileio_finish_stdout flushes and closes it and says
// whether every byte got out (a full disk, a closed pipe).
//
// Errors are one line without the program's name: "PATH: what went wrong".
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

bool fileio_read(const char *path, size_t limit, std::vector<uint8_t> *bytes, std::string *error);

// Remembers a file as an input (harmless when it cannot be looked at).
void fileio_add_input(const char *path);
void fileio_add_input_id(dev_t dev, ino_t ino);
// Every regular file directly in folder; false when it cannot be listed.
bool fileio_add_input_folder(const char *folder);
bool fileio_is_input(const char *path);
// Forgets every input remembered (tests and tools that run several jobs).
void fileio_forget_inputs();

bool fileio_check_output(const char *path, std::string *error);
bool fileio_write(const char *path, const void *data, size_t size, std::string *error);

// Writes to standard output, remembering why the first failed write failed.
void fileio_stdout_write(const void *data, size_t size);
// False with "standard output: ..." when a write, the flush or the close failed.
bool fileio_finish_stdout(std::string *error);
