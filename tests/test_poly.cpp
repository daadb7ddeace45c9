// Polygon fillers and the pick test: worked examples small enough to follow
// by hand, properties over many triangles, a randomized clip-safety check,
// and two larger scenes held against checked-in images.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
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
    s->x0 = x0;
    s->y0 = y0;
    s->x1 = x1;
    s->y1 = y1;
}

void set_pick(int x, int y) {
    raster_state()->pick_x = x;
    raster_state()->pick_y = y;
}

int hit() { return raster_state()->pick_hit; }
int drawn() { return raster_state()->drawn; }
void set_flags() {
    raster_state()->pick_hit = 1;
    raster_state()->drawn = 1;
}

uint8_t px(int x, int y) { return screen[y * SCREEN_WIDTH + x]; }

// The whole screen must be background except exactly the listed spans,
// which hold `colour`.
void expect_only_spans(uint8_t colour, const std::vector<Span> &spans) {
    static uint8_t want[SCREEN_SIZE];
    std::memset(want, BG, sizeof want);
    for (const Span &s : spans)
        for (int x = s.left; x <= s.right; ++x) want[s.row * SCREEN_WIDTH + x] = colour;
    int errors = 0;
    for (int i = 0; i < SCREEN_SIZE && errors < 10; ++i) {
        if (screen[i] != want[i]) {
            ADD_FAILURE() << "pixel (" << i % SCREEN_WIDTH << ", " << i / SCREEN_WIDTH << ") is "
                          << int{screen[i]} << ", expected " << int{want[i]};
            ++errors;
        }
    }
}

bool screen_untouched() {
    for (uint8_t v : screen)
        if (v != BG) return false;
    return true;
}

class PolyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        BackBuffer = screen;
        std::memset(screen, BG, sizeof screen);
        set_clip(0, 0, 319, 199);
        set_pick(-1000, -1000);
    }
};

// The W100 benchmark generator: a fixed stream of on-screen triangles with
// mixed winding, used here as a varied set of valid inputs.
struct Triangle {
    ScreenPoint p[3];
    uint8_t flat;
    uint8_t colours[3];
};

std::vector<Triangle> w100() {
    uint32_t s = 1;
    auto rnd = [&s](uint32_t n) {
        s = s * 1664525u + 1013904223u;
        return static_cast<int>((s >> 16) % n);
    };
    std::vector<Triangle> out;
    for (int i = 0; i < 100; ++i) {
        Triangle t{};
        const int cx = 32 + rnd(256), cy = 32 + rnd(136);
        for (auto &p : t.p) {
            p.x = cx + rnd(63) - 31;
            p.y = cy + rnd(63) - 31;
        }
        t.flat = static_cast<uint8_t>(rnd(256));
        for (auto &c : t.colours) c = static_cast<uint8_t>(48 + rnd(256) % 24);
        out.push_back(t);
    }
    return out;
}

// ---------------------------------------------------------------------------
// Worked examples of the flat filler.

// Triangle (0,0) (6,3) (2,6): the long left edge steps 2/6 px per row
// (21845 in 16.16, so row 3 stands at 0.99998 and stays in column 0); the
// lower right edge is taken at row 4 from its top x = 6 with no step added.
const std::vector<Span> SMALL_TRIANGLE = {{0, 0, 0}, {1, 0, 2}, {2, 0, 4}, {3, 0, 6},
                                          {4, 1, 6}, {5, 1, 4}, {6, 1, 3}};

TEST_F(PolyTest, FlatFillsWorkedTriangle) {
    const ScreenPoint t[] = {{0, 0}, {6, 3}, {2, 6}};
    poly_fill_flat(3, t, 7);
    expect_only_spans(7, SMALL_TRIANGLE);
    EXPECT_EQ(drawn(), 1);
}

TEST_F(PolyTest, FlatIgnoresWindingAndStartingCorner) {
    const ScreenPoint orders[][3] = {{{0, 0}, {2, 6}, {6, 3}},
                                     {{6, 3}, {2, 6}, {0, 0}},
                                     {{2, 6}, {0, 0}, {6, 3}}};
    for (const auto &t : orders) {
        std::memset(screen, BG, sizeof screen);
        poly_fill_flat(3, t, 7);
        expect_only_spans(7, SMALL_TRIANGLE);
    }
}

