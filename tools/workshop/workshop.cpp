// tools/workshop/workshop.cpp: compile and draw for the level workshop.
#include "tools/workshop/workshop.h"

#include <cstdlib>
#include <stdexcept>

#include "base/fatal.h"
#include "frame/game.h"
#include "render/camera.h"
#include "render/drawlist.h"
#include "res/res.h"
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

int resource_size(const char *name) {
    const ResourceId id = res_register(name);
    return res_size(id);
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

bool workshop_render(const char *folder, const WorkshopView *view, WorkshopFrame *out,
                     std::string *error) {
    res_set_folder(folder);
    fatal_set_hook(throwing_hook);
    bool ok = true;
    try {
        game_startup();
        level_load(1);
        Body *player = nullptr;
        game_update(&player);
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
