// Random sequences of register, lock and unlock over eight small files of
// varied sizes in a pool of 64..319 bytes. After every operation the cache's
// invariants hold, every lock hands out the file's bytes, and the bytes of
// every resource still locked are untouched. Refusals ("no block large
// enough", "all blocks are locked", "too big") end the sequence through the
// fatal hook.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/fatal.h"
#include "res/res.h"

namespace {

struct Fatal {};

// libFuzzer reads its corpus by relative paths between inputs, so the
// temporary directory is the working directory only while an input runs.
char home[4096];
char work[64];

void throw_fatal(const char *) { throw Fatal{}; }

constexpr int FILES = 8;
constexpr int32_t SIZES[FILES] = {0, 1, 10, 33, 64, 100, 180, 255};

uint8_t file_byte(int file, int32_t offset) { return static_cast<uint8_t>(file * 37 + offset); }

std::string file_name(int file) { return "f" + std::to_string(file); }

bool prepare() {
    // Memory-backed when possible: a disk file system flushes every rewrite.
    std::snprintf(work, sizeof work, "/dev/shm/fuzz-res-XXXXXX");
    if (mkdtemp(work) == nullptr) std::snprintf(work, sizeof work, "/tmp/fuzz-res-XXXXXX");
    if ((work[1] == 't' && mkdtemp(work) == nullptr) || getcwd(home, sizeof home) == nullptr)
        std::abort();
    std::atexit([] { std::filesystem::remove_all(work); });
    if (chdir(work) != 0) std::abort();
    if (mkdir("lib", 0755) != 0) std::abort();
    for (int k = 0; k < FILES; ++k) {
        FILE *f = std::fopen(("lib/" + file_name(k)).c_str(), "wb");
        if (f == nullptr) std::abort();
        for (int32_t j = 0; j < SIZES[k]; ++j) std::fputc(file_byte(k, j), f);
        std::fclose(f);
    }
    fatal_set_hook(throw_fatal);
    if (chdir(home) != 0) std::abort();
    return true;
}

struct Tracked {
    ResourceId id = -1;
    int locks = 0;
    const uint8_t *data = nullptr;
};

bool holds(int file, const uint8_t *data) {
    for (int32_t j = 0; j < SIZES[file]; ++j)
        if (data[j] != file_byte(file, j)) return false;
    return true;
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const bool ready = prepare();
    (void)ready;
    if (size == 0) return 0;
    if (chdir(work) != 0) std::abort();
    Tracked files[FILES];
    res_init(64 + data[0]);
    try {
        for (size_t i = 1; i + 1 < size; i += 2) {
            const int op = data[i] % 3;
            const int k = data[i + 1] % FILES;
            Tracked &t = files[k];
            if (op == 0) {
                const ResourceId id = res_register(file_name(k).c_str());
                if (t.id != -1 && id != t.id) std::abort();
                t.id = id;
            } else if (t.id == -1) {
                continue;
            } else if (op == 1) {
                const uint8_t *p = res_lock(t.id);
                if (t.locks > 0 && p != t.data) std::abort();
                if (!holds(k, p)) std::abort();
                t.data = p;
                ++t.locks;
            } else {
                res_unlock(t.id);
                if (t.locks > 0) --t.locks;
            }
            if (!res_check()) std::abort();
            for (int f = 0; f < FILES; ++f)
                if (files[f].locks > 0 && !holds(f, files[f].data)) std::abort();
        }
    } catch (const Fatal &) {
        if (!res_check()) std::abort();
    }
    res_shutdown();
    if (chdir(home) != 0) std::abort();
    return 0;
}
