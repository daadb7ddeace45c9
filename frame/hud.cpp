// frame/hud.cpp: the status line and the map.
#include "frame/hud.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "base/fixed.h"
#include "frame/pause.h"
#include "scene/body.h"
#include "scene/mesh.h"

namespace {

constexpr int N = HUD_MAP_SIDE;
constexpr int SAMPLE_MAX = 1024;   // bodies whose centres frame the map
constexpr int RAMP_LEVELS = 24;    // palette entries per colour ramp
constexpr int MAP_SHADE = 14;      // the level of a ramp a map shape is drawn in

struct HudState {
    int timed;   // seconds a game lasts; 0: untimed (a demo playing)
    int64_t start_ns;
    int64_t held_at_start;   // pause_held_ns() when the game began
    char status[HUD_STATUS_MAX];
    int map_on;
    uint8_t map[N * N];
    int64_t min_x, min_z, span;   // the square of the world the map shows
    uint8_t background, car, nose;
    int64_t xs[SAMPLE_MAX], zs[SAMPLE_MAX];
};
HudState hud;

int64_t now_ns() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

Body *player_body() {
    for (Body *b = body_list; b != nullptr; b = b->next)
        if (b->flags & BODY_HUMAN) return b;
    return nullptr;
}

// The palette entry nearest to a colour of 6-bit components.
uint8_t nearest(int r, int g, int b) {
    int rgb[PLAT_PALETTE_INTS];
    plat_get_palette(rgb);
    int best = 0;
    int64_t best_d = INT64_MAX;
    for (int c = 0; c < 255; c++) {   // 255 is transparent in bitmaps
        const int64_t dr = rgb[c * 3] - r, dg = rgb[c * 3 + 1] - g, db = rgb[c * 3 + 2] - b;
        const int64_t d = dr * dr + dg * dg + db * db;
        if (d < best_d) best_d = d, best = c;
    }
    return static_cast<uint8_t>(best);
}

// Map pixel of a world coordinate, clamped to the map's edge (so a car
// that left the level shows on the side it went).
int to_px(int64_t x) {
    return static_cast<int>(std::clamp<int64_t>((x - hud.min_x) * (N - 1) / hud.span, 0, N - 1));
}
int to_py(int64_t z) {
    return N - 1 -
           static_cast<int>(std::clamp<int64_t>((z - hud.min_z) * (N - 1) / hud.span, 0, N - 1));
}

void fill(uint8_t *into, int x0, int y0, int x1, int y1, uint8_t colour) {
    for (int y = std::max(0, y0); y <= std::min(N - 1, y1); y++)
        for (int x = std::max(0, x0); x <= std::min(N - 1, x1); x++) into[y * N + x] = colour;
}

// The mesh's box seen from above; none for a box wholly outside the map
// (scenery far out is not piled up along its edges).
void draw_box(uint8_t *into, const Mesh *m, uint8_t colour) {
    const int64_t cx = m->world_centre[0], cz = m->world_centre[2];
    const int64_t hx = m->half_extent[0], hz = m->half_extent[2];
    if (cx + hx < hud.min_x || cx - hx > hud.min_x + hud.span) return;
    if (cz + hz < hud.min_z || cz - hz > hud.min_z + hud.span) return;
    fill(into, to_px(cx - hx), to_py(cz + hz), to_px(cx + hx), to_py(cz - hz), colour);
}

// The colour of a mesh on the map: a level of its first polygon's ramp; -1
// (not drawn) for a sprite or a ramp past the palette's.
int mesh_colour(const Mesh *m) {
    for (const Face *f = m->faces; f != nullptr; f = f->next) {
        if (f->corner_count != 3) continue;
        const int ramp = static_cast<int>((f->flags & FACE_RAMP_MASK) >> FACE_RAMP_SHIFT);
        const int colour = ramp * RAMP_LEVELS + MAP_SHADE;
        return colour < 255 ? colour : -1;
    }
    return -1;
}

// The square of the world the map shows: where most of the level is. Far
// scenery (mountains on the horizon) would shrink the track to a dot, so
// the tenth and ninetieth percentiles of the bodies' centres frame it, with
// a margin of half their spread.
void frame_map() {
    int n = 0;
    for (const Body *b = body_list; b != nullptr && n < SAMPLE_MAX; b = b->next, n++) {
        hud.xs[n] = b->mesh->world_centre[0];
        hud.zs[n] = b->mesh->world_centre[2];
    }
    if (n == 0) {
        hud.min_x = hud.min_z = 0;
        hud.span = 1;
        return;
    }
    const int lo = n / 10, hi = n - 1 - n / 10;
    int64_t bounds[2][2];
    for (int axis = 0; axis < 2; axis++) {
        int64_t *v = axis == 0 ? hud.xs : hud.zs;
        std::nth_element(v, v + lo, v + n);
        bounds[axis][0] = v[lo];
        std::nth_element(v, v + hi, v + n);
        bounds[axis][1] = v[hi];
    }
    const int64_t spread =
        std::max({bounds[0][1] - bounds[0][0], bounds[1][1] - bounds[1][0], int64_t{1000}});
    hud.span = spread * 2;
    hud.min_x = (bounds[0][0] + bounds[0][1]) / 2 - spread;
    hud.min_z = (bounds[1][0] + bounds[1][1]) / 2 - spread;
}

void pick_colours() {
    hud.background = nearest(4, 4, 6);
    hud.car = nearest(63, 63, 63);
    hud.nose = nearest(63, 0, 0);
}

// The level from above, every body as its box in its own colour (large
// shapes first, so that roads and buildings stay on top of the grass), and
// the car over it, white, with a red nose.
void draw_map() {
    std::memset(hud.map, hud.background, sizeof hud.map);
    const int64_t large = hud.span / 8;
    for (int pass = 0; pass < 2; pass++) {
        for (const Body *b = body_list; b != nullptr; b = b->next) {
            if (b->flags & BODY_HUMAN) continue;
            const int colour = mesh_colour(b->mesh);
            if (colour < 0) continue;
            const bool is_large =
                b->mesh->half_extent[0] >= large || b->mesh->half_extent[2] >= large;
            if (is_large == (pass == 0)) draw_box(hud.map, b->mesh, static_cast<uint8_t>(colour));
        }
    }
    const Body *p = player_body();
    if (p == nullptr) return;
    const Mesh *m = p->mesh;
    const int x = to_px(m->x), y = to_py(m->z);
    fill(hud.map, x - 1, y - 1, x + 1, y + 1, hud.car);
    // The nose, two and three pixels ahead along the heading (+z is up).
    const int dx = fixed_sin(p->heading) >> 28, dy = -(fixed_cos(p->heading) >> 28);   // -2..2
    for (int step = 2; step <= 3; step++) {
        const int nx = x + dx * step / 2, ny = y + dy * step / 2;
        fill(hud.map, nx, ny, nx, ny, hud.nose);
    }
}

// The status line is built every frame, so it is put together by hand: a
// formatted print costs more than the rest of the HUD. Text past the buffer
// is cut, and the buffer always ends in a NUL, as a bounded print leaves it.
struct StatusText {
    char text[HUD_STATUS_MAX] = {};
    size_t n = 0;
    void put(const char *s) {
        for (; *s != '\0' && n + 1 < sizeof text; ++s) text[n++] = *s;
    }
    void put_number(int64_t v) {
        char digits[24];
        int k = 0;
        uint64_t m = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
        do {
            digits[k++] = static_cast<char>('0' + m % 10);
            m /= 10;
        } while (m != 0);
        if (v < 0) digits[k++] = '-';
        while (k > 0 && n + 1 < sizeof text) text[n++] = digits[--k];
    }
};

void build_status() {
    StatusText line;
    const char *const text = line.text;
    const Body *p = player_body();
    const int32_t kmh = p != nullptr ? hud_speed_kmh(p->vx, p->vz) : 0;
    const char *state = pause_active() ? "paused · " : !hud.timed ? "demo · " : "";
    if (hud.timed) {
        const int64_t played = now_ns() - hud.start_ns - (pause_held_ns() - hud.held_at_start);
        const int64_t left_ns = std::max<int64_t>(0, int64_t{hud.timed} * 1000000000 - played);
        const int64_t left = (left_ns + 999999999) / 1000000000;
        line.put("polydrive · ");
        line.put(state);
        line.put_number(left);
        line.put(" s left · ");
    } else {
        line.put("polydrive · ");
        line.put(state);
    }
    line.put_number(kmh);
    line.put(" km/h");
    if (std::strcmp(text, hud.status) == 0) return;
    std::memcpy(hud.status, text, sizeof line.text);
    plat_set_status(hud.status);
}

}   // namespace

