// platform/video.cpp: the 320x200 screen (stub while the real one is written).
#include "platform/video.h"

uint8_t *BackBuffer = nullptr;

int gfx_init(int) { return 1; }
void gfx_shutdown() {}
void gfx_clear() {}
void gfx_flip() {}

const Palette *palette_default() {
    static Palette p = {};
    return &p;
}
void palette_set(const Palette *) {}
void palette_get(Palette *palette) { *palette = Palette{}; }
void palette_black() {}
void palette_fade_in(const Palette *) {}
void palette_fade_out() {}
