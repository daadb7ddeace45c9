// The whole frame and the flip at scales 1, 2 and 4, each as a multiple of
// memset (the frame) or memcpy (the flip) of its own frame's bytes measured
// in the same run: 64000, 256000 and 1024000 bytes.
//
//   LapFrame/N  one iteration of the frame loop (game_update, game_draw,
//               gfx_flip) at scale N, driving the recorded lap
//               (tests/data/record/lap.keys); the level is loaded again,
//               off the clock, after its last frame.
//   Flip/N      gfx_flip alone at scale N, alternating two consecutive frames
//               of the lap at speed, so every flip stores one frame's changes.
//
// Run from the repository root. Each benchmark runs 5 repetitions; the table
// at the end is made from the fastest of each (noise only ever adds time).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "bench/flip_pair.h"
#include "frame/game.h"
#include "frame/keyscript.h"
#include "frame/view.h"
#include "platform/headless/headless.h"
#include "platform/kbd.h"
#include "platform/video.h"

namespace {

constexpr int SCALES[] = {1, 2, 4};
constexpr int64_t MAX_BYTES = 64000 * 16;

alignas(64) uint8_t from[MAX_BYTES];
alignas(64) uint8_t to[MAX_BYTES];

void BM_Memset(benchmark::State &state) {
    const auto bytes = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        std::memset(to, 0, bytes);
        benchmark::DoNotOptimize(to);
        benchmark::ClobberMemory();
    }
}

void BM_Memcpy(benchmark::State &state) {
    const auto bytes = static_cast<size_t>(state.range(0));
    std::memset(from, 5, bytes);
    for (auto _ : state) {
        std::memcpy(to, from, bytes);
        benchmark::DoNotOptimize(to);
        benchmark::ClobberMemory();
    }
}

struct Lap {
    KeyScript script;
    Body *player = nullptr;
    int64_t frame = 0;   // frames driven so far
    uint32_t held = 0;
};
Lap lap;

bool lap_begin(benchmark::State &state, int scale) {
    std::ifstream in("tests/data/record/lap.keys", std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    std::string error;
    if (access("lib/level1.3dw", R_OK) != 0 ||
        !keyscript_parse(text.data(), text.size(), "lap.keys", &lap.script, &error)) {
        state.SkipWithError("run from the repository root (lib/ and tests/data/record/lap.keys)");
        return false;
    }
    view_set(scale, 0);
    headless_reset();
    game_startup();
    level_load(1);
    lap.player = nullptr;
    lap.frame = 0;
    lap.held = 0;
    return true;
}

void lap_end() {
    level_free();
    game_shutdown();
    headless_reset();
    view_set(1, 0);
}

void lap_frame() {
    const uint32_t want = keyscript_keys_at(lap.script, ++lap.frame);
    for (const KeyscriptKey &k : KEYSCRIPT_KEYS)
        if ((lap.held ^ want) & k.bit) headless_queue_key(k.scancode, (want & k.bit) != 0);
    lap.held = want;
    benchmark::DoNotOptimize(kbd_was_hit(KEY_ESCAPE));
    game_frame(&lap.player);
}

void BM_LapFrame(benchmark::State &state) {
    const int scale = static_cast<int>(state.range(0));
    if (!lap_begin(state, scale)) return;
    for (auto _ : state) {
        if (lap.frame == lap.script.frames) {
            state.PauseTiming();
            lap_end();
            lap_begin(state, scale);
            state.ResumeTiming();
        }
        lap_frame();
    }
    lap_end();
}

// Frames 200 and 201 at the scale given, shown alternately.
void BM_Flip(benchmark::State &state) {
    if (!lap_begin(state, static_cast<int>(state.range(0)))) return;
    while (lap.frame < 199) lap_frame();
    const auto bytes = static_cast<size_t>(gfx_frame().bytes);
    std::vector<uint8_t> frames[2];
    for (std::vector<uint8_t> &f : frames) {
        lap_frame();
        f.assign(headless_video_memory(), headless_video_memory() + bytes);
    }
    time_flips_between(state, frames, bytes);
    lap_end();
}

int64_t frame_bytes(int scale) { return int64_t{64000} * scale * scale; }

void register_all() {
    for (int scale : SCALES) {
        benchmark::RegisterBenchmark("BM_Memset", BM_Memset)
            ->Arg(frame_bytes(scale))
            ->Repetitions(5);
        benchmark::RegisterBenchmark("BM_Memcpy", BM_Memcpy)
            ->Arg(frame_bytes(scale))
            ->Repetitions(5);
        benchmark::RegisterBenchmark("BM_LapFrame", BM_LapFrame)
            ->Arg(scale)
            ->Iterations(1771)
            ->Repetitions(5);
        benchmark::RegisterBenchmark("BM_Flip", BM_Flip)->Arg(scale)->Repetitions(5);
    }
}

// The console lines, then per scale the fastest frame and flip against the
// fastest memset and memcpy of that scale's frame size.
class ScaleTable : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &r : runs) {
            if (r.run_type != Run::RT_Iteration || r.iterations == 0 || r.error_occurred) continue;
            const double ns = r.GetAdjustedCPUTime() *
                              benchmark::GetTimeUnitMultiplier(benchmark::kNanosecond) /
                              benchmark::GetTimeUnitMultiplier(r.time_unit);
            const std::string name = r.run_name.function_name + "/" + r.run_name.args;
            best_[name] = best_.count(name) ? std::min(best_[name], ns) : ns;
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-6s %9s %12s %12s %12s %12s\n", "scale", "bytes", "frame ns", "x memset",
                    "flip ns", "x memcpy");
        for (int scale : SCALES) {
            const std::string bytes = std::to_string(frame_bytes(scale)), n = std::to_string(scale);
            const double frame = get("BM_LapFrame/" + n), flip = get("BM_Flip/" + n);
            const double set = get("BM_Memset/" + bytes), copy = get("BM_Memcpy/" + bytes);
            std::printf("%-6d %9s %12.0f %12.1f %12.0f %12.1f\n", scale, bytes.c_str(), frame,
                        frame / set, flip, flip / copy);
        }
        std::printf("(goal at scale 4: the frame at most 15 x memset)\n");
    }

  private:
    double get(const std::string &name) const {
        const auto it = best_.find(name);
        return it == best_.end() ? 0.0 : it->second;
    }
    std::map<std::string, double> best_;
};

}   // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    register_all();
    ScaleTable table;
    benchmark::RunSpecifiedBenchmarks(&table);
    benchmark::Shutdown();
    return 0;
}
