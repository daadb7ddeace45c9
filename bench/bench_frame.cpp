// One whole frame of the shipped level (gfx_clear, render_frame, gfx_flip)
// from the player's start looking four ways, and the depth sort of a full
// draw list, against memset of 64000 bytes measured in the same run.
//
// Run from the repository root (the level is read from lib/); from
// elsewhere the program looks for lib/ two folders above itself.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_ratio.h"
#include "frame/game.h"
#include "platform/video.h"
#include "render/camera.h"
#include "render/drawlist.h"
#include "render/render.h"
#include "res/res.h"
#include "scene/mesh.h"

namespace {

BENCHMARK(BM_Memset64000);

// A full list of 100 items with keys spread like a scene's depths; each
// iteration restores the unsorted order first (1.6 KB copied, small
// against the sixteen passes).
void BM_DrawlistSort100(benchmark::State &state) {
    if (render_state()->list.allocated != 1) drawlist_init(GAME_DRAWLIST_CAPACITY);
    DrawList &list = render_state()->list;
    static Face faces[100];
    std::vector<DrawItem> unsorted;
    uint32_t s = 1;
    for (int i = 0; i < 100; i++) {
        s = s * 1664525u + 1013904223u;
        unsorted.push_back(DrawItem{256 + static_cast<int32_t>((s >> 16) % 60000), &faces[i]});
    }
    for (auto _ : state) {
        std::memcpy(list.items, unsorted.data(), sizeof(DrawItem) * unsorted.size());
        list.count = 100;
        drawlist_sort();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_DrawlistSort100);

bool find_lib() {
    if (access("lib/level1.3dw", R_OK) == 0) return true;
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return false;
    exe[n] = '\0';
    std::string dir(exe);
    for (int up = 0; up < 3; up++) dir = dir.substr(0, dir.rfind('/'));
    return chdir(dir.c_str()) == 0 && access("lib/level1.3dw", R_OK) == 0;
}

// The level is loaded once for all viewpoints, as the game does at start-up.
bool level_ready() {
    static int state = 0;   // 0 not tried, 1 loaded, -1 not found
    if (state == 0) {
        state = -1;
        if (!find_lib()) return false;
        res_init(GAME_POOL_SIZE);
        gfx_init(0);
        drawlist_init(GAME_DRAWLIST_CAPACITY);
        level_load(1);
        state = 1;
    }
    return state == 1;
}

// Looking from the player's car (or the origin) along heading `heading`.
void frame_from_start(benchmark::State &state, int32_t heading) {
    if (!level_ready()) {
        state.SkipWithError("lib/level1.3dw not found: run from the repository root");
        return;
    }
    const Mesh *car = nullptr;
    for (Body *b = body_list; b != nullptr; b = b->next)
        if (b->flags & BODY_HUMAN) car = b->mesh;
    camera_set_position(current_camera, car ? car->x : 0, car ? car->y : 0, car ? car->z : 0, 0);
    camera_set_angles(current_camera, 0, heading, 0, 0);
    int listed = 0;
    for (auto _ : state) {
        gfx_clear();
        render_frame(current_camera, 1);
        gfx_flip();
        listed = render_state()->list.count;
    }
    state.counters["faces"] = listed;
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_FrameNorth(benchmark::State &state) { frame_from_start(state, 0); }
void BM_FrameEast(benchmark::State &state) { frame_from_start(state, 360); }
void BM_FrameSouth(benchmark::State &state) { frame_from_start(state, 720); }
void BM_FrameWest(benchmark::State &state) { frame_from_start(state, 1080); }
BENCHMARK(BM_FrameNorth);
BENCHMARK(BM_FrameEast);
BENCHMARK(BM_FrameSouth);
BENCHMARK(BM_FrameWest);

}   // namespace

int main(int argc, char **argv) {
    // Each benchmark as a multiple of memset.
    RatioTable table("BM_Memset64000", {"BM_DrawlistSort100", "BM_FrameNorth", "BM_FrameEast",
                                        "BM_FrameSouth", "BM_FrameWest"});
    return run_benchmarks(argc, argv, table);
}
