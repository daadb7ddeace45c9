// render/poly.cpp: scan conversion of convex polygons by two edge chains.
//
// Both chains start on the top corner; the backward chain walks the corners
// in falling index order, the forward chain in rising order. Each chain holds
// one edge at a time, clipped to the clip rows when it is taken, and a
// segment of rows lasts until the chain whose edge ends first needs the next
// one. The fillers step x (and colour) in 16.16 per row and draw one span per
// row; the pick test walks the same chains with whole-pixel slopes.
//
// Safety for any input: every row a segment covers lies between the clamped
// top and bottom rows, hence inside the clip rows, and every span is clamped
// to the clip columns before it is written, unless the whole segment has been
// shown to lie inside them. Arithmetic that can leave 32 bits for corners
// outside the 16.16 range is done in 64 bits or wraps explicitly.
#include "render/poly.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) || defined(__SSE2__)
#include <immintrin.h>
#endif
#if defined(__wasm_simd128__)
#include <wasm_simd128.h>
#endif

#include "platform/video.h"
#include "base/fixed.h"

namespace {

// The wide gouraud span writer needs 512-bit registers and byte masks; it is
// compiled into any x86-64 build and used only where the processor has them.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define POLY_WIDE_SPANS 1
#define POLY_WIDE __attribute__((target("avx512f,avx512bw,avx512vl")))
bool wide_spans_available() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vl");
}
#else
#define POLY_WIDE_SPANS 0
bool wide_spans_available() { return false; }
#endif

struct RasterModule {
    RasterState state;
    int wide_spans = -1;   // gouraud spans by the wide writer (1) or not (0); -1 until first use
};
RasterModule raster;   // constant-initialised: usable before any constructor runs

// The clip rectangle as the fillers use it: the state's rectangle cut to the
// screen, so that a bad rectangle can never address memory off the buffer.
// The pitch of the back buffer comes along for the fillers' row steps.
struct Clip {
    int32_t x0, y0, x1, y1;
    int32_t pitch;
};

bool load_clip(const RasterState &s, Clip *c) {
    const FrameGeometry &frame = gfx_frame();
    c->x0 = s.x0 < 0 ? 0 : s.x0;
    c->y0 = s.y0 < 0 ? 0 : s.y0;
    c->x1 = s.x1 > frame.width - 1 ? frame.width - 1 : s.x1;
    c->y1 = s.y1 > frame.height - 1 ? frame.height - 1 : s.y1;
    c->pitch = frame.pitch;
    return c->x0 <= c->x1 && c->y0 <= c->y1;
}

// Corner scan and rejection shared by all three operations.
struct Setup {
    int32_t min_x, max_x;
    int32_t top_row, bottom_row;
    int top;   // index of the first corner on the lowest row
};

bool set_up(int n, const ScreenPoint *p, const Clip &c, Setup *s) {
    if (n < 1) return false;
    int32_t min_x = p[0].x, max_x = p[0].x, min_y = p[0].y, max_y = p[0].y;
    int top = 0;
    for (int i = 1; i < n; ++i) {
        const int32_t x = p[i].x, y = p[i].y;
        if (x < min_x) min_x = x;
        if (x > max_x) max_x = x;
        if (y < min_y) {
            min_y = y;
            top = i;
        }
        if (y > max_y) max_y = y;
    }
    if (max_y < c.y0 || min_y > c.y1 || max_x < c.x0 || min_x > c.x1) return false;
    s->min_x = min_x;
    s->max_x = max_x;
    s->top_row = min_y > c.y0 ? min_y : c.y0;
    s->bottom_row = max_y < c.y1 ? max_y : c.y1;
    s->top = top;
    return true;
}

// a × b / d with the product formed in 64 bits and the quotient cut to 32
// bits; d > 0. The product only wraps for corners far outside the 16.16
// range, whose picture is undefined anyway.
int32_t mul_div(int64_t a, int64_t b, int64_t d) {
    const auto product = static_cast<int64_t>(static_cast<uint64_t>(a) * static_cast<uint64_t>(b));
    return low32(product / d);
}

// n / d for d > 0, truncated toward zero, low 32 bits.
inline int32_t div_positive(int64_t n, int64_t d) { return low32(n / d); }

// One edge of a chain, clipped to the clip rows. Returns false when nothing
// of it is left to step along (outside the rows, or a single row).
struct ClippedEdge {
    int32_t xt, yt, xb, yb;
    int32_t ct, colour_step;   // gouraud only
};

