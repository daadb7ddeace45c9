// Bitmap sprites: placement, clipping (never column x1 or row y1),
// transparency, the 16.16 sampling of scaled drawing with its row shift, and
// a randomized check that nothing outside the clip rectangle is written and
// nothing outside the bitmap is read (bitmaps are allocated to the byte, so
// the sanitizer build catches a stray read).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/video.h"
#include "render/poly.h"
#include "render/sprite.h"

namespace {

constexpr uint8_t BG = 0xEE;
uint8_t screen[SCREEN_SIZE];

// A bitmap resource in a block of exactly its size, optionally at an odd
// offset as resources in the cache pool are.
class TestBitmap {
  public:
    TestBitmap(int32_t w, int32_t h, const std::function<uint8_t(int, int)> &pixel, size_t offset = 0)
        : data_(new uint8_t[offset + BITMAP_HEADER_SIZE + size_t(std::max(w, 0)) * std::max(h, 0)]),
          offset_(offset) {
        uint8_t *p = data_.get() + offset;
        for (int i = 0; i < 4; ++i) {
            p[i] = static_cast<uint8_t>(static_cast<uint32_t>(w) >> (8 * i));
            p[4 + i] = static_cast<uint8_t>(static_cast<uint32_t>(h) >> (8 * i));
        }
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) p[BITMAP_HEADER_SIZE + y * w + x] = pixel(x, y);
    }
    const Bitmap *get() const { return reinterpret_cast<const Bitmap *>(data_.get() + offset_); }

  private:
    std::unique_ptr<uint8_t[]> data_;
    size_t offset_;
};

void set_clip(int x0, int y0, int x1, int y1) {
    RasterState *s = raster_state();
    s->x0 = x0;
    s->y0 = y0;
    s->x1 = x1;
    s->y1 = y1;
}
uint8_t px(int x, int y) { return screen[y * SCREEN_WIDTH + x]; }
void clear() { std::memset(screen, BG, sizeof screen); }

// Bounding box of the pixels that are not background.
struct Box {
    int x0, y0, x1, y1;
    bool operator==(const Box &) const = default;
};
std::ostream &operator<<(std::ostream &o, const Box &b) {
    return o << "(" << b.x0 << ", " << b.y0 << ")-(" << b.x1 << ", " << b.y1 << ")";
}
const Box NOTHING{SCREEN_WIDTH, SCREEN_HEIGHT, -1, -1};

Box written() {
    Box b = NOTHING;
    for (int i = 0; i < SCREEN_SIZE; ++i)
        if (screen[i] != BG) {
            const int x = i % SCREEN_WIDTH, y = i / SCREEN_WIDTH;
            b = {std::min(b.x0, x), std::min(b.y0, y), std::max(b.x1, x), std::max(b.y1, y)};
        }
    return b;
}

// Pixel value = column + 16 × row (never 255, the transparent index): a
// screen pixel names its source pixel.
uint8_t coords(int x, int y) { return static_cast<uint8_t>((x + 16 * y) % 255); }

class SpriteTest : public ::testing::Test {
  protected:
    void SetUp() override {
        BackBuffer = screen;
        clear();
        set_clip(0, 0, 319, 199);
    }
};

// ---------------------------------------------------------------------------
// Transparency and the result flags.

TEST_F(SpriteTest, TransparentPixelsKeepWhatIsUnder) {
    TestBitmap clear_bitmap(8, 8, [](int, int) { return BITMAP_TRANSPARENT; });
    sprite_draw(10, 10, clear_bitmap.get());
    sprite_draw_scaled(50, 50, 40, 30, clear_bitmap.get());
    EXPECT_EQ(written(), NOTHING);

    TestBitmap checker(4, 4, [](int x, int y) { return (x + y) % 2 ? BITMAP_TRANSPARENT : 7; });
    std::memset(screen, 3, sizeof screen);
    sprite_draw(20, 30, checker.get());
    sprite_draw_scaled(100, 100, 8, 8, checker.get());   // 2×2 blocks from (96, 96)
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            EXPECT_TRUE(x >= 4 || y >= 4 || px(20 + x, 30 + y) == ((x + y) % 2 ? 3 : 7));
            EXPECT_EQ(px(96 + x, 96 + y), (x / 2 + y / 2) % 2 ? 3 : 7) << x << "," << y;
        }
}

