// What bigger worlds cost: frames of the big level against frames of the
// shipped one, and the cost per face as the faces of one view grow, each as a
// ratio to a figure of the same run.
//
//   Level1Frame, Level3Frame
//               one frame of the recorded lap of level 1 (classic limits)
//               and of level 3 (raised limits), keys from
//               tests/data/record/lap.keys and level3.keys: the Escape test,
//               game_update (body pass, camera follow, collisions),
//               game_draw and gfx_flip. A repetition drives one whole lap
//               from a fresh load.
//   FlatW100, FlatW1000, FlatW10000
//               the W100 generator run on for 100, 1,000 and 10,000 flat
//               triangles, filled after a clear of the screen.
//   FlatW100Fresh
//               100 triangles a frame after a clear, the next hundred of
//               W10000 each frame: W100's work without the same hundred
//               every time, which the branch predictor learns by heart.
//   PipeW100, PipeW1000, PipeW10000
//               the same triangles as the faces of one mesh in front of the
//               camera, through the whole frame pipeline (visibility,
//               transform, clipping, listing, depth sort, projection, fill)
//               under the raised limits, after a clear; every face listed.
//
// The summary gives the level-3 frame as a multiple of the level-1 frame,
// and each workload's time per triangle as a multiple of its 100-triangle
// figure (1.0 is perfectly linear). Run from the repository root.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_ratio.h"
#include "bench/w100.h"
#include "frame/game.h"
#include "frame/keyscript.h"
#include "frame/view.h"
#include "platform/headless/headless.h"
#include "platform/kbd.h"
#include "platform/video.h"
#include "render/camera.h"
#include "render/drawlist.h"
#include "render/poly.h"
#include "render/render.h"
#include "scene/limits.h"
#include "scene/mesh.h"

