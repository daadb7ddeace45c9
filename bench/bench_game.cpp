// The game's whole frame, and the pieces the goals name, as multiples of
// memset or memcpy of 64000 bytes measured in the same run.
//
//   GameFrame   the frame loop's iteration: the Escape test, game_update
//               (body pass, camera follow, collisions), game_draw (clear and
//               render) and gfx_flip, with keys fed through the headless
//               backend. The drive is a fixed lap of the shipped level; the
//               level is loaded again, untimed, before each lap, and every
//               repetition drives exactly two laps.
//   FlatW100, GouraudW100
//               the W100 triangles (bench/w100.h) without the clear.
//   GameFrameSteps
//               the same drive with the clock read between the steps, for the
//               share of each (update, clear, render, flip) in a frame.
//   FlipDrive   gfx_flip alone, alternating two consecutive frames of the
//               lap at speed, so every flip stores the changes of one frame.
//   GameFrameWall
//               GameFrame in wall-clock time, for a figure beside one that a
//               wall clock takes elsewhere (the web page's frame).
//
//   bench_game --lap-times [LAPS]
//               no benchmarks: plays tests/data/record/lap.keys LAPS times
//               (1), each a game of its own through the game's own loop
//               (game_run, with its HUD and status line) as the web page
//               plays it, and prints the wall-clock time at the end of every
//               frame of each lap, in ns from the end of the lap's first
//               frame, one a line after a line "lap-times FRAMES LAPS". The
//               web measurement takes its statistic from these exactly as
//               from the page's own frame ends.
//
// Run from the repository root (the level is read from lib/). By default
// each benchmark runs 9 repetitions in random interleaved order, and a table
// at the end gives each figure as a multiple of its baseline: the ratio of
// the medians, the ratio of the fastest repetitions, and the range of the
// single repetitions against the baseline's median. Flags given on the
// command line override the defaults.
#include <benchmark/benchmark.h>

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_ratio.h"
#include "bench/flip_pair.h"
#include "bench/w100.h"
#include "base/fatal.h"
#include "frame/game.h"
#include "frame/keyscript.h"
#include "platform/headless/headless.h"
#include "platform/kbd.h"
#include "platform/video.h"
#include "render/drawlist.h"
#include "render/poly.h"
#include "render/render.h"

