// levelcheck: loads a level through the game's own loaders, cache and
// renderer (headless) and checks the limits the game cannot exceed while
// running: the world and car fit the pool together, no view lists more faces
// than the draw list holds, no object runs out of spare vertex slots, near-
// plane clipping never overflows its 32-bit products, every sprite bitmap is
// well formed and can be locked in any order while the world is resident.
//
// Views are sampled over the whole area the car can reach: a grid over the
// level and its surroundings with many headings, and rings far outside that
// look back at the level, out to where the largest object is culled by
// distance (beyond that only sprites are listed). Fatal errors of the engine
// are caught through a throwing fatal hook, reported with the view that
// caused them, and the level is loaded again to go on.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <random>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/fatal.h"
#include "base/datadir.h"
#include "frame/game.h"
#include "frame/levels.h"
#include "frame/view.h"
#include "platform/video.h"
#include "render/camera.h"
#include "render/drawlist.h"
#include "render/render.h"
#include "base/transform.h"
#include "res/res.h"
#include "scene/fileformat.h"
#include "scene/limits.h"
#include "scene/mesh.h"
#include "proof.h"
#include "tools/assetfmt/level.h"
#include "tools/assetfmt/toolio.h"

namespace {

const char USAGE[] =
    "usage: levelcheck [LIBDIR | --data LIBDIR] [--level N] [--limits SET] [--budget S]\n"
    "                  [--require-proof] [--allow-wrap] [--grid N] [--headings N] [--orders N]\n"
    "                  [--quiet]\n"
    "       levelcheck [LIBDIR | --data LIBDIR] [--level N] [--limits SET] --view X Z HEADING\n"
    "       levelcheck --help | --version\n"
    "Checks level N (level1.3dw by default; levelN.3dw with --level) of LIBDIR\n"
    "(by default the data folder the game would find) with car1.3do and the\n"
    "bitmaps its sprites name, using the game's own loaders, cache and renderer,\n"
    "against both limit sets, classic (pool 10240 bytes, draw list 100) and\n"
    "raised (pool 16 MiB, draw list 65536), and ends with one line naming the\n"
    "smallest set the level passes; --limits SET (default classic) is the set\n"
    "it must pass for exit status 0.\n"
    "Proved, for every position of the 32-bit plane at the car's eye height and\n"
    "every heading, with the bodies where the level places them: no view lists\n"
    "more faces than the draw list holds, no object needs more clip vertices\n"
    "than its spare slots, near-plane clipping stays within 32 bits, and no\n"
    "face's projected corners leave the 16.16 range the fillers step in (a\n"
    "projection wrap: the face is drawn over a different part of the screen).\n"
    "The proof bounds cells of positions times ranges of headings and refines\n"
    "only where a bound is over a limit, checking the cell's centre with the\n"
    "real renderer; a failure is reported with a view that really breaks it.\n"
    "Exact: the player start and its first frames, as the game draws them.\n"
    "Checked, not proved: the world and car fit the pool; every sprite bitmap\n"
    "is well formed and can be locked while the world is resident, in --orders\n"
    "random orders (default 300); bodies that move (the soak player drives\n"
    "those). The view is the default one: scale 1, 4:3.\n"
    "A projection wrap is a failure of its own kind (WRAP lines); --allow-wrap\n"
    "reports it without failing (the shipped level 1 has such views and keeps\n"
    "the frames it has always drawn). Level 1 takes about 10 s here.\n"
    "--budget S (seconds, default 120) bounds the proof of each set; when it\n"
    "runs out the verdict is \"not proved\" with the cells left, exit status 0\n"
    "unless --require-proof (then 1).\n"
    "--grid N and --headings N add a sampled sweep: an N x N grid over the\n"
    "level and around it times H headings, and rings far outside looking back.\n"
    "--view X Z HEADING looks from that one place only and lists its faces.\n"
    "On a terminal the long check shows its progress on standard error;\n"
    "SIGINT or SIGTERM ends it at once, removing its scratch folder.\n"
    "Exit status 1 if a limit of SET is broken or a file cannot be read, 2 for\n"
    "a mistake in the command line.\n";

constexpr int MEASURE_CAPACITY = 4096;

struct Fatal : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void throwing_hook(const char *message) { throw Fatal(message); }

struct View {
    int32_t x, z, heading;
};

std::string view_text(const View &v) {
    return "x=" + std::to_string(v.x) + " z=" + std::to_string(v.z) +
           " heading=" + std::to_string(v.heading);
}

struct Check {
    std::vector<std::string> names;   // per body, in body_list order
    std::unordered_map<const Mesh *, int> body_of;
    int32_t eye_y = 0;

    int max_faces = 0;
    View max_faces_at{};
    std::string max_faces_by;   // who listed them, by name
    int max_clip = 0;           // most clip vertices of one object
    int max_clip_body = -1;
    View max_clip_at{};
    int least_headroom = INT_MAX;   // spare - used, over objects that clip
    int least_headroom_body = -1;
    long views = 0;

    std::string short_of_spare;   // objects with fewer than two slots a face
    int32_t capacity = 100;       // the draw list of the set checked
    Mesh *car = nullptr;          // the player's car, moved with each view
    std::unordered_set<const Mesh *> wrapped;
    std::vector<std::string> wraps;   // one line per object whose projection wraps
    int spare_most = 0;               // spare slots of one object, the most
    int64_t spare_total = 0;          // of the whole world file

    std::vector<std::string> failures;
    int failure_count = 0;

