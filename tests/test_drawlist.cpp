// Draw list storage, the depth sort and the drawn-mesh iterator.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
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
    EXPECT_EQ(list.allocated, 1);
    EXPECT_EQ(list.capacity, 100);
    EXPECT_EQ(render_state()->frame_stamp, 0);
    drawlist_free();
    EXPECT_EQ(list.allocated, 0);
    EXPECT_EQ(list.items, nullptr);
    drawlist_free();
    EXPECT_EQ(list.allocated, 0);
}

class DrawListTest : public ::testing::Test {
protected:
    void SetUp() override { drawlist_init(100); }
    void TearDown() override { drawlist_free(); }

    // Lists one face per key, in this order.
    void list_keys(const std::vector<int32_t> &keys) {
        faces.assign(keys.size(), Face{});
        DrawList &list = render_state()->list;
        list.count = static_cast<int32_t>(keys.size());
        list.pick_cursor = -1;
        for (size_t i = 0; i < keys.size(); i++) list.items[i] = DrawItem{keys[i], &faces[i]};
    }
    // The listed faces as indices of `faces`.
    std::vector<size_t> order() const {
        std::vector<size_t> out;
        const DrawList &list = render_state()->list;
        for (int i = 0; i < list.count; i++) out.push_back(static_cast<size_t>(list.items[i].face - faces.data()));
        return out;
    }
    std::vector<Face> faces;
};

using DepthSort = DrawListTest;

TEST_F(DepthSort, FarToNearKeepingListingOrderOfEqualKeys) {
    list_keys({300, 1000, 300});
    drawlist_sort();
    EXPECT_EQ(order(), (std::vector<size_t>{1, 0, 2}));
    list_keys({777});
    drawlist_sort();
    EXPECT_EQ(order(), (std::vector<size_t>{0}));
    EXPECT_EQ(render_state()->list.items[0].key, 777);
}

// Against a reference stable sort, with keys spread over all 31 bits (so
// that every digit, the top one included, decides somewhere) and repeats.
TEST_F(DepthSort, MatchesAStableDescendingSortOfAFullList) {
    uint32_t s = 1;
    std::vector<int32_t> keys;
    for (int i = 0; i < 100; i++) {
        s = s * 1664525u + 1013904223u;
        keys.push_back(256 + static_cast<int32_t>(i % 3 == 0 ? (s >> 16) % 8 : s >> (2 + i % 20)));
    }
    keys[7] = INT32_MAX;
    keys[8] = 0x40000000;
    list_keys(keys);
    std::vector<size_t> expected(keys.size());
    for (size_t i = 0; i < expected.size(); i++) expected[i] = i;
    std::stable_sort(expected.begin(), expected.end(), [&](size_t a, size_t b) { return keys[a] > keys[b]; });
    drawlist_sort();
    EXPECT_EQ(order(), expected);
}

// The pipeline never lists a key below 256, but a negative one still lands
// in a real bucket and sorts nearest.
TEST_F(DepthSort, NegativeKeysSortNearestInsteadOfEscapingTheBuckets) {
    list_keys({-5, 300, -1, INT32_MIN, 1000});
    drawlist_sort();
    EXPECT_EQ(order(), (std::vector<size_t>{4, 1, 2, 0, 3}));
}

using DrawnMeshIterator = DrawListTest;

// Sorted far to near: far, hidden (its face reached nothing), near, near.
TEST_F(DrawnMeshIterator, NearestMeshFirstEachOnceThenNull) {
    Mesh near_mesh{}, far_mesh{}, hidden_mesh{};
    list_keys({3000, 2000, 1000, 900});
    Mesh *owner[] = {&far_mesh, &hidden_mesh, &near_mesh, &near_mesh};
    for (size_t i = 0; i < 4; i++) {
        faces[i].mesh = owner[i];
        faces[i].mark = owner[i] != &hidden_mesh;
        owner[i]->drawn = 1;
    }
    EXPECT_EQ(drawlist_next_drawn_mesh(), &near_mesh);
    EXPECT_EQ(drawlist_next_drawn_mesh(), &far_mesh);
    EXPECT_EQ(drawlist_next_drawn_mesh(), nullptr);
    EXPECT_EQ(drawlist_next_drawn_mesh(), nullptr);
    EXPECT_EQ(hidden_mesh.drawn, 1);
}

TEST_F(DrawnMeshIterator, EmptyListGivesNull) {
    list_keys({});
    EXPECT_EQ(drawlist_next_drawn_mesh(), nullptr);
}

}  // namespace
