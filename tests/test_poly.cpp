// Polygon fillers and the pick test: worked examples small enough to follow
// by hand, properties over many triangles, a randomized clip-safety check,
// and two larger scenes held against checked-in images.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/video.h"
#include "render/poly.h"

namespace {

constexpr uint8_t BG = 0xEE;   // background; never a colour the tests draw
uint8_t screen[SCREEN_SIZE];

struct Span {
    int row, left, right;
};

void set_clip(int x0, int y0, int x1, int y1) {
    RasterState *s = raster_state();
    *s = RasterState{x0, y0, x1, y1, s->pick_x, s->pick_y, s->pick_hit, s->drawn};
}
void set_pick(int x, int y) {
    raster_state()->pick_x = x;
    raster_state()->pick_y = y;
}
void set_flags() { raster_state()->pick_hit = raster_state()->drawn = 1; }
int hit() { return raster_state()->pick_hit; }
int drawn() { return raster_state()->drawn; }
uint8_t px(int x, int y) { return screen[y * SCREEN_WIDTH + x]; }
void clear() { std::memset(screen, BG, sizeof screen); }
bool untouched() {
    for (uint8_t v : screen)
        if (v != BG) return false;
    return true;
}

// The whole screen is background except exactly the spans, which hold colour.
void expect_only_spans(uint8_t colour, const std::vector<Span> &spans) {
    static uint8_t want[SCREEN_SIZE];
    std::memset(want, BG, sizeof want);
    for (const Span &s : spans) std::memset(want + s.row * SCREEN_WIDTH + s.left, colour, s.right - s.left + 1);
    for (int i = 0, errors = 0; i < SCREEN_SIZE && errors < 10; ++i)
        if (screen[i] != want[i]) {
            ADD_FAILURE() << "pixel (" << i % SCREEN_WIDTH << ", " << i / SCREEN_WIDTH << ") is "
                          << int{screen[i]} << ", expected " << int{want[i]};
            ++errors;
        }
}

std::vector<Span> rows(int first, int last, int left, int right) {
    std::vector<Span> out;
    for (int r = first; r <= last; ++r) out.push_back({r, left, right});
    return out;
}

class PolyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        BackBuffer = screen;
        clear();
        *raster_state() = RasterState{0, 0, 319, 199, -1000, -1000, 0, 0};
    }
};

struct Lcg {
    uint64_t s;
    uint32_t next() {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(s >> 32);
    }
    int range(int lo, int hi) { return lo + static_cast<int>(next() % uint32_t(hi - lo + 1)); }
};

// The W100 benchmark triangles: valid on-screen input of mixed winding.
struct Triangle {
    ScreenPoint p[3];
    uint8_t flat, colours[3];
};

std::vector<Triangle> w100() {
    uint32_t s = 1;
    auto rnd = [&s](uint32_t n) {
        s = s * 1664525u + 1013904223u;
        return static_cast<int>((s >> 16) % n);
    };
    std::vector<Triangle> out(100);
    for (Triangle &t : out) {
        const int cx = 32 + rnd(256), cy = 32 + rnd(136);
        for (auto &p : t.p) p = {cx + rnd(63) - 31, cy + rnd(63) - 31};
        t.flat = static_cast<uint8_t>(rnd(256));
        for (auto &c : t.colours) c = static_cast<uint8_t>(48 + rnd(256) % 24);
    }
    return out;
}

// ---------------------------------------------------------------------------
// Worked examples of the flat filler.

// Triangle (0,0) (6,3) (2,6): the long left edge steps 2/6 px per row
// (21845 in 16.16, so row 3 stands at 0.99998 and stays in column 0); the
// lower right edge is taken at row 4 from its top x = 6 with no step added,
// then steps -87381 (-4/3 truncated).
const std::vector<Span> SMALL_TRIANGLE = {{0, 0, 0}, {1, 0, 2}, {2, 0, 4}, {3, 0, 6},
                                          {4, 1, 6}, {5, 1, 4}, {6, 1, 3}};

