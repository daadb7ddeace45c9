// Tests of the screen: the frame flip, the buffers and the palette.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
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

uint32_t word_at(const uint8_t *p, int offset) {
    uint32_t w;
    std::memcpy(&w, p + offset, 4);
    return w;
}

void set_word(uint8_t *p, int offset, uint32_t w) { std::memcpy(p + offset, &w, 4); }

// A small deterministic generator for test frames.
struct Lcg {
    uint32_t s;
    uint32_t next(uint32_t n) {
        s = s * 1664525u + 1013904223u;
        return (s >> 16) % n;
    }
};

std::vector<uint8_t> rect_frame(uint32_t seed, int count, int dx) {
    std::vector<uint8_t> f(SCREEN_SIZE, 3);
    Lcg rng{seed};
    for (int i = 0; i < count; i++) {
        int x0 = static_cast<int>(rng.next(300)) + dx, y0 = static_cast<int>(rng.next(180));
        int w = 1 + static_cast<int>(rng.next(60)), h = 1 + static_cast<int>(rng.next(40));
        uint8_t colour = static_cast<uint8_t>(rng.next(256));
        for (int y = y0; y < y0 + h && y < SCREEN_HEIGHT; y++)
            for (int x = x0; x < x0 + w && x < SCREEN_WIDTH; x++) f[y * SCREEN_WIDTH + x] = colour;
    }
    return f;
}

std::vector<uint8_t> scattered_frame(const std::vector<uint8_t> &base, uint32_t seed, int percent) {
    std::vector<uint8_t> f = base;
    Lcg rng{seed};
    for (int i = 0; i < SCREEN_SIZE; i++)
        if (static_cast<int>(rng.next(100)) < percent) f[i] ^= static_cast<uint8_t>(1 + rng.next(255));
    return f;
}

}  // namespace

// The double-buffer flip stores exactly the words that differ from the frame
// before and leaves every other word of video memory untouched.
using FlipWritesChangedWords = Video;

TEST_F(FlipWritesChangedWords, AllZeroFirstFrameWritesNothing) {
    gfx_init(0);
    gfx_flip();
    EXPECT_EQ(headless_flip_words(), 0);
}

TEST_F(FlipWritesChangedWords, IdenticalFramesWriteNothingTheSecondTime) {
    gfx_init(0);
    for (int frame = 0; frame < 2; frame++) {
        for (int i = 0; i < SCREEN_SIZE; i++) BackBuffer[i] = static_cast<uint8_t>(i * 7);
        gfx_flip();
    }
    EXPECT_EQ(headless_flip_words(), 0);
    // A third, still identical frame: video memory keeps a marker that the
    // flip had no reason to overwrite.
    set_word(headless_video_memory(), 4000, 0xDEADBEEF);
    for (int i = 0; i < SCREEN_SIZE; i++) BackBuffer[i] = static_cast<uint8_t>(i * 7);
    gfx_flip();
    EXPECT_EQ(word_at(headless_video_memory(), 4000), 0xDEADBEEFu);
}

TEST_F(FlipWritesChangedWords, OneChangedByteWritesTheWordHoldingIt) {
    gfx_init(0);
    gfx_flip();
    BackBuffer[12345] = 9;
    gfx_flip();
    EXPECT_EQ(headless_flip_words(), 1);
    EXPECT_EQ(headless_video_memory()[12345], 9);
}

// Every flip kernel, on scenes whose 64-byte blocks are unchanged, changed
// throughout, or mixed in runs and scattered words.
class FlipKernels : public Video, public ::testing::WithParamInterface<int> {
protected:
    void TearDown() override {
        gfx_set_flip_kernel(GFX_FLIP_WIDEST);
        Video::TearDown();
    }
};