template <bool Gouraud>
bool take_edge(const ScreenPoint &from, const ScreenPoint &to, const uint8_t *colours,
               int from_index, int to_index, const Clip &c, ClippedEdge *e) {
    // On equal rows the corner left behind is the top.
    const bool swap = to.y < from.y;
    const ScreenPoint &t = swap ? to : from;
    const ScreenPoint &b = swap ? from : to;
    int32_t xt = t.x, yt = t.y, xb = b.x, yb = b.y;
    int32_t ct = 0, colour_step = 0;
    if constexpr (Gouraud) {
        ct = int32_t{colours[swap ? to_index : from_index]} << 16;
        const int32_t cb = int32_t{colours[swap ? from_index : to_index]} << 16;
        // The top is never below the bottom, so the height is positive.
        if (yb != yt) colour_step = div_positive(int64_t{cb} - ct, int64_t{yb} - yt);
    } else {
        (void)colours;
        (void)from_index;
        (void)to_index;
    }
    if (yb < c.y0 || yt > c.y1) return false;
    if (yt < c.y0) {
        if constexpr (Gouraud) ct = wrap_add(ct, low32((int64_t{c.y0} - yt) * colour_step));
        xt = wrap_add(xt, mul_div(int64_t{xb} - xt, int64_t{c.y0} - yt, int64_t{yb} - yt));
        yt = c.y0;
    }
    if (yb > c.y1) {
        xb = wrap_add(xb, mul_div(int64_t{xt} - xb, int64_t{yb} - c.y1, int64_t{yb} - yt));
        yb = c.y1;
    }
    if (yt == yb) return false;
    *e = ClippedEdge{xt, yt, xb, yb, ct, colour_step};
    return true;
}

int step_back(int i, int n) { return i == 0 ? n - 1 : i - 1; }
int step_forward(int i, int n) { return i == n - 1 ? 0 : i + 1; }

// ---------------------------------------------------------------------------
// Fillers

struct EdgeCursor {
    int needs_edge;
    int corner;
    int32_t x, x_step;   // 16.16
    int32_t end_row;
    int32_t colour, colour_step;   // 16.16, gouraud only
};

template <bool Gouraud>
void advance(EdgeCursor *cur, bool backward, int n, const ScreenPoint *p, const uint8_t *colours,
             const Clip &c) {
    const int from = cur->corner;
    const int to = backward ? step_back(from, n) : step_forward(from, n);
    cur->corner = to;
    ClippedEdge e;
    if (!take_edge<Gouraud>(p[from], p[to], colours, from, to, c, &e)) return;
    cur->needs_edge = 0;
    cur->x = low32(int64_t{e.xt} * 65536);
    cur->x_step = div_positive((int64_t{e.xb} - e.xt) * 65536, int64_t{e.yb} - e.yt);
    cur->end_row = e.yb;
    cur->colour = e.ct;
    cur->colour_step = e.colour_step;
}

// ---------------------------------------------------------------------------
// Span writers. Flat spans are block fills. Gouraud spans have two writers
// that put exactly the same bytes: a portable one (128-bit lanes where
// available) and a wide one with 512-bit lanes and a masked store, which
// writes a span of up to 16 pixels without a branch on its length; the wide
// one is chosen at start when the processor has it.

// 2×2 ordered dither offset of the first pixel: rows alternate 0 3 / 2 1.
inline int dither_start(int32_t x, int32_t row) { return ((row & 1) << 1) ^ ((x & 1) * 3); }

inline void store64(uint8_t *p, uint64_t v) { std::memcpy(p, &v, 8); }
inline void store32(uint8_t *p, uint32_t v) { std::memcpy(p, &v, 4); }

// Fills n >= 1 bytes with `colour` as one block fill of overlapping
// unaligned word stores: spans average about ten pixels, where a library
// call and its size dispatch cost more than the stores.
#if defined(__wasm_simd128__)
using Fill16 = v128_t;
inline Fill16 fill16_splat(uint8_t colour) { return wasm_i8x16_splat(static_cast<int8_t>(colour)); }
inline void fill16_store(uint8_t *p, Fill16 v) { wasm_v128_store(p, v); }
#elif defined(__SSE2__)
using Fill16 = __m128i;
inline Fill16 fill16_splat(uint8_t colour) { return _mm_set1_epi8(static_cast<char>(colour)); }
inline void fill16_store(uint8_t *p, Fill16 v) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v);
}
#endif

