// Draw list storage, the depth sort and the drawn-mesh iterator.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <utility>
#include <vector>

#include "render/drawlist.h"
#include "scene/mesh.h"

namespace {

TEST(DrawListLifecycle, FreeIsHarmlessTwiceOrWithoutInit) {
    drawlist_free();
    drawlist_init(10);
    render_state()->frame_stamp = 42;
    drawlist_init(100);   // a second init releases the first arrays
    const DrawList &list = render_state()->list;
    EXPECT_EQ((std::pair{list.allocated, list.capacity}), (std::pair{1, 100}));
    EXPECT_EQ(render_state()->frame_stamp, 0);
    for (int twice = 0; twice < 2; twice++) {
        drawlist_free();
        EXPECT_EQ((std::pair{list.allocated, list.items}), (std::pair{0, static_cast<DrawItem *>(nullptr)}));
    }
}

struct DrawListTest : ::testing::Test {
    void SetUp() override { drawlist_init(100); }
    void TearDown() override { drawlist_free(); }
    // Lists one face per key, in this order, and sorts unless asked not to.
    std::vector<size_t> list_and_sort(const std::vector<int32_t> &keys, bool sort = true) {
        faces.assign(keys.size(), Face{});
        DrawList &list = render_state()->list;
        list.count = static_cast<int32_t>(keys.size());
        list.pick_cursor = -1;
        for (size_t i = 0; i < keys.size(); i++) list.items[i] = DrawItem{keys[i], &faces[i]};
        if (sort) drawlist_sort();
        std::vector<size_t> order;   // the listed faces as indices of `faces`
        for (int i = 0; i < list.count; i++) order.push_back(static_cast<size_t>(list.items[i].face - faces.data()));
        return order;
    }
    std::vector<Face> faces;
};

// Far to near, equal keys in listing order. The pipeline never lists a key
// below 256, but a negative one still lands in a real bucket and sorts nearest.
TEST_F(DrawListTest, DepthSortWorkedExamples) {
    EXPECT_EQ(list_and_sort({300, 1000, 300}), (std::vector<size_t>{1, 0, 2}));
    EXPECT_EQ(list_and_sort({777}), (std::vector<size_t>{0}));
    EXPECT_EQ(render_state()->list.items[0].key, 777);
    EXPECT_EQ(list_and_sort({-5, 300, -1, INT32_MIN, 1000}), (std::vector<size_t>{4, 1, 2, 0, 3}));
}

// Against a reference stable sort, with keys spread over all 31 bits (so
// that every digit, the top one included, decides somewhere) and repeats.
TEST_F(DrawListTest, DepthSortMatchesAStableDescendingSortOfAFullList) {
    uint32_t s = 1;
    std::vector<int32_t> keys;
    for (int i = 0; i < 100; i++) {
        s = s * 1664525u + 1013904223u;
        keys.push_back(256 + int32_t(i % 3 == 0 ? (s >> 16) % 8 : s >> (2 + i % 20)));
    }
    keys[7] = INT32_MAX;
    keys[8] = 0x40000000;
    std::vector<size_t> expected(keys.size());
    std::iota(expected.begin(), expected.end(), 0);
    std::stable_sort(expected.begin(), expected.end(), [&](size_t a, size_t b) { return keys[a] > keys[b]; });
    EXPECT_EQ(list_and_sort(keys), expected);
}

// Scene depths share their high bits, so most passes find one digit in every
// key: lists like that, all-equal keys, and keys that differ only in the top
// digit or only in the sign still come out as a stable descending sort, and
// the counts left behind are those of the last pass's buckets.
TEST_F(DrawListTest, DepthSortOfKeysSharingDigits) {
    uint32_t s = 7;
    auto rnd = [&s](uint32_t n) { return s = s * 1664525u + 1013904223u, (s >> 8) % n; };
    const std::vector<std::vector<int32_t>> lists = {
        {},
        {5000, 5000, 5000, 5000},
        {0x40000100, 0x00000100, 0x40000100, 0x00000100},
        {0x50000000, 0x50000300, 0x50000000},
        {-7, 7, -7, 7},
        [&] {   // a frame's worth of depths from 256 up to a few thousand
            std::vector<int32_t> k;
            for (int i = 0; i < 40; i++) k.push_back(256 + int32_t(rnd(i % 4 ? 4000 : 64)));
            return k;
        }(),
    };
    for (const std::vector<int32_t> &keys : lists) {
        std::vector<size_t> expected(keys.size());
        std::iota(expected.begin(), expected.end(), 0);
        std::stable_sort(expected.begin(), expected.end(), [&](size_t a, size_t b) { return keys[a] > keys[b]; });
        EXPECT_EQ(list_and_sort(keys), expected);
        // Keys >= 0 with top digit 1 went to bucket 4 in the last pass, the
        // other non-negative ones to bucket 3, negative ones below.
        const int32_t *counts = render_state()->list.bucket_count;
        int32_t top = 0, low = 0;
        for (int32_t k : keys) {
            top += k >= 0x40000000;
            low += k >= 0 && k < 0x40000000;
        }
        EXPECT_EQ(counts[4], top);
        EXPECT_EQ(counts[3], low);
        EXPECT_EQ(counts[0] + counts[1] + counts[2] + counts[5] + counts[6] + top + low, int32_t(keys.size()));
    }
}

// Sorted far to near: far, hidden (its face reached nothing), near, near.
TEST_F(DrawListTest, DrawnMeshesComeNearestFirstEachOnceThenNull) {
    list_and_sort({});
    EXPECT_EQ(drawlist_next_drawn_mesh(), nullptr);
    Mesh near_mesh{}, far_mesh{}, hidden_mesh{};
    list_and_sort({3000, 2000, 1000, 900}, false);
    Mesh *owner[] = {&far_mesh, &hidden_mesh, &near_mesh, &near_mesh};
    for (size_t i = 0; i < 4; i++) {
        faces[i].mesh = owner[i];
        faces[i].mark = owner[i] != &hidden_mesh;
        owner[i]->drawn = 1;
    }
    for (Mesh *m : {&near_mesh, &far_mesh, static_cast<Mesh *>(nullptr), static_cast<Mesh *>(nullptr)})
        EXPECT_EQ(drawlist_next_drawn_mesh(), m);
    EXPECT_EQ(hidden_mesh.drawn, 1);
}

}   // namespace
