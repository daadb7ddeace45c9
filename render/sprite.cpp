// render/sprite.cpp: bitmap copies with transparency, clipped to the raster
// state's clip rectangle (columns x0..x1-1, rows y0..y1-1).
//
// Positions, sizes and source offsets are carried in 64 bits: a sprite may be
// placed anywhere and claim any size, and only the clipped part ever turns
// into addresses. Every source index stays below width × height because the
// cuts never leave more rows or columns than the bitmap (or the requested
// on-screen size) has, and the scaled steps never pass the bitmap's extent.
#include "render/sprite.h"

#include <cstring>

#if defined(__x86_64__) || defined(__SSE2__)
#include <immintrin.h>
#endif
#if defined(__wasm_simd128__)
#include <wasm_simd128.h>
#endif

#include "platform/video.h"
#include "render/poly.h"

namespace {

// The clip rectangle cut to the screen; false when nothing can be drawn.
// The pitch of the back buffer comes along for the row steps.
struct Clip {
    int64_t x0, y0, x1, y1;
    int64_t pitch;
};

bool load_clip(Clip *c) {
    const RasterState *s = raster_state();
    const FrameGeometry &frame = gfx_frame();
    c->x0 = s->x0 < 0 ? 0 : s->x0;
    c->y0 = s->y0 < 0 ? 0 : s->y0;
    c->x1 = s->x1 > frame.width - 1 ? frame.width - 1 : s->x1;
    c->y1 = s->y1 > frame.height - 1 ? frame.height - 1 : s->y1;
    c->pitch = frame.pitch;
    return c->x0 <= c->x1 && c->y0 <= c->y1;
}

// Scaled rows that sample at most 64 source bytes have two vector writers
// beside the portable one: 512-bit byte permutes and masked stores where the
// processor has them (AVX-512 VBMI), and the source row scaled by 16-byte
// shuffles (AVX2 on x86-64, SIMD128 in WebAssembly). The widest the
// processor runs is chosen at first use.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define SPRITE_WIDE_ROWS 1
#define SPRITE_SHUFFLE_ROWS 1
#define SPRITE_WIDE __attribute__((target("avx512f,avx512bw,avx512vbmi")))
#define SPRITE_AVX2 __attribute__((target("avx2")))
bool row_kernel_available(int kernel) {
    __builtin_cpu_init();
    switch (kernel) {
        case SPRITE_ROWS_PORTABLE: return true;
        case SPRITE_ROWS_SHUFFLE: return __builtin_cpu_supports("avx2");
        case SPRITE_ROWS_PERMUTE:
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                   __builtin_cpu_supports("avx512vbmi");
        default: return false;
    }
}
#elif defined(__wasm_simd128__)
#define SPRITE_WIDE_ROWS 0
#define SPRITE_SHUFFLE_ROWS 1
bool row_kernel_available(int kernel) {
    return kernel == SPRITE_ROWS_PORTABLE || kernel == SPRITE_ROWS_SHUFFLE;
}
#else
#define SPRITE_WIDE_ROWS 0
#define SPRITE_SHUFFLE_ROWS 0
bool row_kernel_available(int kernel) { return kernel == SPRITE_ROWS_PORTABLE; }
#endif

struct SpriteModule {
    int row_kernel = -1;   // SPRITE_ROWS_*; -1 until first use
};
SpriteModule sprites;   // constant-initialised: usable before any constructor runs

int widest_row_kernel(int widest) {
    int kernel = widest < SPRITE_ROWS_PERMUTE ? widest : SPRITE_ROWS_PERMUTE;
    while (kernel > SPRITE_ROWS_PORTABLE && !row_kernel_available(kernel)) kernel--;
    return kernel < SPRITE_ROWS_PORTABLE ? SPRITE_ROWS_PORTABLE : kernel;
}

// floor(log2(width)) for width > 1, else 0: the row shift of scaled bitmaps.
int row_shift(int64_t width) {
    int k = 0;
    while (width > 1) {
        width >>= 1;
        ++k;
    }
    return k;
}

// Copies the n bytes of `row` that are not transparent over `out`. The
// vector loop stores whole blocks, putting back the bytes it keeps: the
// buffer ends up as if only the opaque bytes were written.
void overlay_row(uint8_t *out, const uint8_t *row, int n) {
    int i = 0;
#if defined(__SSE2__)
    const __m128i transparent = _mm_set1_epi8(static_cast<char>(BITMAP_TRANSPARENT));
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + i));
        const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i *>(out + i));
        const __m128i keep = _mm_cmpeq_epi8(v, transparent);
        const __m128i blended = _mm_or_si128(_mm_and_si128(keep, old), _mm_andnot_si128(keep, v));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), blended);
    }
