// render/overlap.cpp: the collision pass's overlap search through a grid.
#include "render/overlap.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>

#include "base/fatal.h"
#include "render/camera.h"
#include "scene/body.h"
#include "scene/mesh.h"

namespace {

// A mesh whose box touches more cells than this is kept on a list of its
// own that every query reads, so that one huge box costs one entry.
constexpr int64_t SPAN_CELLS_MAX = 16;
// Cells reserved per mesh; the cell size doubles until the grid fits.
constexpr int64_t CELLS_PER_MESH = 16;

struct CellRange {
    int32_t x0, x1, z0, z1;
};

// A mesh's box as mesh_box_test sees it: world_centre ± half_extent in 64
// bits, per axis.
struct Box {
    int64_t x0, x1, y0, y1, z0, z1;
};

// Meshes moved since the grid was filed are tested from a list of their own
// (and skipped where the grid still holds them); past this many the grid is
// filed again.
constexpr int32_t LOOSE_MAX = 32;
// Meshes between asking for a mesh's box and reading it.
constexpr int32_t PREFETCH_AHEAD = 8;
// first[] entries besides a mesh number.
constexpr int32_t FIRST_NONE = -1;      // no box overlaps this one
constexpr int32_t FIRST_UNKNOWN = -2;   // not asked since the list or a box changed

struct Index {
    int32_t capacity = 0;   // meshes reserved for
    int32_t cell_capacity = 0;
    int32_t count = 0;   // meshes in the list last indexed
    bool valid = false;
    const Mesh **mesh = nullptr;     // camera-list order
    Body **owner = nullptr;          // per mesh, as it stands
    CellRange *range = nullptr;      // per mesh as filed; x0 > x1 for a mesh on the big list
    Box *box = nullptr;              // per mesh, as it stands
    int64_t *scratch = nullptr;      // box widths, for the cell size
    int32_t *cell_start = nullptr;   // cell_capacity + 1 offsets into items
    int32_t *cell_fill = nullptr;
    int32_t *items = nullptr;   // mesh numbers by cell, ascending in each cell
    int32_t *big = nullptr;     // meshes on the big list, ascending
    int32_t big_count = 0;
    int64_t origin_x = 0, origin_z = 0;
    int cell_shift = 0;   // cells are 2^cell_shift units a side
    int32_t cells_x = 0, cells_z = 0;
    uint8_t *loose = nullptr;        // per mesh: moved since the grid was filed
    int32_t *loose_list = nullptr;   // those meshes, in the order they first moved
    int32_t loose_count = 0;
    uint8_t *moved = nullptr;   // per mesh: its box changed in this indexing
    int32_t *moved_list = nullptr;
    // Per mesh: the first mesh of the list (lowest number) whose box
    // overlaps its own, FIRST_NONE or FIRST_UNKNOWN. Kept from one indexing
    // to the next while the list stays the same.
    int32_t *first = nullptr;
};
Index ix;

int64_t lo(const Mesh *m, int axis) {
    return int64_t{m->world_centre[axis]} - m->half_extent[axis];
}
int64_t hi(const Mesh *m, int axis) {
    return int64_t{m->world_centre[axis]} + m->half_extent[axis];
}
Box box_of(const Mesh *m) { return {lo(m, 0), hi(m, 0), lo(m, 1), hi(m, 1), lo(m, 2), hi(m, 2)}; }

bool same(const Box &a, const Box &b) {
    return a.x0 == b.x0 && a.x1 == b.x1 && a.y0 == b.y0 && a.y1 == b.y1 && a.z0 == b.z0 &&
           a.z1 == b.z1;
}

// mesh_box_test(a, b, 0, 0, 0): a strict overlap on every axis.
bool overlap(const Box &a, const Box &b) {
    return a.x0 < b.x1 && b.x0 < a.x1 && a.y0 < b.y1 && b.y0 < a.y1 && a.z0 < b.z1 && b.z0 < a.z1;
}

// The cell column (or row) of a coordinate, clamped into the grid. The
// clamp keeps the map monotonic, so boxes that overlap share a cell even
// when one has moved outside the area the grid was laid over.
int32_t cell_of(int64_t v, int64_t origin, int32_t cells) {
    if (v < origin) return 0;
    const int64_t c = (v - origin) >> ix.cell_shift;   // both are within ±2^33
    return static_cast<int32_t>(std::min<int64_t>(c, cells - 1));
}

// The owners found so far: the smallest mesh numbers, ascending.
struct Found {
    int32_t order[OVERLAP_MAX];
    int count = 0;

