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

#include "platform/video.h"
#include "scene/limits.h"
#include "tools/assetfmt/bitmap.h"
#include "tools/assetfmt/level.h"
#include "tools/workshop/workshop.h"

namespace {

const char SOURCE_NAME[] = "level.world";
WorkshopFrame frame;
std::string last_error;
int last_line = 0;
WorkshopView busy_view;
std::vector<uint8_t> drive_bytes;
std::vector<uint8_t> bitmap_bytes;

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

// Whether the good level needs the raised limits: it is drawn under them.
bool good_raised = false;

void select_limits(bool raised) { limits_select(raised ? LIMITS_RAISED : LIMITS_CLASSIC); }

// Compiles text (len bytes, any bytes) and draws it from the player start.
// The source is compiled under the raised limits, as `levelc --limits
// raised` would; a level that the classic limits take as well is drawn under
// those, any other under the raised ones. A source refused under the raised
// limits is refused with the line levelc gives by default (classic).
// Returns 0 when it is the good level now, 1 for levelc's refusal, 2 for the
// game's (a fatal line); ws_error and ws_error_line tell which and where.
extern "C" EMSCRIPTEN_KEEPALIVE int ws_compile(const char *text, int len) {
    std::vector<uint8_t> bytes;
    const std::string source(text, static_cast<size_t>(len));
    last_error.clear();
    last_line = 0;
    select_limits(true);
    if (!workshop_compile(source, SOURCE_NAME, &bytes, &last_error, &last_line)) {
        // Only the spare slot bounds and the whole-file check name the
        // limits; any other refusal is the same line under either set.
        if (last_line == 0 || last_error.find("spare slots") != std::string::npos) {
            select_limits(false);
            std::vector<uint8_t> unused;
            workshop_compile(source, SOURCE_NAME, &unused, &last_error, &last_line);
        }
        select_limits(good_raised);
        return 1;
    }
    const bool raised = !workshop_fits_classic(bytes);
    select_limits(raised);
    if (!write_level("/try/level1.3dw", bytes)) {
        last_error = "cannot write the compiled level";
        select_limits(good_raised);
        return 2;
    }
    if (!workshop_render("/try", nullptr, &frame, &last_error)) {
        select_limits(good_raised);
        return 2;
    }
    if (!write_level("/good/level1.3dw", bytes)) {
        last_error = "cannot write the compiled level";
        return 2;
    }
    good_raised = raised;
    return 0;
}

// The limits the good level is drawn under: 1 raised, 0 classic (the page's
// engine is told what its worker found).
extern "C" EMSCRIPTEN_KEEPALIVE int ws_raised() { return good_raised ? 1 : 0; }
extern "C" EMSCRIPTEN_KEEPALIVE void ws_set_raised(int raised) {
    good_raised = raised != 0;
    select_limits(good_raised);
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

// A PNG file (len bytes) converted as bitmapc converts it: the Bitmap's bytes
// at ws_bitmap_bytes, the count returned (-1 with bitmapc's reason at
// ws_error).
extern "C" EMSCRIPTEN_KEEPALIVE int ws_bitmap(const uint8_t *png, int len) {
    last_error.clear();
    if (len < 0 || static_cast<size_t>(len) > LEVEL_SOURCE_MAX) {
        last_error = "the picture is larger than 16 MiB";
        return -1;
    }
    if (!bitmap_from_png(png, static_cast<size_t>(len), palette_default(), &bitmap_bytes,
                         &last_error))
        return -1;
    return static_cast<int>(bitmap_bytes.size());
}
extern "C" EMSCRIPTEN_KEEPALIVE const uint8_t *ws_bitmap_bytes() { return bitmap_bytes.data(); }