#endif
    for (; i < n; ++i) {
        if (row[i] != BITMAP_TRANSPARENT) out[i] = row[i];
    }
}

// The rows of a scaled sprite from the first drawn row on: row r samples the
// source row at pixels + from(r), column i of it at columns[i] (w >= 1,
// columns rising). `scaled` keeps the last source row scaled, for the rows
// that repeat it.
struct ScaledRows {
    const uint8_t *pixels;
    int64_t sy, y_step, c0;
    int k;
    const int32_t *columns;
    int w;
    int64_t pitch;   // of the back buffer
    int64_t from(int64_t sy_now) const { return ((sy_now >> 16) << k) + c0; }
};

void draw_rows_portable(const ScaledRows &s, uint8_t *out, int64_t h) {
    uint8_t scaled[SCREEN_MAX_WIDTH];
    int64_t scaled_from = -1;   // source offset of the row in `scaled`
    int64_t sy = s.sy;
    for (int64_t r = 0; r < h; ++r, sy += s.y_step, out += s.pitch) {
        const int64_t from = s.from(sy);
        if (from != scaled_from) {
            const uint8_t *in = s.pixels + from;
            for (int i = 0; i < s.w; ++i) scaled[i] = in[s.columns[i]];
            scaled_from = from;
        }
        overlay_row(out, scaled, s.w);
    }
}

#if SPRITE_SHUFFLE_ROWS
// The shuffle writers: the sampled source bytes (1..64) are copied into a
// zeroed 64-byte block, so nothing past the last column sampled is read,
// and each chunk of the scaled row is the OR of one shuffle per 16 source
// bytes, with indices moved down by 16 for each; an index out of a
// shuffle's 16 bytes gives 0 there. The scaled row is then laid over the
// screen row as the portable path lays it. The buffers have room for the
// last chunk's whole width.
constexpr int ROW_BUFFER = SCREEN_MAX_WIDTH + 32;

struct ShuffleSetup {
    int span;    // source bytes sampled, 1..64
    int parts;   // 16-byte parts of them, 1..4
};

ShuffleSetup shuffle_setup(const ScaledRows &s, uint8_t *index, int chunk) {
    const int span = s.columns[s.w - 1] + 1;
    const int padded = (s.w + chunk - 1) / chunk * chunk;
    std::memset(index + s.w, 0, static_cast<size_t>(padded - s.w));
    for (int i = 0; i < s.w; ++i) index[i] = static_cast<uint8_t>(s.columns[i]);
    return {span, (span + 15) / 16};
}
#endif

#if SPRITE_SHUFFLE_ROWS && defined(__x86_64__)
// Lays `row` over `out` 32 bytes at a time, then as overlay_row does.
SPRITE_AVX2 void overlay_row_avx2(uint8_t *out, const uint8_t *row, int n) {
    const __m256i transparent = _mm256_set1_epi8(static_cast<char>(BITMAP_TRANSPARENT));
    int i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(row + i));
        const __m256i old = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(out + i));
        const __m256i keep = _mm256_cmpeq_epi8(v, transparent);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i), _mm256_blendv_epi8(v, old, keep));
    }
    overlay_row(out + i, row + i, n - i);
}