    bool full() const { return count == OVERLAP_MAX; }
    // Mesh numbers from this on cannot be kept any more.
    bool beyond(int32_t n) const { return full() && n > order[OVERLAP_MAX - 1]; }

    void add(int32_t n) {
        int i = count;
        while (i > 0 && order[i - 1] >= n) --i;
        if (i < count && order[i] == n) return;   // a mesh met in a second cell
        if (i == OVERLAP_MAX) return;
        const int last = full() ? OVERLAP_MAX - 1 : count++;
        for (int k = last; k > i; --k) order[k] = order[k - 1];
        order[i] = n;
    }
};

// The lowest overlapping mesh number.
struct First {
    int32_t best = INT32_MAX;
    bool beyond(int32_t n) const { return n >= best; }
    void add(int32_t n) { best = std::min(best, n); }
};

// Every overlapping mesh, each once.
template <class F>
struct Every {
    F f;
    bool beyond(int32_t) const { return false; }
    void add(int32_t n) { f(n); }
};

// Tests the meshes numbered in items[0..n) (ascending) against the query.
// In a cell (at x, z), a mesh whose cells and the query's share more than
// this one is tested only in the first cell they share (the query's range
// starts at qx, qz); on the big list (x < 0) every mesh is tested. Meshes
// moved since filing are left to the loose list.
template <class Sink>
void test_run(const Mesh *query, const Box &q, const int32_t *items, int32_t n, int32_t x,
              int32_t z, int32_t qx, int32_t qz, Sink *sink) {
    for (int32_t k = 0; k < n; ++k) {
        const int32_t j = items[k];
        if (sink->beyond(j)) return;
        if (ix.loose[j]) continue;
        if (x >= 0) {
            const CellRange &r = ix.range[j];
            if (x != std::max(r.x0, qx) || z != std::max(r.z0, qz)) continue;
        }
        if (overlap(q, ix.box[j]) && ix.mesh[j] != query) sink->add(j);
    }
}

// Hands the sink every mesh whose box overlaps q (the query's own mesh
// aside), in ascending runs that stop where the sink wants no more.
template <class Sink>
void search(const Mesh *query, const Box &q, Sink *sink) {
    const int32_t x0 = cell_of(q.x0, ix.origin_x, ix.cells_x);
    const int32_t x1 = cell_of(q.x1, ix.origin_x, ix.cells_x);
    const int32_t z0 = cell_of(q.z0, ix.origin_z, ix.cells_z);
    const int32_t z1 = cell_of(q.z1, ix.origin_z, ix.cells_z);
    if (int64_t{x1 - x0 + 1} * (z1 - z0 + 1) > SPAN_CELLS_MAX) {
        // A query as large as the grid reads the list in order, as the
        // plain search does.
        for (int32_t j = 0; j < ix.count && !sink->beyond(j); ++j) {
            if (overlap(q, ix.box[j]) && ix.mesh[j] != query) sink->add(j);
        }
        return;
    }
    for (int32_t k = 0; k < ix.loose_count; ++k) {
        const int32_t j = ix.loose_list[k];
        if (!sink->beyond(j) && overlap(q, ix.box[j]) && ix.mesh[j] != query) sink->add(j);
    }
    test_run(query, q, ix.big, ix.big_count, -1, -1, x0, z0, sink);
    for (int32_t z = z0; z <= z1; ++z) {
        for (int32_t x = x0; x <= x1; ++x) {
            const int32_t c = z * ix.cells_x + x;
            test_run(query, q, ix.items + ix.cell_start[c], ix.cell_start[c + 1] - ix.cell_start[c],
                     x, z, x0, z0, sink);
        }
    }
}

int32_t first_of(const Mesh *query, const Box &q) {
    First first;
    search(query, q, &first);
    return first.best == INT32_MAX ? FIRST_NONE : first.best;
}

// Files every box as it stands into a grid laid over them all. The grid
// covers every box; its cells are the power of two at or above the median
// box (boxes of no width, sprites, aside), so that a cell is a shift away,
// enlarged until the grid fits.
void file_grid() {
    const int32_t n = ix.count;
    ix.big_count = 0;
    ix.loose_count = 0;
    std::fill(ix.loose, ix.loose + n, uint8_t{0});
    int64_t x_min = ix.box[0].x0, x_max = ix.box[0].x1;
    int64_t z_min = ix.box[0].z0, z_max = ix.box[0].z1;
    int32_t widths = 0;
    for (int32_t i = 0; i < n; ++i) {
        const Box &b = ix.box[i];
        x_min = std::min(x_min, b.x0);
        x_max = std::max(x_max, b.x1);
        z_min = std::min(z_min, b.z0);
        z_max = std::max(z_max, b.z1);
        const int64_t w = std::max(b.x1 - b.x0, b.z1 - b.z0);
        if (w > 0) ix.scratch[widths++] = w;
    }
    int64_t median = 1;
    if (widths > 0) {
        std::nth_element(ix.scratch, ix.scratch + widths / 2, ix.scratch + widths);
        median = ix.scratch[widths / 2];
    }
    int shift = 0;
    while ((int64_t{1} << shift) < median) ++shift;
    int64_t cx = ((x_max - x_min) >> shift) + 1, cz = ((z_max - z_min) >> shift) + 1;
    while (cx * cz > ix.cell_capacity) {
        ++shift;
        cx = ((x_max - x_min) >> shift) + 1;
        cz = ((z_max - z_min) >> shift) + 1;
    }
    ix.origin_x = x_min;
    ix.origin_z = z_min;
    ix.cell_shift = shift;
    ix.cells_x = static_cast<int32_t>(cx);
    ix.cells_z = static_cast<int32_t>(cz);
    const int32_t cells = ix.cells_x * ix.cells_z;

    // Counting sort of (cell, mesh) pairs: each cell's meshes ascending.
    std::fill(ix.cell_start, ix.cell_start + cells + 1, 0);
    for (int32_t i = 0; i < n; ++i) {
        const Box &b = ix.box[i];
        CellRange r = {cell_of(b.x0, x_min, ix.cells_x), cell_of(b.x1, x_min, ix.cells_x),
                       cell_of(b.z0, z_min, ix.cells_z), cell_of(b.z1, z_min, ix.cells_z)};
        const int64_t span = int64_t{r.x1 - r.x0 + 1} * (r.z1 - r.z0 + 1);
        if (span > SPAN_CELLS_MAX) {
            ix.big[ix.big_count++] = i;
            r = {1, 0, 1, 0};
        }
        ix.range[i] = r;
        for (int32_t z = r.z0; z <= r.z1; ++z)
            for (int32_t x = r.x0; x <= r.x1; ++x) ++ix.cell_start[z * ix.cells_x + x + 1];
    }
    for (int32_t c = 0; c < cells; ++c) {
        ix.cell_start[c + 1] += ix.cell_start[c];
        ix.cell_fill[c] = ix.cell_start[c];
    }
    for (int32_t i = 0; i < n; ++i) {
        const CellRange &r = ix.range[i];
        for (int32_t z = r.z0; z <= r.z1; ++z)
            for (int32_t x = r.x0; x <= r.x1; ++x) ix.items[ix.cell_fill[z * ix.cells_x + x]++] = i;
    }
}

// The boxes of moved_list changed (and nothing else did): each is tested
// from the loose list from now on, and the answers kept in first[] are
// brought up to date. An answer that was a moved mesh, or that belongs to
// one, is asked again when wanted. Any other answer k still overlaps (neither
// box changed), so the new answer is the lowest of k and the moved meshes
// that overlap now; those that stopped overlapping lay beyond k.
void note_moves(int32_t moved_count) {
    for (int32_t k = 0; k < moved_count; ++k) {
        const int32_t i = ix.moved_list[k];
        ix.moved[i] = 1;
        if (!ix.loose[i]) {
            ix.loose[i] = 1;
            ix.loose_list[ix.loose_count++] = i;
        }
    }
    if (ix.loose_count > LOOSE_MAX) file_grid();
    for (int32_t i = 0; i < ix.count; ++i) {
        const int32_t f = ix.first[i];
        if (ix.moved[i] || (f >= 0 && ix.moved[f])) ix.first[i] = FIRST_UNKNOWN;
    }
    for (int32_t k = 0; k < moved_count; ++k) {
        const int32_t m = ix.moved_list[k];
        auto lower = [m](int32_t j) {
            const int32_t f = ix.first[j];
            if (f == FIRST_NONE || (f >= 0 && m < f)) ix.first[j] = m;
        };
        Every<decltype(lower)> every{lower};
        search(ix.mesh[m], ix.box[m], &every);
    }
    for (int32_t k = 0; k < moved_count; ++k) ix.moved[ix.moved_list[k]] = 0;
}

}   // namespace

