// Key events a test sends from a headless present hook, as a person at the
// keyboard would between frames, the picture each present showed, and a
// game played with them.
#pragma once

#include <string>
#include <vector>

#include "frame/game.h"
#include "platform/headless/headless.h"
#include "platform/kbd.h"
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

// One game of level 1 through the real frame loop with `hook` on every
// present, Up held from the first frame when `accelerate`, until the keys
// the hook sends end it.
inline void play_level_one(HeadlessHook hook, bool accelerate) {
    game_startup();
    if (accelerate) headless_queue_key(KEY_UP, 1);
    level_load(1);
    headless_set_hook(hook);
    game_run();
    headless_set_hook(nullptr);
    game_shutdown();
    level_free();
}
