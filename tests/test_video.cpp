// Tests of the screen: the frame flip, the buffers and the palette.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/headless/headless.h"
#include "platform/video.h"

namespace {

class Video : public ::testing::Test {
  protected:
    void SetUp() override { headless_reset(); }
    void TearDown() override {
        gfx_shutdown();
        headless_reset();
    }
};
using FlipWritesChangedWords = Video;
using FlipBuffers = Video;
using Palettes = Video;

bool back_buffer_is(uint8_t value) {
    return std::all_of(BackBuffer, BackBuffer + SCREEN_SIZE, [value](uint8_t b) { return b == value; });
}

// A copy of a frame with every step-th byte from first to last changed.
std::vector<uint8_t> changed(std::vector<uint8_t> frame, int first, int last, int step) {
    for (int i = first; i < last; i += step) frame[i] ^= static_cast<uint8_t>(0x5A + i);
    return frame;
}

// With counting on, each present counts the words changed since the one before.
TEST_F(FlipWritesChangedWords, IdenticalFramesWriteNothingAndOneByteOneWord) {
    gfx_init(0);
    headless_count_words(1);
    for (int frame = 0; frame < 2; frame++) {
        for (int i = 0; i < SCREEN_SIZE; i++) BackBuffer[i] = static_cast<uint8_t>(i * 7);
        gfx_flip();
    }
    EXPECT_EQ(headless_flip_words(), 0);
    BackBuffer[12345] ^= 9;
    gfx_flip();
    EXPECT_EQ(headless_flip_words(), 1);
    EXPECT_EQ(headless_video_memory()[12345], (12345 * 7 & 255) ^ 9);
}

// Every kernel (the widest last, as the default) stores exactly the words that
// differ from the frame before, on frames whose 64-byte blocks are unchanged,
// changed throughout (an unaligned run) or mixed (scattered bytes).
TEST_F(FlipWritesChangedWords, EveryKernelStoresExactlyTheChangedWords) {
    const std::vector<uint8_t> base = changed(std::vector<uint8_t>(SCREEN_SIZE, 3), 0, SCREEN_SIZE, 1);
    const std::vector<std::vector<uint8_t>> frames = {base,
                                                      changed(base, 1001, 9003, 1),
                                                      changed(base, 5, SCREEN_SIZE, 13),
                                                      changed(base, 0, SCREEN_SIZE, 997),
                                                      base,
                                                      base,
                                                      std::vector<uint8_t>(SCREEN_SIZE, 0)};
    for (int kernel : {GFX_FLIP_PORTABLE, GFX_FLIP_SSE2, GFX_FLIP_AVX2, GFX_FLIP_WIDEST}) {
        gfx_shutdown();
        gfx_set_flip_kernel(kernel);
        gfx_init(0);
        std::vector<uint8_t> shown(SCREEN_SIZE, 0);
        uint8_t *vram = headless_video_memory();
        for (const std::vector<uint8_t> &frame : frames) {
            std::memset(vram, 0xA5, SCREEN_SIZE);   // a marker that only the changed words may replace
            std::vector<uint8_t> want = frame;
            for (int at = 0; at < SCREEN_SIZE; at += 4)
                if (std::memcmp(&frame[at], &shown[at], 4) == 0) std::memset(&want[at], 0xA5, 4);
            std::memcpy(BackBuffer, frame.data(), SCREEN_SIZE);
            gfx_flip();
            const auto bad = std::mismatch(want.begin(), want.end(), vram).first - want.begin();
            ASSERT_EQ(bad, SCREEN_SIZE) << "kernel " << kernel << ", first wrong byte " << bad;
            shown = frame;
        }
    }
}

// Video memory holds every frame flipped, from the first on, also after a
// new graphics mode of another size: both it and the previous frame start as
// zeros at the switch. That is what lets a backend whose video memory is plain
// memory (the page's) copy each frame whole instead of the changed words.
TEST_F(FlipBuffers, VideoMemoryHoldsEveryFrameFlippedAcrossModes) {
    uint32_t seed = 12345;
    for (const auto &[width, height] :
         {std::pair{SCREEN_WIDTH, SCREEN_HEIGHT}, std::pair{100, 37}, std::pair{SCREEN_WIDTH, SCREEN_HEIGHT}}) {
        gfx_shutdown();
        ASSERT_TRUE(gfx_set_frame_size(width, height));
        gfx_init(0);
        const auto bytes = static_cast<size_t>(gfx_frame().bytes);
        for (int frame = 0; frame < 4; frame++) {
            // Sparse frames: most words stay 0, as in the zeroed buffers.
            std::memset(BackBuffer, 0, bytes);
            for (int k = 0; k < 300; k++) {
                seed = seed * 1664525u + 1013904223u;
                BackBuffer[(seed >> 8) % bytes] = static_cast<uint8_t>(seed >> 24 | 1);
            }
            const std::vector<uint8_t> drawn(BackBuffer, BackBuffer + bytes);
            gfx_flip();
            ASSERT_EQ(std::memcmp(headless_video_memory(), drawn.data(), bytes), 0)
                << width << "x" << height << ", frame " << frame;
        }
    }
}

// Double buffers exchange roles at every flip; a single buffer is copied whole
// and stays. Shutdown is harmless twice; drawing after it touches nothing.
TEST_F(FlipBuffers, BackBufferHoldsTheFrameFromTwoFlipsAgo) {
    EXPECT_EQ(gfx_init(0), 1);
    uint8_t *first = BackBuffer;
    std::memset(BackBuffer, 1, SCREEN_SIZE);
    gfx_flip();
    EXPECT_NE(BackBuffer, first);
    EXPECT_TRUE(back_buffer_is(0));
    std::memset(BackBuffer, 2, SCREEN_SIZE);
    gfx_flip();
    EXPECT_EQ(BackBuffer, first);
    EXPECT_TRUE(back_buffer_is(1));
    EXPECT_EQ(headless_video_memory()[SCREEN_SIZE - 1], 2);
    gfx_clear();
    EXPECT_TRUE(back_buffer_is(0));
    gfx_shutdown();
    gfx_init(1);
    first = BackBuffer;
    for (int i = 0; i < SCREEN_SIZE; i++) BackBuffer[i] = static_cast<uint8_t>(i);
    gfx_flip();
    EXPECT_EQ(BackBuffer, first);
    EXPECT_EQ(std::memcmp(headless_video_memory(), first, SCREEN_SIZE), 0);
    gfx_shutdown();
    gfx_shutdown();
    EXPECT_EQ(BackBuffer, nullptr);
    gfx_clear();
    gfx_flip();
    EXPECT_EQ(headless_presents(), 3);
    EXPECT_STREQ(headless_log(), "graphics text graphics text");
}

std::vector<int> colour(const Palette &p, int c) { return {p.rgb[c * 3], p.rgb[c * 3 + 1], p.rgb[c * 3 + 2]}; }

// Init loads the default palette; what is read back is what was set, each
// component kept to six bits as the colour registers keep it.
TEST_F(Palettes, DefaultRampsAndColoursLoadedAtInitAndReadBackInSixBits) {
    const Palette &p = *palette_default();
    const std::pair<int, std::vector<int>> entries[] = {
        {23, {63, 0, 0}},           {191, {63, 13, 63}}, {239, {45, 16, 63}}, {5 * 24 + 12, {33, 33, 33}},
        {6 * 24 + 23, {63, 32, 0}}, {246, {42, 21, 0}},  {255, {63, 63, 63}}};
    for (const auto &[c, rgb] : entries) EXPECT_EQ(colour(p, c), rgb) << "colour " << c;
    for (int ramp = 0; ramp < 10; ramp++) {
        EXPECT_EQ(colour(p, ramp * 24), (std::vector<int>{0, 0, 0})) << "ramp " << ramp;
        for (int i = ramp * 72 + 3; i < ramp * 72 + 72; i++) EXPECT_GE(p.rgb[i], p.rgb[i - 3]);   // never darker
    }
    gfx_init(0);
    Palette set = p, back;
    palette_get(&back);
    EXPECT_EQ(std::memcmp(back.rgb, p.rgb, 768), 0);
    set.rgb[0] = 64 + 5;
    set.rgb[1] = 200;
    palette_set(&set);
    palette_get(&back);
    EXPECT_EQ(std::vector<int>({back.rgb[0], back.rgb[1]}), std::vector<int>({5, 200 & 63}));
    EXPECT_EQ(std::memcmp(set.rgb + 2, back.rgb + 2, 766), 0);
    palette_black();
    palette_get(&back);
    EXPECT_EQ(std::vector<uint8_t>(back.rgb, back.rgb + 768), std::vector<uint8_t>(768, 0));
}

std::vector<std::vector<int>> palette_loads;

// Fades take 64 loads, each component one step at a time.
TEST_F(Palettes, FadesClimbAndFallOneStepAtATime) {
    gfx_init(0);
    Palette target = {{63, 1}};
    target.rgb[767] = 30;
    headless_set_hook([](int event) {
        if (event == HEADLESS_EVENT_PALETTE) palette_loads.emplace_back(headless_palette(), headless_palette() + 768);
    });
    palette_loads.clear();
    palette_fade_in(&target);
    const auto &l = palette_loads;
    ASSERT_EQ(l.size(), 64u);
    EXPECT_EQ(std::vector<int>({l[0][0], l[0][1], l[0][2], l[29][767], l[61][0], l[62][0]}),
              std::vector<int>({1, 1, 0, 30, 62, 63}));
    EXPECT_EQ(l[63], l[62]);
    palette_set(palette_default());
    palette_loads.clear();
    palette_fade_out();
    ASSERT_EQ(l.size(), 64u);
    EXPECT_EQ(l[0][23 * 3], 62);   // the brightest red, one step down
    for (size_t i : {62, 63}) EXPECT_EQ(l[i], std::vector<int>(768, 0)) << "load " << i;
}

}   // namespace
