// scene/body.cpp: the level's body list.
#include "scene/body.h"

#include <cstdlib>

#include "base/fatal.h"

Body *body_list = nullptr;

void body_order_release(BodyOrder *order) {
    std::free(order->at);
    std::free(order->meshes);
    *order = BodyOrder{};
}

void body_order_record(BodyOrder *order) {
    body_order_release(order);
    int64_t bodies = 0;
    for (const Body *b = body_list; b != nullptr; b = b->next) ++bodies;
    const auto bytes = static_cast<long>((bodies + 1) * static_cast<int64_t>(sizeof(void *)));
    order->at = static_cast<Body **>(safe_alloc(bytes));
    order->meshes = static_cast<Mesh **>(safe_alloc(bytes));
    for (Body *b = body_list; b != nullptr; b = b->next) {
        order->meshes[order->count] = b->mesh;
        order->at[order->count++] = b;
    }
}