TEST_F(PolyTest, FlatFillsWorkedTriangleInAnyWindingAndStart) {
    const ScreenPoint orders[][3] = {{{0, 0}, {6, 3}, {2, 6}}, {{0, 0}, {2, 6}, {6, 3}},
                                     {{6, 3}, {2, 6}, {0, 0}}, {{2, 6}, {0, 0}, {6, 3}}};
    for (const auto &t : orders) {
        clear();
        poly_fill_flat(3, t, 0x1207);   // the low byte is the colour
        expect_only_spans(7, SMALL_TRIANGLE);
        EXPECT_EQ(drawn(), 1);
    }
}

// A horizontal top edge gives nothing: the forward chain skips it and both
// chains start on row 1. Left edge steps -0.5, right edge +0.5 per row.
TEST_F(PolyTest, HorizontalTopEdgeStartsBothChainsOnTopRow) {
    const ScreenPoint q[] = {{2, 1}, {8, 1}, {10, 5}, {0, 5}};
    poly_fill_flat(4, q, 9);
    expect_only_spans(9, {{1, 2, 8}, {2, 1, 8}, {3, 1, 9}, {4, 0, 9}, {5, 0, 10}});
}

// Both chains take the same edge: one pixel per row, end rows included.
TEST_F(PolyTest, TwoCornerPolygonFillsOnePixelPerRow) {
    const ScreenPoint line[] = {{7, 4}, {3, 0}};
    poly_fill_flat(2, line, 5);
    expect_only_spans(5, {{0, 3, 3}, {1, 4, 4}, {2, 5, 5}, {3, 6, 6}, {4, 7, 7}});
}

// The right edge runs from x = 12 to 13 over 100 rows: its step truncates
// to 655/65536, so x reaches only 12.994 on the last row, and the span
// 10.0 .. 12.99 covers columns 10, 11 and 12 but never 13.
TEST_F(PolyTest, SpanEndsAreFloorOfSixteenDotSixteen) {
    const ScreenPoint q[] = {{10, 0}, {12, 0}, {13, 100}, {10, 100}};
    poly_fill_flat(4, q, 3);
    expect_only_spans(3, rows(0, 100, 10, 12));
}

// ---------------------------------------------------------------------------
// Clipping.

TEST_F(PolyTest, ClipCutsEdgesAtClipRowsAndSpansAtClipColumns) {
    const ScreenPoint t[] = {{0, 0}, {6, 3}, {2, 6}};
    // y0 = 2: each edge's top moves to row 2 by one division (x = 2·2/6 = 0
    // and x = 6·2/3 = 4) and its step is recomputed from there, so the lower
    // rows differ from the unclipped triangle's.
    set_clip(0, 2, 319, 199);
    poly_fill_flat(3, t, 7);
    expect_only_spans(7, {{2, 0, 4}, {3, 0, 6}, {4, 1, 6}, {5, 1, 4}, {6, 2, 3}});
    // y1 = 3: the left edge is cut to x = 2 - 2·3/6 = 1, step 65536/3.
    clear();
    set_clip(0, 0, 319, 3);
    poly_fill_flat(3, t, 7);
    expect_only_spans(7, {{0, 0, 0}, {1, 0, 2}, {2, 0, 4}, {3, 0, 6}});
    // Columns 1..4: row 0 misses them, the others are cut.
    clear();
    set_clip(1, 0, 4, 199);
    poly_fill_flat(3, t, 7);
    expect_only_spans(7, {{1, 1, 2}, {2, 1, 4}, {3, 1, 4}, {4, 1, 4}, {5, 1, 4}, {6, 1, 3}});
}

// Edges reaching 10^7 rows off the screen: the clip products (300 · 10^7)
// need more than 32 bits. Formed in 64 bits, an edge from the far top meets
// row 0 at x = 299, and an edge to the far bottom is cut at row 199 to
// x = 300 - 300·(10^7-199)/10^7 = 1, which its truncated step never reaches.
TEST_F(PolyTest, LongEdgeClipProductsDoNotOverflow) {
    const ScreenPoint from_above[] = {{0, -10000000}, {300, 199}, {0, 199}};
    poly_fill_flat(3, from_above, 4);
    expect_only_spans(4, rows(0, 199, 0, 299));
    clear();
    const ScreenPoint to_below[] = {{0, 0}, {300, 10000000}, {0, 10000000}};
    poly_fill_flat(3, to_below, 4);
    expect_only_spans(4, rows(0, 199, 0, 0));
}

