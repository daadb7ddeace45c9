// bench/w100.h: the W100 workload shared by the benchmark programs: one
// hundred triangles inside the 320x200 screen, mixed winding, about 300
// pixels each, from a fixed 32-bit LCG so every program draws the same set.
//
// s = s·1664525 + 1013904223 from s = 1, rnd(n) = (s >> 16) % n after each
// step; per triangle the centre, three corners, a flat colour and three
// corner colours, in that order. w100(N) runs the generator on for N
// triangles (W1000, W10000: the first hundred are W100's).
#pragma once

#include <cstdint>
#include <vector>

#include "render/poly.h"

struct W100Triangle {
    ScreenPoint p[3];
    int flat;             // palette index for the flat fill
    uint8_t colours[3];   // corner colours 0..255 as generated
};

inline std::vector<W100Triangle> w100(int count = 100) {
    uint32_t s = 1;
    auto rnd = [&s](uint32_t n) {
        s = s * 1664525u + 1013904223u;
        return static_cast<int>((s >> 16) % n);
    };
    std::vector<W100Triangle> out;
    for (int i = 0; i < count; ++i) {
        W100Triangle t{};
        const int cx = 32 + rnd(256), cy = 32 + rnd(136);
        for (auto &p : t.p) {
            p.x = cx + rnd(63) - 31;
            p.y = cy + rnd(63) - 31;
        }
        t.flat = rnd(256);
        for (auto &c : t.colours) c = static_cast<uint8_t>(rnd(256));
        out.push_back(t);
    }
    return out;
}

// The gouraud filler interpolates palette indices, so the corner colours of
// triangle i are mapped into one ramp of 24 shades, ramp i mod 10.
inline std::vector<W100Triangle> w100_gouraud() {
    std::vector<W100Triangle> tris = w100();
    for (size_t i = 0; i < tris.size(); ++i)
        for (auto &c : tris[i].colours) c = static_cast<uint8_t>((i % 10) * 24 + c % 24);
    return tris;
}

// The generator's first triangle as the workload defines it.
inline bool w100_matches_reference(const std::vector<W100Triangle> &t) {
    const W100Triangle &a = t[0];
    return a.p[0].x == 171 && a.p[0].y == 145 && a.p[1].x == 173 && a.p[1].y == 153 &&
           a.p[2].x == 196 && a.p[2].y == 165 && a.flat == 56 && a.colours[0] == 165 &&
           a.colours[1] == 29 && a.colours[2] == 32;
}