void overlap_release() {
    std::free(ix.mesh);
    std::free(ix.owner);
    std::free(ix.range);
    std::free(ix.box);
    std::free(ix.scratch);
    std::free(ix.cell_start);
    std::free(ix.cell_fill);
    std::free(ix.items);
    std::free(ix.big);
    std::free(ix.loose);
    std::free(ix.loose_list);
    std::free(ix.moved);
    std::free(ix.moved_list);
    std::free(ix.first);
    ix = Index{};
}

void overlap_reserve(int32_t meshes) {
    overlap_release();
    const int64_t n = std::max<int32_t>(meshes, 0);
    const int64_t cells = n * CELLS_PER_MESH + 1;
    ix.capacity = static_cast<int32_t>(n);
    ix.cell_capacity = static_cast<int32_t>(std::min<int64_t>(cells, INT32_MAX - 1));
    // Sizes in bytes stay far inside a long: n is at most INT32_MAX.
    const auto per_mesh = [n](size_t size) {
        return safe_alloc(static_cast<long>((n + 1) * size));
    };
    ix.mesh = static_cast<const Mesh **>(per_mesh(sizeof(Mesh *)));
    ix.owner = static_cast<Body **>(per_mesh(sizeof(Body *)));
    ix.range = static_cast<CellRange *>(per_mesh(sizeof(CellRange)));
    ix.box = static_cast<Box *>(per_mesh(sizeof(Box)));
    ix.scratch = static_cast<int64_t *>(per_mesh(sizeof(int64_t)));
    ix.cell_start = static_cast<int32_t *>(
        safe_alloc(static_cast<long>((int64_t{ix.cell_capacity} + 1) * sizeof(int32_t))));
    ix.cell_fill =
        static_cast<int32_t *>(safe_alloc(static_cast<long>(ix.cell_capacity * sizeof(int32_t))));
    ix.items = static_cast<int32_t *>(
        safe_alloc(static_cast<long>((n * SPAN_CELLS_MAX + 1) * sizeof(int32_t))));
    ix.big = static_cast<int32_t *>(per_mesh(sizeof(int32_t)));
    ix.loose = static_cast<uint8_t *>(per_mesh(sizeof(uint8_t)));
    ix.loose_list = static_cast<int32_t *>(per_mesh(sizeof(int32_t)));
    ix.moved = static_cast<uint8_t *>(per_mesh(sizeof(uint8_t)));
    std::fill(ix.moved, ix.moved + n + 1, uint8_t{0});
    ix.moved_list = static_cast<int32_t *>(per_mesh(sizeof(int32_t)));
    ix.first = static_cast<int32_t *>(per_mesh(sizeof(int32_t)));
}