TEST_F(PolyTest, FlatWritesLowByteOfColour) {
    const ScreenPoint t[] = {{0, 0}, {6, 3}, {2, 6}};
    poly_fill_flat(3, t, 0x1207);
    expect_only_spans(7, SMALL_TRIANGLE);
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
    const ScreenPoint line[] = {{3, 0}, {7, 4}};
    poly_fill_flat(2, line, 5);
    expect_only_spans(5, {{0, 3, 3}, {1, 4, 4}, {2, 5, 5}, {3, 6, 6}, {4, 7, 7}});
    std::memset(screen, BG, sizeof screen);
    const ScreenPoint reversed[] = {{7, 4}, {3, 0}};
    poly_fill_flat(2, reversed, 5);
    expect_only_spans(5, {{0, 3, 3}, {1, 4, 4}, {2, 5, 5}, {3, 6, 6}, {4, 7, 7}});
}

// The right edge runs from x = 12 to 13 over 100 rows: its step truncates
// to 655/65536, so x reaches only 12.994 on the last row, and the span
// 10.0 .. 12.99 covers columns 10, 11 and 12 but never 13.
TEST_F(PolyTest, SpanEndsAreFloorOfSixteenDotSixteen) {
    const ScreenPoint q[] = {{10, 0}, {12, 0}, {13, 100}, {10, 100}};
    poly_fill_flat(4, q, 3);
    std::vector<Span> want;
    for (int r = 0; r <= 100; ++r) want.push_back({r, 10, 12});
    expect_only_spans(3, want);
}

// A segment's rows are drawn through its end row: a triangle with a
// vertical left edge and its middle corner at row 2 draws rows 0..4, the
// shared corner's row once.
TEST_F(PolyTest, SharedCornerRowIsDrawnOnce) {
    const ScreenPoint t[] = {{0, 0}, {4, 2}, {0, 4}};
    poly_fill_flat(3, t, 1);
    // Upper right edge steps 2.0; lower right edge starts at row 3 from x = 4
    // and steps -2.0, so row 4 stands at 2.
    expect_only_spans(1, {{0, 0, 0}, {1, 0, 2}, {2, 0, 4}, {3, 0, 4}, {4, 0, 2}});
}

// ---------------------------------------------------------------------------
// Clipping.

// Clipped at y0 = 2: each edge's top is moved to row 2 by one division
// (x = 0 + 2·2/6 = 0 and x = 0 + 6·2/3 = 4) and the step recomputed from
// there, so the lower rows differ from the unclipped triangle's.
TEST_F(PolyTest, TopClipStartsAtY0WithInterpolatedEnds) {
    set_clip(0, 2, 319, 199);
    const ScreenPoint t[] = {{0, 0}, {6, 3}, {2, 6}};
    poly_fill_flat(3, t, 7);
    expect_only_spans(7, {{2, 0, 4}, {3, 0, 6}, {4, 1, 6}, {5, 1, 4}, {6, 2, 3}});
}

TEST_F(PolyTest, BottomClipEndsAtY1) {
    set_clip(0, 0, 319, 3);
    const ScreenPoint t[] = {{0, 0}, {6, 3}, {2, 6}};
    poly_fill_flat(3, t, 7);
    // The left edge is cut at row 3: x = 2 + (0 - 2)·3/6 = 1, step 65536/3.
    expect_only_spans(7, {{0, 0, 0}, {1, 0, 2}, {2, 0, 4}, {3, 0, 6}});
}

TEST_F(PolyTest, SideClipCutsSpansToClipColumns) {
    set_clip(1, 0, 4, 199);
    const ScreenPoint t[] = {{0, 0}, {6, 3}, {2, 6}};
    poly_fill_flat(3, t, 7);
    expect_only_spans(7, {{1, 1, 2}, {2, 1, 4}, {3, 1, 4}, {4, 1, 4}, {5, 1, 4}, {6, 1, 3}});
}

