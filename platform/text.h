// platform/text.h: text measurement with in-line font switches ("~" and a
// digit selects one of ten font slots).
#pragma once

#include <cstdint>

// A font is Glyph records back to back, ended by a code byte of 0:
// code (1 byte), width and height (uint16 little-endian), width*height pixels.
constexpr int FONT_SLOTS = 10;
void text_set_font(int slot, const uint8_t *font);   // null empties the slot

int text_width(const char *text);
void text_format(int x, int y, const char *format, ...) __attribute__((format(printf, 3, 4)));
