// render/camera.h: the view a frame is rendered from.
//
// Positions are coordinates, angles are 0..1439, the light is a unit vector
// ×256 (or zero), slopes are ×256. The eight words from viewport x0 to the
// initial drawn flag are laid out exactly as a RasterState, and the frame
// pipeline copies them into it as one block. A camera owns nothing but its
// list of meshes (linked through Mesh::next), which camera_free releases.
//
// A focal length of 0 would divide every slope by zero: camera_create and
// camera_set_viewport end the program through fatal_error instead. So do
// adding a mesh that is already listed (the list would become a ring) and
// removing one that is not. camera_free(nullptr) is harmless.
#pragma once

#include <cstdint>

#include "render/poly.h"
#include "base/transform.h"

struct Body;
struct Mesh;

constexpr int OVERLAP_MAX = 10;

struct Camera {
    int32_t x, y, z;
    int32_t angle_x, angle_y, angle_z;
    int32_t light_x, light_y, light_z;
    int32_t ambient;        // 0..255
    int32_t focal_length;   // pixels; never 0
    RasterState raster;     // viewport, pick point, initial flags
    int32_t half_width, half_height;
    int32_t slope_x_min, slope_x_max, slope_y_min, slope_y_max;
    Transform view;   // rotation from 1439 - angles, t = -position
    Mesh *meshes;
    int32_t sprite_scale;   // sprites are drawn this many times their size; 1 from camera_create
};

// Starts with the pick point at the viewport's top-left corner and both
// initial flags 0, the light zero and the ambient 255.
Camera *camera_create(int32_t focal_length, int32_t x0, int32_t y0, int32_t x1, int32_t y1);
void camera_set_viewport(Camera *c, int32_t focal_length, int32_t x0, int32_t y0, int32_t x1,
                         int32_t y1);
void camera_set_position(Camera *c, int32_t x, int32_t y, int32_t z, int relative);
void camera_set_angles(Camera *c, int32_t ax, int32_t ay, int32_t az, int relative);
void camera_set_light(Camera *c, int32_t lx, int32_t ly, int32_t lz, int32_t ambient);
void camera_set_pick(Camera *c, int32_t x, int32_t y);
void camera_add_mesh(Camera *c, Mesh *mesh);
void camera_remove_mesh(Camera *c, Mesh *mesh);
void camera_free(Camera *c);
// Fills list (room for OVERLAP_MAX owners) in camera-list order with the
// owners of the meshes whose boxes strictly overlap the query's
// (mesh_box_test with selectors 0), skipping the query mesh; stops when the
// list is full. Returns the number written (0 for a null camera or query).
int camera_find_overlaps(const Camera *camera, const Mesh *query, Body **list);
