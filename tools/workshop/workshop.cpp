// tools/workshop/workshop.cpp: compile and draw for the level workshop.
#include "tools/workshop/workshop.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <stdexcept>

#include "base/fatal.h"
#include "frame/game.h"
#include "render/camera.h"
#include "render/drawlist.h"
#include "res/res.h"
#include "scene/limits.h"
#include "scene/mesh.h"
#include "tools/assetfmt/level.h"

namespace {

struct Fatal : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void throwing_hook(const char *message) { throw Fatal(message); }

// The line of "PATH:LINE: message", 0 for any other form.
int message_line(const std::string &error, const std::string &path) {
    if (error.compare(0, path.size(), path) != 0 || error.size() <= path.size() + 1 ||
        error[path.size()] != ':')
        return 0;
    char *end = nullptr;
    const long line = std::strtol(error.c_str() + path.size() + 1, &end, 10);
    return end != nullptr && *end == ':' && line > 0 && line <= INT32_MAX ? static_cast<int>(line)
                                                                          : 0;
}

// Draw lists of the busiest-view sweep count past the largest the game has.
const int SWEEP_CAPACITY = LIMITS_RAISED.drawlist_capacity + 1;

int resource_size(const char *name) {
    const ResourceId id = res_register(name);
    return res_size(id);
}

// Starts the game's subsystems and loads level 1 from folder as the game
// does, makes the first update, runs work with the player's body (null in a
// level without one) and shuts down. False with the fatal line (without its
// newline) when the game would have ended; nothing stays loaded either way.
template <typename Work>
bool with_level(const char *folder, std::string *error, Work &&work) {
    res_set_folder(folder);
    fatal_set_hook(throwing_hook);
    bool ok = true;
    try {
        game_startup();
        level_load(1);
        Body *player = nullptr;
        game_update(&player);
        work(player);
        game_shutdown();
    } catch (const Fatal &e) {
        // fatal_error has run the shutdown already.
        *error = e.what();
        while (!error->empty() && error->back() == '\n') error->pop_back();
        ok = false;
    }
    level_free();
    fatal_set_hook(nullptr);
    return ok;
}

}   // namespace

bool workshop_compile(const std::string &text, const std::string &path, std::vector<uint8_t> *bytes,
                      std::string *error, int *line) {
    LevelFile file;
    *line = 0;
    bool ok = level_compile_text(text, path, &file, error);
    if (ok && file.kind != LevelKind::World) {
        *error = path + ": a model goes into a .3do file, not level1.3dw";
        ok = false;
    }
    if (ok) ok = level_loadable(file, path, error);
    if (!ok) {
        *line = message_line(*error, path);
        return false;
    }
    *bytes = level_encode(file);
    return true;
}

bool workshop_fits_classic(const std::vector<uint8_t> &bytes) {
    LevelFile file;
    std::string error;
    if (!level_decode(bytes, LevelKind::World, &file, &error)) return false;
    for (const LevelRecord &r : file.records)
        if (!r.is_start && r.object.spare > LIMITS_CLASSIC.spare_max) return false;
    limits_select(LIMITS_CLASSIC);
    const bool fits = level_loadable(file, "level.world", &error);
    limits_select(LIMITS_RAISED);
    return fits;
}

bool workshop_render(const char *folder, const WorkshopView *view, WorkshopFrame *out,
                     std::string *error) {
    return with_level(folder, error, [&](Body *player) {
        out->has_start = player != nullptr;
        if (player != nullptr) {
            const Mesh *m = player->mesh;
            out->start = {m->x, m->y, m->z, m->angle_x, m->angle_y};
        }
        if (view != nullptr) {
            camera_set_position(current_camera, view->x, view->y, view->z, 0);
            camera_set_angles(current_camera, view->pitch, view->heading, 0, 0);
        }
        game_draw();
        out->faces = render_state()->list.count;
        out->world_bytes = resource_size("level1.3dw");
        out->car_bytes = resource_size("car1.3do");
        Palette pal;
        palette_get(&pal);
        const uint8_t *pixels = BackBuffer;
        for (int i = 0; i < SCREEN_SIZE; ++i) {
            for (int c = 0; c < 3; ++c) {
                const uint8_t v = pal.rgb[pixels[i] * 3 + c] & 63;
                out->rgba[i * 4 + c] = static_cast<uint8_t>((v << 2) | (v >> 4));
            }
            out->rgba[i * 4 + 3] = 255;
        }
    });
}

bool workshop_busiest(const char *folder, int grid, int headings, WorkshopView *busiest, int *faces,
                      std::string *error) {
    *faces = -1;
    WorkshopView v;
    const bool ok = with_level(folder, error, [&](Body *player) {
        drawlist_free();
        drawlist_init(SWEEP_CAPACITY);
        int64_t lo[2] = {INT32_MAX, INT32_MAX}, hi[2] = {INT32_MIN, INT32_MIN};
        for (const Body *b = body_list; b != nullptr; b = b->next) {
            const Mesh *m = b->mesh;
            const int64_t c[2] = {m->world_centre[0], m->world_centre[2]};
            for (int k = 0; k < 2; ++k) {
                lo[k] = std::min(lo[k], c[k] - m->radius);
                hi[k] = std::max(hi[k], c[k] + m->radius);
            }
        }
        v.y = player != nullptr ? player->mesh->y : 0;
        *busiest = v;
        for (int i = 0; i < grid && lo[0] <= hi[0]; ++i) {
            for (int j = 0; j < grid; ++j) {
                v.x = static_cast<int32_t>(lo[0] + (hi[0] - lo[0]) * (2 * i + 1) / (2 * grid));
                v.z = static_cast<int32_t>(lo[1] + (hi[1] - lo[1]) * (2 * j + 1) / (2 * grid));
                for (int h = 0; h < headings; ++h) {
                    v.heading = h * 1440 / headings;
                    camera_set_position(current_camera, v.x, v.y, v.z, 0);
                    camera_set_angles(current_camera, 0, v.heading, 0, 0);
                    game_draw();
                    if (render_state()->list.count > *faces) {
                        *faces = render_state()->list.count;
                        *busiest = v;
                    }
                }
            }
        }
    });
    if (!ok) *busiest = v;   // the view that ended the game
    return ok;
}

bool workshop_move_start(std::vector<uint8_t> *bytes, const WorkshopView &at, std::string *error) {
    LevelFile file;
    if (!level_decode(*bytes, LevelKind::World, &file, error)) return false;
    bool moved = false;
    for (LevelRecord &r : file.records) {
        if (!r.is_start) continue;
        r.start.position[0] = at.x;
        r.start.position[2] = at.z;
        moved = true;
    }
    if (!moved) {
        LevelRecord r;
        r.is_start = true;
        r.start.name = "Human1";
        r.start.position[0] = at.x;
        r.start.position[2] = at.z;
        file.records.push_back(r);
    }
    *bytes = level_encode(file);
    return true;
}