inline void fill_span(uint8_t *p, uint32_t n, uint8_t colour) {
    const uint64_t w = 0x0101010101010101ull * colour;
#if defined(__wasm_simd128__) || defined(__SSE2__)
    // 16-byte stores, the last one overlapping. Written out, because the
    // vectorised word loop spends more on its set-up than a span of a few
    // dozen pixels takes to store; a big level's near walls give long ones.
    if (n >= 16) {
        const Fill16 v = fill16_splat(colour);
        uint8_t *const last = p + n - 16;
        for (; p < last; p += 16) fill16_store(p, v);
        fill16_store(last, v);
        return;
    }
    if (n >= 8) {
        store64(p, w);
        store64(p + n - 8, w);
        return;
    }
#endif
    if (n >= 8) {
        uint8_t *const last = p + n - 8;
        for (; p < last; p += 8) store64(p, w);
        store64(last, w);
    } else if (n >= 4) {
        store32(p, static_cast<uint32_t>(w));
        store32(p + n - 4, static_cast<uint32_t>(w));
    } else {
        p[0] = colour;
        p[n >> 1] = colour;
        p[n - 1] = colour;
    }
}

// Gouraud span: pixel i is ((c_i >> 14) + D_i) >> 2, low 8 bits, with
// c_i = colour + i·step (mod 2^32) and D_i = d for even i, d ^ 3 for odd i.
// That equals the low 8 bits of (c_i + D_i·2^14) >> 16 even when the sum
// wraps (a wrap moves the shifted value by exactly 2^16), which is the form
// the vector writers compute. Pixel i depends on i alone, so a span can be
// computed in chunks, and a last chunk may overlap the one before it: the
// overlapping bytes are written twice with the same values.
inline uint8_t gouraud_pixel(uint32_t c, int d) {
    return static_cast<uint8_t>(((static_cast<int32_t>(c) >> 14) + d) >> 2);
}

#if defined(__wasm_simd128__)
// WebAssembly: the sums are kept shifted left by 8 (colour, step and D·2^14
// each times 2^8, modulo 2^32, which is the plain sum times 2^8), so that an
// arithmetic shift right by 24 leaves each pixel's byte as a value in
// -128..127, which both narrowings keep exactly: sixteen pixels are four
// adds, four shifts and three narrowings, with no mask.
alignas(16) constexpr int32_t DITHER_LANES_HIGH[4][4] = {
    {0 << 22, 3 << 22, 0 << 22, 3 << 22},
    {1 << 22, 2 << 22, 1 << 22, 2 << 22},
    {2 << 22, 1 << 22, 2 << 22, 1 << 22},
    {3 << 22, 0 << 22, 3 << 22, 0 << 22},
};

// Pixels k..k+7 in the low eight bytes, from the sum at pixel k (`at`) and
// the lanes' offsets from it (`ramp`, step·(0, 1, 2, 3) plus the dither of
// k's parity).
inline v128_t gouraud8(uint32_t at, v128_t ramp, v128_t step4) {
    const v128_t c0 = wasm_i32x4_add(wasm_i32x4_splat(static_cast<int32_t>(at)), ramp);
    const v128_t c1 = wasm_i32x4_add(c0, step4);
    const v128_t words = wasm_i16x8_narrow_i32x4(wasm_i32x4_shr(c0, 24), wasm_i32x4_shr(c1, 24));
    return wasm_i8x16_narrow_i16x8(words, words);
}

// Pixels k..k+15, likewise.
inline v128_t gouraud16(uint32_t at, v128_t ramp, v128_t step4) {
    const v128_t c0 = wasm_i32x4_add(wasm_i32x4_splat(static_cast<int32_t>(at)), ramp);
    const v128_t c1 = wasm_i32x4_add(c0, step4);
    const v128_t c2 = wasm_i32x4_add(c1, step4);
    const v128_t c3 = wasm_i32x4_add(c2, step4);
    return wasm_i8x16_narrow_i16x8(
        wasm_i16x8_narrow_i32x4(wasm_i32x4_shr(c0, 24), wasm_i32x4_shr(c1, 24)),
        wasm_i16x8_narrow_i32x4(wasm_i32x4_shr(c2, 24), wasm_i32x4_shr(c3, 24)));
}

