// tools/workshop/workshop_web.cpp: the workshop page's WebAssembly entry.
//
// Two data folders, each a copy of lib/: /try takes each compiled source and
// is drawn once; only a level that draws becomes /good, the one the free
// camera keeps drawing, so a broken source never takes the last good level
// away. The source itself and the files the page was given (OBJ, MTL) live in
// /work, the working folder, so that `obj` lines name them as levelc would.
#include <emscripten/emscripten.h>

#include <cstdio>
#include <string>
#include <vector>

#include "scene/limits.h"
#include "tools/workshop/workshop.h"

namespace {

const char SOURCE_NAME[] = "level.world";
WorkshopFrame frame;
std::string last_error;
int last_line = 0;
WorkshopView busy_view;
std::vector<uint8_t> drive_bytes;

bool read_level(const char *path, std::vector<uint8_t> *bytes) {
    std::FILE *f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    uint8_t chunk[4096];
    size_t n;
    bytes->clear();
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes->insert(bytes->end(), chunk, chunk + n);
    return std::fclose(f) == 0;
}

bool write_level(const char *path, const std::vector<uint8_t> &bytes) {
    std::FILE *f = std::fopen(path, "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

}   // namespace

// Compiles text (len bytes, any bytes) and draws it from the player start.
// Returns 0 when it is the good level now, 1 for levelc's refusal, 2 for the
// game's (a fatal line); ws_error and ws_error_line tell which and where.
extern "C" EMSCRIPTEN_KEEPALIVE int ws_compile(const char *text, int len) {
    std::vector<uint8_t> bytes;
    last_error.clear();
    last_line = 0;
    if (!workshop_compile(std::string(text, static_cast<size_t>(len)), SOURCE_NAME, &bytes,
                          &last_error, &last_line))
        return 1;
    if (!write_level("/try/level1.3dw", bytes)) {
        last_error = "cannot write the compiled level";
        return 2;
    }
    if (!workshop_render("/try", nullptr, &frame, &last_error)) return 2;
    if (!write_level("/good/level1.3dw", bytes)) {
        last_error = "cannot write the compiled level";
        return 2;
    }
    return 0;
}

// Draws the good level from the player start (use_view 0) or from the camera.
extern "C" EMSCRIPTEN_KEEPALIVE int ws_render(int use_view, int x, int y, int z, int pitch,
                                              int heading) {
    const WorkshopView view{x, y, z, pitch, heading};
    last_error.clear();
    return workshop_render("/good", use_view ? &view : nullptr, &frame, &last_error) ? 0 : 2;
}

extern "C" EMSCRIPTEN_KEEPALIVE const char *ws_error() { return last_error.c_str(); }
extern "C" EMSCRIPTEN_KEEPALIVE int ws_error_line() { return last_line; }
extern "C" EMSCRIPTEN_KEEPALIVE const uint8_t *ws_rgba() { return frame.rgba; }
extern "C" EMSCRIPTEN_KEEPALIVE int ws_faces() { return frame.faces; }
extern "C" EMSCRIPTEN_KEEPALIVE int ws_world_bytes() { return frame.world_bytes; }
extern "C" EMSCRIPTEN_KEEPALIVE int ws_car_bytes() { return frame.car_bytes; }
// The player's first-frame camera: 0..4 = x, y, z, pitch, heading.
extern "C" EMSCRIPTEN_KEEPALIVE int ws_has_start() { return frame.has_start ? 1 : 0; }
extern "C" EMSCRIPTEN_KEEPALIVE int ws_start(int i) {
    const WorkshopView &s = frame.start;
    const int v[5] = {s.x, s.y, s.z, s.pitch, s.heading};
    return i >= 0 && i < 5 ? v[i] : 0;
}

// The busiest of grid × grid × headings views of the good level: returns its
// face count (-1 with ws_error set when a view or the load ends the game);
// ws_busy(0..4) is the view.
extern "C" EMSCRIPTEN_KEEPALIVE int ws_busiest(int grid, int headings) {
    int faces = -1;
    last_error.clear();
    workshop_busiest("/good", grid, headings, &busy_view, &faces, &last_error);
    return last_error.empty() ? faces : -1;
}
extern "C" EMSCRIPTEN_KEEPALIVE int ws_busy(int i) {
    const int v[5] = {busy_view.x, busy_view.y, busy_view.z, busy_view.pitch, busy_view.heading};
    return i >= 0 && i < 5 ? v[i] : 0;
}

// The good level with its start moved to (x, z): its bytes at ws_drive_bytes,
// the count returned (-1 with ws_error set on failure).
extern "C" EMSCRIPTEN_KEEPALIVE int ws_drive(int x, int z) {
    last_error.clear();
    if (!read_level("/good/level1.3dw", &drive_bytes)) {
        last_error = "no good level yet";
        return -1;
    }
    WorkshopView at;
    at.x = x;
    at.z = z;
    if (!workshop_move_start(&drive_bytes, at, &last_error)) return -1;
    return static_cast<int>(drive_bytes.size());
}
extern "C" EMSCRIPTEN_KEEPALIVE const uint8_t *ws_drive_bytes() { return drive_bytes.data(); }

// The limit sets the verdict holds the level to: set 0 classic, 1 raised;
// field 0 the pool's bytes, 1 the draw list's items.
extern "C" EMSCRIPTEN_KEEPALIVE int ws_limit(int set, int field) {
    const Limits &l = set == 0 ? LIMITS_CLASSIC : LIMITS_RAISED;
    return field == 0 ? l.pool_size : l.drawlist_capacity;
}
