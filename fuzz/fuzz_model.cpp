// Arbitrary bytes as the car model lib/car1.3do, loaded through the real
// cache by a world with two player starts around an ordinary object. Every
// input must either load or end with a fatal error, which the hook turns into
// an exception so the next input can run.
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

void put_start(std::string &w, const char *name) {
    for (int32_t v : {0, 0, 0, -500, 0, 90, 0}) put(w, v);
    w.append(name);
    w.push_back('\0');
}

bool prepare() {
    // Memory-backed when possible: a disk file system flushes every rewrite.
    std::snprintf(work, sizeof work, "/dev/shm/fuzz-model-XXXXXX");
    if (mkdtemp(work) == nullptr) std::snprintf(work, sizeof work, "/tmp/fuzz-model-XXXXXX");
    if ((work[1] == 't' && mkdtemp(work) == nullptr) || getcwd(home, sizeof home) == nullptr)
        std::abort();
    std::atexit([] { std::filesystem::remove_all(work); });
    if (chdir(work) != 0) std::abort();
    if (mkdir("lib", 0755) != 0) std::abort();
    std::string w;
    put_start(w, "Human0");
    // One triangle object named "crate" between the two starts.
    for (int32_t v : {3, 2, 0, 0, 0, 256, 0, 0, 0, 256, 0, 1, 0x0310, 0, 1, 2, 0, 0, 0, 800, 0, 0, 0})
        put(w, v);
    w.append("crate");
    w.push_back('\0');
    put(w, 50);
    put_start(w, "Human1");
    put(w, -1);
    write_file("lib/level1.3dw", w.data(), w.size());
    fatal_set_hook(throw_fatal);
    if (chdir(home) != 0) std::abort();
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const bool ready = prepare();
    (void)ready;
    if (chdir(work) != 0) std::abort();
    write_file("lib/car1.3do", data, size);
    res_init(GAME_POOL_SIZE);
    current_camera = camera_create(300, 0, 0, 319, 199);
    try {
        world_load(res_register("level1.3dw"));
        if (!res_check()) std::abort();
        // Two cars and the crate; only the crate is drawn.
        int bodies = 0;
        for (const Body *b = body_list; b != nullptr; b = b->next) {
            if (b->mesh == nullptr || b->mesh->owner != b || b->mass <= 0) std::abort();
            ++bodies;
        }
        if (bodies != 3 || current_camera->meshes == nullptr ||
            current_camera->meshes->next != nullptr)
            std::abort();
    } catch (const Fatal &) {
        if (!res_check()) std::abort();
    }
    level_free();
    res_shutdown();
    if (chdir(home) != 0) std::abort();
    return 0;
}