// A clip rectangle reaching off the screen is cut to the screen; an empty
// one draws nothing.
TEST(PolySafety, ClipRectangleIsCutToScreen) {
    static uint8_t guarded[SCREEN_SIZE + 2 * 4096];
    std::memset(guarded, BG, sizeof guarded);
    BackBuffer = guarded + 4096;
    *raster_state() = RasterState{-100, -100, 1000, 1000, 0, 0, 0, 0};
    const ScreenPoint big[] = {{-500, -500}, {900, -500}, {900, 900}, {-500, 900}};
    poly_fill_flat(4, big, 1);
    for (int i = 0; i < int(sizeof guarded); ++i)
        ASSERT_EQ(guarded[i], i >= 4096 && i < 4096 + SCREEN_SIZE ? 1 : BG) << i;
    set_clip(10, 10, 5, 5);
    poly_fill_flat(4, big, 2);
    EXPECT_EQ(drawn(), 0);
}

// ---------------------------------------------------------------------------
// Rejection, empty results and the flags.

TEST_F(PolyTest, PolygonOutsideClipDrawsNothingAndClearsFlags) {
    set_clip(10, 10, 100, 100);
    set_pick(5, 5);
    const ScreenPoint outside[][3] = {{{0, 0}, {50, 9}, {20, 9}},       // above
                                      {{101, 20}, {150, 40}, {120, 60}},  // right
                                      {{0, 20}, {9, 40}, {2, 60}},        // left
                                      {{20, 101}, {50, 150}, {20, 150}}}; // below
    const uint8_t cc[] = {1, 2, 3};
    for (const auto &t : outside)
        for (int op = 0; op < 4; ++op) {
            set_flags();
            if (op == 0) poly_fill_flat(3, t, 7);
            if (op == 1) poly_fill_gouraud(3, t, cc);
            if (op == 2) poly_pick(3, t);
            if (op == 3) poly_fill_flat(0, t, 7);   // no corners
            EXPECT_EQ(hit(), 0) << op;
            EXPECT_EQ(drawn(), 0) << op;
        }
    EXPECT_TRUE(untouched());
}

// A single row draws nothing in the fillers; poly_pick reports it drawn and
// hits between the extreme corners, unclipped, even when the clip rows cut
// a taller polygon down to that row.
TEST_F(PolyTest, SingleRowPolygons) {
    const ScreenPoint row[] = {{0, 10}, {9, 10}, {4, 10}};
    const uint8_t cc[] = {1, 2, 3};
    set_pick(5, 10);
    set_flags();
    poly_fill_flat(3, row, 7);
    EXPECT_EQ(hit() + drawn(), 0);
    poly_fill_gouraud(3, row, cc);
    EXPECT_EQ(hit() + drawn(), 0);
    EXPECT_TRUE(untouched());
    for (auto [x, y, want] : {std::tuple{5, 10, 1}, {0, 10, 1}, {9, 10, 1}, {-1, 10, 0},
                              {10, 10, 0}, {5, 9, 0}, {5, 11, 0}}) {
        set_pick(x, y);
        poly_pick(3, row);
        EXPECT_EQ(hit(), want) << x << "," << y;
        EXPECT_EQ(drawn(), 1);
    }
    set_clip(0, 10, 319, 199);
    const ScreenPoint touching[] = {{0, 0}, {6, 0}, {3, 10}};   // lowest corner on row 10
    poly_fill_flat(3, touching, 7);
    EXPECT_EQ(drawn(), 0);
    EXPECT_TRUE(untouched());
    set_pick(6, 10);
    poly_pick(3, touching);
    EXPECT_EQ(hit() + drawn(), 2);
}

