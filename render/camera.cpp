// render/camera.cpp: the camera record and its list of meshes.
#include "render/camera.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "base/fatal.h"
#include "scene/mesh.h"

namespace {

// Truncation toward zero of a float known to lie within -256..256.
int32_t unit_component(float v) {
    if (std::isnan(v)) return 0;
    return static_cast<int32_t>(v);
}

}   // namespace

Camera *camera_create(int32_t focal_length, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    Camera *c = static_cast<Camera *>(safe_alloc(sizeof(Camera)));
    std::memset(c, 0, sizeof *c);
    camera_set_viewport(c, focal_length, x0, y0, x1, y1);
    camera_set_position(c, 0, 0, 0, 0);
    camera_set_angles(c, 0, 0, 0, 0);
    camera_set_light(c, 0, 0, 0, 255);
    // Defined start values: the pick point at the viewport's top-left
    // corner, both initial flags 0 (from the clearing above).
    camera_set_pick(c, x0, y0);
    c->meshes = nullptr;
    c->sprite_scale = 1;
    return c;
}

void camera_set_viewport(Camera *c, int32_t focal_length, int32_t x0, int32_t y0, int32_t x1,
                         int32_t y1) {
    // The focal length divides every slope; 0 is refused where it enters
    // rather than becoming a division by zero.
    if (focal_length == 0) fatal_error("Camera: focal length 0");
    c->focal_length = focal_length;
    c->raster.x0 = x0;
    c->raster.y0 = y0;
    c->raster.x1 = x1;
    c->raster.y1 = y1;
    const int32_t hw = wrap_add(wrap_sub(x1, x0), 1) / 2;
    const int32_t hh = wrap_add(wrap_sub(y1, y0), 1) / 2;
    c->half_width = hw;
    c->half_height = hh;
    c->slope_x_min = div32(wrap_mul(wrap_neg(hw), 256), focal_length);
    c->slope_x_max = div32(wrap_mul(wrap_sub(hw, 1), 256), focal_length);
    c->slope_y_min = div32(wrap_mul(wrap_neg(hh), 256), focal_length);
    c->slope_y_max = div32(wrap_mul(wrap_sub(hh, 1), 256), focal_length);
}

void camera_set_position(Camera *c, int32_t x, int32_t y, int32_t z, int relative) {
    x = c->x = coord_set(x, c->x, relative);
    y = c->y = coord_set(y, c->y, relative);
    z = c->z = coord_set(z, c->z, relative);
    transform_set_translation(&c->view, wrap_neg(x), wrap_neg(y), wrap_neg(z));
}

void camera_set_angles(Camera *c, int32_t ax, int32_t ay, int32_t az, int relative) {
    ax = angle_set(ax, c->angle_x, relative);
    ay = angle_set(ay, c->angle_y, relative);
    az = angle_set(az, c->angle_z, relative);
    c->angle_x = ax;
    c->angle_y = ay;
    c->angle_z = az;
    // The view turns the world by -(a + 1) quarter degrees about each axis:
    // 1439 - a stays within the tables without another wrap.
    transform_set_rotation(&c->view, 1439 - ax, 1439 - ay, 1439 - az);
}

void camera_set_light(Camera *c, int32_t lx, int32_t ly, int32_t lz, int32_t ambient) {
    const float fx = static_cast<float>(lx);
    const float fy = static_cast<float>(ly);
    const float fz = static_cast<float>(lz);
    float length = sqrtf(fx * fx + fy * fy + fz * fz);
    if (length == 0.0f) length = 1.0f;
    c->light_x = unit_component(fx / length * 256.0f);
    c->light_y = unit_component(fy / length * 256.0f);
    c->light_z = unit_component(fz / length * 256.0f);
    c->ambient = ambient;
}

void camera_set_pick(Camera *c, int32_t x, int32_t y) {
    c->raster.pick_x = x;
    c->raster.pick_y = y;
}

void camera_add_mesh(Camera *c, Mesh *mesh) {
    if (!mesh_list_add(&c->meshes, mesh)) fatal_error("Camera: mesh added twice");
}

void camera_remove_mesh(Camera *c, Mesh *mesh) {
    if (!mesh_list_remove(&c->meshes, mesh)) fatal_error("Camera: removed mesh is not in the list");
}

void camera_free(Camera *c) {
    if (c == nullptr) return;
    Mesh *m = c->meshes;
    while (m != nullptr) {
        Mesh *next = m->next;
        mesh_free(m);
        m = next;
    }
    std::free(c);
}

int camera_find_overlaps(const Camera *camera, const Mesh *query, Body **list) {
    if (camera == nullptr || query == nullptr) return 0;
    int count = 0;
    for (const Mesh *m = camera->meshes; m != nullptr && count < OVERLAP_MAX; m = m->next) {
        if (m == query) continue;
        if (mesh_box_test(query, m, 0, 0, 0)) list[count++] = m->owner;
    }
    return count;
}
