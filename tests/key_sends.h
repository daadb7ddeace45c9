// Key events a test sends from a headless present hook, as a person at the
// keyboard would between frames, and the picture each present showed.
#pragma once

#include <string>
#include <vector>

#include "platform/headless/headless.h"
#include "platform/video.h"

// Pressed (or released) right after present number `present`.
struct Send {
    int present;
    int scancode;
    int press;
};

inline void queue_sends_due(const std::vector<Send> &sends) {
    for (const Send &s : sends)
        if (s.present == headless_presents()) headless_queue_key(s.scancode, s.press);
}

inline std::string video_memory_now() {
    const uint8_t *vram = headless_video_memory();
    return std::string(vram, vram + SCREEN_SIZE);
}