namespace {

// ------------------------------------------------------------ the lap

constexpr uint32_t K_UP = 1, K_RIGHT = 2, K_STOP = 4;

struct Segment {
    int frames;
    uint32_t keys;
};

// Clockwise round the track: accelerate, coast down a straight, stop, turn
// a quarter right and let the steering settle; four times, then up the start
// straight again. There is no drag, so the car coasts at the speed it gained.
// clang-format off
constexpr Segment LAP[] = {
    {60, K_UP}, {252, 0}, {1, K_STOP}, {99, K_RIGHT}, {40, 0},
    {60, K_UP}, {204, 0}, {1, K_STOP}, {99, K_RIGHT}, {40, 0},
    {60, K_UP}, {191, 0}, {1, K_STOP}, {99, K_RIGHT}, {40, 0},
    {60, K_UP}, {204, 0}, {1, K_STOP}, {99, K_RIGHT}, {40, 0},
    {60, K_UP}, {60, 0},
};
// clang-format on

constexpr int lap_frames() {
    int n = 0;
    for (const Segment &s : LAP) n += s.frames;
    return n;
}
constexpr int LAP_FRAMES = lap_frames();

struct KeyBit {
    uint32_t bit;
    int scancode;
};
constexpr KeyBit KEY_BITS[] = {{K_UP, KEY_UP}, {K_RIGHT, KEY_RIGHT}, {K_STOP, KEY_1}};

// Queues the presses and releases that take the keys held to `want`, as a
// player's would arrive (keys: entries with a bit and a scancode).
template <class Keys>
void queue_key_changes(const Keys &keys, uint32_t *held, uint32_t want) {
    for (const auto &k : keys)
        if ((*held ^ want) & k.bit) headless_queue_key(k.scancode, (want & k.bit) != 0);
    *held = want;
}

// The game as the frame loop runs it, with the lap's keys per frame.
struct Drive {
    std::vector<uint32_t> keys;   // held in each frame of the lap
    Body *player = nullptr;
    int frame = 0;   // frames of the lap driven so far
    uint32_t held = 0;
    bool running = false;
};
Drive drive;

bool level_found() { return access("lib/level1.3dw", R_OK) == 0; }

void drive_start() {
    if (drive.keys.empty())
        for (const Segment &s : LAP) drive.keys.insert(drive.keys.end(), s.frames, s.keys);
    headless_reset();
    game_startup();
    level_load(1);
    drive.player = nullptr;
    drive.frame = 0;
    drive.held = 0;
    drive.running = true;
}

void drive_stop() {
    if (!drive.running) return;
    level_free();
    game_shutdown();
    headless_reset();
    drive.running = false;
}

// One frame: the key changes since the last frame are queued (as a player's
// presses and releases would arrive), then the loop's own steps run.
void drive_frame() {
    queue_key_changes(KEY_BITS, &drive.held, drive.keys[drive.frame]);
    benchmark::DoNotOptimize(kbd_was_hit(KEY_ESCAPE));
    game_frame(&drive.player);
    drive.frame++;
}

// ------------------------------------------------------------ the game

// Starts the drive, or marks the benchmark skipped when the level is not
// found from the working directory.
bool drive_begin(benchmark::State &state) {
    if (!level_found()) {
        state.SkipWithError("lib/level1.3dw not found: run from the repository root");
        return false;
    }
    drive_start();
    return true;
}

// After the last frame of a lap the level is loaded again, off the clock.
void next_lap_if_done(benchmark::State &state) {
    if (drive.frame != LAP_FRAMES) return;
    state.PauseTiming();
    drive_stop();
    drive_start();
    state.ResumeTiming();
}

void BM_GameFrame(benchmark::State &state) {
    if (!drive_begin(state)) return;
    int64_t listed = 0;
    for (auto _ : state) {
        next_lap_if_done(state);
        drive_frame();
        listed += render_state()->list.count;
    }
    drive_stop();
    state.counters["items"] = static_cast<double>(listed) / static_cast<double>(state.iterations());
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// The same drive with a clock read between the steps of each frame, for the
// share of each step; the reads add a few percent, so the headline figure
// comes from BM_GameFrame.
int64_t wall_ns() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}
double clock_ns() { return static_cast<double>(wall_ns()); }

void BM_GameFrameSteps(benchmark::State &state) {
    if (!drive_begin(state)) return;
    double spent[4] = {};   // update, clear, render, flip
    for (auto _ : state) {
        next_lap_if_done(state);
        queue_key_changes(KEY_BITS, &drive.held, drive.keys[drive.frame]);
        const double t0 = clock_ns();
        benchmark::DoNotOptimize(kbd_was_hit(KEY_ESCAPE));
        game_update(&drive.player);
        const double t1 = clock_ns();
        gfx_clear();
        const double t2 = clock_ns();
        render_frame(current_camera, 1);
        const double t3 = clock_ns();
        gfx_flip();
        const double t4 = clock_ns();
        spent[0] += t1 - t0;
        spent[1] += t2 - t1;
        spent[2] += t3 - t2;
        spent[3] += t4 - t3;
        drive.frame++;
    }
    drive_stop();
    const double frames = static_cast<double>(state.iterations());
    const char *const names[4] = {"update_ns", "clear_ns", "render_ns", "flip_ns"};
    for (int i = 0; i < 4; i++) state.counters[names[i]] = spent[i] / frames;
}

// Two consecutive frames of the lap at speed, shown alternately.
constexpr int FLIP_FRAME = 200;

void BM_FlipDrive(benchmark::State &state) {
    if (!drive_begin(state)) return;
    while (drive.frame < FLIP_FRAME) drive_frame();
    std::vector<uint8_t> frames[2];
    for (std::vector<uint8_t> &f : frames) {
        game_update(&drive.player);
        game_draw();
        f.assign(BackBuffer, BackBuffer + SCREEN_SIZE);
        gfx_flip();
    }
    int changed = 0;
    for (int i = 0; i < SCREEN_SIZE; i += 4)
        changed += std::memcmp(&frames[0][i], &frames[1][i], 4) != 0;
    time_flips_between(state, frames, SCREEN_SIZE);
    drive_stop();
    state.counters["changed"] = changed / 16000.0;
}

// ------------------------------------------------------------ W100

alignas(64) uint8_t w100_screen[SCREEN_SIZE];

template <typename Fill>
void w100_run(benchmark::State &state, const std::vector<W100Triangle> &tris, Fill fill) {
    if (!w100_matches_reference(w100())) {
        state.SkipWithError("W100 generator does not give the reference first triangle");
        return;
    }
    uint8_t *saved = BackBuffer;
    BackBuffer = w100_screen;
    *raster_state() = RasterState{0, 0, SCREEN_WIDTH - 1, SCREEN_HEIGHT - 1, 160, 100, 0, 0};
    for (auto _ : state) {
        for (const W100Triangle &t : tris) fill(t);
        benchmark::ClobberMemory();
    }
    BackBuffer = saved;
}

void BM_FlatW100(benchmark::State &state) {
    w100_run(state, w100(), [](const W100Triangle &t) { poly_fill_flat(3, t.p, t.flat); });
}

void BM_GouraudW100(benchmark::State &state) {
    w100_run(state, w100_gouraud(),
             [](const W100Triangle &t) { poly_fill_gouraud(3, t.p, t.colours); });
}

BENCHMARK(BM_Memset64000);
BENCHMARK(BM_Memcpy64000);
BENCHMARK(BM_GameFrame)->Iterations(2 * LAP_FRAMES);
BENCHMARK(BM_GameFrame)->Name("BM_GameFrameWall")->Iterations(2 * LAP_FRAMES)->UseRealTime();
BENCHMARK(BM_GameFrameSteps)->Iterations(2 * LAP_FRAMES);
BENCHMARK(BM_FlipDrive);
BENCHMARK(BM_FlatW100);
BENCHMARK(BM_GouraudW100);

// ------------------------------------------------------------ summary

struct Figure {
    const char *name;
    const char *baseline;
    double goal;         // at most this many baselines
    bool wall = false;   // both in wall-clock time rather than CPU time
};
constexpr Figure FIGURES[] = {
    {"BM_GameFrame", "BM_Memset64000", 80}, {"BM_GameFrameWall", "BM_Memset64000", 80, true},
    {"BM_FlatW100", "BM_Memset64000", 23},  {"BM_GouraudW100", "BM_Memset64000", 52},
    {"BM_FlipDrive", "BM_Memcpy64000", 5},
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The usual console lines for the single repetitions, then one table of
// ratios. CPU time, so that other processes on a shared core count less,
// except for the figures marked as wall-clock ones.
class RatioReporter : public RunTimes {
  public:
    void ReportRuns(const std::vector<Run> &runs) override {
        RunTimes::ReportRuns(runs);
        for (const Run &r : runs) {
            if (r.run_type != Run::RT_Iteration || r.iterations == 0 || r.error_occurred) continue;
            wall_[r.run_name.function_name].push_back(
                r.GetAdjustedRealTime() * benchmark::GetTimeUnitMultiplier(benchmark::kNanosecond) /
                benchmark::GetTimeUnitMultiplier(r.time_unit));
            for (const auto &[counter, value] : r.counters)
                if (counter.size() > 3 && counter.compare(counter.size() - 3, 3, "_ns") == 0)
                    steps_[counter].push_back(value.value);
        }
    }

    // Per figure: its median time, the ratio of the medians, the ratio of
    // the fastest repetitions (noise on a shared machine only adds time), the
    // range of single repetitions against the baseline's median, the goal.
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-12s %10s %8s %8s %12s %6s  %s\n", "figure", "median ns", "median", "best",
                    "range", "goal", "(multiples of)");
        for (const Figure &f : FIGURES) {
            const std::vector<double> &t = f.wall ? wall_[f.name] : times(f.name);
            const std::vector<double> &b = f.wall ? wall_[f.baseline] : times(f.baseline);
            if (t.empty() || b.empty()) continue;
            const double base = median(b);
            const double fastest = *std::min_element(t.begin(), t.end());
            const double slowest = *std::max_element(t.begin(), t.end());
            char range[32];
            std::snprintf(range, sizeof range, "%.1f-%.1f", fastest / base, slowest / base);
            std::printf("%-12s %10.0f %8.1f %8.1f %12s %6.0f  %s\n", f.name + 3, median(t),
                        median(t) / base, fastest / *std::min_element(b.begin(), b.end()), range,
                        f.goal, f.baseline + 3);
        }
        for (const char *name : {"BM_Memset64000", "BM_Memcpy64000"})
            if (!times(name).empty()) std::printf("%-12s %10.0f\n", name + 3, median(times(name)));
        if (!steps_.empty()) {
            double total = 0;
            for (const char *step : STEPS)
                if (steps_.count(step)) total += median(steps_[step]);
            std::printf("\n%-12s %10s %8s\n", "frame step", "median ns", "share");
            for (const char *step : STEPS)
                if (steps_.count(step) && total > 0)
                    std::printf("%-12.*s %10.0f %7.0f%%\n", static_cast<int>(std::strlen(step) - 3),
                                step, median(steps_[step]), 100 * median(steps_[step]) / total);
        }
        std::fflush(stdout);
    }