// Each 16-byte lane shuffles its own copy of a source part; an index moved
// below 0 or to 16 and above is pushed past 127 by a saturating add of 0x70,
// which makes the shuffle give 0.
SPRITE_AVX2 void draw_rows_shuffle(const ScaledRows &s, uint8_t *out, int64_t h) {
    alignas(32) uint8_t index[ROW_BUFFER];
    alignas(32) uint8_t scaled[ROW_BUFFER];
    alignas(16) uint8_t source[64] = {};
    const ShuffleSetup u = shuffle_setup(s, index, 32);
    const int chunks = (s.w + 31) / 32;
    const __m256i lift = _mm256_set1_epi8(0x70);
    int64_t scaled_from = -1;
    int64_t sy = s.sy;
    for (int64_t r = 0; r < h; ++r, sy += s.y_step, out += s.pitch) {
        const int64_t from = s.from(sy);
        if (from != scaled_from) {
            std::memcpy(source, s.pixels + from, static_cast<size_t>(u.span));
            __m256i part[4];
            for (int j = 0; j < u.parts; ++j)
                part[j] = _mm256_broadcastsi128_si256(
                    _mm_load_si128(reinterpret_cast<const __m128i *>(source + 16 * j)));
            for (int c = 0; c < chunks; ++c) {
                const __m256i at =
                    _mm256_load_si256(reinterpret_cast<const __m256i *>(index + 32 * c));
                __m256i v = _mm256_setzero_si256();
                for (int j = 0; j < u.parts; ++j) {
                    const __m256i local =
                        _mm256_sub_epi8(at, _mm256_set1_epi8(static_cast<char>(16 * j)));
                    v = _mm256_or_si256(
                        v, _mm256_shuffle_epi8(part[j], _mm256_adds_epu8(local, lift)));
                }
                _mm256_store_si256(reinterpret_cast<__m256i *>(scaled + 32 * c), v);
            }
            scaled_from = from;
        }
        overlay_row_avx2(out, scaled, s.w);
    }
}
#elif SPRITE_SHUFFLE_ROWS
// WebAssembly: a swizzle gives 0 for any index of 16 and above, and an index
// moved below 0 wraps to one. The overlay picks bytes by a bit select.
// A row of 16 or more bytes ends with a block that overlaps the one before:
// laying the same bytes over a byte twice leaves what laying them once does.
void overlay_row_simd128(uint8_t *out, const uint8_t *row, int n) {
    if (n < 16) {
        overlay_row(out, row, n);
        return;
    }
    const v128_t transparent = wasm_i8x16_splat(static_cast<int8_t>(BITMAP_TRANSPARENT));
    auto block = [&](int i) {
        const v128_t v = wasm_v128_load(row + i);
        const v128_t keep = wasm_i8x16_eq(v, transparent);
        wasm_v128_store(out + i, wasm_v128_bitselect(wasm_v128_load(out + i), v, keep));
    };
    for (int i = 0; i + 16 < n; i += 16) block(i);
    block(n - 16);
}

// A row with no transparent byte is a copy: 16-byte stores, the last one
// overlapping the one before. Its place is picked in the loop, so that the
// loop is no plain copy that the compiler would turn into a block copy (a
// call, see copy_source); under 16 bytes, two overlapping pieces.
void copy_row_simd128(uint8_t *out, const uint8_t *row, int n) {
    if (n >= 16) {
        for (int i = 0;; i += 16) {
            const int at = i + 16 < n ? i : n - 16;
            wasm_v128_store(out + at, wasm_v128_load(row + at));
            if (at == n - 16) return;
        }
    }
    uint64_t a, b;
    uint32_t c, d;
    if (n >= 8) {
        std::memcpy(&a, row, 8);
        std::memcpy(&b, row + n - 8, 8);
        std::memcpy(out, &a, 8);
        std::memcpy(out + n - 8, &b, 8);
    } else if (n >= 4) {
        std::memcpy(&c, row, 4);
        std::memcpy(&d, row + n - 4, 4);
        std::memcpy(out, &c, 4);
        std::memcpy(out + n - 4, &d, 4);
    } else {
        out[0] = row[0];   // n >= 1
        if (n > 1) out[1] = row[1];
        if (n > 2) out[2] = row[2];
    }
}

// The sampled source bytes (1..64) into the front of `to`: whole 16-byte
// parts by vector loads and the rest in 8-, 4-, 2- and 1-byte pieces, all of
// fixed size and none in a loop. A loop of copies would be turned into a
// block copy, which in WebAssembly is a call out of the module, several
// times the cost of the copy at this size.
void copy_source(uint8_t *to, const uint8_t *in, int span) {
    const int whole = span & ~15;
    if (whole >= 16) wasm_v128_store(to, wasm_v128_load(in));
    if (whole >= 32) wasm_v128_store(to + 16, wasm_v128_load(in + 16));
    if (whole >= 48) wasm_v128_store(to + 32, wasm_v128_load(in + 32));
    if (whole >= 64) wasm_v128_store(to + 48, wasm_v128_load(in + 48));
    to += whole;
    in += whole;
    const int rest = span - whole;
    if (rest & 8) {
        std::memcpy(to, in, 8);
        to += 8;
        in += 8;
    }
    if (rest & 4) {
        std::memcpy(to, in, 4);
        to += 4;
        in += 4;
    }
    if (rest & 2) {
        std::memcpy(to, in, 2);
        to += 2;
        in += 2;
    }
    if (rest & 1) *to = *in;
}