// An edge from y = -10^7 to the bottom of the screen: the clip product
// 300 · 10^7 needs more than 32 bits. Formed in 64 bits the edge meets row 0
// at x = 299 and the span keeps its full width on every row.
TEST_F(PolyTest, LongEdgeClipProductsDoNotOverflow) {
    const ScreenPoint t[] = {{0, -10000000}, {300, 199}, {0, 199}};
    poly_fill_flat(3, t, 4);
    std::vector<Span> want;
    for (int r = 0; r <= 199; ++r) want.push_back({r, 0, 299});
    expect_only_spans(4, want);
}

TEST_F(PolyTest, LongEdgeBottomClipDoesNotOverflow) {
    // Right edge (0,0)-(300,10^7) is cut at row 199 to x = 300 - 300·(10^7-199)/10^7
    // = 1 (the product is -3·10^9); from 0 to 1 over 199 rows it never
    // reaches column 1, so every row is the single column 0.
    const ScreenPoint t[] = {{0, 0}, {300, 10000000}, {0, 10000000}};
    poly_fill_flat(3, t, 4);
    std::vector<Span> want;
    for (int r = 0; r <= 199; ++r) want.push_back({r, 0, 0});
    expect_only_spans(4, want);
}

// ---------------------------------------------------------------------------
// Rejection and the result flags.

TEST_F(PolyTest, PolygonOutsideClipDrawsNothingAndClearsFlags) {
    set_clip(10, 10, 100, 100);
    set_pick(5, 5);
    const ScreenPoint above[] = {{0, 0}, {50, 9}, {20, 9}};
    const ScreenPoint right[] = {{101, 20}, {150, 40}, {120, 60}};
    const ScreenPoint left[] = {{0, 20}, {9, 40}, {2, 60}};
    const ScreenPoint below[] = {{20, 101}, {50, 150}, {20, 150}};
    const uint8_t cc[] = {1, 2, 3};
    for (const ScreenPoint *t : {above, right, left, below}) {
        set_flags();
        poly_fill_flat(3, t, 7);
        EXPECT_EQ(hit(), 0);
        EXPECT_EQ(drawn(), 0);
        set_flags();
        poly_fill_gouraud(3, t, cc);
        EXPECT_EQ(hit(), 0);
        EXPECT_EQ(drawn(), 0);
        set_flags();
        poly_pick(3, t);
        EXPECT_EQ(hit(), 0);
        EXPECT_EQ(drawn(), 0);
    }
    EXPECT_TRUE(screen_untouched());
}

TEST_F(PolyTest, NoCornersDrawNothing) {
    const ScreenPoint t[] = {{0, 0}, {6, 3}, {2, 6}};
    set_flags();
    poly_fill_flat(0, t, 7);
    EXPECT_EQ(drawn(), 0);
    set_flags();
    poly_fill_flat(-3, t, 7);
    EXPECT_EQ(drawn(), 0);
    set_flags();
    poly_pick(0, t);
    EXPECT_EQ(drawn(), 0);
    EXPECT_TRUE(screen_untouched());
}

// The corner (20, 30) reaches column 20, but both edges' truncated steps
// stop at 19.9997 on the last row: with x0 = 20 no span reaches the clip
// rectangle, nothing is written and drawn stays 0.
TEST_F(PolyTest, DrawnOnlyWhenASpanReachesClipRectangle) {
    const ScreenPoint t[] = {{0, 0}, {10, 0}, {20, 30}};
    set_clip(20, 0, 319, 199);
    set_flags();
    poly_fill_flat(3, t, 7);
    EXPECT_EQ(drawn(), 0);
    EXPECT_TRUE(screen_untouched());
    set_clip(19, 0, 319, 199);
    poly_fill_flat(3, t, 7);
    EXPECT_EQ(drawn(), 1);
    EXPECT_EQ(px(19, 30), 7);
    EXPECT_EQ(px(20, 30), BG);
}

// ---------------------------------------------------------------------------
// Single-row polygons: the fillers draw nothing, the pick test still reports.