  private:
    static constexpr const char *STEPS[] = {"update_ns", "clear_ns", "render_ns", "flip_ns"};
    std::map<std::string, std::vector<double>>
        steps_;   // per-frame ns of each step, per repetition
    std::map<std::string, std::vector<double>>
        wall_;   // wall-clock ns per iteration, per repetition
};

// ------------------------------------------------------------ lap times

// The recorded lap through game_run, as the web page plays it: the keys of
// the next frame are queued at each present, the clock is read there, and
// Escape held for the frame after the lap ends the loop.
struct LapLoop {
    KeyScript script;
    std::vector<int64_t> ends;   // ns at the end of each frame, sized before the loop
    int64_t lap_frames = 0;
    int64_t frame = 0;   // frames presented in the loop so far
    uint32_t held = 0;
};
LapLoop lap_loop;

void lap_loop_queue(int64_t frame) {
    queue_key_changes(KEYSCRIPT_KEYS, &lap_loop.held, keyscript_keys_at(lap_loop.script, frame));
}

void lap_loop_present(int event) {
    if (event != HEADLESS_EVENT_PRESENT) return;
    const int64_t now = wall_ns();
    if (lap_loop.frame < lap_loop.lap_frames)
        lap_loop.ends[static_cast<size_t>(lap_loop.frame)] = now;
    lap_loop.frame++;
    lap_loop_queue(lap_loop.frame + 1);
}