void draw_rows_shuffle(const ScaledRows &s, uint8_t *out, int64_t h) {
    alignas(16) uint8_t index[ROW_BUFFER];
    alignas(16) uint8_t scaled[ROW_BUFFER];
    alignas(16) uint8_t source[64] = {};
    const ShuffleSetup u = shuffle_setup(s, index, 16);
    const int chunks = (s.w + 15) / 16;
    bool opaque = false;
    int64_t scaled_from = -1;
    int64_t sy = s.sy;
    for (int64_t r = 0; r < h; ++r, sy += s.y_step, out += s.pitch) {
        const int64_t from = s.from(sy);
        if (from != scaled_from) {
            copy_source(source, s.pixels + from, u.span);
            // Sampled from source bytes none of which is transparent (the
            // zeroed rest of the block never is), the row is opaque.
            const v128_t transparent = wasm_i8x16_splat(static_cast<int8_t>(BITMAP_TRANSPARENT));
            // The four parts as four values rather than an array indexed in
            // a loop, which would be kept in memory; parts past the span are
            // zeros.
            const v128_t p0 = wasm_v128_load(source), p1 = wasm_v128_load(source + 16),
                         p2 = wasm_v128_load(source + 32), p3 = wasm_v128_load(source + 48);
            const v128_t holes = wasm_v128_or(
                wasm_v128_or(wasm_i8x16_eq(p0, transparent), wasm_i8x16_eq(p1, transparent)),
                wasm_v128_or(wasm_i8x16_eq(p2, transparent), wasm_i8x16_eq(p3, transparent)));
            opaque = !wasm_v128_any_true(holes);
            const v128_t sixteen = wasm_i8x16_splat(16);
            for (int c = 0; c < chunks; ++c) {
                v128_t at = wasm_v128_load(index + 16 * c);
                v128_t v = wasm_i8x16_swizzle(p0, at);
                if (u.parts > 1) {
                    at = wasm_i8x16_sub(at, sixteen);
                    v = wasm_v128_or(v, wasm_i8x16_swizzle(p1, at));
                }
                if (u.parts > 2) {
                    at = wasm_i8x16_sub(at, sixteen);
                    v = wasm_v128_or(v, wasm_i8x16_swizzle(p2, at));
                }
                if (u.parts > 3) {
                    at = wasm_i8x16_sub(at, sixteen);
                    v = wasm_v128_or(v, wasm_i8x16_swizzle(p3, at));
                }
                wasm_v128_store(scaled + 16 * c, v);
            }
            scaled_from = from;
        }
        if (opaque)
            copy_row_simd128(out, scaled, s.w);
        else
            overlay_row_simd128(out, scaled, s.w);
    }
}
#endif

#if SPRITE_WIDE_ROWS
// When a row samples no more than 64 source bytes, each 64-pixel chunk of it
// is one byte permute of those bytes, and a masked store writes exactly its
// opaque pixels. The source bytes are read by a masked load that stops at
// the last column sampled, so nothing past it is touched.
SPRITE_WIDE void draw_rows_wide(const ScaledRows &s, uint8_t *out, int64_t h) {
    constexpr int CHUNKS = (SCREEN_MAX_WIDTH + 63) / 64;
    const int span = s.columns[s.w - 1] + 1;   // 1..64
    const __mmask64 source_mask = span == 64 ? ~__mmask64{0} : (__mmask64{1} << span) - 1;
    const int chunks = (s.w + 63) / 64;
    alignas(64) uint8_t index_bytes[CHUNKS * 64];
    std::memset(index_bytes, 0, static_cast<size_t>(chunks) * 64);
    for (int i = 0; i < s.w; ++i) index_bytes[i] = static_cast<uint8_t>(s.columns[i]);
    __m512i index[CHUNKS];
    __mmask64 store_mask[CHUNKS];
    for (int c = 0; c < chunks; ++c) {
        index[c] = _mm512_load_si512(index_bytes + 64 * c);
        const int left = s.w - 64 * c;
        store_mask[c] = left >= 64 ? ~__mmask64{0} : (__mmask64{1} << left) - 1;
    }
    const __m512i transparent = _mm512_set1_epi8(static_cast<char>(BITMAP_TRANSPARENT));
    int64_t sy = s.sy;
    for (int64_t r = 0; r < h; ++r, sy += s.y_step, out += s.pitch) {
        const __m512i source = _mm512_maskz_loadu_epi8(source_mask, s.pixels + s.from(sy));
        for (int c = 0; c < chunks; ++c) {
            // The all-lanes zero-masked permute is the plain one, spelled so
            // that no lane is left undefined.
            const __m512i v = _mm512_maskz_permutexvar_epi8(~__mmask64{0}, index[c], source);
            const __mmask64 opaque = _mm512_mask_cmpneq_epi8_mask(store_mask[c], v, transparent);
            _mm512_mask_storeu_epi8(out + 64 * c, opaque, v);
        }
    }
}
#endif

}   // namespace