int32_t hud_speed_kmh(int32_t vx, int32_t vz) {
    // |v| in 64 bits (each square fits; their sum fits unsigned), then
    // units a frame × 70.086 frames/s × 3.6 / 5000 units a metre.
    uint64_t rest = uint64_t(int64_t{vx} * vx) + uint64_t(int64_t{vz} * vz);
    uint64_t root = 0, bit = uint64_t{1} << 62;
    while (bit > rest) bit >>= 2;
    for (; bit != 0; bit >>= 2) {
        if (rest >= root + bit) {
            rest -= root + bit;
            root = (root >> 1) + bit;
        } else {
            root >>= 1;
        }
    }
    return static_cast<int32_t>(root * 2523096 / 50000000);
}

void hud_begin(int timed) {
    hud.timed = timed;
    hud.start_ns = now_ns();
    hud.held_at_start = pause_held_ns();
    hud.status[0] = '\0';
    pick_colours();
    frame_map();
    if (hud.map_on) {
        draw_map();
        plat_set_side_picture(hud.map);
    }
}

void hud_update() {
    build_status();
    if (hud.map_on) {
        draw_map();
        plat_set_side_picture(hud.map);
    }
}

void hud_show_map(int on) {
    hud.map_on = on != 0;
    if (!hud.map_on) plat_set_side_picture(nullptr);
}

void hud_toggle_map() {
    hud_show_map(!hud.map_on);
    if (hud.map_on) hud_update();
}

int hud_map_shown() { return hud.map_on; }
const char *hud_status() { return hud.status; }
const uint8_t *hud_map() { return hud.map; }