// count >= 1. The first chunk starts at pixel 0, the last one (which may
// overlap it, or start before the span: lanes before it are not stored) at
// count - 8 or count - 16, so of count's parity; each has its dither lanes
// picked once, with no branch.
inline void gouraud_span(uint8_t *dst, uint32_t count, int32_t colour, int32_t step, int d) {
    const auto c = static_cast<uint32_t>(colour);
    const auto s = static_cast<uint32_t>(step);
    if (count < 4) {
        dst[0] = gouraud_pixel(c, d);
        if (count > 1) dst[1] = gouraud_pixel(c + s, d ^ 3);
        if (count > 2) dst[2] = gouraud_pixel(c + 2 * s, d);
        return;
    }
    const uint32_t high = s << 8, base = c << 8;
    const v128_t ramp =
        wasm_i32x4_mul(wasm_i32x4_splat(static_cast<int32_t>(high)), wasm_i32x4_make(0, 1, 2, 3));
    const v128_t first = wasm_i32x4_add(ramp, wasm_v128_load(DITHER_LANES_HIGH[d]));
    const v128_t last = wasm_i32x4_add(
        ramp, wasm_v128_load(DITHER_LANES_HIGH[d ^ static_cast<int>((count & 1) * 3)]));
    const v128_t step4 = wasm_i32x4_splat(static_cast<int32_t>(high << 2));
    if (count < 8) {
        wasm_v128_store32_lane(dst, gouraud8(base, first, step4), 0);
        wasm_v128_store32_lane(dst + count - 4, gouraud8(base + high * (count - 8), last, step4),
                               1);
        return;
    }
    if (count < 16) {
        wasm_v128_store64_lane(dst, gouraud8(base, first, step4), 0);
        wasm_v128_store64_lane(dst + count - 8, gouraud8(base + high * (count - 8), last, step4),
                               0);
        return;
    }
    uint32_t k = 0;
    for (; k + 16 <= count; k += 16)
        wasm_v128_store(dst + k, gouraud16(base + high * k, first, step4));
    if (k < count)
        wasm_v128_store(dst + count - 16, gouraud16(base + high * (count - 16), last, step4));
}
#elif defined(__SSE2__)
// D·2^14 for lanes 0..3 of a chunk that starts on an even index, by d.
alignas(16) constexpr int32_t DITHER_LANES[4][4] = {
    {0 << 14, 3 << 14, 0 << 14, 3 << 14},
    {1 << 14, 2 << 14, 1 << 14, 2 << 14},
    {2 << 14, 1 << 14, 2 << 14, 1 << 14},
    {3 << 14, 0 << 14, 3 << 14, 0 << 14},
};

struct GouraudLanes {
    __m128i even;    // step·(0, 1, 2, 3) + dither, chunk starting on an even index
    __m128i odd;     // the same for an odd index
    __m128i step4;   // step·4 in each lane
    uint32_t colour, step;
};

// Pixels k..k+7 in the low eight bytes.
inline __m128i gouraud8(const GouraudLanes &g, uint32_t k) {
    const __m128i lanes = (k & 1) ? g.odd : g.even;
    const __m128i c0 =
        _mm_add_epi32(_mm_set1_epi32(static_cast<int>(g.colour + g.step * k)), lanes);
    const __m128i c1 = _mm_add_epi32(c0, g.step4);
    // (c >> 16) always fits 16 signed bits, so the saturating pack is exact;
    // the mask keeps its low byte for the unsigned pack.
    const __m128i words = _mm_and_si128(
        _mm_packs_epi32(_mm_srai_epi32(c0, 16), _mm_srai_epi32(c1, 16)), _mm_set1_epi16(0xff));
    return _mm_packus_epi16(words, words);
}

inline void gouraud_span(uint8_t *dst, uint32_t count, int32_t colour, int32_t step, int d) {
    const auto c = static_cast<uint32_t>(colour);
    const auto s = static_cast<uint32_t>(step);
    if (count < 4) {
        for (uint32_t i = 0; i < count; ++i) dst[i] = gouraud_pixel(c + s * i, i & 1 ? d ^ 3 : d);
        return;
    }
    const __m128i ramp =
        _mm_set_epi32(static_cast<int>(3 * s), static_cast<int>(2 * s), static_cast<int>(s), 0);
    const GouraudLanes g{
        _mm_add_epi32(ramp, _mm_load_si128(reinterpret_cast<const __m128i *>(DITHER_LANES[d]))),
        _mm_add_epi32(ramp, _mm_load_si128(reinterpret_cast<const __m128i *>(DITHER_LANES[d ^ 3]))),
        _mm_set1_epi32(static_cast<int>(4 * s)), c, s};
    if (count < 8) {
        store32(dst, static_cast<uint32_t>(_mm_cvtsi128_si32(gouraud8(g, 0))));
        store32(dst + count - 4, static_cast<uint32_t>(_mm_cvtsi128_si32(gouraud8(g, count - 4))));
        return;
    }
    if (count < 16) {
        _mm_storel_epi64(reinterpret_cast<__m128i *>(dst), gouraud8(g, 0));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(dst + count - 8), gouraud8(g, count - 8));
        return;
    }
    auto chunk16 = [&g](uint32_t k) {
        return _mm_unpacklo_epi64(gouraud8(g, k), gouraud8(g, k + 8));
    };
    uint32_t k = 0;
    for (; k + 16 <= count; k += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + k), chunk16(k));
    if (k < count)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + count - 16), chunk16(count - 16));
}
#else
inline void gouraud_span(uint8_t *dst, uint32_t count, int32_t colour, int32_t step, int d) {
    const auto c = static_cast<uint32_t>(colour);
    const auto s = static_cast<uint32_t>(step);
    for (uint32_t i = 0; i < count; ++i, d ^= 3) dst[i] = gouraud_pixel(c + s * i, d);
}
#endif

