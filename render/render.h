// render/render.h: the frame pipeline: sphere visibility, back-face culling,
// lazy once-per-frame vertex transform, near-plane clipping at z = 256, the
// draw list, the depth sort and drawing far to near.
//
// render_frame(camera, 1) draws into the back buffer; with 0 it only tests
// the pick point and writes nothing. It returns the mesh of the nearest face
// that reached the clip rectangle and covered the pick point, or null.
#pragma once

struct Camera;
struct Mesh;

Mesh *render_frame(Camera *camera, int draw);
int mesh_visible(Mesh *mesh);
void mesh_transform_faces(Mesh *mesh);
