#include "render/transform.h"

void transform_set_rotation(Transform *, int32_t, int32_t, int32_t) {}
void transform_set_translation(Transform *, int32_t, int32_t, int32_t) {}
void transform_point(const Transform *, int32_t *, int32_t *, int32_t *) {}
void transform_point_inverse(const Transform *, int32_t *, int32_t *, int32_t *) {}
void transform_rotate_translation(Transform *) {}
void transform_concat(const Transform *, const Transform *, Transform *) {}
void near_plane_intersect(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t *ox,
                          int32_t *oy, int32_t) {
    *ox = 0;
    *oy = 0;
}
