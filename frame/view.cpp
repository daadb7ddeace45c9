// frame/view.cpp: the view's size and the camera made for it.
#include "frame/view.h"

#include "render/camera.h"

namespace {
struct ViewState {
    int scale = 1;
    int widescreen = 0;
};
ViewState view;
}   // namespace

bool view_set(int scale, int widescreen) {
    if (scale < 1 || scale > VIEW_SCALE_MAX) return false;
    view.scale = scale;
    view.widescreen = widescreen != 0;
    return true;
}

int view_scale() { return view.scale; }
int view_widescreen() { return view.widescreen; }

// 16:9 of a picture 240 × scale units high is 426 2/3 × scale columns wide:
// rounded to the nearest column.
int view_width() { return view.widescreen ? (1280 * view.scale + 1) / 3 : 320 * view.scale; }
int view_height() { return 200 * view.scale; }

Camera *view_camera_create() {
    Camera *c =
        camera_create(VIEW_FOCAL_LENGTH * view.scale, 0, 0, view_width() - 1, view_height() - 1);
    c->sprite_scale = view.scale;
    return c;
}