    void fail(const std::string &line) {
        failure_count++;
        if (failures.size() < 12) failures.push_back(line);
    }
};

Check check;
int level_number = 1;
const Limits *set_checked = &LIMITS_CLASSIC;
std::string world_name = "level1.3dw";

// Names of the bodies in the order the loader creates them: one per object,
// one per accepted player start (the car).
bool read_names(const std::string &libdir) {
    std::vector<uint8_t> bytes;
    std::string error;
    LevelFile file;
    if (!toolio_read(libdir + "/" + world_name, size_t(LIMITS_RAISED.pool_size), &bytes, &error) ||
        !level_decode(bytes, LevelKind::World, &file, &error)) {
        check.fail(world_name + ": " + error);
        return false;
    }
    for (const LevelRecord &r : file.records) {
        if (!r.is_start) {
            check.names.push_back(r.object.name);
            continue;
        }
        const std::string &n = r.start.name;
        int32_t player = 0;
        if (start_places_car(n.c_str(), &player)) check.names.push_back("car of " + n);
    }
    return true;
}

std::string body_name(int body) {
    if (body < 0 || static_cast<size_t>(body) >= check.names.size())
        return "object " + std::to_string(body);
    return "object " + std::to_string(body) + " \"" + check.names[static_cast<size_t>(body)] + "\"";
}

// Start-up and level 1 as the game does them, then one body pass so that
// every mesh stands as in the first frame.
bool load(const char *when) {
    game_shutdown();   // harmless when a fatal error has run it already
    level_free();
    try {
        // game_startup hands SIGINT and SIGTERM to the game's loop, which
        // levelcheck does not run: they are held back until toolio's handler,
        // which removes the scratch folder and ends at once, is back.
        sigset_t stop, before;
        sigemptyset(&stop);
        sigaddset(&stop, SIGINT);
        sigaddset(&stop, SIGTERM);
        sigaddset(&stop, SIGHUP);
        sigprocmask(SIG_BLOCK, &stop, &before);
        limits_select(*set_checked);
        game_startup();
        toolio_catch_signals();
        sigprocmask(SIG_SETMASK, &before, nullptr);
        // A longer draw list than the game's, so that a view that lists too
        // many faces is measured instead of ending the frame.
        drawlist_free();
        drawlist_init(std::max(MEASURE_CAPACITY, set_checked->drawlist_capacity + 1));
        level_load(level_number);
        Body *player = nullptr;
        game_update(&player);
        if (player == nullptr) {
            check.fail("no player start: the world needs a start record named Human0 or Human1");
            return false;
        }
        check.eye_y = player->mesh->y;
        check.car = player->mesh;
    } catch (const Fatal &e) {
        check.fail(std::string(when) + ": " + e.what());
        return false;
    }
    check.body_of.clear();
    check.short_of_spare.clear();
    check.spare_most = 0;
    check.spare_total = 0;
    int n = 0;
    for (Body *b = body_list; b != nullptr; b = b->next) {
        check.body_of[b->mesh] = n;
        // Clipping a face at the near plane takes at most two spare slots.
        const Mesh *m = b->mesh;
        int polygons = 0;
        for (const Face *f = m->faces; f != nullptr; f = f->next)
            if (!(f->flags & FACE_SPRITE)) polygons++;
        const int spare = m->vertex_capacity - m->vertex_count;
        check.spare_most = std::max(check.spare_most, spare);
        check.spare_total += spare;
        if (m->faces != nullptr && !(m->faces->flags & FACE_SPRITE) && spare < 2 * polygons)
            check.short_of_spare += (check.short_of_spare.empty() ? "" : ", ") + body_name(n) +
                                    " has " + std::to_string(spare) + " of " +
                                    std::to_string(2 * polygons);
        n++;
    }
    return true;
}

// Progress of a long check on a terminal: the phase, views done of its total,
// at most ten lines a second, each over the last (standard error only, and
// only when it is a terminal).
struct Progress {
    bool shown = false;
    const char *phase = "";
    long done = 0, total = 0;
    std::chrono::steady_clock::time_point last{};
};
Progress progress;

void progress_phase(const char *phase, long total) {
    progress.phase = phase;
    progress.done = 0;
    progress.total = total;
}

void progress_step() {
    progress.done++;
    if (!progress.shown || (progress.done & 255) != 0) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - progress.last < std::chrono::milliseconds(100)) return;
    progress.last = now;
    const long total = std::max(progress.total, progress.done);
    std::fprintf(stderr, "\rlevelcheck: %s: %ld of %ld views (%ld%%)\033[K", progress.phase,
                 progress.done, total, progress.done * 100 / std::max(total, 1L));
}

void progress_end() {
    if (progress.shown) std::fprintf(stderr, "\r\033[K");
}

// Whether near_plane_intersect keeps every intermediate within 32 bits for
// the edge from S to E (camera coordinates, on either side of z = 256).
bool clip_fits(int64_t x1, int64_t y1, int64_t z1, int64_t x2, int64_t y2, int64_t z2) {
    auto fits = [](int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; };
    const int64_t zc = 256;
    if (x1 == x2) {
        if (y1 == y2) return true;
        const int64_t q = (zc - z1) * (y2 - y1) / (z2 - z1);
        return fits(y2 - y1) && fits(z2 - z1) && fits(q) && fits(y1 + q);
    }
    const int64_t d = x1 - x2;
    const int64_t u = (x2 * z1) >> 8, v = (x1 * z2) >> 8, w = (zc * d) >> 8;
    if (!fits(d) || !fits(u) || !fits(v) || !fits(w) || !fits(u - v + w) || !fits(z1 - z2))
        return false;
    const int64_t x = (u - v + w) * 256 / (z1 - z2);
    if (!fits(x)) return false;
    if (y1 == y2) return true;
    const int64_t p = ((y1 - y2) * x) >> 8, q = (y1 * x2) >> 8, r = (x1 * y2) >> 8;
    return fits(y1 - y2) && fits(p) && fits(q) && fits(r) && fits(p - q + r) &&
           fits((p - q + r) * 256 / d);
}