TEST_F(SpriteTest, SpritesLeavePickAndDrawnFlags) {
    TestBitmap b(4, 4, coords);
    for (int flag : {0, 1}) {
        RasterState *s = raster_state();
        s->pick_hit = s->drawn = flag;
        s->pick_x = s->pick_y = 21;
        sprite_draw(20, 20, b.get());
        sprite_draw_scaled(20, 20, 9, 9, b.get());
        sprite_draw(400, 20, b.get());
        EXPECT_EQ(s->pick_hit, flag);
        EXPECT_EQ(s->drawn, flag);
    }
}

// ---------------------------------------------------------------------------
// Unscaled placement and clipping.

TEST_F(SpriteTest, DrawCopiesAtTopLeftAndCutsBeforeX1) {
    TestBitmap b(10, 10, coords);
    sprite_draw(40, 60, b.get());
    EXPECT_EQ(written(), (Box{40, 60, 49, 69}));
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) EXPECT_EQ(px(40 + x, 60 + y), coords(x, y));
    clear();
    sprite_draw(315, 50, b.get());
    EXPECT_EQ(written(), (Box{315, 50, 318, 59}));
    EXPECT_EQ(px(318, 59), coords(3, 9));
}

TEST_F(SpriteTest, DrawAtX1OrY1WritesNothing) {
    TestBitmap b(10, 10, coords);
    sprite_draw(319, 50, b.get());
    sprite_draw(50, 199, b.get());
    set_clip(30, 30, 100, 80);
    sprite_draw(100, 50, b.get());
    sprite_draw(50, 80, b.get());
    EXPECT_EQ(written(), NOTHING);
}

TEST_F(SpriteTest, DrawCutOnAllSidesTakesTheCutRowsAndColumns) {
    TestBitmap b(10, 10, coords);
    sprite_draw(-3, -3, b.get());
    EXPECT_EQ(written(), (Box{0, 0, 6, 6}));
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 7; ++x) EXPECT_EQ(px(x, y), coords(x + 3, y + 3));
    clear();
    TestBitmap big(16, 16, coords);
    set_clip(20, 30, 27, 35);
    sprite_draw(15, 25, big.get());
    EXPECT_EQ(written(), (Box{20, 30, 26, 34}));
    EXPECT_EQ(px(20, 30), coords(5, 5));
    EXPECT_EQ(px(26, 34), coords(11, 9));
}

TEST_F(SpriteTest, BitmapAtOddOffsetDrawsTheSame) {
    TestBitmap aligned(6, 5, coords), odd(6, 5, coords, 3);
    sprite_draw(10, 10, aligned.get());
    sprite_draw_scaled(50, 50, 13, 9, aligned.get());
    std::vector<uint8_t> want(screen, screen + SCREEN_SIZE);
    clear();
    sprite_draw(10, 10, odd.get());
    sprite_draw_scaled(50, 50, 13, 9, odd.get());
    EXPECT_EQ(std::memcmp(screen, want.data(), SCREEN_SIZE), 0);
}

// ---------------------------------------------------------------------------
// Scaled placement and sampling.

TEST_F(SpriteTest, ScaledDoubleSizeMakesTwoByTwoBlocks) {
    TestBitmap b(16, 16, coords);
    sprite_draw_scaled(50, 60, 32, 32, b.get());
    EXPECT_EQ(written(), (Box{34, 44, 65, 75}));
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) ASSERT_EQ(px(34 + x, 44 + y), coords(x / 2, y / 2)) << x << "," << y;
}

TEST_F(SpriteTest, ScaledOddSizeIsSymmetricEvenReachesLeft) {
    TestBitmap b(4, 4, coords);
    sprite_draw_scaled(10, 20, 5, 5, b.get());
    EXPECT_EQ(written(), (Box{8, 18, 12, 22}));
    clear();
    sprite_draw_scaled(10, 20, 4, 4, b.get());
    EXPECT_EQ(written(), (Box{8, 18, 11, 21}));
}

TEST_F(SpriteTest, ScaledZeroSizeDrawsOneLineFromSourceZero) {
    TestBitmap b(4, 4, coords);
    sprite_draw_scaled(30, 40, 0, 4, b.get());
    EXPECT_EQ(written(), (Box{30, 38, 30, 41}));
    for (int y = 0; y < 4; ++y) EXPECT_EQ(px(30, 38 + y), coords(0, y));
    clear();
    sprite_draw_scaled(30, 40, 4, 0, b.get());
    EXPECT_EQ(written(), (Box{28, 40, 31, 40}));
    for (int x = 0; x < 4; ++x) EXPECT_EQ(px(28 + x, 40), coords(x, 0));
    clear();
    sprite_draw_scaled(319, 40, 0, 4, b.get());   // centred on x1: no column left
    EXPECT_EQ(written(), NOTHING);
}