// A corner repeated next to itself is a zero-length edge: every filler and
// the pick test give the same pixels and flags as without the repeat.
TEST_F(PolyTest, RepeatedCornerChangesNothing) {
    static uint8_t want[SCREEN_SIZE];
    for (const Triangle &t : w100())
        for (int op = 0; op < 3; ++op) {
            auto draw = [&](int n, const ScreenPoint *p, const uint8_t *c) {
                set_pick(p[0].x, p[0].y + 2);
                clear();
                if (op == 0) poly_fill_flat(n, p, t.flat);
                if (op == 1) poly_fill_gouraud(n, p, c);
                if (op == 2) poly_pick(n, p);
                return std::pair{hit(), drawn()};
            };
            const auto flags = draw(3, t.p, t.colours);
            std::memcpy(want, screen, sizeof want);
            for (int k = 0; k < 3; ++k) {
                ScreenPoint p[4];
                uint8_t c[4];
                for (int i = 0, j = 0; i < 3; ++i)
                    for (int copies = i == k ? 2 : 1; copies > 0; --copies, ++j) {
                        p[j] = t.p[i];
                        c[j] = t.colours[i];
                    }
                ASSERT_EQ(draw(4, p, c), flags) << "op " << op << " corner " << k;
                ASSERT_EQ(std::memcmp(screen, want, sizeof want), 0) << "op " << op << " corner " << k;
            }
        }
}

// ---------------------------------------------------------------------------
// Gouraud spans and the 2×2 ordered dither.

TEST_F(PolyTest, GouraudOfOneColourMatchesFlat) {
    static uint8_t flat[SCREEN_SIZE];
    const uint8_t cc[] = {100, 100, 100};
    for (const Triangle &t : w100()) {
        clear();
        poly_fill_flat(3, t.p, 100);
        std::memcpy(flat, screen, sizeof flat);
        clear();
        poly_fill_gouraud(3, t.p, cc);
        ASSERT_EQ(std::memcmp(screen, flat, sizeof flat), 0);
    }
}

// Corner colours 24 at the left and 27 at the right over 8 columns: the span
// step is 0.375, so column x holds 24 + 0.375x; counted in quarters that is
// 96 + floor(1.5x), and each pixel is (quarters + D) / 4 with D = 0 3 0 3 ...
// on row 0 and 2 1 2 1 ... on row 1.
TEST_F(PolyTest, GouraudSpanWorkedExample) {
    const ScreenPoint q[] = {{0, 0}, {8, 0}, {8, 1}, {0, 1}};
    const uint8_t cc[] = {24, 27, 27, 24};
    poly_fill_gouraud(4, q, cc);
    const int row0[] = {24, 25, 24, 25, 25, 26, 26, 27, 27};
    const int row1[] = {24, 24, 25, 25, 26, 26, 26, 26, 27};
    for (int x = 0; x <= 8; ++x) {
        EXPECT_EQ(px(x, 0), row0[x]) << "row 0 column " << x;
        EXPECT_EQ(px(x, 1), row1[x]) << "row 1 column " << x;
    }
    EXPECT_EQ(px(9, 0), BG);
}

// Colour k on row 0 and k + 1 on row 4: row r holds k + r/4 exactly. At
// k + 0.5 on an even row the odd columns round up (D = 3); at k + 0.25
// nothing does; at k + 0.75 every column does. Moved down one row, k + 0.5
// falls on an odd row, where the even columns round up (D = 2).
TEST_F(PolyTest, GouraudDitherQuarterSteps) {
    const int k = 50;
    const uint8_t cc[] = {k, k, k + 1, k + 1};
    const ScreenPoint q[] = {{10, 0}, {17, 0}, {17, 4}, {10, 4}};
    const ScreenPoint half[] = {{30, 1}, {37, 1}, {37, 5}, {30, 5}};
    poly_fill_gouraud(4, q, cc);
    poly_fill_gouraud(4, half, cc);
    for (int x = 10; x <= 17; ++x) {
        const int want[] = {k, k, x % 2 ? k + 1 : k, k + 1, k + 1};
        for (int r = 0; r <= 4; ++r) EXPECT_EQ(px(x, r), want[r]) << x << "," << r;
        EXPECT_EQ(px(x + 20, 3), x % 2 ? k : k + 1) << x + 20;
    }
}