TEST_P(FlipKernels, MixedScenesStoreExactlyTheChangedWords) {
    gfx_set_flip_kernel(GetParam());
    gfx_init(0);
    std::vector<uint8_t> base = rect_frame(1, 40, 0);
    std::vector<std::vector<uint8_t>> frames = {
        base,
        rect_frame(1, 40, 3),          // runs of changed words
        scattered_frame(base, 7, 50),  // half the bytes, no pattern
        scattered_frame(base, 8, 2),   // a few words per block
        base,
        std::vector<uint8_t>(SCREEN_SIZE, 0),
    };
    std::vector<uint8_t> shown(SCREEN_SIZE, 0);
    constexpr uint32_t MARKER = 0xA5A5A5A5u;
    headless_count_words(0);
    for (const std::vector<uint8_t> &frame : frames) {
        // Every word that is not due to change carries a marker beforehand.
        uint8_t *vram = headless_video_memory();
        for (int offset = 0; offset < SCREEN_SIZE; offset += 4) {
            if (word_at(frame.data(), offset) == word_at(shown.data(), offset)) set_word(vram, offset, MARKER);
        }
        std::memcpy(BackBuffer, frame.data(), SCREEN_SIZE);
        gfx_flip();
        for (int offset = 0; offset < SCREEN_SIZE; offset += 4) {
            uint32_t want = word_at(frame.data(), offset) == word_at(shown.data(), offset)
                                ? MARKER
                                : word_at(frame.data(), offset);
            ASSERT_EQ(word_at(vram, offset), want) << "word at byte " << offset;
        }
        // Put the true picture back so the next frame compares as the game would.
        std::memcpy(vram, frame.data(), SCREEN_SIZE);
        shown = frame;
    }
}

INSTANTIATE_TEST_SUITE_P(Video, FlipKernels,
                         ::testing::Values(GFX_FLIP_PORTABLE, GFX_FLIP_SSE2, GFX_FLIP_WIDEST),
                         [](const ::testing::TestParamInfo<int> &info) {
                             return std::string(info.param == GFX_FLIP_PORTABLE ? "Portable"
                                                : info.param == GFX_FLIP_SSE2   ? "Sse2"
                                                                                : "Widest");
                         });

// The two blocks exchange roles at every double-buffer flip.
using FlipBuffers = Video;

TEST_F(FlipBuffers, BackBufferHoldsTheFrameFromTwoFlipsAgo) {
    gfx_init(0);
    uint8_t *first = BackBuffer;
    std::memset(BackBuffer, 1, SCREEN_SIZE);
    gfx_flip();
    ASSERT_NE(BackBuffer, first);
    EXPECT_EQ(BackBuffer[0], 0);
    EXPECT_EQ(BackBuffer[SCREEN_SIZE - 1], 0);
    std::memset(BackBuffer, 2, SCREEN_SIZE);
    gfx_flip();
    EXPECT_EQ(BackBuffer, first);
    EXPECT_EQ(BackBuffer[0], 1);
    EXPECT_EQ(BackBuffer[SCREEN_SIZE - 1], 1);
    EXPECT_EQ(headless_video_memory()[SCREEN_SIZE - 1], 2);
}

TEST_F(FlipBuffers, SingleBufferCopiesTheWholeFrameAndKeepsItsBuffer) {
    gfx_init(1);
    uint8_t *back = BackBuffer;
    for (int i = 0; i < SCREEN_SIZE; i++) BackBuffer[i] = static_cast<uint8_t>(i);
    gfx_flip();
    EXPECT_EQ(BackBuffer, back);
    EXPECT_EQ(std::memcmp(headless_video_memory(), back, SCREEN_SIZE), 0);
}

TEST_F(FlipBuffers, ClearZeroesTheBackBuffer) {
    gfx_init(0);
    std::memset(BackBuffer, 77, SCREEN_SIZE);
    gfx_clear();
    for (int i = 0; i < SCREEN_SIZE; i++) ASSERT_EQ(BackBuffer[i], 0);
}

// Start and stop of the screen, in any order.
using VideoLifecycle = Video;

TEST_F(VideoLifecycle, InitSwitchesToGraphicsAndShutdownBack) {
    EXPECT_EQ(gfx_init(0), 1);
    EXPECT_EQ(headless_mode(), 5);
    ASSERT_NE(BackBuffer, nullptr);
    gfx_shutdown();
    EXPECT_EQ(headless_mode(), 0);
    EXPECT_EQ(BackBuffer, nullptr);
    EXPECT_STREQ(headless_log(), "graphics text");
}

TEST_F(VideoLifecycle, ShutdownWithoutInitAndTwiceIsHarmless) {
    gfx_shutdown();
    gfx_init(0);
    gfx_shutdown();
    gfx_shutdown();
    EXPECT_STREQ(headless_log(), "graphics text");
    // Drawing calls after the shutdown touch nothing.
    gfx_clear();
    gfx_flip();
    EXPECT_EQ(headless_presents(), 0);
}

// The default palette, palette reads and writes, and the fades.
using Palettes = Video;

