// Cost of gfx_flip in double-buffer mode against memcpy of 64000 bytes,
// measured in the same run. Each scene alternates two precomputed frames:
// after two flips the back buffer always holds the frame two flips back,
// which is the next frame to show, so the loop times the flip alone.
//
// Scenes: "shapes" moves filled rectangles and discs over a shaded
// background (changes come in runs, as in a rendered frame); "scattered"
// changes a random half of the words (no two neighbours alike, the worst
// case for any per-word branch); "still" shows the same frame twice.
// The headless backend's word count is off, so no bookkeeping is timed.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_ratio.h"
#include "platform/headless/headless.h"
#include "platform/video.h"

namespace {

using Frame = std::vector<uint8_t>;

uint32_t lcg_state = 1;
int rnd(int n) {
    lcg_state = lcg_state * 1664525u + 1013904223u;
    return static_cast<int>((lcg_state >> 16) % static_cast<uint32_t>(n));
}

struct Shape {
    int x, y, w, h, colour, disc;
};

Frame draw_shapes(const std::vector<Shape> &shapes, int dx, int dy) {
    Frame f(SCREEN_SIZE);
    for (int y = 0; y < SCREEN_HEIGHT; y++)
        std::memset(&f[y * SCREEN_WIDTH], 120 + y * 23 / SCREEN_HEIGHT, SCREEN_WIDTH);
    for (const Shape &s : shapes) {
        int x0 = s.x + dx, y0 = s.y + dy;
        for (int y = y0 < 0 ? 0 : y0; y < y0 + s.h && y < SCREEN_HEIGHT; y++) {
            for (int x = x0 < 0 ? 0 : x0; x < x0 + s.w && x < SCREEN_WIDTH; x++) {
                if (s.disc) {
                    int u = 2 * (x - x0) - s.w, v = 2 * (y - y0) - s.h;
                    if (u * u * s.h * s.h + v * v * s.w * s.w > s.w * s.w * s.h * s.h) continue;
                }
                f[y * SCREEN_WIDTH + x] = static_cast<uint8_t>(s.colour);
            }
        }
    }
    return f;
}

struct Scene {
    Frame a, b;
    double changed;   // fraction of the 16000 words that differ
};

double changed_fraction(const Frame &a, const Frame &b) {
    int n = 0;
    for (int i = 0; i < SCREEN_SIZE; i += 4) n += std::memcmp(&a[i], &b[i], 4) != 0;
    return n / 16000.0;
}

Scene make_scene(const std::string &name) {
    lcg_state = 1;
    Scene s;
    if (name == "shapes") {
        std::vector<Shape> shapes;
        for (int i = 0; i < 120; i++)
            shapes.push_back(
                {rnd(300) - 10, rnd(180) - 10, 8 + rnd(70), 6 + rnd(50), rnd(240), rnd(2)});
        s.a = draw_shapes(shapes, 0, 0);
        s.b = draw_shapes(shapes, 8, 5);
    } else if (name == "scattered") {
        s.a = draw_shapes({}, 0, 0);
        s.b = s.a;
        for (int i = 0; i < SCREEN_SIZE; i += 4)
            if (rnd(2)) s.b[i + rnd(4)] ^= static_cast<uint8_t>(1 + rnd(255));
    } else {
        s.a = draw_shapes({{40, 40, 100, 60, 7, 1}}, 0, 0);
        s.b = s.a;
    }
    s.changed = changed_fraction(s.a, s.b);
    return s;
}

BENCHMARK(BM_Memcpy64000);

void flip_scene(benchmark::State &state, const std::string &name, int kernel = GFX_FLIP_WIDEST) {
    Scene scene = make_scene(name);
    headless_reset();
    headless_count_words(0);
    gfx_set_flip_kernel(kernel);
    gfx_init(0);
    std::memcpy(BackBuffer, scene.a.data(), SCREEN_SIZE);
    gfx_flip();
    std::memcpy(BackBuffer, scene.b.data(), SCREEN_SIZE);
    gfx_flip();
    for (auto _ : state) {
        gfx_flip();
        benchmark::ClobberMemory();
    }
    // The picture must still be one of the two frames.
    const Frame &last = state.iterations() % 2 ? scene.a : scene.b;
    if (std::memcmp(headless_video_memory(), last.data(), SCREEN_SIZE) != 0)
        state.SkipWithError("video memory does not hold the last frame");
    gfx_shutdown();
    gfx_set_flip_kernel(GFX_FLIP_WIDEST);
    state.counters["changed"] = scene.changed;
}

void BM_FlipShapes(benchmark::State &state) { flip_scene(state, "shapes"); }
void BM_FlipScattered(benchmark::State &state) { flip_scene(state, "scattered"); }
void BM_FlipStill(benchmark::State &state) { flip_scene(state, "still"); }
BENCHMARK(BM_FlipShapes);
BENCHMARK(BM_FlipScattered);
BENCHMARK(BM_FlipStill);

// The narrower kernels, for processors without the widest vector unit.
void BM_FlipShapesSse2(benchmark::State &state) { flip_scene(state, "shapes", GFX_FLIP_SSE2); }
void BM_FlipScatteredSse2(benchmark::State &state) {
    flip_scene(state, "scattered", GFX_FLIP_SSE2);
}
void BM_FlipShapesPortable(benchmark::State &state) {
    flip_scene(state, "shapes", GFX_FLIP_PORTABLE);
}
void BM_FlipScatteredPortable(benchmark::State &state) {
    flip_scene(state, "scattered", GFX_FLIP_PORTABLE);
}
BENCHMARK(BM_FlipShapesSse2);
BENCHMARK(BM_FlipScatteredSse2);
BENCHMARK(BM_FlipShapesPortable);
BENCHMARK(BM_FlipScatteredPortable);

}   // namespace

int main(int argc, char **argv) {
    // Each flip as a multiple of memcpy.
    RatioTable table("BM_Memcpy64000",
                     {"BM_FlipShapes", "BM_FlipScattered", "BM_FlipStill", "BM_FlipShapesSse2",
                      "BM_FlipScatteredSse2", "BM_FlipShapesPortable", "BM_FlipScatteredPortable"});
    return run_benchmarks(argc, argv, table);
}
