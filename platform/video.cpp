// platform/video.cpp: the back buffer, the frame flip and the palette.
#include "platform/video.h"

#include <cstdlib>
#include <cstring>

#include "base/fatal.h"
#include "platform/backend.h"
#include "platform/flip.h"

uint8_t *BackBuffer = nullptr;

namespace {

// The ten ramps of the default palette are built from five lists of 24
// component values, indexed by shade.
using Ramp = uint8_t[24];
constexpr Ramp RAMP_B = {0,  3,  6,  8,  11, 14, 17, 20, 22, 25, 28, 31,
                         33, 36, 39, 42, 44, 47, 50, 53, 56, 58, 61, 63};
constexpr Ramp RAMP_H = {0,  2,  3,  4,  6,  7,  8,  10, 11, 13, 14, 15,
                         17, 18, 20, 21, 22, 24, 25, 27, 28, 29, 31, 32};
constexpr Ramp RAMP_Q = {0, 1, 1, 2, 2, 3, 3,  4,  4,  5,  6,  6,
                         7, 7, 8, 8, 9, 9, 10, 10, 11, 12, 12, 13};
constexpr Ramp RAMP_R = {0,  2,  4,  6,  8,  10, 12, 14, 16, 18, 20, 22,
                         24, 26, 28, 29, 31, 33, 35, 37, 39, 41, 43, 45};
constexpr Ramp RAMP_G = {0, 1, 2,  2,  3,  4,  4,  5,  6,  6,  7,  8,
                         8, 9, 10, 11, 11, 12, 13, 13, 14, 15, 15, 16};
constexpr Ramp RAMP_ZERO = {};

struct RampColours {
    const uint8_t *red, *green, *blue;
};
// clang-format off
constexpr RampColours RAMPS[10] = {
    {RAMP_B, RAMP_ZERO, RAMP_ZERO}, {RAMP_ZERO, RAMP_B, RAMP_ZERO},
    {RAMP_ZERO, RAMP_ZERO, RAMP_B}, {RAMP_ZERO, RAMP_B, RAMP_B},
    {RAMP_B, RAMP_B, RAMP_ZERO},    {RAMP_B, RAMP_B, RAMP_B},
    {RAMP_B, RAMP_H, RAMP_ZERO},    {RAMP_B, RAMP_Q, RAMP_B},
    {RAMP_B, RAMP_ZERO, RAMP_H},    {RAMP_R, RAMP_G, RAMP_B},
};
// clang-format on

// Colours 240..255: the sixteen colours of the old 16-colour adapters.
// clang-format off
constexpr uint8_t FIXED_COLOURS[16][3] = {
    {0, 0, 0},    {0, 0, 42},   {0, 42, 0},   {0, 42, 42},
    {42, 0, 0},   {42, 0, 42},  {42, 21, 0},  {42, 42, 42},
    {21, 21, 21}, {21, 21, 63}, {21, 63, 21}, {21, 63, 63},
    {63, 21, 21}, {63, 21, 63}, {63, 63, 21}, {63, 63, 63},
};
// clang-format on

constexpr Palette make_default_palette() {
    Palette p = {};
    for (int ramp = 0; ramp < 10; ramp++) {
        for (int shade = 0; shade < 24; shade++) {
            uint8_t *rgb = &p.rgb[(ramp * 24 + shade) * 3];
            rgb[0] = RAMPS[ramp].red[shade];
            rgb[1] = RAMPS[ramp].green[shade];
            rgb[2] = RAMPS[ramp].blue[shade];
        }
    }
    for (int i = 0; i < 16; i++) {
        for (int c = 0; c < 3; c++) p.rgb[(240 + i) * 3 + c] = FIXED_COLOURS[i][c];
    }
    return p;
}
constexpr Palette DEFAULT_PALETTE = make_default_palette();

static_assert(GFX_FLIP_PORTABLE == FLIP_PORTABLE && GFX_FLIP_SSE2 == FLIP_128 &&
              GFX_FLIP_AVX2 == FLIP_AVX2 && GFX_FLIP_WIDEST == FLIP_KERNELS - 1);

struct VideoState {
    uint8_t *previous;   // previous-frame buffer, double-buffer mode only
    int single_buffer;
    int plain;                     // plat_video_memory_plain() at gfx_init
    int active;                    // 1 between gfx_init and gfx_shutdown
    int kernel_narrowing;          // GFX_FLIP_WIDEST minus the widest kernel allowed
    FlipKernel kernel;             // chosen by gfx_init (platform/flip.h)
    FrameGeometry frame;           // of the buffers in use
    int next_width, next_height;   // the size the next gfx_init opens
};
VideoState video = {nullptr,
                    0,
                    0,
                    0,
                    0,
                    nullptr,
                    {SCREEN_WIDTH, SCREEN_HEIGHT, SCREEN_WIDTH, SCREEN_SIZE},
                    SCREEN_WIDTH,
                    SCREEN_HEIGHT};

constexpr int BLOCK_BYTES = 64;   // frames are sized in whole blocks
static_assert(SCREEN_SIZE % BLOCK_BYTES == 0 && SCREEN_MAX_BYTES % BLOCK_BYTES == 0);

void free_buffers() {
    std::free(video.previous);
    std::free(BackBuffer);
    video.previous = nullptr;
    BackBuffer = nullptr;
}

}   // namespace