// Whether the listed polygon face's projected corners leave the range the
// fillers work in: a screen coordinate that wrapped at 32 bits, or an edge
// end, after the edge is cut to the clip rows, outside the 16.16 range.
bool projection_wraps(const Face *f, const Camera &cam) {
    const Vertex *v = f->mesh->vertices;
    const int n = f->clip_count;
    if (n < 3) return false;
    int64_t x[SCREEN_POINTS], y[SCREEN_POINTS];
    const int64_t cx0 = int64_t{cam.raster.x0} + cam.half_width;
    const int64_t cy0 = int64_t{cam.raster.y0} + cam.half_height;
    for (int i = 0; i < n; i++) {
        const Vertex &p = v[f->clip_index[i]];
        if (p.cz == 0) return false;
        const int64_t tx = int64_t{p.cx} * cam.focal_length / p.cz + cx0;
        const int64_t ty = -int64_t{p.cy} * cam.focal_length / p.cz + cy0;
        if (tx != p.sx || ty != p.sy) return true;
        x[i] = tx;
        y[i] = ty;
    }
    const int64_t x0 = std::max<int64_t>(cam.raster.x0, 0),
                  y0 = std::max<int64_t>(cam.raster.y0, 0);
    const int64_t x1 = std::min<int64_t>(cam.raster.x1, view_width() - 1);
    const int64_t y1 = std::min<int64_t>(cam.raster.y1, view_height() - 1);
    const int64_t min_x = *std::min_element(x, x + n), max_x = *std::max_element(x, x + n);
    const int64_t min_y = *std::min_element(y, y + n), max_y = *std::max_element(y, y + n);
    if (max_y < y0 || min_y > y1 || max_x < x0 || min_x > x1) return false;
    for (int i = 0; i < n; i++) {
        const int j = (i + 1) % n;
        const bool swap = y[j] < y[i];
        int64_t xt = swap ? x[j] : x[i], yt = swap ? y[j] : y[i];
        int64_t xb = swap ? x[i] : x[j], yb = swap ? y[i] : y[j];
        if (yb < y0 || yt > y1) continue;
        if (yt < y0) {
            xt += (xb - xt) * (y0 - yt) / (yb - yt);
            yt = y0;
        }
        if (yb > y1) {
            xb += (xt - xb) * (yb - y1) / (yb - yt);
            yb = y1;
        }
        if (yt == yb) continue;
        if (xt < -32768 || xt > 32767 || xb < -32768 || xb > 32767) return true;
    }
    return false;
}

// Reads what the last frame listed; failures go to the check's lines.
ProbeResult measure(const View &v) {
    ProbeResult out;
    const DrawList &list = render_state()->list;
    out.listed = list.count;
    if (list.count > check.capacity)
        check.fail("view " + view_text(v) + ": " + std::to_string(list.count) +
                   " faces listed, but the draw list holds " + std::to_string(check.capacity) +
                   " (\"Transform: too many ptrs\")");
    if (list.count > check.max_faces) {
        check.max_faces = list.count;
        check.max_faces_at = v;
        std::vector<std::pair<std::string, int>> by;
        for (int i = 0; i < list.count; i++) {
            const int body = check.body_of[list.items[i].face->mesh];
            const std::string name = static_cast<size_t>(body) < check.names.size()
                                         ? check.names[static_cast<size_t>(body)]
                                         : "?";
            auto it =
                std::find_if(by.begin(), by.end(), [&](const auto &p) { return p.first == name; });
            if (it == by.end())
                by.push_back({name, 1});
            else
                it->second++;
        }
        check.max_faces_by.clear();
        for (const auto &[name, n] : by)
            check.max_faces_by +=
                (check.max_faces_by.empty() ? "" : ", ") + name + " " + std::to_string(n);
    }
    std::unordered_map<const Mesh *, int> used;
    const Camera &cam = render_state()->camera;
    for (int i = 0; i < list.count; i++) {
        const Face *f = list.items[i].face;
        const Mesh *m = f->mesh;
        for (int k = 0; k < f->clip_count; k++)
            if (f->clip_index[k] >= m->vertex_count)
                used[m] = std::max(used[m], f->clip_index[k] - m->vertex_count + 1);
        if (f->flags & FACE_SPRITE) continue;
        if (std::find(out.wrapped.begin(), out.wrapped.end(), m) == out.wrapped.end() &&
            projection_wraps(f, cam)) {
            out.wrapped.push_back(m);
            if (check.wrapped.insert(m).second)
                check.wraps.push_back(body_name(check.body_of[m]) + " at view " + view_text(v) +
                                      ": its projected corners leave the 16.16 screen range, so "
                                      "it is drawn over a different part of the screen");
        }
        if (std::find(out.overflowed.begin(), out.overflowed.end(), m) != out.overflowed.end())
            continue;
        for (int k = 0; k < 3; k++) {
            const Vertex &s = m->vertices[f->index[k]];
            const Vertex &e = m->vertices[f->index[(k + 1) % 3]];
            if ((s.cz >= 256) == (e.cz >= 256)) continue;
            // The renderer clips with S as point 1 whichever side it is on.
            if (!clip_fits(s.cx, s.cy, s.cz, e.cx, e.cy, e.cz)) {
                out.overflowed.push_back(m);
                check.fail("view " + view_text(v) + ": near-plane clipping of " +
                           body_name(check.body_of[m]) +
                           " overflows 32 bits (its faces are too large for where the car can go)");
                break;
            }
        }
    }
    for (const auto &[m, n] : used) {
        const int body = check.body_of[m];
        if (n > check.max_clip) {
            check.max_clip = n;
            check.max_clip_body = body;
            check.max_clip_at = v;
        }
        const int headroom = m->vertex_capacity - m->vertex_count - n;
        if (headroom < check.least_headroom) {
            check.least_headroom = headroom;
            check.least_headroom_body = body;
        }
    }
    return out;
}