// Cutting the left of a span moves its colour by (x0 - left) × step in one
// product, which lands exactly where stepping would: the pixels inside the
// clip columns do not change.
TEST_F(PolyTest, GouraudSideClipKeepsPixels) {
    static uint8_t full[SCREEN_SIZE];
    for (const Triangle &t : w100()) {
        set_clip(0, 0, 319, 199);
        clear();
        poly_fill_gouraud(3, t.p, t.colours);
        std::memcpy(full, screen, sizeof full);
        const int x0 = std::min(t.p[0].x, t.p[1].x), x1 = std::max(t.p[0].x, t.p[1].x);
        set_clip(x0, 0, x1, 199);
        clear();
        poly_fill_gouraud(3, t.p, t.colours);
        for (int i = 0; i < SCREEN_SIZE; ++i) {
            const int x = i % SCREEN_WIDTH;
            ASSERT_EQ(screen[i], x >= x0 && x <= x1 ? full[i] : BG) << x << "," << i / SCREEN_WIDTH;
        }
    }
}

// Spans of every width from 1 to 320 with colours up, down and level: the
// wide writer puts the same bytes as the portable one, and only in the span.
TEST(GouraudWriters, WideAndPortableAgree) {
    if (!poly_use_wide_spans(1)) GTEST_SKIP() << "this processor has no wide span writer";
    static uint8_t portable[SCREEN_SIZE], wide[SCREEN_SIZE];
    *raster_state() = RasterState{0, 0, 319, 199, 0, 0, 0, 0};
    Lcg r{5};
    for (int width = 1; width <= 320; ++width)
        for (int k = 0; k < 8; ++k) {
            const int left = r.range(0, 320 - width), row = r.range(0, 198), right = left + width - 1;
            const ScreenPoint q[] = {{left, row}, {right, row}, {right, row + 1}, {left, row + 1}};
            uint8_t cc[4];
            for (auto &c : cc) c = static_cast<uint8_t>(r.next());
            for (auto [buf, on] : {std::pair{portable, 0}, std::pair{wide, 1}}) {
                BackBuffer = buf;
                std::memset(buf, BG, SCREEN_SIZE);
                poly_use_wide_spans(on);
                poly_fill_gouraud(4, q, cc);
            }
            ASSERT_EQ(std::memcmp(portable, wide, SCREEN_SIZE), 0) << "width " << width;
            for (int y : {row, row + 1}) {
                EXPECT_TRUE(left == 0 || wide[y * 320 + left - 1] == BG);
                EXPECT_TRUE(right == 319 || wide[y * 320 + right + 1] == BG);
            }
        }
    poly_use_wide_spans(1);
}

// ---------------------------------------------------------------------------
// Pick hits.

// Row 5 of the worked triangle spans 1..4: its first and last pixels hit.
// Rows outside y0..y1 never hit; a span wholly outside x0..x1 still does,
// as the test looks at the span before the side cut.
TEST_F(PolyTest, FillerPickTestsTheUnclippedSpanOnClipRows) {
    const ScreenPoint t[] = {{0, 0}, {6, 3}, {2, 6}};
    const uint8_t cc[] = {1, 2, 3};
    for (auto [x, y, want] : {std::tuple{1, 5, 1}, {4, 5, 1}, {0, 5, 0}, {5, 5, 0}, {0, 0, 1},
                              {1, 0, 0}, {3, 7, 0}}) {
        set_pick(x, y);
        poly_fill_flat(3, t, 7);
        EXPECT_EQ(hit(), want) << "flat " << x << "," << y;
        poly_fill_gouraud(3, t, cc);
        EXPECT_EQ(hit(), want) << "gouraud " << x << "," << y;
    }
    set_clip(0, 2, 319, 199);
    set_pick(0, 1);
    poly_fill_flat(3, t, 7);
    EXPECT_EQ(hit(), 0);
    clear();
    set_clip(100, 0, 319, 199);
    set_pick(3, 2);   // row 2 spans 0..24, all left of x0
    const ScreenPoint spike[] = {{0, 0}, {120, 10}, {0, 20}};
    poly_fill_flat(3, spike, 7);
    EXPECT_EQ(hit(), 1);
    EXPECT_EQ(px(3, 2), BG);
}

