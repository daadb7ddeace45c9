// Bitmap sprites: placement and clipping (never column x1 or row y1),
// transparency, the 16.16 sampling of scaled drawing with its row shift, a
// randomized check that nothing outside the clip rectangle is written, and a
// scene against a checked-in image. Bitmaps are allocated to the byte, so the
// sanitizer build catches a stray read.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "raster_test_util.h"
#include "render/sprite.h"

namespace {

using namespace raster_test;

// A bitmap resource in a block of exactly its size, at `offset` bytes into
// the block as resources in the cache pool are. By default each pixel holds
// its byte index in the pixels (mod 238, so never BG nor transparent).
class TestBitmap {
  public:
    TestBitmap(int32_t w, int32_t h, size_t offset = 0, const std::function<uint8_t(int, int)> &pixel = nullptr)
        : data_(new uint8_t[offset + BITMAP_HEADER_SIZE + size_t(std::max(w, 0)) * std::max(h, 0)]), offset_(offset) {
        uint8_t *p = data_.get() + offset;
        for (int i = 0; i < 4; ++i) {
            p[i] = uint8_t(uint32_t(w) >> (8 * i));
            p[4 + i] = uint8_t(uint32_t(h) >> (8 * i));
        }
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                p[BITMAP_HEADER_SIZE + y * w + x] = pixel ? pixel(x, y) : uint8_t((y * w + x) % 238);
    }
    const Bitmap *get() const { return reinterpret_cast<const Bitmap *>(data_.get() + offset_); }

