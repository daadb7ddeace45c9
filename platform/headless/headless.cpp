// platform/headless/headless.cpp: the platform in memory, for tests and tools.
#include "platform/headless/headless.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "base/fatal.h"
#include "platform/backend.h"
#include "platform/video.h"

namespace {

struct KeyEvent {
    uint8_t scancode;
    uint8_t press;
};

struct HeadlessState {
    uint8_t *vram;           // video_memory
    int frame_bytes;         // of the frame the last switch opened, or will open
    uint8_t *last_present;   // video memory as of the last present, when counting
    int palette[PLAT_PALETTE_INTS];
    int mode;
    int count_words;   // set by tests that ask how many words a present changed
    int flip_words;
    int presents;
    int palette_loads;

    PlatKeyHandler handler;
    int fail_keyboard;
    KeyEvent queue[HEADLESS_QUEUE_SIZE];
    int queue_head;
    int queue_count;

    char status[HEADLESS_STATUS_SIZE];
    int status_changes;
    uint8_t side[PLAT_SIDE_PICTURE * PLAT_SIDE_PICTURE];
    int side_shown;

    char log[HEADLESS_LOG_SIZE];
    int log_length;
    int trace;
    HeadlessHook hook;
};
// Room for the largest frame; gfx_frame() says how much of it is in use.
alignas(64) uint8_t video_memory[SCREEN_MAX_BYTES];
uint8_t last_present_memory[SCREEN_MAX_BYTES];
HeadlessState fresh_state() {
    HeadlessState h = {};
    h.vram = video_memory;
    h.last_present = last_present_memory;
    h.frame_bytes = SCREEN_SIZE;
    return h;
}
HeadlessState headless = fresh_state();

void log_event(const char *name) {
    if (headless.trace) {
        // write(2) rather than stdio: nothing buffered is lost if a signal
        // ends the process right after.
        ssize_t ignored = write(STDERR_FILENO, name, std::strlen(name));
        ignored = write(STDERR_FILENO, "\n", 1);
        (void)ignored;
    }
    const char *separator = headless.log_length > 0 ? " " : "";
    int room = HEADLESS_LOG_SIZE - headless.log_length;
    int needed = static_cast<int>(std::strlen(separator) + std::strlen(name));
    if (needed >= room) return;
    std::snprintf(headless.log + headless.log_length, room, "%s%s", separator, name);
    headless.log_length += needed;
}

void count_changed_words() {
    int changed = 0;
    const int bytes = headless.frame_bytes;
    for (int offset = 0; offset < bytes; offset += 4) {
        uint32_t now, before;
        std::memcpy(&now, headless.vram + offset, 4);
        std::memcpy(&before, headless.last_present + offset, 4);
        changed += now != before;
    }
    headless.flip_words = changed;
    std::memcpy(headless.last_present, headless.vram, static_cast<size_t>(bytes));
}

}   // namespace

// --- the backend interface ---

void plat_set_mode(int mode) {
    headless.mode = mode;
    if (mode == PLAT_MODE_GRAPHICS) {
        const auto bytes = static_cast<size_t>(headless.frame_bytes);
        std::memset(headless.vram, 0, bytes);
        std::memset(headless.last_present, 0, bytes);
        log_event("graphics");
    } else {
        log_event("text");
    }
}

void plat_set_frame(int, int, int, int bytes) {
    headless.frame_bytes = bytes < 0 ? 0 : bytes > SCREEN_MAX_BYTES ? SCREEN_MAX_BYTES : bytes;
}

uint8_t *plat_video_memory() {
    return headless.mode == PLAT_MODE_GRAPHICS ? headless.vram : nullptr;
}

// Tests count the words each flip changes.
bool plat_video_memory_plain() { return false; }

void plat_present() {
    headless.presents++;
    if (headless.count_words) count_changed_words();
    if (headless.hook != nullptr) headless.hook(HEADLESS_EVENT_PRESENT);
}

void plat_set_palette(const int *rgb) {
    for (int i = 0; i < PLAT_PALETTE_INTS; i++) headless.palette[i] = rgb[i] & 63;
    headless.palette_loads++;
    if (headless.hook != nullptr) headless.hook(HEADLESS_EVENT_PALETTE);
}

void plat_get_palette(int *rgb) { std::memcpy(rgb, headless.palette, sizeof headless.palette); }

void plat_window_options(int, int, int) {}

void plat_set_status(const char *text) {
    std::snprintf(headless.status, sizeof headless.status, "%s", text);
    headless.status_changes++;
}

void plat_set_side_picture(const uint8_t *pixels) {
    headless.side_shown = pixels != nullptr;
    if (pixels != nullptr) std::memcpy(headless.side, pixels, sizeof headless.side);
}

int plat_keyboard_init() {
    if (headless.fail_keyboard) {
        log_event("keyboard-fail");
        return 1;
    }
    log_event("keyboard-init");
    return 0;
}

void plat_keyboard_set_handler(PlatKeyHandler handler) { headless.handler = handler; }

void plat_keyboard_update() {
    // The handler may queue more keys (a test's hook does); those wait for
    // the next poll, as events that happen during a poll do.
    int pending = headless.queue_count;
    while (pending-- > 0 && headless.handler != nullptr) {
        KeyEvent event = headless.queue[headless.queue_head];
        headless.queue_head = (headless.queue_head + 1) % HEADLESS_QUEUE_SIZE;
        headless.queue_count--;
        headless.handler(event.scancode, event.press);
    }
}

void plat_keyboard_close() {
    headless.handler = nullptr;
    log_event("keyboard-close");
}

// --- controls for tests and tools ---

void headless_reset() {
    const auto bytes = static_cast<size_t>(headless.frame_bytes);
    std::memset(video_memory, 0, bytes);
    std::memset(last_present_memory, 0, bytes);
    headless = fresh_state();
}

void headless_queue_key(int scancode, int press) {
    if (scancode < 0 || scancode > 127) fatal_error("headless: scancode %d out of range", scancode);
    if (headless.queue_count == HEADLESS_QUEUE_SIZE) fatal_error("headless: key queue full");
    int tail = (headless.queue_head + headless.queue_count) % HEADLESS_QUEUE_SIZE;
    headless.queue[tail] = {static_cast<uint8_t>(scancode), static_cast<uint8_t>(press != 0)};
    headless.queue_count++;
}

int headless_queued_keys() { return headless.queue_count; }
const char *headless_status() { return headless.status; }
int headless_status_changes() { return headless.status_changes; }
const uint8_t *headless_side_picture() { return headless.side_shown ? headless.side : nullptr; }
uint8_t *headless_video_memory() { return headless.vram; }
const int *headless_palette() { return headless.palette; }
int headless_mode() { return headless.mode; }
int headless_flip_words() { return headless.flip_words; }
int headless_presents() { return headless.presents; }
int headless_palette_loads() { return headless.palette_loads; }
void headless_count_words(int on) {
    headless.count_words = on != 0;
    headless.flip_words = 0;
    if (on)
        std::memcpy(headless.last_present, headless.vram,
                    static_cast<size_t>(headless.frame_bytes));
}
void headless_fail_keyboard(int fail) { headless.fail_keyboard = fail; }
const char *headless_log() { return headless.log; }
void headless_set_hook(HeadlessHook hook) { headless.hook = hook; }
void headless_trace(int on) { headless.trace = on; }
