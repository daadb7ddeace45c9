// platform/text.cpp: text and random bytes (stub while the real one is written).
#include "platform/text.h"

void text_set_font(int, const uint8_t *) {}
int text_width(const char *) { return 0; }
void text_format(int, int, const char *, ...) {}
void rand_reset() {}
int rand_byte() { return 0; }