TEST_F(Palettes, DefaultPaletteHasTheRampsAndFixedColours) {
    const uint8_t *rgb = palette_default()->rgb;
    auto colour = [&](int c) { return std::vector<int>{rgb[c * 3], rgb[c * 3 + 1], rgb[c * 3 + 2]}; };
    EXPECT_EQ(colour(23), (std::vector<int>{63, 0, 0}));
    EXPECT_EQ(colour(191), (std::vector<int>{63, 13, 63}));
    EXPECT_EQ(colour(239), (std::vector<int>{45, 16, 63}));
    EXPECT_EQ(colour(5 * 24 + 12), (std::vector<int>{33, 33, 33}));
    EXPECT_EQ(colour(6 * 24 + 23), (std::vector<int>{63, 32, 0}));
    EXPECT_EQ(colour(246), (std::vector<int>{42, 21, 0}));
    EXPECT_EQ(colour(255), (std::vector<int>{63, 63, 63}));
    for (int ramp = 0; ramp < 10; ramp++) {
        EXPECT_EQ(colour(ramp * 24), (std::vector<int>{0, 0, 0})) << "ramp " << ramp;
        // Shades never get darker along a ramp.
        for (int shade = 1; shade < 24; shade++)
            for (int c = 0; c < 3; c++)
                EXPECT_GE(rgb[(ramp * 24 + shade) * 3 + c], rgb[(ramp * 24 + shade - 1) * 3 + c]);
    }
}

TEST_F(Palettes, InitLoadsTheDefaultPalette) {
    gfx_init(0);
    Palette now;
    palette_get(&now);
    EXPECT_EQ(std::memcmp(now.rgb, palette_default()->rgb, 768), 0);
}

TEST_F(Palettes, GetThenSetChangesNothing) {
    gfx_init(0);
    Palette p;
    palette_get(&p);
    palette_set(&p);
    Palette again;
    palette_get(&again);
    EXPECT_EQ(std::memcmp(p.rgb, again.rgb, 768), 0);
    palette_black();
    palette_get(&again);
    for (uint8_t c : again.rgb) ASSERT_EQ(c, 0);
}

TEST_F(Palettes, ComponentsKeepSixBitsAsTheColourRegistersDo) {
    gfx_init(0);
    Palette p = {};
    p.rgb[0] = 64 + 5;
    p.rgb[1] = 200;
    palette_set(&p);
    Palette back;
    palette_get(&back);
    EXPECT_EQ(back.rgb[0], 5);
    EXPECT_EQ(back.rgb[1], 200 & 63);
    EXPECT_EQ(back.rgb[2], 0);
}

namespace {
std::vector<std::vector<int>> palette_loads;
void record_palette(int event) {
    if (event == HEADLESS_EVENT_PALETTE)
        palette_loads.emplace_back(headless_palette(), headless_palette() + 768);
}
}  // namespace

TEST_F(Palettes, FadeInClimbsOneStepAtATimeAndStopsAtTheTarget) {
    gfx_init(0);
    Palette target = {};
    target.rgb[0] = 63;
    target.rgb[1] = 1;
    target.rgb[767] = 30;
    palette_loads.clear();
    headless_set_hook(record_palette);
    palette_fade_in(&target);
    headless_set_hook(nullptr);
    ASSERT_EQ(palette_loads.size(), 64u);
    EXPECT_EQ(palette_loads[0][0], 1);
    EXPECT_EQ(palette_loads[0][1], 1);
    EXPECT_EQ(palette_loads[0][2], 0);
    EXPECT_EQ(palette_loads[29][767], 30);
    EXPECT_EQ(palette_loads[61][0], 62);
    EXPECT_EQ(palette_loads[62][0], 63);
    EXPECT_EQ(palette_loads[63], palette_loads[62]);
}

TEST_F(Palettes, FadeOutFromTheDefaultPaletteEndsBlack) {
    gfx_init(0);
    palette_loads.clear();
    headless_set_hook(record_palette);
    palette_fade_out();
    headless_set_hook(nullptr);
    ASSERT_EQ(palette_loads.size(), 64u);
    EXPECT_EQ(palette_loads[0][23 * 3], 62);   // the brightest red, one step down
    for (int c : palette_loads[62]) ASSERT_EQ(c, 0);
    for (int c : palette_loads[63]) ASSERT_EQ(c, 0);
}
