// frame/demo.cpp: the game's demos, recorded and played.
#include "frame/demo.h"

#include <cstdio>
#include <vector>

#include "base/fatal.h"
#include "base/fileio.h"
#include "base/save.h"
#include "platform/backend.h"
#include "platform/kbd.h"

namespace {

constexpr size_t RECORD_RESERVE = 8192;   // runs: more than a timed game's frames

constexpr int DEMO_OFF = 0;
constexpr int DEMO_RECORD = 1;
constexpr int DEMO_PLAY = 2;

struct DemoState {
    int mode;
    char path[SAVE_PATH_MAX];   // the demo being recorded
    KeyScript script;           // recorded, or being played
    int64_t frame;              // playing: the frames begun
    uint32_t held;              // playing: the keys handed to the key table
    int escape_only;            // playing: the keyboard filter is installed
};
DemoState demo;

// The playing game's keyboard: only Escape reaches the key table; the demo
// gives the rest.
void escape_only(int scancode, int press) {
    if (scancode == KEY_ESCAPE) kbd_event_handler(scancode, press);
}

void play_frame_keys(uint32_t want) {
    for (const KeyscriptKey &k : KEYSCRIPT_KEYS) {
        if ((demo.held & k.bit) && !(want & k.bit)) kbd_event_handler(k.scancode, 0);
    }
    for (const KeyscriptKey &k : KEYSCRIPT_KEYS) {
        if (!(demo.held & k.bit) && (want & k.bit)) kbd_event_handler(k.scancode, 1);
    }
    demo.held = want;
}

}   // namespace

bool demo_read(const char *path, KeyScript *script, std::string *error) {
    // Read the one safe way: a FIFO or a device named as a demo is refused at
    // once instead of hanging the game, and no more than a script may hold.
    std::vector<uint8_t> text;
    if (!fileio_read(path, KEYSCRIPT_TEXT_MAX, &text, error)) {
        *error = "key script " + *error;
        return false;
    }
    return keyscript_parse(reinterpret_cast<const char *>(text.data()), text.size(), path, script,
                           error);
}

std::string demo_text(const KeyScript &script) {
    return "# polydrive demo: " + std::to_string(script.frames) + " frames\n" +
           keyscript_print(script);
}

void demo_record_to(const char *path) {
    // Refused now rather than after the drive: one of the run's inputs, a
    // device, a FIFO, a folder, or a place that takes no file.
    std::string error;
    if (!fileio_check_output(path, &error)) fatal_error("cannot write demo: %s", error.c_str());
    demo.mode = DEMO_RECORD;
    std::snprintf(demo.path, sizeof demo.path, "%s", path);
    demo.script = KeyScript{};
    demo.script.runs.reserve(RECORD_RESERVE);
}

void demo_play_from(const char *path) {
    std::string error;
    if (!demo_read(path, &demo.script, &error)) fatal_error("%s", error.c_str());
    demo.mode = DEMO_PLAY;
    demo.frame = 0;
    demo.held = 0;
    demo.escape_only = 0;
}

int demo_playing() { return demo.mode == DEMO_PLAY; }
int demo_recording() { return demo.mode == DEMO_RECORD; }

int demo_frame_begin() {
    if (demo.mode == DEMO_RECORD) {
        // The Escape test reads the keyboard once for the whole frame.
        kbd_hold_polls(0);
    } else if (demo.mode == DEMO_PLAY) {
        if (!demo.escape_only) {
            plat_keyboard_set_handler(escape_only);
            demo.escape_only = 1;
        }
        if (demo.frame >= demo.script.frames) return 0;
        demo.frame++;
        play_frame_keys(keyscript_keys_at(demo.script, demo.frame));
    }
    return 1;
}

void demo_frame_keys() {
    if (demo.mode != DEMO_RECORD) return;
    kbd_hold_polls(1);
    uint32_t keys = 0;
    for (const KeyscriptKey &k : KEYSCRIPT_KEYS) {
        if (kbd_is_down(k.scancode)) keys |= k.bit;
    }
    keyscript_append(&demo.script, keys);
}

void demo_finish() {
    const int mode = demo.mode;
    demo.mode = DEMO_OFF;
    if (mode != DEMO_RECORD) return;
    kbd_hold_polls(0);
    const std::string text = demo_text(demo.script);
    std::string error;
    if (!fileio_write(demo.path, text.data(), text.size(), &error))
        fatal_error("cannot write demo: %s", error.c_str());
}
