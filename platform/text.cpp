// platform/text.cpp: text measurement with font switches, and random bytes.
#include "platform/text.h"

#include <cstdarg>
#include <cstdio>

#include "base/fatal.h"

namespace {

constexpr int TEXT_BUFFER_SIZE = 128;   // 127 characters and the NUL

// A permutation of 0..255: every value once per period.
constexpr uint8_t RANDOM_TABLE[256] = {
    227, 71,  26,  242, 32,  211, 94,  163, 235, 148, 20,  134, 51,  222, 58,  204,
    151, 139, 229, 33,  96,  104, 105, 61,  115, 225, 93,  18,  92,  187, 199, 103,
    77,  107, 183, 95,  237, 1,   66,  153, 123, 130, 30,  59,  143, 159, 63,  88,
    217, 56,  233, 133, 11,  149, 164, 210, 234, 52,  42,  5,   3,   113, 76,  53,
    98,  214, 236, 128, 171, 54,  197, 39,  64,  0,   190, 147, 80,  126, 157, 176,
    142, 251, 43,  65,  216, 174, 169, 79,  135, 55,  15,  129, 209, 89,  186, 121,
    31,  132, 60,  27,  213, 102, 177, 239, 172, 228, 83,  167, 191, 248, 205, 165,
    91,  195, 249, 13,  253, 203, 246, 232, 14,  120, 200, 7,   250, 106, 48,  28,
    41,  90,  141, 185, 70,  221, 231, 84,  155, 108, 224, 170, 219, 131, 45,  47,
    138, 136, 192, 215, 119, 201, 2,   100, 124, 73,  244, 109, 38,  220, 202, 188,
    72,  145, 226, 146, 118, 175, 161, 240, 122, 194, 207, 198, 67,  206, 10,  156,
    212, 218, 46,  245, 110, 116, 152, 111, 17,  150, 97,  35,  166, 241, 40,  29,
    208, 4,   144, 37,  162, 22,  238, 112, 140, 99,  160, 158, 69,  8,   154, 180,
    62,  85,  34,  193, 19,  255, 78,  173, 254, 81,  23,  243, 168, 82,  178, 117,
    181, 49,  230, 182, 50,  74,  114, 101, 57,  44,  12,  179, 9,   16,  137, 36,
    223, 196, 25,  24,  247, 86,  127, 68,  87,  125, 21,  184, 75,  252, 6,   189,
};

struct TextState {
    const uint8_t *fonts[FONT_SLOTS];   // null: empty slot
    int random_index;                   // 0..255
};
TextState text;

// Glyph record layout: code, width (u16 LE), height (u16 LE), pixels.
constexpr int GLYPH_HEADER = 5;

int read_u16(const uint8_t *p) { return p[0] | (p[1] << 8); }

// The glyph record for code in font, or null when the font has none.
const uint8_t *find_glyph(const uint8_t *font, uint8_t code) {
    for (const uint8_t *glyph = font; glyph[0] != 0;
         glyph += GLYPH_HEADER + read_u16(glyph + 1) * read_u16(glyph + 3)) {
        if (glyph[0] == code) return glyph;
    }
    return nullptr;
}

// Walks text as drawing would: "~" and a digit switch to that font slot,
// "~" and anything else leaves no font; every other character is looked up
// in the current font. Returns the width: glyph widths plus one pixel each.
int walk_text(const char *s) {
    const uint8_t *font = text.fonts[0];
    int width = 0;
    for (; *s != '\0'; s++) {
        if (*s == '~') {
            s++;
            if (*s == '\0') break;
            font = (*s >= '0' && *s <= '9') ? text.fonts[*s - '0'] : nullptr;
            continue;
        }
        if (font == nullptr) continue;
        const uint8_t *glyph = find_glyph(font, static_cast<uint8_t>(*s));
        if (glyph != nullptr) width += read_u16(glyph + 1) + 1;
    }
    return width;
}

}  // namespace

void text_set_font(int slot, const uint8_t *font) {
    if (slot < 0 || slot >= FONT_SLOTS) fatal_error("font slot %d out of range", slot);
    text.fonts[slot] = font;
}

int text_width(const char *s) { return walk_text(s); }

void text_format(int x, int y, const char *format, ...) {
    (void)y;   // there is no glyph drawing yet, so nothing is placed
    char buffer[TEXT_BUFFER_SIZE];
    va_list args;
    va_start(args, format);
    // A longer text is cut to the buffer rather than written past it.
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (x == -1) (void)text_width(buffer);   // centring would use it
    walk_text(buffer);
}

void rand_reset() { text.random_index = 0; }

int rand_byte() {
    int value = RANDOM_TABLE[text.random_index];
    text.random_index = (text.random_index + 1) & 255;
    return value;
}
