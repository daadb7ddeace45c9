// platform/kbd.cpp: the raw keyboard (stub while the real one is written).
#include "platform/kbd.h"

void kbd_init() {}
void kbd_shutdown() {}
int kbd_is_down(int) { return 0; }
int kbd_was_hit(int) { return 0; }
int kbd_read_char() { return 0; }
void kbd_clear() {}
void kbd_event_handler(int, int) {}