// A fatal error of the engine in a view: reported, and the level loaded again.
void view_fatal(const View &v, const Fatal &e) {
    std::string what = e.what();
    while (!what.empty() && what.back() == '\n') what.pop_back();
    if (what.find("too many vertices") != std::string::npos && !check.short_of_spare.empty())
        what += " (short of spare slots: " + check.short_of_spare + ")";
    check.fail("view " + view_text(v) + ": " + what);
    load("reloading after a failure");
}

// One view as the game draws it with the car at (x, z) facing `heading`: the
// car's mesh moved there, the camera at the car with its angles.
ProbeResult look(const View &v) {
    check.views++;
    progress_step();
    try {
        Mesh *car = check.car;
        int32_t x = v.x, y = check.eye_y, z = v.z, ax = 0, ay = v.heading, az = 0;
        if (car != nullptr) {
            mesh_set_position(car, v.x, car->y, v.z, 0);
            mesh_set_angles(car, car->angle_x, v.heading, car->angle_z, 0);
            x = car->x;
            y = car->y;
            z = car->z;
            ax = car->angle_x;
            ay = car->angle_y;
            az = car->angle_z;
        }
        camera_set_position(current_camera, x, y, z, 0);
        camera_set_angles(current_camera, ax, ay, az, 0);
        gfx_clear();
        render_frame(current_camera, 1);
    } catch (const Fatal &e) {
        view_fatal(v, e);
        ProbeResult out;
        out.fatal = true;
        return out;
    }
    return measure(v);
}

// The player start and its first frames, exactly as the game runs them with
// no key held.
void start_frames(int frames) {
    if (!load("loading the level")) return;
    Body *player = nullptr;
    for (int f = 1; f <= frames; f++) {
        View v{0, 0, 0};
        try {
            game_update(&player);
            if (player != nullptr) v = {player->mesh->x, player->mesh->z, player->mesh->angle_y};
            game_draw();
        } catch (const Fatal &e) {
            std::string what = e.what();
            while (!what.empty() && what.back() == '\n') what.pop_back();
            if (what.find("too many vertices") != std::string::npos &&
                !check.short_of_spare.empty())
                what += " (short of spare slots: " + check.short_of_spare + ")";
            check.fail("frame " + std::to_string(f) + " from the player start (" + view_text(v) +
                       "): " + what);
            load("reloading after a failure");
            return;
        }
        const int before = check.failure_count;
        measure(v);
        if (check.failure_count > before) {
            if (check.failures.size() == static_cast<size_t>(check.failure_count))
                check.failures.back() = "frame " + std::to_string(f) +
                                        " from the player start: " + check.failures.back();
            return;
        }
    }
}

struct Bounds {
    int64_t x0 = INT64_MAX, x1 = INT64_MIN, z0 = INT64_MAX, z1 = INT64_MIN;
    int64_t largest_radius = 0;
};

Bounds level_bounds() {
    Bounds b;
    for (Body *body = body_list; body != nullptr; body = body->next) {
        const Mesh *m = body->mesh;
        const int64_t r = m->radius;
        b.x0 = std::min(b.x0, int64_t{m->world_centre[0]} - r);
        b.x1 = std::max(b.x1, int64_t{m->world_centre[0]} + r);
        b.z0 = std::min(b.z0, int64_t{m->world_centre[2]} - r);
        b.z1 = std::max(b.z1, int64_t{m->world_centre[2]} + r);
        b.largest_radius = std::max(b.largest_radius, r);
    }
    return b;
}

int32_t clamp32(double v) {
    return static_cast<int32_t>(std::clamp(v, double{INT32_MIN + 1}, double{INT32_MAX - 1}));
}