#if POLY_WIDE_SPANS
// D·2^14 for the sixteen lanes of a chunk, by d (chunks start on even indices).
alignas(64) constexpr int32_t DITHER_LANES_WIDE[4][16] = {
    {0, 3 << 14, 0, 3 << 14, 0, 3 << 14, 0, 3 << 14, 0, 3 << 14, 0, 3 << 14, 0, 3 << 14, 0,
     3 << 14},
    {1 << 14, 2 << 14, 1 << 14, 2 << 14, 1 << 14, 2 << 14, 1 << 14, 2 << 14, 1 << 14, 2 << 14,
     1 << 14, 2 << 14, 1 << 14, 2 << 14, 1 << 14, 2 << 14},
    {2 << 14, 1 << 14, 2 << 14, 1 << 14, 2 << 14, 1 << 14, 2 << 14, 1 << 14, 2 << 14, 1 << 14,
     2 << 14, 1 << 14, 2 << 14, 1 << 14, 2 << 14, 1 << 14},
    {3 << 14, 0, 3 << 14, 0, 3 << 14, 0, 3 << 14, 0, 3 << 14, 0, 3 << 14, 0, 3 << 14, 0, 3 << 14,
     0},
};

// Sixteen pixels per chunk: the low byte of each lane's (c + D·2^14) >> 16,
// narrowed by truncation. (The all-lanes masked forms of the shift and the
// narrowing are the plain instructions, spelled so that no lane is left
// undefined.)
POLY_WIDE inline __m128i gouraud16_wide(__m512i c) {
    constexpr __mmask16 ALL = 0xffff;
    return _mm512_maskz_cvtepi32_epi8(ALL, _mm512_maskz_srai_epi32(ALL, c, 16));
}

POLY_WIDE inline void gouraud_span_wide(uint8_t *dst, uint32_t count, int32_t colour, int32_t step,
                                        int d) {
    const __m512i index = _mm512_set_epi32(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
    __m512i c =
        _mm512_add_epi32(_mm512_add_epi32(_mm512_set1_epi32(colour),
                                          _mm512_mullo_epi32(_mm512_set1_epi32(step), index)),
                         _mm512_load_si512(DITHER_LANES_WIDE[d]));
    const __m512i step16 = _mm512_set1_epi32(static_cast<int>(static_cast<uint32_t>(step) << 4));
    for (; count > 16; count -= 16, dst += 16, c = _mm512_add_epi32(c, step16))
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst), gouraud16_wide(c));
    // The last 1..16 pixels: a store of the first `count` bytes only.
    _mm_mask_storeu_epi8(dst, static_cast<__mmask16>((1u << count) - 1), gouraud16_wide(c));
}
#endif

// ---------------------------------------------------------------------------
// Segments: the rows between two edge changes.

// What a segment reads and reports besides the cursors.
struct SegmentContext {
    Clip clip;
    int32_t pick_x, pick_y;
    int32_t pick_hit, drawn;
};

// The part of one row's span that is written, after the pick test on the
// unclipped span; false when the span misses the clip columns.
struct FlatRun {
    int32_t left;
    uint32_t count;
};

inline bool flat_row(SegmentContext *ctx, int32_t row, uint32_t xb, uint32_t xa, FlatRun *run) {
    const auto vb = static_cast<int32_t>(xb), va = static_cast<int32_t>(xa);
    int32_t left = (vb < va ? vb : va) >> 16;
    int32_t right = (vb < va ? va : vb) >> 16;
    if (row == ctx->pick_y && left <= ctx->pick_x && ctx->pick_x <= right) ctx->pick_hit = 1;
    if (left > ctx->clip.x1 || right < ctx->clip.x0) return false;
    ctx->drawn = 1;
    if (left < ctx->clip.x0) left = ctx->clip.x0;
    if (right > ctx->clip.x1) right = ctx->clip.x1;
    *run = FlatRun{left, static_cast<uint32_t>(right - left + 1)};
    return true;
}

// The gouraud form: the cursor whose 16.16 x is smaller (the backward one on
// a tie) gives the left end and its colour; the span step is taken over the
// unclipped span, and a left cut advances the colour by that many steps.
struct GouraudRun {
    int32_t left;
    uint32_t count;
    int32_t colour, step;
    int dither;
};

