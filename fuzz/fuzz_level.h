// fuzz/fuzz_level.h: what the level-file fuzzers share. A temporary folder
// with lib/ inside is the working directory only while an input runs
// (libFuzzer reads its corpus by relative paths between inputs); each input
// is one load of lib/level1.3dw through the real cache, and the hook turns
// fatal_error into an exception so the next input can run.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/fatal.h"
#include "frame/game.h"
#include "render/camera.h"
#include "res/res.h"
#include "scene/mesh.h"
#include "scene/world.h"

namespace fuzz_level {

struct Fatal {};
inline char home[4096];
inline char work[64];

inline void put(std::string &out, int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<char>(u >> (8 * k)));
}

inline void write_file(const char *path, const void *data, size_t size) {
    FILE *f = std::fopen(path, "wb");
    if (f == nullptr || std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
}

// Makes the folder (memory-backed when possible: a disk file system flushes
// every rewrite), lets fill() write the fixed files into it, installs the hook.
inline bool prepare(const char *prefix, void (*fill)()) {
    std::snprintf(work, sizeof work, "/dev/shm/%s-XXXXXX", prefix);
    if (mkdtemp(work) == nullptr) std::snprintf(work, sizeof work, "/tmp/%s-XXXXXX", prefix);
    if ((work[1] == 't' && mkdtemp(work) == nullptr) || getcwd(home, sizeof home) == nullptr)
        std::abort();
    std::atexit([] { std::filesystem::remove_all(work); });
    if (chdir(work) != 0 || mkdir("lib", 0755) != 0) std::abort();
    fill();
    fatal_set_hook([](const char *) { throw Fatal{}; });
    if (chdir(home) != 0) std::abort();
    return true;
}

// Bodies own their meshes and weigh something, and every mesh the camera
// lists is a body's. Returns the number of bodies.
inline int check_level() {
    int bodies = 0;
    for (const Body *b = body_list; b != nullptr; b = b->next, ++bodies)
        if (b->mesh == nullptr || b->mesh->owner != b || b->mass <= 0) std::abort();
    for (const Mesh *m = current_camera->meshes; m != nullptr; m = m->next) {
        bool owned = false;
        for (const Body *b = body_list; b != nullptr; b = b->next) owned |= b->mesh == m;
        if (!owned) std::abort();
    }
    return bodies;
}

// Writes the input as `path` and loads the level: a level that loads must be
// consistent and accepted; either way the cache's invariants hold (a fatal
// error has already shut the cache down).
inline void run(const char *path, const uint8_t *data, size_t size, bool (*accept)(int bodies)) {
    if (chdir(work) != 0) std::abort();
    write_file(path, data, size);
    res_init(GAME_POOL_SIZE);
    current_camera = camera_create(300, 0, 0, 319, 199);
    try {
        world_load(res_register("level1.3dw"), &current_camera->meshes);
        if (!res_check() || !accept(check_level())) std::abort();
    } catch (const Fatal &) {
        if (!res_check()) std::abort();
    }
    level_free();
    res_shutdown();
    if (chdir(home) != 0) std::abort();
}

}   // namespace fuzz_level