int overlap_index(const Camera *camera) {
    if (camera == nullptr) {
        ix.valid = false;
        return 0;
    }
    // The same meshes in the same order keep the index, and the boxes that
    // changed are collected on the way. Each mesh is read from the list as
    // last indexed and its link checked against the next entry, so the reads
    // of one mesh do not wait on those of the one before.
    int32_t moved = 0;
    bool kept = ix.valid && camera->meshes == (ix.count > 0 ? ix.mesh[0] : nullptr);
    for (int32_t i = 0; kept && i < ix.count; ++i) {
        if (i + PREFETCH_AHEAD < ix.count) {
            const auto *ahead = reinterpret_cast<const char *>(ix.mesh[i + PREFETCH_AHEAD]);
            __builtin_prefetch(ahead + offsetof(Mesh, owner));
            __builtin_prefetch(ahead + offsetof(Mesh, world_centre));
            __builtin_prefetch(ahead + offsetof(Mesh, next));
        }
        const Mesh *m = ix.mesh[i];
        ix.owner[i] = m->owner;
        const Box b = box_of(m);
        if (!same(b, ix.box[i])) {
            ix.box[i] = b;
            ix.moved_list[moved++] = i;
        }
        if (m->next != (i + 1 < ix.count ? ix.mesh[i + 1] : nullptr)) kept = false;
    }
    if (kept) {
        if (moved > 0) note_moves(moved);
        return 1;
    }

    int32_t n = 0;
    for (const Mesh *m = camera->meshes; m != nullptr; m = m->next) {
        if (n == ix.capacity) {
            ix.valid = false;
            return 0;
        }
        ix.mesh[n++] = m;
    }
    ix.count = n;
    ix.valid = true;
    ix.big_count = 0;
    ix.loose_count = 0;
    if (n == 0) {
        ix.cells_x = ix.cells_z = 0;
        return 1;
    }
    for (int32_t i = 0; i < n; ++i) {
        ix.box[i] = box_of(ix.mesh[i]);
        ix.owner[i] = ix.mesh[i]->owner;
        ix.first[i] = FIRST_UNKNOWN;
        // Each owner notes where its mesh is, so that its query finds its
        // kept answer in one step.
        if (Body *owner = ix.mesh[i]->owner) owner->overlap_slot = i;
    }
    file_grid();
    return 1;
}