// Inside: the segment lies within the clip columns (segment_inside), so the
// row needs no pick or visibility test and no cut.
template <bool Inside>
inline bool gouraud_row(SegmentContext *ctx, int32_t row, uint32_t xb, uint32_t xa, uint32_t cb,
                        uint32_t ca, GouraudRun *run) {
    const auto vb = static_cast<int32_t>(xb), va = static_cast<int32_t>(xa);
    const bool back_left = vb <= va;
    int32_t left = (back_left ? vb : va) >> 16;
    int32_t right = (back_left ? va : vb) >> 16;
    if constexpr (!Inside) {
        if (row == ctx->pick_y && left <= ctx->pick_x && ctx->pick_x <= right) ctx->pick_hit = 1;
        if (left > ctx->clip.x1 || right < ctx->clip.x0) return false;
        ctx->drawn = 1;
    }
    int32_t cl = static_cast<int32_t>(back_left ? cb : ca), step = 0;
    const auto cr = static_cast<int32_t>(back_left ? ca : cb);
    // right >= left, as the ends were ordered in 16.16.
    if (right != left) step = wrap_sub(cr, cl) / (right - left);
    if constexpr (!Inside) {
        if (left < ctx->clip.x0) {
            cl = wrap_add(cl, low32((int64_t{ctx->clip.x0} - left) * step));
            left = ctx->clip.x0;
        }
        if (right > ctx->clip.x1) right = ctx->clip.x1;
    }
    *run = GouraudRun{left, static_cast<uint32_t>(right - left + 1), cl, step,
                      dither_start(left, row)};
    return true;
}

// The cursors' x and colour are stepped in locals for the length of a
// segment so that they stay in registers across the span writes; unsigned
// sums wrap as the 16.16 values do.
struct SegmentCursors {
    uint32_t xb, xa, sb, sa;
    uint32_t cb, ca, csb, csa;
};

SegmentCursors load_cursors(const EdgeCursor &b, const EdgeCursor &a) {
    return {static_cast<uint32_t>(b.x),           static_cast<uint32_t>(a.x),
            static_cast<uint32_t>(b.x_step),      static_cast<uint32_t>(a.x_step),
            static_cast<uint32_t>(b.colour),      static_cast<uint32_t>(a.colour),
            static_cast<uint32_t>(b.colour_step), static_cast<uint32_t>(a.colour_step)};
}

void store_cursors(const SegmentCursors &k, EdgeCursor *b, EdgeCursor *a) {
    b->x = static_cast<int32_t>(k.xb);
    a->x = static_cast<int32_t>(k.xa);
    b->colour = static_cast<int32_t>(k.cb);
    a->colour = static_cast<int32_t>(k.ca);
}

// Whether every span of the rows row..end lies inside the clip columns. Along
// a segment both cursors' x are linear in the row, so when neither sum wraps
// the extremes are at the first and the last row: if their whole parts lie
// within x0..x1, no span of the segment needs the visibility test or the
// clamps. The pick test is then done once, on the pick row's span.
bool segment_inside(const SegmentContext *ctx, int32_t rows, const SegmentCursors &k) {
    const int64_t steps = rows - 1;
    const int64_t b0 = static_cast<int32_t>(k.xb), a0 = static_cast<int32_t>(k.xa);
    const int64_t b1 = b0 + steps * static_cast<int32_t>(k.sb);
    const int64_t a1 = a0 + steps * static_cast<int32_t>(k.sa);
    const int64_t lo = std::min(std::min(b0, b1), std::min(a0, a1));
    const int64_t hi = std::max(std::max(b0, b1), std::max(a0, a1));
    return lo >= int64_t{ctx->clip.x0} * 65536 && hi < (int64_t{ctx->clip.x1} + 1) * 65536;
}

// Pick test of the row pick_y within a segment whose spans need no clip.
void pick_in_segment(SegmentContext *ctx, int32_t row, int32_t end, const SegmentCursors &k) {
    if (ctx->pick_y < row || ctx->pick_y > end) return;
    const auto n = static_cast<uint32_t>(ctx->pick_y - row);
    const auto vb = static_cast<int32_t>(k.xb + n * k.sb),
               va = static_cast<int32_t>(k.xa + n * k.sa);
    const int32_t left = std::min(vb, va) >> 16, right = std::max(vb, va) >> 16;
    if (left <= ctx->pick_x && ctx->pick_x <= right) ctx->pick_hit = 1;
}

