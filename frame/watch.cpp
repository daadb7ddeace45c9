// frame/watch.cpp: live reload of the level (see watch.h).
#include "frame/watch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

#include "base/fatal.h"
#include "base/fixed.h"
#include "frame/levels.h"
#include "platform/kbd.h"
#include "platform/video.h"
#include "render/camera.h"
#include "res/res.h"
#include "scene/body.h"
#include "scene/limits.h"
#include "scene/mesh.h"

namespace {

namespace fs = std::filesystem;

// Files larger than this are not copied: the cache would refuse them anyway.
constexpr uintmax_t COPY_FILE_MAX = uintmax_t{1} << 20;

struct Refused : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void refusing_hook(const char *message) { throw Refused(message); }

// What a look compares: modification time, size and inode of the folder and
// of the two files a level always loads (all zero for a missing one).
struct Stamp {
    long sec[3], nsec[3];
    long long size[3], inode[3];
};

std::string watched;   // the data folder
std::string copy;      // the private copy of its last good state
Stamp seen;
long frames_left = 0;
int active = 0;
int free_camera = 0;
WatchHost host{};

Stamp stamp_now() {
    Stamp s;
    std::memset(&s, 0, sizeof s);
    char level[LEVEL_FILE_NAME_SIZE];
    level_file_name(host.level(), level);
    const std::string paths[3] = {watched, watched + "/" + level, watched + "/car1.3do"};
    for (int i = 0; i < 3; i++) {
        struct stat st;
        if (stat(paths[i].c_str(), &st) != 0) continue;
        s.sec[i] = st.st_mtim.tv_sec;
        s.nsec[i] = st.st_mtim.tv_nsec;
        s.size[i] = st.st_size;
        s.inode[i] = static_cast<long long>(st.st_ino);
    }
    return s;
}

// The regular files of from, as the private copy; false with the reason.
bool copy_folder(const std::string &from, const std::string &to, std::string *why) {
    std::error_code ec;
    fs::remove_all(to, ec);
    fs::create_directory(to, ec);
    if (ec) return *why = to + ": " + ec.message(), false;
    for (const fs::directory_entry &e : fs::directory_iterator(from, ec)) {
        const fs::path name = e.path().filename();
        if (!e.is_regular_file(ec) || e.file_size(ec) > COPY_FILE_MAX ||
            name.native().size() > static_cast<size_t>(RES_NAME_MAX))
            continue;
        fs::copy_file(e.path(), fs::path(to) / name, fs::copy_options::overwrite_existing, ec);
        if (ec) return *why = e.path().native() + ": " + ec.message(), false;
    }
    if (ec) return *why = from + ": " + ec.message(), false;
    return true;
}

Body *human() {
    for (Body *b = body_list; b != nullptr; b = b->next)
        if (b->flags & BODY_HUMAN) return b;
    return nullptr;
}

// Frees the level and loads it from folder with a cache of its own; false
// with the fatal line when the game would have ended (nothing is then loaded).
bool load_from(const char *folder, std::string *why) {
    host.free();
    res_shutdown();
    res_set_folder(folder);
    // Nothing is given back on a refusal: the window and keyboard stay.
    fatal_set_shutdown(nullptr);
    fatal_set_hook(refusing_hook);
    bool ok = true;
    try {
        res_init(limits_current().pool_size);
        host.load(host.level());
    } catch (const Refused &e) {
        *why = e.what();
        while (!why->empty() && why->back() == '\n') why->pop_back();
        host.free();
        ok = false;
    }
    fatal_set_hook(nullptr);
    fatal_set_shutdown(host.shutdown);
    return ok;
}

}   // namespace

void watch_folder(const char *folder, const WatchHost &game) {
    host = game;
    watched = folder;
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/polydrive-watch-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        fatal_error("--watch: cannot make a folder in %s", tmp != nullptr ? tmp : "/tmp");
    copy = pattern + "/lib";
    std::string why;
    if (!copy_folder(watched, copy, &why)) fatal_error("--watch: %s", why.c_str());
    std::atexit(watch_finish);
    seen = stamp_now();
    frames_left = WATCH_POLL_FRAMES;
    active = 1;
}

