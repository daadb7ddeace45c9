// Polygon fillers and the pick test: worked examples, properties over many triangles, a randomized
// clip-safety check, and two larger scenes held against checked-in images.
#include <gtest/gtest.h>

#include <array>
#include <utility>
#include <vector>

#include "raster_test_util.h"

namespace {

using namespace raster_test;

struct Span {
    int row, left, right;
    int rows = 1;   // how many rows down from row
};
struct Clip {
    int x0, y0, x1, y1;
};
constexpr Clip FULL{0, 0, 319, 199};
using Corners = std::vector<ScreenPoint>;
enum Op { FLAT, GOURAUD, PICK };
const std::vector<int> ALL = {FLAT, GOURAUD, PICK}, FILLERS = {FLAT, GOURAUD}, ONLY_FLAT = {FLAT}, ONLY_PICK = {PICK};

int hit() { return raster_state()->pick_hit; }
int drawn() { return raster_state()->drawn; }
void clip_to(const Clip &c) { raster_test::set_clip(c.x0, c.y0, c.x1, c.y1); }
void set_pick(int x, int y) { raster_state()->pick_x = x, raster_state()->pick_y = y; }
void draw(int op, int n, const ScreenPoint *p, const uint8_t *colours, int flat = 7) {
    op == FLAT ? poly_fill_flat(n, p, flat) : op == GOURAUD ? poly_fill_gouraud(n, p, colours) : poly_pick(n, p);
}

// The whole screen is background except exactly the spans, which hold colour.
void expect_only_spans(uint8_t colour, const std::vector<Span> &spans) {
    static uint8_t want[SCREEN_SIZE];
    std::memset(want, BG, sizeof want);
    for (const Span &s : spans)
        for (int r = s.row; r < s.row + s.rows; ++r)
            std::memset(want + r * SCREEN_WIDTH + s.left, colour, s.right - s.left + 1);
    const int i = static_cast<int>(std::mismatch(screen, screen + SCREEN_SIZE, want).first - screen);
    EXPECT_EQ(i, SCREEN_SIZE) << "(" << i % SCREEN_WIDTH << ", " << i / SCREEN_WIDTH << ") is " << int{screen[i]}
                              << " not " << int{want[i]};
}

class PolyTest : public ::testing::Test {
    void SetUp() override {
        BackBuffer = screen, clear(), *raster_state() = RasterState{0, 0, 319, 199, -1000, -1000, 0, 0};
    }
};

// The W100 benchmark triangles: valid on-screen input of mixed winding.
struct Triangle {
    ScreenPoint p[3];
    uint8_t flat, colours[3];
};

std::vector<Triangle> w100() {
    uint32_t s = 1;
    auto rnd = [&s](uint32_t n) { return static_cast<int>(((s = s * 1664525u + 1013904223u) >> 16) % n); };
    std::vector<Triangle> out(100);
    for (Triangle &t : out) {
        const int cx = 32 + rnd(256), cy = 32 + rnd(136);
        for (auto &p : t.p) p = {cx + rnd(63) - 31, cy + rnd(63) - 31};
        t.flat = static_cast<uint8_t>(rnd(256));
        for (auto &c : t.colours) c = static_cast<uint8_t>(48 + rnd(256) % 24);
    }
    return out;
}

// Triangle (0,0) (6,3) (2,6): the left edge steps 21845 (2/6 truncated), so row 3 stays in column 0;
// the lower right edge starts at row 4 from x = 6 with no step added.
TEST_F(PolyTest, FlatFillerWorkedShapes) {
    const Corners tri = {{0, 0}, {6, 3}, {2, 6}};
    const std::vector<Span> tri_spans = {{0, 0, 0}, {1, 0, 2}, {2, 0, 4}, {3, 0, 6}, {4, 1, 6}, {5, 1, 4}, {6, 1, 3}};
    const struct {
        const char *what;
        Clip clip;
        Corners p;
        std::vector<Span> spans;
    } cases[] = {
        {"worked triangle", FULL, tri, tri_spans},
        {"other winding", FULL, {{0, 0}, {2, 6}, {6, 3}}, tri_spans},
        {"starting mid-chain", FULL, {{6, 3}, {2, 6}, {0, 0}}, tri_spans},
        {"starting at the bottom", FULL, {{2, 6}, {0, 0}, {6, 3}}, tri_spans},
        {"horizontal top edge: both chains start on row 1",
         FULL,
         {{2, 1}, {8, 1}, {10, 5}, {0, 5}},
         {{1, 2, 8}, {2, 1, 8}, {3, 1, 9}, {4, 0, 9}, {5, 0, 10}}},
        {"two corners: one pixel per row",
         FULL,
         {{7, 4}, {3, 0}},
         {{0, 3, 3}, {1, 4, 4}, {2, 5, 5}, {3, 6, 6}, {4, 7, 7}}},
        {"span 10.0 .. 12.99 never takes 13", FULL, {{10, 0}, {12, 0}, {13, 100}, {10, 100}}, {{0, 10, 12, 101}}},
        {"clip y0 = 2", {0, 2, 319, 199}, tri, {{2, 0, 4}, {3, 0, 6}, {4, 1, 6}, {5, 1, 4}, {6, 2, 3}}},
        {"clip y1 = 3", {0, 0, 319, 3}, tri, {{0, 0, 0}, {1, 0, 2}, {2, 0, 4}, {3, 0, 6}}},
        {"clip columns 1..4", {1, 0, 4, 199}, tri, {{1, 1, 2}, {2, 1, 4}, {3, 1, 4}, {4, 1, 4}, {5, 1, 4}, {6, 1, 3}}},
        {"edge from 10^7 rows above: 64-bit clip product",
         FULL,
         {{0, -10000000}, {300, 199}, {0, 199}},
         {{0, 0, 299, 200}}},
        {"edge to 10^7 rows below, cut to x 1", FULL, {{0, 0}, {300, 10000000}, {0, 10000000}}, {{0, 0, 0, 200}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        clear();
        clip_to(c.clip);
        poly_fill_flat(static_cast<int>(c.p.size()), c.p.data(), 0x1207);   // the low byte is the colour
        expect_only_spans(7, c.spans);
        EXPECT_EQ(drawn(), 1);
    }
}

// A clip rectangle reaching off the screen is cut to the screen.
TEST(PolySafety, ClipRectangleIsCutToScreen) {
    static uint8_t guarded[SCREEN_SIZE + 2 * 4096];
    std::memset(guarded, BG, sizeof guarded);
    BackBuffer = guarded + 4096;
    *raster_state() = RasterState{-100, -100, 1000, 1000, 0, 0, 0, 0};
    const ScreenPoint big[] = {{-500, -500}, {900, -500}, {900, 900}, {-500, 900}};
    poly_fill_flat(4, big, 1);
    for (int i = 0; i < int(sizeof guarded); ++i)
        ASSERT_EQ(guarded[i], i >= 4096 && i < 4096 + SCREEN_SIZE ? 1 : BG) << i;
}

// Outside the clip rectangle (or an empty one), no corners, a single row in the fillers, or cut down to
// its lowest row by the clip: both flags end cleared and the screen untouched.
TEST_F(PolyTest, NothingToDrawClearsBothFlags) {
    const Clip box{10, 10, 100, 100};
    const ScreenPoint any[] = {{20, 20}, {50, 60}, {20, 60}};
    // clang-format off
    const struct { Clip clip; Corners p; const std::vector<int> &ops; int pick_x, pick_y; } cases[] = {
        {box, {{0, 0}, {50, 9}, {20, 9}}, ALL, 5, 5},  {box, {{101, 20}, {150, 40}, {120, 60}}, ALL, 5, 5},
        {box, {{0, 20}, {9, 40}, {2, 60}}, ALL, 5, 5}, {box, {{20, 101}, {50, 150}, {20, 150}}, ALL, 5, 5},
        {FULL, {{0, 10}, {9, 10}, {4, 10}}, FILLERS, 5, 10}, {{0, 10, 319, 199}, {{0, 0}, {6, 0}, {3, 10}}, FILLERS, 3, 10},
        {{10, 10, 5, 5}, {{-500, -500}, {900, -500}, {900, 900}, {-500, 900}}, FILLERS, 7, 7},
    };
    // clang-format on
    const uint8_t cc[] = {1, 2, 3};
    for (const auto &c : cases)
        for (int op : c.ops)
            for (int n : {static_cast<int>(c.p.size()), 0}) {
                clip_to(c.clip);
                set_pick(c.pick_x, c.pick_y);
                raster_state()->pick_hit = raster_state()->drawn = 1;
                draw(op, n, n ? c.p.data() : any, cc);
                EXPECT_EQ(hit() + drawn(), 0) << "op " << op << " n " << n << " first corner x " << c.p[0].x;
            }
    EXPECT_TRUE(std::all_of(screen, screen + SCREEN_SIZE, [](uint8_t v) { return v == BG; }));
}

// A corner repeated next to itself (a zero-length edge) changes neither pixels nor flags.
TEST_F(PolyTest, RepeatedCornerChangesNothing) {
    static uint8_t want[SCREEN_SIZE];
    for (const Triangle &t : w100())
        for (int op : ALL) {
            auto flags_of = [&](int n, const ScreenPoint *p, const uint8_t *c) {
                set_pick(p[0].x, p[0].y + 2);
                clear();
                draw(op, n, p, c, t.flat);
                return std::pair{hit(), drawn()};
            };
            const auto flags = flags_of(3, t.p, t.colours);
            std::memcpy(want, screen, sizeof want);
            for (int k = 0; k < 3; ++k) {
                ScreenPoint p[4];
                uint8_t c[4];
                for (int i = 0, j = 0; i < 3; ++i)
                    for (int copies = i == k ? 2 : 1; copies > 0; --copies, ++j) {
                        p[j] = t.p[i];
                        c[j] = t.colours[i];
                    }
                ASSERT_EQ(flags_of(4, p, c), flags) << "op " << op << " corner " << k;
                ASSERT_EQ(std::memcmp(screen, want, sizeof want), 0) << "op " << op << " corner " << k;
            }
        }
}

// One colour at every corner fills as the flat filler; a side clip leaves the pixels inside it unchanged.
TEST_F(PolyTest, GouraudMatchesFlatAndKeepsPixelsUnderSideClip) {
    static uint8_t want[SCREEN_SIZE];
    const uint8_t one[] = {100, 100, 100};
    for (const Triangle &t : w100()) {
        const int x0 = std::min(t.p[0].x, t.p[1].x), x1 = std::max(t.p[0].x, t.p[1].x);
        clip_to(FULL);
        clear();
        poly_fill_flat(3, t.p, 100);
        std::memcpy(want, screen, sizeof want);
        clear();
        poly_fill_gouraud(3, t.p, one);
        ASSERT_EQ(std::memcmp(screen, want, sizeof want), 0) << "one colour";
        clear();
        poly_fill_gouraud(3, t.p, t.colours);
        for (int i = 0; i < SCREEN_SIZE; ++i) want[i] = i % SCREEN_WIDTH < x0 || i % SCREEN_WIDTH > x1 ? BG : screen[i];
        set_clip(x0, 0, x1, 199);
        clear();
        poly_fill_gouraud(3, t.p, t.colours);
        ASSERT_EQ(std::memcmp(screen, want, sizeof want), 0) << "clip columns " << x0 << ".." << x1;
    }
}

// Colours 24..27 over 8 columns: column x holds 96 + floor(1.5x) quarters, dithered by 0 3 0 3 .. on
// even rows and 2 1 2 1 .. on odd rows; so k + 0.5 rounds up in odd columns of even rows, even of odd.
TEST_F(PolyTest, GouraudSpansAndDither) {
    const ScreenPoint span[] = {{0, 0}, {8, 0}, {8, 1}, {0, 1}};
    const uint8_t span_colours[] = {24, 27, 27, 24};
    poly_fill_gouraud(4, span, span_colours);
    const int want[2][10] = {{24, 25, 24, 25, 25, 26, 26, 27, 27, BG}, {24, 24, 25, 25, 26, 26, 26, 26, 27, BG}};
    for (int x = 0; x <= 9; ++x) EXPECT_EQ(px(x, 0) * 1000 + px(x, 1), want[0][x] * 1000 + want[1][x]) << x;
    const int k = 50;
    const uint8_t cc[] = {k, k, k + 1, k + 1};
    const ScreenPoint q[] = {{10, 0}, {17, 0}, {17, 4}, {10, 4}}, lower[] = {{30, 1}, {37, 1}, {37, 5}, {30, 5}};
    poly_fill_gouraud(4, q, cc);
    poly_fill_gouraud(4, lower, cc);
    for (int x = 10; x <= 17; ++x) {
        const int quarters[] = {k, k, x % 2 ? k + 1 : k, k + 1, k + 1};
        for (int r = 0; r <= 4; ++r) EXPECT_EQ(px(x, r), quarters[r]) << x << "," << r;
        EXPECT_EQ(px(x + 20, 3), x % 2 ? k : k + 1) << x + 20;
    }
}

// Spans of every width: the wide writer puts the same bytes as the portable one, and only in the span.
TEST(GouraudWriters, WideAndPortableAgree) {
    if (!poly_use_wide_spans(1)) GTEST_SKIP() << "this processor has no wide span writer";
    static uint8_t portable[SCREEN_SIZE], wide[SCREEN_SIZE];
    *raster_state() = RasterState{0, 0, 319, 199, 0, 0, 0, 0};
    Lcg r{5};
    for (int width = 1; width <= 320; ++width)
        for (int k = 0; k < 8; ++k) {
            const int left = r.range(0, 320 - width), row = r.range(0, 198), right = left + width - 1;
            const ScreenPoint q[] = {{left, row}, {right, row}, {right, row + 1}, {left, row + 1}};
            const uint8_t cc[] = {uint8_t(r.next()), uint8_t(r.next()), uint8_t(r.next()), uint8_t(r.next())};
            for (auto [buf, on] : {std::pair{portable, 0}, std::pair{wide, 1}}) {
                BackBuffer = buf;
                std::memset(buf, BG, SCREEN_SIZE);
                poly_use_wide_spans(on);
                poly_fill_gouraud(4, q, cc);
            }
            ASSERT_EQ(std::memcmp(portable, wide, SCREEN_SIZE), 0) << "width " << width;
            bool changed;
            ASSERT_EQ(scrub_clip(wide, left, row, right, row + 1, &changed), -1) << "width " << width;
        }
    poly_use_wide_spans(1);
}

// Fillers test the span before the side cut, on clip rows only. poly_pick hits single rows, reports
// drawn only when an edge crosses the clip rectangle, and steps edges by whole pixels (see steep).
TEST_F(PolyTest, PickHits) {
    const Corners tri = {{0, 0}, {6, 3}, {2, 6}}, steep = {{0, 0}, {3, 10}, {0, 10}};
    const Corners big = {{0, 0}, {200, 0}, {200, 150}, {0, 150}}, crossing = {{0, 0}, {55, 0}, {55, 150}, {0, 150}};
    const Clip box{50, 50, 60, 60};
    // clang-format off
    const struct { Corners p; const std::vector<int> &ops; Clip clip; int drawn; std::vector<std::array<int, 3>> picks; } cases[] = {
        {tri, FILLERS, FULL, 1, {{1, 5, 1}, {4, 5, 1}, {0, 5, 0}, {5, 5, 0}, {0, 0, 1}, {1, 0, 0}, {3, 7, 0}}},
        {tri, ONLY_FLAT, {0, 2, 319, 199}, 1, {{0, 1, 0}}},
        {{{0, 0}, {120, 10}, {0, 20}}, ONLY_FLAT, {100, 0, 319, 199}, 1, {{3, 2, 1}}},
        {{{20, 10}, {30, 20}, {10, 20}}, ONLY_PICK, FULL, 1,
         {{20, 9, 0}, {20, 10, 1}, {19, 10, 0}, {20, 15, 1}, {15, 15, 1}, {25, 15, 1}, {14, 15, 0}, {10, 20, 1}, {30, 20, 1}, {20, 21, 0}}},
        {{{0, 10}, {9, 10}, {4, 10}}, ONLY_PICK, FULL, 1,
         {{5, 10, 1}, {0, 10, 1}, {9, 10, 1}, {-1, 10, 0}, {10, 10, 0}, {5, 9, 0}, {5, 11, 0}}},
        {{{0, 0}, {6, 0}, {3, 10}}, ONLY_PICK, {0, 10, 319, 199}, 1, {{6, 10, 1}}},
        {steep, ONLY_FLAT, FULL, 1, {{2, 9, 1}}},
        {steep, ONLY_PICK, FULL, 1, {{2, 9, 0}, {0, 5, 1}}},
        {big, ONLY_PICK, box, 0, {{55, 55, 1}}},
        {big, ONLY_FLAT, box, 1, {{55, 55, 1}}},
        {crossing, ONLY_PICK, box, 1, {{55, 55, 1}}},
    };
    // clang-format on
    const uint8_t cc[] = {1, 2, 3, 4};
    for (const auto &c : cases)
        for (int op : c.ops)
            for (auto [x, y, want] : c.picks) {
                clip_to(c.clip);
                set_pick(x, y);
                draw(op, static_cast<int>(c.p.size()), c.p.data(), cc);
                EXPECT_EQ(hit(), want) << "op " << op << " at " << x << "," << y;
                EXPECT_EQ(drawn(), c.drawn) << "op " << op << " at " << x << "," << y;
            }
}

// Any input: nothing outside the clip rectangle is written, poly_pick writes nothing, and the flat
// filler writes exactly when it reports drawn.
TEST(PolySafety, RandomPolygonsStayInsideClipRectangle) {
    static uint8_t buf[SCREEN_SIZE];
    BackBuffer = buf;
    std::memset(buf, BG, sizeof buf);
    Lcg r{12345};
    auto coord = [&r](int extent) {   // anything, beyond the 16.16 range, wide, or on and around the screen
        const uint32_t kind = r.next() % 6;
        return kind == 0   ? int(r.next())
               : kind == 1 ? r.range(-40000, 40000)
               : kind == 2 ? r.range(-2000, 2000)
                           : r.range(-20, extent + 20);
    };
    for (int iter = 0; iter < 30000; ++iter) {
        const int x0 = r.range(0, 319), x1 = r.range(x0, 319), y0 = r.range(0, 199), y1 = r.range(y0, 199);
        *raster_state() = RasterState{x0, y0, x1, y1, r.range(-10, 330), r.range(-10, 210), 0, 0};
        const int n = r.range(0, 8);
        ScreenPoint p[8];
        uint8_t c[8];
        for (int i = 0; i < 8; ++i) {
            p[i] = {coord(319), coord(199)};
            c[i] = static_cast<uint8_t>(r.next());
        }
        const int op = r.range(0, 2);
        poly_use_wide_spans(iter & 1);
        draw(op, n, p, c, 0x11);
        SCOPED_TRACE(iter);
        bool changed;
        ASSERT_EQ(scrub_clip(buf, x0, y0, x1, y1, &changed), -1);
        ASSERT_TRUE(op != PICK || !changed);
        ASSERT_TRUE(op != FLAT || changed == (drawn() == 1));
        ASSERT_TRUE((hit() | drawn()) <= 1);
    }
    poly_use_wide_spans(1);
}

// A triangle closed on its first corner again, as the pipeline lists one that needs no clipping, fills,
// picks and reports exactly as the bare triangle: the face drawer hands the fillers the three corners.
TEST(PolySafety, ClosingCornerChangesNothing) {
    static uint8_t bare[SCREEN_SIZE], closed[SCREEN_SIZE];
    Lcg r{777};
    for (int iter = 0; iter < 20000; ++iter) {
        const int x0 = r.range(0, 319), x1 = r.range(x0, 319), y0 = r.range(0, 199), y1 = r.range(y0, 199);
        const RasterState clip{x0, y0, x1, y1, r.range(-10, 330), r.range(-10, 210), 0, 0};
        const int spread = iter % 4 == 0 ? 3000 : 60;
        const int cx = r.range(-40, 360), cy = r.range(-40, 240);
        ScreenPoint p[4];
        for (int k = 0; k < 3; ++k) p[k] = {cx + r.range(-spread, spread), cy + r.range(-spread, spread)};
        if (iter % 8 == 1) p[1].y = p[0].y;   // a flat top or bottom edge
        p[3] = p[0];
        const uint8_t c[4] = {uint8_t(r.next()), uint8_t(r.next()), uint8_t(r.next()), 0};
        const uint8_t cc[4] = {c[0], c[1], c[2], c[0]};
        const int op = iter % 3;
        int flags[2][2];
        for (int closing = 0; closing < 2; ++closing) {
            uint8_t *buf = closing ? closed : bare;
            BackBuffer = buf;
            std::memset(buf, BG, SCREEN_SIZE);
            *raster_state() = clip;
            draw(op, closing ? 4 : 3, p, closing ? cc : c, c[0]);
            flags[closing][0] = hit();
            flags[closing][1] = drawn();
        }
        SCOPED_TRACE(iter);
        ASSERT_EQ(std::memcmp(bare, closed, SCREEN_SIZE), 0) << "op " << op;
        ASSERT_EQ(flags[0][0], flags[1][0]) << "op " << op;
        ASSERT_EQ(flags[0][1], flags[1][1]) << "op " << op;
    }
}

// Convex triangles, parallelograms and hexagons around the image window, many crossing its edges.
struct Shape {
    int n;
    ScreenPoint p[6];
    uint8_t c[6], flat;
};

std::vector<Shape> scene() {
    Lcg r{2024};
    std::vector<Shape> out(60);
    for (size_t i = 0; i < out.size(); ++i) {
        Shape &s = out[i];
        const int cx = r.range(WX0 - 10, WX0 + WW + 10), cy = r.range(WY0 - 10, WY0 + WH + 10);
        const int ramp = r.range(0, 9) * 24;
        s.n = i % 3 == 0 ? 3 : i % 3 == 1 ? 4 : 6;
        if (i % 3 == 0) {
            for (int k = 0; k < 3; ++k) s.p[k] = {cx + r.range(-25, 25), cy + r.range(-25, 25)};
        } else if (i % 3 == 1) {
            const int ux = r.range(-20, 20), uy = r.range(-20, 20), vx = r.range(-20, 20), vy = r.range(-20, 20);
            s = Shape{s.n, {{cx, cy}, {cx + ux, cy + uy}, {cx + ux + vx, cy + uy + vy}, {cx + vx, cy + vy}}, {}, 0};
        } else {
            const int a = r.range(2, 20), b = r.range(2, 20), e = r.range(0, a);
            const ScreenPoint hex[] = {{cx - a, cy}, {cx - e, cy - b}, {cx + e, cy - b},
                                       {cx + a, cy}, {cx + e, cy + b}, {cx - e, cy + b}};
            const bool flip = r.next() & 1;
            for (int k = 0; k < 6; ++k) s.p[k] = hex[flip ? 5 - k : k];
        }
        for (int k = 0; k < s.n; ++k) s.c[k] = static_cast<uint8_t>(ramp + r.range(0, 23));
        s.flat = static_cast<uint8_t>(r.range(0, 239));
    }
    return out;
}

// The flat scene, and the gouraud scene from both span writers.
TEST_F(PolyTest, ScenesMatchImages) {
    set_clip(WX0, WY0, WX0 + WW - 1, WY0 + WH - 1);
    for (int pass : {0, 1, 2}) {
        if (pass > 0 && poly_use_wide_spans(pass - 1) != pass - 1) continue;
        SCOPED_TRACE(pass == 0 ? "flat" : pass == 1 ? "portable gouraud writer" : "wide gouraud writer");
        std::memset(screen, 240, sizeof screen);
        for (const Shape &s : scene()) draw(pass ? GOURAUD : FLAT, s.n, s.p, s.c, s.flat);
        check_image(pass ? "poly_gouraud.pgm" : "poly_flat.pgm");
    }
    poly_use_wide_spans(1);
}

}   // namespace