TEST_F(SpriteTest, ScaledHalfSizeSamplesEverySecondPixel) {
    TestBitmap b(4, 2, coords);
    sprite_draw_scaled(10, 10, 2, 1, b.get());
    EXPECT_EQ(written(), (Box{9, 10, 10, 10}));
    EXPECT_EQ(px(9, 10), coords(0, 0));
    EXPECT_EQ(px(10, 10), coords(2, 0));
}

// Width 12 is not a power of two: rows are addressed by a shift of 3, so row
// r starts at byte 8r and the picture shears, but every read stays inside the
// 36 pixels.
TEST_F(SpriteTest, ScaledNonPowerOfTwoWidthShears) {
    TestBitmap b(12, 3, [](int x, int y) { return static_cast<uint8_t>(y * 12 + x); });
    sprite_draw_scaled(20, 20, 12, 3, b.get());
    EXPECT_EQ(written(), (Box{14, 19, 25, 21}));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 12; ++x) EXPECT_EQ(px(14 + x, 19 + y), 8 * y + x) << x << "," << y;
}

// Eight source columns on three screen columns step 8/3 (174762 in 16.16):
// columns 0, 2, 5. Cutting the first screen column off starts the row at
// source column 2 with the fraction dropped, so the next pixel takes 2 + 2 = 4.
// Vertically the top cut keeps the exact position, so rows stay 2 and 5.
TEST_F(SpriteTest, ScaledCutsSampleLeftByWholeColumnTopExactly) {
    TestBitmap b(8, 8, [](int x, int y) { return static_cast<uint8_t>(x + 8 * y); });
    sprite_draw_scaled(11, 11, 3, 3, b.get());   // top-left (10, 10)
    const int at[] = {0, 2, 5};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(px(10 + x, 10 + y), 8 * at[y] + at[x]);
    clear();
    set_clip(11, 11, 319, 199);
    sprite_draw_scaled(11, 11, 3, 3, b.get());
    EXPECT_EQ(written(), (Box{11, 11, 12, 12}));
    for (int y = 0; y < 2; ++y) {
        EXPECT_EQ(px(11, 11 + y), 8 * at[y + 1] + 2);
        EXPECT_EQ(px(12, 11 + y), 8 * at[y + 1] + 4);
    }
}

TEST_F(SpriteTest, ScaledNeverWritesX1OrY1) {
    TestBitmap b(4, 4, [](int, int) { return uint8_t{9}; });
    set_clip(40, 50, 60, 70);
    sprite_draw_scaled(50, 60, 100, 100, b.get());
    EXPECT_EQ(written(), (Box{40, 50, 59, 69}));
}

// The caller never passes negative sizes, nor bitmaps claiming a size below
// one; they draw nothing rather than stepping backwards through the bitmap.
TEST_F(SpriteTest, NegativeSizesDrawNothing) {
    TestBitmap b(4, 4, coords);
    sprite_draw_scaled(50, 50, -10, 8, b.get());
    sprite_draw_scaled(50, 50, 8, -10, b.get());
    sprite_draw_scaled(50, 50, -1, -1, b.get());
    for (auto [w, h] : {std::pair{0, 4}, {4, 0}, {-4, 4}, {4, INT32_MIN}}) {
        TestBitmap bad(w, h, coords);
        sprite_draw(10, 10, bad.get());
        sprite_draw_scaled(50, 50, 8, 8, bad.get());
    }
    EXPECT_EQ(written(), NOTHING);
}

// ---------------------------------------------------------------------------
// Any input: writes stay in columns x0..x1-1 and rows y0..y1-1, reads in the
// bitmap.

struct Lcg {
    uint64_t s;
    uint32_t next() {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(s >> 32);
    }
    int range(int lo, int hi) { return lo + static_cast<int>(next() % uint32_t(hi - lo + 1)); }
    int position(int extent) {
        const uint32_t kind = next() % 5;
        return kind == 0 ? static_cast<int>(next()) : kind == 1 ? range(-100000, 100000) : range(-80, extent + 80);
    }
    int size() {
        const uint32_t kind = next() % 6;
        return kind == 0 ? static_cast<int>(next()) : kind == 1 ? range(-50, 0) : kind == 2 ? range(300, 70000) : range(0, 120);
    }
};