TEST_F(PolyTest, PickCoversTriangleButNotAboveApex) {
    const ScreenPoint t[] = {{20, 10}, {30, 20}, {10, 20}};
    for (auto [x, y, want] : {std::tuple{20, 9, 0}, {20, 10, 1}, {19, 10, 0}, {20, 15, 1},
                              {15, 15, 1}, {25, 15, 1}, {14, 15, 0}, {10, 20, 1}, {30, 20, 1},
                              {20, 21, 0}}) {
        set_pick(x, y);
        poly_pick(3, t);
        EXPECT_EQ(hit(), want) << x << "," << y;
        EXPECT_EQ(drawn(), 1);
    }
    EXPECT_TRUE(untouched());
}

// Pick edges step by whole pixels: an edge steeper than 45 degrees keeps its
// top x on every row, where the filler's 16.16 edge moves on.
TEST_F(PolyTest, PickSlopesAreWholePixels) {
    const ScreenPoint t[] = {{0, 0}, {3, 10}, {0, 10}};
    set_pick(2, 9);
    poly_fill_flat(3, t, 7);
    EXPECT_EQ(hit(), 1);
    poly_pick(3, t);
    EXPECT_EQ(hit(), 0);
    set_pick(0, 5);
    poly_pick(3, t);
    EXPECT_EQ(hit(), 1);
}

// With every edge outside the clip rectangle, poly_pick reports nothing
// drawn even when the polygon covers the rectangle; the fillers draw it.
TEST_F(PolyTest, PickDrawnFollowsEdgesNotArea) {
    set_clip(50, 50, 60, 60);
    set_pick(55, 55);
    const ScreenPoint big[] = {{0, 0}, {200, 0}, {200, 150}, {0, 150}};
    const ScreenPoint crossing[] = {{0, 0}, {55, 0}, {55, 150}, {0, 150}};
    poly_pick(4, big);
    EXPECT_EQ(drawn(), 0);
    EXPECT_EQ(hit(), 1);
    poly_fill_flat(4, big, 7);
    EXPECT_EQ(drawn(), 1);
    poly_pick(4, crossing);
    EXPECT_EQ(drawn(), 1);
}

// ---------------------------------------------------------------------------
// Any input: nothing outside the clip rectangle is written, and the flat
// filler writes exactly when it reports drawn.

int32_t random_coord(Lcg &r, int extent) {
    switch (r.next() % 6) {
    case 0: return static_cast<int32_t>(r.next());   // anything at all
    case 1: return r.range(-40000, 40000);            // beyond the 16.16 range
    case 2: return r.range(-2000, 2000);
    default: return r.range(-20, extent + 20);        // on and around the screen
    }
}

TEST(PolySafety, RandomPolygonsStayInsideClipRectangle) {
    static uint8_t buf[SCREEN_SIZE], blank[SCREEN_SIZE];
    BackBuffer = buf;
    std::memset(buf, BG, sizeof buf);
    std::memset(blank, BG, sizeof blank);
    Lcg r{12345};
    for (int iter = 0; iter < 30000; ++iter) {
        const int x0 = r.range(0, 319), x1 = r.range(x0, 319);
        const int y0 = r.range(0, 199), y1 = r.range(y0, 199);
        *raster_state() = RasterState{x0, y0, x1, y1, r.range(-10, 330), r.range(-10, 210), 0, 0};
        const int n = r.range(0, 8);
        ScreenPoint p[8];
        uint8_t c[8];
        for (int i = 0; i < 8; ++i) {
            p[i] = {random_coord(r, 319), random_coord(r, 199)};
            c[i] = static_cast<uint8_t>(r.next());
        }
        const int op = r.range(0, 2);
        poly_use_wide_spans(iter & 1);
        if (op == 0) poly_fill_flat(n, p, 0x11);
        if (op == 1) poly_fill_gouraud(n, p, c);
        if (op == 2) poly_pick(n, p);

        SCOPED_TRACE(iter);
        ASSERT_EQ(std::memcmp(buf, blank, size_t(y0) * 320), 0);
        ASSERT_EQ(std::memcmp(buf + (y1 + 1) * 320, blank, size_t(199 - y1) * 320), 0);
        bool changed = false;
        for (int y = y0; y <= y1; ++y) {
            uint8_t *line = buf + y * 320;
            ASSERT_EQ(std::memcmp(line, blank, size_t(x0)), 0);
            ASSERT_EQ(std::memcmp(line + x1 + 1, blank, size_t(319 - x1)), 0);
            if (std::memcmp(line + x0, blank, size_t(x1 - x0 + 1)) != 0) {
                changed = true;
                std::memset(line + x0, BG, size_t(x1 - x0 + 1));
            }
        }
        ASSERT_TRUE(op != 2 || !changed);
        ASSERT_TRUE(op != 0 || changed == (drawn() == 1));
        ASSERT_TRUE((hit() | drawn()) <= 1);
    }
    poly_use_wide_spans(1);
}

