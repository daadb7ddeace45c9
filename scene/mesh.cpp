#include "scene/mesh.h"

Mesh *mesh_create(Body *, int32_t, int32_t, const int32_t *) { return nullptr; }
int mesh_add_face(Mesh *, FaceFlags, const int32_t *, int) { return 1; }
void mesh_finish(Mesh *) {}
void mesh_set_position(Mesh *, int32_t, int32_t, int32_t, int) {}
void mesh_set_angles(Mesh *, int32_t, int32_t, int32_t, int) {}
Mesh *mesh_create_sprite(Body *, FaceFlags, int32_t, int32_t, int32_t) { return nullptr; }
void mesh_free(Mesh *) {}
void mesh_get_position(const Mesh *, int32_t *x, int32_t *y, int32_t *z) { *x = *y = *z = 0; }
void mesh_get_angles(const Mesh *, int32_t *a, int32_t *b, int32_t *c) { *a = *b = *c = 0; }