TEST(SpriteSafety, RandomSpritesStayInsideClipAndBitmap) {
    static uint8_t buf[SCREEN_SIZE], blank[SCREEN_SIZE];
    BackBuffer = buf;
    std::memset(buf, BG, sizeof buf);
    std::memset(blank, BG, sizeof blank);
    Lcg r{777};
    for (int iter = 0; iter < 20000; ++iter) {
        int w = r.range(1, 40), h = r.range(1, 40);
        if (r.next() % 64 == 0) {   // wider than a 16.16 step can hold
            w = r.range(30000, 70000);
            h = 1;
        }
        TestBitmap b(w, h, [](int x, int y) { return static_cast<uint8_t>((x * 7 + y * 3) % 200); },
                     r.next() % 4);
        const int x0 = r.range(0, 319), x1 = r.range(x0, 319);
        const int y0 = r.range(0, 199), y1 = r.range(y0, 199);
        set_clip(x0, y0, x1, y1);
        const int x = r.position(319), y = r.position(199);
        if (r.next() % 3 == 0)
            sprite_draw(x, y, b.get());
        else
            sprite_draw_scaled(x, y, r.size(), r.size(), b.get());

        SCOPED_TRACE(iter);
        ASSERT_EQ(std::memcmp(buf, blank, size_t(y0) * 320), 0);
        ASSERT_EQ(std::memcmp(buf + y1 * 320, blank, size_t(200 - y1) * 320), 0);
        for (int row = y0; row < y1; ++row) {
            uint8_t *line = buf + row * 320;
            ASSERT_EQ(std::memcmp(line, blank, size_t(x0)), 0);
            ASSERT_EQ(std::memcmp(line + x1, blank, size_t(320 - x1)), 0);
            std::memset(line + x0, BG, size_t(x1 - x0));
        }
    }
}

// ---------------------------------------------------------------------------
// A scene of scaled sprites against a checked-in image (binary PGM of a 96×64
// window). Set POLYDRIVE_UPDATE_IMAGES=1 to rewrite it after a deliberate
// change.

TEST_F(SpriteTest, ScaledSceneMatchesImage) {
    constexpr int WX0 = 16, WY0 = 12, WW = 96, WH = 64;
    // A 16×16 disc with a transparent outside, and 8×4 stripes, drawn at many
    // sizes and positions, several cut by the window's edges.
    TestBitmap face(16, 16, [](int x, int y) {
        const int d = (2 * x - 15) * (2 * x - 15) + (2 * y - 15) * (2 * y - 15);
        return d > 225 ? BITMAP_TRANSPARENT : d > 170 ? uint8_t{23} : static_cast<uint8_t>(96 + (x + y) % 24);
    });
    TestBitmap stripes(8, 4, [](int x, int y) { return static_cast<uint8_t>(24 + 3 * x + y); });
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

    std::vector<uint8_t> got;
    for (int y = WY0; y < WY0 + WH; ++y) got.insert(got.end(), screen + y * 320 + WX0, screen + y * 320 + WX0 + WW);
    const std::string path = std::string(POLYDRIVE_SOURCE_DIR) + "/tests/data/raster/sprite_scaled.pgm";
    const std::string header = "P5\n" + std::to_string(WW) + " " + std::to_string(WH) + "\n255\n";
    const char *update = std::getenv("POLYDRIVE_UPDATE_IMAGES");
    if (update && *update == '1') {
        FILE *f = std::fopen(path.c_str(), "wb");
        std::fputs(header.c_str(), f);
        std::fwrite(got.data(), 1, got.size(), f);
        std::fclose(f);
    }
    std::vector<uint8_t> want(header.size() + got.size() + 1);
    FILE *f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr) << path;
    want.resize(std::fread(want.data(), 1, want.size(), f));
    std::fclose(f);
    ASSERT_EQ(want.size(), header.size() + got.size()) << path;
    ASSERT_EQ(std::string(want.begin(), want.begin() + header.size()), header);
    for (size_t i = 0; i < got.size(); ++i)
        ASSERT_EQ(got[i], want[header.size() + i]) << "pixel (" << WX0 + i % WW << ", " << WY0 + i / WW << ")";
}

}  // namespace