  private:
    std::unique_ptr<uint8_t[]> data_;
    size_t offset_;
};

// Bounding box of the pixels that are not background; also a clip rectangle.
struct Box {
    int x0, y0, x1, y1;
    bool operator==(const Box &) const = default;
};
std::ostream &operator<<(std::ostream &o, const Box &b) {
    return o << "(" << b.x0 << ", " << b.y0 << ")-(" << b.x1 << ", " << b.y1 << ")";
}
constexpr Box NOTHING{SCREEN_WIDTH, SCREEN_HEIGHT, -1, -1}, FULL{0, 0, 319, 199};

Box written() {
    Box b = NOTHING;
    for (int i = 0; i < SCREEN_SIZE; ++i)
        if (screen[i] != BG)
            b = {std::min(b.x0, i % 320), std::min(b.y0, i / 320), std::max(b.x1, i % 320), std::max(b.y1, i / 320)};
    return b;
}

class SpriteTest : public ::testing::Test {
    void SetUp() override {
        BackBuffer = screen;
        clear();
        set_clip(0, 0, 319, 199);
    }
};

constexpr int AT[] = {0, 2, 5};       // eight source pixels on three: steps of 8/3 (174762 in 16.16)
constexpr int UNSCALED = INT32_MIN;   // as w: draw unscaled

// Each case draws one bitmap (w = UNSCALED for sprite_draw, else the scaled
// size about the centre x, y) and expects exactly `box` written, pixel
// (x0 + i, y0 + j) of it holding the bitmap byte src(i, j). The bitmaps sit
// at offsets 0 to 3, and the pick and drawn flags are left as they were.
TEST_F(SpriteTest, PlacementClippingAndSampling) {
    // clang-format off
    const struct {
        const char *what;
        int bw, bh, x, y, w, h;
        Box clip, box;
        int (*src)(int, int);
    } cases[] = {
        {"copied at its top-left", 10, 10, 40, 60, UNSCALED, 0, FULL, {40, 60, 49, 69}, [](int i, int j) { return 10 * j + i; }},
        {"right edge cut before x1", 10, 10, 315, 50, UNSCALED, 0, FULL, {315, 50, 318, 59}, [](int i, int j) { return 10 * j + i; }},
        {"at x = x1", 10, 10, 319, 50, UNSCALED, 0, FULL, NOTHING, nullptr},
        {"at y = y1", 10, 10, 50, 199, UNSCALED, 0, FULL, NOTHING, nullptr},
        {"at a clip x1", 10, 10, 100, 50, UNSCALED, 0, {30, 30, 100, 80}, NOTHING, nullptr},
        {"at a clip y1", 10, 10, 50, 80, UNSCALED, 0, {30, 30, 100, 80}, NOTHING, nullptr},
        {"negative top-left", 10, 10, -3, -3, UNSCALED, 0, FULL, {0, 0, 6, 6}, [](int i, int j) { return 10 * (j + 3) + i + 3; }},
        {"cut on all sides", 16, 16, 15, 25, UNSCALED, 0, {20, 30, 27, 35}, {20, 30, 26, 34},
         [](int i, int j) { return 16 * (j + 5) + i + 5; }},
        {"doubled: 2x2 blocks", 16, 16, 50, 60, 32, 32, FULL, {34, 44, 65, 75}, [](int i, int j) { return 16 * (j / 2) + i / 2; }},
        {"odd size: symmetric about the centre", 4, 4, 10, 20, 5, 5, FULL, {8, 18, 12, 22}, nullptr},
        {"even size: the extra column and row left and up", 4, 4, 10, 20, 4, 4, FULL, {8, 18, 11, 21}, nullptr},
        {"w = 0: one column from source column 0", 4, 4, 30, 40, 0, 4, FULL, {30, 38, 30, 41}, [](int, int j) { return 4 * j; }},
        {"h = 0: one row from source row 0", 4, 4, 30, 40, 4, 0, FULL, {28, 40, 31, 40}, [](int i, int) { return i; }},
        {"w = 0 centred on x1", 4, 4, 319, 40, 0, 4, FULL, NOTHING, nullptr},
        {"4x2 on 2x1 takes every second pixel", 4, 2, 10, 10, 2, 1, FULL, {9, 10, 10, 10}, [](int i, int) { return 2 * i; }},
        {"12 wide: rows shift by 3, 8 bytes apart", 12, 3, 20, 20, 12, 3, FULL, {14, 19, 25, 21}, [](int i, int j) { return 8 * j + i; }},
        {"8 on 3", 8, 8, 11, 11, 3, 3, FULL, {10, 10, 12, 12}, [](int i, int j) { return 8 * AT[j] + AT[i]; }},
        {"left cut drops the fraction, top cut keeps it", 8, 8, 11, 11, 3, 3, {11, 11, 319, 199}, {11, 11, 12, 12},
         [](int i, int j) { return 8 * AT[j + 1] + 2 + 2 * i; }},
        {"scaled never writes x1 or y1", 4, 4, 50, 60, 100, 100, {40, 50, 60, 70}, {40, 50, 59, 69}, nullptr},
        {"negative width", 4, 4, 50, 50, -10, 8, FULL, NOTHING, nullptr},
        {"negative height", 4, 4, 50, 50, 8, -10, FULL, NOTHING, nullptr},
        {"both -1", 4, 4, 50, 50, -1, -1, FULL, NOTHING, nullptr},
    };
    // clang-format on
    for (size_t k = 0; k < std::size(cases); ++k) {
        const auto &c = cases[k];
        SCOPED_TRACE(c.what);
        clear();
        TestBitmap b(c.bw, c.bh, k % 4);
        *raster_state() = RasterState{c.clip.x0, c.clip.y0, c.clip.x1, c.clip.y1, c.x, c.y, int(k % 2), int(k % 2)};
        c.w == UNSCALED ? sprite_draw(c.x, c.y, b.get()) : sprite_draw_scaled(c.x, c.y, c.w, c.h, b.get());
        EXPECT_EQ(raster_state()->pick_hit * 10 + raster_state()->drawn, int(k % 2) * 11);
        const Box got = written();
        ASSERT_EQ(got, c.box);
        for (int y = got.y0; c.src && y <= got.y1; ++y)
            for (int x = got.x0; x <= got.x1; ++x)
                ASSERT_EQ(px(x, y), c.src(x - got.x0, y - got.y0) % 238) << x << "," << y;
    }
}

// Transparent pixels keep what is under them, unscaled and in 2x2 blocks.
TEST_F(SpriteTest, TransparentPixelsKeepWhatIsUnder) {
    TestBitmap none(8, 8, 0, [](int, int) { return BITMAP_TRANSPARENT; });
    sprite_draw(10, 10, none.get());
    sprite_draw_scaled(50, 50, 40, 30, none.get());
    EXPECT_EQ(written(), NOTHING);
    TestBitmap checker(4, 4, 0, [](int x, int y) { return (x + y) % 2 ? BITMAP_TRANSPARENT : uint8_t{7}; });
    std::memset(screen, 3, sizeof screen);
    sprite_draw(20, 30, checker.get());
    sprite_draw_scaled(100, 100, 8, 8, checker.get());   // 2×2 blocks from (96, 96)
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            EXPECT_TRUE(x >= 4 || y >= 4 || px(20 + x, 30 + y) == ((x + y) % 2 ? 3 : 7));
            EXPECT_EQ(px(96 + x, 96 + y), (x / 2 + y / 2) % 2 ? 3 : 7) << x << "," << y;
        }
}