void flat_segment(SegmentContext *ctx, uint8_t *line, int32_t row, int32_t end, SegmentCursors *k,
                  uint8_t colour) {
    uint32_t xb = k->xb, xa = k->xa;
    const int32_t pitch = ctx->clip.pitch;
    if (segment_inside(ctx, end - row + 1, *k)) {
        pick_in_segment(ctx, row, end, *k);
        ctx->drawn = 1;
        for (; row <= end; ++row, line += pitch, xb += k->sb, xa += k->sa) {
            const auto vb = static_cast<int32_t>(xb), va = static_cast<int32_t>(xa);
            const int32_t left = std::min(vb, va) >> 16, right = std::max(vb, va) >> 16;
            fill_span(line + left, static_cast<uint32_t>(right - left + 1), colour);
        }
    } else {
        for (; row <= end; ++row, line += pitch, xb += k->sb, xa += k->sa) {
            FlatRun run;
            if (flat_row(ctx, row, xb, xa, &run)) fill_span(line + run.left, run.count, colour);
        }
    }
    k->xb = xb;
    k->xa = xa;
}

void gouraud_segment(SegmentContext *ctx, uint8_t *line, int32_t row, int32_t end,
                     SegmentCursors *k) {
    const bool inside = segment_inside(ctx, end - row + 1, *k);
    if (inside) {
        pick_in_segment(ctx, row, end, *k);
        ctx->drawn = 1;
    }
    uint32_t xb = k->xb, xa = k->xa, cb = k->cb, ca = k->ca;
    const int32_t pitch = ctx->clip.pitch;
    for (; row <= end; ++row, line += pitch, xb += k->sb, xa += k->sa, cb += k->csb, ca += k->csa) {
        GouraudRun run;
        if (inside ? gouraud_row<true>(ctx, row, xb, xa, cb, ca, &run)
                   : gouraud_row<false>(ctx, row, xb, xa, cb, ca, &run))
            gouraud_span(line + run.left, run.count, run.colour, run.step, run.dither);
    }
    *k = SegmentCursors{xb, xa, k->sb, k->sa, cb, ca, k->csb, k->csa};
}

#if POLY_WIDE_SPANS
// The same loop around the wide writer.
POLY_WIDE void gouraud_segment_wide(SegmentContext *ctx, uint8_t *line, int32_t row, int32_t end,
                                    SegmentCursors *k) {
    const bool inside = segment_inside(ctx, end - row + 1, *k);
    if (inside) {
        pick_in_segment(ctx, row, end, *k);
        ctx->drawn = 1;
    }
    uint32_t xb = k->xb, xa = k->xa, cb = k->cb, ca = k->ca;
    const int32_t pitch = ctx->clip.pitch;
    for (; row <= end; ++row, line += pitch, xb += k->sb, xa += k->sa, cb += k->csb, ca += k->csa) {
        GouraudRun run;
        if (inside ? gouraud_row<true>(ctx, row, xb, xa, cb, ca, &run)
                   : gouraud_row<false>(ctx, row, xb, xa, cb, ca, &run))
            gouraud_span_wide(line + run.left, run.count, run.colour, run.step, run.dither);
    }
    *k = SegmentCursors{xb, xa, k->sb, k->sa, cb, ca, k->csb, k->csa};
}
#else
void gouraud_segment_wide(SegmentContext *ctx, uint8_t *line, int32_t row, int32_t end,
                          SegmentCursors *k) {
    gouraud_segment(ctx, line, row, end, k);
}
#endif

template <bool Gouraud>
void fill(int n, const ScreenPoint *p, const uint8_t *colours, int colour) {
    RasterState &st = raster.state;
    st.pick_hit = 0;
    st.drawn = 0;
    Clip c;
    Setup s;
    if (!load_clip(st, &c) || !set_up(n, p, c, &s)) return;
    if (s.top_row == s.bottom_row) return;

    SegmentContext ctx{c, st.pick_x, st.pick_y, 0, 0};
    EdgeCursor back{1, s.top, 0, 0, 0, 0, 0};
    EdgeCursor fwd{1, s.top, 0, 0, 0, 0, 0};
    uint8_t *line = BackBuffer + s.top_row * c.pitch;
    int32_t row = s.top_row;
    while (row < s.bottom_row) {
        if (back.needs_edge) {
            advance<Gouraud>(&back, true, n, p, colours, c);
            continue;
        }
        if (fwd.needs_edge) {
            advance<Gouraud>(&fwd, false, n, p, colours, c);
            continue;
        }
        // The cursor whose edge ends first closes the segment; on a tie the
        // backward one, so the forward one then closes an empty segment.
        EdgeCursor &ends = fwd.end_row < back.end_row ? fwd : back;
        ends.needs_edge = 1;
        const int32_t segment_end = ends.end_row;
        if (segment_end < row) continue;
        SegmentCursors k = load_cursors(back, fwd);
        if constexpr (Gouraud) {
            if (raster.wide_spans < 0) raster.wide_spans = wide_spans_available();
            if (raster.wide_spans)
                gouraud_segment_wide(&ctx, line, row, segment_end, &k);
            else
                gouraud_segment(&ctx, line, row, segment_end, &k);
        } else {
            flat_segment(&ctx, line, row, segment_end, &k, static_cast<uint8_t>(colour));
        }
        store_cursors(k, &back, &fwd);
        line += (segment_end - row + 1) * c.pitch;
        row = segment_end + 1;
    }
    st.pick_hit = ctx.pick_hit;
    st.drawn = ctx.drawn;
}