int watch_active() { return active; }

void watch_look_now() { frames_left = 0; }

int watch_frame(Body **player) {
    if (!active || --frames_left > 0) return 0;
    frames_left = WATCH_POLL_FRAMES;
    const Stamp now = stamp_now();
    if (std::memcmp(&now, &seen, sizeof now) == 0) return 0;
    seen = now;

    // The car as it is, to be put back in the new level.
    const Body *car = human();
    Body kept{};
    int32_t at[3] = {0, 0, 0};
    if (car != nullptr) {
        kept = *car;
        at[0] = car->mesh->x, at[1] = car->mesh->y, at[2] = car->mesh->z;
    }
    *player = nullptr;
    // The free camera stays where it is too.
    const Camera view = **host.camera;
    std::string why;
    int result = 1;
    if (load_from(watched.c_str(), &why)) {
        std::string copy_why;
        if (!copy_folder(watched, copy, &copy_why))
            std::fprintf(stderr, "polydrive: --watch: %s\n", copy_why.c_str());
        std::fprintf(stderr, "polydrive: level reloaded from %s\n", watched.c_str());
    } else {
        std::fprintf(stderr,
                     "polydrive: %s: the changed level does not load: %s; "
                     "the last good level stays\n",
                     watched.c_str(), why.c_str());
        if (!load_from(copy.c_str(), &why)) fatal_error("%s", why.c_str());
        result = -1;
    }
    std::fflush(stderr);
    if (free_camera) {
        camera_set_position(*host.camera, view.x, view.y, view.z, 0);
        camera_set_angles(*host.camera, view.angle_x, view.angle_y, view.angle_z, 0);
    }
    Body *fresh = human();
    if (car != nullptr && fresh != nullptr) {
        fresh->heading = kept.heading;
        fresh->steer_rate = kept.steer_rate;
        fresh->vx = kept.vx;
        fresh->vz = kept.vz;
        mesh_set_position(fresh->mesh, at[0], at[1], at[2], 0);
    }
    return result;
}

int watch_free_camera() {
    if (!active || *host.camera == nullptr) return 0;
    if (kbd_was_hit(WATCH_CAMERA_KEY)) free_camera = !free_camera;
    if (!free_camera) return 0;
    Camera *c = *host.camera;
    const int forward = (kbd_is_down(KEY_UP) ? 1 : 0) - (kbd_is_down(KEY_DOWN) ? 1 : 0);
    const int turn = (kbd_is_down(KEY_RIGHT) ? 1 : 0) - (kbd_is_down(KEY_LEFT) ? 1 : 0);
    const int rise = (kbd_is_down(WATCH_RISE_KEY) ? 1 : 0) - (kbd_is_down(WATCH_SINK_KEY) ? 1 : 0);
    // The step along the heading: sine and cosine (2.29) times the step, >> 29.
    const int64_t sx = int64_t{fixed_sin(c->angle_y)} * WATCH_CAMERA_STEP * forward;
    const int64_t sz = int64_t{fixed_cos(c->angle_y)} * WATCH_CAMERA_STEP * forward;
    camera_set_position(c, static_cast<int32_t>(sx >> 29), rise * WATCH_CAMERA_STEP,
                        static_cast<int32_t>(sz >> 29), 1);
    camera_set_angles(c, 0, (c->angle_y + turn * WATCH_CAMERA_TURN + 1440) % 1440, 0, 0);
    host.draw();
    gfx_flip();
    return 1;
}

void watch_finish() {
    if (copy.empty()) return;
    std::error_code ec;
    fs::remove_all(fs::path(copy).parent_path(), ec);
    copy.clear();
    active = 0;
}
