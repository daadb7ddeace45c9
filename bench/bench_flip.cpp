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
// Every scene runs with every kernel the processor has; the summary gives
// one line per kernel, "flip avx2 2.40 x memcpy", on the scattered scene.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "bench/bench_ratio.h"
#include "platform/flip.h"
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

void flip_scene(benchmark::State &state, const std::string &name, int kernel) {
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

const char *const SCENES[] = {"scattered", "shapes", "still"};

// BM_Flip_<kernel>_<scene>, one for each scene and each kernel the
// processor runs (the environment's POLYDRIVE_FLIP narrows that too).
std::string bench_name(int kernel, const char *scene) {
    return std::string("BM_Flip_") + flip_kernel_name(kernel) + "_" + scene;
}

// After the console lines, one line per kernel: its time on the scattered
// scene (half the words changed) as a multiple of memcpy, then the others.
class FlipTable : public RunTimes {
  public:
    explicit FlipTable(std::vector<int> kernels) : kernels_(std::move(kernels)) {}
    void Finalize() override {
        ConsoleReporter::Finalize();
        if (!has("BM_Memcpy64000")) return;
        const double base = best("BM_Memcpy64000");
        std::printf("\nmemcpy of %d bytes: %.0f ns\n", SCREEN_SIZE, base);
        for (int kernel : kernels_) {
            if (!has(bench_name(kernel, SCENES[0]))) continue;
            std::printf("flip %-8s %5.2f x memcpy", flip_kernel_name(kernel),
                        best(bench_name(kernel, SCENES[0])) / base);
            for (const char *scene : SCENES)
                if (scene != SCENES[0] && has(bench_name(kernel, scene)))
                    std::printf("   %s %.2f", scene, best(bench_name(kernel, scene)) / base);
            std::printf("\n");
        }
    }

  private:
    std::vector<int> kernels_;
};

}   // namespace

int main(int argc, char **argv) {
    std::vector<int> kernels;
    for (int kernel = flip_choose(GFX_FLIP_WIDEST); kernel >= GFX_FLIP_PORTABLE; kernel--) {
        if (flip_kernel(kernel) == nullptr) continue;
        kernels.push_back(kernel);
        for (const char *scene : SCENES)
            benchmark::RegisterBenchmark(
                bench_name(kernel, scene).c_str(),
                [kernel, scene](benchmark::State &state) { flip_scene(state, scene, kernel); });
    }
    FlipTable table(kernels);
    return run_benchmarks(argc, argv, table);
}