// ---------------------------------------------------------------------------
// Larger scenes against checked-in images (binary PGM of a 96×64 window).
// Set POLYDRIVE_UPDATE_IMAGES=1 to rewrite them after a deliberate change.

constexpr int WX0 = 16, WY0 = 12, WW = 96, WH = 64;

void check_image(const char *name) {
    std::vector<uint8_t> got;
    for (int y = WY0; y < WY0 + WH; ++y) got.insert(got.end(), screen + y * 320 + WX0, screen + y * 320 + WX0 + WW);
    const std::string path = std::string(POLYDRIVE_SOURCE_DIR) + "/tests/data/raster/" + name;
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
        ASSERT_EQ(got[i], want[header.size() + i]) << name << ": pixel (" << WX0 + i % WW << ", " << WY0 + i / WW << ")";
}

// Convex shapes of three to six corners around the window, many crossing
// its edges: triangles, parallelograms, and hexagons (centre, half-extents).
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
        if (i % 3 == 0) {
            s.n = 3;
            for (int k = 0; k < 3; ++k) s.p[k] = {cx + r.range(-25, 25), cy + r.range(-25, 25)};
        } else if (i % 3 == 1) {
            const int ux = r.range(-20, 20), uy = r.range(-20, 20);
            const int vx = r.range(-20, 20), vy = r.range(-20, 20);
            s.n = 4;
            s.p[0] = {cx, cy};
            s.p[1] = {cx + ux, cy + uy};
            s.p[2] = {cx + ux + vx, cy + uy + vy};
            s.p[3] = {cx + vx, cy + vy};
        } else {
            const int a = r.range(2, 20), b = r.range(2, 20), e = r.range(0, a);
            const ScreenPoint hex[] = {{cx - a, cy}, {cx - e, cy - b}, {cx + e, cy - b},
                                       {cx + a, cy}, {cx + e, cy + b}, {cx - e, cy + b}};
            const bool flip = r.next() & 1;
            s.n = 6;
            for (int k = 0; k < 6; ++k) s.p[k] = hex[flip ? 5 - k : k];
        }
        for (int k = 0; k < s.n; ++k) s.c[k] = static_cast<uint8_t>(ramp + r.range(0, 23));
        s.flat = static_cast<uint8_t>(r.range(0, 239));
    }
    return out;
}

TEST_F(PolyTest, FlatSceneMatchesImage) {
    set_clip(WX0, WY0, WX0 + WW - 1, WY0 + WH - 1);
    std::memset(screen, 240, sizeof screen);
    for (const Shape &s : scene()) poly_fill_flat(s.n, s.p, s.flat);
    check_image("poly_flat.pgm");
}

// Both gouraud span writers must give the image.
TEST_F(PolyTest, GouraudSceneMatchesImage) {
    set_clip(WX0, WY0, WX0 + WW - 1, WY0 + WH - 1);
    for (int wide : {0, 1}) {
        if (poly_use_wide_spans(wide) != wide) continue;
        SCOPED_TRACE(wide ? "wide writer" : "portable writer");
        std::memset(screen, 240, sizeof screen);
        for (const Shape &s : scene()) poly_fill_gouraud(s.n, s.p, s.c);
        check_image("poly_gouraud.pgm");
    }
    poly_use_wide_spans(1);
}

}  // namespace