TEST_F(PolyTest, FlatRowPolygonDrawsNothing) {
    set_pick(5, 10);
    const ScreenPoint row[] = {{0, 10}, {9, 10}, {4, 10}};
    const uint8_t cc[] = {1, 2, 3};
    set_flags();
    poly_fill_flat(3, row, 7);
    EXPECT_EQ(hit(), 0);
    EXPECT_EQ(drawn(), 0);
    poly_fill_gouraud(3, row, cc);
    EXPECT_EQ(hit(), 0);
    EXPECT_EQ(drawn(), 0);
    EXPECT_TRUE(screen_untouched());

    poly_pick(3, row);
    EXPECT_EQ(hit(), 1);
    EXPECT_EQ(drawn(), 1);
    for (int x : {0, 9}) {
        set_pick(x, 10);
        poly_pick(3, row);
        EXPECT_EQ(hit(), 1) << x;
    }
    for (auto [x, y] : {std::pair{-1, 10}, {10, 10}, {5, 9}, {5, 11}}) {
        set_pick(x, y);
        poly_pick(3, row);
        EXPECT_EQ(hit(), 0) << x << "," << y;
        EXPECT_EQ(drawn(), 1);
    }
}

TEST_F(PolyTest, RowsCollapsingToOneAfterClipDrawNothing) {
    set_clip(0, 10, 319, 199);
    set_pick(3, 10);
    // The triangle's lowest corner touches row 10 only.
    const ScreenPoint t[] = {{0, 0}, {6, 0}, {3, 10}};
    poly_fill_flat(3, t, 7);
    EXPECT_EQ(drawn(), 0);
    EXPECT_TRUE(screen_untouched());
    // The pick test takes the unclipped extent of all corners on that row.
    set_pick(6, 10);
    poly_pick(3, t);
    EXPECT_EQ(drawn(), 1);
    EXPECT_EQ(hit(), 1);
}

// ---------------------------------------------------------------------------
// Repeated corners and other degenerate edges change nothing.

