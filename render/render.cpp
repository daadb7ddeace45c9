// The frame pipeline (stub; real code follows).
#include "render/render.h"

Mesh *render_frame(Camera *, int) { return nullptr; }
int mesh_visible(Mesh *) { return 0; }
void mesh_transform_faces(Mesh *) {}
