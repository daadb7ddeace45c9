// frame/game.cpp: start-up, level loading, the frame loop and shutdown.
#include "frame/game.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "frame/demo.h"
#include "frame/drive.h"
#include "frame/hud.h"
#include "frame/pause.h"
#include "frame/watch.h"
#include "frame/view.h"
#include "frame/levels.h"
#include "base/fatal.h"
#include "base/fixed.h"
#include "platform/kbd.h"
#include "platform/random.h"
#include "platform/video.h"
#include "render/camera.h"
#include "render/drawlist.h"
#include "render/overlap.h"
#include "render/render.h"
#include "res/res.h"
#include "scene/limits.h"
#include "scene/mesh.h"
#include "scene/world.h"

Camera *current_camera = nullptr;

namespace {
// The signal that ended the loop (SIGALRM, SIGINT, SIGTERM or SIGHUP), 0 for none.
// The handler only records it; the loop ends at the start of the next frame,
// the shutdown runs, and the signal is raised again with its default action.
volatile std::sig_atomic_t stop_signal = 0;

int32_t start_heading = -1;   // -1: the level's own

// body_list as loaded, for the walks of the update and the collision pass.
BodyOrder order;

void update_body(Body *b, Body **player) {
    b->collided = 0;
    if (b->flags & BODY_HUMAN) {
        vehicle_drive(b);
        *player = b;
    }
    // A body at rest keeps its place, and one whose pose already is
    // (0, heading, 0) keeps its rotation: the setters would store what the
    // mesh holds (the loaders finish every mesh, so its transform is the one
    // its position and angles give).
    Mesh *m = b->mesh;
    if (b->vx != 0 || b->vz != 0) mesh_set_position(m, b->vx, 0, b->vz, 1);
    if (m->angle_x != 0 || m->angle_y != angle_wrap(b->heading) || m->angle_z != 0)
        mesh_set_angles(m, 0, b->heading, 0, 0);
}

extern "C" void on_stop_signal(int sig) { stop_signal = sig; }

void catch_stop_signals() {
    struct sigaction sa = {};
    sa.sa_handler = on_stop_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGALRM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    // A closed terminal ends the game as SIGINT does: the loop stops, a demo
    // being recorded is written, the screen is given back.
    sigaction(SIGHUP, &sa, nullptr);
}

// Ends the process by the signal that stopped the loop, as if no handler had
// been installed, so the exit status still tells what ended it.
[[noreturn]] void die_by(int sig) {
    std::fflush(stdout);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
    std::_Exit(128 + sig);   // not reached: the default action ends us
}
}   // namespace

void game_startup() {
    // A fatal error from here on gives the screen and keyboard back first.
    fatal_set_shutdown(game_shutdown);
    // From here on a stop signal waits for the frame loop, so a console in
    // graphics mode and a raw keyboard are always given back.
    stop_signal = 0;
    catch_stop_signals();
    rand_reset();
    const Limits &limits = limits_current();
    res_init(limits.pool_size);
    gfx_set_frame_size(view_width(), view_height());
    gfx_init(0);
    drawlist_init(limits.drawlist_capacity);
    kbd_init();
}

void level_load(int level) {
    level_require(level);
    current_camera = view_camera_create();
    camera_set_light(current_camera, 0, 0, -256, 64);
    char name[LEVEL_FILE_NAME_SIZE];
    level_file_name(level, name);
    world_load(res_register(name), &current_camera->meshes);
    // The collision pass's index, sized for the level as loaded.
    int32_t meshes = 0;
    for (const Mesh *m = current_camera->meshes; m != nullptr; m = m->next) ++meshes;
    overlap_reserve(meshes);
    body_order_record(&order);
    if (start_heading < 0) return;
    for (Body *b = body_list; b != nullptr; b = b->next)
        if (b->flags & BODY_HUMAN) b->heading = start_heading;
}

void game_set_start_heading(int32_t heading) {
    start_heading = heading >= 0 && heading < 1440 ? heading : -1;
}

void game_update(Body **player) {
    body_order_walk<true>(order, [player](Body *b) { update_body(b, player); });
    // Without a human body the camera stays where it is.
    if (*player != nullptr) {
        const Mesh *m = (*player)->mesh;
        camera_set_position(current_camera, m->x, m->y, m->z, 0);
        camera_set_angles(current_camera, m->angle_x, m->angle_y, m->angle_z, 0);
    }
    collisions_resolve(current_camera, *player, &order);
}

void game_draw() {
    gfx_clear();
    render_frame(current_camera, 1);
}

void game_frame(Body **player) {
    game_update(player);
    game_draw();
    gfx_flip();
}

void game_run() {
    catch_stop_signals();
    if (!demo_playing()) alarm(GAME_TIME_LIMIT);
    // A demo counts frames, so it has no pause.
    const bool may_pause = !demo_playing() && !demo_recording();
    Body *player = nullptr;
    hud_begin(demo_playing() ? 0 : GAME_TIME_LIMIT);
    for (;;) {
        if (stop_signal != 0) return;
        if (!demo_frame_begin()) return;
        if (kbd_was_hit(KEY_ESCAPE)) return;
        if (may_pause && kbd_was_hit(KEY_P) &&
            pause_hold(game_stop_signal, hud_update) == PAUSE_QUIT)
            return;
        if (kbd_was_hit(KEY_M)) hud_toggle_map();
        demo_frame_keys();
        watch_frame(&player);
        if (watch_free_camera()) continue;
        game_update(&player);
        game_draw();
        hud_update();
        gfx_flip();
    }
}

void game_shutdown() {
    kbd_shutdown();
    drawlist_free();
    gfx_shutdown();
    res_shutdown();
}

int game_stop_signal() { return stop_signal; }

void game_end_by_signal(int sig) { die_by(sig); }

namespace {
int chosen_level = 1;
}

void game_choose_level(int level) { chosen_level = level; }
int game_chosen_level() { return chosen_level; }

const WatchHost &game_watch_host() {
    static const WatchHost host = {game_chosen_level, level_load, level_free,
                                   &current_camera,   game_draw,  game_shutdown};
    return host;
}

void game_main() {
    game_startup();
    level_load(chosen_level);
    game_run();
    demo_finish();
    watch_finish();
    game_shutdown();
    // The alarm would end the process without a word, which looks like a
    // crash; the line comes after the shutdown, on the console given back.
    if (stop_signal == SIGALRM) std::fputs(GAME_TIME_UP_LINE, stderr);
    if (stop_signal != 0) die_by(stop_signal);
}

void level_free() {
    overlap_release();
    body_order_release(&order);
    if (current_camera != nullptr) {
        // The bodies own the meshes; the camera's list only links them.
        current_camera->meshes = nullptr;
        camera_free(current_camera);
        current_camera = nullptr;
    }
    while (body_list != nullptr) {
        Body *next = body_list->next;
        mesh_free(body_list->mesh);
        std::free(body_list);
        body_list = next;
    }
}