int overlap_find(const Mesh *query, Body **list) {
    if (!ix.valid || query == nullptr || ix.count == 0) return 0;
    Found found;
    search(query, box_of(query), &found);
    for (int k = 0; k < found.count; ++k) list[k] = ix.owner[found.order[k]];
    return found.count;
}

namespace {
// The answer kept for the listed mesh at slot, worked out when unknown.
Body *kept_first(int32_t slot) {
    if (ix.first[slot] == FIRST_UNKNOWN) ix.first[slot] = first_of(ix.mesh[slot], ix.box[slot]);
    const int32_t f = ix.first[slot];
    return f >= 0 ? ix.owner[f] : nullptr;
}
}   // namespace

Body *overlap_first(const Mesh *query) {
    if (!ix.valid || query == nullptr || ix.count == 0) return nullptr;
    const int32_t slot = query->owner != nullptr ? query->owner->overlap_slot : -1;
    if (slot >= 0 && slot < ix.count && ix.mesh[slot] == query) return kept_first(slot);
    const int32_t f = first_of(query, box_of(query));
    return f >= 0 ? ix.owner[f] : nullptr;
}

Body *overlap_first_of(const Body *body) {
    // The owner read at indexing is the mesh's owner now: nothing changes
    // between the indexing and the queries. The body's slot then is the one
    // overlap_first would look in.
    const int32_t slot = body->overlap_slot;
    if (ix.valid && slot >= 0 && slot < ix.count && ix.owner[slot] == body &&
        ix.mesh[slot] == body->mesh)
        return kept_first(slot);
    return overlap_first(body->mesh);
}