// Plays the lap `laps` times, each a game of its own (start-up, level, loop,
// shutdown) as the page plays one, and prints each lap's frame ends.
int lap_times(int laps) {
    const char *path = "tests/data/record/lap.keys";
    std::ifstream in(path, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    std::string error;
    if (text.empty() || !level_found() ||
        !keyscript_parse(text.data(), text.size(), "lap.keys", &lap_loop.script, &error))
        fatal_error("bench_game: run from the repository root (lib/, %s) %s", path, error.c_str());
    lap_loop.lap_frames = lap_loop.script.frames;
    for (const KeyscriptKey &k : KEYSCRIPT_KEYS)
        if (k.scancode == KEY_ESCAPE) keyscript_append(&lap_loop.script, k.bit);
    std::vector<std::vector<int64_t>> ends(static_cast<size_t>(laps));
    for (std::vector<int64_t> &lap : ends) {
        lap_loop.ends.assign(static_cast<size_t>(lap_loop.lap_frames), 0);
        headless_reset();
        game_startup();
        level_load(1);
        lap_loop.frame = 0;
        lap_loop.held = 0;
        lap_loop_queue(1);
        headless_set_hook(lap_loop_present);
        game_run();
        headless_set_hook(nullptr);
        alarm(0);
        game_shutdown();
        level_free();
        // Escape is held in the frame after the lap and let go after it.
        if (lap_loop.frame != lap_loop.lap_frames + 1)
            fatal_error("bench_game: the lap ran %lld frames, want %lld",
                        static_cast<long long>(lap_loop.frame),
                        static_cast<long long>(lap_loop.lap_frames + 1));
        lap.swap(lap_loop.ends);
    }
    std::printf("lap-times %lld %d\n", static_cast<long long>(lap_loop.lap_frames), laps);
    for (const std::vector<int64_t> &lap : ends)
        for (const int64_t end : lap) std::printf("%lld\n", static_cast<long long>(end - lap[0]));
    return 0;
}

}   // namespace

int main(int argc, char **argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--lap-times") == 0) {
        const int laps = argc == 3 ? std::atoi(argv[2]) : argc == 2 ? 1 : 0;
        if (laps < 1 || laps > 100) fatal_error("usage: bench_game --lap-times [LAPS 1..100]");
        return lap_times(laps);
    }
    RatioReporter reporter;
    return run_benchmarks(
        argc, argv, {"--benchmark_repetitions=9", "--benchmark_enable_random_interleaving=true"},
        reporter);
}