void sprite_draw(int x_in, int y_in, const Bitmap *bitmap) {
    const int64_t width = bitmap_width(bitmap), height = bitmap_height(bitmap);
    Clip c;
    if (width < 1 || height < 1 || !load_clip(&c)) return;
    int64_t x = x_in, y = y_in;
    if (y + height < c.y0 || y > c.y1 || x + width < c.x0 || x > c.x1) return;

    int64_t rows = height, columns = width, src = 0;
    if (y < c.y0) {
        const int64_t d = c.y0 - y;
        rows -= d;
        src += d * width;
        y = c.y0;
    }
    if (y + rows > c.y1) rows = c.y1 - y;
    if (x < c.x0) {
        const int64_t d = c.x0 - x;
        columns -= d;
        src += d;
        x = c.x0;
    }
    if (x + columns > c.x1) columns = c.x1 - x;
    if (rows <= 0 || columns <= 0) return;

    const uint8_t *in = bitmap_pixels(bitmap) + src;
    uint8_t *out = BackBuffer + y * c.pitch + x;
    for (int64_t r = 0; r < rows; ++r, in += width, out += c.pitch) {
        for (int64_t i = 0; i < columns; ++i) {
            const uint8_t v = in[i];
            if (v != BITMAP_TRANSPARENT) out[i] = v;
        }
    }
}

void sprite_draw_scaled(int cx, int cy, int w_in, int h_in, const Bitmap *bitmap) {
    const int64_t width = bitmap_width(bitmap), height = bitmap_height(bitmap);
    Clip c;
    // A negative size leaves nothing after the cuts; say so up front.
    if (width < 1 || height < 1 || w_in < 0 || h_in < 0 || !load_clip(&c)) return;
    int64_t w = w_in, h = h_in;
    int64_t x = cx - w / 2, y = cy - h / 2;
    if (y + h < c.y0 || y > c.y1 || x + w < c.x0 || x > c.x1) return;
    if (w == 0) w = 1;
    if (h == 0) h = 1;
    const int64_t x_step = width * 65536 / w;
    const int64_t y_step = height * 65536 / h;
    const int k = row_shift(width);

    int64_t sy = 0;
    if (y < c.y0) {
        const int64_t d = c.y0 - y;
        h -= d;
        sy = d * y_step;
        y = c.y0;
    }
    if (y + h > c.y1) h = c.y1 - y;
    int64_t sx = 0;
    if (x < c.x0) {
        const int64_t d = c.x0 - x;
        w -= d;
        sx = d * x_step;
        x = c.x0;
    }
    if (x + w > c.x1) w = c.x1 - x;
    if (h <= 0 || w <= 0) return;

    // The left cut's fraction is dropped: each drawn row restarts at the
    // whole source column c0 with the position at 0, so column i of every
    // row samples source column c0 + (i × x_step >> 16). The columns are
    // worked out once for all rows (w is below the frame's width here).
    int32_t columns[SCREEN_MAX_WIDTH];
    for (int64_t i = 0; i < w; ++i) columns[i] = static_cast<int32_t>((i * x_step) >> 16);
    const ScaledRows rows{bitmap_pixels(bitmap), sy,     y_step, sx >> 16, k, columns,
                          static_cast<int>(w),   c.pitch};
    uint8_t *out = BackBuffer + y * c.pitch + x;
    if (sprites.row_kernel < 0) sprites.row_kernel = widest_row_kernel(SPRITE_ROWS_PERMUTE);
    if (columns[w - 1] < 64) {
#if SPRITE_WIDE_ROWS
        if (sprites.row_kernel == SPRITE_ROWS_PERMUTE) {
            draw_rows_wide(rows, out, h);
            return;
        }
#endif
#if SPRITE_SHUFFLE_ROWS
        if (sprites.row_kernel == SPRITE_ROWS_SHUFFLE) {
            draw_rows_shuffle(rows, out, h);
            return;
        }
#endif
    }
    draw_rows_portable(rows, out, h);
}

int sprite_use_row_kernel(int widest) {
    sprites.row_kernel = widest_row_kernel(widest);
    return sprites.row_kernel;
}

const char *sprite_row_kernel_name(int kernel) {
    switch (kernel) {
        case SPRITE_ROWS_PORTABLE: return "portable";
#if defined(__wasm_simd128__)
        case SPRITE_ROWS_SHUFFLE: return "simd128";
#else
        case SPRITE_ROWS_SHUFFLE: return "avx2";
#endif
        case SPRITE_ROWS_PERMUTE: return "avx512";
        default: return "?";
    }
}
