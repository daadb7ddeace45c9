// frame/hud.h: what the player is told outside the 320x200 picture: a status
// line (time left and speed) for the window's title or the page's footer,
// and, on request, a small map of the level with the car on it, shown by the
// backend beside the picture. Neither ever touches video memory, so the
// frames are those of a game without them.
//
// The frame loop calls hud_begin when a game starts and hud_update after
// every frame and every present of a pause. The status line changes only
// when its text does: "42 s left · 63 km/h", with "paused" or "demo" in
// front when so. Speed is the player's, in km/h (5000 units a metre, 70.086
// frames a second).
#pragma once

#include <cstdint>

#include "platform/backend.h"

constexpr int KEY_M = 50;

constexpr int HUD_STATUS_MAX = 96;

// The map's side in pixels; it is a square of palette indices.
constexpr int HUD_MAP_SIDE = PLAT_SIDE_PICTURE;

// timed: the seconds the game lasts, counted down on the status line; 0 when
// no limit runs (a demo playing).
void hud_begin(int timed);
void hud_update();
// The map's setting (off at start); M in the game toggles it.
void hud_show_map(int on);
void hud_toggle_map();
int hud_map_shown();

// What hud_update last built, for tests: the status line and the map.
const char *hud_status();
const uint8_t *hud_map();

// km/h for a velocity in world units a frame; exposed for tests.
int32_t hud_speed_kmh(int32_t vx, int32_t vz);
