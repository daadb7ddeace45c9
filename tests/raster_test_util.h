// Shared by the polygon and sprite tests: a screen to draw into, a seeded
// generator, the clip-safety scan and the check against checked-in images.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/video.h"
#include "render/poly.h"

namespace raster_test {

constexpr uint8_t BG = 0xEE;   // background; never a colour the tests draw
inline uint8_t screen[SCREEN_SIZE];

inline uint8_t px(int x, int y) { return screen[y * SCREEN_WIDTH + x]; }
inline void clear() { std::memset(screen, BG, sizeof screen); }
inline void set_clip(int x0, int y0, int x1, int y1) {
    RasterState *s = raster_state();
    *s = RasterState{x0, y0, x1, y1, s->pick_x, s->pick_y, s->pick_hit, s->drawn};
}

struct Lcg {
    uint64_t s;
    uint32_t next() {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(s >> 32);
    }
    int range(int lo, int hi) { return lo + static_cast<int>(next() % uint32_t(hi - lo + 1)); }
};

// Every byte of buf outside columns x0..x1 and rows y0..y1 (inclusive) must
// still be BG. Returns the first row written outside, or -1; the inside is
// reset to BG and *inside_changed tells whether it had been written.
inline int scrub_clip(uint8_t *buf, int x0, int y0, int x1, int y1, bool *inside_changed) {
    static const std::string blank(SCREEN_WIDTH, static_cast<char>(BG));
    *inside_changed = false;
    for (int y = 0; y < SCREEN_HEIGHT; ++y) {
        uint8_t *line = buf + y * SCREEN_WIDTH;
        if (y < y0 || y > y1) {
            if (std::memcmp(line, blank.data(), SCREEN_WIDTH) != 0) return y;
            continue;
        }
        if (std::memcmp(line, blank.data(), size_t(x0)) != 0 ||
            std::memcmp(line + x1 + 1, blank.data(), size_t(SCREEN_WIDTH - 1 - x1)) != 0)
            return y;
        if (x1 >= x0 && std::memcmp(line + x0, blank.data(), size_t(x1 - x0 + 1)) != 0) {
            *inside_changed = true;
            std::memset(line + x0, BG, size_t(x1 - x0 + 1));
        }
    }
    return -1;
}

// The 96x64 window at (16, 12) against a binary PGM in tests/data/raster/.
// POLYDRIVE_UPDATE_IMAGES=1 rewrites the file after a deliberate change.
constexpr int WX0 = 16, WY0 = 12, WW = 96, WH = 64;

inline void check_image(const char *name) {
    const std::string header = "P5\n96 64\n255\n";
    std::string got = header;
    for (int y = WY0; y < WY0 + WH; ++y)
        got.append(reinterpret_cast<const char *>(screen) + y * SCREEN_WIDTH + WX0, WW);
    const std::string path = std::string(POLYDRIVE_SOURCE_DIR) + "/tests/data/raster/" + name;
    const char *update = std::getenv("POLYDRIVE_UPDATE_IMAGES");
    if (update && *update == '1') std::ofstream(path, std::ios::binary) << got;
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << "cannot read " << path;
    const std::string want{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_EQ(want.size(), got.size()) << path;
    const int i = static_cast<int>(std::mismatch(got.begin(), got.end(), want.begin()).first - got.begin());
    const int p = i - static_cast<int>(header.size());
    ASSERT_EQ(i, static_cast<int>(got.size()))
        << name << " differs at pixel (" << WX0 + p % WW << ", " << WY0 + p / WW << ")";
}

}   // namespace raster_test
