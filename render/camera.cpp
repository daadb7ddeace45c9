#include "render/camera.h"

Camera *camera_create(int32_t, int32_t, int32_t, int32_t, int32_t) { return nullptr; }
void camera_set_viewport(Camera *, int32_t, int32_t, int32_t, int32_t, int32_t) {}
void camera_set_position(Camera *, int32_t, int32_t, int32_t, int) {}
void camera_set_angles(Camera *, int32_t, int32_t, int32_t, int) {}
void camera_set_light(Camera *, int32_t, int32_t, int32_t, int32_t) {}
void camera_set_pick(Camera *, int32_t, int32_t) {}
void camera_add_mesh(Camera *, Mesh *) {}
void camera_remove_mesh(Camera *, Mesh *) {}
void camera_free(Camera *) {}
