// render/drawlist.cpp: the draw list's storage, its depth sort and the
// drawn-mesh iterator.
#include "render/drawlist.h"

#include <cstdlib>
#include <cstring>

#include "base/fatal.h"
#include "scene/mesh.h"

namespace {
struct DrawListState {
    RenderState rs;
};
DrawListState g;

// Bucket of an item in the last pass, indexed by sign bit × 4 + top digit.
// Depth keys are never negative, so only the first four entries are used;
// the others still send a negative key to a real bucket, below every
// non-negative key (nearest), in signed order.
constexpr int LAST_PASS_BUCKET[8] = {3, 4, 5, 6, 0, 0, 1, 2};
}   // namespace

RenderState *render_state() { return &g.rs; }

void drawlist_init(int32_t capacity) {
    DrawList &list = g.rs.list;
    drawlist_free();
    if (capacity < 0) capacity = 0;
    long bytes = static_cast<long>(sizeof(DrawItem)) * capacity;
    list.items = static_cast<DrawItem *>(safe_alloc(bytes));
    for (int b = 0; b < DRAWLIST_BUCKETS; b++) {
        list.buckets[b] = static_cast<DrawItem *>(safe_alloc(bytes));
        list.bucket_count[b] = 0;
    }
    list.capacity = capacity;
    list.count = 0;
    list.pick_cursor = -1;
    list.allocated = 1;
    g.rs.frame_stamp = 0;
}

void drawlist_free() {
    DrawList &list = g.rs.list;
    if (list.allocated != 1) return;
    std::free(list.items);
    list.items = nullptr;
    for (int b = 0; b < DRAWLIST_BUCKETS; b++) {
        std::free(list.buckets[b]);
        list.buckets[b] = nullptr;
        list.bucket_count[b] = 0;
    }
    list.capacity = 0;
    list.count = 0;
    list.pick_cursor = -1;
    list.allocated = 0;
}

// The result is that of a least-significant-digit radix sort on 2-bit
// digits in sixteen passes, each dealing the items into buckets 3 + digit in
// list order and gathering them back from bucket 6 down to bucket 0: every
// pass is stable, so the list ends ordered from the largest key (farthest)
// to the smallest, in signed order, equal keys in listing order, and the
// bucket counts are those of the last pass (bits 30 and 31 with the sign).
//
// The same order is reached in four stable passes on 8-bit digits of the key
// with its sign bit flipped (which turns signed order into unsigned order),
// dealt by counting from the largest digit down, between the list and the
// first bucket's storage. A pass in which every item has the same digit
// leaves the order as it is and is skipped. The last pass's counts follow
// from the counts of the top byte.
void drawlist_sort() {
    DrawList &list = g.rs.list;
    const int32_t n = list.count;
    DrawItem *from = list.items;
    DrawItem *to = list.buckets[0];
    int32_t counts[4][256] = {};
    for (int32_t i = 0; i < n; i++) {
        const uint32_t u = static_cast<uint32_t>(from[i].key) ^ 0x80000000u;
        counts[0][u & 0xff]++;
        counts[1][(u >> 8) & 0xff]++;
        counts[2][(u >> 16) & 0xff]++;
        counts[3][u >> 24]++;
    }
    for (int pass = 0; pass < 4; pass++) {
        const int shift = 8 * pass;
        auto digit = [shift](const DrawItem &item) {
            return ((static_cast<uint32_t>(item.key) ^ 0x80000000u) >> shift) & 0xffu;
        };
        if (n == 0 || counts[pass][digit(from[0])] == n) continue;
        int32_t next[256];
        int32_t at = 0;
        for (int d = 255; d >= 0; d--) {
            next[d] = at;
            at += counts[pass][d];
        }
        for (int32_t i = 0; i < n; i++) to[next[digit(from[i])]++] = from[i];
        DrawItem *const sorted = to;
        to = from;
        from = sorted;
    }
    if (from != list.items)
        std::memcpy(list.items, from, sizeof(DrawItem) * static_cast<size_t>(n));

    for (int b = 0; b < DRAWLIST_BUCKETS; b++) list.bucket_count[b] = 0;
    for (int top = 0; top < 256; top++) {
        // The original key's bits 31 and 30: the sign and the last digit.
        const int bits = (top ^ 0x80) >> 6;
        list.bucket_count[LAST_PASS_BUCKET[(bits >> 1) * 4 + bits]] += counts[3][top];
    }
    list.count = n;
}

// Walks the last frame's list from the nearest item back to the farthest and
// reports each mesh at its nearest face that reached the screen. Clearing the
// mesh's drawn flag is what makes each mesh come out once.
Mesh *drawlist_next_drawn_mesh() {
    DrawList &list = g.rs.list;
    if (list.pick_cursor == -1) list.pick_cursor = list.count - 1;
    while (list.pick_cursor >= 0) {
        Face *face = list.items[list.pick_cursor].face;
        Mesh *mesh = face->mesh;
        if (face->mark == 1 && mesh->drawn != 0) {
            mesh->drawn = 0;
            return mesh;
        }
        list.pick_cursor--;
    }
    // Past the first item: stay there until the next frame resets the cursor.
    list.pick_cursor = -2;
    return nullptr;
}