// Bitmaps claiming a size below one draw nothing rather than stepping
// backwards through memory.
TEST_F(SpriteTest, BitmapsSmallerThanOnePixelDrawNothing) {
    for (auto [w, h] : {std::pair{0, 4}, {4, 0}, {-4, 4}, {4, INT32_MIN}}) {
        TestBitmap bad(w, h);
        sprite_draw(10, 10, bad.get());
        sprite_draw_scaled(50, 50, 8, 8, bad.get());
    }
    EXPECT_EQ(written(), NOTHING);
}

// Any input: writes stay in columns x0..x1-1 and rows y0..y1-1, reads in the bitmap.
TEST(SpriteSafety, RandomSpritesStayInsideClipAndBitmap) {
    static uint8_t buf[SCREEN_SIZE];
    BackBuffer = buf;
    std::memset(buf, BG, sizeof buf);
    Lcg r{777};
    auto position = [&r](int extent) {
        const uint32_t kind = r.next() % 5;
        return kind == 0 ? int(r.next()) : kind == 1 ? r.range(-100000, 100000) : r.range(-80, extent + 80);
    };
    auto size = [&r]() {
        const uint32_t kind = r.next() % 6;
        return kind == 0   ? int(r.next())
               : kind == 1 ? r.range(-50, 0)
               : kind == 2 ? r.range(300, 70000)
                           : r.range(0, 120);
    };
    for (int iter = 0; iter < 20000; ++iter) {
        int w = r.range(1, 40), h = r.range(1, 40);
        if (r.next() % 64 == 0) w = r.range(30000, 70000), h = 1;   // wider than a 16.16 step can hold
        TestBitmap b(w, h, r.next() % 4);
        const int x0 = r.range(0, 319), x1 = r.range(x0, 319), y0 = r.range(0, 199), y1 = r.range(y0, 199);
        set_clip(x0, y0, x1, y1);
        const int x = position(319), y = position(199);
        if (r.next() % 3 == 0) {
            sprite_draw(x, y, b.get());
        } else {
            const int sw = size();
            sprite_draw_scaled(x, y, sw, size(), b.get());
        }
        bool changed;
        ASSERT_EQ(scrub_clip(buf, x0, y0, x1 - 1, y1 - 1, &changed), -1) << "iteration " << iter;
    }
}

// Scaled drawing as plain per-pixel stepping: each row restarts at source
// column c0 with the position at 0 and adds the x step per pixel; rows step
// sy by the y step and address the source by the row shift.
void reference_scaled(uint8_t *buf, const Box &clip, int cx, int cy, int w_in, int h_in, int bw, int bh,
                      const uint8_t *pixels) {
    int64_t w = std::max(w_in, 1), h = std::max(h_in, 1);
    int64_t x = cx - int64_t{w_in} / 2, y = cy - int64_t{h_in} / 2;
    const int64_t x_step = int64_t{bw} * 65536 / w, y_step = int64_t{bh} * 65536 / h;
    int k = 0;
    while ((int64_t{1} << (k + 1)) <= bw) ++k;
    const int64_t c0 = x < clip.x0 ? (clip.x0 - x) * x_step >> 16 : 0;
    for (int64_t r = 0; r < h; ++r) {
        const int64_t sy = r * y_step, row = y + r;
        if (row < clip.y0 || row >= clip.y1) continue;
        const int64_t first = std::max<int64_t>(x, clip.x0);
        int64_t pos = 0;
        for (int64_t col = first; col < x + w && col < clip.x1; ++col, pos += x_step) {
            const uint8_t v = pixels[((sy >> 16) << k) + c0 + (pos >> 16)];
            if (v != BITMAP_TRANSPARENT) buf[row * SCREEN_WIDTH + col] = v;
        }
    }
}

