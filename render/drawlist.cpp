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

// Least-significant-digit radix sort on 2-bit digits, sixteen passes. Each
// pass deals the items into buckets 3 + digit in list order and gathers them
// back from bucket 6 down to bucket 0, so every pass is stable and the result
// runs from the largest key (farthest) to the smallest.
//
// Depth keys share most of their high bits, and a pass in which every item
// has the same digit deals the whole list into one bucket and gathers it back
// unchanged: such a pass is done as one block copy into that bucket, which
// leaves the list, the buckets and the counts exactly as dealing would. The
// other passes work on local copies of the counts and pointers, which the
// stores of items could otherwise alias.
void drawlist_sort() {
    DrawList &list = g.rs.list;
    DrawItem *const items = list.items;
    DrawItem *buckets[DRAWLIST_BUCKETS];
    int32_t counts[DRAWLIST_BUCKETS];
    for (int b = 0; b < DRAWLIST_BUCKETS; b++) buckets[b] = list.buckets[b];
    const int32_t n = list.count;
    // Bits in which some key differs from the first: a pass whose digit has
    // none of them sends every item to the same bucket.
    uint32_t differ = 0;
    for (int i = 1; i < n; i++)
        differ |= static_cast<uint32_t>(items[i].key) ^ static_cast<uint32_t>(items[0].key);
    auto bucket_of = [](uint32_t key, int pass) {
        const uint32_t digit = (key >> (2 * pass)) & 3u;
        return pass < 15 ? 3 + static_cast<int>(digit) : LAST_PASS_BUCKET[(key >> 31) * 4 + digit];
    };
    for (int pass = 0; pass < 16; pass++) {
        for (int b = 0; b < DRAWLIST_BUCKETS; b++) counts[b] = 0;
        if (n > 0 && ((differ >> (2 * pass)) & 3u) == 0) {
            const int b = bucket_of(static_cast<uint32_t>(items[0].key), pass);
            std::memcpy(buckets[b], items, sizeof(DrawItem) * static_cast<size_t>(n));
            counts[b] = n;
            continue;
        }
        for (int i = 0; i < n; i++) {
            const int b = bucket_of(static_cast<uint32_t>(items[i].key), pass);
            buckets[b][counts[b]++] = items[i];
        }
        int32_t m = 0;
        for (int b = DRAWLIST_BUCKETS - 1; b >= 0; b--) {
            for (int i = 0; i < counts[b]; i++) items[m++] = buckets[b][i];
        }
    }
    for (int b = 0; b < DRAWLIST_BUCKETS; b++) list.bucket_count[b] = counts[b];
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
