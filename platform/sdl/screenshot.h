// platform/sdl/screenshot.h: the window's screenshot, an indexed PNG.
//
// The picture is the frame's palette indices (width × height, rows pitch bytes
// apart: the frame at the size it is drawn) with the 256-entry palette of 6-bit
// components (widened so 63 gives 255), written as an 8-bit palette PNG into
// the screenshot folder: $XDG_PICTURES_DIR/polydrive, else the pictures
// folder the desktop's user-dirs.dirs names followed by /polydrive, else
// $HOME/Pictures/polydrive, else (no HOME) the working directory; folders are
// created as needed. The name is polydrive-YYYYMMDD-HHMMSS.png by local time, with
// -2, -3, ... added when a file of that name exists; an existing file is never
// replaced. The file appears whole or not at all. A failure prints one line on
// standard error and returns false; nothing else happens.
#pragma once

#include <cstdint>

bool screenshot_save(const uint8_t *indices, int width, int height, int pitch, const int *palette);
