// bench/bench_ratio.h: what the benchmark programs share to give their
// figures as multiples of a baseline measured in the same run.
//
//   BM_Memset64000, BM_Memcpy64000
//               the baselines: memset and memcpy of 64000 bytes (one
//               screen). Each program registers the ones it uses, so the
//               names in its output stay these.
//   RunTimes    a console reporter that also keeps the CPU time per
//               iteration of every repetition of every benchmark.
//   RatioTable  RunTimes that ends with a table of the named benchmarks, each
//               from its fastest repetition, as a multiple of one baseline.
//   run_benchmarks
//               the usual main: flags, run, shutdown.
//
// CPU time, because other processes on a shared core then count less; the
// fastest repetition, because noise only ever adds time.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

constexpr int BASELINE_BYTES = 64000;

// Both baselines store into the same buffer, aligned as a back buffer is.
alignas(64) inline uint8_t baseline_from[BASELINE_BYTES];
alignas(64) inline uint8_t baseline_to[BASELINE_BYTES];

inline void BM_Memset64000(benchmark::State &state) {
    for (auto _ : state) {
        std::memset(baseline_to, 0, BASELINE_BYTES);
        benchmark::DoNotOptimize(baseline_to);
        benchmark::ClobberMemory();
    }
}

inline void BM_Memcpy64000(benchmark::State &state) {
    std::memset(baseline_from, 5, BASELINE_BYTES);
    for (auto _ : state) {
        std::memcpy(baseline_to, baseline_from, BASELINE_BYTES);
        benchmark::DoNotOptimize(baseline_to);
        benchmark::ClobberMemory();
    }
}

// The usual console lines, and the times kept for a summary in Finalize.
class RunTimes : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &r : runs) {
            if (r.iterations == 0 || r.error_occurred) continue;
            // With only aggregates reported, the median stands in.
            const bool iteration = r.run_type == Run::RT_Iteration;
            if (!iteration && r.aggregate_name != "median") continue;
            const std::string name = r.run_name.function_name;
            (iteration ? times_[name] : medians_[name]).push_back(cpu_ns(r));
        }
    }

    // CPU ns per iteration of one run.
    static double cpu_ns(const Run &r) {
        return r.GetAdjustedCPUTime() * benchmark::GetTimeUnitMultiplier(benchmark::kNanosecond) /
               benchmark::GetTimeUnitMultiplier(r.time_unit);
    }

    // Every repetition of the benchmark, in the order run (empty if none).
    const std::vector<double> &times(const std::string &name) const {
        static const std::vector<double> none;
        auto it = times_.find(name);
        return it == times_.end() ? none : it->second;
    }

    // The fastest repetition, or the fastest reported median when only
    // aggregates were reported.
    bool has(const std::string &name) const {
        return times_.count(name) != 0 || medians_.count(name) != 0;
    }
    double best(const std::string &name) const {
        const std::vector<double> &t = times_.count(name) ? times_.at(name) : medians_.at(name);
        return *std::min_element(t.begin(), t.end());
    }

  private:
    std::map<std::string, std::vector<double>> times_, medians_;
};

// After the console lines: per named benchmark its fastest repetition in ns,
// that as a multiple of the baseline's fastest, and iterations per second.
class RatioTable : public RunTimes {
  public:
    RatioTable(const char *baseline, std::initializer_list<const char *> names)
        : baseline_(baseline), names_(names) {}

    void Finalize() override {
        ConsoleReporter::Finalize();
        if (!has(baseline_)) return;
        const double base = best(baseline_);
        std::string column = "x " + baseline_.substr(3);
        column[2] = static_cast<char>(std::tolower(static_cast<unsigned char>(column[2])));
        std::printf("\n%-24s %12s %16s %12s\n", "benchmark", "ns", column.c_str(), "per second");
        for (const char *name : names_) {
            if (!has(name)) continue;
            const double ns = best(name);
            std::printf("%-24s %12.0f %16.2f %12.0f\n", name + 3, ns, ns / base, 1e9 / ns);
        }
    }

  private:
    std::string baseline_;
    std::vector<const char *> names_;
};

// Reads the benchmark flags (refusing unknown ones), runs the benchmarks
// with the given reporter and shuts the library down; main's status.
inline int run_benchmarks(int argc, char **argv, benchmark::BenchmarkReporter &reporter) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

// The same with `defaults` given before the caller's flags, so that the
// caller's take precedence.
inline int run_benchmarks(int argc, char **argv, std::vector<std::string> defaults,
                          benchmark::BenchmarkReporter &reporter) {
    std::vector<char *> args = {argv[0]};
    for (std::string &flag : defaults) args.push_back(flag.data());
    for (int i = 1; i < argc; i++) args.push_back(argv[i]);
    const int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    return run_benchmarks(count, args.data(), reporter);
}
