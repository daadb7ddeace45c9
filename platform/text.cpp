// platform/text.cpp: text measurement with font switches.
#include "platform/text.h"

#include <cstdarg>
#include <cstdio>

#include "base/fatal.h"

namespace {

constexpr int TEXT_BUFFER_SIZE = 128;   // 127 characters and the NUL

struct TextState {
    const uint8_t *fonts[FONT_SLOTS];   // null: empty slot
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

}   // namespace

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
