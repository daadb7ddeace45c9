// Projection and shading of one listed face (stub; real code follows).
#include "render/face.h"

void face_project(Face *) {}
void face_draw(Face *) {}