TEST_F(PolyTest, RepeatedCornerChangesNothing) {
    static uint8_t want[SCREEN_SIZE];
    for (const Triangle &t : w100()) {
        for (int fill = 0; fill < 3; ++fill) {
            auto draw = [&](int n, const ScreenPoint *p, const uint8_t *c) {
                set_pick(p[0].x, p[0].y + 2);
                if (fill == 0) poly_fill_flat(n, p, t.flat);
                if (fill == 1) poly_fill_gouraud(n, p, c);
                if (fill == 2) poly_pick(n, p);
                return std::pair{hit(), drawn()};
            };
            std::memset(screen, BG, sizeof screen);
            const auto flags = draw(3, t.p, t.colours);
            std::memcpy(want, screen, sizeof want);
            for (int k = 0; k < 3; ++k) {   // repeat corner k in place
                ScreenPoint p[4];
                uint8_t c[4];
                for (int i = 0, j = 0; i < 3; ++i) {
                    p[j] = t.p[i];
                    c[j++] = t.colours[i];
                    if (i == k) {
                        p[j] = t.p[i];
                        c[j++] = t.colours[i];
                    }
                }
                std::memset(screen, BG, sizeof screen);
                EXPECT_EQ(draw(4, p, c), flags) << "fill " << fill << " corner " << k;
                ASSERT_EQ(std::memcmp(screen, want, sizeof want), 0)
                    << "fill " << fill << " corner " << k;
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Gouraud spans and the 2×2 ordered dither.

TEST_F(PolyTest, GouraudOfOneColourMatchesFlat) {
    static uint8_t flat[SCREEN_SIZE];
    for (const Triangle &t : w100()) {
        std::memset(screen, BG, sizeof screen);
        poly_fill_flat(3, t.p, 100);
        std::memcpy(flat, screen, sizeof flat);
        std::memset(screen, BG, sizeof screen);
        const uint8_t cc[] = {100, 100, 100};
        poly_fill_gouraud(3, t.p, cc);
        ASSERT_EQ(std::memcmp(screen, flat, sizeof flat), 0);
    }
}

// Corner colours 24 at the left and 27 at the right over 8 columns: the span
// step is 0.375, so column x holds 24 + 0.375x; counted in quarters that is
// floor(1.5x), and each pixel is (quarters + D) / 4 with D = 0 3 0 3 ... on
// row 0 and 2 1 2 1 ... on row 1.
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
    EXPECT_EQ(drawn(), 1);
}

// Colour k at the top row and k + 1 four rows down: row r holds k + r/4
// exactly. At k + 0.5 (row 2, even) the odd columns round up; at k + 0.25
// nothing does; at k + 0.75 (row 3, odd) every column does.
TEST_F(PolyTest, GouraudDitherQuarterSteps) {
    const int k = 50;
    const ScreenPoint q[] = {{10, 0}, {17, 0}, {17, 4}, {10, 4}};
    const uint8_t cc[] = {k, k, k + 1, k + 1};
    poly_fill_gouraud(4, q, cc);
    for (int x = 10; x <= 17; ++x) {
        EXPECT_EQ(px(x, 0), k);
        EXPECT_EQ(px(x, 1), k);
        EXPECT_EQ(px(x, 2), x % 2 ? k + 1 : k) << x;
        EXPECT_EQ(px(x, 3), k + 1);
        EXPECT_EQ(px(x, 4), k + 1);
    }
}

TEST_F(PolyTest, GouraudDitherHalfOnOddRowRoundsEvenColumns) {
    const int k = 72;
    // Rows 2..4 with k on row 2 and k + 1 on row 4: row 3 (odd) holds
    // k + 0.5, where D = 2 on the even columns lifts them to k + 1.
    const ScreenPoint q[] = {{4, 2}, {11, 2}, {11, 4}, {4, 4}};
    const uint8_t cc[] = {k, k, k + 1, k + 1};
    poly_fill_gouraud(4, q, cc);
    for (int x = 4; x <= 11; ++x) EXPECT_EQ(px(x, 3), x % 2 ? k : k + 1) << x;
}

// Cutting the left of a span moves its colour by (x0 - left) × step in one
// product, which lands exactly where stepping would: the pixels inside the
// clip columns do not change.
TEST_F(PolyTest, GouraudSideClipKeepsPixels) {
    static uint8_t full[SCREEN_SIZE];
    for (const Triangle &t : w100()) {
        set_clip(0, 0, 319, 199);
        std::memset(screen, BG, sizeof screen);
        poly_fill_gouraud(3, t.p, t.colours);
        std::memcpy(full, screen, sizeof full);
        const int cut_left = t.p[0].x, cut_right = t.p[1].x;
        const int x0 = cut_left < cut_right ? cut_left : cut_right;
        const int x1 = cut_left < cut_right ? cut_right : cut_left;
        set_clip(x0, 0, x1, 199);
        std::memset(screen, BG, sizeof screen);
        poly_fill_gouraud(3, t.p, t.colours);
        for (int y = 0; y < SCREEN_HEIGHT; ++y)
            for (int x = 0; x < SCREEN_WIDTH; ++x) {
                const uint8_t want = x >= x0 && x <= x1 ? full[y * 320 + x] : BG;
                ASSERT_EQ(px(x, y), want) << x << "," << y;
            }
    }
}

// ---------------------------------------------------------------------------
// Pick hits in the fillers.

TEST_F(PolyTest, FillerPickHitsFirstAndLastPixelOfSpan) {
    const ScreenPoint t[] = {{0, 0}, {6, 3}, {2, 6}};
    const uint8_t cc[] = {1, 2, 3};
    struct Case {
        int x, y, want;
    };
    for (const Case &c : {Case{1, 5, 1}, Case{4, 5, 1}, Case{0, 5, 0}, Case{5, 5, 0},
                          Case{0, 0, 1}, Case{1, 0, 0}, Case{3, 7, 0}}) {
        set_pick(c.x, c.y);
        poly_fill_flat(3, t, 7);
        EXPECT_EQ(hit(), c.want) << "flat " << c.x << "," << c.y;
        poly_fill_gouraud(3, t, cc);
        EXPECT_EQ(hit(), c.want) << "gouraud " << c.x << "," << c.y;
    }
}

TEST_F(PolyTest, FillerPickIgnoresRowsOutsideClip) {
    set_clip(0, 2, 319, 199);
    set_pick(0, 1);   // covered by the triangle, but above y0
    const ScreenPoint t[] = {{0, 0}, {6, 3}, {2, 6}};
    poly_fill_flat(3, t, 7);
    EXPECT_EQ(hit(), 0);
    EXPECT_EQ(drawn(), 1);
}

// The filler's pick test looks at the span before the side clip: row 2
// spans columns 0..24, all left of x0 = 100, and still reports the hit.
TEST_F(PolyTest, FillerPickHitsOutsideClipColumns) {
    set_clip(100, 0, 319, 199);
    set_pick(3, 2);
    const ScreenPoint t[] = {{0, 0}, {120, 10}, {0, 20}};
    poly_fill_flat(3, t, 7);
    EXPECT_EQ(hit(), 1);
    EXPECT_EQ(drawn(), 1);
    EXPECT_EQ(px(3, 2), BG);
}

// ---------------------------------------------------------------------------
// poly_pick.

TEST_F(PolyTest, PickCoversTriangleButNotAboveApex) {
    const ScreenPoint t[] = {{20, 10}, {30, 20}, {10, 20}};
    struct Case {
        int x, y, want;
    };
    for (const Case &c : {Case{20, 9, 0}, Case{20, 10, 1}, Case{19, 10, 0}, Case{20, 15, 1},
                          Case{15, 15, 1}, Case{25, 15, 1}, Case{14, 15, 0}, Case{10, 20, 1},
                          Case{30, 20, 1}, Case{20, 21, 0}}) {
        set_pick(c.x, c.y);
        poly_pick(3, t);
        EXPECT_EQ(hit(), c.want) << c.x << "," << c.y;
        EXPECT_EQ(drawn(), 1);
    }
    EXPECT_TRUE(screen_untouched());
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
    set_pick(3, 10);
    poly_pick(3, t);
    EXPECT_EQ(hit(), 0);
    set_pick(0, 5);
    poly_pick(3, t);
    EXPECT_EQ(hit(), 1);
}

// With every edge outside the clip rectangle, poly_pick reports nothing
// drawn even when the polygon covers the rectangle; the fillers do draw it.
TEST_F(PolyTest, PickDrawnFollowsEdgesNotArea) {
    set_clip(50, 50, 60, 60);
    set_pick(55, 55);
    const ScreenPoint big[] = {{0, 0}, {200, 0}, {200, 150}, {0, 150}};
    poly_pick(4, big);
    EXPECT_EQ(drawn(), 0);
    EXPECT_EQ(hit(), 1);
    poly_fill_flat(4, big, 7);
    EXPECT_EQ(drawn(), 1);
    const ScreenPoint crossing[] = {{0, 0}, {55, 0}, {55, 150}, {0, 150}};
    poly_pick(4, crossing);
    EXPECT_EQ(drawn(), 1);
}

// ---------------------------------------------------------------------------
// Any input: nothing outside the clip rectangle is written, and the fillers
// write exactly when they report drawn.

struct Lcg {
    uint64_t s;
    uint32_t next() {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(s >> 32);
    }
    int range(int lo, int hi) { return lo + static_cast<int>(next() % uint32_t(hi - lo + 1)); }
};

int32_t random_coord(Lcg &r, int extent) {
    switch (r.next() % 6) {
    case 0: return static_cast<int32_t>(r.next());          // anything at all
    case 1: return r.range(-40000, 40000);                   // beyond the 16.16 range
    case 2: return r.range(-2000, 2000);
    default: return r.range(-20, extent + 20);               // on and around the screen
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
        set_clip(x0, y0, x1, y1);
        set_pick(r.range(-10, 330), r.range(-10, 210));
        const int n = r.range(0, 8);
        ScreenPoint p[8];
        uint8_t c[8];
        for (int i = 0; i < 8; ++i) {
            p[i] = {random_coord(r, 319), random_coord(r, 199)};
            c[i] = static_cast<uint8_t>(r.next());
        }
        const int op = r.range(0, 2);
        if (op == 0) poly_fill_flat(n, p, 0x11);
        if (op == 1) poly_fill_gouraud(n, p, c);
        if (op == 2) poly_pick(n, p);

        // Outside the rectangle: rows above and below, then both sides.
        ASSERT_EQ(std::memcmp(buf, blank, size_t(y0) * 320), 0) << "iteration " << iter;
        ASSERT_EQ(std::memcmp(buf + (y1 + 1) * 320, blank, size_t(199 - y1) * 320), 0)
            << "iteration " << iter;
        bool changed = false;
        for (int y = y0; y <= y1; ++y) {
            uint8_t *line = buf + y * 320;
            ASSERT_EQ(std::memcmp(line, blank, size_t(x0)), 0) << "iteration " << iter;
            ASSERT_EQ(std::memcmp(line + x1 + 1, blank, size_t(319 - x1)), 0)
                << "iteration " << iter;
            if (std::memcmp(line + x0, blank, size_t(x1 - x0 + 1)) != 0) {
                changed = true;
                std::memset(line + x0, BG, size_t(x1 - x0 + 1));
            }
        }
        ASSERT_TRUE(op != 2 || !changed) << "iteration " << iter;
        // Gouraud may write the background value itself, so only the flat
        // filler proves that drawn means written.
        if (op == 0) {
            ASSERT_EQ(changed, drawn() == 1) << "iteration " << iter;
        }
        if (op == 1 && changed) {
            ASSERT_EQ(drawn(), 1) << "iteration " << iter;
        }
        ASSERT_TRUE(hit() == 0 || hit() == 1);
    }
}

// A clip rectangle reaching off the screen is cut to the screen.
TEST(PolySafety, ClipRectangleIsCutToScreen) {
    static uint8_t guarded[SCREEN_SIZE + 2 * 4096];
    std::memset(guarded, BG, sizeof guarded);
    BackBuffer = guarded + 4096;
    set_clip(-100, -100, 1000, 1000);
    const ScreenPoint big[] = {{-500, -500}, {900, -500}, {900, 900}, {-500, 900}};
    poly_fill_flat(4, big, 1);
    for (int i = 0; i < int(sizeof guarded); ++i) {
        const bool on_screen = i >= 4096 && i < 4096 + SCREEN_SIZE;
        ASSERT_EQ(guarded[i], on_screen ? 1 : BG) << i;
    }
    set_clip(10, 10, 5, 5);   // empty
    poly_fill_flat(4, big, 2);
    EXPECT_EQ(drawn(), 0);
    set_clip(0, 0, 319, 199);
}

// ---------------------------------------------------------------------------
// Larger scenes against checked-in images (binary PGM of the clip window).
// Set POLYDRIVE_UPDATE_IMAGES=1 to rewrite them after a deliberate change.

constexpr int WX0 = 16, WY0 = 12, WW = 96, WH = 64;

std::string image_path(const char *name) {
    return std::string(POLYDRIVE_SOURCE_DIR) + "/tests/data/raster/" + name;
}

std::vector<uint8_t> window_bytes() {
    std::vector<uint8_t> out;
    for (int y = WY0; y < WY0 + WH; ++y)
        out.insert(out.end(), screen + y * 320 + WX0, screen + y * 320 + WX0 + WW);
    return out;
}

void check_image(const char *name) {
    const std::vector<uint8_t> got = window_bytes();
    const std::string path = image_path(name);
    const char *update = std::getenv("POLYDRIVE_UPDATE_IMAGES");
    if (update && *update == '1') {
        FILE *f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr) << path;
        std::fprintf(f, "P5\n%d %d\n255\n", WW, WH);
        std::fwrite(got.data(), 1, got.size(), f);
        std::fclose(f);
    }
    FILE *f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr) << path;
    int w = 0, h = 0, maxval = 0;
    ASSERT_EQ(std::fscanf(f, "P5 %d %d %d", &w, &h, &maxval), 3);
    std::fgetc(f);
    ASSERT_EQ(w, WW);
    ASSERT_EQ(h, WH);
    std::vector<uint8_t> want(size_t(w) * h);
    ASSERT_EQ(std::fread(want.data(), 1, want.size(), f), want.size());
    std::fclose(f);
    int errors = 0;
    for (size_t i = 0; i < want.size() && errors < 10; ++i)
        if (got[i] != want[i]) {
            ADD_FAILURE() << name << ": pixel (" << WX0 + i % WW << ", " << WY0 + i / WW << ") is "
                          << int{got[i]} << ", expected " << int{want[i]};
            ++errors;
        }
}

// Convex shapes of three to six corners around the window, many of them
// crossing its edges: triangles, parallelograms, and hexagons made of a
// centre plus half-extents.
struct Shape {
    int n;
    ScreenPoint p[6];
    uint8_t c[6];
    uint8_t flat;
};

std::vector<Shape> scene() {
    Lcg r{2024};
    std::vector<Shape> out;
    for (int i = 0; i < 60; ++i) {
        Shape s{};
        const int cx = r.range(WX0 - 10, WX0 + WW + 10), cy = r.range(WY0 - 10, WY0 + WH + 10);
        const int ramp = r.range(0, 9) * 24;
        switch (i % 3) {
        case 0:
            s.n = 3;
            for (int k = 0; k < 3; ++k) s.p[k] = {cx + r.range(-25, 25), cy + r.range(-25, 25)};
            break;
        case 1: {
            const int ux = r.range(-20, 20), uy = r.range(-20, 20);
            const int vx = r.range(-20, 20), vy = r.range(-20, 20);
            s.n = 4;
            s.p[0] = {cx, cy};
            s.p[1] = {cx + ux, cy + uy};
            s.p[2] = {cx + ux + vx, cy + uy + vy};
            s.p[3] = {cx + vx, cy + vy};
            break;
        }
        default: {
            const int a = r.range(2, 20), b = r.range(2, 20), e = r.range(0, a);
            s.n = 6;
            const ScreenPoint hex[] = {{cx - a, cy},     {cx - e, cy - b}, {cx + e, cy - b},
                                       {cx + a, cy},     {cx + e, cy + b}, {cx - e, cy + b}};
            const bool flip = r.next() & 1;
            for (int k = 0; k < 6; ++k) s.p[k] = hex[flip ? 5 - k : k];
        }
        }
        for (int k = 0; k < s.n; ++k) s.c[k] = static_cast<uint8_t>(ramp + r.range(0, 23));
        s.flat = static_cast<uint8_t>(r.range(0, 239));
        out.push_back(s);
    }
    return out;
}

TEST_F(PolyTest, FlatSceneMatchesImage) {
    set_clip(WX0, WY0, WX0 + WW - 1, WY0 + WH - 1);
    std::memset(screen, 240, sizeof screen);
    for (const Shape &s : scene()) poly_fill_flat(s.n, s.p, s.flat);
    check_image("poly_flat.pgm");
}

// Both gouraud span writers (the portable one and, where the processor has
// it, the wide one) must give the image.
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

// Spans of every length from 1 to 320 at both parities of start column and
// row, with colour steps up, down and wrapping: both writers put the same
// bytes, and only inside the span.
TEST(GouraudWriters, WideAndPortableAgree) {
    if (!poly_use_wide_spans(1)) GTEST_SKIP() << "this processor has no wide span writer";
    static uint8_t portable[SCREEN_SIZE], wide[SCREEN_SIZE];
    set_clip(0, 0, 319, 199);
    Lcg r{5};
    for (int width = 1; width <= 320; ++width) {
        for (int k = 0; k < 8; ++k) {
            const int left = r.range(0, 320 - width), row = r.range(0, 198);
            const ScreenPoint q[] = {{left, row}, {left + width - 1, row}, {left + width - 1, row + 1},
                                     {left, row + 1}};
            const uint8_t cc[] = {static_cast<uint8_t>(r.next()), static_cast<uint8_t>(r.next()),
                                  static_cast<uint8_t>(r.next()), static_cast<uint8_t>(r.next())};
            for (auto [buf, on] : {std::pair{portable, 0}, std::pair{wide, 1}}) {
                BackBuffer = buf;
                std::memset(buf, BG, SCREEN_SIZE);
                poly_use_wide_spans(on);
                poly_fill_gouraud(4, q, cc);
            }
            ASSERT_EQ(std::memcmp(portable, wide, SCREEN_SIZE), 0) << "width " << width;
            for (int y : {row, row + 1}) {
                if (left > 0) {
                    ASSERT_EQ(wide[y * 320 + left - 1], BG);
                }
                if (left + width < 320) {
                    ASSERT_EQ(wide[y * 320 + left + width], BG);
                }
            }
        }
    }
    poly_use_wide_spans(1);
}

}  // namespace