namespace {

// ------------------------------------------------------------ the laps

struct Lap {
    int level;
    const Limits *limits;
    const char *keys;
};
const Lap LEVEL1 = {1, &LIMITS_CLASSIC, "tests/data/record/lap.keys"};
const Lap LEVEL3 = {3, &LIMITS_RAISED, "tests/data/record/level3.keys"};

bool read_script(const char *path, KeyScript *script, std::string *error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = std::string(path) + " not found: run from the repository root";
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    const std::string s = text.str();
    return keyscript_parse(s.data(), s.size(), path, script, error);
}

void change_keys(uint32_t before, uint32_t now) {
    for (const KeyscriptKey &k : KEYSCRIPT_KEYS) {
        if ((before & k.bit) != (now & k.bit)) headless_queue_key(k.scancode, (now & k.bit) != 0);
    }
}

// One repetition is one lap from a fresh load (the load is off the clock),
// one iteration one frame of it.
void lap_run(benchmark::State &state, const Lap &lap) {
    KeyScript script;
    std::string error;
    if (!read_script(lap.keys, &script, &error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    if (state.max_iterations != script.frames) {
        state.SkipWithError("iterations must be the lap's frames");
        return;
    }
    limits_select(*lap.limits);
    headless_reset();
    game_startup();
    level_load(lap.level);
    Body *player = nullptr;
    uint32_t held = 0;
    int64_t frame = 0, listed = 0;
    for (auto _ : state) {
        const uint32_t want = keyscript_keys_at(script, ++frame);
        change_keys(held, want);
        held = want;
        benchmark::DoNotOptimize(kbd_was_hit(KEY_ESCAPE));
        game_frame(&player);
        listed += render_state()->list.count;
    }
    level_free();
    game_shutdown();
    headless_reset();
    limits_select(LIMITS_CLASSIC);
    state.counters["items"] = static_cast<double>(listed) / static_cast<double>(frame);
}

int64_t lap_frames(const Lap &lap) {
    KeyScript script;
    std::string error;
    return read_script(lap.keys, &script, &error) ? script.frames : 1;
}

void BM_Level1Frame(benchmark::State &state) { lap_run(state, LEVEL1); }
void BM_Level3Frame(benchmark::State &state) { lap_run(state, LEVEL3); }

// ------------------------------------------------------------ WN

alignas(64) uint8_t wn_screen[SCREEN_SIZE];

void BM_FlatW(benchmark::State &state) {
    const std::vector<W100Triangle> tris = w100(static_cast<int>(state.range(0)));
    if (!w100_matches_reference(tris)) {
        state.SkipWithError("W100 generator does not give the reference first triangle");
        return;
    }
    uint8_t *saved = BackBuffer;
    BackBuffer = wn_screen;
    *raster_state() = RasterState{0, 0, SCREEN_WIDTH - 1, SCREEN_HEIGHT - 1, 160, 100, 0, 0};
    for (auto _ : state) {
        std::memset(wn_screen, 0, SCREEN_SIZE);
        for (const W100Triangle &t : tris) poly_fill_flat(3, t.p, t.flat);
        benchmark::ClobberMemory();
    }
    BackBuffer = saved;
}

// The triangles as faces of one mesh at the origin, seen by a camera there:
// each at a depth of its own (so the sort has work), its corners placed where
// they project onto the generated screen points. flip[i] turns face i round.
Mesh *wn_mesh(const std::vector<W100Triangle> &tris, const std::vector<bool> &flip) {
    std::vector<int32_t> positions;
    uint32_t s = 7;
    for (const W100Triangle &t : tris) {
        s = s * 1664525u + 1013904223u;
        const int64_t z = 2000 + (s >> 20);   // 2,000..6,095
        for (const ScreenPoint &p : t.p) {
            positions.push_back(static_cast<int32_t>((p.x - 160) * z / VIEW_FOCAL_LENGTH));
            positions.push_back(static_cast<int32_t>(-(p.y - 100) * z / VIEW_FOCAL_LENGTH));
            positions.push_back(static_cast<int32_t>(z));
        }
    }
    const int32_t n = static_cast<int32_t>(tris.size());
    Mesh *mesh = mesh_create(nullptr, 3 * n, 0, positions.data());
    for (int32_t i = 0; i < n; ++i) {
        const W100Triangle &t = tris[static_cast<size_t>(i)];
        const bool swap = flip[static_cast<size_t>(i)];
        const int32_t corners[3] = {3 * i, 3 * i + (swap ? 2 : 1), 3 * i + (swap ? 1 : 2)};
        const FaceFlags flags = (static_cast<uint32_t>(t.flat % 16) << FACE_RAMP_SHIFT) | 200u;
        mesh_add_face(mesh, flags, corners, 0);
    }
    mesh_finish(mesh);
    return mesh;
}

// The mesh with every face turned to the camera at the origin: built once
// as generated, then again with the faces that look away turned round.
Mesh *wn_mesh_facing(const std::vector<W100Triangle> &tris) {
    std::vector<bool> flip(tris.size(), false);
    Mesh *first = wn_mesh(tris, flip);
    for (const Face *f = first->faces; f != nullptr; f = f->next) {
        const Vertex &p = first->vertices[f->index[0]];
        const int64_t dot = int64_t{p.x} * f->nx + int64_t{p.y} * f->ny + int64_t{p.z} * f->nz;
        if (dot > 0) flip[static_cast<size_t>(f->index[0] / 3)] = true;
    }
    mesh_free(first);
    return wn_mesh(tris, flip);
}

void BM_PipeW(benchmark::State &state) {
    const int count = static_cast<int>(state.range(0));
    const std::vector<W100Triangle> tris = w100(count);
    uint8_t *saved = BackBuffer;
    BackBuffer = wn_screen;
    drawlist_init(LIMITS_RAISED.drawlist_capacity);
    Camera *camera = camera_create(VIEW_FOCAL_LENGTH, 0, 0, SCREEN_WIDTH - 1, SCREEN_HEIGHT - 1);
    camera_set_light(camera, 0, 0, -256, 64);
    camera->meshes = wn_mesh_facing(tris);
    render_frame(camera, 1);
    if (render_state()->list.count != count) {
        state.SkipWithError("not every face is listed");
    } else {
        for (auto _ : state) {
            std::memset(wn_screen, 0, SCREEN_SIZE);
            render_frame(camera, 1);
            benchmark::ClobberMemory();
        }
        state.counters["items"] = render_state()->list.count;
    }
    camera_free(camera);
    drawlist_free();
    BackBuffer = saved;
}

BENCHMARK(BM_Memset64000);
BENCHMARK(BM_Level1Frame)->Iterations(lap_frames(LEVEL1));
BENCHMARK(BM_Level3Frame)->Iterations(lap_frames(LEVEL3));
void BM_FlatW100Fresh(benchmark::State &state) {
    const std::vector<W100Triangle> tris = w100(10000);
    uint8_t *saved = BackBuffer;
    BackBuffer = wn_screen;
    *raster_state() = RasterState{0, 0, SCREEN_WIDTH - 1, SCREEN_HEIGHT - 1, 160, 100, 0, 0};
    size_t at = 0;
    for (auto _ : state) {
        std::memset(wn_screen, 0, SCREEN_SIZE);
        for (size_t k = at; k < at + 100; ++k) poly_fill_flat(3, tris[k].p, tris[k].flat);
        at = (at + 100) % tris.size();
        benchmark::ClobberMemory();
    }
    BackBuffer = saved;
}

BENCHMARK(BM_FlatW)->Name("BM_FlatW100")->Arg(100);
BENCHMARK(BM_FlatW)->Name("BM_FlatW1000")->Arg(1000);
BENCHMARK(BM_FlatW)->Name("BM_FlatW10000")->Arg(10000);
BENCHMARK(BM_FlatW100Fresh);
BENCHMARK(BM_PipeW)->Name("BM_PipeW100")->Arg(100);
BENCHMARK(BM_PipeW)->Name("BM_PipeW1000")->Arg(1000);
BENCHMARK(BM_PipeW)->Name("BM_PipeW10000")->Arg(10000);

// ------------------------------------------------------------ summary

struct Figure {
    const char *name;
    const char *baseline;
    double per;    // the figure is divided by per / baseline_per
    double goal;   // at most this many baselines
};
constexpr Figure FIGURES[] = {
    {"BM_Level3Frame", "BM_Level1Frame", 1, 12}, {"BM_FlatW1000", "BM_FlatW100", 10, 1.5},
    {"BM_FlatW10000", "BM_FlatW100", 100, 1.5},  {"BM_FlatW10000", "BM_FlatW100Fresh", 100, 1.5},
    {"BM_PipeW1000", "BM_PipeW100", 10, 1.5},    {"BM_PipeW10000", "BM_PipeW100", 100, 1.5},
};

// After the console lines: each figure from its fastest repetition as a
// multiple of its baseline (per triangle for the workloads), and every
// benchmark as a multiple of memset.
// The laps also as a cost per listed item: level 3 lists many times the items
// of level 1 in a frame.
class LimitsReporter : public RunTimes {
  public:
    void ReportRuns(const std::vector<Run> &runs) override {
        RunTimes::ReportRuns(runs);
        for (const Run &r : runs) {
            auto it = r.counters.find("items");
            if (r.run_type == Run::RT_Iteration && !r.error_occurred && it != r.counters.end())
                items_[r.run_name.function_name] = it->second;
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n");
        for (const Figure &f : FIGURES) {
            if (!has(f.name) || !has(f.baseline)) continue;
            const double ratio = best(f.name) / f.per / best(f.baseline);
            std::printf("%-14s %6.2f x %s%s   (goal <= %.1f)\n", f.name + 3, ratio, f.baseline + 3,
                        f.per == 1 ? "" : " per triangle", f.goal);
        }
        const char *level3 = "BM_Level3Frame", *level1 = "BM_Level1Frame";
        if (has(level3) && has(level1) && items_[level3] > 0 && items_[level1] > 0) {
            const double per = best(level3) / items_[level3] / (best(level1) / items_[level1]);
            std::printf("%-14s %6.2f x %s per listed item   (%.1f items a frame against %.1f)\n",
                        level3 + 3, per, level1 + 3, items_[level3], items_[level1]);
        }
        if (!has("BM_Memset64000")) return;
        const double base = best("BM_Memset64000");
        std::printf("\n%-16s %12s %10s\n", "benchmark", "ns", "x memset");
        for (const char *name : {"BM_Memset64000", "BM_Level1Frame", "BM_Level3Frame",
                                 "BM_FlatW100", "BM_FlatW1000", "BM_FlatW10000", "BM_FlatW100Fresh",
                                 "BM_PipeW100", "BM_PipeW1000", "BM_PipeW10000"}) {
            if (has(name))
                std::printf("%-16s %12.0f %10.1f\n", name + 3, best(name), best(name) / base);
        }
        std::fflush(stdout);
    }

  private:
    std::map<std::string, double> items_;
};

}   // namespace

int main(int argc, char **argv) {
    LimitsReporter reporter;
    return run_benchmarks(
        argc, argv,
        {"--benchmark_repetitions=5", "--benchmark_enable_random_interleaving=true",
         "--benchmark_report_aggregates_only=false"},
        reporter);
}
