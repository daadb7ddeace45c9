// frame/drive.cpp: driving from the keyboard and the collision pass.
#include "frame/drive.h"

#include "base/fixed.h"
#include "platform/kbd.h"
#include "render/camera.h"
#include "render/overlap.h"
#include "scene/body.h"
#include "scene/mesh.h"

namespace {
constexpr int STEER_LIMIT = 40;
constexpr int STEER_DIVISOR = 10;
constexpr int ACCEL_SHIFT = 24;   // 2.29 sine >> 24 = floor(32 * sine)
constexpr int32_t MASS_SCALE = 256;

// The exchange on one axis: o's mass relative to p's is r/256. Every product
// and sum wraps at 32 bits; divisor is r + 256 and is never 0 here.
void exchange_axis(int32_t *up_field, int32_t *uo_field, int32_t r, int32_t divisor) {
    const int32_t up = *up_field;
    const int32_t uo = *uo_field;
    int32_t t = wrap_mul(wrap_sub(r, MASS_SCALE), uo);
    t = t / MASS_SCALE;   // truncates toward zero
    const int32_t n = wrap_mul(wrap_add(wrap_mul(2, up), t), MASS_SCALE);
    const int32_t q = div32(n, divisor);
    *up_field = wrap_sub(wrap_add(uo, q), up);
    *uo_field = q;
}
}   // namespace

void vehicle_drive(Body *body) {
    if (kbd_is_down(KEY_UP)) {
        body->vx = wrap_add(body->vx, fixed_sin(body->heading) >> ACCEL_SHIFT);
        body->vz = wrap_add(body->vz, fixed_cos(body->heading) >> ACCEL_SHIFT);
    }
    if (kbd_is_down(KEY_DOWN)) {
        body->vx = wrap_sub(body->vx, fixed_sin(body->heading) >> ACCEL_SHIFT);
        body->vz = wrap_sub(body->vz, fixed_cos(body->heading) >> ACCEL_SHIFT);
    }
    if (kbd_is_down(KEY_1)) {
        body->vx = 0;
        body->vz = 0;
    }

    // The rate builds one step a frame toward ±40 and decays one step toward
    // 0; reversing drops it to 0 first. Left wins when both are held. The
    // steps are written so that no rate, however far out of range, overflows.
    int32_t rate = body->steer_rate;
    if (!kbd_is_down(KEY_LEFT) && !kbd_is_down(KEY_RIGHT)) {
        if (rate > 0) rate -= 1;
        if (rate < 0) rate += 1;
    } else if (kbd_is_down(KEY_LEFT)) {
        if (rate > 0) rate = 0;
        rate = rate <= 1 - STEER_LIMIT ? -STEER_LIMIT : rate - 1;
    } else {
        if (rate < 0) rate = 0;
        rate = rate >= STEER_LIMIT - 1 ? STEER_LIMIT : rate + 1;
    }
    body->steer_rate = rate;

    // Truncating division and a remainder with the dividend's sign: the
    // heading stays in -1439..1439 and may be negative.
    body->heading = wrap_add(rate / STEER_DIVISOR, body->heading) % ANGLE_TURN;
}

void collisions_resolve(Camera *camera, Body *player, const BodyOrder *order) {
    // Nothing moves during the pass, so one indexing answers every query; a
    // list longer than the storage reserved at load is searched in full.
    // Only the first owner found matters.
    const bool indexed = overlap_index(camera) != 0;
    auto first = [&](const Body *b) -> Body * {
        if (indexed) return overlap_first_of(b);
        Body *list[OVERLAP_MAX];
        return camera_find_overlaps(camera, b->mesh, list) > 0 ? list[0] : nullptr;
    };
    // An ownerless mesh (a bare decoration) found first has no velocity to
    // exchange; the contact is then skipped like any non-contact.
    if (player != nullptr) {
        if (Body *o = first(player)) body_collide(player, o);
    }
    auto unmarked = [&](Body *b) {
        if (b->collided != 0) return;
        if (Body *o = first(b)) body_collide(b, o);
    };
    // Without a recorded order the walk follows the links from the start.
    static const BodyOrder none;
    body_order_walk(order != nullptr ? *order : none, unmarked);
}

void body_collide(Body *p, Body *o) {
    // Two bodies at rest exchange nothing: every product and quotient of
    // the exchange is then 0. Only the marks are set (most contacts of a
    // big level are resting ones, and this saves their divisions).
    const bool at_rest = (p->vx | p->vz | o->vx | o->vz) == 0;
    if (p->mass > 0 && !at_rest) {
        const int32_t r = low32(int64_t{MASS_SCALE} * o->mass / p->mass);
        const int32_t divisor = wrap_add(r, MASS_SCALE);
        if (divisor != 0) {
            exchange_axis(&p->vx, &o->vx, r, divisor);
            exchange_axis(&p->vz, &o->vz, r, divisor);
        }
    }
    o->collided = 1;
    p->collided = 1;
}
