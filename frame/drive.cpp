// frame/drive.cpp: driving from the keyboard and the collision pass.
#include "frame/drive.h"

#include "frame/game.h"
#include "render/camera.h"
#include "scene/mesh.h"

void vehicle_drive(Body *) {}

int mesh_box_test(const Mesh *, const Mesh *, int, int, int) { return 0; }

void mesh_box_classify(const Mesh *, const Mesh *, int *rx, int *ry, int *rz) {
    *rx = 0;
    *ry = 0;
    *rz = 0;
}

int camera_find_overlaps(const Camera *, const Mesh *, Body **) { return 0; }

void collisions_resolve(Camera *, Body *) {}

void body_collide(Body *, Body *) {}
