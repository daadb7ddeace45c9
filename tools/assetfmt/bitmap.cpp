// tools/assetfmt/bitmap.cpp: nearest-colour mapping into the palette.
#include "tools/assetfmt/bitmap.h"

#include "platform/video.h"

namespace {

// 6-bit VGA component to 8 bits, full scale to full scale.
int widen(uint8_t c) { return (c << 2) | (c >> 4); }

void put_int(std::vector<uint8_t> *out, int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; i++) out->push_back(static_cast<uint8_t>(u >> (8 * i)));
}

}   // namespace

int bitmap_nearest(const Palette *palette, int r, int g, int b) {
    int best = 0;
    long best_d = -1;
    for (int i = 0; i < BITMAP_TRANSPARENT; i++) {
        const long dr = widen(palette->rgb[3 * i]) - r;
        const long dg = widen(palette->rgb[3 * i + 1]) - g;
        const long db = widen(palette->rgb[3 * i + 2]) - b;
        const long d = dr * dr + dg * dg + db * db;
        if (best_d < 0 || d < best_d) {
            best = i;
            best_d = d;
        }
    }
    return best;
}

bool bitmap_from_rgba(const uint8_t *rgba, int width, int height, const Palette *palette,
                      std::vector<uint8_t> *out, std::string *error) {
    if (width < 1 || height < 1 || width > BITMAP_SIZE_MAX || height > BITMAP_SIZE_MAX) {
        *error =
            "size " + std::to_string(width) + "x" + std::to_string(height) + " is outside 1..32767";
        return false;
    }
    if ((width & (width - 1)) != 0) {
        *error = "width " + std::to_string(width) +
                 " is not a power of two (sprites are drawn with a shift per row)";
        return false;
    }
    out->clear();
    put_int(out, width);
    put_int(out, height);
    const long count = long{width} * height;
    for (long i = 0; i < count; i++) {
        const uint8_t *p = rgba + 4 * i;
        out->push_back(p[3] < 128
                           ? BITMAP_TRANSPARENT
                           : static_cast<uint8_t>(bitmap_nearest(palette, p[0], p[1], p[2])));
    }
    return true;
}
