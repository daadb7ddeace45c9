// frame/view.h: the size the world is drawn at. The view is 320x200 at scale
// 1 and scale × 320 by scale × 200 at scales 2..6, with the focal length and
// the sprites' size multiplied by the scale, so every scale shows the same
// scene with more detail. Widescreen widens the view to the 16:9 shape of a
// screen (427 columns at 200 rows, rows shown a fifth taller than wide as at
// 4:3) with the same rows and focal length, so more of the world shows at the
// sides. Set before game_startup; the default is scale 1, 4:3.
#pragma once

constexpr int VIEW_SCALE_MAX = 6;
constexpr int VIEW_FOCAL_LENGTH = 300;   // at scale 1, in pixels

// False, and nothing changed, for a scale outside 1..VIEW_SCALE_MAX.
bool view_set(int scale, int widescreen);
int view_scale();
int view_widescreen();
int view_width();   // of the frame, in pixels
int view_height();

struct Camera;
// A camera for the level with the view's viewport, focal length and sprite
// scale.
Camera *view_camera_create();
