// Draw list storage and depth sort (stub; real code follows).
#include "render/drawlist.h"

namespace {
struct State {
    RenderState rs{};
};
State g;
}  // namespace

RenderState *render_state() { return &g.rs; }
void drawlist_init(int32_t) {}
void drawlist_free() {}
void drawlist_sort() {}
Mesh *drawlist_next_drawn_mesh() { return nullptr; }
