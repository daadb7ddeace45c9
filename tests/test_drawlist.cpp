// Draw list storage, the depth sort and the drawn-mesh iterator.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "render/drawlist.h"
#include "scene/mesh.h"

namespace {

class DrawListTest : public ::testing::Test {
protected:
    void SetUp() override { drawlist_init(100); }
    void TearDown() override { drawlist_free(); }

    // Lists faces with the given keys in this order; face i is faces[i].
    void list_keys(const std::vector<int32_t> &keys) {
        faces.assign(keys.size(), Face{});
        DrawList &list = render_state()->list;
        list.count = 0;
        for (size_t i = 0; i < keys.size(); i++) {
            list.items[i] = DrawItem{keys[i], &faces[i]};
            list.count++;
        }
    }
    std::vector<Face *> order() const {
        std::vector<Face *> out;
        const DrawList &list = render_state()->list;
        for (int i = 0; i < list.count; i++) out.push_back(list.items[i].face);
        return out;
    }

    std::vector<Face> faces;
};

// Allocation and release.
TEST(DrawListLifecycle, FreeWithoutInitAndTwiceIsHarmless) {
    drawlist_free();
    drawlist_init(100);
    const DrawList &list = render_state()->list;
    EXPECT_EQ(list.allocated, 1);
    EXPECT_EQ(list.capacity, 100);
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(render_state()->frame_stamp, 0);
    drawlist_free();
    EXPECT_EQ(list.allocated, 0);
    EXPECT_EQ(list.items, nullptr);
    drawlist_free();
    EXPECT_EQ(list.allocated, 0);
}

TEST(DrawListLifecycle, InitAgainRestartsTheFrameCounter) {
    drawlist_init(10);
    render_state()->frame_stamp = 42;
    drawlist_init(20);   // no leak: the old arrays are released first
    EXPECT_EQ(render_state()->list.capacity, 20);
    EXPECT_EQ(render_state()->frame_stamp, 0);
    drawlist_free();
}

// The sort: far to near, stable.
TEST_F(DrawListTest, SortsFarToNearKeepingListingOrderOfEqualKeys) {
    list_keys({300, 1000, 300});
    drawlist_sort();
    EXPECT_EQ(order(), (std::vector<Face *>{&faces[1], &faces[0], &faces[2]}));
}

TEST_F(DrawListTest, SingleItemStays) {
    list_keys({777});
    drawlist_sort();
    ASSERT_EQ(render_state()->list.count, 1);
    EXPECT_EQ(render_state()->list.items[0].face, &faces[0]);
    EXPECT_EQ(render_state()->list.items[0].key, 777);
}

TEST_F(DrawListTest, EmptyListStaysEmpty) {
    list_keys({});
    drawlist_sort();
    EXPECT_EQ(render_state()->list.count, 0);
}

// Against a reference stable sort, over keys spread across all 31 bits
// (so every digit position, the top pass included, decides somewhere) and
// with many repeats.
TEST_F(DrawListTest, MatchesAStableDescendingSortOfAFullList) {
    uint32_t s = 1;
    std::vector<int32_t> keys;
    for (int i = 0; i < 100; i++) {
        s = s * 1664525u + 1013904223u;
        int32_t k = (i % 3 == 0) ? 256 + static_cast<int32_t>((s >> 16) % 8)
                                 : 256 + static_cast<int32_t>(s >> (2 + i % 20));
        keys.push_back(k);
    }
    keys[7] = INT32_MAX;
    keys[8] = 0x40000000;
    list_keys(keys);
    std::vector<size_t> idx(keys.size());
    for (size_t i = 0; i < idx.size(); i++) idx[i] = i;
    std::stable_sort(idx.begin(), idx.end(), [&](size_t a, size_t b) { return keys[a] > keys[b]; });
    drawlist_sort();
    auto got = order();
    ASSERT_EQ(got.size(), idx.size());
    for (size_t i = 0; i < idx.size(); i++) EXPECT_EQ(got[i], &faces[idx[i]]) << "position " << i;
}

// A key below zero cannot come from the pipeline, but must still land in a
// real bucket: it sorts nearest.
TEST_F(DrawListTest, NegativeKeysSortNearestInsteadOfEscapingTheBuckets) {
    list_keys({-5, 300, -1, INT32_MIN, 1000});
    drawlist_sort();
    EXPECT_EQ(order(), (std::vector<Face *>{&faces[4], &faces[1], &faces[2], &faces[0], &faces[3]}));
}

// The drawn-mesh iterator: nearest first, each mesh once.
class DrawnMeshIterator : public DrawListTest {
protected:
    Mesh near_mesh{}, far_mesh{}, hidden_mesh{};
    void owned(size_t i, Mesh *m, int mark) {
        faces[i].mesh = m;
        faces[i].mark = mark;
        m->drawn = 1;
    }
};

TEST_F(DrawnMeshIterator, NearestMeshFirstThenFartherThenNull) {
    // Already sorted far to near: far, hidden (not drawn), near, near.
    list_keys({3000, 2000, 1000, 900});
    owned(0, &far_mesh, 1);
    owned(1, &hidden_mesh, 0);
    owned(2, &near_mesh, 1);
    owned(3, &near_mesh, 1);
    render_state()->list.pick_cursor = -1;
    EXPECT_EQ(drawlist_next_drawn_mesh(), &near_mesh);
    EXPECT_EQ(drawlist_next_drawn_mesh(), &far_mesh);
    EXPECT_EQ(drawlist_next_drawn_mesh(), nullptr);
    EXPECT_EQ(drawlist_next_drawn_mesh(), nullptr);
    EXPECT_EQ(near_mesh.drawn, 0);
    EXPECT_EQ(far_mesh.drawn, 0);
    EXPECT_EQ(hidden_mesh.drawn, 1);   // its only face reached nothing
}

TEST_F(DrawnMeshIterator, EmptyListGivesNull) {
    list_keys({});
    render_state()->list.pick_cursor = -1;
    EXPECT_EQ(drawlist_next_drawn_mesh(), nullptr);
}

}  // namespace