void sweep(int grid, int headings) {
    const Bounds b = level_bounds();
    const double cx = (b.x0 + b.x1) / 2.0, cz = (b.z0 + b.z1) / 2.0;
    const double size = std::max<double>(b.x1 - b.x0, b.z1 - b.z0) / 2.0 + 1;
    // The grid: the level and a margin of half its size all round.
    const double half = size * 1.5;
    progress_phase("grid", long{grid} * grid * headings);
    for (int i = 0; i < grid; i++)
        for (int j = 0; j < grid; j++)
            for (int h = 0; h < headings; h++)
                look({clamp32(cx - half + 2 * half * (i + 0.5) / grid),
                      clamp32(cz - half + 2 * half * (j + 0.5) / grid),
                      (h * ANGLE_TURN) / headings});
    // Rings outside, looking back at the level's centre and around it, out to
    // where the largest object is culled by distance.
    const double far = 512.0 * static_cast<double>(b.largest_radius) + 2 * size;
    const int bearings = 48;
    long rings = 0;
    for (double d = size * 1.25; d < far * 1.5; d *= 1.6) rings++;
    progress_phase("rings", rings * bearings * 13);
    for (double d = size * 1.25; d < far * 1.5; d *= 1.6) {
        for (int k = 0; k < bearings; k++) {
            const double a = 2 * std::numbers::pi * k / bearings;
            const int32_t x = clamp32(cx + d * std::sin(a)), z = clamp32(cz + d * std::cos(a));
            // Heading toward the centre: the car looks along +z turned by the
            // heading (sine along x, cosine along z), in quarter degrees.
            const int back =
                static_cast<int>(std::lround((a + std::numbers::pi) * 720 / std::numbers::pi));
            for (int off = -72; off <= 72; off += 12)
                look({x, z, ((back + off) % ANGLE_TURN + ANGLE_TURN) % ANGLE_TURN});
        }
    }
    // Views in the plane of a wall: a face seen exactly edge-on still counts
    // as facing the car, so a box then lists three walls instead of two.
    // Every x and every z at which a vertex stands, along lines through the
    // level and far outside it.
    std::vector<int32_t> xs, zs;
    for (const Mesh *m = current_camera->meshes; m != nullptr; m = m->next) {
        if (m->faces == nullptr || (m->faces->flags & FACE_SPRITE)) continue;
        for (int i = 0; i < m->vertex_count; i++) {
            int32_t x = m->vertices[i].x, y = m->vertices[i].y, z = m->vertices[i].z;
            transform_point(&m->transform, &x, &y, &z);
            xs.push_back(x);
            zs.push_back(z);
        }
    }
    for (auto *v : {&xs, &zs}) {
        std::sort(v->begin(), v->end());
        v->erase(std::unique(v->begin(), v->end()), v->end());
    }
    const double along[] = {-8, -4, -2, -1.25, -0.5, -0.2, 0.2, 0.5, 1.25, 2, 4, 8};
    progress_phase("walls", static_cast<long>(xs.size() + zs.size()) * 3 * 12 * (ANGLE_TURN / 60));
    for (int axis = 0; axis < 2; axis++) {
        for (int32_t plane : axis == 0 ? xs : zs) {
            for (int d = -1; d <= 1; d++) {
                for (double t : along) {
                    const int32_t p = clamp32(static_cast<double>(plane) + d);
                    const int32_t q = clamp32((axis == 0 ? cz : cx) + t * size);
                    for (int h = 0; h < ANGLE_TURN; h += 60)
                        look(axis == 0 ? View{p, q, h} : View{q, p, h});
                }
            }
        }
    }
}

// The bitmaps the sprite objects name: well formed, and lockable one at a
// time in any order while the world and car stay resident.
struct Bitmaps {
    std::vector<ResourceId> ids;
    std::vector<std::string> names;
};

Bitmaps sprite_bitmaps() {
    Bitmaps bm;
    for (Body *b = body_list; b != nullptr; b = b->next) {
        const Face *f = b->mesh->faces;
        if (f == nullptr || !(f->flags & FACE_SPRITE)) continue;
        const auto scale = static_cast<int>((f->flags & FACE_SCALE_MASK) >> FACE_SCALE_SHIFT);
        if (scale > FACE_SCALE_MAX)
            check.fail(body_name(check.body_of[b->mesh]) + ": sprite scale " +
                       std::to_string(scale) + " above " + std::to_string(FACE_SCALE_MAX));
        const ResourceId id = static_cast<ResourceId>(f->flags & FACE_ID_MASK);
        if (std::find(bm.ids.begin(), bm.ids.end(), id) != bm.ids.end()) continue;
        bm.ids.push_back(id);
        bm.names.push_back(check.names[static_cast<size_t>(check.body_of[b->mesh])]);
    }
    return bm;
}

void check_bitmaps(const Bitmaps &bm, int orders, int *largest) {
    *largest = 0;
    for (size_t i = 0; i < bm.ids.size(); i++) {
        try {
            const int32_t size = res_size(bm.ids[i]);
            *largest = std::max(*largest, size);
            const uint8_t *p = res_lock(bm.ids[i]);
            int32_t w = 0, h = 0;
            if (size >= 8) {
                std::memcpy(&w, p, 4);
                std::memcpy(&h, p + 4, 4);
            }
            res_unlock(bm.ids[i]);
            const std::string who = "bitmap " + bm.names[i];
            if (size < 8 || w < 1 || h < 1 || w > 32767 || h > 32767)
                check.fail(who + ": not a bitmap (width and height must be 1..32767)");
            else if (int64_t{8} + int64_t{w} * h != size)
                check.fail(who + ": " + std::to_string(size) + " bytes, but " + std::to_string(w) +
                           "x" + std::to_string(h) + " needs " + std::to_string(8 + w * h));
            else if ((w & (w - 1)) != 0)
                check.fail(who + ": width " + std::to_string(w) + " is not a power of two");
        } catch (const Fatal &e) {
            check.fail("locking bitmap " + bm.names[i] + " after the level loaded: " + e.what());
            load("reloading after a failure");
            return;
        }
    }
    if (bm.ids.empty()) return;
    // Lock orders: each trial starts from a freshly loaded level (world and
    // car resident, unlocked), then locks and unlocks bitmaps one at a time.
    std::mt19937 rng(1);
    for (int t = 0; t < orders; t++) {
        if (!load("loading the level")) return;
        const Bitmaps fresh = sprite_bitmaps();
        std::vector<ResourceId> seq;
        for (int k = 0; k < 4; k++) {
            std::vector<ResourceId> round = fresh.ids;
            std::shuffle(round.begin(), round.end(), rng);
            seq.insert(seq.end(), round.begin(), round.end());
        }
        for (int k = 0; k < 16; k++) seq.push_back(fresh.ids[rng() % fresh.ids.size()]);
        for (ResourceId id : seq) {
            try {
                res_lock(id);
                res_unlock(id);
                if (!res_check()) throw Fatal("the cache's invariants do not hold");
            } catch (const Fatal &e) {
                size_t i = 0;
                while (i < fresh.ids.size() && fresh.ids[i] != id) i++;
                check.fail("locking bitmap " +
                           (i < fresh.names.size() ? fresh.names[i] : std::string("?")) +
                           " after the level loaded: " + e.what());
                return;
            }
        }
    }
}