// Against per-pixel stepping, with every row writer the processor runs:
// bitmaps of 1 to 96 columns (up to 64 sampled bytes a row takes the vector
// writers, more the portable path) with transparent holes, from a fraction
// of their size to many times it, under random clip rectangles, drawn over
// each other.
TEST(SpriteScaledSampling, EveryRowWriterMatchesPerPixelStepping) {
    static uint8_t want[SCREEN_SIZE];
    for (int kernel : {SPRITE_ROWS_PORTABLE, SPRITE_ROWS_SHUFFLE, SPRITE_ROWS_PERMUTE}) {
        if (sprite_use_row_kernel(kernel) != kernel) continue;   // not on this processor
        SCOPED_TRACE(sprite_row_kernel_name(kernel));
        BackBuffer = screen;
        clear();
        std::memcpy(want, screen, sizeof want);
        Lcg r{4242};
        for (int iter = 0; iter < 3000; ++iter) {
            const int bw = r.next() % 4 ? 1 << r.range(0, 6) : r.range(1, 96), bh = r.range(1, 40);
            TestBitmap b(bw, bh, r.next() % 4, [&r](int, int) {
                return r.next() % 5 == 0 ? BITMAP_TRANSPARENT : static_cast<uint8_t>(r.range(0, 200));
            });
            const int x0 = r.range(0, 200), y0 = r.range(0, 120);
            const Box clip{x0, y0, r.range(x0, 319), r.range(y0, 199)};
            set_clip(clip.x0, clip.y0, clip.x1, clip.y1);
            const int w = r.range(0, 360), h = r.range(0, 240);
            const int cx = r.range(-100, 420), cy = r.range(-100, 300);
            sprite_draw_scaled(cx, cy, w, h, b.get());
            reference_scaled(want, clip, cx, cy, w, h, bw, bh, bitmap_pixels(b.get()));
            ASSERT_EQ(std::memcmp(screen, want, sizeof want), 0) << "iteration " << iter;
        }
    }
    sprite_use_row_kernel(SPRITE_ROWS_PERMUTE);
}

// A 16×16 disc with a transparent outside and 8×4 stripes, at odd offsets,
// drawn at many sizes and positions, several cut by the window's edges.
TEST_F(SpriteTest, ScaledSceneMatchesImage) {
    TestBitmap face(16, 16, 3, [](int x, int y) {
        const int d = (2 * x - 15) * (2 * x - 15) + (2 * y - 15) * (2 * y - 15);
        return d > 225 ? BITMAP_TRANSPARENT : d > 170 ? uint8_t{23} : static_cast<uint8_t>(96 + (x + y) % 24);
    });
    TestBitmap stripes(8, 4, 1, [](int x, int y) { return static_cast<uint8_t>(24 + 3 * x + y); });
    set_clip(WX0, WY0, WX0 + WW - 1, WY0 + WH - 1);
    std::memset(screen, 240, sizeof screen);
    Lcg r{99};
    for (int i = 0; i < 40; ++i) {
        const int cx = r.range(WX0 - 12, WX0 + WW + 12), cy = r.range(WY0 - 12, WY0 + WH + 12);
        const int w = r.range(0, 48), h = r.range(0, 48);
        sprite_draw_scaled(cx, cy, w, h, i % 3 ? face.get() : stripes.get());
    }
    sprite_draw(WX0 - 5, WY0 + 20, face.get());
    sprite_draw(WX0 + WW - 8, WY0 + WH - 8, face.get());
    check_image("sprite_scaled.pgm");
}

}   // namespace
