// render/sprite.cpp: bitmap sprites (stubs for now).
#include "render/sprite.h"

void sprite_draw(int, int, const Bitmap *) {}
void sprite_draw_scaled(int, int, int, int, const Bitmap *) {}
