// render/face.h: projection and shading of one listed face.
//
// face_project fills the render state's screen points from the face's clipped
// corners, projecting each vertex once per frame (its stamp says whether it
// still needs it). face_draw shades the face and hands it to the flat or
// gouraud filler, or draws its bitmap scaled, locking it in the cache for the
// duration of the call. A sprite's bitmap is checked against its resource's
// size before it is used (width and height at least 1 and below 2^15, all
// pixels inside the resource); a bad one ends the program naming the resource.
#pragma once

struct Face;

void face_project(Face *face);
void face_draw(Face *face);
