// scene/body.cpp: the level's body list.
#include "scene/body.h"

#include <cstdlib>

#include "base/fatal.h"

Body *body_list = nullptr;

void body_order_release(BodyOrder *order) {
    std::free(order->at);
    *order = BodyOrder{};
}

void body_order_record(BodyOrder *order) {
    body_order_release(order);
    int64_t bodies = 0;
    for (const Body *b = body_list; b != nullptr; b = b->next) ++bodies;
    order->at = static_cast<Body **>(
        safe_alloc(static_cast<long>((bodies + 1) * static_cast<int64_t>(sizeof(Body *)))));
    for (Body *b = body_list; b != nullptr; b = b->next) order->at[order->count++] = b;
}