struct SetOptions {
    int grid, headings, orders;
    bool sweep, one_view;
    View single;
    double budget;
    bool quiet;
};

struct SetFigures {
    int failures = 0;
    int wraps = 0;
    bool proved = false;      // every view decided (or the level failed)
    bool proof_ran = false;   // the proof ran to its end
    long pool_used = 0;
    int faces_seen = 0, bound = 0;
    int spare_most = 0;
    int bitmap_side = 0;
    long cells_left = 0;
    long wrap_cells = 0;
    double seconds = 0;
};

std::string lib_abs;

// Every check of the level under one limit set, with its report.
SetFigures check_set(const Limits &set, const SetOptions &o) {
    check = Check{};
    set_checked = &set;
    check.capacity = set.drawlist_capacity;
    SetFigures out;
    if (!o.quiet) std::printf("levelcheck: under the %s limits\n", set.name);
    std::vector<uint8_t> world, car;
    std::string error;
    // Files up to the raised pool are read, so that one too big for the
    // classic pool is measured against it; a larger one is refused with the
    // bound of the set checked.
    const size_t file_max = static_cast<size_t>(LIMITS_RAISED.pool_size);
    auto read = [&](const std::string &path, std::vector<uint8_t> *bytes) {
        if (toolio_read(path, file_max, bytes, &error)) return true;
        toolio_read(path, static_cast<size_t>(set.pool_size), bytes, &error);
        return false;
    };
    const bool sized = read("lib/" + world_name, &world) && read("lib/car1.3do", &car);
    out.pool_used = static_cast<long>(world.size() + car.size());
    ProofResult proof;
    bool proof_ran = false;
    int largest = 0;
    size_t bitmap_count = 0;
    if (!sized)
        check.fail(error);
    else if (out.pool_used > set.pool_size)
        check.fail(world_name + " (" + std::to_string(world.size()) + " bytes) and car1.3do (" +
                   std::to_string(car.size()) + " bytes) do not fit the " +
                   std::to_string(set.pool_size) + "-byte pool together (the " + set.name +
                   " limits" + (&set == &LIMITS_CLASSIC ? "; --limits raised plays it)" : ")"));
    else if (read_names(lib_abs) && load("loading the level")) {
        const Bitmaps bm = sprite_bitmaps();
        bitmap_count = bm.ids.size();
        check_bitmaps(bm, o.orders, &largest);
        for (size_t i = 0; i < bm.ids.size(); i++) {
            // The side of each bitmap, for the figures (its header's words).
            try {
                if (!load("loading the level")) break;
                const uint8_t *p = res_lock(bm.ids[i]);
                int32_t w = 0, h = 0;
                if (res_size(bm.ids[i]) >= 8) {
                    std::memcpy(&w, p, 4);
                    std::memcpy(&h, p + 4, 4);
                }
                res_unlock(bm.ids[i]);
                out.bitmap_side = std::max({out.bitmap_side, w, h});
            } catch (const Fatal &) {
                break;   // check_bitmaps has said why
            }
        }
        const int bitmap_failures = check.failure_count;
        if (bitmap_failures == 0 && load("loading the level")) {
            if (o.one_view) {
                look(o.single);
            } else {
                start_frames(8);
                if (o.sweep && check.failure_count == 0 && load("loading the level"))
                    sweep(o.grid, o.headings);
                if (check.failure_count == 0 && load("loading the level")) {
                    ProofSetup ps;
                    ps.eye_y = check.eye_y;
                    ps.car = check.car;
                    ps.meshes = current_camera->meshes;
                    ps.capacity = set.drawlist_capacity;
                    ps.focal_length = current_camera->focal_length;
                    ps.half_width = current_camera->half_width;
                    ps.half_height = current_camera->half_height;
                    ps.slope_x_min = current_camera->slope_x_min;
                    ps.slope_x_max = current_camera->slope_x_max;
                    ps.slope_y_min = current_camera->slope_y_min;
                    ps.slope_y_max = current_camera->slope_y_max;
                    ps.budget_seconds = o.budget;
                    ps.probe = [](int32_t x, int32_t z, int32_t h) { return look({x, z, h}); };
                    proof = proof_run(ps);
                    proof_ran = true;
                }
            }
        }
        out.spare_most = check.spare_most;
    }
    out.failures = check.failure_count;
    out.wraps = static_cast<int>(check.wraps.size());
    out.faces_seen = check.max_faces;
    out.proof_ran = proof_ran && proof.cells_left == 0;
    out.bound = proof.bound_max;
    out.cells_left = proof.cells_left;
    out.wrap_cells = proof.wrap_cells;
    out.seconds = proof.seconds;
    // Decided: a failure found, or the proof finished (a single --view
    // decides only that view).
    out.proved = out.failures > 0 || (proof_ran && proof.decided) || o.one_view;
    if (proof_ran && proof.car_open && !o.quiet)
        std::printf("the car's own faces: clipping, slots or wrap not excluded by the bounds\n");
    progress_end();
    if (!o.quiet) {
        if (sized)
            std::printf("pool: %s %zu + car1.3do %zu = %ld of %d bytes\n", world_name.c_str(),
                        world.size(), car.size(), out.pool_used, set.pool_size);
        std::printf("bitmaps: %zu, the largest %d bytes, locked in %d random orders\n",
                    bitmap_count, largest, o.orders);
        if (proof_ran)
            std::printf(
                "proof: %ld cells, %ld exact views, %.1f s; every view lists at most %d "
                "faces (the car's own %d included)%s\n",
                proof.cells, proof.probes, proof.seconds, proof.bound_max, proof.car_faces,
                proof.cells_left > 0
                    ? (", " + std::to_string(proof.cells_left) + " cells left").c_str()
                    : "");
        if (check.views > 0) {
            std::printf("views: %ld looked at; most faces listed: %d of %d, at %s\n  (%s)\n",
                        check.views, check.max_faces, set.drawlist_capacity,
                        view_text(check.max_faces_at).c_str(), check.max_faces_by.c_str());
            if (check.max_clip_body >= 0)
                std::printf("most clip vertices: %d, %s at %s; least spare headroom %d (%s)\n",
                            check.max_clip, body_name(check.max_clip_body).c_str(),
                            view_text(check.max_clip_at).c_str(), check.least_headroom,
                            body_name(check.least_headroom_body).c_str());
        }
    }
    for (size_t i = 0; i < check.wraps.size() && i < 12; i++)
        std::printf("levelcheck: WRAP: %s\n", check.wraps[i].c_str());
    if (check.wraps.size() > 12)
        std::printf("levelcheck: ... and %zu more objects whose projection wraps\n",
                    check.wraps.size() - 12);
    for (const std::string &f : check.failures) std::printf("levelcheck: FAIL: %s\n", f.c_str());
    if (check.failure_count > static_cast<int>(check.failures.size()))
        std::printf("levelcheck: ... and %d more failures\n",
                    check.failure_count - static_cast<int>(check.failures.size()));
    game_shutdown();
    level_free();
    return out;
}