// ---------------------------------------------------------------------------
// Pick test

struct PickCursor {
    int needs_edge;
    int corner;
    int32_t top_x, top_y, bottom_x, bottom_y;   // clipped ends; bottom_y is the end row
    int64_t slope;                              // whole pixels per row, truncated
};

void advance_pick(PickCursor *cur, bool backward, int n, const ScreenPoint *p, const Clip &c) {
    const int from = cur->corner;
    const int to = backward ? step_back(from, n) : step_forward(from, n);
    cur->corner = to;
    ClippedEdge e;
    if (!take_edge<false>(p[from], p[to], nullptr, from, to, c, &e)) return;
    cur->needs_edge = 0;
    cur->top_x = e.xt;
    cur->top_y = e.yt;
    cur->bottom_x = e.xb;
    cur->bottom_y = e.yb;
    cur->slope = div_positive(int64_t{e.xb} - e.xt, int64_t{e.yb} - e.yt);
}

int outcode(int32_t x, int32_t y, const Clip &c) {
    return (y < c.y0 ? 1 : 0) | (x < c.x0 ? 2 : 0) | (y > c.y1 ? 4 : 0) | (x > c.x1 ? 8 : 0);
}

bool edge_reaches_clip(const PickCursor &e, const Clip &c) {
    return (outcode(e.top_x, e.top_y, c) & outcode(e.bottom_x, e.bottom_y, c)) == 0;
}

bool pick_row_in(const PickCursor &e, int32_t y) { return e.top_y <= y && y <= e.bottom_y; }

int64_t x_at(const PickCursor &e, int32_t y) { return (int64_t{y} - e.top_y) * e.slope + e.top_x; }

}   // namespace

RasterState *raster_state() { return &raster.state; }

int poly_use_wide_spans(int on) {
    raster.wide_spans = on && wide_spans_available();
    return raster.wide_spans;
}

void poly_fill_flat(int n, const ScreenPoint *corners, int colour) {
    fill<false>(n, corners, nullptr, colour);
}

void poly_fill_gouraud(int n, const ScreenPoint *corners, const uint8_t *corner_colours) {
    fill<true>(n, corners, corner_colours, 0);
}

void poly_pick(int n, const ScreenPoint *corners) {
    RasterState &st = raster.state;
    st.pick_hit = 0;
    st.drawn = 0;
    Clip c;
    Setup s;
    if (!load_clip(st, &c) || !set_up(n, corners, c, &s)) return;
    const int32_t px = st.pick_x, py = st.pick_y;

    if (s.top_row == s.bottom_row) {
        // The rejection tests have shown the corners reach the clip columns.
        st.drawn = 1;
        if (py == s.top_row && s.min_x <= px && px <= s.max_x) st.pick_hit = 1;
        return;
    }

    int32_t hit = 0, drawn = 0;
    PickCursor back{1, s.top, 0, 0, 0, 0, 0};
    PickCursor fwd{1, s.top, 0, 0, 0, 0, 0};
    int32_t row = s.top_row;
    while (row < s.bottom_row) {
        if (back.needs_edge) {
            advance_pick(&back, true, n, corners, c);
            continue;
        }
        if (fwd.needs_edge) {
            advance_pick(&fwd, false, n, corners, c);
            continue;
        }
        PickCursor &ends = fwd.bottom_y < back.bottom_y ? fwd : back;
        ends.needs_edge = 1;
        row = ends.bottom_y;
        if (edge_reaches_clip(back, c) || edge_reaches_clip(fwd, c)) drawn = 1;
        if (pick_row_in(back, py) && pick_row_in(fwd, py)) {
            const int64_t xa = x_at(back, py), xb = x_at(fwd, py);
            const int64_t lo = xa < xb ? xa : xb, hi = xa < xb ? xb : xa;
            if (lo <= px && px <= hi) hit = 1;
        }
    }
    st.pick_hit = hit;
    st.drawn = drawn;
}