int gfx_init(int single_buffer) {
    if (video.active) gfx_shutdown();
    // Marked active before anything can fail, so the shutdown that a fatal
    // error runs frees what was allocated and gives the mode back.
    video.active = 1;
    video.single_buffer = single_buffer;
    video.plain = plat_video_memory_plain() ? 1 : 0;
    video.kernel = flip_kernel(flip_choose(GFX_FLIP_WIDEST - video.kernel_narrowing));
    const int32_t w = video.next_width, h = video.next_height;
    const int32_t bytes = (w * h + BLOCK_BYTES - 1) / BLOCK_BYTES * BLOCK_BYTES;
    video.frame = FrameGeometry{w, h, w, bytes};
    BackBuffer = static_cast<uint8_t *>(safe_alloc(static_cast<size_t>(bytes)));
    std::memset(BackBuffer, 0, static_cast<size_t>(bytes));
    if (single_buffer == 0) {
        video.previous = static_cast<uint8_t *>(safe_alloc(static_cast<size_t>(bytes)));
        std::memset(video.previous, 0, static_cast<size_t>(bytes));
    }
    plat_set_frame(w, h, w, bytes);
    plat_set_mode(PLAT_MODE_GRAPHICS);
    palette_set(palette_default());
    return 1;
}

void gfx_shutdown() {
    if (!video.active) return;
    video.active = 0;
    plat_set_mode(PLAT_MODE_TEXT);
    free_buffers();
}

void gfx_clear() {
    if (!video.active) return;
    std::memset(BackBuffer, 0, static_cast<size_t>(video.frame.bytes));
}

void gfx_flip() {
    if (!video.active) return;
    uint8_t *vram = plat_video_memory();
    if (vram == nullptr) return;
    if (video.single_buffer) {
        std::memcpy(vram, BackBuffer, static_cast<size_t>(video.frame.bytes));
    } else {
        // Video memory holds the previous frame (both start as zeros at the
        // switch to graphics mode), so where it is plain memory one block
        // copy, a fraction of the cost of comparing the two frames, leaves it
        // the same. The buffers swap either way: the next frame is drawn over
        // the one before last.
        const auto bytes = static_cast<size_t>(video.frame.bytes);
        if (video.plain)
            std::memcpy(vram, BackBuffer, bytes);
        else
            video.kernel(BackBuffer, video.previous, vram, bytes);
        uint8_t *shown = BackBuffer;
        BackBuffer = video.previous;
        video.previous = shown;
    }
    plat_present();
}

const FrameGeometry &gfx_frame() { return video.frame; }

bool gfx_set_frame_size(int width, int height) {
    if (width < 1 || width > SCREEN_MAX_WIDTH || height < 1 || height > SCREEN_MAX_HEIGHT)
        return false;
    video.next_width = width;
    video.next_height = height;
    return true;
}

void gfx_set_flip_kernel(int widest_allowed) {
    // Stored inverted so that the zero-initialised state allows the widest.
    video.kernel_narrowing = GFX_FLIP_WIDEST - widest_allowed;
}

const Palette *palette_default() { return &DEFAULT_PALETTE; }

void palette_set(const Palette *palette) {
    int rgb[PLAT_PALETTE_INTS];
    // Each byte is widened as a signed byte; the colour registers keep only
    // the low six bits, so components are meant to be 0..63.
    for (int i = 0; i < PLAT_PALETTE_INTS; i++) rgb[i] = static_cast<int8_t>(palette->rgb[i]);
    plat_set_palette(rgb);
}

void palette_get(Palette *palette) {
    int rgb[PLAT_PALETTE_INTS];
    plat_get_palette(rgb);
    for (int i = 0; i < PLAT_PALETTE_INTS; i++) palette->rgb[i] = static_cast<uint8_t>(rgb[i]);
}

void palette_black() {
    constexpr Palette black = {};
    palette_set(&black);
}

void palette_fade_in(const Palette *target) {
    Palette work = {};
    for (int step = 0; step < 64; step++) {
        for (int i = 0; i < PLAT_PALETTE_INTS; i++) {
            if (work.rgb[i] < target->rgb[i]) work.rgb[i]++;
        }
        palette_set(&work);
    }
}

void palette_fade_out() {
    Palette work;
    palette_get(&work);
    for (int step = 0; step < 64; step++) {
        for (int i = 0; i < PLAT_PALETTE_INTS; i++) {
            if (work.rgb[i] > 0) work.rgb[i]--;
        }
        palette_set(&work);
    }
}