// Runs the checks with LIBDIR seen as lib/ from a scratch directory (in
// $TMPDIR, else /tmp), because
// the game opens every resource as lib/<name> below the working directory.
struct Workdir {
    std::string dir;
    ~Workdir() {
        if (dir.empty()) return;
        toolio_forget_removals();
        const std::string link = dir + "/lib";
        unlink(link.c_str());
        rmdir(dir.c_str());
    }
};

}   // namespace

int main(int argc, char **argv) {
    toolio_catch_signals();
    std::string libdir = "lib";
    int grid = 56, headings = 64, orders = 300;
    bool one_view = false;
    View single{0, 0, 0};
    bool quiet = false;
    bool libdir_given = false;
    bool sweep_asked = false, allow_wrap = false, require_proof = false;
    double budget = 120;
    const Limits *required = &LIMITS_CLASSIC;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        auto value = [&](int lo, int hi) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "levelcheck: %s needs a value\n", a.c_str());
                std::exit(TOOLIO_USAGE_STATUS);
            }
            int64_t v = 0;
            if (!toolio_number(argv[++i], lo, hi, &v)) {
                std::fprintf(stderr, "levelcheck: %s must be a whole number in %d..%d\n", a.c_str(),
                             lo, hi);
                std::exit(TOOLIO_USAGE_STATUS);
            }
            return static_cast<int>(v);
        };
        toolio_answer_help_or_version(a, "levelcheck", USAGE, POLYDRIVE_VERSION);
        if (a == "--data") {
            if (i + 1 >= argc || libdir_given) {
                std::fprintf(stderr,
                             "levelcheck: --data needs one LIBDIR (see levelcheck --help)\n");
                return TOOLIO_USAGE_STATUS;
            }
            libdir = argv[++i];
            libdir_given = true;
        } else if (a == "--grid") {
            grid = value(1, 1000);
            sweep_asked = true;
        } else if (a == "--headings") {
            headings = value(1, ANGLE_TURN);
            sweep_asked = true;
        } else if (a == "--budget") {
            budget = value(1, 1000000);
        } else if (a == "--level") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "levelcheck: --level needs a value\n");
                return TOOLIO_USAGE_STATUS;
            }
            level_number = level_option("levelcheck", argv[++i]);
            if (level_number < 0) return TOOLIO_USAGE_STATUS;
            char name[LEVEL_FILE_NAME_SIZE];
            level_file_name(level_number, name);
            world_name = name;
        } else if (a == "--limits") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "levelcheck: --limits needs a value\n");
                return TOOLIO_USAGE_STATUS;
            }
            required = limits_by_name(argv[++i]);
            if (required == nullptr) {
                std::fprintf(stderr, "levelcheck: --limits is classic or raised, not '%s'\n",
                             argv[i]);
                return TOOLIO_USAGE_STATUS;
            }
        } else if (a == "--allow-wrap") {
            allow_wrap = true;
        } else if (a == "--require-proof") {
            require_proof = true;
        } else if (a == "--orders") {
            orders = value(0, 100000);
        } else if (a == "--view") {
            single.x = value(INT32_MIN + 1, INT32_MAX);
            single.z = value(INT32_MIN + 1, INT32_MAX);
            single.heading = value(-ANGLE_TURN * 1000, ANGLE_TURN * 1000);
            one_view = true;
        } else if (a == "--quiet") {
            quiet = true;
        } else if (a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "levelcheck: unknown option %s (see levelcheck --help)\n",
                         a.c_str());
            return TOOLIO_USAGE_STATUS;
        } else if (!libdir_given) {
            libdir = a;
            libdir_given = true;
        } else {
            std::fprintf(stderr, "levelcheck: one LIBDIR at a time\n");
            return TOOLIO_USAGE_STATUS;
        }
    }
    if (!libdir_given) libdir = datadir_require("levelcheck", nullptr);
    char *abs = realpath(libdir.c_str(), nullptr);
    if (abs == nullptr) {
        std::fprintf(stderr, "levelcheck: %s: no such directory\n", libdir.c_str());
        return 1;
    }
    const std::string libpath = abs;
    lib_abs = libpath;
    std::free(abs);

    Workdir work;
    const char *tmpdir = std::getenv("TMPDIR");
    std::string scratch =
        std::string(tmpdir != nullptr && tmpdir[0] == '/' ? tmpdir : "/tmp") + "/levelcheck.XXXXXX";
    char *tmpl = scratch.data();
    if (mkdtemp(tmpl) == nullptr) {
        std::fprintf(stderr, "levelcheck: cannot prepare a scratch directory in %s\n", tmpl);
        return 1;
    }
    // A signal from here on removes the link, then the folder.
    work.dir = tmpl;
    const std::string link = work.dir + "/lib";
    toolio_remove_on_signal(link.c_str());
    toolio_remove_on_signal(tmpl);
    if (symlink(libpath.c_str(), link.c_str()) != 0 || chdir(tmpl) != 0) {
        std::fprintf(stderr, "levelcheck: cannot prepare a scratch directory in %s\n", tmpl);
        return 1;
    }
    progress.shown = isatty(STDERR_FILENO) != 0;
    fatal_set_hook(throwing_hook);

    bool verdict[2] = {false, false};
    SetFigures figures[2];
    const Limits *sets[2] = {&LIMITS_CLASSIC, &LIMITS_RAISED};
    bool not_proved = false;
    int checked = 0;
    for (int k = 0; k < 2; k++) {
        // A level that passes the classic limits passes the raised ones: the
        // limits are capacity, not behaviour.
        if (k == 1 && verdict[0]) {
            verdict[1] = true;
            figures[1] = figures[0];
            break;
        }
        const SetOptions so{grid, headings, orders, sweep_asked, one_view, single, budget, quiet};
        figures[k] = check_set(*sets[k], so);
        checked = k + 1;
        verdict[k] = figures[k].failures == 0 && figures[k].proved;
        if (!figures[k].proved && figures[k].failures == 0) {
            not_proved = true;
            break;
        }
    }
    progress_end();
    // The figures beside both sets' bounds.
    const SetFigures &f = figures[checked - 1];
    std::printf("limits             %-22s classic    raised\n", "level");
    std::printf("  pool bytes       %-22ld %-10d %d\n", f.pool_used, LIMITS_CLASSIC.pool_size,
                LIMITS_RAISED.pool_size);
    const std::string listed =
        f.proof_ran ? std::to_string(f.faces_seen) + " (proved <= " + std::to_string(f.bound) + ")"
                    : std::to_string(f.faces_seen) + " (not proved)";
    std::printf("  faces listed     %-22s %-10d %d\n", listed.c_str(),
                LIMITS_CLASSIC.drawlist_capacity, LIMITS_RAISED.drawlist_capacity);
    std::printf("  spare slots      %-22d %-10d %d\n", f.spare_most, LIMITS_CLASSIC.spare_max,
                LIMITS_RAISED.spare_max);
    std::printf("  bitmap side      %-22d %-10d %d\n", f.bitmap_side,
                LIMITS_CLASSIC.bitmap_size_max, LIMITS_RAISED.bitmap_size_max);
    if (f.wrap_cells > 0)
        std::printf(
            "projection wrap: excluded by the bounds except in %ld small cells, where "
            "the exact views found none\n",
            f.wrap_cells);
    const char *smallest = verdict[0] ? "classic" : verdict[1] ? "raised" : nullptr;
    const bool fits = required == &LIMITS_CLASSIC ? verdict[0] : verdict[1];
    const bool wraps_fail = f.wraps > 0 && !allow_wrap;
    const bool pass = fits && !wraps_fail;
    std::string error_out;
    int status = 0;
    const std::string what =
        libdir + (level_number == 1 ? "" : " level " + std::to_string(level_number));
    if (not_proved) {
        const SetFigures &n = figures[checked - 1];
        std::printf(
            "levelcheck: %s: not proved under %s: %ld cells left after %.1f s (a larger "
            "--budget may decide)\n",
            what.c_str(), sets[checked - 1]->name, n.cells_left, n.seconds);
        status = require_proof ? 1 : 0;
    } else if (pass) {
        std::printf("levelcheck: %s passes every limit of %s%s (the smallest set it passes: %s)\n",
                    what.c_str(), required->name,
                    allow_wrap && f.wraps > 0 ? ", wraps allowed" : "", smallest);
    } else if (fits) {
        std::printf(
            "levelcheck: %s breaks the limits of %s: the projection of %d objects wraps "
            "(WRAP lines; --allow-wrap accepts it), the smallest set it passes otherwise: "
            "%s\n",
            what.c_str(), required->name, f.wraps, smallest);
        status = 1;
    } else {
        std::printf("levelcheck: %s breaks the limits of %s (%s)\n", what.c_str(), required->name,
                    smallest != nullptr
                        ? (std::string("the smallest set it passes: ") + smallest).c_str()
                        : "it passes neither classic nor raised");
        status = 1;
    }
    if (!toolio_finish_stdout(&error_out)) {
        std::fprintf(stderr, "levelcheck: %s\n", error_out.c_str());
        return 1;
    }
    return status;
}
