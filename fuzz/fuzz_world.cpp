// Arbitrary bytes as the world file lib/level1.3dw, loaded through the real
// cache with a good car model and a bitmap beside it. Every input must either
// load into consistent records or end with a fatal error; the hook turns that
// into an exception so the next input can run.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "frame/fatal.h"
#include "frame/game.h"
#include "render/camera.h"
#include "res/res.h"
#include "scene/mesh.h"
#include "scene/world.h"

namespace {

struct Fatal {};

// libFuzzer reads its corpus by relative paths between inputs, so the
// temporary directory is the working directory only while an input runs.
char home[4096];
char work[64];

void throw_fatal(const char *) { throw Fatal{}; }

void put(std::string &out, int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<char>(u >> (8 * k)));
}

void write_file(const char *path, const void *data, size_t size) {
    FILE *f = std::fopen(path, "wb");
    if (f == nullptr || std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
}

// A temporary directory with lib/ inside becomes the working directory once.
bool prepare() {
    // Memory-backed when possible: a disk file system flushes every rewrite.
    std::snprintf(work, sizeof work, "/dev/shm/fuzz-world-XXXXXX");
    if (mkdtemp(work) == nullptr) std::snprintf(work, sizeof work, "/tmp/fuzz-world-XXXXXX");
    if ((work[1] == 't' && mkdtemp(work) == nullptr) || getcwd(home, sizeof home) == nullptr)
        std::abort();
    std::atexit([] { std::filesystem::remove_all(work); });
    if (chdir(work) != 0) std::abort();
    if (mkdir("lib", 0755) != 0) std::abort();
    // A tetrahedron car.
    std::string car;
    for (int32_t v : {4, 4, -50, 0, -100, 50, 0, -100, 0, 0, 100, 0, 60, 0}) put(car, v);
    for (int32_t v : {2, 0x0310, 0, 1, 3, 0x0310, 1, 2, 3, 1, 0x0310, 2, 0, 3, 77}) put(car, v);
    write_file("lib/car1.3do", car.data(), car.size());
    // Bitmaps under the names the seed levels give their sprites.
    const uint8_t bitmap[] = {2, 0, 0, 0, 2, 0, 0, 0, 1, 2, 255, 3};
    for (const char *name : {"lib/tree.bm", "lib/tree.bit", "lib/pine.bit", "lib/sign.bit",
                             "lib/flag.bit"})
        write_file(name, bitmap, sizeof bitmap);
    fatal_set_hook(throw_fatal);
    if (chdir(home) != 0) std::abort();
    return true;
}

// Bodies own their meshes, and every mesh the camera lists is a body's.
void check_level() {
    for (const Body *b = body_list; b != nullptr; b = b->next)
        if (b->mesh == nullptr || b->mesh->owner != b || b->mass <= 0) std::abort();
    for (const Mesh *m = current_camera->meshes; m != nullptr; m = m->next) {
        bool owned = false;
        for (const Body *b = body_list; b != nullptr; b = b->next) owned |= b->mesh == m;
        if (!owned) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const bool ready = prepare();
    (void)ready;
    if (chdir(work) != 0) std::abort();
    write_file("lib/level1.3dw", data, size);
    res_init(GAME_POOL_SIZE);
    current_camera = camera_create(300, 0, 0, 319, 199);
    try {
        world_load(res_register("level1.3dw"));
        if (!res_check()) std::abort();
        check_level();
    } catch (const Fatal &) {
        // The fatal path already shut the cache down.
        if (!res_check()) std::abort();
    }
    level_free();
    res_shutdown();
    if (chdir(home) != 0) std::abort();
    return 0;
}
