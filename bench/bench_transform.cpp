// Throughput of the point transform and of transform concatenation, each
// against a plain 3x3 integer multiply-add over the same data (no 64-bit
// products, no shifts), measured in the same run. After the run a summary
// prints operations per second and the ratio of each operation to its plain
// counterpart; memset of 64000 bytes is measured too, as in every benchmark
// of the project.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "bench/bench_ratio.h"
#include "base/transform.h"

namespace {

constexpr int POINTS = 4096;
constexpr int TRANSFORMS = 256;

struct Point {
    int32_t x, y, z;
};

uint32_t lcg_state = 1;
int32_t rnd(int32_t lo, int32_t hi) {
    lcg_state = lcg_state * 1664525u + 1013904223u;
    return lo + static_cast<int32_t>((lcg_state >> 8) % static_cast<uint32_t>(hi - lo + 1));
}

struct Data {
    std::vector<Point> points, out;
    std::vector<Transform> transforms, products;
    Data() : points(POINTS), out(POINTS), transforms(TRANSFORMS), products(TRANSFORMS) {
        for (Point &p : points)
            p = {rnd(-100000, 100000), rnd(-100000, 100000), rnd(-100000, 100000)};
        for (Transform &t : transforms) {
            transform_set_rotation(&t, rnd(0, 1439), rnd(0, 1439), rnd(0, 1439));
            transform_set_translation(&t, rnd(-50000, 50000), rnd(-50000, 50000),
                                      rnd(-50000, 50000));
        }
    }
};

Data &data() {
    static Data d;
    return d;
}

// Plain 32-bit multiply-add of one row (wrapping, so never undefined).
inline int32_t plain_row(const int32_t *r, int32_t x, int32_t y, int32_t z, int32_t t) {
    return static_cast<int32_t>(static_cast<uint32_t>(r[0]) * static_cast<uint32_t>(x) +
                                static_cast<uint32_t>(r[1]) * static_cast<uint32_t>(y) +
                                static_cast<uint32_t>(r[2]) * static_cast<uint32_t>(z) +
                                static_cast<uint32_t>(t));
}

BENCHMARK(BM_Memset64000);

void BM_PlainPointMultiplyAdd(benchmark::State &state) {
    Data &d = data();
    const Transform &t = d.transforms[0];
    for (auto _ : state) {
        for (int i = 0; i < POINTS; ++i) {
            const Point p = d.points[i];
            d.out[i] = {plain_row(t.m, p.x, p.y, p.z, t.tx),
                        plain_row(t.m + 3, p.x, p.y, p.z, t.ty),
                        plain_row(t.m + 6, p.x, p.y, p.z, t.tz)};
        }
        benchmark::DoNotOptimize(d.out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * POINTS);
}
BENCHMARK(BM_PlainPointMultiplyAdd);

void BM_TransformPoint(benchmark::State &state) {
    Data &d = data();
    const Transform &t = d.transforms[0];
    for (auto _ : state) {
        for (int i = 0; i < POINTS; ++i) {
            Point p = d.points[i];
            transform_point(&t, &p.x, &p.y, &p.z);
            d.out[i] = p;
        }
        benchmark::DoNotOptimize(d.out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * POINTS);
}
BENCHMARK(BM_TransformPoint);

void BM_PlainConcatMultiplyAdd(benchmark::State &state) {
    Data &d = data();
    for (auto _ : state) {
        for (int n = 0; n < TRANSFORMS; ++n) {
            const Transform &a = d.transforms[n];
            const Transform &b = d.transforms[(n + 1) % TRANSFORMS];
            Transform &o = d.products[n];
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j)
                    o.m[3 * i + j] = plain_row(b.m + 3 * i, a.m[j], a.m[3 + j], a.m[6 + j], 0);
            o.tx = plain_row(b.m, a.tx, a.ty, a.tz, b.tx);
            o.ty = plain_row(b.m + 3, a.tx, a.ty, a.tz, b.ty);
            o.tz = plain_row(b.m + 6, a.tx, a.ty, a.tz, b.tz);
        }
        benchmark::DoNotOptimize(d.products.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * TRANSFORMS);
}
BENCHMARK(BM_PlainConcatMultiplyAdd);

void BM_TransformConcat(benchmark::State &state) {
    Data &d = data();
    for (auto _ : state) {
        for (int n = 0; n < TRANSFORMS; ++n)
            transform_concat(&d.transforms[n], &d.transforms[(n + 1) % TRANSFORMS], &d.products[n]);
        benchmark::DoNotOptimize(d.products.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * TRANSFORMS);
}
BENCHMARK(BM_TransformConcat);

// Console output as usual, then a summary with the ratios, each from the
// fastest repetition.
class Summary : public RunTimes {
  public:
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-20s %8s %16s %16s %20s\n", "operation", "batch", "ops per second",
                    "x plain mul-add", "batch x memset64000");
        line("BM_TransformPoint", "BM_PlainPointMultiplyAdd", POINTS);
        line("BM_TransformConcat", "BM_PlainConcatMultiplyAdd", TRANSFORMS);
    }

  private:
    void line(const char *op, const char *plain, int items) {
        if (!has(op) || !has(plain)) return;
        const double per_op = best(op) / items;
        const double memset_ratio = has("BM_Memset64000") ? best(op) / best("BM_Memset64000") : 0.0;
        std::printf("%-20s %8d %16.3e %16.2f %20.2f\n", op + 3, items, 1e9 / per_op,
                    best(op) / best(plain), memset_ratio);
    }
};

}   // namespace

int main(int argc, char **argv) {
    Summary summary;
    return run_benchmarks(argc, argv, summary);
}
