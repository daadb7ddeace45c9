// bench/flip_pair.h: times the flip alone between two frames shown in turn.
//
// Each frame is drawn into the back buffer and shown once; after that the
// back buffer holds the frame two flips back, which is the next one to show,
// so every timed flip copies what changed between the two and nothing else
// runs in the loop. Afterwards the video memory must hold the frame shown
// last, or the benchmark reports an error.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/headless/headless.h"
#include "platform/video.h"

inline void time_flips_between(benchmark::State &state, const std::vector<uint8_t> (&frames)[2],
                               size_t bytes) {
    for (const std::vector<uint8_t> &f : frames) {
        std::memcpy(BackBuffer, f.data(), bytes);
        gfx_flip();
    }
    for (auto _ : state) {
        gfx_flip();
        benchmark::ClobberMemory();
    }
    const std::vector<uint8_t> &last = frames[(state.iterations() + 1) % 2];
    if (std::memcmp(headless_video_memory(), last.data(), bytes) != 0)
        state.SkipWithError("video memory does not hold the last frame shown");
}
